#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Driving Tovrel's own window in the end-to-end tests, on top of harness.py.

    Element rectangles of the main and About windows (x, y, w, h inside the window),
    from the layout.json the build writes.
    hover / click_button / press_glyph   pointer gestures the skin's image buttons answer to
    named_windows / wait_named / wait_main_window   a program's windows by exact title and PID
    open_settings / choose_file     the settings panel and the Open dialog
    focused_window, wm_state, net_wm_state, OtherWindow (a client that takes the focus)
    FakeClock                       a wall clock the test moves while the program runs
    make_tone_mp3                   a loud sine tone as an MP3 file (sox + lame)
    region_pixels / picture_of      an element's pixels in a screenshot; which skin picture
"""
import atexit
import json
import os
import re
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

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
SNOOZE_BAR = _MAIN["ScrlSnooze"]
CLOCK_LABEL = _MAIN["LblRealTime"]
STATUS_LABEL = _MAIN["LblAlarmStatus"]
ALARM_TIME_LABEL = _MAIN["LblAlarmTime"]
# About window, inside that window.
ABOUT_TITLE = "About"
ABOUT_SIZE = (WIDTH, _WINDOW["about_height"])
EXIT_BUTTON = tuple(LAYOUT["about"]["Exit"])

OPEN_DIALOG_TITLE = "Open MP3 File"
PAUSE = 0.05


def centre(rect):
    x, y, w, h = rect
    return x + w // 2, y + h // 2


def hover(win, rect, display=None):
    """Pointer onto the element, then one pixel on: the button shows its hover picture."""
    cx, cy = centre(rect)
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


# --------------------------------------------------------------------------- windows

def named_windows(pid, name, visible=True, display=None):
    """Windows of process pid whose title is exactly name, its tray icon left out.

    (xdotool search matches ANY of --pid/--name by default, so both are checked here.)"""
    found = [w for w in harness.find_windows(pid=pid, visible=visible, display=display)
             if harness.window_name(w, display) == name]
    if found:
        docked = {w for w, _ in harness.tray_icons(display)}
        found = [w for w in found if w not in docked]
    return found


def wait_named(program, name, timeout=10, exclude=()):
    """A mapped window of program titled name (and not one of exclude)."""
    def look():
        program.check_alive(f"waiting for window {name!r}")
        wins = [w for w in named_windows(program.pid, name, display=program.display)
                if w not in exclude]
        return wins[0] if wins else None
    return harness.wait_until(look, timeout, f"a window {name!r} of tovrel")


def wait_main_window(program, timeout=20):
    """The main window: titled like the program, as wide as the layout says (the tray
    icon, briefly a top-level window of the same title before trayer takes it in, is
    22 px wide)."""
    def look():
        program.check_alive("waiting for the main window")
        for w in named_windows(program.pid, harness.MAIN_WINDOW_TITLE, display=program.display):
            if harness.geometry(w, program.display).width == WIDTH:
                return w
        return None
    return harness.wait_until(look, timeout, "tovrel's main window")


def viewable(win, display=None):
    """True while the window exists and is mapped (a destroyed window is not)."""
    res = harness.run(["xwininfo", "-id", str(win)], display=display, check=False)
    return res.returncode == 0 and "IsViewable" in res.stdout


def wait_gone(program, win, timeout=10):
    """Until the window is unmapped or destroyed."""
    harness.wait_until(lambda: not viewable(win, program.display), timeout,
                       f"window {win} to go away")


def focused_window(display=None):
    res = harness.run(["xdotool", "getwindowfocus", "-f"], display=display, check=False)
    try:
        return int(res.stdout.strip())
    except ValueError:
        return None


def wm_state(win, display=None):
    """The window's ICCCM WM_STATE ("Normal", "Iconic", "Withdrawn") or None when unset."""
    out = harness.run(["xprop", "-id", str(win), "WM_STATE"], display=display,
                      check=False).stdout
    m = re.search(r"window state:\s*(\w+)", out)
    return m.group(1) if m else None


def net_wm_state(win, display=None):
    out = harness.run(["xprop", "-id", str(win), "_NET_WM_STATE"], display=display,
                      check=False).stdout
    return set(re.findall(r"_NET_WM_STATE_\w+", out))


