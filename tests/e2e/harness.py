#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Helpers for Tovrel's end-to-end tests (Python 3, python3-xlib, python3-pil).

The tests drive the real program on an X display with a system tray host (trayer)
and a PulseAudio server whose null sink "ci_sink" is recorded through its monitor.

Services: scripts/test starts a session bus, Xvfb, trayer and PulseAudio and exports
DBUS_SESSION_BUS_ADDRESS, DISPLAY and PULSE_SERVER. A test file run on its own
(python3 tests/e2e/test_x.py) gets private ones from services().ensure(), stopped when
the test process ends, and no session bus: the user's display, sound server and bus
are never used.

Main pieces:
    services()                      the shared display/tray/sound services
    Program(faketime=..., ...)      start build/tovrel (or $TOVREL_BIN) with a temporary HOME
      .wait_window(name)            window id once mapped; clear failure with its stderr
    geometry(win), shape(win), visible_shape_bbox(win), tray_icon_docked(pid)
    move_to / click / press / release / key / type_text   pointer and keyboard (xdotool)
    screenshot(path, window=None), Image(path).pixel(x, y)
    Recorder()                      parecord from ci_sink.monitor, then the sound analysis:
      first_sound / sound_spans / peak, first_tone / tone_spans / tone_level (one frequency)
    XServer(), Trayer(), PulseServer(), no_sound_server_env()   extra private services
    Proc(...)                       any helper process; all are stopped at exit by PID

Timeouts scale with TOVREL_E2E_TIME_SCALE (e.g. 3 for a slow machine).
"""
import array
import atexit
import contextlib
import math
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import warnings
from dataclasses import dataclass
from pathlib import Path

import PIL.Image
import Xlib.display
import Xlib.error
import Xlib.ext.shape

ROOT = Path(__file__).resolve().parents[2]
FAKETIME_LIB = os.environ.get(
    "TOVREL_FAKETIME_LIB", "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1")
TIME_SCALE = float(os.environ.get("TOVREL_E2E_TIME_SCALE", "1") or 1)
MAIN_WINDOW_TITLE = "MP3 Tovrel"
SINK = "ci_sink"


class HarnessError(AssertionError):
    """A failed expectation of the harness; reported by unittest as a test failure."""


def lacking(what):
    """Skip a test that needs something this machine lacks, saying what; in CI
    (CI=true), where scripts/test has installed and started everything, fail it."""
    if os.environ.get("CI") == "true":
        raise HarnessError(f"{what} (CI must have everything)")
    raise unittest.SkipTest(what)


def scaled(seconds):
    return seconds * TIME_SCALE


def wait_until(predicate, timeout, what, interval=0.05):
    """Poll predicate() until it returns a true value, and return that value."""
    deadline = time.monotonic() + scaled(timeout)
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError(f"timed out after {scaled(timeout):.1f} s waiting for {what}")
        time.sleep(interval)


# --------------------------------------------------------------------------- files

_scratch = None


def scratch_dir():
    """This test process's temporary folder (removed at exit unless TOVREL_E2E_KEEP=1)."""
    global _scratch
    if _scratch is None:
        _scratch = Path(tempfile.mkdtemp(prefix="tovrel-e2e."))
    return _scratch


def new_dir(prefix):
    return Path(tempfile.mkdtemp(prefix=prefix + ".", dir=scratch_dir()))


def tovrel_bin():
    return Path(os.environ.get("TOVREL_BIN") or ROOT / "build" / "tovrel")


def test_output_dir(*parts):
    """Where tests keep screenshots and recordings: <build>/test-output/e2e/..."""
    base = os.environ.get("TOVREL_TEST_OUTPUT")
    path = Path(base) if base else tovrel_bin().resolve().parent / "test-output" / "e2e"
    path = path.joinpath(*parts)
    path.mkdir(parents=True, exist_ok=True)
    return path


