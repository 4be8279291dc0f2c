// SPDX-License-Identifier: GPL-3.0-or-later
//
// The alarm follows the desktop's default output. The test runs its own
// PulseAudio server with two null sinks and moves the default from one to
// the other during playback, so that no shared server is disturbed.

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

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

// The private server, started before anything in the process talks to a
// sound server. It stays off every D-Bus session bus: a PulseAudio server
// claims the name org.PulseAudio1 there and exits when another has it.
struct PrivateServer {
    QTemporaryDir home;
    QProcess daemon;
    bool up = false;

    bool start() {
        if (!home.isValid() || !tovrel::testing::haveProgram("pulseaudio")) {
            return false;
        }
        const QString socket = QDir(home.path()).filePath("native");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_RUNTIME_DIR", home.path());
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        environment.remove("PULSE_SERVER");
        daemon.setProcessEnvironment(environment);
        daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon.setStandardOutputFile(QProcess::nullDevice());
        daemon.start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=false",
                                    "--log-level=error", "--realtime=no", "--high-priority=no",
                                    "--load=module-native-protocol-unix socket=" + socket + " auth-anonymous=1",
                                    "--load=module-null-sink sink_name=first_sink norewinds=1",
                                    "--load=module-null-sink sink_name=second_sink norewinds=1"});
        if (!daemon.waitForStarted()) {
            return false;
        }
        qputenv("PULSE_SERVER", ("unix:" + socket).toLocal8Bit());
        for (int i = 0; i < 50 && !up && daemon.state() == QProcess::Running; ++i) {
            up = tovrel::testing::run("pactl", {"info"}, 2s) == 0;
            if (!up) {
                QThread::msleep(100);
            }
        }
        return up && setDefault("first_sink");
    }

    static bool setDefault(const QString& sink) {
        return tovrel::testing::run("pactl", {"set-default-sink", sink}, 5s) == 0;
    }

    bool restart() {
        stop();
        up = false;
        return start();
    }

    ~PrivateServer() { stop(); }

    void stop() {
        if (daemon.state() != QProcess::NotRunning) {
            daemon.terminate();
            if (!daemon.waitForFinished(5000)) {
                daemon.kill();
                daemon.waitForFinished();
            }
        }
    }
};

PrivateServer* server = nullptr;

class DefaultOutput : public ::testing::Test {
protected:
    void SetUp() override {
        // scripts/test installs pulseaudio: a server that does not start is a fault.
        ASSERT_TRUE(server != nullptr && server->up) << "could not start a private PulseAudio server";
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(PrivateServer::setDefault("first_sink"));
    }

    QString file(const char* name) const { return QDir(folder.path()).filePath(name); }

    // Plays the file, moves the default output to the second sink midway,
    // and checks nothing sounds at the first sink afterwards; what reached
    // the second sink is left in second.wav.
    void playAndMoveTheDefault(const QString& path, bool tone) {
        GstMediaPlayer player;
        player.setMediaFile(path.toStdString());
        player.play();
        pumpEvents(500ms);
        EXPECT_EQ(player.playingFallbackTone(), tone);
        {
            SinkRecording second(file("second.wav"), "second_sink.monitor");
            ASSERT_TRUE(second.started());
            ASSERT_TRUE(PrivateServer::setDefault("second_sink"));
            pumpEvents(500ms);
            SinkRecording first(file("first.wav"), "first_sink.monitor");
            ASSERT_TRUE(first.started());
            pumpEvents(2500ms);
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
    ASSERT_TRUE(server->restart());
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

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    PrivateServer privateServer;
    if (!::testing::GTEST_FLAG(list_tests) && privateServer.start()) {
        server = &privateServer;
    }
    const int result = RUN_ALL_TESTS();
    server = nullptr;
    return result;
}
