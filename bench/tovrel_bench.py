#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Tovrel's benchmarks: what the program costs while it waits (with a sound server and
without one), how fast it starts, how soon the alarm is heard, and what one clock tick
costs; beside it, the same figures of an earlier build and of the desktop's other alarm
clocks, measured in the same run.

Run through scripts/bench (which installs what is needed, builds build/ and, with
--before REV, the program of an earlier revision, and starts a virtual display with a
tray host and a null sound sink), or directly with a built program and those services
(started here when DISPLAY / PULSE_SERVER do not work):

    bench/tovrel_bench.py [--runs N] [--only idle,startup,onset,tick] [--out FILE]
                          [--before-bin PATH [--before-label TEXT]] [--label TEXT]
                          [--peers alarm-clock-applet,gnome-clocks | --peers none]

Every figure is printed as min / median / max over the runs, one row per program, with
the reference the figure is held to. Tovrel's figures come from the real program
(build/tovrel or TOVREL_BIN) under Xvfb with trayer and a PulseAudio null sink, armed
through its own Open dialog. The peers are run as they come, as black boxes, each with a
temporary HOME and a private session bus; a peer that cannot start gets the reason in
its rows instead of figures.
"""
import argparse
import math
import os
import re
import select
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

import Xlib.display
import Xlib.error
from Xlib import X

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

LOCALE = {"LANG": "C", "LC_ALL": "C"}
DAY = "2026-12-08"
TONE_HZ = 440
TICKS_PER_SECOND = 20
MAP_TIMEOUT = 30
# How long after the alarm minute the sink is recorded: a late first sound (a loaded
# machine, a fresh program's first firing) is measured, not lost.
ONSET_LISTEN = 3.0
# A mapped top-level window smaller than this is not the one a person looks at (Qt gives
# Tovrel's tray icon, 22 px, the main window's title).
MIN_WINDOW_SIDE = 64


def log(text):
    print(f"[bench] {text}", file=sys.stderr, flush=True)


def first_line(err, limit=160):
    text = str(err).strip().splitlines()
    line = text[0] if text else type(err).__name__
    return line if len(line) <= limit else line[:limit - 3] + "..."


# --------------------------------------------------------------------------- /proc

def tasks(pid):
    return [p for p in Path(f"/proc/{pid}/task").iterdir() if p.name.isdigit()]


def thread_counts(pid):
    """{thread id: (ns on a CPU, voluntary switches, involuntary switches)} of the live
    threads (schedstat and status of each)."""
    counts = {}
    for t in tasks(pid):
        try:
            ns = int((t / "schedstat").read_text().split()[0])
            text = (t / "status").read_text()
        except (OSError, ValueError, IndexError):
            continue  # a thread that ended between the listing and the read
        vol = int(re.search(r"^voluntary_ctxt_switches:\s+(\d+)", text, re.M).group(1))
        invol = int(re.search(r"^nonvoluntary_ctxt_switches:\s+(\d+)", text, re.M).group(1))
        counts[t.name] = (ns, vol, invol)
    return counts


def counts_between(before, after):
    """(CPU seconds, voluntary, involuntary switches) from one thread_counts() to a later
    one: per thread, a thread started in between counted whole. What a thread did between
    the first look and its end is not seen (a process's own totals keep it, but only to
    the 10 ms tick)."""
    ns = vol = invol = 0
    for tid, (n1, v1, i1) in after.items():
        n0, v0, i0 = before.get(tid, (0, 0, 0))
        ns, vol, invol = ns + n1 - n0, vol + v1 - v0, invol + i1 - i0
    return ns / 1e9, vol, invol


def memory_kib(pid):
    """(PSS, RSS) in KiB from smaps_rollup."""
    text = Path(f"/proc/{pid}/smaps_rollup").read_text()
    pss = int(re.search(r"^Pss:\s+(\d+) kB", text, re.M).group(1))
    rss = int(re.search(r"^Rss:\s+(\d+) kB", text, re.M).group(1))
    return pss, rss


# --------------------------------------------------------------------------- X

class MapWatcher:
    """Waits for a MapNotify of a top-level window with a given title (python3-xlib)."""

    def __init__(self, title):
        self.title = title
        self.display = Xlib.display.Display()
        self.display.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()

    def wait(self, timeout, alive=lambda: True):
        """time.monotonic() when the window was seen mapped, or None (after timeout, or
        once alive() says the program has ended)."""
        d = self.display
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if d.pending_events() == 0:
                if not alive():
                    return None
                select.select([d], [], [], min(0.25, max(0.0, deadline - time.monotonic())))
                continue
            ev = d.next_event()
            now = time.monotonic()
            if ev.type != X.MapNotify:
                continue
            try:
                if (ev.window.get_wm_name() == self.title
                        and min(ev.window.get_geometry().width, ev.window.get_geometry().height)
                        >= MIN_WINDOW_SIDE):
                    return now
            except Xlib.error.XError:
                pass  # a window that is gone again
        return None
        return None

    def close(self):
        self.display.close()


def park_pointer():
    """The pointer to the screen's bottom right corner, away from every program's window
    (Tovrel's, and the peers' at the top left): no hover picture."""
    out = harness.run(["xdotool", "getdisplaygeometry"]).stdout.split()
    harness.run(["xdotool", "mousemove", str(int(out[0]) - 1), str(int(out[1]) - 1)])


# --------------------------------------------------------------------------- programs

class Tovrel:
    """One build of Tovrel: this tree's, or the one of --before."""
    kind = "tovrel"
    title = harness.MAIN_WINDOW_TITLE
    window_note = "main window"

    def __init__(self, label, binary):
        self.label = label
        self.binary = Path(binary)

    def unavailable(self):
        if not self.binary.is_file():
            return f"{self.binary} is not built"
        return None

    def make(self, env=None):
        """The program, ready to start (its start() runs it)."""
        return harness.Program(binary=self.binary, env=dict(LOCALE, **(env or {})))

    def ready(self, program, mp3):
        """Armed through its own Open dialog: alarm at midnight, settings panel closed."""
        win = program.wait_window()
        arm(program, win, mp3)
        return win