def tail(path, lines=40):
    try:
        text = Path(path).read_text(errors="replace")
    except OSError:
        return ""
    return "\n".join(text.splitlines()[-lines:])


# --------------------------------------------------------------------------- processes

_procs = []


class Proc:
    """A process started by the harness in its own process group.

    Output goes to files (stdout_path, stderr_path). stop() signals only this
    process group, chosen by its PID; every Proc still running is stopped at exit.
    """

    def __init__(self, argv, name=None, env=None, stdout_path=None, pass_fds=(), cwd=None):
        self.argv = [str(a) for a in argv]
        self.name = name or Path(self.argv[0]).name
        logs = new_dir(self.name)
        self.stdout_path = Path(stdout_path) if stdout_path else logs / "stdout.txt"
        self.stderr_path = logs / "stderr.txt"
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            try:
                self.popen = subprocess.Popen(
                    self.argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                    pass_fds=pass_fds, cwd=cwd, start_new_session=True)
            except OSError as exc:
                raise HarnessError(f"cannot start {self.name} ({self.argv[0]}): {exc}") from exc
        self.pid = self.popen.pid
        _procs.append(self)

    def alive(self):
        return self.popen.poll() is None

    @property
    def returncode(self):
        return self.popen.poll()

    def wait(self, timeout):
        """Wait for the process to end by itself; its exit code or None."""
        try:
            return self.popen.wait(timeout=scaled(timeout))
        except subprocess.TimeoutExpired:
            return None

    def send_signal(self, sig):
        if self.alive():
            try:
                os.killpg(self.pid, sig)
            except ProcessLookupError:
                pass

    def stop(self, grace=5.0, sig=signal.SIGTERM):
        """sig to the process group, then SIGKILL after grace seconds; the exit code."""
        if self.alive():
            self.send_signal(sig)
            try:
                self.popen.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                self.send_signal(signal.SIGKILL)
                self.popen.wait(timeout=5)
        # Children that outlived the leader (same group) must not outlive the test.
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        if self in _procs:
            _procs.remove(self)
        return self.popen.returncode

    def status_text(self):
        code = self.returncode
        if code is None:
            return "still running"
        if code < 0:
            try:
                return f"killed by {signal.Signals(-code).name}"
            except ValueError:
                return f"killed by signal {-code}"
        return f"exited with code {code}"

    def stderr_text(self):
        return Path(self.stderr_path).read_text(errors="replace")

    def stdout_text(self):
        return Path(self.stdout_path).read_text(errors="replace")

    def describe(self, lines=40):
        text = [f"{self.name} (pid {self.pid}) {self.status_text()}; command: {' '.join(self.argv)}"]
        err = tail(self.stderr_path, lines)
        text.append(f"---- last lines of its stderr ({self.stderr_path}):\n{err}" if err
                    else "---- its stderr is empty")
        return "\n".join(text)


def cleanup():
    """Stop every process the harness started (newest first) and drop the scratch folder."""
    for proc in reversed(list(_procs)):
        try:
            proc.stop(grace=3)
        except Exception as exc:  # keep cleaning the rest
            print(f"harness: stopping {proc.name} failed: {exc}", file=sys.stderr)
    if _scratch is not None and os.environ.get("TOVREL_E2E_KEEP") != "1":
        shutil.rmtree(_scratch, ignore_errors=True)


atexit.register(cleanup)
if signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
    # A test process ended by SIGTERM (ctest's timeout) still stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def run(argv, display=None, env=None, timeout=10, check=True, pulse_server=None):
    """Run a short command; CompletedProcess with text output."""
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    if display:
        full_env["DISPLAY"] = display
    if pulse_server:
        full_env["PULSE_SERVER"] = pulse_server
    try:
        res = subprocess.run([str(a) for a in argv], env=full_env, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=scaled(timeout))
    except subprocess.TimeoutExpired as exc:
        raise HarnessError(f"{argv[0]} took more than {scaled(timeout):.0f} s: {' '.join(map(str, argv))}") from exc
    if check and res.returncode != 0:
        raise HarnessError(f"{' '.join(map(str, argv))} failed ({res.returncode}): "
                           f"{res.stderr.strip() or res.stdout.strip()}")
    return res


