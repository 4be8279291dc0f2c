// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// What Tovrel's sound streams tell the desktop's sound server about their
// program, so that volume mixers show them with its name and icon, and
// policies by role (an alarm, an event sound) can tell them apart.

#include <array>
#include <utility>

namespace tovrel::platform {

inline constexpr std::array<std::pair<const char*, const char*>, 3> kApplicationSoundProperties{{
    {"application.name", "MP3 Tovrel"},
    {"application.icon_name", TOVREL_APP_ID},
    {"application.id", TOVREL_APP_ID},
}};

}  // namespace tovrel::platform