def arm(program, win, mp3):
    """Settings open, the file chosen in the Open dialog, alarm on, settings closed."""
    ui.open_settings(win)
    ui.choose_file(program, win, mp3)
    ui.click_button(win, ui.ALARM_BUTTON)
    time.sleep(0.3)
    ui.click_button(win, ui.SETTINGS_BUTTON)
    ui.wait_height(win, ui.COLLAPSED_HEIGHT)
    park_pointer()


class Peer:
    """Another alarm clock of the Linux desktop, run as it comes (never armed here)."""
    kind = "peer"

    def __init__(self, package, binary, args, title, window_note):
        self.package = package
        self.binary = binary
        self.args = list(args)
        self.title = title
        self.window_note = window_note
        version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                 capture_output=True, text=True).stdout.strip()
        self.label = f"{package} {version}" if version else package

    def unavailable(self):
        if not shutil.which(self.binary):
            return f"{self.binary} is not installed (scripts/bench installs package {self.package})"
        if not shutil.which("dbus-daemon"):
            return "dbus-daemon is not installed (its session bus is needed)"
        return None

    def make(self, env=None):
        return PeerRun(self, env)

    def ready(self, run, _mp3):
        return None


PEERS = {
    "alarm-clock-applet": lambda: Peer(
        "alarm-clock-applet", "alarm-clock-applet", [], "Alarms",
        'its alarm list "Alarms", which it shows at start beside its tray icon'),
    "gnome-clocks": lambda: Peer(
        "gnome-clocks", "gnome-clocks", [], "Clocks", 'its window "Clocks"'),
}


class PeerRun(harness.Running):
    """A peer with a temporary HOME (and XDG folders in it), its own session bus, GSettings
    kept in memory and the accessibility bridge off (Tovrel runs here without a session
    bus, so without one too). make() starts the bus; start() the program."""

    def __init__(self, peer, env=None):
        self.peer = peer
        self.name = peer.package
        self.home = harness.new_dir(peer.package)
        runtime = self.home / ".runtime"
        runtime.mkdir(mode=0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("QT_", "FAKETIME", "XDG_", "DBUS_", "GTK_", "GDK_"))
                    and k != "LD_PRELOAD"}
        self.env.update(LOCALE, HOME=str(self.home), XDG_CONFIG_HOME=str(self.home / ".config"),
                        XDG_DATA_HOME=str(self.home / ".local/share"),
                        XDG_CACHE_HOME=str(self.home / ".cache"),
                        XDG_STATE_HOME=str(self.home / ".local/state"), XDG_RUNTIME_DIR=str(runtime),
                        GSETTINGS_BACKEND="memory", NO_AT_BRIDGE="1", GTK_A11Y="none")
        self.env.update(env or {})
        # A session bus as a desktop's: it starts services on demand.
        self.bus = harness.SessionBus(folder=runtime, env=self.env, user=True).start()
        self.env.update(self.bus.env)

    def start(self):
        self.proc = harness.Proc([self.peer.binary, *self.peer.args], name=self.peer.package,
                                 env=self.env, cwd=self.home)
        return self

    def stop(self, grace=5.0):
        if self.proc is not None:
            self.proc.stop(grace)
        self.bus.stop()


