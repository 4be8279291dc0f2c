// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The alarm player: plays the chosen file over and over through GStreamer,
// and a built-in alarm tone whenever the file cannot be played, so that an
// armed alarm always makes a sound.
//
// The pipeline lives on a thread of its own. Nothing called here waits for
// it or for the sound server: play() and stop() hand the work over and
// return, and length() and position() read what the thread last reported.
// A sound server that accepts connections but never answers therefore holds
// up only that thread; the sound starts when the server answers.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "components/components.h"

namespace tovrel::platform {

class GstMediaPlayer : public components::MediaPlayer {
public:
    // One cycle of the built-in tone: four beeps, then quiet. While the tone
    // plays, length() reports this and position() runs from 0 up to it, then
    // starts again.
    static constexpr double kToneCycleSeconds = 2.0;

    GstMediaPlayer();
    ~GstMediaPlayer() override;

    GstMediaPlayer(const GstMediaPlayer&) = delete;
    GstMediaPlayer& operator=(const GstMediaPlayer&) = delete;

    // Takes effect at the next play().
    void setMediaFile(const std::string& path) override;
    // The file is opened here, not when it is set: it may have changed or
    // gone since it was chosen. A play() of the file already playing
    // changes nothing.
    void play() override;
    // Seconds; 0 until the playing file's length is known.
    double length() override;
    double position() override;
    void stop() override;

    // True from play() until stop().
    [[nodiscard]] bool isPlaying() const { return playing_; }
    // True while the built-in tone plays in place of the file.
    [[nodiscard]] bool playingFallbackTone() const;

    class Worker;

private:
    std::shared_ptr<Worker> worker_;
    std::string path_;         // to play next
    std::string playingPath_;  // playing now
    bool playing_ = false;
};

}  // namespace tovrel::platform
