#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Windows on the X display and the tray: found and read through python3-xlib (geometry,
shape, properties) and Pillow (pictures), driven with xdotool (pointer and keyboard);
ProbeWindow, a plain X client that reports its input.

Command line (scripts/run): display.py screenshot PATH [--of PID TITLE] takes the screen
once process PID shows a window TITLE and had a second to paint it (exit code 2: the
process ended first).
"""
import argparse
import contextlib
import os
import sys
import time
import warnings
from collections import namedtuple
from pathlib import Path

import PIL.Image
import Xlib.display
import Xlib.error
import Xlib.ext.shape
from Xlib import X

from procs import HarnessError, Proc, command_line, run, wait_until

MAP_STATES = {X.IsUnmapped: "IsUnmapped", X.IsUnviewable: "IsUnviewable", X.IsViewable: "IsViewable"}
WM_STATES = {0: "Withdrawn", 1: "Normal", 3: "Iconic"}


@contextlib.contextmanager
def connection(name=None):
    """A connection to the X display name (default $DISPLAY), closed afterwards; an X
    error on the way (a window that is gone) becomes a HarnessError."""
    name = name or os.environ.get("DISPLAY", "")
    try:
        with warnings.catch_warnings():
            # A connection that fails leaves its sockets to the garbage collector.
            warnings.simplefilter("ignore", ResourceWarning)
            d = Xlib.display.Display(name)
    except (Xlib.error.DisplayError, OSError) as exc:
        raise HarnessError(f"cannot open X display {name!r}: {exc}") from None
    try:
        yield d
    except Xlib.error.XError as exc:
        raise HarnessError(f"X error on display {name!r}: {exc}") from exc
    finally:
        d.close()


def display_works(display):
    with contextlib.suppress(HarnessError), connection(display):
        return True
    return False


def _window(d, win):
    return d.create_resource_object("window", int(win))


def _property(d, window, name):
    reply = window.get_full_property(d.intern_atom(name), X.AnyPropertyType)
    return reply.value if reply else None


def _name(d, window):
    value = _property(d, window, "_NET_WM_NAME") or _property(d, window, "WM_NAME")
    return value.decode("utf-8", "replace") if isinstance(value, bytes) else value


def find_windows(name=None, pid=None, visible=True, display=None):
    """Top-level windows by exact title and/or owning PID (_NET_WM_PID): children of the
    root window (where windows sit without a window manager) that are not
    override-redirect, so a program's own windows, not its menus or its tray icon (Qt
    bypasses the window manager for that one, docked or not yet)."""
    found = []
    with connection(display) as d:
        for w in d.screen().root.query_tree().children:
            with contextlib.suppress(Xlib.error.XError):  # gone meanwhile
                attrs = w.get_attributes()
                if not (attrs.override_redirect or (visible and attrs.map_state != X.IsViewable)
                        or pid is not None and (_property(d, w, "_NET_WM_PID") or [None])[0] != pid
                        or name is not None and _name(d, w) != name):
                    found.append(w.id)
    return found


def window_name(win, display=None):
    with connection(display) as d:
        return _name(d, _window(d, win))


def window_property(win, name, display=None):
    """A property of the window: a list of numbers (or atoms), bytes for text; None when unset."""
    with connection(display) as d:
        return _property(d, _window(d, win), name)


class Geometry(namedtuple("Geometry", "x y width height map_state")):
    viewable = property(lambda self: self.map_state == "IsViewable")


# extents: (x, y, w, h) relative to the window when shaped.
Shape = namedtuple("Shape", "shaped extents", defaults=(None,))


def geometry(win, display=None):
    """Position on the screen, size and map state; a HarnessError when the window is gone."""
    with connection(display) as d:
        w = _window(d, win)
        g = w.get_geometry()
        at = d.screen().root.translate_coords(w, -g.border_width, -g.border_width)
        return Geometry(at.x, at.y, g.width, g.height, MAP_STATES[w.get_attributes().map_state])


def viewable(win, display=None):
    """True while the window exists and is mapped (a destroyed window is not)."""
    with contextlib.suppress(HarnessError):
        return geometry(win, display).viewable
    return False


def shape(win, display=None):
    """Whether the window has a bounding shape (X Shape extension) and its extents."""
    with connection(display) as d:
        e = _window(d, win).shape_query_extents()
    if not e.bounding_shaped:
        return Shape(False)
    return Shape(True, (e.bounding_shape_extents_x, e.bounding_shape_extents_y,
                        e.bounding_shape_extents_width, e.bounding_shape_extents_height))


def shape_rectangles(win, display=None):
    """Rectangles of the window's bounding shape, window-relative (x, y, w, h).

    An unshaped window reports one rectangle: itself; a window that is gone, none."""
    with contextlib.suppress(HarnessError), connection(display) as d:
        reply = _window(d, win).shape_get_rectangles(Xlib.ext.shape.SK.Bounding)
        return [(r.x, r.y, r.width, r.height) for r in reply.rectangles]
    return []


def visible_shape_bbox(win, display=None):
    """Bounding box (x, y, w, h) of the shaped area that lies inside the window, or None.

    The shape's extents include parts outside the window (they do not show)."""
    g = geometry(win, display)
    boxes = []
    for x, y, w, h in shape_rectangles(win, display):
        x0, y0 = max(x, 0), max(y, 0)
        x1, y1 = min(x + w, g.width), min(y + h, g.height)
        if x1 > x0 and y1 > y0:
            boxes.append((x0, y0, x1, y1))
    if not boxes:
        return None
    x0, y0 = min(b[0] for b in boxes), min(b[1] for b in boxes)
    x1, y1 = max(b[2] for b in boxes), max(b[3] for b in boxes)
    return (x0, y0, x1 - x0, y1 - y0)