def launch(subject, env=None):
    """subject started and its window mapped: (running program, ms from exec to the map)."""
    running = subject.make(env)
    watcher = MapWatcher(subject.title)
    try:
        t0 = time.monotonic()
        try:
            running.start()
        except Exception:
            running.stop()
            raise
        mapped = watcher.wait(MAP_TIMEOUT, running.alive)
    finally:
        watcher.close()
    if mapped is None:
        try:
            if not running.alive():
                said = harness.tail(running.proc.stderr_path, 1).strip()
                raise running.failure(f"it {running.proc.status_text()} before mapping a window "
                                      f"{subject.title!r}" + (f": {said}" if said else ""))
            raise running.failure(f"no window {subject.title!r} mapped within {MAP_TIMEOUT} s")
        finally:
            running.stop()
    return running, 1000.0 * (mapped - t0)


def bench_dir(name):
    """A folder for what a figure leaves to look at afterwards (kept after the run)."""
    base = Path(os.environ.get("TOVREL_BENCH_DIR", HERE.parent / "out" / "bench"))
    folder = base / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


# --------------------------------------------------------------------------- results

class Row:
    """One line of a table: a figure of one program, min / median / max over its runs, or
    why it has none."""

    def __init__(self, figure, program, unit, values, reference, fmt, missing=None):
        self.figure, self.program, self.unit = figure, program, unit
        self.values, self.reference, self.fmt, self.missing = list(values), reference, fmt, missing

    def cells(self):
        if not self.values:
            return ["-", "-", "-", "0", f"not measured: {self.missing or 'no value'}"]
        lo, mid, hi = min(self.values), statistics.median(self.values), max(self.values)
        reference = self.reference + (f"; then stopped: {self.missing}" if self.missing else "")
        return [self.fmt.format(lo), self.fmt.format(mid), self.fmt.format(hi),
                str(len(self.values)), reference]


def table(rows):
    lines = ["| figure | program | unit | min | median | max | n | reference |",
             "|---|---|---|---|---|---|---|---|"]
    for row in rows:
        cells = [row.figure, row.program, row.unit] + row.cells()
        lines.append("| " + " | ".join(c.replace("|", "/") for c in cells) + " |")
    return "\n".join(lines) + "\n"


class Outcome:
    """Per program: values of each figure, and why a program stopped being measured."""

    def __init__(self, subjects):
        self.subjects = subjects
        self.values = {s.label: {} for s in subjects}
        self.missing = {s.label: s.unavailable() for s in subjects}

    def live(self, subject):
        return self.missing[subject.label] is None

    def add(self, subject, key, value):
        self.values[subject.label].setdefault(key, []).append(value)

    def get(self, subject, key):
        return self.values[subject.label].get(key, [])

    def fail(self, subject, err):
        self.missing[subject.label] = first_line(err)
        log(f"{subject.label}: {err}")

    def row(self, figure, subject, key, unit, reference, fmt):
        return Row(figure, subject.label, unit, self.get(subject, key), reference, fmt,
                   self.missing[subject.label])


def alternating(items, run):
    """items in order on even runs, reversed on odd ones: no program always goes first."""
    return list(items) if run % 2 == 0 else list(reversed(items))


# --------------------------------------------------------------------------- figures

def idle_floor_binary():
    path = Path(os.environ.get("TOVREL_IDLE_FLOOR",
                               harness.tovrel_bin().parent / "bench" / "tovrel_idle_floor"))
    if not path.is_file():
        raise harness.HarnessError(f"{path} is not built (CMake option TOVREL_BENCH)")
    return path


