// SPDX-License-Identifier: GPL-3.0-or-later
//
// The alarm follows the desktop's default output. The test desktop's sound
// server (CMakeLists.txt), not shared with other tests, has two null sinks;
// the default moves from one to the other during playback.

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "platform/media_player.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using tovrel::platform::GstMediaPlayer;
using tovrel::testing::analyseSounding;
using tovrel::testing::pumpEvents;
using tovrel::testing::SinkRecording;

bool setDefault(const QString& sink) { return tovrel::testing::run("pactl", {"set-default-sink", sink}, 5s) == 0; }

class DefaultOutput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(setDefault("first_sink")) << "no sink first_sink: not on the test desktop (run through ctest)";
        ASSERT_TRUE(folder.isValid());
    }

    QString file(const char* name) const { return QDir(folder.path()).filePath(name); }

    // Plays the file, moves the default output to the second sink midway,
    // and checks nothing sounds at the first sink afterwards; what reached
    // the second sink is left in second.wav. It records past the built-in
    // tone's third round of beeps (the second round starts 2 s after the
    // first), so that two rounds reach the second sink whenever the move
    // came.
    void playAndMoveTheDefault(const QString& path, bool tone) {
        GstMediaPlayer player;
        player.setMediaFile(path.toStdString());
        player.play();
        pumpEvents(500ms);
        EXPECT_EQ(player.playingFallbackTone(), tone);
        {
            SinkRecording second(file("second.wav"), "second_sink.monitor");
            ASSERT_TRUE(second.started());
            ASSERT_TRUE(setDefault("second_sink"));
            pumpEvents(500ms);
            SinkRecording first(file("first.wav"), "first_sink.monitor");
            ASSERT_TRUE(first.started());
            pumpEvents(3500ms);
            EXPECT_EQ(player.playingFallbackTone(), tone);
            player.stop();
        }
        EXPECT_FALSE(analyseSounding(file("first.wav"))) << "still sounding at the old default";
    }

    QTemporaryDir folder;
};

TEST_F(DefaultOutput, FilePlaybackMovesToTheNewDefault) {
    const QString mp3 = file("song.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, 300));
    playAndMoveTheDefault(mp3, false);
    const auto heard = analyseSounding(file("second.wav"));
    ASSERT_TRUE(heard) << "nothing reached the new default";
    EXPECT_GT(heard->seconds, 2.5);
    EXPECT_NEAR(heard->roughHz, 300, 15);
}

TEST_F(DefaultOutput, AlarmToneMovesToTheNewDefault) {
    playAndMoveTheDefault(file("missing.mp3"), true);
    // Only the first beep's pitch means something; a stretch with pauses
    // in it has no single frequency.
    const auto beep = analyseSounding(file("second.wav"), 0.08);
    ASSERT_TRUE(beep) << "nothing reached the new default";
    EXPECT_NEAR(beep->roughHz, 880, 60);
    const auto heard = analyseSounding(file("second.wav"));
    ASSERT_TRUE(heard);
    EXPECT_GT(heard->seconds, 2.0) << "the tone did not go on at the new default";
}

TEST_F(DefaultOutput, AnAlarmAfterTheServerRestartedIsHeard) {
    // The sound server restarts between two alarms (an update, a new
    // log-in): the second alarm must not wait on what is left of the first.
    const QString mp3 = file("song.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, 300));
    GstMediaPlayer player;
    player.setMediaFile(mp3.toStdString());
    player.play();
    pumpEvents(500ms);
    player.stop();
    ASSERT_TRUE(tovrel::testing::desktop("restart", "sound"));
    ASSERT_TRUE(setDefault("first_sink"));
    {
        SinkRecording recording(file("first.wav"), "first_sink.monitor");
        ASSERT_TRUE(recording.started());
        player.play();
        pumpEvents(1500ms);
        player.stop();
    }
    const auto heard = analyseSounding(file("first.wav"));
    ASSERT_TRUE(heard) << "the alarm after the restart was not heard";
    EXPECT_GT(heard->seconds, 1.0);
}

}  // namespace
