#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Tovrel's benchmarks: what the program costs while it waits, how fast it starts, how
soon the alarm is heard, and what one clock tick costs.

Run through scripts/bench (which installs what is needed, builds build/ and starts a
virtual display with a tray host and a null sound sink), or directly with a built
program and those services (started here when DISPLAY / PULSE_SERVER do not work):

    bench/tovrel_bench.py [--runs N] [--only idle,startup,onset,tick] [--out FILE]

Every figure is printed as min / median / max over the runs, with the reference the
figure is held to. The figures come from the real program (build/tovrel or TOVREL_BIN)
under Xvfb with trayer and a PulseAudio null sink, armed through its own Open dialog.
"""
import argparse
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


def log(text):
    print(f"[bench] {text}", file=sys.stderr, flush=True)


# --------------------------------------------------------------------------- /proc

def tasks(pid):
    return [p for p in Path(f"/proc/{pid}/task").iterdir() if p.name.isdigit()]


def cpu_seconds(pid):
    """CPU time of all the process's threads so far (schedstat: nanoseconds on a CPU)."""
    total = 0
    for t in tasks(pid):
        try:
            total += int((t / "schedstat").read_text().split()[0])
        except (OSError, ValueError, IndexError):
            pass  # a thread that ended between the listing and the read
    return total / 1e9


def context_switches(pid):
    """(voluntary, involuntary) context switches summed over the live threads."""
    vol = invol = 0
    for t in tasks(pid):
        try:
            text = (t / "status").read_text()
        except OSError:
            continue
        vol += int(re.search(r"^voluntary_ctxt_switches:\s+(\d+)", text, re.M).group(1))
        invol += int(re.search(r"^nonvoluntary_ctxt_switches:\s+(\d+)", text, re.M).group(1))
    return vol, invol


def memory_kib(pid):
    """(PSS, RSS) in KiB from smaps_rollup."""
    text = Path(f"/proc/{pid}/smaps_rollup").read_text()
    pss = int(re.search(r"^Pss:\s+(\d+) kB", text, re.M).group(1))
    rss = int(re.search(r"^Rss:\s+(\d+) kB", text, re.M).group(1))
    return pss, rss


# --------------------------------------------------------------------------- the program

def start_program(clock=None):
    extra = dict(LOCALE, **(clock.env() if clock is not None else {}))
    program = harness.Program(env=extra).start()
    win = ui.wait_main_window(program)
    return program, win


def arm(program, win, mp3):
    """Settings open, the file chosen in the Open dialog, alarm on, settings closed."""
    ui.open_settings(win)
    ui.choose_file(program, win, mp3)
    ui.click_button(win, ui.ALARM_BUTTON)
    time.sleep(0.3)
    ui.click_button(win, ui.SETTINGS_BUTTON)
    ui.wait_height(win, ui.COLLAPSED_HEIGHT)
    park_pointer()


def bench_dir(name):
    """A folder for what a figure leaves to look at afterwards (kept after the run)."""
    base = Path(os.environ.get("TOVREL_BENCH_DIR", HERE.parent / "out" / "bench"))
    folder = base / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def park_pointer():
    """The pointer to the screen's corner, away from the window: no hover picture."""
    harness.run(["xdotool", "mousemove", "0", "0"])


def summary(values):
    return min(values), statistics.median(values), max(values)


# --------------------------------------------------------------------------- figures

def idle_floor_binary():
    path = Path(os.environ.get("TOVREL_IDLE_FLOOR",
                               harness.tovrel_bin().parent / "bench" / "tovrel_idle_floor"))
    if not path.is_file():
        raise harness.HarnessError(f"{path} is not built (CMake option TOVREL_BENCH)")
    return path