# --------------------------------------------------------------------------- Xlib

@contextlib.contextmanager
def _display(name=None):
    """A connection to the X display name (default $DISPLAY), closed afterwards."""
    name = name or os.environ.get("DISPLAY", "")
    d = None
    with warnings.catch_warnings():
        # A connection that fails leaves its sockets to the garbage collector.
        warnings.simplefilter("ignore", ResourceWarning)
        try:
            d = Xlib.display.Display(name)
        except (Xlib.error.DisplayError, OSError) as exc:
            error = str(exc)
    if d is None:
        raise HarnessError(f"cannot open X display {name!r}: {error}")
    try:
        yield d
    finally:
        d.close()


def display_works(display):
    try:
        with _display(display):
            return True
    except HarnessError:
        return False


def tray_owner(display=None):
    """Window owning the system tray selection of screen 0, or 0 when no tray host runs."""
    with _display(display) as d:
        owner = d.get_selection_owner(d.intern_atom("_NET_SYSTEM_TRAY_S0"))
        return owner.id if owner else 0


def shape_rectangles(win, display=None):
    """Rectangles of the window's bounding shape, window-relative (x, y, w, h).

    An unshaped window reports one rectangle: itself; a window that is gone, none."""
    with _display(display) as d:
        try:
            reply = d.create_resource_object("window", int(win)).shape_get_rectangles(
                Xlib.ext.shape.SK.Bounding)
        except Xlib.error.XError:
            return []
        return [(r.x, r.y, r.width, r.height) for r in reply.rectangles]


# --------------------------------------------------------------------------- windows

@dataclass
class Geometry:
    x: int
    y: int
    width: int
    height: int
    map_state: str

    @property
    def viewable(self):
        return self.map_state == "IsViewable"


@dataclass
class Shape:
    shaped: bool
    extents: tuple = None  # (x, y, w, h) relative to the window when shaped


def _ere_escape(text):
    return re.sub(r"([.^$*+?()\[\]{}|\\])", r"\\\1", text)


def find_windows(name=None, pid=None, visible=True, display=None):
    """Window ids by exact title and/or owning PID (_NET_WM_PID), via xdotool search."""
    argv = ["xdotool", "search"]
    if visible:
        argv.append("--onlyvisible")
    if name is not None and pid is not None:
        argv.append("--all")  # both must match; xdotool takes either by default
    if pid is not None:
        argv += ["--pid", str(pid)]
    if name is not None:
        argv += ["--name", "^" + _ere_escape(name) + "$"]  # the pattern comes last
    res = run(argv, display=display, check=False)
    return [int(w) for w in res.stdout.split()]


def window_name(win, display=None):
    res = run(["xdotool", "getwindowname", str(win)], display=display, check=False)
    return res.stdout.rstrip("\n") if res.returncode == 0 else None


def geometry(win, display=None):
    out = run(["xwininfo", "-id", str(win)], display=display).stdout

    def field(label):
        m = re.search(r"^\s*" + re.escape(label) + r":\s*(\S+)", out, re.M)
        if not m:
            raise HarnessError(f"xwininfo gave no {label!r} for window {win}:\n{out}")
        return m.group(1)

    return Geometry(int(field("Absolute upper-left X")), int(field("Absolute upper-left Y")),
                    int(field("Width")), int(field("Height")), field("Map State"))


