#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real program when sound goes wrong: the desktop's default output moves to another
sink while the alarm rings (the file, then the built-in tone) and SIGTERM ends a ringing
file; no sound server at all (every command still completes, the alarm minute passes);
a sound server that accepts connections and never answers (the same, and the alarm still
comes up on time); the click sound Tovrel.wav missing beside the program (every command
that clicks still completes promptly)."""
import shutil
import signal
import socket
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import rings  # noqa: E402
import tovrel_ui as ui  # noqa: E402
from rings import BUILT_IN_TONE_HZ, FILE_HZ  # noqa: E402

OTHER_SINK = "other_sink"
SWITCH_LIMIT = 1.0       # seconds from the default's change to the file on the new sink
TONE_SWITCH_LIMIT = 2.2  # the same for the tone, whose beeps pause 1.2 s in every 2 s
COMMAND_LIMIT = 1.5      # seconds from a click to what the command shows


def setUpModule():
    harness.services().ensure()


class SoundCase(unittest.TestCase):
    def start(self, env=None, binary=None, pulse_server=None, start="23:58:00"):
        self.out = harness.test_output_dir("sound_trouble", self._testMethodName)
        self.clock = harness.FakeClock(f"{rings.DAY} {start}")
        self.program = harness.Program(binary=binary, pulse_server=pulse_server,
                                       env=dict(self.clock.env(), **rings.LOCALE, **(env or {})))
        self.program.start()
        self.addCleanup(self.program.stop)
        self.win = self.program.wait_window()
        self.timings = []
        return self.program, self.win

    def pixels(self, rect, name, win=None):
        shot = harness.screenshot(self.out / f"{name}.png", window=win or self.win)
        return ui.region_pixels(harness.Image(shot), rect)

    limit = COMMAND_LIMIT

    def timed(self, what, action, done, limit=None):
        """Run action (a click), then wait for done(); the seconds it took, kept for the
        report and held to limit."""
        limit = limit or self.limit
        action()
        clicked = time.monotonic()
        try:
            harness.wait_until(lambda: done() or self.program.check_alive(what), limit + 5, what)
        except harness.HarnessError:
            if self.program.alive():
                rings.backtrace(self.program.pid, self.out)
            raise
        took = time.monotonic() - clicked
        self.timings.append(f"{what} {took * 1000:.0f} ms")
        self.assertLess(took, limit, f"{what} took {took:.2f} s")
        return took

    def report(self, title):
        print(f"\n  {title}: " + ", ".join(self.timings), file=sys.stderr)

    def changes(self, rect, name, win=None):
        """A predicate: the element's pixels differ from what they are now."""
        before = self.pixels(rect, f"{name}-before", win)
        return lambda: self.pixels(rect, f"{name}-after", win) != before

    def height_is(self, height):
        return lambda: harness.geometry(self.win).height == height

    def panel_shown(self):
        """A predicate: the window is expanded and its settings panel painted (the
        newly uncovered part stays black until the command has returned)."""
        def shown():
            if harness.geometry(self.win).height != ui.EXPANDED_HEIGHT:
                return False
            return any(p != (0, 0, 0) for p in self.pixels(ui.FILE_NAME_LABEL, "panel"))
        return shown