def idle_session(subject, sound, args, mp3, floor):
    """One program idling (Tovrel armed, a peer as it started): memory after settling, then
    CPU time and wake-ups over args.idle_seconds, with the two reference loops beside it
    over the same span. sound: "with" (the run's sound server) or "without" (none)."""
    env = harness.no_sound_server_env() if sound == "without" else None
    running, _ = launch(subject, env)
    refs = []
    try:
        subject.ready(running, mp3)
        park_pointer()
        time.sleep(args.settle)
        running.check_alive("settling")
        # Memory first: the reference programs would share Qt's pages and lower the PSS.
        pss, rss = memory_kib(running.pid)
        refs = [harness.Proc([floor, "--bare"], name="bare loop"),
                harness.Proc([floor], name="empty Qt window",
                             env=dict(os.environ, QT_QPA_PLATFORM="xcb"))]
        time.sleep(3.0)
        pids = [running.pid] + [r.pid for r in refs]
        c0, t0 = [thread_counts(p) for p in pids], time.monotonic()
        time.sleep(args.idle_seconds)
        c1, t1 = [thread_counts(p) for p in pids], time.monotonic()
        running.check_alive("idling")
        for r in refs:
            if not r.alive():
                raise harness.HarnessError(f"reference program ended\n{r.describe()}")
    finally:
        for r in refs:
            r.stop()
        running.stop()
    span = t1 - t0
    (cpu, vol, invol), bare, qt = (counts_between(a, b) for a, b in zip(c0, c1))
    return {"cpu": 100.0 * cpu / span, "bare": 100.0 * bare[0] / span, "qt": 100.0 * qt[0] / span,
            "wakeups": vol / span, "switches": (vol + invol) / span,
            "pss": pss / 1024.0, "rss": rss / 1024.0}


def bench_idle(args, mp3, subjects):
    """Each program idling on its own, one after the other, the order reversed every other
    run; Tovrel's builds once with the run's sound server and once with none."""
    floor = idle_floor_binary()
    out = Outcome(subjects)
    sessions = [(s, sound) for s in subjects
                for sound in (("with", "without") if s.kind == "tovrel" else ("with",))]
    # Each program started once first, not measured: the file cache warmed alike, and the
    # first GTK 3 program on a new display loads OpenGL to choose its visuals (it leaves
    # the answer on the root window, GDK_VISUALS, for the next ones).
    for subject in subjects:
        if out.live(subject):
            try:
                launch(subject)[0].stop()
            except Exception as err:
                out.fail(subject, err)
    for run in range(args.runs):
        for subject, sound in alternating(sessions, run):
            if not out.live(subject):
                continue
            try:
                m = idle_session(subject, sound, args, mp3, floor)
            except Exception as err:  # this program has no more idle figures; the others go on
                out.fail(subject, err)
                continue
            out.add(subject, f"cpu {sound}", m["cpu"])
            out.add(subject, f"wakeups {sound}", m["wakeups"])
            out.add(subject, f"switches {sound}", m["switches"])
            out.add(subject, f"bare {sound}", m["bare"])
            out.add(subject, f"qt {sound}", m["qt"])
            if sound == "with":
                out.add(subject, "pss", m["pss"])
                out.add(subject, "rss", m["rss"])
                out.add(subject, "to bare", m["cpu"] / m["bare"] if m["bare"] > 0 else math.inf)
            log(f"idle run {run + 1}, {subject.label}, {sound} a sound server: cpu {m['cpu']:.4f}% "
                f"(bare loop {m['bare']:.4f}%, empty Qt window {m['qt']:.4f}%), "
                f"wake-ups {m['wakeups']:.1f}/s, PSS {m['pss']:.1f} MB")
        # Without / with, within one run: the two spans are minutes apart, not hours.
        for subject in subjects:
            w, wo = out.get(subject, "cpu with"), out.get(subject, "cpu without")
            if subject.kind == "tovrel" and len(w) == run + 1 and len(wo) == run + 1:
                out.add(subject, "without/with", wo[-1] / w[-1] if w[-1] > 0 else math.inf)

    tovrels = [s for s in subjects if s.kind == "tovrel"]
    rows = []
    for s in subjects:
        ref = ("<= 2.5 x the bare loop (ratio below)" if s.kind == "tovrel"
               else "peer, not armed")
        rows.append(out.row("idle CPU with a sound server, % of one core", s, "cpu with", "%", ref, "{:.4f}"))
    for s in tovrels:
        rows.append(out.row("idle CPU without a sound server, % of one core", s, "cpu without", "%",
                            "<= 1.3 x with one (ratio below)", "{:.4f}"))
    for s in tovrels:
        rows.append(out.row("idle CPU, without / with a sound server", s, "without/with", "x",
                            "<= 1.3", "{:.2f}"))
    for s in tovrels:
        rows.append(out.row("idle CPU with a sound server / bare poll() loop (same span)", s,
                            "to bare", "x", "<= 2.5", "{:.2f}"))
    # The reference loops ran beside every program; all their spans count.
    bare = [v for s in subjects for k in ("bare with", "bare without") for v in out.get(s, k)]
    qt = [v for s in subjects for k in ("qt with", "qt without") for v in out.get(s, k)]
    rows.append(Row("  the same 20 wake-ups/s: bare poll() loop", "reference loop", "%", bare,
                    "floor of any 20/s tick here", "{:.4f}", None if bare else "no idle span measured"))
    rows.append(Row("  the same 20 wake-ups/s: empty Qt window + 50 ms timer", "reference loop", "%",
                    qt, "floor of a Qt program", "{:.4f}", None if qt else "no idle span measured"))
    for s in subjects:
        rows.append(out.row("wake-ups per second (voluntary switches), with a sound server", s,
                            "wakeups with", "/s",
                            "report; the tick's floor is 20" if s.kind == "tovrel" else "report",
                            "{:.1f}"))
    for s in tovrels:
        rows.append(out.row("wake-ups per second (voluntary switches), without one", s,
                            "wakeups without", "/s", "report", "{:.1f}"))
    for s in subjects:
        rows.append(out.row("all context switches per second, with a sound server", s,
                            "switches with", "/s", "report", "{:.1f}"))
    for s in subjects:
        rows.append(out.row("PSS at idle", s, "pss", "MB",
                            "report, beside the peers" if s.kind == "tovrel" else "peer, not armed",
                            "{:.1f}"))
    for s in subjects:
        rows.append(out.row("RSS at idle", s, "rss", "MB", "report", "{:.1f}"))
    return rows, out


