// SPDX-License-Identifier: GPL-3.0-or-later
//
// Runs the view tests inside the program's own application object, on Qt's
// offscreen platform unless another is chosen.

#include <gtest/gtest.h>

#include "platform/application.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    tovrel::platform::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