def wm_state(win, display=None):
    """The window's ICCCM WM_STATE ("Normal", "Iconic", "Withdrawn") or None when unset."""
    value = window_property(win, "WM_STATE", display)
    return WM_STATES.get(value[0], str(value[0])) if value else None


def net_wm_state(win, display=None):
    with connection(display) as d:
        return {d.get_atom_name(a) for a in _property(d, _window(d, win), "_NET_WM_STATE") or []}


def focused_window(display=None):
    with connection(display) as d:
        focus = d.get_input_focus().focus
    return None if isinstance(focus, int) else focus.id


def pointer_position(display=None):
    with connection(display) as d:
        p = d.screen().root.query_pointer()
    return p.root_x, p.root_y


# --------------------------------------------------------------------------- the tray

def tray_owner(display=None):
    """Window owning the system tray selection of screen 0, or 0 when no tray host runs."""
    with connection(display) as d:
        owner = d.get_selection_owner(d.intern_atom("_NET_SYSTEM_TRAY_S0"))
        return owner.id if owner else 0


def trayer_panel(display=None):
    """trayer's panel window (WM_CLASS "panel", "trayer"), or None."""
    with connection(display) as d:
        for w in d.screen().root.query_tree().children:
            with contextlib.suppress(Xlib.error.XError):
                if w.get_wm_class() == ("panel", "trayer"):
                    return w.id
    return None


def tray_icons(display=None):
    """(window, pid) of each client window docked in trayer (pid from _NET_WM_PID)."""
    icons, panel = [], trayer_panel(display)
    with connection(display) as d:
        todo = [_window(d, panel)] if panel else []
        while todo:
            for w in todo.pop().query_tree().children:
                with contextlib.suppress(Xlib.error.XError):
                    pid = _property(d, w, "_NET_WM_PID")
                    if pid:
                        icons.append((w.id, pid[0]))
                    todo.append(w)
    return icons


def tray_icon_docked(pid, display=None):
    """True when a window of process pid sits inside trayer's panel."""
    return any(p == pid for _, p in tray_icons(display))


# --------------------------------------------------------------------------- input

def move_to(win, x, y, display=None):
    """Pointer to (x, y) relative to window win."""
    run(["xdotool", "mousemove", "--window", str(win), str(x), str(y)], display=display)


def click(button=1, win=None, x=None, y=None, repeat=1, display=None):
    """Click a button (1 left, 2 middle, 3 right, 4/5 wheel), optionally at (x, y) of win."""
    if win is not None:
        move_to(win, x, y, display)
    run(["xdotool", "click", "--repeat", str(repeat), "--delay", "80", str(button)],
        display=display)


