// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QApplication>
#include <functional>
#include <string>

namespace tovrel::platform {

// The one place where Qt hands events to the program. A failure that leaves
// a handler is caught here and reported, and the program ends with a
// non-zero status: nothing is swallowed and no exception crosses Qt's event
// loop.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the error and ends the program. Tests replace it.
    std::function<void(const std::string& message)> fatal;
    // Runs before the program ends on an error (takes the tray icon away).
    std::function<void()> beforeFatalExit;
};

// Nothing is kept between runs, by Qt neither: its Open dialog would keep
// its history, last folder and view mode in the user's configuration
// (~/.config/QtProject.conf) and open where the last run left it. Points
// Qt's settings where no file can be; call it before anything reads them.
void keepNoSettings();

// Reports an error in a message box and on standard error, then ends the
// process with status 1.
[[noreturn]] void reportAndExit(const std::string& message, const std::function<void()>& beforeExit = {});

}  // namespace tovrel::platform
