// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <string_view>

// How the program renders the clock text it compares with the alarm time:
// only the 12/24-hour choice comes from the user's locale, the shape is
// fixed ("7:05:09 AM" or "07:05:09"), so that the zone names and localized
// designators of the locale's own format cannot keep the clock blank or the
// alarm from firing.

namespace tovrel::clock {

// Whether a locale time format (Qt's format letters) shows an AM/PM marker.
// Quoted literal text does not count.
bool FormatIsTwelveHour(std::string_view timeFormat);

// "h:mm:ss AM" / "h:mm:ss PM" (no leading zero, English designators) for
// the 12-hour style, "HH:mm:ss" for the 24-hour style.
std::string RenderClockText(bool twelveHour, int hour, int minute, int second);

}  // namespace tovrel::clock