class DefaultOutputSwitchTest(SoundCase):
    """A private sound server, so that the shared one keeps its default."""

    def pactl(self, *args):
        return harness.run(["pactl", "--server", self.pulse.server, *args]).stdout.strip()

    def first_after(self, rec, hz, when, until, early=0.0):
        """Seconds from when to the first sound of hz (looked for from early seconds
        before when, up to until), or None."""
        t = rings.first_tone_between(rec, hz, rings.at(rec, when) - early, rings.at(rec, until))
        return None if t is None else t - rings.at(rec, when)

    def test_the_alarm_follows_the_default_output_and_sigterm_ends_it(self):
        self.pulse = harness.PulseServer().start()
        self.addCleanup(self.pulse.stop)
        # With only monitors for sources, the default source is the default sink's
        # monitor, and the server moves recordings from the old one to the new one
        # when the default sink changes: a source of its own keeps them where they are.
        self.pactl("load-module", "module-null-source", "source_name=quiet")
        self.pactl("set-default-source", "quiet")
        prog, win = self.start(pulse_server=self.pulse.server)
        tone = harness.make_mp3(3.0, FILE_HZ)
        empty = rings.write_bytes(harness.new_dir("files") / "empty.mp3", b"")
        first = harness.Recorder("ci_sink", server=self.pulse.server, rate=rings.RATE,
                                 out_dir=self.out).start()
        self.addCleanup(first.stop)
        recs = [first]
        r = rings.Rounds(self, prog, win, self.clock, first)
        heard = []

        def text(rec, a, b):
            return rings.heard_text(rec, rings.at(rec, a), rings.at(rec, b))

        try:
            # The file rings on ci_sink; a new sink appears and becomes the default.
            file_round = rings.Round("file", FILE_HZ)
            r.choose(tone, "file")
            r.arm_next_minute("file")
            r.ring(file_round, 0.8)
            self.pactl("load-module", "module-null-sink", f"sink_name={OTHER_SINK}",
                       "sink_properties=device.description=OtherSink", "norewinds=1")
            second = harness.Recorder(OTHER_SINK, device=f"{OTHER_SINK}.monitor",
                                      server=self.pulse.server, rate=rings.RATE,
                                      out_dir=self.out).start()
            self.addCleanup(second.stop)
            recs.append(second)
            switched_1 = time.monotonic()
            self.pactl("set-default-sink", OTHER_SINK)
            time.sleep(2.0)
            r.switch_off(file_round)
            time.sleep(1.0)

            # The tone rings on the new default; the default goes back to ci_sink.
            tone_round = rings.Round("tone", BUILT_IN_TONE_HZ)
            r.choose(empty, "tone")
            r.arm_next_minute("tone")
            r.ring(tone_round, 0.3)
            switched_2 = time.monotonic()
            self.pactl("set-default-sink", harness.SINK)
            time.sleep(2.5)
            r.switch_off(tone_round)
            time.sleep(1.0)

            # The file rings on ci_sink and the program is ended from outside.
            term_round = rings.Round("sigterm", FILE_HZ)
            r.choose(tone, "sigterm")
            r.arm_next_minute("sigterm")
            r.ring(term_round, 1.0)
            tray_before = harness.tray_icon_docked(prog.pid)
            term_sent = time.monotonic()
            prog.proc.send_signal(signal.SIGTERM)
            code = prog.wait_exit(10)
            ended = time.monotonic()
            tray_after = harness.tray_icon_docked(prog.pid)
            time.sleep(1.5)
        except harness.HarnessError:
            if prog.alive():
                rings.backtrace(prog.pid, self.out)
            raise
        finally:
            for rec in recs:
                rec.stop()

        # (The sound server moves a playing stream that no one tied to its sink by
        # itself; the two rounds after this one show that the player follows the
        # default: their sound starts on the sink that is the default then.)
        with self.subTest("the file moves to the new default sink"):
            m = file_round.minute
            onset = self.first_after(first, FILE_HZ, m, m + 0.8, early=0.5)
            self.assertIsNotNone(onset, f"no alarm on ci_sink; {text(first, m - 1, switched_1)}")
            moved = self.first_after(second, FILE_HZ, switched_1, switched_1 + 2.0)
            self.assertIsNotNone(moved, "the file was not heard on the new default sink; "
                                 + text(second, switched_1, file_round.switched_off))
            self.assertGreater(onset, -rings.EARLY, "rang early")
            self.assertLess(onset, rings.ONSET_LIMIT, "rang late")
            heard.append(f"file {onset * 1000:.0f} ms after the minute, "
                         f"on the new sink {moved * 1000:.0f} ms after the switch")
            self.assertLess(moved, SWITCH_LIMIT, text(second, switched_1, file_round.switched_off))
            # It keeps playing there, and no longer on the old sink.
            self.assertGreater(second.tone_level(FILE_HZ, rings.at(second, switched_1) + moved + 0.2,
                                                 rings.at(second, file_round.switched_off) - 0.1), 0.1,
                               text(second, switched_1, file_round.switched_off))
            self.assertLess(first.tone_level(FILE_HZ, rings.at(first, switched_1) + 1.0,
                                             rings.at(first, file_round.switched_off)), 0.02,
                            "still playing on the old sink: " +
                            text(first, switched_1, file_round.switched_off))

        with self.subTest("the tone rings on the new default and moves back"):
            m = tone_round.minute
            onset = self.first_after(second, BUILT_IN_TONE_HZ, m, m + 1.0, early=0.5)
            self.assertIsNotNone(onset, "no tone on the default sink " + OTHER_SINK + "; "
                                 + text(second, m - 1, switched_2))
            moved = self.first_after(first, BUILT_IN_TONE_HZ, switched_2, tone_round.switched_off)
            self.assertIsNotNone(moved, "the tone was not heard on ci_sink after the switch; "
                                 + text(first, switched_2, tone_round.switched_off))
            self.assertGreater(onset, -rings.EARLY, "rang early")
            self.assertLess(onset, rings.ONSET_LIMIT, "rang late")
            heard.append(f"tone {onset * 1000:.0f} ms after the minute, "
                         f"on the new sink {moved * 1000:.0f} ms after the switch")
            self.assertLess(moved, TONE_SWITCH_LIMIT)
            self.assertLess(second.tone_level(BUILT_IN_TONE_HZ, rings.at(second, switched_2) + 0.5,
                                              rings.at(second, tone_round.switched_off)), 0.02,
                            "the tone still plays on the old sink: "
                            + text(second, switched_2, tone_round.switched_off))

        with self.subTest("SIGTERM while the file rings"):
            m = term_round.minute
            onset = self.first_after(first, FILE_HZ, m, term_sent, early=0.5)
            self.assertIsNotNone(onset, text(first, m - 1, term_sent))
            self.assertGreater(first.tone_level(FILE_HZ, rings.at(first, term_sent) - 0.4,
                                                rings.at(first, term_sent) - 0.1), 0.1,
                               "not ringing just before the SIGTERM; " + text(first, m, ended))
            self.assertEqual(code, 0, prog.proc.describe())
            self.assertTrue(tray_before, "no tray icon before the SIGTERM")
            self.assertFalse(tray_after, "the tray icon stayed after the program ended")
            ends = [b for a, b in first.tone_spans(FILE_HZ) if a < rings.at(first, ended)]
            last = max(ends) - rings.at(first, term_sent) if ends else float("nan")
            heard.append(f"SIGTERM -> exit {(ended - term_sent) * 1000:.0f} ms, "
                         f"-> silence {last * 1000:.0f} ms")
            self.assertIsNone(first.first_sound(after=rings.at(first, ended) + rings.SILENCE_LIMIT),
                              "sound after the end: " + text(first, ended, ended + 1.5))
        print("\n  " + "; ".join(heard), file=sys.stderr)