def shape(win, display=None):
    """Whether the window has a bounding shape (X Shape extension) and its extents."""
    out = run(["xwininfo", "-shape", "-id", str(win)], display=display).stdout
    m = re.search(r"Window shape extents:\s*(\d+)x(\d+)([+-]\d+)([+-]\d+)", out)
    if m:
        w, h, x, y = (int(v) for v in m.groups())
        return Shape(True, (x, y, w, h))
    if "No window shape defined" in out:
        return Shape(False)
    raise HarnessError(f"cannot read the shape of window {win} from xwininfo:\n{out}")


def visible_shape_bbox(win, display=None):
    """Bounding box (x, y, w, h) of the shaped area that lies inside the window, or None.

    xwininfo's extents include shape parts outside the window (they do not show)."""
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


def window_pid(win, display=None):
    res = run(["xprop", "-id", str(win), "_NET_WM_PID"], display=display, check=False)
    m = re.search(r"=\s*(\d+)", res.stdout)
    return int(m.group(1)) if m else None


def _tree_ids(xwininfo_tree_output):
    return [int(m.group(1), 16)
            for m in re.finditer(r"^\s+(0x[0-9a-f]+)\s", xwininfo_tree_output, re.M)]


def trayer_panel(display=None):
    """trayer's panel window (WM_CLASS "panel", "trayer"), or None."""
    out = run(["xwininfo", "-root", "-tree"], display=display).stdout
    m = re.search(r"^\s+(0x[0-9a-f]+) .*\(\"panel\" \"trayer\"\)", out, re.M)
    return int(m.group(1), 16) if m else None


def tray_icons(display=None):
    """(window, pid) of each client window docked in trayer (pid from _NET_WM_PID)."""
    panel = trayer_panel(display)
    if panel is None:
        return []
    out = run(["xwininfo", "-tree", "-id", str(panel)], display=display).stdout
    icons = []
    for win in _tree_ids(out):
        pid = window_pid(win, display)
        if pid is not None:
            icons.append((win, pid))
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


def pointer_position(display=None):
    out = run(["xdotool", "getmouselocation", "--shell"], display=display).stdout
    vals = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(vals["X"]), int(vals["Y"])


