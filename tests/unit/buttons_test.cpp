// SPDX-License-Identifier: GPL-3.0-or-later
//
// Hover, press and release of the image buttons, and the resets that put
// buttons back on their normal images.

#include <gtest/gtest.h>

#include <map>

#include "shell/frm_about.h"
#include "unit/main_window.h"

using namespace tovrel;
using namespace tovrel::forms;
using tovrel::testing::MainWindowTest;

namespace {

std::string letters(const skin::ThreeStateButton& b) {
    std::string s;
    if (b.normal.Visible() == True) s += "U";
    if (b.hover.Visible() == True) s += "M";
    if (b.pressed.Visible() == True) s += "D";
    return s;
}

std::string letters(const skin::TwoStateButton& b) {
    std::string s;
    if (b.normal.Visible() == True) s += "U";
    if (b.hover.Visible() == True) s += "M";
    return s;
}

}  // namespace

class ButtonsTest : public MainWindowTest {
protected:
    ButtonsTest() { load(); }

    // Every button away from its normal image (each alarm face on its own).
    void dirtyAll() {
        auto set = [](const skin::ThreeStateButton& b, Flag u, Flag m, Flag d) {
            b.normal.setVisible(u);
            b.hover.setVisible(m);
            b.pressed.setVisible(d);
        };
        set(main.settingButton(), False, True, False);
        set(main.snoozeButton(), False, False, True);
        set(main.browseButton(), False, True, False);
        set(main.alarmOnFace(), False, True, False);
        set(main.alarmOffFace(), False, False, True);
        main.MiniU.setVisible(False);
        main.MiniM.setVisible(True);
        main.CloseU.setVisible(False);
        main.CloseM.setVisible(True);
    }
    std::map<std::string, std::string> states() const {
        return {{"setting", letters(main.settingButton())}, {"snooze", letters(main.snoozeButton())},
                {"browse", letters(main.browseButton())},   {"on", letters(main.alarmOnFace())},
                {"off", letters(main.alarmOffFace())},      {"mini", letters(main.miniButton())},
                {"close", letters(main.closeButton())}};
    }
};

TEST_F(ButtonsTest, EachMovementHandlerResetsItsOwnListOfButtons) {
    using H = void (shell::FrmTovrel::*)(const MouseArgs&);
    struct Row {
        const char* name;
        H handler;
        std::map<std::string, std::string> after;
    };
    const std::vector<Row> rows{
        {"AlarmUON",
         &shell::FrmTovrel::AlarmUON_MouseMove,
         {{"setting", "U"},
          {"snooze", "U"},
          {"browse", "U"},
          {"on", "M"},
          {"off", "D"},
          {"mini", "U"},
          {"close", "U"}}},
        {"AlarmUOFF",
         &shell::FrmTovrel::AlarmUOFF_MouseMove,
         {{"setting", "U"}, {"snooze", "U"}, {"browse", "U"}, {"on", ""}, {"off", "M"}, {"mini", "U"}, {"close", "U"}}},
        {"SettingU",
         &shell::FrmTovrel::SettingU_MouseMove,
         {{"setting", "M"},
          {"snooze", "U"},
          {"browse", "U"},
          {"on", "U"},
          {"off", "U"},
          {"mini", "M"},
          {"close", "M"}}},
        {"SnoozeU",
         &shell::FrmTovrel::SnoozeU_MouseMove,
         {{"setting", "U"},
          {"snooze", "M"},
          {"browse", "U"},
          {"on", "U"},
          {"off", "U"},
          {"mini", "M"},
          {"close", "M"}}},
        {"BrowseU",
         &shell::FrmTovrel::BrowseU_MouseMove,
         {{"setting", "U"},
          {"snooze", "U"},
          {"browse", "M"},
          {"on", "U"},
          {"off", "U"},
          {"mini", "M"},
          {"close", "M"}}},
        {"MiniU",
         &shell::FrmTovrel::MiniU_MouseMove,
         {{"setting", "M"},
          {"snooze", "D"},
          {"browse", "M"},
          {"on", "M"},
          {"off", "D"},
          {"mini", "M"},
          {"close", "U"}}},
        {"CloseU",
         &shell::FrmTovrel::CloseU_MouseMove,
         {{"setting", "M"},
          {"snooze", "D"},
          {"browse", "M"},
          {"on", "M"},
          {"off", "D"},
          {"mini", "U"},
          {"close", "M"}}},
        {"Form",
         &shell::FrmTovrel::Form_MouseMove,
         {{"setting", "U"},
          {"snooze", "U"},
          {"browse", "U"},
          {"on", "U"},
          {"off", "U"},
          {"mini", "U"},
          {"close", "U"}}},
    };
    for (const Row& r : rows) {
        dirtyAll();
        (main.*r.handler)(mouse(200, 150));
        EXPECT_EQ(states(), r.after) << r.name;
    }
}

TEST_F(ButtonsTest, ResetsRunInTheirListedOrder) {
    dirtyAll();
    recorder->changes.clear();
    main.SettingU_MouseMove(mouse());
    EXPECT_EQ(recorder->changes, (std::vector<std::string>{"+SnoozeU", "-SnoozeD",         // snooze
                                                           "-BrowseM", "+BrowseU",         // browse
                                                           "-AlarmMON", "+AlarmUON",       // ON face
                                                           "+AlarmUOFF", "-AlarmDOFF"}));  // OFF face
}

