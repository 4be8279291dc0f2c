// SPDX-License-Identifier: GPL-3.0-or-later
//
// The alarm player against a real sound server: the null sink named by
// PULSE_SERVER, whose monitor the tests record.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "platform/media_player.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using tovrel::platform::GstMediaPlayer;
using tovrel::testing::analyse;
using tovrel::testing::analyseSounding;
using tovrel::testing::kAudibleRms;
using tovrel::testing::pumpEvents;
using tovrel::testing::SinkRecording;
using tovrel::testing::waitUntil;

// stop() runs on the GUI thread when the user dismisses the alarm.
constexpr auto kQuickStop = 250ms;
constexpr int kFileHz = 300;
constexpr int kToneHz = 880;

std::chrono::milliseconds timed(const std::function<void()>& action) {
    QElapsedTimer clock;
    clock.start();
    action();
    return std::chrono::milliseconds(clock.elapsed());
}

class PlayerAtSink : public tovrel::testing::SoundServerTest {
protected:
    QString writeFile(const char* name, const QByteArray& bytes) const {
        QFile out(file(name));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        return out.fileName();
    }

    // Plays what is set for a while, recording the sink, and stops.
    // Returns how long stop() took.
    std::chrono::milliseconds playRecorded(std::chrono::milliseconds time) {
        SinkRecording recording(file("heard.wav"));
        EXPECT_TRUE(recording.started());
        player.play();
        pumpEvents(time);
        const auto stopping = timed([this] { player.stop(); });
        pumpEvents(600ms);  // silence after the stop goes into the recording
        recording.finish();
        return stopping;
    }

    // The built-in tone is playing and can be heard.
    void expectToneHeard(const char* what) {
        SCOPED_TRACE(what);
        SinkRecording recording(file("heard.wav"));
        ASSERT_TRUE(recording.started());
        player.play();
        EXPECT_TRUE(player.isPlaying());
        EXPECT_TRUE(waitUntil([this] { return player.playingFallbackTone(); }, 1s));
        pumpEvents(1200ms);
        EXPECT_TRUE(tovrel::testing::hasTovrelStream(tovrel::testing::SinkInputsLater(0ms).text(), "alarm",
                                                     "Alarm: built-in tone"));
        EXPECT_DOUBLE_EQ(player.length(), GstMediaPlayer::kToneCycleSeconds);
        const double position = player.position();
        EXPECT_GT(position, 0.5) << "the tone's position does not run";
        EXPECT_LT(position, GstMediaPlayer::kToneCycleSeconds);
        EXPECT_LT(timed([this] { player.stop(); }), kQuickStop);
        EXPECT_FALSE(player.playingFallbackTone());
        recording.finish();

        const auto beep = analyseSounding(file("heard.wav"), 0.08);
        ASSERT_TRUE(beep) << "nothing reached the sink";
        EXPECT_GT(beep->rmsAmplitude, kAudibleRms);
        EXPECT_NEAR(beep->roughHz, kToneHz, 60);
    }

    GstMediaPlayer player;
};

TEST_F(PlayerAtSink, StopBeforeAnythingWasLoadedIsHarmlessAndQuick) {
    EXPECT_LT(timed([this] { player.stop(); }), 50ms);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.length(), 0.0);
    EXPECT_EQ(player.position(), 0.0);
    player.stop();
    EXPECT_FALSE(player.playingFallbackTone());
}

