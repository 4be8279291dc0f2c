// SPDX-License-Identifier: GPL-3.0-or-later
//
// Dragging the window, hiding it to the tray, the About window and the exit.

#include <gtest/gtest.h>

#include "shell/frm_about.h"
#include "unit/main_window.h"

using namespace tovrel;
using namespace tovrel::forms;
using tovrel::testing::MainWindowTest;

class ShellTest : public MainWindowTest {
protected:
    ShellTest() { load(); }
};

TEST_F(ShellTest, DragMovesTheWindowByThePointersOffsetOneToOne) {
    const float left = main.Left();
    const float top = main.Top();
    // Press and release without movement: the window stays.
    main.pointerDown(mouse(20.5F, 100.25F));
    main.pointerMove(mouse(20.5F, 100.25F, LeftButton));
    main.pointerUp(mouse(20.5F, 100.25F));
    EXPECT_EQ(main.Left(), left);
    EXPECT_EQ(main.Top(), top);
    EXPECT_EQ(main.Dragging, False);

    // Fractional pointer positions, pixels converted to twips.
    main.pointerDown(mouse(20.5F, 100.25F, RightButton));
    EXPECT_EQ(main.Dragging, True);
    EXPECT_EQ(main.DragX, 20.5F);
    EXPECT_EQ(main.DragY, 100.25F);
    main.pointerMove(mouse(30.0F, 90.0F, RightButton));
    EXPECT_FLOAT_EQ(main.Left(), left + 9.5F * 15);
    EXPECT_FLOAT_EQ(main.Top(), top - 10.25F * 15);
    // The press point stays: the next move adds its offset from it again.
    main.pointerMove(mouse(21.5F, 100.25F, RightButton));
    EXPECT_FLOAT_EQ(main.Left(), left + 10.5F * 15);

    // A second press records a new point; the first release ends the drag.
    main.pointerDown(mouse(40, 40, MiddleButton));
    EXPECT_EQ(main.DragX, 40.0F);
    main.pointerUp(mouse(40, 40, MiddleButton));
    EXPECT_EQ(main.Dragging, False);
    const float stopped = main.Left();
    main.pointerMove(mouse(90, 90));
    EXPECT_EQ(main.Left(), stopped) << "after the release moves no longer drag";
}

TEST_F(ShellTest, ResetsStillRunAfterADragMove) {
    main.pointerMove(over(main.SettingU));
    main.Dragging = True;
    main.DragX = 0;
    main.DragY = 0;
    main.Form_MouseMove(mouse(1, 1));
    EXPECT_EQ(main.SettingU.Visible(), True);
    EXPECT_EQ(main.SettingM.Visible(), False);
    EXPECT_THROW(main.Form_MouseMove(mouse(std::numeric_limits<float>::infinity(), 1)), std::overflow_error);
}

TEST_F(ShellTest, MinimiseHidesCollapsedAndTheTrayBringsItBack) {
    main.SettingM_MouseUp(mouse());
    ASSERT_EQ(main.Height(), shell::ExpandedHeight);
    main.pointerMove(over(main.MiniU));
    resetLog();
    main.pointerDown(over(main.MiniM));
    EXPECT_FALSE(main.isShown());
    EXPECT_EQ(main.SettingsOpen, False);
    EXPECT_EQ(main.Height(), shell::CollapsedHeight);
    EXPECT_EQ(main.MiniU.Visible(), True);
    EXPECT_EQ(main.MiniM.Visible(), False);
    EXPECT_EQ(log, std::vector<std::string>{"click"});
    EXPECT_EQ(recorder->changes.front(), "Hide") << "the window goes before the click plays";
    EXPECT_FALSE(main.capturing()) << "the press died with the window";

    resetLog();
    tray.Click();
    EXPECT_TRUE(main.isShown());
    EXPECT_EQ(recorder->changes, (std::vector<std::string>{"Show", "SetFocus"}));
    EXPECT_EQ(main.MiniU.Visible(), True);
    // A click while shown only focuses.
    resetLog();
    tray.Click();
    EXPECT_EQ(recorder->changes, std::vector<std::string>{"SetFocus"});
}

TEST_F(ShellTest, WithoutANotificationAreaMinimiseGoesToTheTaskBar) {
    tray.available = false;
    main.MiniM_MouseDown(mouse());
    EXPECT_TRUE(main.isShown());
    EXPECT_EQ(recorder->minimizeRequests, 1);
    EXPECT_EQ(main.MiniU.Visible(), True);
    EXPECT_EQ(log, std::vector<std::string>{"click"});
}

TEST_F(ShellTest, MinimisedWhileRingingKeepsPlayingAndComesBackUsable) {
    armWithFile();
    main.ScrlAlarmChg.setValue(450);
    desktop.clock = "7:30:00 AM";
    main.Timer_Timer();
    resetLog();
    main.MiniM_MouseDown(mouse());
    EXPECT_EQ(std::count(log.begin(), log.end(), "Player.stop"), 0);
    tray.Click();
    EXPECT_EQ(main.SnoozeU.Enabled(), True);
}

TEST_F(ShellTest, CloseShowsAboutWhereTheMainWindowWasAndKeepsTheAlarm) {
    armWithFile();
    main.Move(4500, 1500);
    main.pointerMove(over(main.CloseU));
    resetLog();
    main.pointerDown(over(main.CloseM));
    EXPECT_EQ(log, (std::vector<std::string>{"Player.stop", "attach FrmAbout", "FrmAbout.Shaper.shape"}));
    shell::FrmAbout* about = main.aboutIfLoaded();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->Left(), 4500.0F);
    EXPECT_EQ(about->Top(), 1500.0F);
    EXPECT_TRUE(about->isShown());
    EXPECT_FALSE(main.isShown());
    EXPECT_EQ(main.AlarmArmed, True);
    EXPECT_EQ(main.CloseM.Visible(), True) << "close sets no image";

    // The alarm still fires and brings the main window back beside About.
    main.ScrlAlarmChg.setValue(450);
    desktop.clock = "7:30:00 AM";
    main.Timer_Timer();
    EXPECT_TRUE(main.isShown());
    EXPECT_TRUE(about->isShown());

    // A second close reuses the About window at the new position.
    main.Move(1500, 3000);
    resetLog();
    main.CloseM_MouseDown(mouse());
    EXPECT_EQ(main.aboutIfLoaded(), about);
    EXPECT_EQ(about->Left(), 1500.0F);
    EXPECT_EQ(log, std::vector<std::string>{"Player.stop"});
    EXPECT_EQ(main.Ringing, True) << "closing stops the sound, not the ringing state";
}

TEST_F(ShellTest, ExitTakesTheTrayIconAwayBeforeTheProgramEnds) {
    shell::FrmAbout& about = main.About();
    about.Show();
    resetLog();
    about.pointerMove(MouseArgs{0, 0, 600, 600});
    about.pointerMove(MouseArgs{0, 0, 3800, 1900});
    about.pointerDown(MouseArgs{LeftButton, 0, 3800, 1900});
    about.pointerUp(MouseArgs{LeftButton, 0, 3800, 1900});
    EXPECT_EQ(log, (std::vector<std::string>{"STray.remove", "endProgram"}));
    EXPECT_FALSE(tray.shown);
}