TEST_F(ButtonsTest, HoverPressAndReleaseThroughThePointer) {
    main.pointerMove(over(main.SettingU));
    EXPECT_EQ(letters(main.settingButton()), "M");
    main.pointerDown(over(main.SettingM, MiddleButton));
    EXPECT_EQ(letters(main.settingButton()), "D");
    // Moving off the button keeps it pressed: its hover image holds the
    // pointer and has no movement handler.
    main.pointerMove(mouse(10, 10, MiddleButton));
    main.pointerMove(over(main.SnoozeU, MiddleButton));
    EXPECT_EQ(letters(main.settingButton()), "D");
    EXPECT_EQ(main.SettingsOpen, False);
    // Released elsewhere, the command still runs.
    main.pointerUp(over(main.SnoozeU, MiddleButton));
    EXPECT_EQ(main.SettingsOpen, True);
    EXPECT_EQ(letters(main.settingButton()), "M");
    EXPECT_EQ(clicks.played.size(), 1U);
}

TEST_F(ButtonsTest, TheDisabledSnoozeButtonTakesNoInput) {
    ASSERT_EQ(main.SnoozeU.Enabled(), False);
    main.pointerMove(over(main.SnoozeU));
    main.pointerDown(over(main.SnoozeU));
    main.pointerUp(over(main.SnoozeU));
    EXPECT_EQ(letters(main.snoozeButton()), "U");
    EXPECT_TRUE(log.empty()) << "no snooze command, no click";
    EXPECT_EQ(main.Dragging, False);
}

TEST_F(ButtonsTest, AHoverImageStillTakesAPressAfterItsNormalImageWasDisabled) {
    main.pointerMove(over(main.SettingU));
    main.SettingU.setEnabled(False);  // the alarm fired meanwhile
    click(main.SettingM);
    EXPECT_EQ(main.SettingsOpen, True);
    main.pointerMove(mouse(200, 150));  // background: back to the normal image
    EXPECT_EQ(letters(main.settingButton()), "U");
    main.pointerMove(over(main.SettingU));
    EXPECT_EQ(letters(main.settingButton()), "U") << "disabled: no hover";
}

TEST_F(ButtonsTest, AlarmButtonHoversOnTheFaceOfTheAlarmsState) {
    main.pointerMove(over(main.AlarmUOFF));
    EXPECT_EQ(letters(main.alarmOffFace()), "M");
    EXPECT_EQ(letters(main.alarmOnFace()), "");
    main.pointerDown(over(main.AlarmMOFF, RightButton));
    EXPECT_EQ(letters(main.alarmOffFace()), "D");
    main.pointerUp(over(main.AlarmMOFF, RightButton));  // switch-on, refused: no file
    ASSERT_EQ(desktop.messages.size(), 1U);

    chooseFile("/m/Wake.mp3");
    click(main.AlarmMOFF);
    EXPECT_EQ(main.AlarmArmed, True);
    main.pointerMove(mouse(200, 150));
    EXPECT_EQ(letters(main.alarmOnFace()), "U");
    main.pointerMove(over(main.AlarmUON));
    EXPECT_EQ(letters(main.alarmOnFace()), "M");
    EXPECT_EQ(letters(main.alarmOffFace()), "");
}

TEST_F(ButtonsTest, MinimiseAndCloseGlyphsHandOverToEachOther) {
    main.pointerMove(over(main.MiniU));
    EXPECT_EQ(letters(main.miniButton()), "M");
    main.pointerMove(over(main.CloseU));
    EXPECT_EQ(letters(main.closeButton()), "M");
    EXPECT_EQ(letters(main.miniButton()), "U");
    main.pointerMove(over(main.MiniU));
    EXPECT_EQ(letters(main.closeButton()), "U");
    // The settings hover does not reset them; the alarm hover does.
    main.pointerMove(over(main.SettingU));
    EXPECT_EQ(letters(main.miniButton()), "M");
    main.pointerMove(over(main.AlarmUOFF));
    EXPECT_EQ(letters(main.miniButton()), "U");
}

TEST_F(MainWindowTest, AboutExitButtonStartsPressedAndFollowsThePointer) {
    shell::FrmAbout& about = main.About();
    EXPECT_EQ(letters(about.exitButton()), "D");
    about.pointerMove(MouseArgs{0, 0, 600, 600});  // background, in twips
    EXPECT_EQ(letters(about.exitButton()), "U");
    about.pointerMove(MouseArgs{0, 0, 3800, 1900});
    EXPECT_EQ(letters(about.exitButton()), "M");
    about.pointerDown(MouseArgs{LeftButton, 0, 3800, 1900});
    EXPECT_EQ(letters(about.exitButton()), "D");
    about.pointerMove(MouseArgs{LeftButton, 0, 100, 100});
    EXPECT_EQ(letters(about.exitButton()), "D") << "held: the background does not reset it";
    EXPECT_EQ(desktop.ended, 0);
}
