// SPDX-License-Identifier: GPL-3.0-or-later
//
// The user's commands: alarm on and off, snooze, the settings panel and the
// choice of the file.

#include <gtest/gtest.h>

#include "unit/main_window.h"

using namespace tovrel;
using namespace tovrel::forms;
using tovrel::testing::Log;
using tovrel::testing::MainWindowTest;

class CommandsTest : public MainWindowTest {
protected:
    CommandsTest() { load("7:29:58 AM"); }
    void ring() {
        armWithFile();
        main.ScrlAlarmChg.setValue(450);
        desktop.clock = "7:30:00 AM";
        main.Timer_Timer();
        ASSERT_EQ(main.Ringing, True);
        resetLog();
    }
};

TEST_F(CommandsTest, SwitchOnWithoutAFileIsRefusedWithTheNoticeThenTheClick) {
    main.AlarmMOFF_MouseUp(mouse());
    EXPECT_EQ(log, (std::vector<std::string>{"messageBox", "click"}));
    ASSERT_EQ(desktop.messages.size(), 1U);
    EXPECT_EQ(desktop.messages[0].second, "MP3 Tovrel");
    EXPECT_EQ(desktop.messages[0].first,
              "There is no MP3 file selected!\n\r- Press the SETTING button\n\r"
              "- Press the BROWSE button to choose a file\n\r- Choose the alarm time with the SCROLLBAR\n\r"
              "- Press ALARM button again");
    EXPECT_EQ(main.AlarmArmed, False);
    EXPECT_EQ(main.LblAlarmStatus.Caption(), "Off");
    EXPECT_EQ(
        visible({&main.AlarmUOFF, &main.AlarmMOFF, &main.AlarmDOFF, &main.AlarmUON, &main.AlarmMON, &main.AlarmDON}),
        std::vector<std::string>{"AlarmMOFF"});
    // While the notice was up the window showed the ON face and "On".
    const std::vector<std::string> expected{"-AlarmUOFF", "+AlarmMON",  "LblAlarmStatus=On",
                                            "-AlarmMON",  "+AlarmMOFF", "LblAlarmStatus=Off"};
    EXPECT_EQ(recorder->changes, expected);
    EXPECT_EQ(clicks.played, std::vector<std::string>{"/opt/tovrel/Tovrel.wav"});
}

TEST_F(CommandsTest, SwitchOnWithAFileArmsSilently) {
    chooseFile("/home/ann/Music/Wake.mp3");
    resetLog();
    main.AlarmMOFF_MouseUp(mouse());
    EXPECT_EQ(log, std::vector<std::string>{"click"});
    EXPECT_EQ(main.AlarmArmed, True);
    EXPECT_EQ(main.Ringing, False);
    EXPECT_EQ(main.LblAlarmStatus.Caption(), "On");
    EXPECT_EQ(
        visible({&main.AlarmUOFF, &main.AlarmMOFF, &main.AlarmDOFF, &main.AlarmUON, &main.AlarmMON, &main.AlarmDON}),
        std::vector<std::string>{"AlarmMON"});
    EXPECT_EQ(main.SnoozeU.Enabled(), False);
    EXPECT_EQ(main.SettingU.Enabled(), True);
}

