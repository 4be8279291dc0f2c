// SPDX-License-Identifier: GPL-3.0-or-later
//
// The time texts: what the clock shows and what the alarm compares with.

#include <gtest/gtest.h>

#include "clock/clock_text.h"
#include "clock/time_text.h"

using namespace tovrel::clock;

namespace {
std::string cut(std::string_view clockText) {
    auto t = CurrentTimeFromClock(clockText);
    return t ? t->text : "<not recognised>";
}
}  // namespace

TEST(CurrentTimeText, CutsTheSecondsOffTheFourRecognisedShapes) {
    EXPECT_EQ(cut("9:05:07 AM"), "9:05 AM");
    EXPECT_EQ(cut("11:05:07 PM"), "11:05 PM");
    EXPECT_EQ(cut("9:05:07"), "9:05");
    EXPECT_EQ(cut("21:05:07"), "21:05");
    EXPECT_EQ(cut("12:00:00 AM"), "12:00 AM");
    EXPECT_EQ(cut("12:30:00 PM"), "12:30 PM");
    EXPECT_EQ(cut("09:05:07"), "09:05");
    EXPECT_EQ(cut("09:05:07 AM"), "09:05 AM");
    EXPECT_EQ(CurrentTimeFromClock("9:05:07 AM")->style, TimeStyle::TwelveHour);
    EXPECT_EQ(CurrentTimeFromClock("21:05:07")->style, TimeStyle::TwentyFourHour);
}

TEST(CurrentTimeText, RefusesOtherShapes) {
    for (const char* text : {"9:05 AM", "9:05:07 am", "11:05:07 pm", "7:29:58 AM UTC", "", "21:05", "123456789"})
        EXPECT_FALSE(CurrentTimeFromClock(text)) << text;
    // Seven or eight characters not ending in "M" are taken as 24-hour,
    // whatever they hold.
    EXPECT_EQ(cut("abcdefg"), "abcd");
    EXPECT_EQ(cut("abcdefgh"), "abcde");
}

TEST(ClockStyleTest, LooksOnlyAtTheLastLetter) {
    EXPECT_EQ(ClockStyle("9:05 AM"), TimeStyle::TwelveHour);
    EXPECT_EQ(ClockStyle("M"), TimeStyle::TwelveHour);
    EXPECT_EQ(ClockStyle("9:05:07 am"), TimeStyle::TwentyFourHour);
    EXPECT_EQ(ClockStyle(""), TimeStyle::TwentyFourHour);
    EXPECT_EQ(ClockStyle("21:05:07"), TimeStyle::TwentyFourHour);
}

TEST(AlarmTimeTextTest, RendersEveryMinuteOfTheTable) {
    struct Row {
        std::int16_t minute;
        const char* twelve;
        const char* twentyFour;
    };
    for (const Row& r : {Row{0, "12:00 AM", "00:00"}, Row{5, "12:05 AM", "00:05"}, Row{59, "12:59 AM", "00:59"},
                         Row{60, "1:00 AM", "01:00"}, Row{545, "9:05 AM", "09:05"}, Row{719, "11:59 AM", "11:59"},
                         Row{720, "12:00 PM", "12:00"}, Row{750, "12:30 PM", "12:30"}, Row{780, "1:00 PM", "13:00"},
                         Row{1439, "11:59 PM", "23:59"}}) {
        EXPECT_EQ(AlarmTimeText(r.minute, TimeStyle::TwelveHour), r.twelve) << r.minute;
        EXPECT_EQ(AlarmTimeText(r.minute, TimeStyle::TwentyFourHour), r.twentyFour) << r.minute;
    }
}

TEST(AlarmTimeTextTest, EveryMinuteMatchesTheClockOfThatMinuteInBothStyles) {
    // The alarm fires on text equality: for each minute of the day the
    // program's own clock text must cut to exactly the alarm's text.
    for (int v = 0; v < 1440; ++v) {
        const int h = v / 60;
        const int m = v % 60;
        const auto minute = static_cast<std::int16_t>(v);
        EXPECT_EQ(cut(RenderClockText(true, h, m, 59)), AlarmTimeText(minute, TimeStyle::TwelveHour)) << v;
        EXPECT_EQ(cut(RenderClockText(false, h, m, 0)), AlarmTimeText(minute, TimeStyle::TwentyFourHour)) << v;
    }
}

TEST(ClockTextRendering, FixedShapesWithEnglishDesignators) {
    EXPECT_EQ(RenderClockText(true, 0, 0, 0), "12:00:00 AM");
    EXPECT_EQ(RenderClockText(true, 7, 29, 58), "7:29:58 AM");
    EXPECT_EQ(RenderClockText(true, 12, 0, 1), "12:00:01 PM");
    EXPECT_EQ(RenderClockText(true, 23, 59, 59), "11:59:59 PM");
    EXPECT_EQ(RenderClockText(false, 7, 5, 9), "07:05:09");
    EXPECT_EQ(RenderClockText(false, 0, 0, 0), "00:00:00");
}

TEST(ClockTextRendering, TakesTheTwelveHourChoiceFromTheLocaleFormat) {
    EXPECT_TRUE(FormatIsTwelveHour("h:mm:ss AP t"));  // en_US
    EXPECT_TRUE(FormatIsTwelveHour("h:mm:ss ap"));
    EXPECT_TRUE(FormatIsTwelveHour("hh:mm:ss A"));
    EXPECT_FALSE(FormatIsTwelveHour("HH:mm:ss t"));          // C, de_DE
    EXPECT_FALSE(FormatIsTwelveHour("HH 'h' mm 'and' ss"));  // quoted letters are text
    EXPECT_FALSE(FormatIsTwelveHour(""));
}
