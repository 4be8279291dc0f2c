// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The click the windows make: a short wave file decoded with libsndfile and
// played through PulseAudio, waiting until it has been heard.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "components/components.h"

namespace tovrel::platform {

// Decoded sound: interleaved 16-bit samples.
struct PcmSound {
    std::vector<std::int16_t> samples;
    int channels = 0;
    int sampleRate = 0;

    [[nodiscard]] std::int64_t frames() const;
    [[nodiscard]] std::chrono::milliseconds duration() const;
};

// The file decoded, or nothing when libsndfile cannot read it, it holds no
// sound, or the server could not take its layout.
[[nodiscard]] std::optional<PcmSound> decodeSoundFile(const std::string& path);

// The desktop's default sound: the freedesktop sound theme's bell, searched
// in the XDG data folders; nothing when no theme provides one.
[[nodiscard]] std::optional<std::string> desktopBellFile();

// A short beep made in code, the last resort.
[[nodiscard]] PcmSound builtInBeep();

class QtClickSound : public components::ClickSound {
public:
    // What the last play() sounded, and how it ended.
    enum class Source { None, File, DesktopBell, BuiltInBeep };
    enum class Ending { NotPlayed, Finished, NoServer, TimedOut };
    struct Outcome {
        Source source = Source::None;
        Ending ending = Ending::NotPlayed;
    };

    // How much longer than the sound itself play() may wait for the server.
    static constexpr std::chrono::milliseconds kDefaultGrace{1000};

    QtClickSound() = default;
    explicit QtClickSound(std::chrono::milliseconds grace) : grace_(grace) {}

    void play(const std::string& path) override;

    [[nodiscard]] Outcome lastOutcome() const { return last_; }

private:
    std::chrono::milliseconds grace_ = kDefaultGrace;
    Outcome last_;
};

}  // namespace tovrel::platform