def bench_idle(args, mp3):
    """Idle CPU, wake-ups and memory of an armed, not ringing, shown program; beside it,
    at the same time, what waking 20 times a second costs a bare loop and an empty Qt
    window on this machine."""
    rows = {k: [] for k in ("cpu", "wakeups", "switches", "pss", "rss", "bare", "qt")}
    floor = idle_floor_binary()
    for run in range(args.runs):
        # The real clock, as users run it (a faked one costs a file read per clock call);
        # the alarm stays at midnight.
        program, win = start_program()
        refs = []
        try:
            arm(program, win, mp3)
            time.sleep(args.settle)
            program.check_alive("settling")
            # Memory first: the reference programs would share Qt's pages and lower the PSS.
            pss, rss = memory_kib(program.pid)
            refs = [harness.Proc([floor, "--bare"], name="bare loop"),
                    harness.Proc([floor], name="empty Qt window",
                                 env=dict(os.environ, QT_QPA_PLATFORM="xcb"))]
            time.sleep(3.0)
            pids = [program.pid] + [r.pid for r in refs]
            c0 = [cpu_seconds(p) for p in pids]
            (v0, i0), t0 = context_switches(program.pid), time.monotonic()
            time.sleep(args.idle_seconds)
            c1 = [cpu_seconds(p) for p in pids]
            (v1, i1), t1 = context_switches(program.pid), time.monotonic()
            program.check_alive("idling")
            span = t1 - t0
            share = [100.0 * (b - a) / span for a, b in zip(c0, c1)]
            rows["cpu"].append(share[0])
            rows["bare"].append(share[1])
            rows["qt"].append(share[2])
            rows["wakeups"].append((v1 - v0) / span)
            rows["switches"].append((v1 - v0 + i1 - i0) / span)
            rows["pss"].append(pss / 1024.0)
            rows["rss"].append(rss / 1024.0)
            log(f"idle run {run + 1}: cpu {share[0]:.4f}% (bare loop {share[1]:.4f}%, empty Qt "
                f"window {share[2]:.4f}%), wake-ups {rows['wakeups'][-1]:.1f}/s, "
                f"PSS {rows['pss'][-1]:.1f} MB over {span:.1f} s")
        finally:
            for r in refs:
                r.stop()
            program.stop()
    return [
        ("idle CPU, % of one core", "%", rows["cpu"], "<= 0.046, alarm-clock-applet (given, not run here)", "{:.4f}"),
        ("  the same 20 wake-ups/s: bare poll() loop", "%", rows["bare"], "floor of any 20/s tick here", "{:.4f}"),
        ("  the same 20 wake-ups/s: empty Qt window + 50 ms timer", "%", rows["qt"], "floor of a Qt program", "{:.4f}"),
        ("wake-ups per second (voluntary switches)", "/s", rows["wakeups"], "report; the tick's floor is 20", "{:.1f}"),
        ("all context switches per second", "/s", rows["switches"], "report", "{:.1f}"),
        ("PSS at idle", "MB", rows["pss"], "< 48.7, alarm-clock-applet (given, not run here)", "{:.1f}"),
        ("RSS at idle", "MB", rows["rss"], "report", "{:.1f}"),
    ]


class MapWatcher:
    """Waits for a MapNotify of a top-level window with a given title (python3-xlib)."""

    def __init__(self, title):
        self.title = title
        self.display = Xlib.display.Display()
        self.display.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()

    def wait(self, timeout):
        """time.monotonic() when the window was seen mapped, or None."""
        d = self.display
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if d.pending_events() == 0:
                select.select([d], [], [], max(0.0, deadline - time.monotonic()))
                continue
            ev = d.next_event()
            now = time.monotonic()
            if ev.type != X.MapNotify:
                continue
            try:
                if ev.window.get_wm_name() == self.title:
                    return now
            except Xlib.error.XError:
                pass  # a window that is gone again
        return None

    def close(self):
        self.display.close()


def bench_startup(args, _mp3):
    """Launch to the main window being mapped; the first run also warms the file cache."""
    times = []
    for run in range(args.runs + 1):
        watcher = MapWatcher(harness.MAIN_WINDOW_TITLE)
        try:
            t0 = time.monotonic()
            program = harness.Program(env=LOCALE).start()
            mapped = watcher.wait(30)
        finally:
            watcher.close()
        try:
            if mapped is None:
                raise program.failure("the main window was not mapped within 30 s")
            if run > 0:
                times.append(1000.0 * (mapped - t0))
                log(f"start run {run}: {times[-1]:.0f} ms")
        finally:
            program.stop()
        time.sleep(1.0)
    return [("start to mapped window", "ms", times, "< 198, alarm-clock-applet (given, not run here)", "{:.0f}")]


def bench_onset(args, mp3):
    """Alarm minute to the first sound of the file at the sink, args.firings times."""
    latencies = []
    clock = ui.FakeClock(f"{DAY} 06:58:30")
    program, win = start_program(clock)
    try:
        ui.open_settings(win)
        ui.choose_file(program, win, mp3)
        ui.click_button(win, ui.SETTINGS_BUTTON)
        ui.wait_height(win, ui.COLLAPSED_HEIGHT)
        midnight = ui.FakeClock.epoch(f"{DAY} 00:00:00")
        for firing in range(args.firings):
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
                clock.wait_for(boundary_text, 1.5)
                program.check_alive("ringing")
            finally:
                rec.stop()
            heard = rec.first_tone(TONE_HZ, after=max(0.0, boundary - rec.started_at - 0.05))
            if heard is None:
                raise program.failure(f"firing {firing + 1}: no {TONE_HZ} Hz tone at the sink ({rec.wav_path})")
            latencies.append(1000.0 * (rec.started_at + heard - boundary))
            log(f"firing {firing + 1}: sound {latencies[-1]:.0f} ms after {boundary_text}")
            ui.click_button(win, ui.ALARM_BUTTON)  # off; the alarm time stays at this minute
            park_pointer()
            time.sleep(0.5)
    finally:
        program.stop()
    return [("alarm minute -> first sound", "ms", latencies, "median < 300, max < 500", "{:.0f}")]


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


