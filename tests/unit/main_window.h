// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "shell/frm_tovrel.h"
#include "unit/fakes.h"

namespace tovrel::testing {

// The main window on the fake components, every call in one log.
struct MainWindowOnFakes {
    Log log;
    FakeDesktop desktop{log};
    FakePlayer player{log};
    FakeDialog dialog{log};
    FakeTray tray{log};
    FakeClick clicks{log};
    FakeInhibitor inhibitor;
    shell::FrmTovrel main{{desktop, player, dialog, tray, clicks, inhibitor}};
};

// The main window on fake components, loaded, with its changes recorded.
class MainWindowTest : public ::testing::Test, protected MainWindowOnFakes {
protected:
    MainWindowTest() { resetLog(); }

    void load(const std::string& clock = "7:29:58 AM") {
        desktop.clock = clock;
        main.Form_Load();
        main.Show();
        resetLog();
    }
    void resetLog() {
        log.clear();
        recorder->changes.clear();
    }
    static forms::MouseArgs mouse(float x = 0, float y = 0, std::int16_t button = forms::LeftButton) {
        return forms::MouseArgs{button, 0, x, y};
    }
    // The pointer reaching an element's centre.
    forms::MouseArgs over(const forms::Element& e, std::int16_t button = forms::LeftButton) const {
        return mouse(e.rect().left + e.rect().width / 2, e.rect().top + e.rect().height / 2, button);
    }
    // A whole click on an element, as the user makes it: move, press, release.
    void click(const forms::Element& e, std::int16_t button = forms::LeftButton) {
        main.pointerMove(over(e));
        main.pointerDown(over(e, button));
        main.pointerUp(over(e, button));
    }
    // The names of the visible images among the given ones.
    static std::vector<std::string> visible(std::initializer_list<const forms::Image*> images) {
        std::vector<std::string> names;
        for (const auto* i : images)
            if (i->Visible() == forms::True) names.push_back(i->name());
        return names;
    }
    void chooseFile(const std::string& path) {
        dialog.nextChoice = path;
        main.BrowseM_MouseUp(mouse());
    }
    void armWithFile(const std::string& path = "/home/ann/Music/Wake.mp3") {
        chooseFile(path);
        main.AlarmMOFF_MouseUp(mouse());
    }
    // Sets the alarm time and lets the clock reach it.
    void ringAt(std::int16_t minute, const std::string& clock) {
        main.ScrlAlarmChg.setValue(minute);
        desktop.clock = clock;
        main.Timer_Timer();
    }

    std::unique_ptr<ChangeRecorder> recorder = std::make_unique<ChangeRecorder>(main);
};

}  // namespace tovrel::testing
