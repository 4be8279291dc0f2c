// SPDX-License-Identifier: GPL-3.0-or-later
//
// Both windows as designed, and the main window's start-up.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "shell/frm_about.h"
#include "unit/main_window.h"

using namespace tovrel;
using namespace tovrel::forms;
using tovrel::testing::MainWindowTest;

namespace {

struct Expected {
    const char* name;
    ElementKind kind;
    std::string_view place;  // in the windows' layout table; empty where not shown
    Flag visible;
};

template <std::size_t N>
void expectElements(const Form& form, const std::array<shell::layout::Place, N>& layout,
                    const std::vector<Expected>& table) {
    ASSERT_EQ(form.elements().size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Element& e = *form.elements()[i];
        const Expected& x = table[i];
        SCOPED_TRACE(x.name);
        EXPECT_EQ(e.name(), x.name);
        EXPECT_EQ(e.index(), static_cast<int>(i + 1));
        EXPECT_EQ(e.kind(), x.kind);
        if (!x.place.empty()) {
            const auto place =
                std::find_if(layout.begin(), layout.end(), [&x](const auto& p) { return p.name == x.place; });
            ASSERT_NE(place, layout.end());
            EXPECT_EQ(e.rect().left, place->box.left);
            EXPECT_EQ(e.rect().top, place->box.top);
            EXPECT_EQ(e.rect().width, place->box.width);
            EXPECT_EQ(e.rect().height, place->box.height);
        }
        EXPECT_EQ(e.Visible(), x.visible);
    }
}

constexpr auto I = ElementKind::Image;
constexpr auto L = ElementKind::Label;
constexpr auto C = ElementKind::Control;

}  // namespace

TEST_F(MainWindowTest, MainWindowHasEveryElementInCreationOrder) {
    const std::string_view alarm = "Alarm", browse = "Browse", snooze = "Snooze", setting = "Setting";
    expectElements(main, shell::layout::Main,
                   {
                       {"Dialog", C, "", False},
                       {"STray", C, "", False},
                       {"Shaper", C, "", False},
                       {"ScrlSnooze", ElementKind::ScrollBar, "ScrlSnooze", True},
                       {"Timer", ElementKind::Timer, "", False},
                       {"ScrlAlarmChg", ElementKind::ScrollBar, "ScrlAlarmChg", True},
                       {"Player", C, "Player", False},
                       {"LblAlarmStatus", L, "LblAlarmStatus", True},
                       {"CloseU", I, "Close", True},
                       {"CloseM", I, "Close", False},
                       {"MiniU", I, "Mini", True},
                       {"MiniM", I, "Mini", False},
                       {"AlarmDOFF", I, alarm, False},
                       {"AlarmUON", I, alarm, False},
                       {"AlarmMON", I, alarm, False},
                       {"AlarmMOFF", I, alarm, False},
                       {"AlarmDON", I, alarm, False},
                       {"BrowseM", I, browse, False},
                       {"BrowseD", I, browse, False},
                       {"AlarmUOFF", I, alarm, True},
                       {"BrowseU", I, browse, True},
                       {"Line2", ElementKind::Line, "", True},
                       {"Line1", ElementKind::Line, "", True},
                       {"SnoozeD", I, snooze, False},
                       {"SnoozeM", I, snooze, False},
                       {"SnoozeU", I, snooze, True},
                       {"SettingM", I, setting, False},
                       {"SettingD", I, setting, False},
                       {"SettingU", I, setting, True},
                       {"LblAlarm", L, "LblAlarm", True},
                       {"Shape2", ElementKind::Shape, "Shape2", True},
                       {"Shape1", ElementKind::Shape, "Shape1", True},
                       {"LblSnooze", L, "LblSnooze", True},
                       {"LblMP3", L, "LblMP3", True},
                       {"LblAlarmTime", L, "LblAlarmTime", True},
                       {"LblRealTime", L, "LblRealTime", True},
                   });
    // Only the snooze button's normal image starts disabled.
    for (const auto& e : main.elements()) EXPECT_EQ(e->Enabled(), e->name() == "SnoozeU" ? False : True) << e->name();
    EXPECT_EQ(main.Caption(), "MP3 Tovrel");
    EXPECT_EQ(main.Width(), shell::layout::WindowWidth);
    EXPECT_EQ(main.Timer.Interval(), 50);
    EXPECT_EQ(main.Line1.X1(), 220);
    EXPECT_EQ(main.Line1.Y2(), 107);
    EXPECT_EQ(main.Line2.X2(), 221);
    EXPECT_EQ(main.Line2.Y2(), 108);
}

