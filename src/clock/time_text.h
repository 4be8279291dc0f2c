// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The three rules that make the clock's text and the alarm's text
// comparable: every time the program shows is text, and the alarm fires when
// the two texts are equal character for character. Texts are measured in
// characters; the clock texts this program renders are plain ASCII.

namespace tovrel::clock {

enum class TimeStyle { TwelveHour, TwentyFourHour };

struct CurrentTime {
    TimeStyle style;
    std::string text;  // e.g. "9:05 AM" or "21:05"
};

// Full style test: recognises "h:mm:ss AM" (10 or 11 characters ending in
// "M") and "h:mm:ss" (7 or 8 characters) and cuts the seconds off. Anything
// else is not recognised.
std::optional<CurrentTime> CurrentTimeFromClock(std::string_view clockText);

// The minute of the day (0..1439) a recognised clock text reads, or nothing
// when its hour and minute are not digits of a time of day.
std::optional<std::int16_t> MinuteFromClock(std::string_view clockText);

// Last-letter style test: 12-hour when the text ends in "M". Never fails.
TimeStyle ClockStyle(std::string_view clockText);

// The alarm-time text of a minute of the day (0..1439): "9:05 AM" / "09:05".
std::string AlarmTimeText(std::int16_t minuteOfDay, TimeStyle style);

// A non-negative number's digits preceded by one space (the sign position).
std::string DecimalText(int value);

}  // namespace tovrel::clock
