#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The alarm cycle of the real program, heard at the null sink: choosing an MP3 in the
Open dialog, switching the alarm on, ringing at the minute, snooze, ringing again at
the snoozed minute, switch-off, switching on again and Exit, in the 24-hour style on a
desktop with the XDG portal and in the 12-hour style with a power manager instead, each
holding off suspend exactly while the alarm is armed; switching on with no file; the
click sound; the program stopped over the alarm minute, with a portal that never answers.

The program's wall clock is faked (libfaketime reading an offset from a file) and
moved forward by the test; the monotonic clock stays real. The alarm file is a
440 Hz tone, told apart from the click sound and the built-in alarm tone (880 Hz)
by its frequency."""
import signal
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import desktop_mocks  # noqa: E402
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

TONE_HZ = 440
TONE_SECONDS = 2.0
BUILT_IN_TONE_HZ = 880
LOCALE = {"LANG": "C", "LC_ALL": "C"}  # 24-hour time texts
DAY, NEXT_DAY = "2026-12-08", "2026-12-09"
RATE = 16000
ONSET_LIMIT = 1.0    # seconds from the alarm minute to the sound at the sink
SILENCE_LIMIT = 0.5  # seconds from snooze / switch-off to silence
EARLY = 0.05         # recorder timing slack before an instant


def setUpModule():
    harness.services().ensure()


class TovrelCase(unittest.TestCase):
    """One program per test, with a faked clock; stopped afterwards."""

    start_time = f"{DAY} 23:59:30"
    locale = LOCALE

    def desktop(self):
        """Mocked desktop services for the program (none: a bare window manager)."""
        return None

    def setUp(self):
        self.out = harness.test_output_dir("alarm_cycle", type(self).__name__, self._testMethodName)
        self.clock = harness.FakeClock(self.start_time)
        self.mock = self.desktop()
        if self.mock:
            self.addCleanup(self.mock.stop)
        self.program = harness.Program(env=dict(self.clock.env(), **self.locale)).start()
        self.addCleanup(self.program.stop)
        self.win = self.program.wait_window()

    def shot(self, name, window=None):
        return harness.Image(harness.screenshot(self.out / f"{name}.png", window=window))

    def element(self, rect, name):
        return ui.region_pixels(self.shot(name, self.win), rect)

    def recorder(self, name):
        rec = harness.Recorder(name, rate=RATE, out_dir=self.out).start()
        self.addCleanup(rec.stop)
        return rec

    def at(self, rec, monotonic):
        """Recording time of a time.monotonic() instant."""
        return monotonic - rec.started_at

    def stop_latency(self, rec, released):
        """Seconds from a button's release to the end of the tone that was playing."""
        at = self.at(rec, released)
        ends = [end for start, end in rec.tone_spans(TONE_HZ) if start < at]
        return max(ends) - at if ends else float("nan")

    def tone_spans_text(self, rec):
        spans = [(round(a, 2), round(b, 2)) for a, b in rec.tone_spans(TONE_HZ)]
        return f"{TONE_HZ} Hz heard at {spans} s of {rec.wav_path}"


