// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Where everything sits in the two windows: the one table of their geometry.
// The windows place their elements from it, the picture program draws the
// skin around it, the C++ tests include it, and the build writes it out as
// layout.json for the end-to-end tests. Moving a button is one edit here
// (then tools/draw-skin redraws the pictures).

#include <array>
#include <string_view>

#include "forms/form.h"

namespace tovrel::shell::layout {

struct Box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct Place {
    std::string_view name;
    Box box;
};

// The main window, in pixels from its top-left corner. The images of a
// button share one box, named by the button's word.
inline constexpr std::array Main{
    Place{"Alarm", {203, 56, 142, 41}},         Place{"Snooze", {48, 123, 189, 36}},
    Place{"Setting", {237, 124, 105, 35}},      Place{"Browse", {267, 203, 103, 40}},
    Place{"Mini", {316, 12, 16, 16}},           Place{"Close", {332, 12, 16, 15}},
    Place{"ScrlAlarmChg", {108, 263, 237, 17}}, Place{"ScrlSnooze", {179, 312, 166, 17}},
    Place{"LblRealTime", {59, 53, 109, 25}},    Place{"LblAlarmStatus", {87, 83, 26, 15}},
    Place{"LblAlarmTime", {120, 83, 70, 17}},   Place{"LblMP3", {41, 215, 213, 14}},
    Place{"LblAlarm", {40, 265, 34, 14}},       Place{"LblSnooze", {40, 314, 97, 13}},
    Place{"Shape1", {34, 12, 323, 164}},   // the top panel
    Place{"Shape2", {10, 190, 369, 165}},  // the settings panel
    Place{"Player", {432, 68, 25, 25}},    // never shown, outside the window
};

// The About window, in twips. The exit button's left edge is the one
// position that is not on a whole pixel.
inline constexpr std::array About{
    Place{"Exit", {3725, 1845, 1410, 585}},
    Place{"Label1", {945, 810, 3645, 1020}},
    Place{"Label2", {1500, 1890, 1725, 315}},
    Place{"Shape1", {510, 180, 4845, 2460}},
};

// The main window's progress bar: two one-pixel lines, one below the other,
// from x = ProgressLeft; their right ends run over ProgressTrack pixels as
// the file plays.
inline constexpr int ProgressLeft = 220;
inline constexpr int ProgressTrack = 120;
inline constexpr int ProgressLine1Y = 106;
inline constexpr int ProgressLine2Y = 107;

// The windows, in twips: both as wide, both first at the same place.
inline constexpr int WindowWidth = 5820;
inline constexpr int WindowLeft = 3210;
inline constexpr int WindowTop = 2865;
inline constexpr int MainHeight = 5505;       // as designed, with the settings panel
inline constexpr int CollapsedHeight = 2800;  // the top panel alone
inline constexpr int ExpandedHeight = 5520;   // with the settings panel open
inline constexpr int AboutHeight = 2850;

// The pictures of the buttons and title-bar glyphs, each with the place it
// is drawn at, named after the image element that shows it: the button's
// word and its look (U normal, M under the pointer, D pressed), the alarm
// button's also with its face, ON or OFF. Besides them the skin has the two
// window backgrounds, FrmTovrel and FrmAbout, and the icon, Tovrel; each
// picture also comes at double size (Name@2x.png).
struct Picture {
    std::string_view name;
    std::string_view place;
};
inline constexpr std::array Pictures{
    Picture{"AlarmUOFF", "Alarm"},  Picture{"AlarmMOFF", "Alarm"},  Picture{"AlarmDOFF", "Alarm"},
    Picture{"AlarmUON", "Alarm"},   Picture{"AlarmMON", "Alarm"},   Picture{"AlarmDON", "Alarm"},
    Picture{"SnoozeU", "Snooze"},   Picture{"SnoozeM", "Snooze"},   Picture{"SnoozeD", "Snooze"},
    Picture{"SettingU", "Setting"}, Picture{"SettingM", "Setting"}, Picture{"SettingD", "Setting"},
    Picture{"BrowseU", "Browse"},   Picture{"BrowseM", "Browse"},   Picture{"BrowseD", "Browse"},
    Picture{"MiniU", "Mini"},       Picture{"MiniM", "Mini"},       Picture{"CloseU", "Close"},
    Picture{"CloseM", "Close"},     Picture{"ExitU", "Exit"},       Picture{"ExitM", "Exit"},
    Picture{"ExitD", "Exit"},
};

// The skin pictures, in pixels (a pixel short of the windows' design height).
inline constexpr Box MainSkin{0, 0, 388, 366};
inline constexpr Box AboutSkin{0, 0, 388, 189};

// The box of a named place; a name not in the table does not compile.
template <std::size_t N>
consteval Box of(const std::array<Place, N>& table, std::string_view name) {
    for (const Place& place : table) {
        if (place.name == name) {
            return place.box;
        }
    }
    throw "no such place in the layout";
}

}  // namespace tovrel::shell::layout
