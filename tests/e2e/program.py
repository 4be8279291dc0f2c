#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The program under test: build/tovrel (or $TOVREL_BIN) with a temporary HOME, its
windows, and a wall clock of its own (FakeClock)."""
import atexit
import os
import threading
import time
from pathlib import Path

from display import find_windows, window_name
from procs import HarnessError, Proc, new_dir, scaled, tovrel_bin, wait_until

FAKETIME_LIB = os.environ.get(
    "TOVREL_FAKETIME_LIB", "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1")
MAIN_WINDOW_TITLE = "MP3 Tovrel"


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
    """Tovrel under test: its own temporary HOME; env: extra environment (wins over
    everything else), such as a FakeClock's."""

    name = "tovrel"

    def __init__(self, binary=None, home=None, env=None, display=None, pulse_server=None, args=()):
        self.binary = Path(binary) if binary else tovrel_bin()
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
        """This program's top-level windows, optionally by exact title: not its tray icon
        (nor its menus), which Qt keeps from the window manager (override-redirect)."""
        return find_windows(name=name, pid=self.pid, visible=visible, display=self.display)

    def wait_window(self, name=MAIN_WINDOW_TITLE, timeout=20, visible=True, exclude=()):
        """Id of this program's window titled name (not one of exclude), once it exists
        (and is mapped)."""
        def look():
            self.check_alive(f"waiting for window {name!r}")
            return next((w for w in self.windows(name, visible) if w not in exclude), None)
        try:
            return wait_until(look, timeout, f"window {name!r}", interval=0.1)
        except HarnessError as exc:
            if not self.alive():
                raise
            names = [window_name(w, self.display) for w in self.windows(visible=False)]
            raise self.failure(f"no {'mapped ' if visible else ''}window {name!r} of tovrel after "
                               f"{scaled(timeout):.0f} s; its windows: {names}") from exc

    def wait_exit(self, timeout=10):
        """Exit code once the program ends by itself within timeout, else None."""
        return self.proc.wait(timeout)

    def stop(self, grace=5.0):
        return self.proc.stop(grace) if self.proc else None

    def stderr_text(self):
        return self.proc.stderr_text() if self.proc else ""


class FakeClock:
    """A wall clock for the program, moved by the test while the program runs.

    libfaketime reads an offset from a file on every clock call (FAKETIME_NO_CACHE);
    the faked clock runs at real speed from the time last set. The monotonic clock
    stays real (Qt's timers and media playback need it)."""

    def __init__(self, start):
        self.path = new_dir("clock") / "offset"
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
        """The program's environment for this clock."""
        if not Path(FAKETIME_LIB).exists():
            raise HarnessError(f"libfaketime not found at {FAKETIME_LIB} (package libfaketime)")
        return {"LD_PRELOAD": FAKETIME_LIB, "FAKETIME_TIMESTAMP_FILE": str(self.path),
                "FAKETIME_NO_CACHE": "1", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}

    def monotonic_at(self, text):
        """time.monotonic() of the moment the faked clock reads text."""
        return time.monotonic() + (self.epoch(text) - (time.time() + self.offset))

    def wait_for(self, text, extra=0.0):
        """Sleep until the faked clock reads text (plus extra seconds)."""
        left = self.monotonic_at(text) + extra - time.monotonic()
        if left > 0:
            time.sleep(left)
