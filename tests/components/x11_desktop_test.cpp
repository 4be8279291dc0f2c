// SPDX-License-Identifier: GPL-3.0-or-later
//
// The tray icon and the Open dialog on a real X server: the test starts
// its own Xvfb and a trayer notification area, and types and clicks with
// xdotool as a user (or a script) would.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <string>

#include "platform/application.h"
#include "platform/file_dialog.h"
#include "platform/tray_icon.h"
#include "support.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using tovrel::platform::QtFileDialog;
using tovrel::platform::QtTrayIcon;
using tovrel::testing::pumpEvents;
using tovrel::testing::waitUntil;

// A private Xvfb, started before the application connects to any display.
class XServer {
public:
    bool start() {
        int fds[2];
        if (::pipe(fds) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        char program[] = "Xvfb";
        char displayFd[] = "-displayfd";
        char three[] = "3";
        char screen[] = "-screen";
        char zero[] = "0";
        char size[] = "800x600x24";
        char noTcp[] = "-nolisten";
        char tcp[] = "tcp";
        char* argv[] = {program, displayFd, three, screen, zero, size, noTcp, tcp, nullptr};
        const int spawned = posix_spawnp(&pid_, program, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) {
            pid_ = -1;
            ::close(fds[0]);
            return false;
        }
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        pollfd wait{fds[0], POLLIN, 0};
        char c = 0;
        while (::poll(&wait, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) {
            return false;
        }
        display_ = ":" + number;
        return true;
    }

    [[nodiscard]] const std::string& display() const { return display_; }

    ~XServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
    std::string display_;
};

bool haveX = false;

// The X server's view of a window, from another client.
struct WindowInfo {
    bool exists = false;
    bool viewable = false;
    bool onRoot = true;  // not embedded anywhere
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

WindowInfo windowInfo(WId window) {
    QProcess xwininfo;
    xwininfo.start("xwininfo", {"-id", QString::number(window), "-tree", "-stats"});
    WindowInfo info;
    if (!xwininfo.waitForFinished(5000) || xwininfo.exitCode() != 0) {
        return info;
    }
    const QString text = QString::fromLocal8Bit(xwininfo.readAllStandardOutput());
    const auto number = [&text](const char* pattern) {
        const auto match = QRegularExpression(pattern).match(text);
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    };
    info.exists = true;
    info.viewable = text.contains("Map State: IsViewable");
    const auto root = QRegularExpression("Root window id: (0x[0-9a-f]+)").match(text).captured(1);
    const auto parent = QRegularExpression("Parent window id: (0x[0-9a-f]+)").match(text).captured(1);
    info.onRoot = parent.isEmpty() || parent == root;
    info.x = number("Absolute upper-left X:\\s+(-?\\d+)");
    info.y = number("Absolute upper-left Y:\\s+(-?\\d+)");
    info.width = number("Width:\\s+(\\d+)");
    info.height = number("Height:\\s+(\\d+)");
    return info;
}

// The window Qt docks into the notification area, once there is one.
std::optional<WId> iconWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "QSystemTrayIconSys") {
            return widget->winId();
        }
    }
    return std::nullopt;
}

bool docked() {
    const auto window = iconWindow();
    if (!window) {
        return false;
    }
    const WindowInfo info = windowInfo(*window);
    return info.exists && info.viewable && !info.onRoot;
}

bool xdotool(const QStringList& arguments) { return tovrel::testing::run("xdotool", arguments, 10s) == 0; }

void clickAt(int x, int y, int button) {
    // Not "mousemove --sync": it waits for ever when the pointer is
    // already there.
    ASSERT_TRUE(xdotool({"mousemove", QString::number(x), QString::number(y), "click", QString::number(button)}));
}

class TrayOnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveX) {
            TOVREL_SKIP_LACKING("no private X server (Xvfb missing?)");
        }
        for (const char* tool : {"trayer", "xwininfo", "xdotool"}) {
            if (!tovrel::testing::haveProgram(tool)) {
                TOVREL_SKIP_LACKING(std::string(tool) + " is not installed");
            }
        }
        QPixmap picture(22, 22);
        picture.fill(Qt::darkGreen);
        tray = std::make_unique<QtTrayIcon>(QIcon(picture));
        tray->Click = [this] { ++clicks; };
    }

    void TearDown() override {
        tray.reset();
        stopTrayer();
    }

    void startTrayer() {
        trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        trayer.setStandardOutputFile(QProcess::nullDevice());
        trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                                "--SetDockType", "false"});
        ASSERT_TRUE(trayer.waitForStarted());
        ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10s))
            << "the notification area did not come up";
    }

    void stopTrayer() {
        if (trayer.state() != QProcess::NotRunning) {
            trayer.terminate();
            if (!trayer.waitForFinished(5000)) {
                trayer.kill();
                trayer.waitForFinished();
            }
        }
    }

    QProcess trayer;
    std::unique_ptr<QtTrayIcon> tray;
    int clicks = 0;
};

TEST_F(TrayOnX, DocksInTheNotificationAreaAndIsGoneTheMomentRemoveReturns) {
    startTrayer();
    tray->add();
    ASSERT_TRUE(waitUntil(docked, 10s)) << "the icon did not dock";
    const WId window = *iconWindow();

    tray->remove();
    // No event processing in between: the program may end right here.
    const WindowInfo after = windowInfo(window);
    EXPECT_FALSE(after.exists && after.viewable) << "the icon is still on screen after remove()";
}