def bench_startup(args, _mp3, subjects):
    """Launch to the window being mapped, each program in turn (the order reversed every
    other round); each program's first launch warms the file cache and is not counted."""
    out = Outcome(subjects)
    for run in range(args.runs + 1):
        for subject in alternating(subjects, run):
            if not out.live(subject):
                continue
            try:
                running, ms = launch(subject)
            except Exception as err:
                out.fail(subject, err)
                continue
            running.stop()
            if run > 0:
                out.add(subject, "start", ms)
                log(f"start run {run}, {subject.label}: {ms:.0f} ms")
            time.sleep(1.0)
    rows = [out.row("start to mapped window", s, "start", "ms",
                    "report, beside the peers" if s.kind == "tovrel" else f"peer: {s.window_note}",
                    "{:.0f}") for s in subjects]
    return rows, out


def onset_block(subject, firings, mp3):
    """One program armed on a faked clock; the alarm minute crossed `firings` times: the ms
    from each minute to the first sound of the file at the sink."""
    latencies = []
    clock = harness.FakeClock(f"{DAY} 06:58:30")
    program = subject.make(clock.env()).start()
    try:
        win = program.wait_window()
        ui.open_settings(win)
        ui.choose_file(program, win, mp3)
        ui.click_button(win, ui.SETTINGS_BUTTON)
        ui.wait_height(win, ui.COLLAPSED_HEIGHT)
        midnight = harness.FakeClock.epoch(f"{DAY} 00:00:00")
        for firing in range(firings):
            # The alarm stays at midnight (it is switched off within the minute it rang),
            # so each round is the next day's midnight, the clock set 2 s before it.
            boundary_epoch = midnight + 86400 * (firing + 1)
            boundary_text = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(boundary_epoch))
            before = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(boundary_epoch - 2))
            clock.set(time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(boundary_epoch - 30)))
            ui.click_button(win, ui.ALARM_BUTTON)  # on
            park_pointer()
            rec = harness.Recorder(f"onset-{firing}", rate=16000).start()
            try:
                clock.set(before)
                boundary = clock.monotonic_at(boundary_text)
                clock.wait_for(boundary_text, ONSET_LISTEN)
                program.check_alive("ringing")
            finally:
                rec.stop()
            heard = rec.first_tone(TONE_HZ, after=max(0.0, boundary - rec.started_at - 0.05))
            if heard is None:
                raise program.failure(f"firing {firing + 1}: no {TONE_HZ} Hz tone at the sink within "
                                      f"{ONSET_LISTEN:.0f} s of the minute ({rec.wav_path})")
            latencies.append(1000.0 * (rec.started_at + heard - boundary))
            log(f"{subject.label}, firing {firing + 1}: sound {latencies[-1]:.0f} ms after {boundary_text}")
            ui.click_button(win, ui.ALARM_BUTTON)  # off; the alarm time stays at this minute
            park_pointer()
            time.sleep(0.5)
    finally:
        program.stop()
    return latencies