def screenshot(path, window=None, display=None):
    """PNG (8-bit RGB) of the whole screen, or of one window; returns the path."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    run(["import", "-window", "root" if window is None else str(window), f"PNG24:{path}"],
        display=display, timeout=30)
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


# --------------------------------------------------------------------------- services

class XServer:
    """A private Xvfb on a display number it picks itself (-displayfd)."""

    def __init__(self, width=1280, height=1024, depth=24):
        self.screen = f"{width}x{height}x{depth}"
        self.proc = None
        self.display = None

    def start(self, timeout=15):
        rfd, wfd = os.pipe()
        try:
            self.proc = Proc(["Xvfb", "-displayfd", str(wfd), "-screen", "0", self.screen,
                              "-nolisten", "tcp", "-noreset"], name="Xvfb", pass_fds=(wfd,))
        finally:
            os.close(wfd)
        try:
            data = b""
            deadline = time.monotonic() + scaled(timeout)
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([rfd], [], [], left)[0]:
                    raise HarnessError("Xvfb chose no display in time\n" + self.proc.describe())
                chunk = os.read(rfd, 64)
                if not chunk:
                    raise HarnessError("Xvfb ended before choosing a display\n" + self.proc.describe())
                data += chunk
        finally:
            os.close(rfd)
        self.display = ":" + data.decode().strip()
        wait_until(lambda: display_works(self.display) or self._check(), timeout,
                   f"Xvfb {self.display} to answer")
        return self

    def _check(self):
        if not self.proc.alive():
            raise HarnessError("Xvfb ended\n" + self.proc.describe())
        return False

    def stop(self):
        if self.proc:
            self.proc.stop()


class Trayer:
    """trayer as the system tray host of a display; ready once it owns the tray selection."""

    def __init__(self, display):
        self.display = display
        self.proc = None

    def start(self, timeout=15):
        env = dict(os.environ, DISPLAY=self.display)
        self.proc = Proc(["trayer", "--edge", "top", "--align", "right", "--widthtype",
                          "request", "--height", "24", "--SetDockType", "true",
                          "--transparent", "false"], name="trayer", env=env)

        def ready():
            if not self.proc.alive():
                raise HarnessError("trayer ended\n" + self.proc.describe())
            return tray_owner(self.display)

        wait_until(ready, timeout, f"trayer to own the system tray on {self.display}")
        return self

    def stop(self):
        if self.proc:
            self.proc.stop()


def pulse_has_sink(server, sink=SINK):
    res = run(["pactl", "--server", server, "list", "short", "sinks"], check=False, timeout=5)
    return res.returncode == 0 and any(
        line.split("\t")[1:2] == [sink] for line in res.stdout.splitlines())


class PulseServer:
    """A private PulseAudio daemon with only the null sink ci_sink (no sound card needed)."""

    def __init__(self):
        self.proc = None
        self.dir = None
        self.server = None

    def start(self, timeout=15):
        self.dir = new_dir("pulse")
        for sub in ("home", "runtime", "config"):
            (self.dir / sub).mkdir(mode=0o700)
        sock = self.dir / "native"
        env = dict(os.environ, HOME=str(self.dir / "home"),
                   XDG_RUNTIME_DIR=str(self.dir / "runtime"),
                   XDG_CONFIG_HOME=str(self.dir / "config"))
        env.pop("PULSE_SERVER", None)
        # No bus: a PulseAudio server claims org.PulseAudio1 there and exits when it is taken.
        env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
        self.proc = Proc(
            ["pulseaudio", "-n", "--daemonize=no", "--system=false", "--exit-idle-time=-1",
             "--disallow-exit", "--use-pid-file=no", "--high-priority=no", "--realtime=no",
             "--log-target=stderr",
             f"--load=module-native-protocol-unix socket={sock} auth-anonymous=1",
             f"--load=module-null-sink sink_name={SINK} "
             "sink_properties=device.description=CISink norewinds=1"],
            name="pulseaudio", env=env)
        self.server = f"unix:{sock}"

        def ready():
            if not self.proc.alive():
                raise HarnessError("pulseaudio ended\n" + self.proc.describe())
            return sock.exists() and pulse_has_sink(self.server)

        wait_until(ready, timeout, f"PulseAudio at {self.server}")
        return self

    def stop(self):
        if self.proc:
            self.proc.stop()


def no_sound_server_env():
    """Environment for a program that must find no sound server at all."""
    d = new_dir("no-pulse")
    conf = d / "client.conf"
    conf.write_text("autospawn = no\n")
    return {"PULSE_SERVER": f"unix:{d}/native", "PULSE_CLIENTCONFIG": str(conf)}


class Services:
    """DISPLAY with a tray host, and PULSE_SERVER with ci_sink, for the tests.

    Uses those of the environment when scripts/lib/services.sh started them (a run
    folder TOVREL_RUN_DIR is set) and they work; starts private ones otherwise, with
    the session bus "disabled:" (libdbus then neither finds the user's bus nor
    autolaunches one). ensure() exports them to os.environ so that every helper and
    child process uses them."""

    def __init__(self):
        self.display = None
        self.pulse_server = None
        self.started = []

    def ensure(self):
        if self.display and self.pulse_server:
            return self
        ours = bool(os.environ.get("TOVREL_RUN_DIR"))
        if not ours:
            os.environ["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
        disp = os.environ.get("DISPLAY")
        if ours and disp and display_works(disp):
            self.display = disp
        else:
            x = XServer().start()
            self.started.append(x)
            self.started.append(Trayer(x.display).start())
            self.display = x.display
        ps = os.environ.get("PULSE_SERVER")
        if ours and ps and pulse_has_sink(ps):
            self.pulse_server = ps
        else:
            pulse = PulseServer().start()
            self.started.append(pulse)
            self.pulse_server = pulse.server
        os.environ["DISPLAY"] = self.display
        os.environ["PULSE_SERVER"] = self.pulse_server
        return self

    def stop(self):
        for svc in reversed(self.started):
            svc.stop()
        self.started.clear()


_services = Services()


def services():
    return _services


# --------------------------------------------------------------------------- the program

def faketime_spec(start, speed=None):
    """FAKETIME value: the clock starts at start ("2026-12-08 23:59:50", local time),
    optionally running speed times faster."""
    return f"@{start}" + (f" x{speed}" if speed else "")


class Running:
    """A program started as self.proc (a Proc), named self.name in what goes wrong."""

    name = "the program"
    proc = None

    @property
    def pid(self):
        return self.proc.pid

    def alive(self):
        return self.proc is not None and self.proc.alive()

    def failure(self, message):
        """A HarnessError carrying message, the program's state and its stderr."""
        if self.proc is None:
            return HarnessError(message + f"\n({self.name} was never started)")
        return HarnessError(message + "\n" + self.proc.describe())

    def check_alive(self, doing="running"):
        if not self.alive():
            raise self.failure(f"{self.name} ended while {doing}")