TEST_F(TrayOnX, DocksWhenTheNotificationAreaStartsLater) {
    tray->add();
    pumpEvents(500ms);
    EXPECT_FALSE(docked());
    startTrayer();
    EXPECT_TRUE(waitUntil(docked, 10s)) << "the icon did not dock in the late notification area";
}

TEST_F(TrayOnX, LeftClickRaisesClickAndTheMenuEntryToo) {
    startTrayer();
    tray->add();
    ASSERT_TRUE(waitUntil(docked, 10s));
    // The notification area lays itself out again after docking; click
    // where the icon has come to rest.
    WindowInfo icon = windowInfo(*iconWindow());
    ASSERT_TRUE(waitUntil(
        [&icon] {
            pumpEvents(200ms);
            const WindowInfo now = windowInfo(*iconWindow());
            const bool still = now.x == icon.x && now.y == icon.y && now.width == icon.width;
            icon = now;
            return still;
        },
        10s));
    ASSERT_GT(icon.width, 0);

    clickAt(icon.x + icon.width / 2, icon.y + icon.height / 2, 1);
    EXPECT_TRUE(waitUntil([this] { return clicks == 1; }, 5s)) << "a left click did not raise Click";

    clickAt(icon.x + icon.width / 2, icon.y + icon.height / 2, 3);
    ASSERT_TRUE(waitUntil([this] { return tray->menu().isVisible(); }, 5s)) << "no menu on a right click";
    EXPECT_EQ(clicks, 1) << "a right click must not raise Click";
    QAction* show = tray->menu().actions().value(0);
    ASSERT_NE(show, nullptr);
    const QPoint entry = tray->menu().mapToGlobal(tray->menu().actionGeometry(show).center());
    clickAt(entry.x(), entry.y(), 1);
    EXPECT_TRUE(waitUntil([this] { return clicks == 2; }, 5s)) << "the menu entry did not raise Click";
    EXPECT_TRUE(waitUntil([this] { return !tray->menu().isVisible(); }, 5s));
}

class OpenDialogOnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveX) {
            TOVREL_SKIP_LACKING("no private X server (Xvfb missing?)");
        }
        if (!tovrel::testing::haveProgram("xdotool")) {
            TOVREL_SKIP_LACKING("xdotool is not installed");
        }
        ASSERT_TRUE(folder.isValid());
        // Neighbours with the same start make the completion list show.
        for (const char* name : {"wake up.mp3", "wake up early.mp3", "wake.txt"}) {
            QFile file(QDir(folder.path()).filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        song = QDir(folder.path()).filePath("wake up.mp3");
    }

    // Shows the dialog and, once it has the keyboard, runs the shell
    // script (xdotool commands, arguments as $1...); the dialog is rejected
    // if still open after a while.
    void showAndType(QtFileDialog& dialog, const QString& script, const QStringList& arguments = {}) {
        auto* typist = new QProcess(qApp);
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, typist, script, arguments] {
            auto* shown = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (shown == nullptr || !shown->isVisible()) {
                return;
            }
            if (QApplication::activeWindow() != shown) {
                shown->activateWindow();
                return;
            }
            poll->deleteLater();
            typist->setProcessChannelMode(QProcess::ForwardedChannels);
            typist->start("sh", QStringList{"-c", script, "sh"} + arguments);
            QPointer<QFileDialog> guard(shown);
            QTimer::singleShot(10000, qApp, [guard] {
                if (guard && guard->isVisible()) {
                    ADD_FAILURE() << "the dialog was left open";
                    guard->reject();
                }
            });
        });
        poll->start(50);
        dialog.showOpen();
        typist->waitForFinished(10000);
        typist->deleteLater();
    }

    QTemporaryDir folder;
    QString song;
};

TEST_F(OpenDialogOnX, TypedPathAndEnterChooseTheFile) {
    QtFileDialog dialog;
    dialog.setFlags(tovrel::components::FileDialog::OpenFlags);
    // A pause before Enter lets the completion list come up, as it does
    // for a person typing.
    showAndType(dialog, "xdotool type --delay 20 \"$1\" && sleep 1 && xdotool key Return", {song});
    EXPECT_EQ(dialog.fileName(), song.toStdString());
}

TEST_F(OpenDialogOnX, EscapeCancels) {
    QtFileDialog dialog;
    // With the completion list open, the first Escape only closes the list.
    showAndType(dialog,
                "xdotool type --delay 20 \"$1\" && sleep 1 && xdotool key Escape && sleep 0.5 && xdotool key Escape",
                {song});
    EXPECT_EQ(dialog.fileName(), "*.mp3");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    XServer server;
    haveX = tovrel::testing::haveProgram("Xvfb") && server.start();
    if (!haveX) {
        return RUN_ALL_TESTS();  // every test skips
    }
    qputenv("DISPLAY", QByteArray::fromStdString(server.display()));
    qputenv("QT_QPA_PLATFORM", "xcb");
    tovrel::platform::keepNoSettings();
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
