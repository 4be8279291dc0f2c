// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>

namespace tovrel::clock {

// Where the progress bar's right end goes for a playback position and length
// (same unit): left + whole(position * track) div whole(length), with the
// bar's left end and track from the layout (220 and 120 pixels), where whole
// rounds to the nearest integer with ties to even and div truncates. A length
// that rounds to 0 gives no end (nothing is drawn); a result that does not
// fit a 32-bit integer raises an overflow error.
std::optional<float> ProgressEnd(double position, double length);

}  // namespace tovrel::clock
