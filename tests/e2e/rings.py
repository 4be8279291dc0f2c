#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Arming the real program for one alarm after another and judging what the sink heard.

A test keeps one program running and one recording of the sink going, and runs rounds:
choose a file in the Open dialog, move the alarm time on by a minute with the scroll
bar, switch the alarm on, move the faked clock to just before that minute, let it ring,
switch it off. Each round notes its times (time.monotonic()); the recording is judged
afterwards, round by round:

    the expected sound (the file's own frequency, or the built-in 880 Hz tone) starts
    within ONSET_LIMIT of the minute and not before it, keeps sounding, no other of the
    known sounds plays, and the sink is quiet soon after the switch-off.

Also: the name label's ink in a screenshot, files that are not what their name says,
and a gdb backtrace of a program that stopped answering."""
import os
import random
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

FILE_HZ = 440
OTHER_FILE_HZ = 660
BUILT_IN_TONE_HZ = 880
KNOWN_HZ = (FILE_HZ, OTHER_FILE_HZ, BUILT_IN_TONE_HZ)
LOCALE = {"LANG": "C", "LC_ALL": "C"}  # 24-hour time texts
DAY, NEXT_DAY = "2026-12-08", "2026-12-09"
RATE = 16000
ONSET_LIMIT = 1.0    # seconds from the alarm minute to the sound at the sink
EARLY = 0.05         # recorder timing slack before an instant
LEAD = 2              # seconds on the faked clock before each alarm minute
RING = 1.6           # seconds of ringing heard before the switch-off
SILENCE_LIMIT = 0.5  # seconds from the switch-off (or the end) to silence
# The built-in tone beeps four times in the first 0.8 s of every 2 s.
TONE_BEEPS = 0.8


def minute_text(n):
    """The faked date-time of alarm minute n (00:01 for n = 1) on the next day."""
    return f"{NEXT_DAY} {n // 60:02d}:{n % 60:02d}:00"


def step_alarm_time(win, display=None):
    """One click on the alarm-time scroll bar's right arrow: the alarm a minute later."""
    x, y, w, h = ui.ALARM_TIME_BAR
    harness.click(1, win, x + w - 8, y + h // 2, display=display)


# --------------------------------------------------------------------------- files

def write_bytes(path, data):
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    return path


def random_bytes(n, seed):
    return random.Random(seed).randbytes(n)


def broken_wave(n=20000, seed=7):
    """Starts like a WAVE file, then nothing a decoder can use."""
    return b"RIFF" + (n + 4).to_bytes(4, "little") + b"WAVE" + random_bytes(n, seed)


def mp3_lookalike(n=20000, seed=11):
    """Starts like an MP3 file (an ID3 tag, then MPEG audio frame headers), then nothing
    a decoder can use."""
    frame = bytes.fromhex("fffb9064")  # MPEG-1 layer III, 128 kbit/s, 44.1 kHz
    return (b"ID3\x04\x00\x00\x00\x00\x00\x00" + frame + random_bytes(100, seed) + frame
            + random_bytes(n, seed + 1))


def cannot_read_as_this_user():
    """A command prefix under which the program cannot read a file of mode 000.

    The tests may run as root, and root reads such a file anyway (the capabilities
    CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH). The program then runs as root without
    those two, through setpriv: every file and socket it needs is root's own. Returns
    None when even that does not keep a mode 000 file from being read."""
    probe = harness.new_dir("mode-000") / "probe"
    probe.write_text("secret\n")
    probe.chmod(0)
    prefix = []
    if os.geteuid() == 0:
        prefix = ["setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"]
    res = subprocess.run(prefix + ["cat", str(probe)], capture_output=True, text=True)
    return None if res.returncode == 0 else prefix


# --------------------------------------------------------------------------- pixels

def label_ink_of(pixels, rect=ui.FILE_NAME_LABEL):
    """Per pixel of a label's pixels (region_pixels of rect): True where the caption's
    text covers the window's background picture."""
    background = ui.png_pixels(ui.ASSETS / "FrmTovrel.png", rect)
    return [a != b for a, b in zip(pixels, background)]


def ink_columns(ink, rect=ui.FILE_NAME_LABEL):
    """Columns of the label that hold any ink."""
    w = rect[2]
    return sorted({i % w for i, inked in enumerate(ink) if inked})


# --------------------------------------------------------------------------- hangs

def backtrace(pid, out_dir, name="backtrace"):
    """All threads' stacks of a live process (gdb), kept in out_dir; the text."""
    try:
        res = subprocess.run(["gdb", "-p", str(pid), "-batch", "-ex", "thread apply all bt"],
                             capture_output=True, text=True, timeout=120)
        text = res.stdout + res.stderr
    except (OSError, subprocess.TimeoutExpired) as exc:
        text = f"no backtrace: {exc}"
    path = Path(out_dir) / f"{name}-{pid}.txt"
    path.write_text(text)
    print(f"\n  backtrace of {pid} kept in {path}", file=sys.stderr)
    return text


# --------------------------------------------------------------------------- rounds

@dataclass
class Round:
    """One alarm: what should be heard and when things happened (time.monotonic())."""
    name: str
    expect_hz: int
    onset_limit: float = ONSET_LIMIT
    ring_for: float = RING        # seconds heard from the minute to the switch-off
    minute: float = None          # the alarm minute began
    switched_off: float = None    # the switch-off click was released
    label: list = field(default_factory=list)
    notes: dict = field(default_factory=dict)


class Rounds:
    """Drives the rounds of one running program against one recording of a sink."""

    def __init__(self, case, program, win, clock, rec, first_minute=1):
        self.case = case
        self.program = program
        self.win = win
        self.clock = clock
        self.rec = rec
        self.minute = first_minute - 1  # the alarm time shows 00:00 at start
        self.rounds = []
        self.status_off = None

    def shot(self, name):
        return harness.Image(harness.screenshot(self.case.out / f"{name}.png", window=self.win,
                                                display=self.program.display))

    def wait_label_settled(self, name):
        """The name label's pixels, once two screenshots in a row agree."""
        last = None
        for _ in range(40):
            now = ui.region_pixels(self.shot(f"{name}-label"), ui.FILE_NAME_LABEL)
            if now == last:
                return now
            last = now
            time.sleep(0.1)
        raise harness.HarnessError(f"the name label did not settle ({name})")

    def choose(self, path, name):
        """Open the panel, choose path in the Open dialog; the label's pixels after it."""
        display = self.program.display
        ui.open_settings(self.win, display)
        before = self.wait_label_settled(f"{name}-0-before")
        ui.choose_file(self.program, self.win, path)
        harness.wait_until(
            lambda: ui.region_pixels(self.shot(f"{name}-1-chosen"), ui.FILE_NAME_LABEL) != before
            or self.program.check_alive("choosing a file"), 5, "the name label to change")
        return self.wait_label_settled(f"{name}-1-chosen")

    def arm_next_minute(self, name):
        """Alarm time one minute on, alarm on (the status leaves Off)."""
        display = self.program.display
        step_alarm_time(self.win, display)
        self.minute += 1
        time.sleep(0.2)
        off = ui.region_pixels(self.shot(f"{name}-2-off"), ui.STATUS_LABEL)
        if self.status_off is None:
            self.status_off = off
        ui.click_button(self.win, ui.ALARM_BUTTON, display)
        harness.wait_until(
            lambda: ui.region_pixels(self.shot(f"{name}-3-on"), ui.STATUS_LABEL) != off, 5,
            "the alarm status to change from Off")

    def ring(self, rnd, ring_for=RING):
        """Faked clock to LEAD seconds before the alarm minute; wait for the minute and
        ring_for seconds more. The window must come up collapsed."""
        at = minute_text(self.minute)
        self.clock.set(time.strftime("%Y-%m-%d %H:%M:%S",
                                     time.localtime(harness.FakeClock.epoch(at) - LEAD)))
        rnd.minute = self.clock.monotonic_at(at)
        self.clock.wait_for(at)
        harness.wait_until(
            lambda: harness.geometry(self.win, self.program.display).height == ui.COLLAPSED_HEIGHT
            or self.program.check_alive("ringing"), 3, "the ringing window to collapse")
        self.clock.wait_for(at, ring_for)

    def switch_off(self, rnd):
        ui.click_button(self.win, ui.ALARM_BUTTON, self.program.display)
        rnd.switched_off = time.monotonic()
        harness.wait_until(
            lambda: ui.region_pixels(self.shot(f"{rnd.name}-4-switched-off"), ui.STATUS_LABEL)
            == self.status_off, 5, "the alarm status to read Off after the switch-off")

    def run(self, name, path, expect_hz, after_choice=None, switch_off=True,
            onset_limit=ONSET_LIMIT):
        """A whole round: choose, (after_choice()), arm, ring, switch off."""
        rnd = Round(name, expect_hz, onset_limit, RING + onset_limit - ONSET_LIMIT)
        self.rounds.append(rnd)
        rnd.label = self.choose(path, name)
        if after_choice:
            after_choice()
        self.arm_next_minute(name)
        self.ring(rnd, rnd.ring_for)
        if switch_off:
            self.switch_off(rnd)
            time.sleep(SILENCE_LIMIT + 0.5)
        return rnd


# --------------------------------------------------------------------------- judging

def at(rec, monotonic):
    return monotonic - rec.started_at


def heard_text(rec, start, end):
    parts = []
    for hz in KNOWN_HZ:
        spans = [(round(a, 2), round(b, 2)) for a, b in rec.tone_spans(hz)
                 if b > start and a < end]
        parts.append(f"{hz} Hz at {spans}")
    return f"{'; '.join(parts)} s of {rec.wav_path}"


def first_tone_between(rec, hz, start, end, threshold=0.05):
    t = rec.first_tone(hz, threshold=threshold, after=max(0.0, start))
    return t if t is not None and t < end else None


def check_round(case, rec, rnd):
    """Judge one round's alarm in the recording; the onset in seconds after the minute."""
    minute = at(rec, rnd.minute)
    start, end = minute - LEAD + 0.3, minute + rnd.ring_for
    heard = heard_text(rec, start, end)
    onset = first_tone_between(rec, rnd.expect_hz, start, end)
    case.assertIsNotNone(onset, f"{rnd.name}: no {rnd.expect_hz} Hz at the alarm minute; {heard}")
    delay = onset - minute
    case.assertGreater(delay, -EARLY, f"{rnd.name}: rang {-delay:.2f} s early; {heard}")
    case.assertLess(delay, rnd.onset_limit, f"{rnd.name}: rang {delay:.2f} s after the minute; {heard}")
    # Still sounding: the file for most of a second; the tone through its beeps.
    busy_end = onset + (TONE_BEEPS if rnd.expect_hz == BUILT_IN_TONE_HZ else min(1.0, end - onset))
    spans = [(a, b) for a, b in rec.tone_spans(rnd.expect_hz) if b > onset and a < busy_end]
    covered = sum(min(b, busy_end) - max(a, onset) for a, b in spans)
    case.assertGreater(covered, 0.6 * (busy_end - onset),
                       f"{rnd.name}: {rnd.expect_hz} Hz does not keep sounding; {heard}")
    for other in KNOWN_HZ:
        if other != rnd.expect_hz:
            level = rec.tone_level(other, onset, end)
            case.assertLess(level, 0.02, f"{rnd.name}: {other} Hz played as well; {heard}")
    if rnd.switched_off is not None:
        off = at(rec, rnd.switched_off)
        again = first_tone_between(rec, rnd.expect_hz, off + SILENCE_LIMIT, off + SILENCE_LIMIT + 0.5)
        case.assertIsNone(again, f"{rnd.name}: still sounding {SILENCE_LIMIT} s after the "
                          f"switch-off; {heard_text(rec, off, off + 1.0)}")
    return delay
