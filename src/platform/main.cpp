// SPDX-License-Identifier: GPL-3.0-or-later
//
// MP3 Tovrel: a desktop alarm clock that wakes its user with an MP3 file.

#include <QByteArray>
#include <QDir>
#include <exception>

#include "platform/application.h"
#include "platform/click_sound.h"
#include "platform/desktop.h"
#include "platform/ending_signals.h"
#include "platform/file_dialog.h"
#include "platform/media_player.h"
#include "platform/suspend_inhibitor.h"
#include "platform/tray_icon.h"
#include "shell/frm_tovrel.h"

int main(int argc, char** argv) {
    using namespace tovrel;

    // Moving, shaping and docking in the tray need X11; on a Wayland session
    // the program runs through XWayland unless the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb"));

    platform::keepNoSettings();

    platform::Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MP3 Tovrel"));
    // Ties the windows to the installed launcher (its icon and name in task
    // bars and docks).
    QGuiApplication::setDesktopFileName(QStringLiteral(TOVREL_APP_ID));
    QApplication::setQuitOnLastWindowClosed(false);

    try {
        platform::SkinLibrary::loadDisplayFace();
        platform::QtDesktop desktop(QCoreApplication::applicationDirPath());
        platform::GstMediaPlayer player;
        platform::QtFileDialog dialog;
        platform::QtTrayIcon tray(desktop.icon());
        platform::QtClickSound click;
        platform::DBusSuspendInhibitor inhibitor;
        app.beforeFatalExit = [&tray] { tray.remove(); };

        shell::FrmTovrel main({desktop, player, dialog, tray, click, inhibitor});
        main.Form_Load();
        main.Show();
        // Ended from outside (a kill, the session's end): the same way out
        // as the Exit button, so no stale tray icon is left.
        platform::EndingSignals ending([&main, &desktop] {
            main.STray.remove();
            desktop.endProgram();
        });
        const int status = QApplication::exec();
        app.beforeFatalExit = nullptr;
        return status;
    } catch (const std::exception& e) {
        platform::reportAndExit(e.what());
    }
}
