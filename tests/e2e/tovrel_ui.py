#!/usr/bin/python3
"""Driving Tovrel's own window in the end-to-end tests, on top of harness.py.

    Element rectangles of the main and About windows (x, y, w, h inside the window).
    click_button / press_glyph      pointer gestures the skin's image buttons answer to
    named_windows / wait_named      a program's windows by exact title (and PID)
    FakeClock                       a wall clock the test moves while the program runs
    make_tone_mp3                   a loud sine tone as an MP3 file (sox + lame)
    tone_level / tone_spans         how much of one frequency the sink carried, and when
    region_pixels                   pixels of an element in a window screenshot
"""
import math
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

ASSETS = harness.ROOT / "assets"

# Main window, inside the window.
COLLAPSED_HEIGHT = 187
EXPANDED_HEIGHT = 368
START_POSITION = (214, 191)
ALARM_BUTTON = (203, 56, 142, 41)
SNOOZE_BUTTON = (48, 123, 189, 36)
SETTINGS_BUTTON = (237, 124, 105, 35)
MINIMISE_GLYPH = (316, 12, 16, 16)
CLOSE_GLYPH = (332, 12, 16, 15)
FILE_NAME_LABEL = (41, 215, 213, 14)
BROWSE_BUTTON = (267, 203, 103, 40)
ALARM_TIME_BAR = (108, 263, 237, 17)
SNOOZE_BAR = (179, 312, 166, 17)
CLOCK_LABEL = (59, 53, 109, 25)
STATUS_LABEL = (87, 83, 26, 15)
ALARM_TIME_LABEL = (120, 83, 70, 17)
# About window, inside that window.
ABOUT_TITLE = "About"
ABOUT_SIZE = (388, 190)
EXIT_BUTTON = (248, 123, 94, 39)

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


def wait_gone(program, win, timeout=10):
    harness.wait_until(lambda: not harness.geometry(win, program.display).viewable
                       if window_exists(win, program.display) else True,
                       timeout, f"window {win} to be unmapped")


def window_exists(win, display=None):
    return harness.run(["xwininfo", "-id", str(win)], display=display,
                       check=False).returncode == 0


def focused_window(display=None):
    res = harness.run(["xdotool", "getwindowfocus", "-f"], display=display, check=False)
    try:
        return int(res.stdout.strip())
    except ValueError:
        return None


def transient_for(win, display=None):
    out = harness.run(["xprop", "-id", str(win), "WM_TRANSIENT_FOR"], display=display,
                      check=False).stdout
    m = __import__("re").search(r"window id # (0x[0-9a-f]+)", out)
    return int(m.group(1), 16) if m else None


def wait_height(win, height, timeout=5, display=None):
    harness.wait_until(lambda: harness.geometry(win, display).height == height, timeout,
                       f"the main window to be {height} px high")


def open_settings(win, display=None):
    click_button(win, SETTINGS_BUTTON, display)
    wait_height(win, EXPANDED_HEIGHT, display=display)


def choose_file(program, win, path):
    """Browse, type the full path into the Open dialog's file name box, Enter."""
    click_button(win, BROWSE_BUTTON, program.display)
    dialog = wait_named(program, OPEN_DIALOG_TITLE, timeout=15)
    harness.focus(dialog, program.display)
    time.sleep(0.3)
    harness.key("ctrl+a", display=program.display)
    harness.type_text(str(path), display=program.display)
    harness.key("Return", display=program.display)
    harness.wait_until(lambda: not named_windows(program.pid, OPEN_DIALOG_TITLE,
                                                 display=program.display),
                       10, "the Open dialog to close")


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
        self.offset = self.epoch(text) - time.time()
        tmp = self.path.with_suffix(".new")
        tmp.write_text(f"{self.offset:+.3f}\n")
        tmp.replace(self.path)

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


def _goertzel(chunk, freq, rate):
    """Amplitude (0..1 of full scale) of freq in chunk."""
    n = len(chunk)
    if n == 0:
        return 0.0
    coeff = 2.0 * math.cos(2.0 * math.pi * freq / rate)
    s1 = s2 = 0.0
    for v in chunk:
        s1, s2 = v + coeff * s1 - s2, s1
    power = s1 * s1 + s2 * s2 - coeff * s1 * s2
    return 2.0 * math.sqrt(max(power, 0.0)) / n / 32768.0


def tone_level(rec, freq, start=None, end=None):
    """Amplitude of freq between two recording times (seconds), 0..1 of full scale."""
    return _goertzel(rec._range(start, end), freq, rec.rate)


def tone_spans(rec, freq, threshold=0.05, ms=20, min_gap=0.15):
    """[(start, end)] recording times where freq is louder than threshold."""
    step = max(1, int(rec.rate * ms / 1000))
    s = rec.samples()
    spans = []
    for a in range(0, len(s) - step + 1, step):
        if _goertzel(s[a:a + step], freq, rec.rate) > threshold:
            t0, t1 = a / rec.rate, (a + step) / rec.rate
            if spans and t0 - spans[-1][1] < min_gap:
                spans[-1] = (spans[-1][0], t1)
            else:
                spans.append((t0, t1))
    return spans


def first_tone(rec, freq, threshold=0.05, after=0.0, ms=10):
    """Recording time of the first window after `after` where freq is present, or None."""
    step = max(1, int(rec.rate * ms / 1000))
    s = rec.samples()
    for a in range(int(after * rec.rate), len(s) - step + 1, step):
        if _goertzel(s[a:a + step], freq, rec.rate) > threshold:
            return a / rec.rate
    return None


# --------------------------------------------------------------------------- pixels

def region_pixels(image, rect, origin=(0, 0)):
    """The pixels of rect (window coordinates) in an image whose (0, 0) is at origin."""
    x, y, w, h = rect
    ox, oy = origin
    return [image.pixel(ox + x + i, oy + y + j) for j in range(h) for i in range(w)]


def png_pixels(path, rect=None):
    """All pixels (or those of rect) of a PNG file that harness.Image can read."""
    img = harness.Image(path)
    return region_pixels(img, rect or (0, 0, img.width, img.height))
