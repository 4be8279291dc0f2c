// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Recording stand-ins for the components and the desktop: every call goes
// into one shared log, so tests can check the order across components.

#include <memory>
#include <string>
#include <vector>

#include "components/components.h"
#include "forms/form.h"

namespace tovrel::testing {

using Log = std::vector<std::string>;

class FakeShaper : public components::WindowShaper {
public:
    FakeShaper(Log& log, std::string window) : log_(log), window_(std::move(window)) {}
    void shape() override { log_.push_back(window_ + ".Shaper.shape"); }

private:
    Log& log_;
    std::string window_;
};

class FakeDesktop : public components::Desktop {
public:
    explicit FakeDesktop(Log& log) : log_(log) {}

    std::string clock = "7:29:58 AM";
    std::int32_t day = 0;  // the date of the clock text, in days
    std::string directory = "/opt/tovrel";
    std::vector<std::pair<std::string, std::string>> messages;  // text, title
    std::vector<forms::Form*> attached;
    int ended = 0;

    std::string clockText() override { return clock; }
    std::int32_t clockDay() override { return day; }
    void messageBox(const std::string& text, const std::string& title) override {
        log_.push_back("messageBox");
        messages.emplace_back(text, title);
    }
    std::string programDirectory() override { return directory; }
    void endProgram() override {
        log_.push_back("endProgram");
        ++ended;
    }
    void attach(forms::Form& form) override {
        log_.push_back("attach " + form.name());
        attached.push_back(&form);
    }
    std::unique_ptr<components::WindowShaper> shaperFor(forms::Form& form) override {
        return std::make_unique<FakeShaper>(log_, form.name());
    }

private:
    Log& log_;
};

class FakePlayer : public components::MediaPlayer {
public:
    explicit FakePlayer(Log& log) : log_(log) {}
    double lengthValue = 0;
    double positionValue = 0;
    int lengthReads = 0;
    int positionReads = 0;
    std::string file;

    void setMediaFile(const std::string& path) override {
        log_.push_back("Player.setMediaFile " + path);
        file = path;
    }
    void play() override { log_.push_back("Player.play"); }
    double length() override {
        ++lengthReads;
        return lengthValue;
    }
    double position() override {
        ++positionReads;
        return positionValue;
    }
    void stop() override { log_.push_back("Player.stop"); }

private:
    Log& log_;
};

class FakeDialog : public components::FileDialog {
public:
    explicit FakeDialog(Log& log) : log_(log) {}
    std::int32_t flags = 0;
    std::string name = "*.mp3";
    // What the user does in the next showOpen(): choose this path, or
    // cancel when empty.
    std::string nextChoice;

    void setFlags(std::int32_t f) override {
        log_.push_back("Dialog.setFlags " + std::to_string(f));
        flags = f;
    }
    void showOpen() override {
        log_.push_back("Dialog.showOpen");
        if (!nextChoice.empty()) name = nextChoice;
        nextChoice.clear();
    }
    [[nodiscard]] std::string fileName() const override { return name; }

private:
    Log& log_;
};

class FakeTray : public components::TrayIcon {
public:
    explicit FakeTray(Log& log) : log_(log) {}
    bool available = true;
    bool shown = false;
    void add() override {
        log_.push_back("STray.add");
        shown = true;
    }
    void remove() override {
        log_.push_back("STray.remove");
        shown = false;
    }
    [[nodiscard]] bool isAvailable() const override { return available; }

private:
    Log& log_;
};

class FakeClick : public components::ClickSound {
public:
    explicit FakeClick(Log& log) : log_(log) {}
    std::vector<std::string> played;
    void play(const std::string& path) override {
        log_.push_back("click");
        played.push_back(path);
    }

private:
    Log& log_;
};

// Keeps its own record: it follows the handlers rather than taking part.
class FakeInhibitor : public components::SuspendInhibitor {
public:
    Log calls;
    void hold() override { calls.push_back("hold"); }
    void release() override { calls.push_back("release"); }
};

// Records the visible changes of a form's elements, in order: "+Name" and
// "-Name" for shown and hidden, "Name=caption", "Name.Enabled=-1", line ends.
class ChangeRecorder : public forms::FormObserver {
public:
    explicit ChangeRecorder(forms::Form& form);
    ~ChangeRecorder() override;
    void elementChanged(const forms::Element& element) override;
    void geometryChanged() override;
    void visibilityChanged() override;
    void focusRequested() override;
    void minimizeRequested() override;

    std::vector<std::string> changes;
    int geometryChanges = 0;
    int focusRequests = 0;
    int minimizeRequests = 0;

private:
    struct Seen {
        forms::Flag visible;
        forms::Flag enabled;
    };
    forms::Form& form_;
    std::vector<Seen> seen_;
};

}  // namespace tovrel::testing
