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

std::optional<std::int16_t> MinuteFromClock(std::string_view clockText) {
    const auto recognised = CurrentTimeFromClock(clockText);
    const std::size_t colon = clockText.find(':');
    if (!recognised || colon == std::string_view::npos) return std::nullopt;
    auto number = [](std::string_view digits) -> std::optional<int> {
        if (digits.empty()) return std::nullopt;
        int value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        return value;
    };
    const auto hour = number(clockText.substr(0, colon));
    const auto minute = number(clockText.substr(colon + 1, 2));
    if (!hour || !minute || *minute > 59) return std::nullopt;
    int h = *hour;
    if (recognised->style == TimeStyle::TwelveHour) {
        const std::string_view designator = last(clockText, 3);
        if (h < 1 || h > 12 || (designator != " AM" && designator != " PM")) return std::nullopt;
        h = h % 12 + (designator == " PM" ? 12 : 0);
    } else if (h > 23) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(h * 60 + *minute);
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
