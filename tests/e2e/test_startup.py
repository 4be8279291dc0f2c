#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Tovrel starting on a desktop with a tray host: the main window as it first
appears (title, size, frameless, cut to the top panel), the tray icon, and a
screenshot kept in the build's test output."""
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

WIDTH, HEIGHT = ui.WIDTH, ui.COLLAPSED_HEIGHT
TOP_PANEL = ui.TOP_PANEL  # x, y, w, h within the window
TOLERANCE = 2                   # pixels, for the rounded corners' outermost rows


def setUpModule():
    harness.services().ensure()


class StartupTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program = harness.Program().start()
        try:
            cls.window = cls.program.wait_window(harness.MAIN_WINDOW_TITLE, timeout=20)
        except BaseException:
            cls.program.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.program.stop()

    def setUp(self):
        self.program.check_alive("being tested")

    def test_main_window_is_mapped_at_its_start_size(self):
        g = harness.geometry(self.window)
        self.assertTrue(g.viewable, f"map state {g.map_state}")
        self.assertEqual((g.width, g.height), (WIDTH, HEIGHT))
        self.assertEqual(harness.window_name(self.window), "MP3 Tovrel")

    def test_main_window_asks_for_no_frame(self):
        # Motif hints: flags bit 1 says "decorations given", and the decorations are none.
        values = harness.window_property(self.window, "_MOTIF_WM_HINTS")
        self.assertTrue(values, "no _MOTIF_WM_HINTS on the main window")
        self.assertTrue(values[0] & 2, f"decorations not set in {list(values)}")
        self.assertEqual(values[2], 0, f"window asks for decorations: {list(values)}")

    def test_window_is_shaped_to_the_top_panel(self):
        s = harness.shape(self.window)
        self.assertTrue(s.shaped, "the main window has no X shape")
        box = harness.visible_shape_bbox(self.window)
        self.assertIsNotNone(box, "nothing of the shape lies inside the window")
        for got, want, what in zip(box, TOP_PANEL, ("x", "y", "width", "height")):
            self.assertLessEqual(abs(got - want), TOLERANCE,
                                 f"visible shape {box} vs top panel {TOP_PANEL}: {what}")

    def test_corners_outside_the_panel_are_cut_away(self):
        rects = harness.shape_rectangles(self.window)

        def inside(x, y):
            return any(rx <= x < rx + rw and ry <= y < ry + rh for rx, ry, rw, rh in rects)

        x, y, w, h = TOP_PANEL
        self.assertTrue(inside(x + w // 2, y + h // 2), "panel centre is not in the shape")
        self.assertFalse(inside(5, 5), "window corner outside the panel is in the shape")
        # Rounded corners (radius 10): the panel's very corner pixel is cut.
        self.assertFalse(inside(x, y), "top-left corner of the panel is not rounded")
        self.assertFalse(inside(x + w - 1, y + h - 1), "bottom-right corner is not rounded")

    def test_tray_icon_is_docked(self):
        harness.wait_until(lambda: harness.tray_icon_docked(self.program.pid), 10,
                           "tovrel's icon in the tray")

    def test_screenshot_shows_the_panel_and_not_the_cut_corners(self):
        out = harness.test_output_dir("startup")
        path = harness.screenshot(out / "startup.png")
        print(f"\n  screenshot: {path}", file=sys.stderr)
        harness.screenshot(out / "main-window.png", window=self.window)
        image = harness.Image(path)
        g = harness.geometry(self.window)
        desktop = image.pixel(0, image.height - 1)  # bottom-left: nothing is there
        self.assertEqual(image.pixel(g.x + 2, g.y + 2), desktop,
                         "the desktop should show through the cut-away corner")
        x, y, w, h = TOP_PANEL
        inside = [image.pixel(g.x + x + w * i // 8, g.y + y + h * j // 8)
                  for i in range(1, 8) for j in range(1, 8)]
        self.assertTrue(any(p != desktop for p in inside), "the panel is not drawn")

    def test_program_keeps_running(self):
        self.assertIsNone(self.program.wait_exit(timeout=1), self.program.proc.describe())


if __name__ == "__main__":
    unittest.main(verbosity=2)
