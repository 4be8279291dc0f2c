// SPDX-License-Identifier: GPL-3.0-or-later
//
// Sound without a working server. The test run names a socket in
// PULSE_SERVER and says in TOVREL_FAKE_PULSE what sits behind it: "dead"
// (connections refused) or "hung" (connections never answered). The
// players must not freeze the program either way.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>

#include "platform/click_sound.h"
#include "platform/media_player.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using tovrel::platform::GstMediaPlayer;
using tovrel::platform::QtClickSound;
using tovrel::testing::pumpEvents;

std::chrono::milliseconds timed(const std::function<void()>& action) {
    QElapsedTimer clock;
    clock.start();
    action();
    return std::chrono::milliseconds(clock.elapsed());
}

// Sets up the fake server named by the environment once for the run.
class FakeServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QByteArray server = qgetenv("PULSE_SERVER");
        kind_ = qgetenv("TOVREL_FAKE_PULSE");
        if (!server.startsWith("unix:") || (kind_ != "dead" && kind_ != "hung")) {
            return;
        }
        const QByteArray path = server.mid(5);
        QDir().mkpath(QFileInfo(QString::fromLocal8Bit(path)).absolutePath());
        ::unlink(path.constData());
        socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        // Bound but not listening refuses every connection; listening but
        // never accepting leaves every client waiting for an answer.
        if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            (kind_ == "hung" && ::listen(socket_, 16) != 0)) {
            kind_.clear();
        }
    }

    void SetUp() override {
        if (kind_ != expected()) {
            GTEST_SKIP() << "run with TOVREL_FAKE_PULSE=" << expected().constData()
                         << " and PULSE_SERVER=unix:<socket>";
        }
        ASSERT_TRUE(folder.isValid());
        wav = QDir(folder.path()).filePath("click.wav");
        ASSERT_TRUE(tovrel::testing::makeWav(wav, 0.6, 660));
    }

    [[nodiscard]] virtual QByteArray expected() const = 0;

    static inline QByteArray kind_;
    static inline int socket_ = -1;
    QTemporaryDir folder;
    QString wav;
};

class DeadServer : public FakeServer {
    [[nodiscard]] QByteArray expected() const override { return "dead"; }
};

class HungServer : public FakeServer {
    [[nodiscard]] QByteArray expected() const override { return "hung"; }
};

TEST_F(DeadServer, ClickReturnsAtOnceForFileAndDefaultSound) {
    QtClickSound click;
    EXPECT_LT(timed([&] { click.play(wav.toStdString()); }), 200ms);
    EXPECT_EQ(click.lastOutcome().ending, QtClickSound::Ending::NoServer);
    EXPECT_LT(timed([&] { click.play("/nowhere/click.wav"); }), 200ms);
    EXPECT_EQ(click.lastOutcome().ending, QtClickSound::Ending::NoServer);
}

TEST_F(DeadServer, PlayerPlaysAndStopsWithoutHanging) {
    const QString mp3 = QDir(folder.path()).filePath("song.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, 300));
    GstMediaPlayer player;
    player.setMediaFile(mp3.toStdString());
    ::testing::internal::CaptureStderr();
    EXPECT_LT(timed([&] { player.play(); }), 200ms);
    pumpEvents(1s);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                ::testing::HasSubstr("tovrel: cannot play " + mp3.toStdString() +
                                     " to the sound server (Failed to connect: Connection refused); trying again"));
    const auto stopping = timed([&] { player.stop(); });
    std::cout << "[ measure  ] stop() without a server took " << stopping.count() << " ms\n";
    EXPECT_LT(stopping, 1500ms);

    player.setMediaFile("/nowhere/song.mp3");
    EXPECT_LT(timed([&] { player.play(); }), 200ms);
    EXPECT_TRUE(tovrel::testing::waitUntil([&] { return player.playingFallbackTone(); }, 1s));
    pumpEvents(500ms);
    EXPECT_LT(timed([&] { player.stop(); }), 200ms);
}

TEST_F(HungServer, PlayerNeverHoldsUpTheCaller) {
    // The player's own thread waits for the server; the program does not:
    // not at play(), stop() and the reads of every tick, nor at its end.
    const QString mp3 = QDir(folder.path()).filePath("song.mp3");
    ASSERT_TRUE(tovrel::testing::makeMp3(mp3, 1.0, 300));
    const auto ending = timed([&] {
        GstMediaPlayer player;
        for (const auto& path : {mp3, QStringLiteral("/nowhere/song.mp3")}) {
            player.setMediaFile(path.toStdString());
            EXPECT_LT(timed([&] { player.play(); }), 50ms);
            EXPECT_LT(timed([&] {
                          for (int tick = 0; tick < 20; ++tick) {
                              player.length();
                              player.position();
                              pumpEvents(50ms);
                          }
                      }),
                      1500ms);
            EXPECT_LT(timed([&] { player.stop(); }), 50ms);
        }
    });
    EXPECT_LT(ending, 4s);
}

TEST_F(HungServer, ClickGivesUpAfterItsLengthAndTheGrace) {
    QtClickSound click;
    const auto took = timed([&] { click.play(wav.toStdString()); });
    EXPECT_EQ(click.lastOutcome().ending, QtClickSound::Ending::TimedOut);
    EXPECT_GE(took, 600ms + QtClickSound::kDefaultGrace - 50ms);
    EXPECT_LE(took, 600ms + QtClickSound::kDefaultGrace + 200ms);

    // The worker of the abandoned click still waits on the server; a second
    // click is not held up by it.
    QtClickSound quick(100ms);
    const auto second = timed([&] { quick.play("/nowhere/click.wav"); });
    EXPECT_EQ(quick.lastOutcome().ending, QtClickSound::Ending::TimedOut);
    EXPECT_LE(second, tovrel::platform::builtInBeep().duration() + 300ms);
}

}  // namespace
