// SPDX-License-Identifier: GPL-3.0-or-later
//
// The tray icon and the Open dialog on a real X server, the test desktop's
// (CMakeLists.txt), whose tray host comes and goes as a test asks; typed at
// and clicked with xdotool as a user (or a script) would.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_dialog.h"
#include "platform/tray_icon.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using tovrel::platform::QtFileDialog;
using tovrel::platform::QtTrayIcon;
using tovrel::testing::pumpEvents;
using tovrel::testing::waitUntil;

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
    WindowInfo info;
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    const auto id = static_cast<xcb_window_t>(window);
    auto* attributes = xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, id), nullptr);
    auto* tree = xcb_query_tree_reply(x, xcb_query_tree(x, id), nullptr);
    auto* size = xcb_get_geometry_reply(x, xcb_get_geometry(x, id), nullptr);
    if (attributes != nullptr && tree != nullptr && size != nullptr) {
        auto* at = xcb_translate_coordinates_reply(x, xcb_translate_coordinates(x, id, tree->root, 0, 0), nullptr);
        info = {true,
                attributes->map_state == XCB_MAP_STATE_VIEWABLE,
                tree->parent == tree->root,
                at != nullptr ? at->dst_x : 0,
                at != nullptr ? at->dst_y : 0,
                size->width,
                size->height};
        std::free(at);
    }
    std::free(attributes);
    std::free(tree);
    std::free(size);
    xcb_disconnect(x);
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

// A test on the X server of the test desktop, typing and clicking with xdotool.
class OnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (QApplication::platformName() != "xcb") {
            TOVREL_SKIP_LACKING("no test desktop with an X server (run through ctest)");
        }
        if (!tovrel::testing::haveProgram("xdotool")) {
            TOVREL_SKIP_LACKING("xdotool is not installed");
        }
        prepare();
    }

    virtual void prepare() {}
};

class TrayOnX : public OnX {
protected:
    void prepare() override {
        QPixmap picture(22, 22);
        picture.fill(Qt::darkGreen);
        tray = std::make_unique<QtTrayIcon>(QIcon(picture));
        tray->Click = [this] { ++clicks; };
    }

    void TearDown() override {
        tray.reset();
        if (trayHost) {
            EXPECT_TRUE(tovrel::testing::desktop("stop", "tray"));
        }
    }

    void startTrayer() {
        trayHost = tovrel::testing::desktop("start", "tray");
        ASSERT_TRUE(trayHost) << "no tray host";
        ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10s))
            << "the notification area did not come up";
    }

    bool trayHost = false;
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

class OpenDialogOnX : public OnX {
protected:
    void prepare() override {
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