def bench_onset(args, mp3, subjects):
    """Alarm minute to the first sound of the file at the sink, args.firings times per build
    of Tovrel. With two builds, in two blocks each, A B B A, each block a new program."""
    tovrels = [s for s in subjects if s.kind == "tovrel"]
    out = Outcome(tovrels)
    if len(tovrels) > 1 and args.firings > 1:
        blocks = [(args.firings + 1) // 2, args.firings // 2]
    else:
        blocks = [args.firings]
    for block, firings in enumerate(blocks):
        for subject in alternating(tovrels, block):
            if not out.live(subject):
                continue
            try:
                for ms in onset_block(subject, firings, mp3):
                    out.add(subject, "onset", ms)
            except Exception as err:
                out.fail(subject, err)
    rows = [out.row("alarm minute -> first sound", s, "onset", "ms", "median <= 150, max <= 250", "{:.0f}")
            for s in tovrels]
    return rows, out


CALLGRIND_SYMBOL = "tovrel::shell::FrmTovrel::Timer_Timer()"


def callgrind_inclusive(out_file, symbol):
    """(inclusive instructions, calls) of one function from callgrind_annotate."""
    text = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--tree=caller", str(out_file)],
                          capture_output=True, text=True, check=True).stdout
    lines = text.splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"\s*([\d,]+)\s+\([^)]*\)\s+\*\s+\S*?:(.*)$", line)
        if not (m and m.group(2).strip().startswith(symbol)):
            continue
        # The caller lines just above the function's own line carry "(Nx)".
        calls, j = 0, i - 1
        while j >= 0 and "<" in lines[j]:
            c = re.search(r"\((\d+)x\)", lines[j])
            calls += int(c.group(1)) if c else 0
            j -= 1
        return int(m.group(1).replace(",", "")), calls
    return None, None


def tick_session(subject, args, mp3, out_dir, tag):
    """(instructions in the tick, instructions in the whole process) per tick, one run."""
    out = out_dir / f"callgrind.{tag}.out"
    wrapper = out_dir / f"under-callgrind.{tag}"
    wrapper.write_text(
        "#!/bin/sh\n"
        f"exec valgrind --tool=callgrind --callgrind-out-file={out} --instr-atstart=no "
        f"--dump-instr=no --compress-strings=no \"{subject.binary}\" \"$@\"\n")
    wrapper.chmod(0o755)
    program = harness.Program(binary=wrapper, env=LOCALE).start()
    try:
        win = program.wait_window(timeout=120)
        arm(program, win, mp3)
        time.sleep(3)
        control = ["callgrind_control"]
        subprocess.run(control + ["--instr=on", str(program.pid)], check=True, capture_output=True)
        time.sleep(args.tick_seconds)
        subprocess.run(control + ["--instr=off", str(program.pid)], check=True, capture_output=True)
        subprocess.run(control + ["--dump", str(program.pid)], check=True, capture_output=True)
        time.sleep(1)
    finally:
        program.stop(grace=20)
    dumps = sorted(out_dir.glob(f"callgrind.{tag}.out*"), key=lambda p: p.stat().st_mtime)
    dump = next((d for d in dumps if d.stat().st_size > 0 and "Timer_Timer" in d.read_text(errors="ignore")), None)
    if dump is None:
        raise harness.HarnessError(f"no callgrind dump with the tick in {out_dir}")
    total, calls = callgrind_inclusive(dump, CALLGRIND_SYMBOL)
    process_total = max(int(l.split()[1]) for l in dump.read_text().splitlines()
                        if l.startswith(("summary:", "totals:")))
    if not total or not calls:
        raise harness.HarnessError(f"tick not found in {dump}")
    log(f"tick {tag}, {subject.label}: {calls} ticks, {total / calls:.0f} instructions in the tick, "
        f"{process_total / calls:.0f} per tick in the whole process ({dump})")
    return total / calls, process_total / calls


