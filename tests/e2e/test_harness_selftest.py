#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks the e2e harness and the test machine's services without Tovrel.

A failure here means the environment (Xvfb, trayer, PulseAudio null sink,
xdotool, sox, libfaketime) or the harness is broken, not the program. The X
client used as a stand-in window is probe_window.py.
"""
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

# The two panels Tovrel's main window is cut to, for a window that shows both, and
# the box around both.
TOP_PANEL, SETTINGS_PANEL = ui.TOP_PANEL, ui.SETTINGS_PANEL
BOTH = (min(TOP_PANEL[0], SETTINGS_PANEL[0]), TOP_PANEL[1],
        max(TOP_PANEL[0] + TOP_PANEL[2], SETTINGS_PANEL[0] + SETTINGS_PANEL[2])
        - min(TOP_PANEL[0], SETTINGS_PANEL[0]),
        SETTINGS_PANEL[1] + SETTINGS_PANEL[3] - TOP_PANEL[1])
COLLAPSED = f"{ui.WIDTH}x{ui.COLLAPSED_HEIGHT}"


def setUpModule():
    harness.services().ensure()


class DisplayServicesTest(unittest.TestCase):
    def test_display_answers_and_tray_host_owns_the_selection(self):
        display = harness.services().display
        self.assertTrue(harness.display_works(display))
        self.assertNotEqual(harness.tray_owner(display), 0, "no tray host owns _NET_SYSTEM_TRAY_S0")
        self.assertIsNotNone(harness.trayer_panel(display), "trayer's panel window is missing")

    def test_extra_xserver_is_separate_has_no_tray_and_stops(self):
        shared = harness.services().display
        extra = harness.XServer(640, 480).start()
        try:
            self.assertNotEqual(extra.display, shared)
            self.assertTrue(harness.display_works(extra.display))
            self.assertEqual(harness.tray_owner(extra.display), 0)
            with harness.connection(extra.display) as d:
                self.assertEqual(d.screen().width_in_pixels, 640)
        finally:
            extra.stop()
        self.assertFalse(extra.proc.alive())
        self.assertFalse(harness.display_works(extra.display))

    def test_extra_trayer_on_extra_display(self):
        extra = harness.XServer().start()
        try:
            tray = harness.Trayer(extra.display).start()
            self.assertNotEqual(harness.tray_owner(extra.display), 0)
            tray.stop()
            harness.wait_until(lambda: harness.tray_owner(extra.display) == 0, 5,
                               "the tray selection to be released")
        finally:
            extra.stop()


class WindowQueriesTest(unittest.TestCase):
    """Geometry, shape and tray docking as read from a known X client."""

    def setUp(self):
        self.probes = []

    def tearDown(self):
        for p in self.probes:
            p.stop()

    def probe(self, *args, **kwargs):
        p = harness.ProbeWindow(*args, **kwargs)
        self.probes.append(p)
        return p

    def test_geometry_of_a_mapped_window(self):
        p = self.probe("selftest geometry", f"{COLLAPSED}+120+80")
        g = harness.geometry(p.window)
        self.assertEqual((g.x, g.y, g.width, g.height), (120, 80, ui.WIDTH, ui.COLLAPSED_HEIGHT))
        self.assertTrue(g.viewable)

    def test_find_windows_by_exact_name_and_pid(self):
        p = self.probe("selftest (find) 1.0", "50x50+10+10")
        q = self.probe("selftest (find) 1.0 more", "50x50+70+10")
        self.assertEqual(harness.find_windows(name="selftest (find) 1.0"), [p.window])
        self.assertEqual(harness.find_windows(pid=q.proc.pid), [q.window])
        self.assertEqual(harness.window_property(p.window, "_NET_WM_PID")[0], p.proc.pid)

    def test_unshaped_window_reports_no_shape(self):
        p = self.probe("selftest unshaped", "100x60+10+10")
        self.assertFalse(harness.shape(p.window).shaped)
        self.assertEqual(harness.visible_shape_bbox(p.window), (0, 0, 100, 60))

    def test_shape_extents_and_visible_part_of_two_panels(self):
        # At the collapsed height only the top panel lies inside the window; the X
        # server still reports extents over both panels.
        p = self.probe("selftest shaped", f"{COLLAPSED}+10+300", shapes=(TOP_PANEL, SETTINGS_PANEL))
        s = harness.shape(p.window)
        self.assertTrue(s.shaped)
        self.assertEqual(s.extents, BOTH)
        self.assertEqual(harness.visible_shape_bbox(p.window), TOP_PANEL)

        tall = self.probe("selftest shaped tall", f"{ui.WIDTH}x{BOTH[1] + BOTH[3]}+420+300",
                          shapes=(TOP_PANEL, SETTINGS_PANEL))
        self.assertEqual(harness.visible_shape_bbox(tall.window), BOTH)

    def test_tray_docking_is_seen_per_process(self):
        docked = self.probe("selftest tray icon", "22x22+0+0", tray=True)
        plain = self.probe("selftest not docked", "30x30+300+300")
        harness.wait_until(lambda: harness.tray_icon_docked(docked.proc.pid), 10,
                           "the probe's icon in the tray")
        self.assertFalse(harness.tray_icon_docked(plain.proc.pid))
        docked.stop()
        harness.wait_until(lambda: not harness.tray_icon_docked(docked.proc.pid), 10,
                           "the icon to leave the tray")

    def test_pointer_and_keys_reach_the_window_at_relative_positions(self):
        p = self.probe("selftest input", f"{COLLAPSED}+200+400", shapes=(TOP_PANEL,))
        harness.click(1, p.window, 50, 30)
        harness.move_to(p.window, 100, 100)
        self.assertEqual(harness.pointer_position(), (300, 500))
        harness.press(3)
        harness.release(3)
        harness.click(4)  # wheel up
        # (5, 5) is outside the shape: the click goes to the root window, not the probe.
        harness.click(1, p.window, 5, 5)
        harness.key("Escape", "a", win=p.window)
        harness.wait_until(lambda: "KeyPress a" in p.events("KeyPress"), 5, "key events")
        self.assertEqual(p.events("ButtonPress", "ButtonRelease", "KeyPress"), [
            "ButtonPress 1 50 30", "ButtonRelease 1 50 30",
            "ButtonPress 3 100 100", "ButtonRelease 3 100 100",
            "ButtonPress 4 100 100", "ButtonRelease 4 100 100",
            "KeyPress Escape", "KeyPress a"])

    def test_screenshot_shows_the_window(self):
        p = self.probe("selftest screenshot", "120x80+600+600", shapes=((10, 10, 100, 60),))
        out = harness.test_output_dir("selftest")
        whole = harness.Image(harness.screenshot(out / "root.png"))
        self.assertEqual((whole.width, whole.height), (1280, 1024))
        probe_blue = (0x33, 0x66, 0xcc)
        self.assertEqual(whole.pixel(600 + 60, 600 + 40), probe_blue)
        self.assertNotEqual(whole.pixel(600 + 2, 600 + 2), probe_blue, "outside the shape")
        win = harness.Image(harness.screenshot(out / "window.png", window=p.window))
        self.assertEqual((win.width, win.height), (120, 80))
        self.assertEqual(win.pixel(60, 40), probe_blue)


class ProgramLauncherTest(unittest.TestCase):
    """Program with a stand-in executable: environment, faked clock, failure report."""

    def stand_in(self, body):
        path = harness.new_dir("standin") / "prog"
        path.write_text("#!/bin/sh\n" + body)
        path.chmod(0o755)
        return path

    def test_environment_has_private_home_xcb_and_faked_clock(self):
        prog = self.stand_in('env > "$HOME/env.txt"; date +%s > "$HOME/now.txt"; sleep 30\n')
        start = "2026-12-08 23:59:50"
        p = harness.Program(binary=prog, env=harness.FakeClock(start).env()).start()
        try:
            harness.wait_until(lambda: (p.home / "now.txt").exists()
                               and (p.home / "now.txt").read_text().strip(), 5, "stand-in output")
            env = dict(line.split("=", 1) for line in
                       (p.home / "env.txt").read_text().splitlines() if "=" in line)
            self.assertEqual(env["HOME"], str(p.home))
            self.assertTrue(env["XDG_CONFIG_HOME"].startswith(str(p.home)))
            self.assertEqual(env["QT_QPA_PLATFORM"], "xcb")
            self.assertEqual(env["DISPLAY"], harness.services().display)
            self.assertEqual(env["PULSE_SERVER"], harness.services().pulse_server)
            self.assertEqual(env["FAKETIME_DONT_FAKE_MONOTONIC"], "1")
            expected = time.mktime(time.strptime(start, "%Y-%m-%d %H:%M:%S"))
            faked = int((p.home / "now.txt").read_text())
            self.assertLessEqual(abs(faked - expected), 3, "libfaketime did not set the clock")
        finally:
            p.stop()
        self.assertFalse(p.alive())

    def test_speeded_up_clock_keeps_monotonic_time_real(self):
        # A process that waits one second on the monotonic clock, which must stay real.
        prog = self.stand_in(
            'exec python3 -c "import time\n'
            't0 = time.time(); m0 = time.monotonic()\n'
            'while time.monotonic() - m0 < 1.0: pass\n'
            'print(int(t0), time.time() - t0)"\n')
        clock = harness.FakeClock("2026-12-08 10:00:00")
        clock.run_fast("2026-12-08 10:00:00", 60)
        p = harness.Program(binary=prog, env=clock.env()).start()
        self.assertEqual(p.wait_exit(timeout=15), 0, p.proc.describe())
        start, wall = p.proc.stdout_text().split()
        # The clock runs fast from run_fast() on: the interpreter's start-up too.
        self.assertAlmostEqual(int(start), time.mktime((2026, 12, 8, 10, 0, 0, 0, 0, -1)),
                               delta=30)
        self.assertAlmostEqual(float(wall), 60.0, delta=6.0)

    def test_failure_names_exit_code_and_stderr(self):
        prog = self.stand_in('echo "cannot load skin" >&2; exit 3\n')
        p = harness.Program(binary=prog).start()
        with self.assertRaises(harness.HarnessError) as caught:
            p.wait_window(timeout=5)
        text = str(caught.exception)
        self.assertIn("exited with code 3", text)
        self.assertIn("cannot load skin", text)

    def test_missing_binary_is_reported(self):
        with self.assertRaisesRegex(harness.HarnessError, "not built"):
            harness.Program(binary="/nonexistent/tovrel").start()


class SoundTest(unittest.TestCase):
    """The null sink and its recorder."""

    @classmethod
    def setUpClass(cls):
        # One second of 440 Hz at half of full scale.
        cls.tone = harness.make_wav(harness.new_dir("tone") / "tone.wav", 1.0, 440)

    def play(self, server=None, env=None):
        return harness.run(["paplay", self.tone], pulse_server=server, env=env,
                           timeout=15, check=False)

    def test_recorder_hears_silence_when_nothing_plays(self):
        rec = harness.Recorder("silence").start()
        time.sleep(0.5)
        rec.stop()
        self.assertGreater(rec.duration(), 0.4)
        self.assertIsNone(rec.first_sound())
        self.assertLess(rec.peak(), 0.001)

    def test_tone_reaches_the_sink_promptly_and_whole(self):
        rec = harness.Recorder("tone", out_dir=harness.test_output_dir("selftest")).start()
        time.sleep(0.2)
        launched = time.monotonic()
        res = self.play()
        time.sleep(0.3)
        rec.stop()
        self.assertEqual(res.returncode, 0, res.stderr)
        onset = rec.first_sound_monotonic()
        self.assertIsNotNone(onset, "the tone never reached ci_sink")
        delay = onset - launched
        print(f"\n  tone onset {delay * 1000:.0f} ms after paplay started", file=sys.stderr)
        # The first moment of the sound must not be lost (norewinds=1) nor late.
        self.assertGreater(delay, -0.1)
        self.assertLess(delay, 0.5)
        heard = rec.last_sound() - rec.first_sound()
        self.assertAlmostEqual(heard, 1.0, delta=0.1)
        self.assertAlmostEqual(rec.peak(), 0.5, delta=0.05)
        spans = rec.sound_spans()
        self.assertEqual(len(spans), 1, spans)
        self.assertGreater(rec.rms(), 0.2)
        self.assertTrue(rec.wav_path.exists())

    def test_no_sound_server_environment_really_has_none(self):
        res = self.play(env=harness.no_sound_server_env())
        self.assertNotEqual(res.returncode, 0)

    def test_extra_pulse_server_is_isolated(self):
        extra = harness.PulseServer().start()
        try:
            shared_rec = harness.Recorder("shared").start()
            extra_rec = harness.Recorder("extra", server=extra.server).start()
            res = self.play(server=extra.server)
            self.assertEqual(res.returncode, 0, res.stderr)
            time.sleep(0.2)
            shared_rec.stop()
            extra_rec.stop()
            self.assertIsNotNone(extra_rec.first_sound())
            self.assertIsNone(shared_rec.first_sound())
        finally:
            extra.stop()
        self.assertNotEqual(self.play(server=extra.server).returncode, 0)


class ProcessCleanupTest(unittest.TestCase):
    def test_stop_ends_the_whole_process_group(self):
        p = harness.Proc(["sh", "-c", "sleep 60 & echo $!; wait"], name="group")
        child = int(harness.wait_until(lambda: p.stdout_text().strip(), 5, "child pid"))
        p.stop(grace=2)
        harness.wait_until(lambda: not Path(f"/proc/{child}").exists()
                           or "Z" in Path(f"/proc/{child}/stat").read_text().split()[2], 5,
                           "the child to end")

    def test_process_ignoring_sigterm_is_killed(self):
        p = harness.Proc(["sh", "-c", "trap '' TERM; echo up; while :; do sleep 0.1; done"],
                         name="stubborn")
        harness.wait_until(lambda: p.stdout_text().strip() == "up", 5, "the process to start")
        started = time.monotonic()
        code = p.stop(grace=0.5)
        self.assertEqual(code, -9)
        self.assertLess(time.monotonic() - started, 5)


if __name__ == "__main__":
    unittest.main(verbosity=2)
