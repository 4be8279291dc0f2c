// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The alarm as its user sees it, told as plainly as a user's guide: the alarm
// and snooze times, the status, the ringing, the file and clock labels, and
// what every button, selector move and passing minute does to them. It knows
// nothing of the window's code; alarm_model_test.cpp runs it beside the main
// window and compares the two after every step.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace tovrel::testing::model {

enum class Style { TwelveHour, TwentyFourHour };

inline std::ostream& operator<<(std::ostream& os, Style style) {
    return os << (style == Style::TwelveHour ? "12-hour clock" : "24-hour clock");
}

inline constexpr std::int64_t MinutesADay = 1440;
inline constexpr const char* NoFile = "No File Selected";

// A minute of the day as the clock and the alarm time show it: 9:05 AM,
// midnight 12:00 AM, noon 12:00 PM; or 09:05 and 00:00.
inline std::string MinuteText(std::int64_t minute, Style style) {
    const int h = static_cast<int>(minute / 60);
    const int m = static_cast<int>(minute % 60);
    char text[16];
    if (style == Style::TwelveHour)
        std::snprintf(text, sizeof text, "%d:%02d %s", h % 12 == 0 ? 12 : h % 12, m, h < 12 ? "AM" : "PM");
    else
        std::snprintf(text, sizeof text, "%02d:%02d", h, m);
    return text;
}

// A file is shown by its name without folders, cut at its first dot.
inline std::string ShownName(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    return name.substr(0, name.find('.'));
}

// What the user does to a selector: an arrow (or arrow key) is a small step,
// a click on the track a large one; the thumb let go at a value, or Home and
// End, set it at once.
struct Move {
    enum Kind { StepDown, StepUp, PageDown, PageUp, To } kind;
    int value = 0;  // for To
};

struct Selector {
    int min, max, small, large, value;

    void move(const Move& m) {
        const int steps[] = {value - small, value + small, value - large, value + large, m.value};
        value = std::clamp(steps[m.kind], min, max);
    }
};

// Everything the window shows of the alarm, and what the last step asked of
// the player and whether it showed the notice that no file is chosen.
struct View {
    int alarmTime, snooze;
    std::string alarmLabel, snoozeLabel, status, fileLabel, clockLabel;
    bool ringing, panelOpen;
    std::vector<std::string> calls;
    bool operator==(const View&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const View& v) {
    os << "alarm " << v.alarmLabel << " (" << v.alarmTime << "), \"" << v.snoozeLabel << "\" (" << v.snooze << "), "
       << v.status << (v.ringing ? ", ringing" : "") << ", file \"" << v.fileLabel << "\", clock " << v.clockLabel
       << (v.panelOpen ? ", panel open" : "") << ", calls [";
    for (const auto& c : v.calls) os << " " << c;
    return os << " ]";
}

struct Alarm {
    Style style;
    std::int64_t now;       // the clock, in minutes from some midnight
    std::int64_t lastTick;  // the clock at the last tick
    Selector alarmTime{0, 1439, 1, 10, 0};
    Selector snooze{1, 120, 1, 5, 5};
    bool armed = false;
    bool ringing = false;
    bool panelOpen = false;
    bool settingsEnabled = true;  // from the alarm's ringing to its switch-off it is not
    bool settingsHover = false;   // the settings button still shows its hover picture
    std::string fileLabel = NoFile;
    std::string file;  // the file that plays
    std::string clockLabel;
    std::vector<std::string> calls;

    // The window at start, after its first tick.
    Alarm(Style s, std::int64_t start) : style(s), now(start), lastTick(start), clockLabel(clockText()) {}

    [[nodiscard]] std::string clockText() const { return MinuteText(now % MinutesADay, style); }

    [[nodiscard]] View shown() const {
        const std::string snoozeLabel = "Snooze: " + std::to_string(snooze.value) + " Min";
        return View{alarmTime.value,
                    snooze.value,
                    MinuteText(alarmTime.value, style),
                    snoozeLabel,
                    armed ? "On" : "Off",
                    fileLabel,
                    clockLabel,
                    ringing,
                    panelOpen,
                    calls};
    }

    // ---- the user. Every command but the settings button's takes the
    // pointer across the window, which puts the buttons back on their normal
    // pictures.

    void alarmButton() {
        userStep();
        if (!armed && fileLabel == NoFile) {
            calls.push_back("messageBox");
        } else if (!armed) {
            armed = true;
        } else {
            calls.push_back("Player.stop");
            armed = ringing = false;
            settingsEnabled = true;
        }
    }

    // Usable only while the alarm rings: it rings again a snooze length after
    // the minute its time shows.
    void snoozeButton() {
        userStep();
        if (!ringing) return;
        calls.push_back("Player.stop");
        alarmTime.value = static_cast<int>((alarmTime.value + snooze.value) % MinutesADay);
        ringing = false;
    }

    // Opens or closes the panel. Clicked again where it is, the button still
    // shows its hover picture and takes the click even when the alarm has
    // made it unusable meanwhile.
    void settingsButton() {
        calls.clear();
        if (!settingsEnabled && !settingsHover) return;
        panelOpen = !panelOpen;
        settingsHover = true;
    }

    // These three need the panel open. An empty choice cancels the dialog.
    void browse(const std::string& chosen) {
        userStep();
        if (chosen.empty()) return;
        file = chosen;
        fileLabel = ShownName(chosen);
    }
    void moveAlarmTime(const Move& m) {
        userStep();
        alarmTime.move(m);
    }
    void moveSnooze(const Move& m) {
        userStep();
        snooze.move(m);
    }

    // ---- time. The window looks at the clock twenty times a second; a
    // sleeping computer or a clock set anew skips minutes between two looks.

    void tick() {
        calls.clear();
        clockLabel = clockText();
        const bool itsMinute = now % MinutesADay == alarmTime.value;
        // Its minute went by unseen, between the last tick and this one (a
        // sleep, the clock set forward): up to an hour late it still rings,
        // later it waits for the next day. A clock set back passes no minute.
        bool missed = false;
        for (std::int64_t t = std::max(lastTick + 1, now - 60); t < now; ++t)
            missed = missed || t % MinutesADay == alarmTime.value;
        lastTick = now;
        if (armed && !ringing && fileLabel != NoFile && (itsMinute || missed)) {
            calls = {"Player.setMediaFile " + file, "Player.play"};
            ringing = true;
            panelOpen = false;
            settingsEnabled = false;
            // Late, it shows the minute it rings at: a snooze counts from now.
            if (!itsMinute) alarmTime.value = static_cast<int>(now % MinutesADay);
        } else if (ringing && !itsMinute) {
            // While it rings its time follows the clock, a minute a tick.
            alarmTime.value = static_cast<int>((alarmTime.value + 1) % MinutesADay);
        }
    }

    void setClock(std::int64_t minute) {
        now = minute;
        tick();
    }

private:
    void userStep() {
        calls.clear();
        settingsHover = false;
    }
};

}  // namespace tovrel::testing::model
