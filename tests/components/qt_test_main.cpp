// SPDX-License-Identifier: GPL-3.0-or-later
//
// Runs the tests inside a QApplication, on the test desktop that ctest
// started for them where there is one (CMakeLists.txt). Without a chosen
// platform the tests draw on its X server, or else off screen. Like the
// program, the tests keep Qt's settings (the Open dialog's history) out of
// the user's configuration.

#include <QApplication>

#include "platform/application.h"
#include "support.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const bool onX = tovrel::testing::useTestDesktop() && !qEnvironmentVariableIsEmpty("DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", onX ? "xcb" : "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    tovrel::platform::keepNoSettings();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