def bench_tick(args, mp3):
    """Instructions per clock tick under callgrind, in the steady state (armed, idle)."""
    if not shutil.which("valgrind"):
        raise harness.HarnessError("valgrind is not installed")
    rows_tick, rows_proc = [], []
    out_dir = bench_dir("callgrind")
    for run in range(args.runs):
        out = out_dir / f"callgrind.{run}.out"
        wrapper = out_dir / "tovrel-under-callgrind"
        wrapper.write_text(
            "#!/bin/sh\n"
            f"exec valgrind --tool=callgrind --callgrind-out-file={out} --instr-atstart=no "
            f"--dump-instr=no --compress-strings=no \"{harness.tovrel_bin()}\" \"$@\"\n")
        wrapper.chmod(0o755)
        program = harness.Program(binary=wrapper, env=LOCALE).start()
        try:
            win = ui.wait_main_window(program, timeout=120)
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
        dumps = sorted(out_dir.glob(f"callgrind.{run}.out*"), key=lambda p: p.stat().st_mtime)
        dump = next((d for d in dumps if d.stat().st_size > 0 and "Timer_Timer" in d.read_text(errors="ignore")), None)
        if dump is None:
            raise harness.HarnessError(f"no callgrind dump with the tick in {out_dir}")
        total, calls = callgrind_inclusive(dump, CALLGRIND_SYMBOL)
        process_total = max(int(l.split()[1]) for l in dump.read_text().splitlines()
                            if l.startswith(("summary:", "totals:")))
        if not total or not calls:
            raise harness.HarnessError(f"tick not found in {dump}")
        rows_tick.append(total / calls)
        rows_proc.append(process_total / calls)
        log(f"tick run {run + 1}: {calls} ticks, {total / calls:.0f} instructions in the tick, "
            f"{process_total / calls:.0f} per tick in the whole process ({dump})")
    return [("instructions in one tick (inclusive)", "instr", rows_tick, "report", "{:.0f}"),
            ("whole process, instructions per tick", "instr", rows_proc, "report (paint, event loop, player)", "{:.0f}")]


FIGURES = {"idle": bench_idle, "startup": bench_startup, "onset": bench_onset, "tick": bench_tick}


def table(rows):
    head = "| figure | unit | min | median | max | n | reference |\n|---|---|---|---|---|---|---|\n"
    body = ""
    for name, unit, values, reference, fmt in rows:
        lo, mid, hi = summary(values)
        body += (f"| {name} | {unit} | {fmt.format(lo)} | {fmt.format(mid)} | {fmt.format(hi)} "
                 f"| {len(values)} | {reference} |\n")
    return head + body


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--firings", type=int, default=10)
    parser.add_argument("--settle", type=float, default=10.0)
    parser.add_argument("--idle-seconds", type=float, default=60.0)
    parser.add_argument("--tick-seconds", type=float, default=20.0)
    parser.add_argument("--only", default="idle,startup,onset,tick")
    parser.add_argument("--out", help="also write the tables (Markdown) to this file")
    args = parser.parse_args(argv)
    chosen = [f.strip() for f in args.only.split(",") if f.strip()]
    unknown = [f for f in chosen if f not in FIGURES]
    if unknown:
        parser.error(f"unknown figure(s) {unknown}; choose from {list(FIGURES)}")

    harness.services().ensure()
    mp3 = ui.make_tone_mp3(2.0, TONE_HZ)
    machine = f"{os.cpu_count()} cores, {subprocess.run(['uname', '-r'], capture_output=True, text=True).stdout.strip()}"
    out = [f"Tovrel benchmarks, {time.strftime('%Y-%m-%d %H:%M')} on {machine}, program {harness.tovrel_bin()}\n"]
    failed = False
    for name in chosen:
        log(f"--- {name}")
        try:
            rows = FIGURES[name](args, mp3)
        except Exception as err:  # one figure failing still prints the others
            failed = True
            out.append(f"\n{name}: FAILED: {err}\n")
            log(f"{name} failed: {err}")
            continue
        out.append("\n" + table(rows))
    text = "".join(out)
    print(text)
    if args.out:
        Path(args.out).write_text(text)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