TEST_F(PlayerAtSink, PlaysAnMp3OverAndOverWithSaneLengthAndPosition) {
    const QString mp3 = file("song.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, kFileHz));
    player.setMediaFile(mp3.toStdString());

    SinkRecording recording(file("heard.wav"));
    ASSERT_TRUE(recording.started());
    const auto starting = timed([this] { player.play(); });
    EXPECT_LT(starting, 100ms) << "play() must return at once";
    ASSERT_TRUE(waitUntil([this] { return player.length() > 0.0; }, 3s)) << "length never known";
    EXPECT_NEAR(player.length(), 1.0, 0.1);
    EXPECT_TRUE(
        tovrel::testing::hasTovrelStream(tovrel::testing::SinkInputsLater(0ms).text(), "alarm", "Alarm: song.mp3"));

    // Watch the position through a few rounds: it stays within the file and
    // starts over at the end.
    std::vector<double> positions;
    waitUntil(
        [&] {
            positions.push_back(player.position());
            return false;
        },
        3000ms);
    int restarts = 0;
    for (std::size_t i = 1; i < positions.size(); ++i) {
        EXPECT_GE(positions[i], 0.0);
        EXPECT_LE(positions[i], player.length() + 0.05);
        if (positions[i] + 0.5 < positions[i - 1]) {
            ++restarts;
        }
    }
    EXPECT_GE(restarts, 2) << "the file did not repeat";
    EXPECT_FALSE(player.playingFallbackTone());

    const auto stopping = timed([this] { player.stop(); });
    EXPECT_LT(stopping, kQuickStop);
    std::cout << "[ measure  ] stop() during mp3 playback took " << stopping.count() << " ms\n";
    pumpEvents(800ms);
    recording.finish();

    const auto heard = analyseSounding(file("heard.wav"));
    ASSERT_TRUE(heard) << "nothing reached the sink";
    EXPECT_NEAR(heard->roughHz, kFileHz, 20) << "not the file's sound";
    EXPECT_GT(heard->seconds, 2.5) << "the sound did not go on past the file's end";
    // The file is a sine without a pause at either end: where one round
    // meets the next, nothing but the sine's own zero crossings is quiet.
    const auto pause = tovrel::testing::longestPause(file("heard.wav"));
    ASSERT_TRUE(pause);
    EXPECT_LT(*pause, 0.002) << "a gap between rounds";
    std::cout << "[ measure  ] longest pause while the mp3 repeats: " << *pause * 1000 << " ms\n";
    const auto all = analyse(file("heard.wav"));
    ASSERT_TRUE(all);
    const auto after = analyse(file("heard.wav"), all->seconds - 0.5);
    ASSERT_TRUE(after);
    EXPECT_LT(after->maxAmplitude, 0.01) << "still sounding after stop()";
}

TEST_F(PlayerAtSink, Mp3WithId3TagPlaysToo) {
    const QString mp3 = file("tagged.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, kFileHz, true));
    player.setMediaFile(mp3.toStdString());
    // The file's title does not rename the alarm's stream.
    tovrel::testing::SinkInputsLater streams(700ms);
    const auto stopping = playRecorded(1500ms);
    EXPECT_TRUE(tovrel::testing::hasTovrelStream(streams.text(), "alarm", "Alarm: tagged.mp3"));
    EXPECT_FALSE(player.playingFallbackTone());
    EXPECT_LT(stopping, kQuickStop);
    const auto heard = analyseSounding(file("heard.wav"));
    ASSERT_TRUE(heard);
    EXPECT_NEAR(heard->roughHz, kFileHz, 20);
}

TEST_F(PlayerAtSink, FilesThatCannotBePlayedSoundTheAlarmTone) {
    QByteArray noise(8192, '\0');
    QRandomGenerator random(20240601);
    for (auto& byte : noise) {
        byte = static_cast<char>(random.bounded(256));
    }
    noise[0] = 'x';  // not a frame sync by chance
    const std::vector<std::pair<const char*, QString>> cases{
        {"missing file", file("missing.mp3")},
        {"empty file", writeFile("empty.mp3", {})},
        {"folder", folder.path()},
        {"random bytes", writeFile("noise.mp3", noise)},
        {"text named .mp3", writeFile("readme.mp3", "Wake up at seven.\n")},
        {"frame header over garbage", writeFile("fake.mp3", QByteArray("\xFF\xFB\x50\xC4", 4) + QByteArray(4000, 'U'))},
        {"no file at all", QString()},
    };
    for (const auto& [what, path] : cases) {
        player.setMediaFile(path.toStdString());
        EXPECT_EQ(player.length(), 0.0) << what << ": nothing is loaded";
        ::testing::internal::CaptureStderr();
        expectToneHeard(what);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_THAT(said, ::testing::ContainsRegex("tovrel: cannot play " + path.toStdString() +
                                                   " \\([^)]+\\); ringing the built-in tone\n"))
            << what;
    }
}

TEST_F(PlayerAtSink, UnreadableFileSoundsTheAlarmTone) {
    const QString mp3 = file("locked.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, kFileHz));
    ASSERT_TRUE(QFile::setPermissions(mp3, QFileDevice::WriteOwner));
    if (QFile(mp3).open(QIODevice::ReadOnly)) {
        // Root reads any file. The player reads on threads of its own, and
        // capabilities are per thread: the test runs again in a process that
        // has none of the two that let it read (setpriv, as root).
        ASSERT_EQ(::geteuid(), 0U) << "a file of mode 0200 is readable";
        ASSERT_FALSE(qEnvironmentVariableIsSet("TOVREL_NO_DAC")) << "setpriv left the file readable";
        QProcess again;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TOVREL_NO_DAC", "1");
        again.setProcessEnvironment(environment);
        again.setProcessChannelMode(QProcess::ForwardedChannels);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        again.start("setpriv",
                    {"--bounding-set=-dac_override,-dac_read_search", "--", QCoreApplication::applicationFilePath(),
                     QString("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
        ASSERT_TRUE(again.waitForFinished(60000));
        EXPECT_EQ(again.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(again.exitCode(), 0);
        return;
    }
    player.setMediaFile(mp3.toStdString());
    expectToneHeard("unreadable");
}

TEST_F(PlayerAtSink, FileGoneBeforeTheAlarmSoundsTheTone) {
    const QString mp3 = file("song.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, kFileHz));
    player.setMediaFile(mp3.toStdString());
    ASSERT_TRUE(QFile::remove(mp3));
    expectToneHeard("removed after choosing");
}

TEST_F(PlayerAtSink, FileTheDecoderRejectsFallsBackAndLeavesThePlayerUsable) {
    // A wave header over garbage passes for a wave file until it is
    // decoded; the decoder's error must still end in the tone, and leave
    // neither stop() nor the next alarm waiting on the failed pipeline.
    QByteArray bytes("RIFF\x20\x4e\0\0WAVE", 12);
    bytes.append(QByteArray(20000, '\x55'));
    const QString fake = writeFile("broken.wav", bytes);

    player.setMediaFile(fake.toStdString());
    SinkRecording recording(file("heard.wav"));
    ASSERT_TRUE(recording.started());
    player.play();
    EXPECT_TRUE(waitUntil([this] { return player.playingFallbackTone(); }, 5s)) << "no fallback after the error";
    pumpEvents(1000ms);
    const auto stopping = timed([this] { player.stop(); });
    std::cout << "[ measure  ] stop() after a decoder error took " << stopping.count() << " ms\n";
    EXPECT_LT(stopping, kQuickStop);
    recording.finish();
    const auto beep = analyseSounding(file("heard.wav"), 0.08);
    ASSERT_TRUE(beep) << "nothing reached the sink";
    EXPECT_NEAR(beep->roughHz, kToneHz, 60);

    const QString good = file("song.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(good, 1.0, kFileHz));
    player.setMediaFile(good.toStdString());
    EXPECT_LT(timed([this] { player.play(); }), 100ms);
    EXPECT_TRUE(waitUntil([this] { return player.position() > 0.2; }, 3s));
    EXPECT_FALSE(player.playingFallbackTone());
    EXPECT_LT(timed([this] { player.stop(); }), kQuickStop);
}

TEST_F(PlayerAtSink, LaterAlarmsSoundFromTheStartLikeTheFirst) {
    // The file is chosen long before its alarm, and one alarm follows
    // another; each must be heard from the moment it starts.
    const QString mp3 = file("song.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, kFileHz));
    player.setMediaFile(mp3.toStdString());
    for (const char* alarm : {"first", "second"}) {
        SCOPED_TRACE(alarm);
        pumpEvents(2s);
        playRecorded(2s);
        const auto heard = analyseSounding(file("heard.wav"));
        ASSERT_TRUE(heard) << "nothing reached the sink";
        EXPECT_GT(heard->seconds, 1.5) << "of 2 s played";
        EXPECT_NEAR(heard->roughHz, kFileHz, 10);
        EXPECT_EQ(player.length(), 0.0) << "stopped, nothing is loaded";
    }
}

// What this process has used: CPU seconds (all threads) and resident bytes.
std::pair<double, double> cpuAndRss() {
    QFile stat("/proc/self/stat");
    QFile statm("/proc/self/statm");
    if (!stat.open(QIODevice::ReadOnly) || !statm.open(QIODevice::ReadOnly)) return {0.0, 0.0};
    // Fields after the command's closing parenthesis: utime and stime are 14 and 15.
    const QList<QByteArray> fields = stat.readAll().split(')').last().simplified().split(' ');
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    const double pages = statm.readAll().split(' ').value(1).toDouble();
    return {(fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks,
            pages * static_cast<double>(::sysconf(_SC_PAGESIZE))};
}

TEST_F(PlayerAtSink, FileChangedWhileItRingsKeepsSoundingWithoutARunaway) {
    const QString other = file("other.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(other, 2.0, kFileHz));
    QFile otherFile(other);
    ASSERT_TRUE(otherFile.open(QIODevice::ReadOnly));
    const QByteArray otherBytes = otherFile.readAll();
    struct Change {
        const char* what;
        std::function<void(QFile&)> change;  // in place, as an editor's save or a sync tool does
        bool tone;                           // the file gives no more sound
    };
    const std::vector<Change> changes{
        {"emptied", [](QFile& f) { f.resize(0); }, true},
        {"truncated to half a frame", [](QFile& f) { f.resize(200); }, true},
        {"overwritten with text", [](QFile& f) { f.resize(0) && f.write("Wake up at seven.\n"); }, true},
        {"overwritten with another mp3", [&otherBytes](QFile& f) { f.resize(0) && f.write(otherBytes); }, false},
    };
    for (const auto& [what, change, tone] : changes) {
        SCOPED_TRACE(what);
        const QString mp3 = file("ringing.mp3");
        // At a high bit rate GStreamer's parser, which reads 64 KiB at a time,
        // has less than two seconds of sound in hand when the file changes.
        ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 10.0, kFileHz, false, 320));
        player.setMediaFile(mp3.toStdString());
        SinkRecording recording(file("heard.wav"));
        player.play();
        ASSERT_TRUE(waitUntil([this] { return player.position() > 0.3; }, 3s));
        QFile inPlace(mp3);
        ASSERT_TRUE(inPlace.open(QIODevice::ReadWrite));
        change(inPlace);
        inPlace.close();
        EXPECT_EQ(waitUntil([this] { return player.playingFallbackTone(); }, 4s), tone);
        pumpEvents(500ms);
        recording.finish();
        // Sound throughout: the tone within a second of the file's last sound.
        const auto pause = tovrel::testing::longestPause(file("heard.wav"));
        ASSERT_TRUE(pause) << "nothing reached the sink";
        EXPECT_LT(*pause, 1.0) << "silent while it rings";
        const auto heard = analyse(file("heard.wav"));
        ASSERT_TRUE(heard);
        const auto end = analyse(file("heard.wav"), heard->seconds - 0.4);
        ASSERT_TRUE(end);
        EXPECT_GT(end->rmsAmplitude, kAudibleRms) << "silent while it rings";

        const auto [cpuBefore, rssBefore] = cpuAndRss();
        pumpEvents(5s);
        const auto [cpuAfter, rssAfter] = cpuAndRss();
        player.stop();
        std::cout << "[ measure  ] " << what << ": " << (cpuAfter - cpuBefore) / 5.0 * 100 << " % of a core, RSS "
                  << (rssAfter - rssBefore) / 1e6 << " MB more, longest pause " << *pause << " s\n";
        EXPECT_LT(cpuAfter - cpuBefore, 0.2 * 5.0) << "a runaway";
        EXPECT_LT(rssAfter - rssBefore, 5e6) << "memory without end";
    }
}

TEST_F(PlayerAtSink, NewFileDuringPlaybackTakesOverAtTheNextPlay) {
    const QString first = file("first.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(first, 1.0, kFileHz));
    player.setMediaFile(first.toStdString());
    player.play();
    ASSERT_TRUE(waitUntil([this] { return player.position() > 0.1; }, 3s));

    player.setMediaFile(file("missing.mp3").toStdString());
    pumpEvents(300ms);
    EXPECT_FALSE(player.playingFallbackTone()) << "the playing file was cut off";
    EXPECT_GT(player.length(), 0.5);

    player.play();
    EXPECT_TRUE(waitUntil([this] { return player.playingFallbackTone(); }, 1s));
    player.stop();
}

}  // namespace