class AlarmCycleTest(TovrelCase):
    def desktop(self):
        return desktop_mocks.portal()

    def inhibitors(self):
        """(held, released): the inhibitor calls so far, numbered from 1 in order."""
        held = self.mock.calls("Inhibit")
        for flags, options in ((args[1], args[2]) for args in held):
            self.assertEqual(flags, 4, "not suspend alone")
            self.assertEqual(options.get("reason"), "An alarm is set in MP3 Tovrel")
        return len(held), [n for n in range(1, len(held) + 1)
                           if self.mock.calls("Close", f"{desktop_mocks.PORTAL[1]}/request/1_1/t{n}")]

    def test_ring_snooze_ring_again_and_switch_off(self):
        mp3 = harness.make_mp3(TONE_SECONDS, TONE_HZ)
        prog, win = self.program, self.win

        ui.open_settings(win)
        label_before = self.element(ui.FILE_NAME_LABEL, "1-settings-open")
        ui.choose_file(prog, win, mp3)
        harness.wait_until(lambda: self.element(ui.FILE_NAME_LABEL, "2-file-chosen") != label_before,
                           5, "the file name label to show the chosen file")

        status_off = self.element(ui.STATUS_LABEL, "3-before-switch-on")
        ui.click_button(win, ui.ALARM_BUTTON)
        harness.wait_until(lambda: self.element(ui.STATUS_LABEL, "4-switched-on") != status_off,
                           5, "the alarm status to change from Off")
        self.assertEqual(harness.geometry(win).height, ui.EXPANDED_HEIGHT)

        # Another program has the focus (and the newest input) when the alarm comes.
        other = harness.ProbeWindow("another program", "200x100+760+620")
        self.addCleanup(other.stop)
        other.take_focus()

        self.clock.set(f"{DAY} 23:59:56")
        rec = self.recorder("cycle")
        first_minute = self.clock.monotonic_at(f"{NEXT_DAY} 00:00:00")

        # Ringing: the window comes back collapsed, in front, with the focus.
        self.clock.wait_for(f"{NEXT_DAY} 00:00:00")
        deadline = first_minute + 1.4
        seen = {}
        while time.monotonic() < deadline:
            g = harness.geometry(win)
            seen = {"viewable": g.viewable, "height": g.height, "focus": harness.focused_window()}
            if g.viewable and g.height == ui.COLLAPSED_HEIGHT and seen["focus"] == win:
                break
            time.sleep(0.05)
        self.clock.wait_for(f"{NEXT_DAY} 00:00:00", 1.5)
        self.shot("5-ringing", win)

        snooze_pressed = time.monotonic()
        ui.click_button(win, ui.SNOOZE_BUTTON)
        snoozed = time.monotonic()
        self.shot("6-snoozed", win)

        time.sleep(1.5)
        self.clock.set(f"{NEXT_DAY} 00:04:57")
        snoozed_minute = self.clock.monotonic_at(f"{NEXT_DAY} 00:05:00")
        # Longer than the file: it must start over.
        self.clock.wait_for(f"{NEXT_DAY} 00:05:00", TONE_SECONDS + 1.6)
        self.shot("7-ringing-again", win)
        held_while_armed = self.inhibitors()
        off_pressed = time.monotonic()
        ui.click_button(win, ui.ALARM_BUTTON)
        switched_off = time.monotonic()
        time.sleep(4.0)
        # The rest of the alarm minute, into the next one.
        self.clock.set(f"{NEXT_DAY} 00:05:55")
        self.clock.wait_for(f"{NEXT_DAY} 00:06:01")
        status_after = self.element(ui.STATUS_LABEL, "8-switched-off")
        rec.stop()
        heard = self.tone_spans_text(rec)

        with self.subTest("the ringing window is mapped, collapsed and has the focus"):
            self.assertTrue(seen["viewable"], seen)
            self.assertEqual(seen["height"], ui.COLLAPSED_HEIGHT, seen)
            self.assertEqual(seen["focus"], win,
                             f"focus stayed on {seen['focus']} (another program's window "
                             f"{other.window}), not on the main window {win}")

        onset = rec.first_tone(TONE_HZ)
        self.assertIsNotNone(onset, f"the alarm never reached the sink; {heard}")
        with self.subTest("rings at midnight"):
            delay = onset - self.at(rec, first_minute)
            print(f"\n  first ring {delay * 1000:.0f} ms after midnight", file=sys.stderr)
            self.assertGreater(delay, -EARLY, f"rang before midnight; {heard}")
            self.assertLess(delay, ONSET_LIMIT, f"rang {delay:.2f} s after midnight; {heard}")
            self.assertLess(rec.tone_level(BUILT_IN_TONE_HZ, onset, onset + 1.0), 0.02,
                            "the built-in tone played instead of the chosen file")

        with self.subTest("snooze silences it and it rings again at 00:05"):
            self.assertGreater(rec.tone_level(TONE_HZ, self.at(rec, snooze_pressed) - 0.4,
                                              self.at(rec, snooze_pressed) - 0.1), 0.1,
                               f"not ringing just before the snooze; {heard}")
            quiet_from = self.at(rec, snoozed) + SILENCE_LIMIT
            second = rec.first_tone(TONE_HZ, after=quiet_from)
            self.assertIsNotNone(second, f"no ring at the snoozed minute 00:05; {heard}")
            delay = second - self.at(rec, snoozed_minute)
            print(f"  silent {self.stop_latency(rec, snoozed) * 1000:.0f} ms after the snooze "
                  f"click; second ring {delay * 1000:.0f} ms after 00:05:00", file=sys.stderr)
            self.assertGreater(delay, -EARLY,
                               f"sound {-delay:.2f} s before the snoozed minute; {heard}")
            self.assertLess(delay, ONSET_LIMIT, f"rang {delay:.2f} s after 00:05:00; {heard}")
            # The file repeats while ringing: the tone is there again after its end.
            self.assertGreater(rec.tone_level(TONE_HZ, second + TONE_SECONDS + 0.3,
                                              second + TONE_SECONDS + 1.0), 0.1,
                               f"the file did not start over; {heard}")

        with self.subTest("switch-off silences it for good"):
            self.assertGreater(rec.tone_level(TONE_HZ, self.at(rec, off_pressed) - 0.4,
                                              self.at(rec, off_pressed) - 0.1), 0.1,
                               f"not ringing just before the switch-off; {heard}")
            print(f"  silent {self.stop_latency(rec, switched_off) * 1000:.0f} ms after the "
                  "switch-off click", file=sys.stderr)
            again = rec.first_tone(TONE_HZ, after=self.at(rec, switched_off) + SILENCE_LIMIT)
            self.assertIsNone(again, f"alarm sound {again - self.at(rec, switched_off):.2f} s "
                              f"after the switch-off; {heard}" if again else "")
            self.assertEqual(status_after, status_off,
                             "the status does not read Off after the switch-off")
        self.assertTrue(prog.alive(), prog.proc.describe())

        with self.subTest("suspend is held off exactly while the alarm is armed"):
            self.assertEqual(held_while_armed, (1, []), "one inhibitor from the switch-on on")
            self.assertEqual(self.inhibitors(), (1, [1]), "not let go at the switch-off")
            ui.click_button(win, ui.ALARM_BUTTON)
            harness.wait_until(lambda: self.inhibitors()[0] == 2, 5, "a new inhibitor")
            ui.press_glyph(win, ui.CLOSE_GLYPH)
            about = prog.wait_window(ui.ABOUT_TITLE)
            harness.move_to(about, 45, 100)  # the About window's bare background
            time.sleep(0.05)
            ui.click_button(about, ui.EXIT_BUTTON)
            self.assertEqual(prog.proc.wait(10), 0, prog.proc.describe())
            self.assertEqual(self.inhibitors(), (2, [1, 2]), "not let go at Exit")


