// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The main window loaded and shown in its Qt view, over fake components and a
// clock the test sets: what the ui tests start from.

#include <QRect>
#include <QSize>
#include <algorithm>
#include <string>
#include <string_view>

#include "platform/desktop.h"
#include "shell/frm_tovrel.h"
#include "unit/fakes.h"

#include <gtest/gtest.h>

namespace tovrel::testing {

// Where the windows' layout table puts a place, in pixels (the About
// window's are twips there, drawn on the nearest pixel).
inline QRect placed(std::string_view name, bool about = false) {
    const auto find = [name](const auto& table) {
        const auto at = std::find_if(table.begin(), table.end(), [name](const auto& p) { return p.name == name; });
        EXPECT_NE(at, table.end()) << name;
        return at == table.end() ? shell::layout::Box{} : at->box;
    };
    const shell::layout::Box box = about ? find(shell::layout::About) : find(shell::layout::Main);
    const auto px = [about](int v) { return about ? forms::twipsToPixels(static_cast<float>(v)) : v; };
    return {px(box.left), px(box.top), px(box.width), px(box.height)};
}

// A window's size in pixels for a width and height in twips.
inline QSize windowSize(int heightTwips, int widthTwips = shell::layout::WindowWidth) {
    return {forms::twipsToPixels(static_cast<float>(widthTwips)), forms::twipsToPixels(static_cast<float>(heightTwips))};
}

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
    FakeInhibitor inhibitor;
    shell::FrmTovrel main{{desktop, player, dialog, tray, clicks, inhibitor}};
    platform::FormView* view = nullptr;
};

}  // namespace tovrel::testing