TEST_F(MainWindowTest, LabelsScrollBarsAndTabOrderAsDesigned) {
    struct LabelRow {
        const Label* label;
        const char* caption;
        Alignment alignment;
        Face face;
        float points;
    };
    for (const LabelRow& r : {LabelRow{&main.LblRealTime, "12:00 AM", Alignment::Right, Face::Display, 14.25F},
                              LabelRow{&main.LblAlarmTime, "12:00 AM", Alignment::Right, Face::Display, 9.75F},
                              LabelRow{&main.LblAlarmStatus, "Off", Alignment::Center, Face::Display, 9.75F},
                              LabelRow{&main.LblMP3, "No File Selected", Alignment::Left, Face::Dialog, 8.25F},
                              LabelRow{&main.LblAlarm, "Alarm", Alignment::Left, Face::Dialog, 8.25F},
                              LabelRow{&main.LblSnooze, "Snooze: 5 Min", Alignment::Left, Face::Dialog, 8.25F}}) {
        SCOPED_TRACE(r.label->name());
        EXPECT_EQ(r.label->Caption(), r.caption);
        EXPECT_EQ(r.label->alignment(), r.alignment);
        EXPECT_EQ(r.label->font().face, r.face);
        EXPECT_EQ(r.label->font().points, r.points);
        EXPECT_EQ(r.label->font().weight, 700);
    }
    EXPECT_EQ(main.ScrlAlarmChg.Min(), 0);
    EXPECT_EQ(main.ScrlAlarmChg.Max(), 1439);
    EXPECT_EQ(main.ScrlAlarmChg.Value(), 0);
    EXPECT_EQ(main.ScrlAlarmChg.SmallChange(), 1);
    EXPECT_EQ(main.ScrlAlarmChg.LargeChange(), 10);
    EXPECT_EQ(main.ScrlSnooze.Min(), 1);
    EXPECT_EQ(main.ScrlSnooze.Max(), 120);
    EXPECT_EQ(main.ScrlSnooze.Value(), 5);
    EXPECT_EQ(main.ScrlSnooze.SmallChange(), 1);
    EXPECT_EQ(main.ScrlSnooze.LargeChange(), 5);
    EXPECT_LT(main.ScrlAlarmChg.TabIndex(), main.ScrlSnooze.TabIndex());
}

TEST_F(MainWindowTest, AboutWindowIsCreatedAtItsFirstUseWithItsOwnElements) {
    EXPECT_EQ(main.aboutIfLoaded(), nullptr);
    shell::FrmAbout& about = main.About();
    EXPECT_EQ(&main.About(), &about) << "created once";
    EXPECT_EQ(about.Caption(), "About");
    EXPECT_EQ(about.scaleMode(), ScaleMode::Twip);
    expectElements(about, shell::layout::About,
                   {
                       {"Shaper", C, "", False},
                       {"Label2", L, "Label2", True},
                       {"Label1", L, "Label1", True},
                       {"ExitU", I, "Exit", False},
                       {"ExitM", I, "Exit", False},
                       {"ExitD", I, "Exit", True},
                       {"Shape1", ElementKind::Shape, "Shape1", True},
                   });
    EXPECT_EQ(about.Label2.Caption(), "Version 1.01");
    EXPECT_EQ(about.Label2.font().points, 12.0F);
    EXPECT_FALSE(about.Label1.singleLine());
    EXPECT_NE(about.Label1.Caption().find("freeware"), std::string::npos);
    EXPECT_EQ(log, (std::vector<std::string>{"attach FrmAbout", "FrmAbout.Shaper.shape"}));
}