class OtherWindow:
    """A plain X client (probe_window.py) that can take the keyboard focus away."""

    def __init__(self, name="another program", geometry="200x100+760+620", display=None):
        argv = [sys.executable, Path(__file__).resolve().parent / "probe_window.py",
                "--name", name, "--geometry", geometry]
        env = dict(os.environ, DISPLAY=display) if display else None
        self.display = display
        self.proc = harness.Proc(argv, name="probe", env=env)

        def ready():
            if not self.proc.alive():
                raise harness.HarnessError("probe window failed\n" + self.proc.describe())
            for line in self.proc.stdout_text().splitlines():
                if line.startswith("READY "):
                    return int(line.split()[1])
            return None
        self.window = harness.wait_until(ready, 10, f"window {name!r}")

    def take_focus(self):
        harness.focus(self.window, self.display)
        harness.wait_until(lambda: focused_window(self.display) == self.window, 5,
                           "the other window to have the focus")

    def stop(self):
        self.proc.stop()


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
    dialog = wait_named(program, OPEN_DIALOG_TITLE, timeout=15)

    def dialog_closed():
        return not named_windows(program.pid, OPEN_DIALOG_TITLE, display=program.display)

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


# --------------------------------------------------------------------------- clock

class FakeClock:
    """A wall clock for the program, moved by the test while the program runs.

    libfaketime reads an offset from a file on every clock call (FAKETIME_NO_CACHE);
    the faked clock runs at real speed from the time last set. The monotonic clock
    stays real (Qt's timers and media playback need it)."""

    def __init__(self, start):
        self.path = harness.new_dir("clock") / "offset"
        self.offset = 0.0
        self.set(start)

    @staticmethod
    def epoch(text):
        """Local "YYYY-MM-DD HH:MM:SS" as seconds since the epoch."""
        return time.mktime(time.strptime(text, "%Y-%m-%d %H:%M:%S"))

    def set(self, text):
        """From now on the program's clock reads text (and runs on)."""
        self._write(self.epoch(text) - time.time())

    def _write(self, offset):
        self.offset = offset
        tmp = self.path.with_suffix(".new")
        tmp.write_text(f"{self.offset:+.3f}\n")
        tmp.replace(self.path)

    def run_fast(self, start, speed):
        """From now on the program's clock runs speed times faster, from start (text);
        returns the time.monotonic() at which it read start. libfaketime's own speed
        factor is not used: it also shortens every sleep and poll of the program, so
        that a program waiting 50 ms between ticks never sleeps. The offset is moved on
        every 20 ms instead."""
        t0, begin = time.monotonic(), self.epoch(start)

        def step():
            while not stop.wait(0.02):
                self._write(begin + speed * (time.monotonic() - t0) - time.time())
        stop = threading.Event()
        self._write(begin - time.time())
        threading.Thread(target=step, daemon=True).start()
        atexit.register(stop.set)
        return t0

    def env(self):
        return {"LD_PRELOAD": harness.FAKETIME_LIB, "FAKETIME_TIMESTAMP_FILE": str(self.path),
                "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}

    def monotonic_at(self, text):
        """time.monotonic() of the moment the faked clock reads text."""
        return time.monotonic() + (self.epoch(text) - (time.time() + self.offset))

    def wait_for(self, text, extra=0.0):
        """Sleep until the faked clock reads text (plus extra seconds)."""
        left = self.monotonic_at(text) + extra - time.monotonic()
        if left > 0:
            time.sleep(left)


# --------------------------------------------------------------------------- sound

def make_tone_mp3(seconds=2.0, freq=440, name="tone"):
    """An MP3 of a loud sine tone (half of full scale) in a new temporary folder."""
    d = harness.new_dir("mp3")
    wav, mp3 = d / f"{name}.wav", d / f"{name}.mp3"
    harness.run(["sox", "-n", "-r", "44100", "-c", "2", wav, "synth", str(seconds),
                 "sine", str(freq), "gain", "-6"], timeout=30)
    harness.run(["lame", "--quiet", "-b", "128", wav, mp3], timeout=60)
    return mp3


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
