// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The services the windows host or call: one small interface each, so that
// the handlers can be driven by the real desktop or by recording fakes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tovrel::forms {
class Form;
}

namespace tovrel::components {

// Plays the alarm's file in the background.
class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;
    // The full path of the file to play next.
    virtual void setMediaFile(const std::string& path) = 0;
    // Starts playback and returns at once; the file repeats until stop().
    virtual void play() = 0;
    // Length of the loaded media; 0 while nothing is loaded or the length is
    // not known yet. Same unit as position().
    virtual double length() = 0;
    virtual double position() = 0;
    // Ends playback; harmless when nothing plays or nothing was loaded.
    virtual void stop() = 0;
};

// The Open dialog. Its file name starts as "*.mp3" and holds the full path
// of the last file chosen; a cancel leaves it as it was.
class FileDialog {
public:
    // Its option flags: the classic open-file flag bits.
    static constexpr std::int32_t ReadOnly = 0x1;
    static constexpr std::int32_t HideReadOnly = 0x4;          // no read-only check box
    static constexpr std::int32_t ExtensionDifferent = 0x400;  // only ever reported
    static constexpr std::int32_t PathMustExist = 0x800;
    static constexpr std::int32_t FileMustExist = 0x1000;
    // What the main window sets: 7172 (hexadecimal 1C04).
    static constexpr std::int32_t OpenFlags = HideReadOnly | ExtensionDifferent | PathMustExist | FileMustExist;

    virtual ~FileDialog() = default;
    virtual void setFlags(std::int32_t flags) = 0;
    // Shows the modal Open dialog and returns when the user closes it.
    virtual void showOpen() = 0;
    [[nodiscard]] virtual std::string fileName() const = 0;
};

// The notification-area icon with the windows' icon and tooltip.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    virtual void add() = 0;
    virtual void remove() = 0;
    // Whether the desktop has a notification area to show the icon in.
    [[nodiscard]] virtual bool isAvailable() const { return true; }
    // Raised when the user clicks the icon.
    std::function<void()> Click;
    // Raised when the notification area goes away or a new one starts; the
    // icon moves into a new one by itself.
    std::function<void()> AvailabilityChanged;
};

// Cuts a window to the union of its rounded-rectangle elements.
class WindowShaper {
public:
    virtual ~WindowShaper() = default;
    virtual void shape() = 0;
};

// Plays a wave file and returns only when it has finished. A missing or
// unplayable file plays the desktop's default sound instead; without any
// sound server the call returns at once.
class ClickSound {
public:
    virtual ~ClickSound() = default;
    virtual void play(const std::string& path) = 0;
};

// Keeps the desktop from suspending the computer by itself (after some idle
// time) while an alarm is armed; the user can still suspend it. hold() and
// release() are called in turn, release() first only when nothing is held.
class SuspendInhibitor {
public:
    virtual ~SuspendInhibitor() = default;
    virtual void hold() = 0;
    virtual void release() = 0;
};

// The platform services the handlers need beyond the hosted components.
class Desktop {
public:
    virtual ~Desktop() = default;
    // The current local time of day as text in the user's time style.
    virtual std::string clockText() = 0;
    // The local date of the last clockText(), as a count of days: it tells
    // the clock going on past midnight from the clock set back.
    virtual std::int32_t clockDay() = 0;
    // A modal message box with an information icon and one OK button.
    virtual void messageBox(const std::string& text, const std::string& title) = 0;
    // The folder that holds the program, as the platform reports it.
    virtual std::string programDirectory() = 0;
    // Ends the program at once; no handler runs after it.
    virtual void endProgram() = 0;
    // A window was created: the platform gives it its on-screen view.
    virtual void attach(forms::Form& form) = 0;
    // The window shaper hosted on the given window.
    virtual std::unique_ptr<WindowShaper> shaperFor(forms::Form& form) = 0;
};

// The components the main window hosts.
struct MainComponents {
    Desktop& desktop;
    MediaPlayer& player;
    FileDialog& dialog;
    TrayIcon& tray;
    ClickSound& click;
    SuspendInhibitor& inhibitor;
};

}  // namespace tovrel::components
