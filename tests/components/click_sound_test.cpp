// SPDX-License-Identifier: GPL-3.0-or-later
//
// The click sound against a real sound server: the null sink named by
// PULSE_SERVER, whose monitor the tests record.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <string>

#include "platform/click_sound.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using tovrel::platform::QtClickSound;
using tovrel::testing::SinkRecording;
using Source = QtClickSound::Source;
using Ending = QtClickSound::Ending;

// Pulse needs a moment to start the stream, and the sink's monitor adds
// its own latency; a click ends later than its length by about this.
constexpr auto kExpectedOverrun = 600ms;

class ClickSoundAtSink : public tovrel::testing::SoundServerTest {
protected:
    std::chrono::milliseconds timedPlay(const QString& path) {
        QElapsedTimer clock;
        clock.start();
        click.play(path.toStdString());
        return std::chrono::milliseconds(clock.elapsed());
    }

    // What the desktop's default sound is here, and how long it lasts.
    static std::pair<Source, std::chrono::milliseconds> defaultSound() {
        if (const auto bell = tovrel::platform::desktopBellFile()) {
            if (const auto sound = tovrel::platform::decodeSoundFile(*bell)) {
                return {Source::DesktopBell, sound->duration()};
            }
        }
        return {Source::BuiltInBeep, tovrel::platform::builtInBeep().duration()};
    }

    // Plays something that is no sound and checks the default sound is
    // heard instead, within its own length plus the grace.
    void expectDefaultSoundFor(const QString& path) {
        const auto [source, length] = defaultSound();
        SinkRecording recording(file("heard.wav"));
        ASSERT_TRUE(recording.started());
        const auto took = timedPlay(path);
        recording.finish();
        std::cout << "[ measure  ] default sound of " << length.count() << " ms took " << took.count() << " ms\n";

        EXPECT_EQ(click.lastOutcome().source, source);
        EXPECT_EQ(click.lastOutcome().ending, Ending::Finished);
        EXPECT_LE(took, length + QtClickSound::kDefaultGrace);
        const auto heard = tovrel::testing::analyseSounding(file("heard.wav"));
        ASSERT_TRUE(heard) << "nothing reached the sink";
        EXPECT_GT(heard->rmsAmplitude, tovrel::testing::kAudibleRms);
    }

    QtClickSound click;
};

TEST_F(ClickSoundAtSink, PlaysAWaveFileWholeAndReturnsWhenItEnds) {
    const QString wav = file("click.wav");
    ASSERT_TRUE(tovrel::testing::makeWav(wav, 0.6, 660, 22050, 2));
    SinkRecording recording(file("heard.wav"));
    ASSERT_TRUE(recording.started());

    tovrel::testing::SinkInputsLater streams(300ms);
    const auto took = timedPlay(wav);
    recording.finish();
    std::cout << "[ measure  ] 600 ms wave took " << took.count() << " ms\n";
    EXPECT_TRUE(tovrel::testing::hasTovrelStream(streams.text(), "event", "Click"));

    EXPECT_EQ(click.lastOutcome().source, Source::File);
    EXPECT_EQ(click.lastOutcome().ending, Ending::Finished);
    EXPECT_GE(took, 580ms) << "returned before the sound was over";
    EXPECT_LE(took, 600ms + kExpectedOverrun);

    const auto heard = tovrel::testing::analyseSounding(file("heard.wav"));
    ASSERT_TRUE(heard) << "nothing reached the sink";
    EXPECT_NEAR(heard->seconds, 0.6, 0.05) << "the sound was cut or stretched";
    EXPECT_NEAR(heard->roughHz, 660, 30);
}

TEST_F(ClickSoundAtSink, PlaysTheProgramsClick) {
    const QString wav = QStringLiteral(TOVREL_SOURCE_DIR "/assets/Tovrel.wav");
    const auto sound = tovrel::platform::decodeSoundFile(wav.toStdString());
    ASSERT_TRUE(sound) << "libsndfile cannot read the program's click";

    const auto took = timedPlay(wav);
    std::cout << "[ measure  ] Tovrel.wav of " << sound->duration().count() << " ms took " << took.count() << " ms\n";

    EXPECT_EQ(click.lastOutcome().source, Source::File);
    EXPECT_EQ(click.lastOutcome().ending, Ending::Finished);
    EXPECT_GE(took, sound->duration() - 20ms);
    EXPECT_LE(took, sound->duration() + kExpectedOverrun);
}

TEST_F(ClickSoundAtSink, MissingFileSoundsTheDesktopDefault) { expectDefaultSoundFor(file("nowhere.wav")); }

TEST_F(ClickSoundAtSink, FileThatIsNoSoundSoundsTheDesktopDefault) {
    QFile text(file("notes.wav"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("RIFF? no, just a note to self\n");
    text.close();
    expectDefaultSoundFor(text.fileName());
}

TEST_F(ClickSoundAtSink, FolderSoundsTheDesktopDefault) { expectDefaultSoundFor(folder.path()); }

}  // namespace