def bench_tick(args, mp3, subjects):
    """Instructions per clock tick under callgrind, in the steady state (armed, idle)."""
    if not shutil.which("valgrind"):
        raise harness.HarnessError("valgrind is not installed")
    tovrels = [s for s in subjects if s.kind == "tovrel"]
    out = Outcome(tovrels)
    out_dir = bench_dir("callgrind")
    for run in range(args.runs):
        for number, subject in alternating(list(enumerate(tovrels)), run):
            if not out.live(subject):
                continue
            try:
                tick, whole = tick_session(subject, args, mp3, out_dir, f"{number}.{run}")
            except Exception as err:
                out.fail(subject, err)
                continue
            out.add(subject, "tick", tick)
            out.add(subject, "process", whole)
    rows = [out.row("instructions in one tick (inclusive)", s, "tick", "instr", "report", "{:.0f}")
            for s in tovrels]
    rows += [out.row("whole process, instructions per tick", s, "process", "instr",
                     "report (paint, event loop, player)", "{:.0f}") for s in tovrels]
    return rows, out


FIGURES = {"idle": bench_idle, "startup": bench_startup, "onset": bench_onset, "tick": bench_tick}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--firings", type=int, default=10)
    parser.add_argument("--settle", type=float, default=10.0)
    parser.add_argument("--idle-seconds", type=float, default=60.0)
    parser.add_argument("--tick-seconds", type=float, default=20.0)
    parser.add_argument("--only", default="idle,startup,onset,tick")
    parser.add_argument("--out", help="also write the tables (Markdown) to this file")
    parser.add_argument("--label", default="Tovrel", help="this build's name in the tables")
    parser.add_argument("--before-bin", help="an earlier build of Tovrel, measured beside this one")
    parser.add_argument("--before-label", default="Tovrel before", help="its name in the tables")
    parser.add_argument("--peers", default=",".join(PEERS),
                        help=f"other alarm clocks to measure beside Tovrel ({', '.join(PEERS)}) or 'none'")
    args = parser.parse_args(argv)
    chosen = [f.strip() for f in args.only.split(",") if f.strip()]
    unknown = [f for f in chosen if f not in FIGURES]
    if unknown:
        parser.error(f"unknown figure(s) {unknown}; choose from {list(FIGURES)}")
    peers = [p.strip() for p in args.peers.split(",") if p.strip() and p.strip() != "none"]
    unknown = [p for p in peers if p not in PEERS]
    if unknown:
        parser.error(f"unknown peer(s) {unknown}; choose from {list(PEERS)} or 'none'")

    subjects = [Tovrel(args.label, harness.tovrel_bin())]
    if args.before_bin:
        subjects.append(Tovrel(args.before_label, args.before_bin))
    subjects += [PEERS[p]() for p in peers]

    harness.services().ensure()
    mp3 = harness.make_mp3(2.0, TONE_HZ)
    machine = f"{os.cpu_count()} cores, {subprocess.run(['uname', '-r'], capture_output=True, text=True).stdout.strip()}"
    out = [f"Tovrel benchmarks, {time.strftime('%Y-%m-%d %H:%M')} on {machine}\n"]
    out += [f"- {s.label}: {shutil.which(s.binary) or s.binary}\n" for s in subjects]
    failed = False
    for name in chosen:
        log(f"--- {name}")
        try:
            rows, outcome = FIGURES[name](args, mp3, subjects)
        except Exception as err:  # one figure failing still prints the others
            failed = True
            out.append(f"\n{name}: FAILED: {err}\n")
            log(f"{name} failed: {err}")
            continue
        # A build of Tovrel without figures fails the bench; a peer that could not run
        # only says why in its rows.
        failed |= any(outcome.missing[s.label] is not None for s in outcome.subjects if s.kind == "tovrel")
        out.append("\n" + table(rows))
    text = "".join(out)
    print(text)
    if args.out:
        Path(args.out).write_text(text)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
