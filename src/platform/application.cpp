// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/application.h"

#include <QMessageBox>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace tovrel::platform {

void keepNoSettings() {
    // Below /dev/null no file can be: nothing is read from there, and what Qt
    // writes goes nowhere.
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (const auto scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, QStringLiteral("/dev/null"));
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    fatal = [this](const std::string& message) { reportAndExit(message, beforeFatalExit); };
}

namespace {
// Set while an error is being reported: the program's state can no longer
// be trusted, so its timers stop reaching it.
bool failing = false;
}  // namespace

bool Application::notify(QObject* receiver, QEvent* event) {
    if (failing && event->type() == QEvent::Timer) return false;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        fatal(e.what());
    } catch (...) {
        fatal("Unknown error");
    }
    return false;
}

void reportAndExit(const std::string& message, const std::function<void()>& beforeExit) {
    if (failing) std::_Exit(EXIT_FAILURE);
    failing = true;
    std::fprintf(stderr, "MP3 Tovrel: run-time error: %s\n", message.c_str());
    std::fflush(stderr);
    if (QApplication::instance() != nullptr) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("MP3 Tovrel"),
                        QStringLiteral("Run-time error:\n") + QString::fromStdString(message), QMessageBox::Ok);
        box.exec();
    }
    if (beforeExit) beforeExit();
    std::_Exit(EXIT_FAILURE);
}

}  // namespace tovrel::platform
