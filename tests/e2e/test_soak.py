#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A long night, fast: the real program with its wall clock running 60 times faster
(libfaketime), armed through its own dialog, ringing, snoozed, ringing again,
switched off and re-armed for a later minute, over and over. The first ringing
crosses midnight (the alarm time follows 23:59 to 00:00).

Checked from the null sink and /proc: every firing is heard within ONSET_LIMIT of
its minute (real seconds; a tick is 50 ms of real time, the rest is the sound path's
start), none is missed, the sound stops after every snooze and switch-off, and the
resident memory does not grow.

TOVREL_SOAK_MINUTES sets the simulated minutes after the first firing (default 10,
the version that runs with the other tests); scripts/soak runs 1440 (a whole day,
24 minutes of real time). Figures go to stderr and to soak.txt in the test output."""
import os
import statistics
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

SPEED = 60
START = "2026-12-08 23:45:00"
FIRST_ALARM = "2026-12-08 23:59:00"
SOAK_MINUTES = int(os.environ.get("TOVREL_SOAK_MINUTES", "10"))
TONE_HZ = 440
RATE = 8000
SNOOZE_MINUTES = 5            # the program's snooze length at start
RING_BEFORE_SNOOZE = 140      # simulated seconds of ringing, then snooze (mid-minute)
RING_BEFORE_OFF = 80          # simulated seconds of ringing, then switch-off
REARM_MINUTES = 20            # the alarm time moved on by this many steps after switch-off
ONSET_LIMIT = 1.0             # real seconds from a firing minute to its sound
SILENCE_LIMIT = 0.5           # real seconds from a snooze / switch-off to silence
EARLY = 0.05
RSS_GROWTH_LIMIT_KIB = 1024
MIN_CYCLES_FOR_GROWTH = 5


def rss_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    raise harness.HarnessError(f"no VmRSS for {pid}")


def clock_text(epoch):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(epoch))


def setUpModule():
    harness.services().ensure()


class SoakTest(unittest.TestCase):
    def setUp(self):
        self.out = harness.test_output_dir("soak", self._testMethodName)
        self.start_epoch = harness.FakeClock.epoch(START)
        clock = harness.FakeClock(START)
        # The faked clock is moved on in steps of 20 ms and runs at real speed between
        # them: sounds are measured from minutes that come slightly later than predicted
        # here, so a late sound is never hidden.
        self.t0 = clock.run_fast(START, SPEED)
        self.program = harness.Program(env=dict(clock.env(), LANG="C", LC_ALL="C")).start()
        self.addCleanup(self.program.stop)
        self.win = self.program.wait_window()

    # Simulated time of a time.monotonic() instant, and back.
    def sim(self, mono=None):
        return self.start_epoch + SPEED * ((time.monotonic() if mono is None else mono) - self.t0)

    def mono(self, sim_epoch):
        return self.t0 + (sim_epoch - self.start_epoch) / SPEED

    def wait_sim(self, sim_epoch):
        left = self.mono(sim_epoch) - time.monotonic()
        if left > 0:
            time.sleep(left)
        self.program.check_alive(f"at {clock_text(sim_epoch)} (simulated)")

    def click(self, rect):
        """Click a button at once; returns (pressed, released) as time.monotonic()."""
        pressed = time.monotonic()
        ui.click_button(self.win, rect)
        return pressed, time.monotonic()

    def test_a_night_of_alarms_snoozes_and_switch_offs(self):
        prog, win = self.program, self.win
        mp3 = harness.make_mp3(2.0, TONE_HZ)

        ui.open_settings(win)
        ui.choose_file(prog, win, mp3)
        harness.focus(win)
        harness.key("End")  # the alarm time to its last minute, 23:59
        ui.click_button(win, ui.ALARM_BUTTON)
        ui.click_button(win, ui.SETTINGS_BUTTON)
        ui.wait_height(win, ui.COLLAPSED_HEIGHT)
        first = harness.FakeClock.epoch(FIRST_ALARM)
        self.assertLess(self.sim(), first - 20,
                        f"arming took until {clock_text(self.sim())} (simulated): too slow for "
                        f"the alarm at {FIRST_ALARM}")

        rec = harness.Recorder("soak", rate=RATE, out_dir=self.out).start()
        self.addCleanup(rec.stop)
        firings, stops, rss, cycles = [], [], [], 0
        alarm = first
        while True:
            # Rings at `alarm`; snoozed mid-minute, it rings again SNOOZE_MINUTES later.
            firings.append(alarm)
            self.wait_sim(alarm + RING_BEFORE_SNOOZE)
            pressed, released = self.click(ui.SNOOZE_BUTTON)
            stops.append((pressed, released, "snooze"))
            snoozed_minute = (self.sim(pressed) // 60) * 60
            self.assertEqual(snoozed_minute, (self.sim(released) // 60) * 60,
                             "the snooze click straddled a minute (the machine is too slow)")
            again = snoozed_minute + SNOOZE_MINUTES * 60
            firings.append(again)
            self.wait_sim(again + RING_BEFORE_OFF)
            pressed, released = self.click(ui.ALARM_BUTTON)
            stops.append((pressed, released, "switch-off"))
            off_minute = (self.sim(pressed) // 60) * 60
            cycles += 1
            rss.append(rss_kib(prog.pid))
            if self.sim() - first >= SOAK_MINUTES * 60:
                break
            # Re-arm: the alarm time stood at the switch-off minute; move it on. The
            # selector stops at 23:59, so past midnight it goes to 00:00 and on from there.
            ui.open_settings(win)
            harness.focus(win)
            of_day = int((off_minute - harness.FakeClock.epoch(clock_text(off_minute)[:10] + " 00:00:00")) // 60)
            target = of_day + REARM_MINUTES
            keys = ["Right"] * REARM_MINUTES if target < 1440 else ["Home"] + ["Right"] * (target - 1440)
            harness.run(["xdotool", "key", "--delay", "15", *keys])
            ui.click_button(win, ui.SETTINGS_BUTTON)
            ui.wait_height(win, ui.COLLAPSED_HEIGHT)
            ui.click_button(win, ui.ALARM_BUTTON)
            alarm = off_minute + REARM_MINUTES * 60
            self.assertLess(self.sim(), alarm - 20,
                            f"re-arming took until {clock_text(self.sim())} (simulated)")
        time.sleep(1.0)
        rec.stop()
        prog.check_alive("after the soak")
        self.report(rec, firings, stops, rss, cycles)

    def report(self, rec, firings, stops, rss, cycles):
        onsets, problems = [], []
        for minute in firings:
            at = self.mono(minute) - rec.started_at
            heard = rec.first_tone(TONE_HZ, after=max(0.0, at - EARLY))
            if heard is None or heard - at > 5.0:
                problems.append(f"no sound for the firing at {clock_text(minute)}")
                continue
            onsets.append(heard - at)
            if rec.tone_level(TONE_HZ, max(0.0, at - 0.4), at - EARLY) > 0.05:
                problems.append(f"already ringing before {clock_text(minute)}")
            elif heard - at > ONSET_LIMIT:
                problems.append(f"the firing at {clock_text(minute)} was heard {heard - at:.3f} s late")
        # Silence from each stop to the next firing (or the end of the recording).
        for (pressed, released, what), next_minute in zip(stops, firings[1:] + [None]):
            quiet_from = released - rec.started_at + SILENCE_LIMIT
            quiet_to = (self.mono(next_minute) - rec.started_at - EARLY) if next_minute else rec.duration()
            if quiet_to - quiet_from < 0.1:
                continue
            level = rec.tone_level(TONE_HZ, quiet_from, quiet_to)
            stray = rec.first_tone(TONE_HZ, after=quiet_from)
            if stray is not None and stray < quiet_to:
                problems.append(f"sound {stray - quiet_from + SILENCE_LIMIT:.2f} s after the {what} at "
                                f"{clock_text(self.sim(pressed))} (level {level:.3f})")

        growth = rss[-1] - rss[1] if len(rss) > 1 else 0
        lines = [
            f"soak: {cycles} cycles, {len(firings)} firings over "
            f"{(firings[-1] - firings[0]) / 60:.0f} simulated minutes at {SPEED}x",
            "onset (real ms after the minute): "
            + (f"min {min(onsets) * 1000:.0f}, median {statistics.median(onsets) * 1000:.0f}, "
               f"max {max(onsets) * 1000:.0f}" if onsets else "none heard"),
            f"RSS (KiB) after each cycle: first {rss[0]}, second {rss[1] if len(rss) > 1 else '-'}, "
            f"last {rss[-1]}, max {max(rss)}; growth from the second cycle {growth} KiB",
            f"recording: {rec.wav_path}",
            "RSS (KiB) after each cycle: " + " ".join(map(str, rss)),
            "onsets (ms): " + " ".join(f"{o * 1000:.0f}" for o in onsets),
        ]
        text = "\n".join(lines)
        print("\n" + text, file=sys.stderr)
        (self.out / "soak.txt").write_text(text + "\n" + "\n".join(problems) + "\n")
        self.assertEqual(problems, [], text)
        if cycles >= MIN_CYCLES_FOR_GROWTH:
            self.assertLess(growth, RSS_GROWTH_LIMIT_KIB, text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
