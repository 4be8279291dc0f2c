// SPDX-License-Identifier: GPL-3.0-or-later

#include "shell/frm_tovrel.h"

#include "clock/time_text.h"
#include "shell/frm_about.h"

namespace tovrel::shell {

using forms::Alignment;
using forms::Face;
using forms::False;
using forms::Font;
using forms::Rect;
using forms::True;

namespace {

forms::FormDesign mainDesign() {
    forms::FormDesign d;
    d.name = "FrmTovrel";
    d.caption = ProgramTitle;
    d.scale = forms::ScaleMode::Pixel;
    d.clientWidthTwips = layout::WindowWidth;
    d.clientHeightTwips = layout::MainHeight;
    d.leftTwips = layout::WindowLeft;
    d.topTwips = layout::WindowTop;
    return d;
}

consteval Rect at(std::string_view name) { return placed(layout::of(layout::Main, name)); }

constexpr Rect AlarmRect = at("Alarm");
constexpr Rect BrowseRect = at("Browse");
constexpr Rect SnoozeRect = at("Snooze");
constexpr Rect SettingRect = at("Setting");
constexpr Rect CloseRect = at("Close");
constexpr Rect MiniRect = at("Mini");

constexpr Font DisplayLarge{Face::Display, 14.25F, 700};
constexpr Font DisplaySmall{Face::Display, 9.75F, 700};
constexpr Font DialogFont{Face::Dialog, 8.25F, 700};

}  // namespace

FrmTovrel::FrmTovrel(components::MainComponents c)
    : Form(mainDesign()),
      DialogElement(add<forms::Control>("Dialog")),
      STrayElement(add<forms::Control>("STray")),
      ShaperElement(add<forms::Control>("Shaper")),
      ScrlSnooze(add<forms::ScrollBar>("ScrlSnooze", at("ScrlSnooze"), forms::ScrollBar::Range{1, 120, 5, 1, 5}, 6)),
      Timer(add<forms::Timer>("Timer", 50)),
      ScrlAlarmChg(
          add<forms::ScrollBar>("ScrlAlarmChg", at("ScrlAlarmChg"), forms::ScrollBar::Range{0, 1439, 0, 1, 10}, 3)),
      PlayerElement(add<forms::Control>("Player", at("Player"))),
      LblAlarmStatus(add<forms::Label>("LblAlarmStatus", at("LblAlarmStatus"), "Off", Alignment::Center, DisplaySmall)),
      CloseU(add<forms::Image>("CloseU", CloseRect, True)),
      CloseM(add<forms::Image>("CloseM", CloseRect, False)),
      MiniU(add<forms::Image>("MiniU", MiniRect, True)),
      MiniM(add<forms::Image>("MiniM", MiniRect, False)),
      AlarmDOFF(add<forms::Image>("AlarmDOFF", AlarmRect, False)),
      AlarmUON(add<forms::Image>("AlarmUON", AlarmRect, False)),
      AlarmMON(add<forms::Image>("AlarmMON", AlarmRect, False)),
      AlarmMOFF(add<forms::Image>("AlarmMOFF", AlarmRect, False)),
      AlarmDON(add<forms::Image>("AlarmDON", AlarmRect, False)),
      BrowseM(add<forms::Image>("BrowseM", BrowseRect, False)),
      BrowseD(add<forms::Image>("BrowseD", BrowseRect, False)),
      AlarmUOFF(add<forms::Image>("AlarmUOFF", AlarmRect, True)),
      BrowseU(add<forms::Image>("BrowseU", BrowseRect, True)),
      Line2(add<forms::Line>("Line2", layout::ProgressLeft, layout::ProgressLine2Y, layout::ProgressLeft + 1,
                             layout::ProgressLine2Y + 1)),
      Line1(add<forms::Line>("Line1", layout::ProgressLeft, layout::ProgressLine1Y, layout::ProgressLeft + 1,
                             layout::ProgressLine1Y + 1)),
      SnoozeD(add<forms::Image>("SnoozeD", SnoozeRect, False)),
      SnoozeM(add<forms::Image>("SnoozeM", SnoozeRect, False)),
      SnoozeU(add<forms::Image>("SnoozeU", SnoozeRect, True)),
      SettingM(add<forms::Image>("SettingM", SettingRect, False)),
      SettingD(add<forms::Image>("SettingD", SettingRect, False)),
      SettingU(add<forms::Image>("SettingU", SettingRect, True)),
      LblAlarm(add<forms::Label>("LblAlarm", at("LblAlarm"), "Alarm", Alignment::Left, DialogFont)),
      Shape2(add<forms::Shape>("Shape2", at("Shape2"), 10.0F)),
      Shape1(add<forms::Shape>("Shape1", at("Shape1"), 10.0F)),
      LblSnooze(add<forms::Label>("LblSnooze", at("LblSnooze"), "Snooze: 5 Min", Alignment::Left, DialogFont)),
      LblMP3(add<forms::Label>("LblMP3", at("LblMP3"), NoFileSelected, Alignment::Left, DialogFont)),
      LblAlarmTime(add<forms::Label>("LblAlarmTime", at("LblAlarmTime"), "12:00 AM", Alignment::Right, DisplaySmall)),
      LblRealTime(add<forms::Label>("LblRealTime", at("LblRealTime"), "12:00 AM", Alignment::Right, DisplayLarge)),
      Dialog(c.dialog),
      STray(c.tray),
      Player(c.player),
      desktop_(c.desktop),
      click_(c.click),
      inhibitor_(c.inhibitor) {
    SnoozeU.setEnabled(False);

    Form::Form_MouseDown = [this](const forms::MouseArgs& a) { Form_MouseDown(a); };
    Form::Form_MouseMove = [this](const forms::MouseArgs& a) { Form_MouseMove(a); };
    Form::Form_MouseUp = [this](const forms::MouseArgs& a) { Form_MouseUp(a); };
    Timer.Tick = [this] { Timer_Timer(); };
    ScrlAlarmChg.Change = [this] { ScrlAlarmChg_Change(); };
    ScrlSnooze.Change = [this] { ScrlSnooze_Change(); };

    auto bind = [this](forms::Image& image, forms::MouseHandler forms::Element::*event,
                       void (FrmTovrel::*handler)(const forms::MouseArgs&)) {
        // Only the commands arm and disarm the alarm; the tick never does.
        image.*event = [this, handler](const forms::MouseArgs& a) {
            (this->*handler)(a);
            holdOffSuspendWhileArmed();
        };
    };
    bind(AlarmUON, &forms::Element::MouseMove, &FrmTovrel::AlarmUON_MouseMove);
    bind(AlarmUOFF, &forms::Element::MouseMove, &FrmTovrel::AlarmUOFF_MouseMove);
    bind(SettingU, &forms::Element::MouseMove, &FrmTovrel::SettingU_MouseMove);
    bind(SnoozeU, &forms::Element::MouseMove, &FrmTovrel::SnoozeU_MouseMove);
    bind(BrowseU, &forms::Element::MouseMove, &FrmTovrel::BrowseU_MouseMove);
    bind(MiniU, &forms::Element::MouseMove, &FrmTovrel::MiniU_MouseMove);
    bind(CloseU, &forms::Element::MouseMove, &FrmTovrel::CloseU_MouseMove);
    bind(AlarmMOFF, &forms::Element::MouseDown, &FrmTovrel::AlarmMOFF_MouseDown);
    bind(AlarmMON, &forms::Element::MouseDown, &FrmTovrel::AlarmMON_MouseDown);
    bind(SettingM, &forms::Element::MouseDown, &FrmTovrel::SettingM_MouseDown);
    bind(SnoozeM, &forms::Element::MouseDown, &FrmTovrel::SnoozeM_MouseDown);
    bind(BrowseM, &forms::Element::MouseDown, &FrmTovrel::BrowseM_MouseDown);
    bind(AlarmMOFF, &forms::Element::MouseUp, &FrmTovrel::AlarmMOFF_MouseUp);
    bind(AlarmMON, &forms::Element::MouseUp, &FrmTovrel::AlarmMON_MouseUp);
    bind(SettingM, &forms::Element::MouseUp, &FrmTovrel::SettingM_MouseUp);
    bind(SnoozeM, &forms::Element::MouseUp, &FrmTovrel::SnoozeM_MouseUp);
    bind(BrowseM, &forms::Element::MouseUp, &FrmTovrel::BrowseM_MouseUp);
    bind(MiniM, &forms::Element::MouseDown, &FrmTovrel::MiniM_MouseDown);
    bind(CloseM, &forms::Element::MouseDown, &FrmTovrel::CloseM_MouseDown);
    STray.Click = [this] { STray_Click(); };
    STray.AvailabilityChanged = [this] { STray_AvailabilityChanged(); };

    // What a screen reader says: each button by its word, what the selectors
    // and the read-outs are for.
    addButton("Alarm", {&AlarmUOFF, &AlarmMOFF, &AlarmDOFF, &AlarmUON, &AlarmMON, &AlarmDON});
    addButton("Snooze", {&SnoozeU, &SnoozeM, &SnoozeD});
    addButton("Setting", {&SettingU, &SettingM, &SettingD});
    addButton("Browse", {&BrowseU, &BrowseM, &BrowseD});
    addButton("Minimise", {&MiniU, &MiniM});
    addButton("Close", {&CloseU, &CloseM});
    ScrlAlarmChg.setPurpose("Alarm time");
    ScrlSnooze.setPurpose("Snooze minutes");
    LblRealTime.setPurpose("Current time");
    LblAlarmTime.setPurpose("Alarm time");
    LblAlarmStatus.setPurpose("Alarm status");
    LblMP3.setPurpose("Alarm sound file");
    LblSnooze.setPurpose("Snooze length");

    desktop_.attach(*this);
    Shaper = desktop_.shaperFor(*this);
}

FrmTovrel::~FrmTovrel() {
    STray.Click = nullptr;
    STray.AvailabilityChanged = nullptr;
}

void FrmTovrel::Form_Load() {
    Shaper->shape();
    Dialog.setFlags(components::FileDialog::OpenFlags);
    STray.add();
    setHeight(CollapsedHeight);
    SettingsOpen = False;
    if (auto now = clock::CurrentTimeFromClock(desktop_.clockText())) {
        CurrentTimeText = now->text;
        LblAlarmTime.setCaption(now->style == clock::TimeStyle::TwelveHour ? "12:00 AM" : "00:00");
    }
    LblRealTime.setCaption(CurrentTimeText);
    Ringing = False;
    AlarmArmed = False;
    resetProgressBar();
}

void FrmTovrel::resetProgressBar() {
    Line1.setY1(layout::ProgressLine1Y);
    Line1.setY2(layout::ProgressLine1Y);
    Line2.setY1(layout::ProgressLine2Y);
    Line2.setY2(layout::ProgressLine2Y);
    Line1.setX1(layout::ProgressLeft);
    Line1.setX2(layout::ProgressLeft);
    Line2.setX1(layout::ProgressLeft);
    Line2.setX2(layout::ProgressLeft);
}

void FrmTovrel::holdOffSuspendWhileArmed() {
    const bool armed = AlarmArmed == True && LblMP3.Caption() != NoFileSelected;
    if (armed == suspendHeld_) return;
    suspendHeld_ = armed;
    if (armed) {
        inhibitor_.hold();
    } else {
        inhibitor_.release();
    }
}

void FrmTovrel::playClick() { click_.play(desktop_.programDirectory() + "/Tovrel.wav"); }

FrmAbout& FrmTovrel::About() {
    if (!about_) {
        about_ = std::make_unique<FrmAbout>(*this, desktop_);
        about_->Form_Load();
    }
    return *about_;
}

}  // namespace tovrel::shell