class TwelveHourAlarmCycleTest(AlarmCycleTest):
    """The same cycle in the 12-hour style, at 12:00 AM and 12:05 AM, on a desktop whose
    power manager holds off suspend and that has no portal."""

    locale = {"LANG": "en_US.UTF-8", "LC_ALL": "en_US.UTF-8"}

    def desktop(self):
        return desktop_mocks.power_manager()

    def inhibitors(self):
        held = self.mock.calls("Inhibit")
        for args in held:
            self.assertEqual(args, ["MP3 Tovrel", "An alarm is set in MP3 Tovrel"])
        return len(held), [args[0] for args in self.mock.calls("UnInhibit")]


class NoFileTest(TovrelCase):
    start_time = f"{DAY} 23:59:20"

    def test_switch_on_without_a_file_shows_a_message_and_stays_off(self):
        prog, win = self.program, self.win
        status_off = self.element(ui.STATUS_LABEL, "1-start")
        main_size = harness.geometry(win)

        for attempt, dismiss in (("enter", "Return"), ("ok", "click")):
            ui.click_button(win, ui.ALARM_BUTTON)
            box = prog.wait_window(harness.MAIN_WINDOW_TITLE, exclude=(win,))
            g = harness.geometry(box)
            self.assertNotEqual((g.width, g.height), (main_size.width, main_size.height))
            self.assertIn("_NET_WM_STATE_MODAL", harness.net_wm_state(box), "the box is not modal")
            self.shot(f"2-message-{attempt}")
            if dismiss == "Return":
                harness.key("Return", win=box)
            else:
                # OK sits at the box's bottom right.
                ui.hover(box, (g.width - 61, g.height - 34, 20, 20))
                harness.click(1)
            harness.wait_until(lambda: not harness.viewable(box), 10, "the box to go away")
            self.assertEqual(prog.windows(harness.MAIN_WINDOW_TITLE), [win],
                             f"after dismissing with {attempt}")
            # While the box is up the status may read On; once it is gone, Off.
            harness.wait_until(
                lambda: self.element(ui.STATUS_LABEL, f"3-after-{attempt}") == status_off, 3,
                f"the status to read Off after dismissing with {attempt}")

        # A file chosen now would ring at midnight if the alarm had been left on.
        ui.open_settings(win)
        ui.choose_file(prog, win, harness.make_mp3(TONE_SECONDS, TONE_HZ))
        self.clock.set(f"{DAY} 23:59:58")
        rec = self.recorder("no-alarm")
        self.clock.wait_for(f"{NEXT_DAY} 00:00:00", 2.5)
        rec.stop()
        self.assertIsNone(rec.first_sound(), f"sound at the sink: {rec.sound_spans()}")
        self.assertEqual(harness.geometry(win).height, ui.EXPANDED_HEIGHT,
                         "the settings panel closed as if the alarm had gone off")
        self.assertTrue(prog.alive())


