// SPDX-License-Identifier: GPL-3.0-or-later

#include "clock/time_text.h"

#include <initializer_list>

namespace tovrel::clock {

namespace {

// The pieces appended in order. (Written so rather than with "text" + string,
// on which GCC 12 at -O3 warns falsely about overlapping copies.)
std::string join(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (std::string_view piece : pieces) text.append(piece);
    return text;
}

std::string_view first(std::string_view s, std::size_t n) { return s.substr(0, n); }

std::string_view last(std::string_view s, std::size_t n) { return n >= s.size() ? s : s.substr(s.size() - n); }

// Minute piece: ":" and two digits.
std::string minutePiece(int m) {
    const std::string digits = DecimalText(m);
    if (m > 9) return join({":", last(digits, 2)});
    return join({":0", last(digits, 1)});
}

}  // namespace

std::string DecimalText(int value) { return join({" ", std::to_string(value)}); }

std::optional<CurrentTime> CurrentTimeFromClock(std::string_view clockText) {
    const std::size_t n = clockText.size();
    const bool endsInM = n > 0 && clockText.back() == 'M';
    if (n == 10 && endsInM)
        return CurrentTime{TimeStyle::TwelveHour, std::string(first(clockText, 4)) + std::string(last(clockText, 3))};
    if (n == 11 && endsInM)
        return CurrentTime{TimeStyle::TwelveHour, std::string(first(clockText, 5)) + std::string(last(clockText, 3))};
    if (n == 7 && !endsInM) return CurrentTime{TimeStyle::TwentyFourHour, std::string(first(clockText, 4))};
    if (n == 8 && !endsInM) return CurrentTime{TimeStyle::TwentyFourHour, std::string(first(clockText, 5))};
    return std::nullopt;
}

TimeStyle ClockStyle(std::string_view clockText) {
    return !clockText.empty() && clockText.back() == 'M' ? TimeStyle::TwelveHour : TimeStyle::TwentyFourHour;
}

std::string AlarmTimeText(std::int16_t minuteOfDay, TimeStyle style) {
    const int h = minuteOfDay / 60;
    const int m = minuteOfDay % 60;
    if (style == TimeStyle::TwelveHour) {
        std::string hour;
        if (h > 12)
            hour = DecimalText(h - 12);
        else if (h == 0)
            hour = " 12";
        else
            hour = DecimalText(h);
        hour = std::string(last(hour, hour.size() == 3 ? 2 : 1));
        return join({hour, minutePiece(m), minuteOfDay > 719 ? " PM" : " AM"});
    }
    const std::string hourDigits = DecimalText(h);
    const std::string hour = h < 10 ? join({"0", last(hourDigits, 1)}) : std::string(last(hourDigits, 2));
    return join({hour, minutePiece(m)});
}

}  // namespace tovrel::clock