TEST_F(CommandsTest, SwitchOffFromEveryState) {
    // Off: still stops the player and empties the bar.
    main.AlarmMON_MouseUp(mouse());
    EXPECT_EQ(log, (std::vector<std::string>{"Player.stop", "click"}));
    EXPECT_EQ(main.AlarmArmed, False);

    // Armed, not ringing.
    armWithFile();
    resetLog();
    main.AlarmMON_MouseUp(mouse());
    EXPECT_EQ(log, (std::vector<std::string>{"Player.stop", "click"}));
    EXPECT_EQ(main.AlarmArmed, False);
    EXPECT_EQ(main.LblAlarmStatus.Caption(), "Off");

    // Ringing, with the bar drawn and the alarm time moved on by the follow.
    ring();
    player.lengthValue = 100;
    player.positionValue = 50;
    main.Timer_Timer();
    desktop.clock = "7:32:00 AM";
    main.Timer_Timer();
    main.Timer_Timer();
    ASSERT_EQ(main.ScrlAlarmChg.Value(), 452);
    resetLog();
    main.AlarmMON_MouseUp(mouse());
    EXPECT_EQ(log, (std::vector<std::string>{"Player.stop", "click"}));
    EXPECT_EQ(main.Ringing, False);
    EXPECT_EQ(main.AlarmArmed, False);
    EXPECT_EQ(main.SnoozeU.Enabled(), False);
    EXPECT_EQ(main.SettingU.Enabled(), True);
    EXPECT_EQ(main.Line1.X2(), 220.0F);
    EXPECT_EQ(main.Line2.X2(), 220.0F);
    EXPECT_EQ(main.ScrlAlarmChg.Value(), 452) << "the followed time stays";
    EXPECT_EQ(visible({&main.AlarmUOFF, &main.AlarmMOFF, &main.AlarmUON, &main.AlarmMON}),
              std::vector<std::string>{"AlarmMOFF"});
    // It does not fire again at its minute until switched on again.
    desktop.clock = "7:32:30 AM";
    resetLog();
    main.Timer_Timer();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Player.play"), 0);
}

TEST_F(CommandsTest, SnoozeSilencesAndMovesTheAlarmOnByTheSnoozeLength) {
    ring();
    main.pointerMove(over(main.SnoozeU));
    main.pointerDown(over(main.SnoozeM));
    main.pointerUp(over(main.SnoozeM));
    EXPECT_EQ(log, (std::vector<std::string>{"Player.stop", "click"}));
    EXPECT_EQ(main.ScrlAlarmChg.Value(), 455);
    EXPECT_EQ(main.LblAlarmTime.Caption(), "7:35 AM");
    EXPECT_EQ(main.Ringing, False);
    EXPECT_EQ(main.AlarmArmed, True);
    EXPECT_EQ(visible({&main.SnoozeU, &main.SnoozeM, &main.SnoozeD}), std::vector<std::string>{"SnoozeU"});
    EXPECT_EQ(main.SnoozeU.Enabled(), False);
    EXPECT_EQ(main.SettingU.Enabled(), False) << "only the switch-off makes settings usable again";
    EXPECT_EQ(main.LblAlarmStatus.Caption(), "On");
    // It rings again at the new minute.
    desktop.clock = "7:35:00 AM";
    resetLog();
    main.Timer_Timer();
    EXPECT_EQ(main.Ringing, True);
    EXPECT_EQ(log.back(), "Player.play");
}

TEST_F(CommandsTest, SnoozeArithmeticWrapsPastMidnight) {
    struct Row {
        int alarm;
        int snooze;
        int after;
    };
    for (const Row& r : {Row{450, 5, 455}, Row{1434, 5, 1439}, Row{1435, 5, 0}, Row{1438, 120, 118}, Row{1439, 1, 0},
                         Row{0, 120, 120}}) {
        main.ScrlAlarmChg.setValue(r.alarm);
        main.ScrlSnooze.setValue(r.snooze);
        main.SnoozeM_MouseUp(mouse());
        EXPECT_EQ(main.ScrlAlarmChg.Value(), r.after) << r.alarm << "+" << r.snooze;
    }
}

TEST_F(CommandsTest, SettingsOpensAndClosesThePanelByItsFlagAlone) {
    main.SettingM_MouseUp(mouse());
    EXPECT_EQ(main.SettingsOpen, True);
    EXPECT_EQ(main.Height(), shell::ExpandedHeight);
    EXPECT_EQ(visible({&main.SettingU, &main.SettingM, &main.SettingD}), std::vector<std::string>{"SettingM"});
    main.SettingM_MouseUp(mouse());
    EXPECT_EQ(main.SettingsOpen, False);
    EXPECT_EQ(main.Height(), shell::CollapsedHeight);
    EXPECT_EQ(clicks.played.size(), 2U);
    // The flag decides, not the height.
    main.setHeight(shell::ExpandedHeight);
    main.SettingM_MouseUp(mouse());
    EXPECT_EQ(main.Height(), shell::ExpandedHeight);
    EXPECT_EQ(main.SettingsOpen, True);
}

