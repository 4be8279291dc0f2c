#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Tovrel on a normal and on a double-density screen (QT_SCALE_FACTOR 1 and 2): both
windows at the matching size, drawn from the matching pictures (the "@2x" ones at
ratio 2), and cut to their panels one device pixel at a time, so that the rounded
corners follow the painted outline and the skin's white surround never shows.
Screenshots of both windows at both ratios are kept in the build's test output."""
import math
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

LOCALE = {"LANG": "C", "LC_ALL": "C"}
TOP_PANEL = ui.TOP_PANEL              # both windows, in window pixels at ratio 1
SETTINGS_PANEL = ui.SETTINGS_PANEL
# The outline is painted one pixel wide on a radius of 10, half a pixel inside the
# panel's rectangle: its outer edge, which the window's shape follows, has 10.5.
OUTER_RADIUS = 10.5
PAPER = 0xE8                          # all three channels at least this: the surround
BARE_PATCH = (40, 100, 16, 12)        # plain panel face, left of the display


def setUpModule():
    harness.services().ensure()


def scaled(rect, ratio):
    return tuple(v * ratio for v in rect)


def edge_spans(rect, ratio):
    """{device row: (left, right)} of a rounded panel's outer edge, as real numbers."""
    x, y, w, h = (v * ratio for v in rect)
    radius = OUTER_RADIUS * ratio
    spans = {}
    for row in range(math.floor(y), math.ceil(y + h)):
        centre = row + 0.5
        if not y <= centre <= y + h:
            continue
        dy = max(y + radius - centre, centre - (y + h - radius), 0.0)
        inset = radius - math.sqrt(max(radius * radius - dy * dy, 0.0))
        spans[row] = (x + inset, x + w - inset)
    return spans


def shape_spans(win):
    """{row: [(first, last), ...]} of the window's shape, in device pixels."""
    rows = {}
    for x, y, w, h in harness.shape_rectangles(win):
        for row in range(y, y + h):
            rows.setdefault(row, []).append((x, x + w - 1))
    merged = {}
    for row, spans in rows.items():
        out = []
        for a, b in sorted(spans):
            if out and a <= out[-1][1] + 1:
                out[-1] = (out[-1][0], max(out[-1][1], b))
            else:
                out.append((a, b))
        merged[row] = out
    return merged


class HighDensityTest(unittest.TestCase):
    def start(self, ratio):
        self.out = harness.test_output_dir("hidpi")
        program = harness.Program(env=dict(LOCALE, QT_SCALE_FACTOR=str(ratio))).start()
        self.addCleanup(program.stop)

        def main_window():
            program.check_alive("waiting for the main window")
            for w in program.windows(harness.MAIN_WINDOW_TITLE):
                if harness.geometry(w).width == ui.WIDTH * ratio:
                    return w
            return None
        return program, harness.wait_until(main_window, 20, f"the main window at ratio {ratio}")

    def check_shape(self, win, panels, ratio, what):
        """Each shown row of the window is one panel's row, within a device pixel of
        the painted outline's edge; rows outside the panels show nothing."""
        g = harness.geometry(win)
        shown = {row: spans for row, spans in shape_spans(win).items() if 0 <= row < g.height}
        wanted = {}
        for panel in panels:
            for row, span in edge_spans(panel, ratio).items():
                if row < g.height:
                    wanted[row] = span
        self.assertEqual(sorted(shown), sorted(wanted), f"{what}: rows of the shape")
        off = []
        for row, (left, right) in wanted.items():
            spans = shown[row]
            if len(spans) != 1 or abs(spans[0][0] - left) > 1 or abs(spans[0][1] + 1 - right) > 1:
                off.append(f"row {row}: shape {spans}, outline {left:.2f}..{right:.2f}")
        self.assertEqual(off, [], f"{what} at ratio {ratio}: shape off the outline")
        return shown

    def check_no_paper(self, image, shown, what):
        """The pixels along each shown row's ends are the panel's, never the surround."""
        paper = []
        for row, spans in shown.items():
            for a, b in spans:
                for x in [*range(a, min(a + 4, b + 1)), *range(max(b - 3, a), b + 1)]:
                    if min(image.pixel(x, row)) >= PAPER:
                        paper.append((x, row))
        self.assertEqual(paper, [], f"{what}: the skin's white surround shows")

    def check_pictures(self, image, ratio, pictures):
        """Each element shows one of its pictures, in the version for the ratio."""
        suffix = "@2x" if ratio == 2 else ""
        for names, rect in pictures:
            names = [name + suffix for name in names]
            self.assertIn(ui.picture_of(image, scaled(rect, ratio), names), names,
                          f"{names} at ratio {ratio}")

    def run_ratio(self, ratio):
        program, win = self.start(ratio)
        g = harness.geometry(win)
        self.assertEqual((g.width, g.height), (ui.WIDTH * ratio, ui.COLLAPSED_HEIGHT * ratio))
        # Room on the screen for the window with its settings panel open.
        harness.run(["xdotool", "windowmove", win, 40, 40])
        harness.wait_until(lambda: harness.geometry(win).y == 40, 5, "the window to move")
        ui.click_button(win, scaled(ui.SETTINGS_BUTTON, ratio))
        ui.wait_height(win, ui.EXPANDED_HEIGHT * ratio)
        harness.move_to(win, *scaled((200, 180), ratio))  # off every button
        time.sleep(0.3)  # the hover pictures give way
        shown = self.check_shape(win, (TOP_PANEL, SETTINGS_PANEL), ratio, "main window")
        image = harness.Image(harness.screenshot(self.out / f"main-ratio{ratio}.png", window=win))
        self.check_no_paper(image, shown, f"main window at ratio {ratio}")
        background = ui.png_pixels(ui.ASSETS / f"FrmTovrel{'@2x' if ratio == 2 else ''}.png",
                                   scaled(BARE_PATCH, ratio))
        self.assertEqual(ui.region_pixels(image, scaled(BARE_PATCH, ratio)), background,
                         "the background is not the picture for this ratio")
        self.check_pictures(image, ratio, [(["BrowseU"], ui.BROWSE_BUTTON),
                                           (["AlarmUOFF"], ui.ALARM_BUTTON),
                                           (["SnoozeU"], ui.SNOOZE_BUTTON)])

        ui.press_glyph(win, scaled(ui.CLOSE_GLYPH, ratio))
        about = program.wait_window(ui.ABOUT_TITLE)
        ag = harness.geometry(about)
        self.assertEqual((ag.width, ag.height), scaled(ui.ABOUT_SIZE, ratio))
        harness.move_to(about, *scaled((20, 180), ratio))
        shown = self.check_shape(about, (TOP_PANEL,), ratio, "About window")
        image = harness.Image(harness.screenshot(self.out / f"about-ratio{ratio}.png", window=about))
        self.check_no_paper(image, shown, f"About window at ratio {ratio}")
        self.check_pictures(image, ratio, [(["ExitU", "ExitD"], ui.EXIT_BUTTON)])
        print(f"\n  screenshots: {self.out}/main-ratio{ratio}.png, about-ratio{ratio}.png",
              file=sys.stderr)

    def test_normal_density(self):
        self.run_ratio(1)

    def test_double_density(self):
        self.run_ratio(2)


if __name__ == "__main__":
    unittest.main(verbosity=2)