class SleepTest(TovrelCase):
    """Stopped (SIGSTOP) over the alarm minute, as a suspend looks to the program: more
    than an hour late the alarm does not fire and stays armed; up to an hour it rings.
    The desktop portal takes the call to hold off suspend and never answers it."""

    def desktop(self):
        return desktop_mocks.portal(answer=False)

    def stop_over_midnight(self, day, wake):
        """Stopped at 23:59:50 of day, continued when the faked clock reads wake."""
        self.clock.set(f"{day} 23:59:50")
        time.sleep(0.3)
        self.program.proc.send_signal(signal.SIGSTOP)
        self.addCleanup(self.program.proc.send_signal, signal.SIGCONT)
        self.clock.set(wake)
        time.sleep(0.5)
        self.program.proc.send_signal(signal.SIGCONT)
        return time.monotonic()

    def test_rings_on_continuing_up_to_an_hour_late(self):
        ui.open_settings(self.win)
        ui.choose_file(self.program, self.win, harness.make_mp3(TONE_SECONDS, TONE_HZ))
        ui.click_button(self.win, ui.ALARM_BUTTON)
        rec = self.recorder("stops")
        self.stop_over_midnight(DAY, f"{NEXT_DAY} 01:01:00")
        time.sleep(2.0)
        self.assertEqual(harness.geometry(self.win).height, ui.EXPANDED_HEIGHT, "61 min late")
        ui.press_glyph(self.win, ui.MINIMISE_GLYPH)
        harness.wait_until(lambda: not harness.viewable(self.win), 5, "the window in the tray")
        continued = self.stop_over_midnight(NEXT_DAY, "2026-12-10 00:05:00")
        time.sleep(2.0)
        rec.stop()
        onset, heard = rec.first_tone(TONE_HZ), self.tone_spans_text(rec)
        self.assertIsNotNone(onset, f"no alarm five minutes late; {heard}")
        delay = onset - self.at(rec, continued)
        print(f"\n  rang {delay * 1000:.0f} ms after the continue", file=sys.stderr)
        self.assertTrue(-EARLY < delay < ONSET_LIMIT, f"rang {delay:.2f} s after it; {heard}")
        self.assertTrue(harness.viewable(self.win), "the ringing window is not mapped")


class ClickSoundTest(TovrelCase):
    def test_settings_command_clicks_once_each_time(self):
        win = self.win
        rec = self.recorder("clicks")
        time.sleep(0.3)
        releases = []
        for height in (ui.EXPANDED_HEIGHT, ui.COLLAPSED_HEIGHT):
            ui.click_button(win, ui.SETTINGS_BUTTON)
            releases.append(time.monotonic())
            ui.wait_height(win, height)
            time.sleep(0.6)
        rec.stop()
        spans = rec.sound_spans(ms=5, min_gap=0.05)
        self.assertEqual(len(spans), 2, f"expected two clicks, heard {spans} in {rec.wav_path}")
        for (start, end), released in zip(spans, releases):
            after = start - self.at(rec, released)
            self.assertGreater(after, -0.15, f"click {start:.2f} s before the command")
            self.assertLess(after, 0.4, f"click {after:.2f} s after the command")
            self.assertLess(end - start, 0.15, f"click lasts {end - start:.2f} s")
            self.assertGreater(rec.peak(start, end), 0.2, "the click is too quiet")


if __name__ == "__main__":
    unittest.main(verbosity=2)
