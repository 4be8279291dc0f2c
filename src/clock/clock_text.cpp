// SPDX-License-Identifier: GPL-3.0-or-later

#include "clock/clock_text.h"

namespace tovrel::clock {

bool FormatIsTwelveHour(std::string_view timeFormat) {
    bool quoted = false;
    for (char c : timeFormat) {
        if (c == '\'')
            quoted = !quoted;
        else if (!quoted && (c == 'a' || c == 'A'))
            return true;
    }
    return false;
}

namespace {

void appendTwoDigits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

}  // namespace

// Written by hand rather than with a formatting call: the clock is rendered
// twenty times a second for as long as the program runs.
std::string RenderClockText(bool twelveHour, int hour, int minute, int second) {
    std::string text;
    text.reserve(11);
    if (twelveHour) {
        const int h12 = hour % 12 == 0 ? 12 : hour % 12;
        if (h12 >= 10) text += '1';
        text += static_cast<char>('0' + h12 % 10);
    } else {
        appendTwoDigits(text, hour);
    }
    text += ':';
    appendTwoDigits(text, minute);
    text += ':';
    appendTwoDigits(text, second);
    if (twelveHour) text += hour < 12 ? " AM" : " PM";
    return text;
}

}  // namespace tovrel::clock
