// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Helpers for the component tests: running tools, making sound files,
// listening at the sound server's sink, and waiting with the event loop.

#include <gtest/gtest.h>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QProcess;

namespace tovrel::testing {

// Runs a program to its end; the exit code, or nothing when it could not
// start, crashed or ran too long.
std::optional<int> run(const QString& program, const QStringList& arguments,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20));
bool haveProgram(const QString& program);

// The desktop that ctest started for a test (a fixture, see CMakeLists.txt):
// its addresses, from the file named in TOVREL_DESKTOP_ENV, go into the
// environment. False when there is none.
bool useTestDesktop();
// Starts, stops or restarts one service of that desktop ("tray", "sound"),
// waiting until it answers.
bool desktop(const QString& command, const QString& service);

// A sine tone at half of full scale, e.g. makeWav(path, 0.5, 440, 44100, 2).
bool makeWav(const QString& path, double seconds, int hz, int rate = 44100, int channels = 1);
// The same tone (mono) encoded by lame at a constant bit rate, optionally
// behind an ID3v2 tag.
bool makeMp3(const QString& path, double seconds, int hz, bool id3Tag = false, int kbps = 128);

// Whether the sound server named in PULSE_SERVER answers.
bool soundServerAvailable();

// Skips a test that needs something this machine lacks, saying what; in CI
// (CI=true), where scripts/test has installed and started everything, fails it.
#define TOVREL_SKIP_LACKING(what)                                   \
    do {                                                            \
        if (qgetenv("CI") == "true") {                              \
            GTEST_FAIL() << (what) << " (CI must have everything)"; \
        }                                                           \
        GTEST_SKIP() << (what);                                     \
    } while (false)

// A test that plays to the sound server named in PULSE_SERVER (skipped when it
// does not answer), with a scratch folder for its files.
class SoundServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!soundServerAvailable()) {
            TOVREL_SKIP_LACKING("no sound server at PULSE_SERVER");
        }
        ASSERT_TRUE(folder.isValid());
    }

    QString file(const char* name) const { return QDir(folder.path()).filePath(name); }

    QTemporaryDir folder;
};

// Sound figures of (part of) a recording: its length, root mean square
// and peak level (of full scale), the frequency of a sine with the same
// ratio of change to level, and the longest stretch below 1 % of full scale
// between its first and last sound (nothing when it is silent).
struct SoundStats {
    double seconds = 0.0;
    double rmsAmplitude = 0.0;
    double maxAmplitude = 0.0;
    double roughHz = 0.0;
    std::optional<double> longestPause;
};
// From `start` seconds on, `length` seconds long (the rest when negative).
std::optional<SoundStats> analyse(const QString& wavPath, double start = 0.0, double length = -1.0);
// The sounding part of a recording (sound: above 2 % of full scale): from
// the first sound on, `length` seconds long, or up to the last sound when
// negative. Nothing when the recording is silent throughout.
std::optional<SoundStats> analyseSounding(const QString& wavPath, double length = -1.0);
// The longest pause of a whole recording; nothing when it cannot be read or
// is silent.
std::optional<double> longestPause(const QString& wavPath);
// Sound louder than the null sink's silence.
constexpr double kAudibleRms = 0.01;

// Records what a sink plays (its monitor; the default sink's unless named)
// into a wave file while it lives, or until finish().
class SinkRecording {
public:
    explicit SinkRecording(const QString& wavPath, const QString& monitor = "@DEFAULT_MONITOR@");
    ~SinkRecording();
    SinkRecording(const SinkRecording&) = delete;
    SinkRecording& operator=(const SinkRecording&) = delete;

    // False when the recorder did not start or hears nothing from the sink.
    [[nodiscard]] bool started() const;
    // Ends the recording and returns its figures.
    std::optional<SoundStats> finish();

private:
    QString path_;
    std::unique_ptr<QProcess> recorder_;
    bool flowing_ = false;
};

// Lists the sound server's streams (`pactl list sink-inputs`) after a
// delay, in the background, so that a call that blocks can be looked at.
class SinkInputsLater {
public:
    explicit SinkInputsLater(std::chrono::milliseconds delay);
    ~SinkInputsLater();
    SinkInputsLater(const SinkInputsLater&) = delete;
    SinkInputsLater& operator=(const SinkInputsLater&) = delete;
    // Waits for the list.
    QString text();

private:
    std::unique_ptr<QProcess> pactl_;
};
// Whether the list shows a stream of Tovrel's, with its program's name,
// icon and id, the given role and the given name.
::testing::AssertionResult hasTovrelStream(const QString& sinkInputs, const QString& role, const QString& name);

// Runs the event loop until the condition holds or the time is up; the
// condition's last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
// Runs the event loop for the given time.
void pumpEvents(std::chrono::milliseconds time);

}  // namespace tovrel::testing
