// SPDX-License-Identifier: GPL-3.0-or-later
//
// Runs the tests inside a QApplication. Without a chosen platform the
// tests draw off screen. Like the program, the tests keep Qt's settings (the
// Open dialog's history) out of the user's configuration.

#include <QApplication>

#include "platform/application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    tovrel::platform::keepNoSettings();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
