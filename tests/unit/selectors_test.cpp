// SPDX-License-Identifier: GPL-3.0-or-later
//
// The alarm-time and snooze-length selectors keep their labels in step.

#include <gtest/gtest.h>

#include "unit/main_window.h"

using namespace tovrel::forms;
using tovrel::testing::MainWindowTest;

TEST_F(MainWindowTest, AlarmTimeLabelFollowsTheSelectorInTheClocksStyle) {
    load("7:29:58 AM");
    struct Row {
        int value;
        const char* twelve;
        const char* twentyFour;
    };
    for (const Row& r : {Row{719, "11:59 AM", "11:59"}, Row{720, "12:00 PM", "12:00"}, Row{1439, "11:59 PM", "23:59"},
                         Row{0, "12:00 AM", "00:00"}}) {
        desktop.clock = "7:29:58 AM";
        main.ScrlAlarmChg.setValue(r.value == 0 ? 1 : r.value - 1);
        main.ScrlAlarmChg.setValue(r.value);
        EXPECT_EQ(main.LblAlarmTime.Caption(), r.twelve);
        desktop.clock = "07:29:58";
        main.ScrlAlarmChg.setValue(r.value == 0 ? 1 : r.value - 1);
        main.ScrlAlarmChg.setValue(r.value);
        EXPECT_EQ(main.LblAlarmTime.Caption(), r.twentyFour);
    }
    EXPECT_THROW(main.ScrlAlarmChg.setValue(1440), std::out_of_range) << "one step past the maximum is refused";
}

TEST_F(MainWindowTest, AStyleChangeReachesTheAlarmLabelOnlyAtTheNextSelectorChange) {
    load("7:29:58 AM");
    main.ScrlAlarmChg.setValue(450);
    desktop.clock = "07:29:58";
    main.Timer_Timer();
    EXPECT_EQ(main.LblRealTime.Caption(), "07:29");
    EXPECT_EQ(main.LblAlarmTime.Caption(), "7:30 AM");
    // A 12-hour text the full test does not recognise still renders the
    // alarm in the 12-hour style.
    desktop.clock = "7:29 PM";
    main.ScrlAlarmChg.setValue(451);
    EXPECT_EQ(main.LblAlarmTime.Caption(), "7:31 AM");
}

TEST_F(MainWindowTest, SnoozeLabelShowsTheLength) {
    load();
    main.ScrlSnooze.setValue(1);
    EXPECT_EQ(main.LblSnooze.Caption(), "Snooze: 1 Min");
    main.ScrlSnooze.setValue(120);
    EXPECT_EQ(main.LblSnooze.Caption(), "Snooze: 120 Min");
    main.ScrlSnooze.setValue(5);
    EXPECT_EQ(main.LblSnooze.Caption(), "Snooze: 5 Min");
    // The selectors touch nothing else.
    EXPECT_EQ(main.AlarmArmed, False);
    EXPECT_TRUE(log.empty());
}