def press(button=1, display=None):
    run(["xdotool", "mousedown", str(button)], display=display)


def release(button=1, display=None):
    run(["xdotool", "mouseup", str(button)], display=display)


def focus(win, display=None):
    run(["xdotool", "windowfocus", str(win)], display=display)


def key(*keys, win=None, display=None):
    """Key presses by X keysym name ("Escape", "ctrl+q", "space"); focus win first."""
    if win is not None:
        focus(win, display)
    run(["xdotool", "key", "--delay", "50", *keys], display=display)


def type_text(text, win=None, display=None):
    if win is not None:
        focus(win, display)
    run(["xdotool", "type", "--delay", "50", text], display=display)


# --------------------------------------------------------------------------- pictures

def screenshot(path, window=None, display=None):
    """PNG (8-bit RGB) of the whole screen, or of one window; returns the path."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    with connection(display) as d:
        w = _window(d, window) if window is not None else d.screen().root
        g = w.get_geometry()
        data = w.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF).data
    if len(data) != g.width * g.height * 4:
        raise HarnessError(f"window {window} of depth {g.depth}: not 32 bits a pixel")
    PIL.Image.frombytes("RGB", (g.width, g.height), data, "raw", "BGRX").save(path)
    return path


class Image:
    """Pixels of a PNG file as (r, g, b): a screenshot, a skin picture (Pillow)."""

    def __init__(self, path):
        try:
            with PIL.Image.open(path) as img:
                self.pil = img.convert("RGB")
        except (OSError, PIL.UnidentifiedImageError) as exc:
            raise HarnessError(f"cannot read the picture {path}: {exc}") from exc
        self.width, self.height = self.pil.size

    def pixel(self, x, y):
        """(r, g, b) at x, y."""
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise HarnessError(f"pixel {x},{y} outside the {self.width}x{self.height} image")
        return self.pil.getpixel((x, y))


# --------------------------------------------------------------------------- a stand-in

class ProbeWindow:
    """A plain X client (probe_window.py), optionally shaped or docked in the tray, and
    the events it reported as lines ("ButtonPress 1 50 30", "KeyPress a")."""

    def __init__(self, name, geometry="200x100+50+50", shapes=(), tray=False, display=None):
        argv = [sys.executable, Path(__file__).resolve().parent / "probe_window.py",
                "--name", name, "--geometry", geometry]
        for rect in shapes:
            argv += ["--shape", ",".join(map(str, rect))]
        if tray:
            argv.append("--tray")
        self.display = display
        self.proc = Proc(argv, name="probe", env=dict(os.environ, DISPLAY=display) if display else None)
        self.window = int(wait_until(lambda: self._line("READY"), 10, f"probe window {name!r}")[1])

    def lines(self):
        if not self.proc.alive() and "READY" not in self.proc.stdout_text():
            raise HarnessError("probe window failed\n" + self.proc.describe())
        return [line.split() for line in self.proc.stdout_text().splitlines()]

    def _line(self, kind):
        return next((line for line in self.lines() if line[0] == kind), None)

    def events(self, *kinds):
        return [" ".join(line) for line in self.lines() if line[0] in kinds]

    def take_focus(self):
        focus(self.window, self.display)
        wait_until(lambda: focused_window(self.display) == self.window, 5,
                   "the other window to have the focus")

    def stop(self):
        self.proc.stop()


def _main(argv):
    ap = argparse.ArgumentParser(description="Tovrel's test display: a screenshot")
    ap.add_argument("screenshot", choices=["screenshot"])
    ap.add_argument("path")
    ap.add_argument("--of", nargs=2, metavar=("PID", "TITLE"))
    ap.add_argument("--timeout", type=float, default=30)
    args = ap.parse_args(argv)
    if args.of:
        pid = int(args.of[0])

        def ended():  # or a zombie that its parent has not waited for yet
            try:
                return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] == "Z"
            except OSError:
                return True
        wait_until(lambda: find_windows(args.of[1], pid) or ended(), args.timeout,
                   f"window {args.of[1]!r}")
        if not find_windows(args.of[1], pid):
            return 2
        time.sleep(1)  # let it paint
    screenshot(args.path)


if __name__ == "__main__":
    command_line(_main)
