// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The main window loaded and shown in its Qt view, over fake components and a
// clock the test sets: what the ui tests start from.

#include <string>

#include "platform/desktop.h"
#include "shell/frm_tovrel.h"
#include "unit/fakes.h"

namespace tovrel::testing {

struct ShownMainWindow {
    ShownMainWindow() {
        desktop.clock = [this] { return clock; };
        main.Form_Load();
        main.Show();
        view = desktop.viewOf(main);
    }

    std::string clock = "7:29:58 AM";
    Log log;
    platform::QtDesktop desktop{QStringLiteral(TOVREL_BUILD_DIR)};
    FakePlayer player{log};
    FakeDialog dialog{log};
    FakeTray tray{log};
    FakeClick clicks{log};
    shell::FrmTovrel main{{desktop, player, dialog, tray, clicks}};
    platform::FormView* view = nullptr;
};

}  // namespace tovrel::testing
