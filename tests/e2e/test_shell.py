#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The window shell of the real program: dragging the frameless window, minimising to
the tray and back, minimising with no tray host, the About window and Exit, SIGTERM,
and an alarm that rings while the window is in the tray."""
import signal
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

LOCALE = {"LANG": "C", "LC_ALL": "C"}
BACKGROUND = (40, 110)       # bare panel: left of the display, above Snooze
ABOUT_BACKGROUND = (45, 100)  # bare About panel, left of the credits
TONE_HZ = 440


def setUpModule():
    harness.services().ensure()


def drag(win, start, offset, steps=10, display=None):
    """Press at start (window coordinates), move by offset in steps, release."""
    g = harness.geometry(win, display)
    x0, y0 = g.x + start[0], g.y + start[1]
    harness.run(["xdotool", "mousemove", x0, y0], display=display)
    time.sleep(0.05)
    harness.press(1, display)
    for i in range(1, steps + 1):
        harness.run(["xdotool", "mousemove", x0 + offset[0] * i // steps,
                     y0 + offset[1] * i // steps], display=display)
        time.sleep(0.03)
    harness.release(1, display)


class ShellCase(unittest.TestCase):
    def start(self, display=None, env=None):
        self.out = harness.test_output_dir("shell", self._testMethodName)
        program = harness.Program(display=display, env=dict(LOCALE, **(env or {}))).start()
        self.addCleanup(program.stop)
        return program, program.wait_window()

    def tray_icon(self, program):
        """The program's window docked in trayer, once it is there."""
        def docked():
            icons = [w for w, pid in harness.tray_icons() if pid == program.pid]
            return icons[0] if icons else None
        return harness.wait_until(docked, 10, "tovrel's icon in the tray")

    def click_tray_icon(self, icon):
        g = harness.geometry(icon)
        harness.click(1, icon, g.width // 2, g.height // 2)

    def glyph(self, win, name):
        image = harness.Image(harness.screenshot(self.out / f"{name}.png", window=win))
        return ui.picture_of(image, ui.MINIMISE_GLYPH, ("MiniU", "MiniM"))

    def wait_exit_code(self, program, timeout=10):
        code = program.wait_exit(timeout)
        self.assertIsNotNone(code, "tovrel did not end\n" + program.proc.describe())
        return code


class DragTest(ShellCase):
    def test_drag_on_the_background_moves_the_window_with_the_pointer(self):
        program, win = self.start()
        before = harness.geometry(win)
        self.assertEqual((before.x, before.y), ui.START_POSITION)
        for offset in ((50, 30), (-120, 45)):
            g0 = harness.geometry(win)
            drag(win, BACKGROUND, offset)
            time.sleep(0.2)
            g1 = harness.geometry(win)
            px, py = harness.pointer_position()
            pointer = (px - g0.x - BACKGROUND[0], py - g0.y - BACKGROUND[1])
            moved = (g1.x - g0.x, g1.y - g0.y)
            self.assertEqual(pointer, offset)
            for got, want, axis in zip(moved, pointer, "xy"):
                self.assertLessEqual(abs(got - want), 1,
                                     f"window moved by {moved} for a drag by {pointer} ({axis})")
            self.assertEqual((g1.width, g1.height), (g0.width, g0.height))
            self.assertTrue(g1.viewable)
        self.assertTrue(program.alive())


class TrayTest(ShellCase):
    def test_minimise_hides_to_the_tray_and_a_tray_click_brings_it_back(self):
        program, win = self.start()
        icon = self.tray_icon(program)
        self.assertEqual(self.glyph(win, "1-glyph-normal"), "MiniU")
        ui.hover(win, ui.MINIMISE_GLYPH)
        self.assertEqual(self.glyph(win, "2-glyph-hover"), "MiniM")

        harness.press(1)
        time.sleep(0.05)
        harness.release(1)
        harness.wait_until(lambda: not harness.geometry(win).viewable, 5,
                           "the main window to be unmapped")
        self.assertTrue(harness.tray_icon_docked(program.pid), "the tray icon went away")
        time.sleep(0.5)
        self.assertFalse(harness.geometry(win).viewable, "the window came back by itself")

        self.click_tray_icon(icon)
        harness.wait_until(lambda: harness.geometry(win).viewable, 5,
                           "the main window to be mapped again")
        harness.wait_until(lambda: harness.focused_window() == win, 5,
                           f"the focus on the main window {win} (it is on {harness.focused_window()})")
        self.assertEqual(harness.geometry(win).height, ui.COLLAPSED_HEIGHT)
        self.assertEqual(self.glyph(win, "3-glyph-after-restore"), "MiniU",
                         "the minimise glyph still shows its hover picture")
        self.assertTrue(program.alive())

    def test_the_window_stays_reachable_as_tray_hosts_come_and_go(self):
        xserver = harness.XServer().start()
        self.addCleanup(xserver.stop)
        display = xserver.display
        self.assertEqual(harness.tray_owner(display), 0)
        program, win = self.start(display=display)
        ui.press_glyph(win, ui.MINIMISE_GLYPH, display)
        time.sleep(1.0)
        self.assertTrue(program.alive(), program.proc.describe())
        g = harness.geometry(win, display)
        state = harness.wm_state(win, display)
        net = harness.net_wm_state(win, display)
        saw = f"map state {g.map_state}, WM_STATE {state}, _NET_WM_STATE {sorted(net) or None}"
        print(f"\n  after minimise without a tray host: {saw}", file=sys.stderr)
        self.assertTrue(g.viewable or state == "Iconic",
                        "the window can no longer be reached: neither mapped nor iconic "
                        f"({saw})")
        self.assertIsNone(program.wait_exit(timeout=1), program.proc.describe())

        # A tray host that comes later takes the icon in.
        trayer = harness.Trayer(display).start()
        self.addCleanup(trayer.stop)
        harness.wait_until(lambda: harness.tray_icon_docked(program.pid, display), 10,
                           "the icon in the tray host started after the program")

        # From then on minimise hides the window to that tray, and the icon brings it back.
        harness.wait_until(lambda: harness.geometry(win, display).viewable, 5,
                           "the main window to be mapped")
        ui.press_glyph(win, ui.MINIMISE_GLYPH, display)
        harness.wait_until(lambda: not harness.geometry(win, display).viewable, 5,
                           "the window to go to the late tray host")
        icon = next(w for w, pid in harness.tray_icons(display) if pid == program.pid)
        g = harness.geometry(icon, display)
        harness.click(1, icon, g.width // 2, g.height // 2, display=display)
        harness.wait_until(lambda: harness.geometry(win, display).viewable, 5,
                           "a click on the icon to bring the window back")

        # The tray host dying while the window is hidden to it brings the window back; the
        # next tray host takes the icon, and minimise hides to it.
        ui.press_glyph(win, ui.MINIMISE_GLYPH, display)
        harness.wait_until(lambda: not harness.viewable(win, display), 5, "the window in the tray")
        killed = time.monotonic()
        trayer.proc.stop(sig=signal.SIGKILL)
        harness.wait_until(lambda: harness.viewable(win, display), 1.0, "the window back")
        print(f"  mapped {(time.monotonic() - killed) * 1000:.0f} ms after the kill",
              file=sys.stderr)
        self.addCleanup(harness.Trayer(display).start().stop)
        harness.wait_until(lambda: harness.tray_icon_docked(program.pid, display), 10, "docked")
        ui.press_glyph(win, ui.MINIMISE_GLYPH, display)
        harness.wait_until(lambda: not harness.viewable(win, display), 5, "the window in the new tray")


class EndingTest(ShellCase):
    def test_close_shows_about_at_the_window_and_exit_ends_the_program(self):
        program, win = self.start()
        self.tray_icon(program)
        drag(win, BACKGROUND, (60, 40))
        harness.wait_until(lambda: harness.geometry(win).x != ui.START_POSITION[0], 5,
                           "the window to move")
        main = harness.geometry(win)

        ui.press_glyph(win, ui.CLOSE_GLYPH)
        about = program.wait_window(ui.ABOUT_TITLE)
        g = harness.geometry(about)
        self.assertEqual((g.x, g.y), (main.x, main.y), "About is not where the main window was")
        self.assertEqual((g.width, g.height), ui.ABOUT_SIZE)
        harness.wait_until(lambda: not harness.geometry(win).viewable, 5,
                           "the main window to be hidden")

        harness.move_to(about, *ABOUT_BACKGROUND)
        time.sleep(0.05)
        ui.click_button(about, ui.EXIT_BUTTON)
        self.assertEqual(self.wait_exit_code(program), 0, program.proc.describe())
        self.assertFalse(harness.tray_icon_docked(program.pid), "the tray icon is still there")

    def test_sigterm_removes_the_tray_icon_and_ends_with_status_0(self):
        program, win = self.start()
        self.tray_icon(program)
        program.proc.popen.send_signal(signal.SIGTERM)
        self.assertEqual(self.wait_exit_code(program), 0, program.proc.describe())
        self.assertFalse(harness.tray_icon_docked(program.pid), "the tray icon is still there")


class RingFromTrayTest(ShellCase):
    def test_alarm_rings_and_shows_the_window_while_in_the_tray(self):
        mp3 = harness.make_mp3(2.0, TONE_HZ)
        clock = harness.FakeClock("2026-12-08 23:59:30")
        program, win = self.start(env=clock.env())
        self.tray_icon(program)
        ui.open_settings(win)
        ui.choose_file(program, win, mp3)
        ui.click_button(win, ui.ALARM_BUTTON)
        time.sleep(0.3)
        ui.press_glyph(win, ui.MINIMISE_GLYPH)
        harness.wait_until(lambda: not harness.geometry(win).viewable, 5,
                           "the main window to go to the tray")

        clock.set("2026-12-08 23:59:57")
        rec = harness.Recorder("from-tray", rate=16000, out_dir=self.out).start()
        self.addCleanup(rec.stop)
        midnight = clock.monotonic_at("2026-12-09 00:00:00")
        clock.wait_for("2026-12-09 00:00:00")
        harness.wait_until(lambda: harness.geometry(win).viewable, 3,
                           "the ringing window to be mapped again")
        harness.screenshot(self.out / "ringing.png")
        focus = harness.wait_until(lambda: harness.focused_window() == win, 3,
                                   "the focus on the ringing window")
        self.assertTrue(focus)
        clock.wait_for("2026-12-09 00:00:00", 2.0)
        rec.stop()
        onset = rec.first_tone(TONE_HZ)
        spans = rec.tone_spans(TONE_HZ)
        self.assertIsNotNone(onset, f"no alarm at the sink ({rec.wav_path})")
        delay = onset - (midnight - rec.started_at)
        print(f"\n  ring {delay * 1000:.0f} ms after midnight", file=sys.stderr)
        self.assertGreater(delay, -0.05, spans)
        self.assertLess(delay, 1.0, spans)
        self.assertEqual(harness.geometry(win).height, ui.COLLAPSED_HEIGHT)


if __name__ == "__main__":
    unittest.main(verbosity=2)