class Program(Running):
    """Tovrel under test: its own temporary HOME, optional faked wall clock.

    faketime: a FAKETIME value (see faketime_spec); the monotonic clock stays real,
    which Qt's timers and media playback need.
    env: extra environment (wins over everything else)."""

    name = "tovrel"

    def __init__(self, binary=None, faketime=None, home=None, env=None, display=None,
                 pulse_server=None, args=()):
        self.binary = Path(binary) if binary else tovrel_bin()
        self.faketime = faketime
        self.home = Path(home) if home else None
        self.extra_env = dict(env or {})
        self.display = display
        self.pulse_server = pulse_server
        self.args = list(args)
        self.proc = None

    def environment(self):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_QPA_", "FAKETIME", "XDG_"))
               and k not in ("LD_PRELOAD", "QT_QPA_PLATFORM")}
        home = self.home
        env.update(HOME=str(home), XDG_CONFIG_HOME=str(home / ".config"),
                   XDG_DATA_HOME=str(home / ".local/share"), XDG_CACHE_HOME=str(home / ".cache"),
                   XDG_STATE_HOME=str(home / ".local/state"),
                   XDG_RUNTIME_DIR=str(home / ".runtime"), QT_QPA_PLATFORM="xcb")
        if self.display:
            env["DISPLAY"] = self.display
        if self.pulse_server:
            env["PULSE_SERVER"] = self.pulse_server
        if self.faketime:
            if not Path(FAKETIME_LIB).exists():
                raise HarnessError(f"libfaketime not found at {FAKETIME_LIB} (package libfaketime)")
            env.update(LD_PRELOAD=FAKETIME_LIB, FAKETIME=self.faketime,
                       FAKETIME_DONT_FAKE_MONOTONIC="1")
        env.update(self.extra_env)
        return env

    def start(self):
        if not self.binary.is_file() or not os.access(self.binary, os.X_OK):
            raise HarnessError(f"program not built: {self.binary} (set TOVREL_BIN or build build/)")
        if self.home is None:
            self.home = new_dir("home")
        (self.home / ".runtime").mkdir(mode=0o700, exist_ok=True)
        self.proc = Proc([self.binary, *self.args], name="tovrel", env=self.environment(),
                         cwd=self.home)
        return self

    def windows(self, name=None, visible=True):
        """This program's windows (optionally by exact title), its tray icon left out."""
        wins = find_windows(name=name, pid=self.pid, visible=visible, display=self.display)
        if wins:
            docked = {w for w, _ in tray_icons(self.display)}
            wins = [w for w in wins if w not in docked]
        return wins

    def wait_window(self, name=MAIN_WINDOW_TITLE, timeout=20, visible=True):
        """Id of this program's window titled name, once it exists (and is mapped).

        Qt gives the tray icon's window the same title; it is told apart by sitting in
        the tray. Before the tray host takes it in, it is briefly a top-level window, so
        a window counts only once two looks 0.1 s apart both see it outside the tray."""
        deadline = time.monotonic() + scaled(timeout)
        seen = []
        while True:
            self.check_alive(f"waiting for window {name!r}")
            wins = self.windows(name, visible)
            stable = [w for w in wins if w in seen]
            if stable:
                return stable[0]
            seen = wins
            if time.monotonic() >= deadline:
                others = find_windows(pid=self.pid, visible=False, display=self.display)
                names = [window_name(w, self.display) for w in others]
                raise self.failure(
                    f"no {'mapped ' if visible else ''}window {name!r} of tovrel after "
                    f"{scaled(timeout):.0f} s; its windows: {names}")
            time.sleep(0.1)

    def wait_no_window(self, name, timeout=10):
        wait_until(lambda: not self.windows(name), timeout, f"window {name!r} to go away")

    def wait_exit(self, timeout=10):
        """Exit code once the program ends by itself within timeout, else None."""
        return self.proc.wait(timeout)

    def stop(self, grace=5.0):
        return self.proc.stop(grace) if self.proc else None

    def stderr_text(self):
        return self.proc.stderr_text() if self.proc else ""