TEST_F(CommandsTest, BrowseShowsTheChosenFilesOwnName) {
    struct Row {
        const char* path;
        const char* shown;
    };
    for (const Row& r : {Row{"C:\\Music\\Morning.mp3", "Morning"}, Row{"C:\\My.Music\\Wake.up.mp3", "Wake"},
                         Row{"C:\\Music\\.mp3", ""}, Row{"/home/ann/Music/Wake.up.mp3", "Wake"},
                         Row{"/home/ann/My.Music/Morning.mp3", "Morning"}, Row{"/srv/mixed\\dir/Song.mp3", "Song"},
                         Row{"/home/ann/Music/wake", "wake"}, Row{"/home/ann/Music/*.mp3", "*"},
                         Row{"/home/ann/Mus ic/ä b.mp3", "ä b"}, Row{"/home/ann/Music/AC\\DC.mp3", "DC"}}) {
        chooseFile(r.path);
        EXPECT_EQ(main.LblMP3.Caption(), r.shown) << r.path;
    }
    EXPECT_EQ(log.front(), "Dialog.showOpen");
    EXPECT_TRUE(std::find(log.begin(), log.end(), "click") == log.end()) << "browse makes no click";
}

TEST_F(CommandsTest, CancellingTheDialogKeepsWhatWasThere) {
    main.BrowseM_MouseUp(mouse());  // cancelled, nothing ever chosen
    EXPECT_EQ(main.LblMP3.Caption(), "No File Selected");
    main.AlarmMOFF_MouseUp(mouse());
    EXPECT_EQ(desktop.messages.size(), 1U) << "still refused";

    chooseFile("/home/ann/Music/Wake.mp3");
    main.BrowseM_MouseUp(mouse());  // cancelled after a choice
    EXPECT_EQ(main.LblMP3.Caption(), "Wake");
    EXPECT_EQ(dialog.fileName(), "/home/ann/Music/Wake.mp3");
}

TEST_F(CommandsTest, ANameStartingWithADotCanBeArmed) {
    chooseFile("/home/ann/.mp3");
    EXPECT_EQ(main.LblMP3.Caption(), "");
    main.AlarmMOFF_MouseUp(mouse());
    EXPECT_EQ(main.AlarmArmed, True);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(CommandsTest, SuspendIsHeldOffExactlyWhileAnAlarmThatCanRingIsArmed) {
    const auto tick = [this](const char* clock) {
        desktop.clock = clock;
        main.Timer.Tick();
    };
    click(main.AlarmMOFF);  // refused: no file yet
    click(main.SettingM);
    dialog.nextChoice = "/home/ann/Music/Wake.mp3";
    click(main.BrowseM);
    tick("7:29:59 AM");
    EXPECT_TRUE(inhibitor.calls.empty());

    main.ScrlAlarmChg.setValue(450);
    click(main.AlarmMOFF);
    EXPECT_EQ(inhibitor.calls, Log{"hold"});
    click(main.SettingM);  // the panel closes and opens while armed
    click(main.SettingM);
    tick("7:30:00 AM");  // rings
    tick("7:31:00 AM");  // and follows the clock
    ASSERT_EQ(main.LblAlarmTime.Caption(), "7:31 AM");
    click(main.SnoozeM);
    tick("7:36:00 AM");  // rings again
    EXPECT_EQ(inhibitor.calls, Log{"hold"}) << "held once for the whole cycle";

    click(main.AlarmMON);
    EXPECT_EQ(inhibitor.calls, (Log{"hold", "release"}));
    click(main.AlarmMOFF);
    tick("7:36:30 AM");
    EXPECT_EQ(inhibitor.calls, (Log{"hold", "release", "hold"}));
}
