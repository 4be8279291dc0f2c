#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Driving Tovrel's own window in the end-to-end tests, on top of harness.py.

    Element rectangles of the main and About windows (x, y, w, h inside the window),
    from the layout.json the build writes.
    hover / click_button / press_glyph   pointer gestures the skin's image buttons answer to
    open_settings / choose_file     the settings panel and the Open dialog
    region_pixels / picture_of      an element's pixels in a screenshot; which skin picture
"""
import json
import os
import sys
import time
from pathlib import Path

import harness

ASSETS = harness.ROOT / "assets"

# Where everything sits in the two windows (x, y, w, h inside the window, pixels),
# as the build writes it from the program's layout table.
LAYOUT = json.loads(Path(os.environ.get("TOVREL_LAYOUT") or harness.ROOT / "build" / "layout.json")
                    .read_text())
_MAIN, _WINDOW = ({k: tuple(v) for k, v in LAYOUT["main"].items()}, LAYOUT["window"])
WIDTH = _WINDOW["width"]
COLLAPSED_HEIGHT = _WINDOW["collapsed_height"]
EXPANDED_HEIGHT = _WINDOW["expanded_height"]
START_POSITION = (_WINDOW["left"], _WINDOW["top"])
TOP_PANEL, SETTINGS_PANEL = _MAIN["Shape1"], _MAIN["Shape2"]
ALARM_BUTTON = _MAIN["Alarm"]
SNOOZE_BUTTON = _MAIN["Snooze"]
SETTINGS_BUTTON = _MAIN["Setting"]
MINIMISE_GLYPH = _MAIN["Mini"]
CLOSE_GLYPH = _MAIN["Close"]
FILE_NAME_LABEL = _MAIN["LblMP3"]
BROWSE_BUTTON = _MAIN["Browse"]
ALARM_TIME_BAR = _MAIN["ScrlAlarmChg"]
CLOCK_LABEL = _MAIN["LblRealTime"]
STATUS_LABEL = _MAIN["LblAlarmStatus"]
ALARM_TIME_LABEL = _MAIN["LblAlarmTime"]
# About window, inside that window.
ABOUT_TITLE = "About"
ABOUT_SIZE = (WIDTH, _WINDOW["about_height"])
EXIT_BUTTON = tuple(LAYOUT["about"]["Exit"])

OPEN_DIALOG_TITLE = "Open MP3 File"
PAUSE = 0.05


def hover(win, rect, display=None):
    """Pointer onto the element, then one pixel on: the button shows its hover picture."""
    x, y, w, h = rect
    cx, cy = x + w // 2, y + h // 2
    harness.move_to(win, cx, cy, display)
    time.sleep(PAUSE)
    harness.move_to(win, cx + 1, cy, display)
    time.sleep(PAUSE)


def click_button(win, rect, display=None):
    """Press and release on an image button (its handlers sit on the hover picture)."""
    hover(win, rect, display)
    harness.press(1, display)
    time.sleep(PAUSE)
    harness.release(1, display)


def press_glyph(win, rect, display=None):
    """The minimise and close glyphs act on the press; the release follows anyway."""
    click_button(win, rect, display)


def wait_height(win, height, timeout=5, display=None):
    harness.wait_until(lambda: harness.geometry(win, display).height == height, timeout,
                       f"the main window to be {height} px high")


def open_settings(win, display=None):
    click_button(win, SETTINGS_BUTTON, display)
    wait_height(win, EXPANDED_HEIGHT, display=display)


def choose_file(program, win, path):
    """Browse, type the full path into the Open dialog's file name box, Enter.

    Typing goes through the X server as key events; should the dialog still be open
    after that (a key lost while it was being laid out), a screenshot is kept and the
    path typed once more."""
    click_button(win, BROWSE_BUTTON, program.display)
    dialog = program.wait_window(OPEN_DIALOG_TITLE, timeout=15)

    def dialog_closed():
        return not program.windows(OPEN_DIALOG_TITLE)

    for attempt in (1, 2):
        harness.focus(dialog, program.display)
        time.sleep(0.3)
        harness.key("ctrl+a", display=program.display)
        harness.type_text(str(path), display=program.display)
        harness.key("Return", display=program.display)
        try:
            harness.wait_until(dialog_closed, 5 * attempt, "the Open dialog to close")
            return
        except harness.HarnessError:
            name = f"still-open-{os.getpid()}-{attempt}.png"
            shot = harness.screenshot(harness.test_output_dir("open-dialog") / name,
                                      display=program.display)
            print(f"\n  the Open dialog was still open after typing the path (try {attempt}); "
                  f"screenshot {shot}", file=sys.stderr)
            if attempt == 2:
                raise


# --------------------------------------------------------------------------- pixels

def region_pixels(image, rect, origin=(0, 0)):
    """The pixels of rect (window coordinates) in an image whose (0, 0) is at origin."""
    x, y, w, h = rect
    ox, oy = origin
    return [image.pixel(ox + x + i, oy + y + j) for j in range(h) for i in range(w)]


def picture_of(image, rect, names, origin=(0, 0)):
    """Which of the skin pictures assets/<name>.png the element shows: the name whose
    pixels all match, or None. The element's first row may be cut by the window's
    shape, so rows from the second on are compared."""
    x, y, w, h = rect
    shown = region_pixels(image, (x, y + 1, w, h - 1), origin)
    for name in names:
        if png_pixels(ASSETS / f"{name}.png", (0, 1, w, h - 1)) == shown:
            return name
    return None


def png_pixels(path, rect=None):
    """All pixels (or those of rect) of a PNG file."""
    img = harness.Image(path)
    return region_pixels(img, rect or (0, 0, img.width, img.height))