class NoSoundServerTest(SoundCase):
    """without a sound server"""

    def sound_env(self):
        return harness.no_sound_server_env()

    def test_every_command_completes_and_the_alarm_minute_passes(self):
        prog, win = self.start(env=self.sound_env())
        mp3 = harness.make_mp3(1.0, FILE_HZ)
        # The clock goes on to the next minute.
        self.clock.set(f"{rings.DAY} 23:58:59")
        harness.wait_until(self.changes(ui.CLOCK_LABEL, "clock"), 3, "the clock to show 23:59")

        self.timed("Setting", lambda: ui.click_button(win, ui.SETTINGS_BUTTON),
                   self.panel_shown())
        time.sleep(0.3)
        label = self.changes(ui.FILE_NAME_LABEL, "label")
        self.timed("Browse", lambda: ui.click_button(win, ui.BROWSE_BUTTON),
                   lambda: prog.windows(ui.OPEN_DIALOG_TITLE))
        harness.key("Escape", display=prog.display)
        harness.wait_until(lambda: not prog.windows(ui.OPEN_DIALOG_TITLE), 5,
                           "the cancelled dialog to close")
        ui.choose_file(prog, win, mp3)
        harness.wait_until(label, 5, "the name label to show the chosen file")

        rings.step_alarm_time(win)
        time.sleep(0.3)
        status = self.changes(ui.STATUS_LABEL, "status-on")
        self.timed("Alarm on", lambda: ui.click_button(win, ui.ALARM_BUTTON), status)
        self.timed("Minimise while armed", lambda: ui.press_glyph(win, ui.MINIMISE_GLYPH),
                   lambda: not harness.geometry(win).viewable)

        # The alarm minute 00:01: the window comes up collapsed, as when it rings.
        self.clock.set(f"{rings.NEXT_DAY} 00:00:58")
        minute = self.clock.monotonic_at(rings.minute_text(1))
        harness.wait_until(lambda: harness.geometry(win).viewable and self.height_is(ui.COLLAPSED_HEIGHT)(),
                           5, "the alarm to go off")
        rang = time.monotonic() - minute
        self.timings.append(f"alarm minute -> window up {rang * 1000:.0f} ms")
        self.assertLess(rang, 1.0)
        time.sleep(0.5)

        alarm_time = self.changes(ui.ALARM_TIME_LABEL, "alarm-time-snooze")
        self.timed("Snooze", lambda: ui.click_button(win, ui.SNOOZE_BUTTON), alarm_time)

        # The snoozed alarm (00:06) rings on past the end of its minute: only a ringing
        # alarm's time follows the clock to 00:07.
        self.clock.set(f"{rings.NEXT_DAY} 00:05:59")
        self.clock.wait_for(f"{rings.NEXT_DAY} 00:06:00", 0.5)
        alarm_time = self.changes(ui.ALARM_TIME_LABEL, "alarm-time-follows")
        self.clock.set(f"{rings.NEXT_DAY} 00:06:59")
        harness.wait_until(alarm_time, 5, "the alarm time to follow the clock past the minute")
        prog.check_alive("after the alarm minute")

        status = self.changes(ui.STATUS_LABEL, "status-off")
        self.timed("Alarm off", lambda: ui.click_button(win, ui.ALARM_BUTTON), status)
        self.timed("Setting again", lambda: ui.click_button(win, ui.SETTINGS_BUTTON),
                   self.panel_shown())
        time.sleep(0.3)

        icon = harness.wait_until(
            lambda: next((w for w, pid in harness.tray_icons() if pid == prog.pid), None), 10,
            "the tray icon")
        self.timed("Minimise", lambda: ui.press_glyph(win, ui.MINIMISE_GLYPH),
                   lambda: not harness.geometry(win).viewable)
        g = harness.geometry(icon)
        self.timed("tray icon click", lambda: harness.click(1, icon, g.width // 2, g.height // 2),
                   lambda: harness.geometry(win).viewable)
        time.sleep(0.3)
        self.timed("Close", lambda: ui.press_glyph(win, ui.CLOSE_GLYPH),
                   lambda: prog.windows(ui.ABOUT_TITLE))
        about = prog.windows(ui.ABOUT_TITLE)[0]
        harness.move_to(about, 45, 100)  # the About window's bare background
        time.sleep(0.05)
        self.timed("Exit", lambda: ui.click_button(about, ui.EXIT_BUTTON),
                   lambda: not prog.alive())
        self.assertEqual(prog.proc.returncode, 0, prog.proc.describe())
        # GStreamer's and fontconfig's caches, PulseAudio's cookie.
        theirs = {"gstreamer-1.0", "fontconfig", "pulse"}
        kept = [str(p) for p in prog.home.rglob("*") if p.is_file() and not theirs & set(p.parts)]
        self.assertEqual(kept, [], "files of Tovrel's or Qt's left in HOME")
        self.assertNotIn("run-time error", prog.stderr_text())
        self.report(self.__class__.__doc__)


class StuckSoundServerTest(NoSoundServerTest):
    """with a sound server that accepts connections and never answers"""
    # The click waits for its sound's length and a second's grace, then gives up.
    limit = 2.0

    def sound_env(self):
        d = harness.new_dir("stuck-pulse")
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(str(d / "native"))
        self.server.listen(64)
        self.addCleanup(self.server.close)
        return dict(harness.no_sound_server_env(), PULSE_SERVER=f"unix:{d}/native")


class MissingClickSoundTest(SoundCase):
    def test_commands_that_click_complete_promptly_without_tovrel_wav(self):
        folder = harness.new_dir("program")
        built = harness.tovrel_bin().resolve()
        shutil.copy2(built, folder / "tovrel")
        self.assertFalse((folder / "Tovrel.wav").exists())
        prog, win = self.start(binary=folder / "tovrel")
        mp3 = harness.make_mp3(2.0, FILE_HZ)
        rec = harness.Recorder("clicks", rate=rings.RATE, out_dir=self.out).start()
        self.addCleanup(rec.stop)
        clicked = []

        def click(rect):
            def action():
                ui.click_button(win, rect)
                clicked.append(time.monotonic())
            return action

        def minimise():
            ui.press_glyph(win, ui.MINIMISE_GLYPH)
            clicked.append(time.monotonic())

        self.timed("Setting", click(ui.SETTINGS_BUTTON), self.panel_shown())
        time.sleep(0.5)
        ui.choose_file(prog, win, mp3)
        rings.step_alarm_time(win)
        time.sleep(0.5)
        self.timed("Alarm on", click(ui.ALARM_BUTTON), self.changes(ui.STATUS_LABEL, "on"))
        time.sleep(0.5)
        self.clock.set(f"{rings.NEXT_DAY} 00:00:59")
        harness.wait_until(self.height_is(ui.COLLAPSED_HEIGHT), 5, "the alarm to go off")
        time.sleep(0.5)
        self.timed("Snooze", click(ui.SNOOZE_BUTTON), self.changes(ui.ALARM_TIME_LABEL, "snooze"))
        time.sleep(0.5)
        self.timed("Alarm off", click(ui.ALARM_BUTTON), self.changes(ui.STATUS_LABEL, "off"))
        time.sleep(0.5)
        self.timed("Setting again", click(ui.SETTINGS_BUTTON), self.panel_shown())
        time.sleep(0.5)
        self.timed("Minimise", minimise, lambda: not harness.geometry(win).viewable)
        time.sleep(0.5)
        rec.stop()
        self.report("without Tovrel.wav")
        # Each of those commands still made its click: the desktop's or a built-in one.
        # (Snooze's click may mix with the end of the alarm; it is not looked for.)
        for what, index in (("Setting", 0), ("Alarm on", 1), ("Alarm off", 3),
                            ("Setting again", 4), ("Minimise", 5)):
            t = rings.at(rec, clicked[index])
            heard = rec.first_sound(after=max(0.0, t - 0.2))
            self.assertIsNotNone(heard, f"no click for {what}")
            self.assertLess(heard - t, 0.5, f"no click for {what} within 0.5 s "
                            f"(first sound {heard - t:.2f} s after; {rec.wav_path})")
        self.assertTrue(prog.alive(), prog.proc.describe())


if __name__ == "__main__":
    unittest.main(verbosity=2)