# --------------------------------------------------------------------------- sound

class Recorder:
    """Records what reaches ci_sink (its monitor) while running.

    Samples: mono signed 16 bit at `rate`. started_at is the time.monotonic() of
    the first recorded sample (to within a few milliseconds); sample times below are
    seconds since then."""

    def __init__(self, name="recording", device=SINK + ".monitor", rate=44100, server=None,
                 out_dir=None):
        self.device = device
        self.rate = rate
        self.server = server
        base = Path(out_dir) if out_dir else new_dir("rec")
        self.raw_path = base / f"{name}.raw"
        self.wav_path = base / f"{name}.wav"
        self.proc = None
        self.started_at = None
        self._samples = None

    def start(self, timeout=10):
        env = {"PULSE_SERVER": self.server} if self.server else None
        full_env = dict(os.environ, **(env or {}))
        self.proc = Proc(["parecord", "--raw", "--format=s16le", "--channels=1",
                          f"--rate={self.rate}", "--latency-msec=10", "-d", self.device],
                         name="parecord", env=full_env, stdout_path=self.raw_path)

        def flowing():
            if not self.proc.alive():
                raise HarnessError("parecord ended\n" + self.proc.describe())
            size = self.raw_path.stat().st_size
            return (time.monotonic(), size) if size > 0 else None

        now, size = wait_until(flowing, timeout, f"audio from {self.device}", interval=0.002)
        self.started_at = now - size / (2.0 * self.rate)
        return self

    def elapsed(self):
        """Seconds of sound recorded so far."""
        return self.raw_path.stat().st_size / (2.0 * self.rate)

    def stop(self):
        if self.proc is not None:
            self.proc.stop(sig=signal.SIGINT)
            self.proc = None
            run(["sox", "-t", "raw", "-r", str(self.rate), "-e", "signed-integer", "-b", "16",
                 "-c", "1", str(self.raw_path), str(self.wav_path)], timeout=60)
        return self

    def samples(self):
        if self._samples is None:
            data = array.array("h")
            raw = self.raw_path.read_bytes()
            data.frombytes(raw[: len(raw) - len(raw) % 2])
            if sys.byteorder != "little":
                data.byteswap()
            self._samples = data
        return self._samples

    def duration(self):
        return len(self.samples()) / self.rate

    # The analysis: levels are 0..1 of full scale, times seconds of the recording. A
    # stretch's level is its peak, or with freq the amplitude of that frequency in it
    # (Goertzel); the tests look for their sounds by frequency, and for silence by peak.

    def _range(self, start, end):
        s = self.samples()
        a = 0 if start is None else max(0, int(start * self.rate))
        b = len(s) if end is None else min(len(s), int(end * self.rate))
        return s[a:b]

    def _level(self, chunk, freq=None):
        if not chunk:
            return 0.0
        if freq is None:
            return max(map(abs, chunk)) / 32768
        coeff = 2.0 * math.cos(2.0 * math.pi * freq / self.rate)
        s1 = s2 = 0.0
        for v in chunk:
            s1, s2 = v + coeff * s1 - s2, s1
        power = s1 * s1 + s2 * s2 - coeff * s1 * s2
        return 2.0 * math.sqrt(max(power, 0.0)) / len(chunk) / 32768

    def _loud(self, freq, threshold, ms, after=0.0):
        """(start, end) of each window of ms milliseconds (0: of one sample) from `after`
        on whose level is above threshold, in order. The end of the recording may cut
        the last window short; it counts for a peak, not for a frequency."""
        step = max(1, int(self.rate * ms / 1000))
        s = self.samples()
        stop = len(s) if freq is None else len(s) - step + 1
        for a in range(max(0, int(after * self.rate)), stop, step):
            if self._level(s[a:a + step], freq) > threshold:
                yield a / self.rate, min(a + step, len(s)) / self.rate

    def _spans(self, freq, threshold, ms, min_gap):
        """[(start, end)] of the loud windows; gaps shorter than min_gap join."""
        spans = []
        for t0, t1 in self._loud(freq, threshold, ms):
            if spans and t0 - spans[-1][1] < min_gap:
                spans[-1] = (spans[-1][0], t1)
            else:
                spans.append((t0, t1))
        return spans

    def peak(self, start=None, end=None):
        return self._level(self._range(start, end))

    def tone_level(self, freq, start=None, end=None):
        """Amplitude of freq between two times."""
        return self._level(self._range(start, end), freq)

    def rms(self, start=None, end=None):
        """Root mean square level between two times."""
        s = self._range(start, end)
        return (sum(v * v for v in s) / len(s)) ** 0.5 / 32768 if s else 0.0

    def first_sound(self, threshold=0.02, after=0.0):
        """Time of the first sample after `after` louder than threshold, or None."""
        return next((t0 for t0, _ in self._loud(None, threshold, 0, after)), None)

    def first_sound_monotonic(self, threshold=0.02):
        t = self.first_sound(threshold)
        return None if t is None else self.started_at + t

    def last_sound(self, threshold=0.02):
        """Time just after the last sample louder than threshold, or None."""
        spans = self._spans(None, threshold, 0, math.inf)
        return spans[-1][1] if spans else None

    def first_tone(self, freq, threshold=0.05, after=0.0, ms=10):
        """Start of the first window of ms after `after` where freq is present, or None."""
        return next((t0 for t0, _ in self._loud(freq, threshold, ms, after)), None)

    def sound_spans(self, threshold=0.02, ms=20, min_gap=0.1):
        """[(start, end)] of stretches with sound."""
        return self._spans(None, threshold, ms, min_gap)

    def tone_spans(self, freq, threshold=0.05, ms=20, min_gap=0.15):
        """[(start, end)] of stretches where freq is louder than threshold."""
        return self._spans(freq, threshold, ms, min_gap)


# --------------------------------------------------------------------------- command line

def _main(argv):
    import argparse
    ap = argparse.ArgumentParser(description="Tovrel e2e harness tools")
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("tray-owner", help="print the tray selection owner; exit 1 if none")
    p.add_argument("--display")
    args = ap.parse_args(argv)
    if args.cmd == "tray-owner":
        try:
            owner = tray_owner(args.display)
        except HarnessError as exc:
            print(exc, file=sys.stderr)
            return 2
        if not owner:
            return 1
        print(hex(owner))
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(_main(sys.argv[1:]))
