// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

namespace tovrel::forms {

// The toolkit's Boolean: a 16-bit integer, True stored as -1 and False as 0.
// Every flag of the program (element Visible/Enabled, the window's state
// record) holds one of these two values and nothing else.
using Flag = std::int16_t;

inline constexpr Flag True = -1;
inline constexpr Flag False = 0;

constexpr Flag toFlag(bool b) { return b ? True : False; }

// Pointer arguments as the toolkit passes them: button and shift state are
// 16-bit, the position is two single-precision numbers in the window's units.
struct MouseArgs {
    std::int16_t button = 1;
    std::int16_t shift = 0;
    float x = 0.0F;
    float y = 0.0F;
};

// Mouse button bits as the toolkit numbers them.
inline constexpr std::int16_t LeftButton = 1;
inline constexpr std::int16_t RightButton = 2;
inline constexpr std::int16_t MiddleButton = 4;

}  // namespace tovrel::forms
