// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "components/components.h"
#include "forms/form.h"
#include "shell/layout.h"
#include "skin/buttons.h"

namespace tovrel::shell {

class FrmAbout;

// Heights of the main window, twips: the top panel alone, and with the
// settings panel below it.
inline constexpr float CollapsedHeight = layout::CollapsedHeight;
inline constexpr float ExpandedHeight = layout::ExpandedHeight;

// An element's rectangle from its place in the layout.
constexpr forms::Rect placed(layout::Box box) {
    return {static_cast<float>(box.left), static_cast<float>(box.top), static_cast<float>(box.width),
            static_cast<float>(box.height)};
}

inline constexpr const char* NoFileSelected = "No File Selected";
inline constexpr const char* ProgramTitle = "MP3 Tovrel";

// The main window: the clock, the alarm and every command live here.
class FrmTovrel : public forms::Form {
public:
    explicit FrmTovrel(components::MainComponents components);
    ~FrmTovrel() override;

    // ---- window state record
    forms::Flag Dragging = forms::False;
    float DragX = 0;
    float DragY = 0;
    std::int16_t SlashPos = 0;
    std::string CurrentTimeText;
    forms::Flag SettingsOpen = forms::False;
    forms::Flag Ringing = forms::False;
    forms::Flag AlarmArmed = forms::False;
    std::string MP3Name;

    // ---- elements, in creation order
    forms::Control& DialogElement;
    forms::Control& STrayElement;
    forms::Control& ShaperElement;
    forms::ScrollBar& ScrlSnooze;
    forms::Timer& Timer;
    forms::ScrollBar& ScrlAlarmChg;
    forms::Control& PlayerElement;
    forms::Label& LblAlarmStatus;
    forms::Image& CloseU;
    forms::Image& CloseM;
    forms::Image& MiniU;
    forms::Image& MiniM;
    forms::Image& AlarmDOFF;
    forms::Image& AlarmUON;
    forms::Image& AlarmMON;
    forms::Image& AlarmMOFF;
    forms::Image& AlarmDON;
    forms::Image& BrowseM;
    forms::Image& BrowseD;
    forms::Image& AlarmUOFF;
    forms::Image& BrowseU;
    forms::Line& Line2;
    forms::Line& Line1;
    forms::Image& SnoozeD;
    forms::Image& SnoozeM;
    forms::Image& SnoozeU;
    forms::Image& SettingM;
    forms::Image& SettingD;
    forms::Image& SettingU;
    forms::Label& LblAlarm;
    forms::Shape& Shape2;
    forms::Shape& Shape1;
    forms::Label& LblSnooze;
    forms::Label& LblMP3;
    forms::Label& LblAlarmTime;
    forms::Label& LblRealTime;

    // ---- hosted components
    components::FileDialog& Dialog;
    components::TrayIcon& STray;
    std::unique_ptr<components::WindowShaper> Shaper;
    components::MediaPlayer& Player;

    // ---- handlers
    void Form_Load();
    void Timer_Timer();
    void ScrlAlarmChg_Change();
    void ScrlSnooze_Change();

    void Form_MouseDown(const forms::MouseArgs& a);
    void Form_MouseMove(const forms::MouseArgs& a);
    void Form_MouseUp(const forms::MouseArgs& a);

    void AlarmUON_MouseMove(const forms::MouseArgs& a);
    void AlarmUOFF_MouseMove(const forms::MouseArgs& a);
    void SettingU_MouseMove(const forms::MouseArgs& a);
    void SnoozeU_MouseMove(const forms::MouseArgs& a);
    void BrowseU_MouseMove(const forms::MouseArgs& a);
    void MiniU_MouseMove(const forms::MouseArgs& a);
    void CloseU_MouseMove(const forms::MouseArgs& a);

    void AlarmMOFF_MouseDown(const forms::MouseArgs& a);
    void AlarmMON_MouseDown(const forms::MouseArgs& a);
    void SettingM_MouseDown(const forms::MouseArgs& a);
    void SnoozeM_MouseDown(const forms::MouseArgs& a);
    void BrowseM_MouseDown(const forms::MouseArgs& a);

    void AlarmMOFF_MouseUp(const forms::MouseArgs& a);
    void AlarmMON_MouseUp(const forms::MouseArgs& a);
    void SettingM_MouseUp(const forms::MouseArgs& a);
    void SnoozeM_MouseUp(const forms::MouseArgs& a);
    void BrowseM_MouseUp(const forms::MouseArgs& a);

    void MiniM_MouseDown(const forms::MouseArgs& a);
    void CloseM_MouseDown(const forms::MouseArgs& a);
    void STray_Click();
    void STray_AvailabilityChanged();

    // The About window; created, and its start-up run, at the first call.
    FrmAbout& About();
    [[nodiscard]] FrmAbout* aboutIfLoaded() const { return about_.get(); }

    // The buttons as image stacks.
    [[nodiscard]] skin::ThreeStateButton alarmOnFace() const { return {AlarmUON, AlarmMON, AlarmDON}; }
    [[nodiscard]] skin::ThreeStateButton alarmOffFace() const { return {AlarmUOFF, AlarmMOFF, AlarmDOFF}; }
    [[nodiscard]] skin::ThreeStateButton settingButton() const { return {SettingU, SettingM, SettingD}; }
    [[nodiscard]] skin::ThreeStateButton snoozeButton() const { return {SnoozeU, SnoozeM, SnoozeD}; }
    [[nodiscard]] skin::ThreeStateButton browseButton() const { return {BrowseU, BrowseM, BrowseD}; }
    [[nodiscard]] skin::TwoStateButton miniButton() const { return {MiniU, MiniM}; }
    [[nodiscard]] skin::TwoStateButton closeButton() const { return {CloseU, CloseM}; }

private:
    // Both progress lines back to zero length at the bar's left end.
    void resetProgressBar();
    // The alarm's moment: play the file, bring the window up.
    void fireAlarm();
    // Whether the alarm minute passed between the last tick and this one
    // while no tick came to fire it, and it is still worth ringing.
    bool alarmMinuteSkipped(const std::string& clockText);
    void playClick();
    // Holds off the desktop's automatic suspend exactly while an alarm that
    // can ring is armed. Runs after every command, outside its handler.
    void holdOffSuspendWhileArmed();
    // What a hover on either face of the alarm button puts back to normal.
    void resetAroundAlarmButton();

    components::Desktop& desktop_;
    components::ClickSound& click_;
    components::SuspendInhibitor& inhibitor_;
    bool suspendHeld_ = false;
    std::unique_ptr<FrmAbout> about_;
    // The minute the last tick read from the clock, counted from the start
    // of the desktop's day count.
    std::optional<std::int64_t> lastMinuteRead_;
};

}  // namespace tovrel::shell