TEST_F(MainWindowTest, StartUpCallsTheComponentsInOrderAndRestsCollapsed) {
    main.Ringing = True;  // whatever the record held, start-up clears it
    main.AlarmArmed = True;
    main.SettingsOpen = True;
    desktop.clock = "7:29:58 AM";
    main.Form_Load();
    EXPECT_EQ(log, (std::vector<std::string>{"FrmTovrel.Shaper.shape", "Dialog.setFlags 7172", "STray.add"}));
    EXPECT_EQ(dialog.flags, 0x1C04);
    EXPECT_EQ(main.Height(), shell::CollapsedHeight);
    EXPECT_EQ(main.SettingsOpen, False);
    EXPECT_EQ(main.Ringing, False);
    EXPECT_EQ(main.AlarmArmed, False);
    EXPECT_EQ(main.CurrentTimeText, "7:29 AM");
    EXPECT_EQ(main.LblRealTime.Caption(), "7:29 AM");
    EXPECT_EQ(main.LblAlarmTime.Caption(), "12:00 AM");
    EXPECT_EQ(main.LblAlarmStatus.Caption(), "Off");
    for (const Line* line : {&main.Line1, &main.Line2}) {
        EXPECT_EQ(line->X1(), 220);
        EXPECT_EQ(line->X2(), 220);
    }
    EXPECT_EQ(main.Line1.Y1(), 106);
    EXPECT_EQ(main.Line1.Y2(), 106);
    EXPECT_EQ(main.Line2.Y1(), 107);
    EXPECT_EQ(main.Line2.Y2(), 107);
    // The bar is emptied in its fixed order of writes.
    EXPECT_EQ(recorder->changes.back(), "Line2 220,107-220,107");
    EXPECT_EQ(
        visible({&main.AlarmUOFF, &main.AlarmMOFF, &main.AlarmDOFF, &main.AlarmUON, &main.AlarmMON, &main.AlarmDON,
                 &main.SnoozeU, &main.SnoozeM, &main.SnoozeD, &main.SettingU, &main.SettingM, &main.SettingD,
                 &main.BrowseU, &main.BrowseM, &main.BrowseD, &main.MiniU, &main.MiniM, &main.CloseU, &main.CloseM}),
        (std::vector<std::string>{"AlarmUOFF", "SnoozeU", "SettingU", "BrowseU", "MiniU", "CloseU"}));
}

TEST_F(MainWindowTest, StartUpInTheTwentyFourHourStyle) {
    desktop.clock = "21:05:07";
    main.Form_Load();
    EXPECT_EQ(main.LblRealTime.Caption(), "21:05");
    EXPECT_EQ(main.LblAlarmTime.Caption(), "00:00");
}

TEST_F(MainWindowTest, StartUpWithAnUnrecognisedClockLeavesTheDesignedAlarmText) {
    desktop.clock = "7:29:58 AM UTC";
    main.Form_Load();
    EXPECT_EQ(main.CurrentTimeText, "");
    EXPECT_EQ(main.LblRealTime.Caption(), "");
    EXPECT_EQ(main.LblAlarmTime.Caption(), "12:00 AM");
}

TEST_F(MainWindowTest, EveryImageDrawsOneNamedButtonOnOneRectangle) {
    auto check = [](const Form& form, const std::vector<std::string>& words) {
        SCOPED_TRACE(form.name());
        std::vector<std::string> declared;
        for (const ImageButton& b : form.buttons()) {
            declared.push_back(b.word());
            for (const Image* i : b.images()) {
                EXPECT_EQ(i->rect().left, b.rect().left) << i->name();
                EXPECT_EQ(i->rect().top, b.rect().top) << i->name();
            }
        }
        EXPECT_EQ(declared, words);
        for (const auto& e : form.elements()) {
            if (e->kind() != ElementKind::Image) continue;
            EXPECT_NE(form.buttonOf(*e), nullptr) << e->name() << " draws no button";
        }
    };
    check(main, {"Alarm", "Snooze", "Setting", "Browse", "Minimise", "Close"});
    check(main.About(), {"Exit"});
    EXPECT_EQ(main.buttonOf(main.AlarmDON)->word(), "Alarm");
    EXPECT_EQ(main.buttonOf(main.AlarmMOFF), main.buttonOf(main.AlarmUON)) << "both faces are one button";
    EXPECT_EQ(main.ScrlAlarmChg.purpose(), "Alarm time");
    EXPECT_EQ(main.ScrlSnooze.purpose(), "Snooze minutes");
}

TEST_F(MainWindowTest, SnoozeIsWorkableOnlyWhileTheAlarmRings) {
    load();
    const ImageButton& snooze = *main.buttonOf(main.SnoozeU);
    const ImageButton& setting = *main.buttonOf(main.SettingU);
    EXPECT_FALSE(snooze.enabled());
    EXPECT_TRUE(setting.enabled());
    chooseFile("/music/wake.mp3");
    main.AlarmMOFF_MouseUp(mouse());
    main.ScrlAlarmChg.setValue(7 * 60 + 30);
    desktop.clock = "7:30:00 AM";
    main.Timer_Timer();
    ASSERT_EQ(main.Ringing, True);
    EXPECT_TRUE(snooze.enabled());
    EXPECT_FALSE(setting.enabled());
    main.SnoozeU_MouseMove(mouse());
    main.SnoozeM_MouseDown(mouse());
    main.SnoozeM_MouseUp(mouse());
    EXPECT_FALSE(snooze.enabled());
}
