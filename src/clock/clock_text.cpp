#include "clock/clock_text.h"

#include <cstdio>

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

std::string RenderClockText(bool twelveHour, int hour, int minute, int second) {
    char buf[32];
    if (twelveHour) {
        const int h12 = hour % 12 == 0 ? 12 : hour % 12;
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, minute, second, hour < 12 ? "AM" : "PM");
    } else {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, minute, second);
    }
    return buf;
}

}  // namespace tovrel::clock
