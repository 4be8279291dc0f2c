#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Tovrel as a screen reader finds it through AT-SPI: the window and its labels, image
buttons and scroll bars with their names, states and places; the clock and the alarm
status read aloud as they change (name-change events and the names read back); no
button that could be run from outside.

The test brings what a desktop with a screen reader has: a private D-Bus session bus,
the accessibility bus on it (at-spi-bus-launcher, which starts the bus and its
registry) and accessibility switched on there (org.a11y.Status IsEnabled). The
program finds them the ordinary way, through the session bus. The test itself reads
the tree with libatspi (python3-gi, gir1.2-atspi-2.0). The wall clock is faked so that
the clock's minute turns during the test."""
import os
import sys
import time
import unittest
import warnings
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import tovrel_ui as ui  # noqa: E402

BUS_LAUNCHER = os.environ.get("TOVREL_AT_SPI_BUS_LAUNCHER", "/usr/libexec/at-spi-bus-launcher")
LOCALE = {"LANG": "C", "LC_ALL": "C"}  # 24-hour time texts
START = "2026-12-08 07:29:56"
BUTTONS = ["Close", "Minimise", "Alarm", "Browse", "Snooze", "Setting"]

Atspi = GLib = Gio = None  # imported once the session bus is known


def import_gi():
    global Atspi, GLib, Gio
    import gi
    gi.require_version("Atspi", "2.0")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ImportWarning)  # gi's importer, under unittest
        from gi.repository import Atspi as atspi, GLib as glib, Gio as gio
    Atspi, GLib, Gio = atspi, glib, gio


class AccessibilityBus:
    """A private session bus with the accessibility bus registered on it, switched on."""

    def __init__(self):
        self.dbus = self.launcher = None
        self.address = self.a11y_address = None

    def start(self):
        d = harness.new_dir("a11y")
        (d / "runtime").mkdir(mode=0o700)
        self.dbus = harness.SessionBus(folder=d, user=True).start()
        self.address = self.dbus.address
        # No DISPLAY for the launcher: it would leave the bus address on the shared X
        # server's root window, where later programs would find it.
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "AT_SPI_BUS_ADDRESS")}
        env.update(DBUS_SESSION_BUS_ADDRESS=self.address, XDG_RUNTIME_DIR=str(d / "runtime"))
        self.launcher = harness.Proc([BUS_LAUNCHER, "--launch-immediately"], name="at-spi-bus-launcher",
                                     env=env)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.address
        import_gi()
        self.session = Gio.DBusConnection.new_for_address_sync(
            self.address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)

        def launched():
            if not self.launcher.alive():
                raise harness.HarnessError("at-spi-bus-launcher ended\n" + self.launcher.describe())
            return self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                             "NameHasOwner", GLib.Variant("(s)", ("org.a11y.Bus",)))[0]

        harness.wait_until(launched, 10, "org.a11y.Bus on the session bus")
        self.a11y_address = self.call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None)[0]
        # What a screen reader's start does: accessibility on for every program.
        self.call("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                  GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))))
        # The program and the test's own reader both find that bus through the session bus.
        os.environ.pop("AT_SPI_BUS_ADDRESS", None)
        Atspi.init()
        return self

    def call(self, name, path, interface, method, args):
        return self.session.call_sync(name, path, interface, method, args, None,
                                      Gio.DBusCallFlags.NONE, 5000, None).unpack()

    def stop(self):
        # The launcher's process group holds the accessibility bus and its registry.
        for proc in (self.launcher, self.dbus):
            if proc is not None:
                proc.stop()


class Events:
    """AT-SPI events of some kinds, kept as (type, role and name of the source as read when
    the event came, detail1)."""

    def __init__(self, *kinds):
        self.seen = []
        self.listener = Atspi.EventListener.new(self._heard)
        for kind in kinds:
            self.listener.register(kind)

    def _heard(self, event):
        try:
            role, name = event.source.get_role_name(), event.source.get_name()
        except GLib.Error:
            role = name = None
        self.seen.append((event.type, role, name, event.detail1))

    def pump(self, seconds=0.0):
        deadline = time.monotonic() + seconds
        context = GLib.MainContext.default()
        while True:
            while context.iteration(False):
                pass
            if time.monotonic() >= deadline:
                return
            time.sleep(0.02)

    def wait_for(self, match, timeout, what):
        def found():
            self.pump()
            return [e for e in self.seen if match(e)]
        try:
            return harness.wait_until(found, timeout, what)
        except harness.HarnessError as exc:
            raise harness.HarnessError(f"{exc}; events heard: {self.seen}") from None


def states(node):
    return {Atspi.StateType(s).value_nick for s in node.get_state_set().get_states()}


def extents(node):
    r = node.get_extents(Atspi.CoordType.SCREEN)
    return (r.x, r.y, r.width, r.height)


def children(node):
    return [node.get_child_at_index(i) for i in range(node.get_child_count())]


def tree_text(node, depth=0):
    """role 'name' [states] for the node and all below it, one per line."""
    line = f"{'  ' * depth}{node.get_role_name()} {node.get_name()!r} [{', '.join(sorted(states(node)))}]"
    return "\n".join([line] + [tree_text(c, depth + 1) for c in children(node)])


def setUpModule():
    harness.services().ensure()


class AccessibilityTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bus = AccessibilityBus()
        try:
            cls.bus.start()
        except BaseException:
            cls.bus.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.bus.stop()

    def setUp(self):
        self.out = harness.test_output_dir("accessibility")
        self.clock = harness.FakeClock(START)
        self.program = harness.Program(env=dict(self.clock.env(), **LOCALE)).start()
        self.addCleanup(self.program.stop)
        self.win = self.program.wait_window()

    def application(self, timeout=20):
        """Tovrel's node under the desktop, found by its process id."""
        def look():
            self.program.check_alive("waiting for it on the accessibility bus")
            desktop = Atspi.get_desktop(0)
            for app in children(desktop):
                try:
                    if app is not None and app.get_process_id() == self.program.pid and app.get_child_count():
                        return app
                except GLib.Error:
                    pass
            return None
        return harness.wait_until(look, timeout, "tovrel on the accessibility bus")

    def main_frame(self, app):
        frames = [c for c in children(app) if c.get_name() == harness.MAIN_WINDOW_TITLE]
        self.assertEqual(len(frames), 1, tree_text(app))
        return frames[0]

    def test_screen_reader_reads_the_window_and_follows_clock_and_alarm(self):
        events = Events("object:property-change:accessible-name", "object:state-changed:showing")
        app = self.application()
        frame = self.main_frame(app)
        tree = tree_text(app)
        (self.out / "tree.txt").write_text(tree + "\n")
        print(f"\naccessible tree of tovrel as AT-SPI shows it:\n{tree}", file=sys.stderr)

        self.assertEqual(app.get_name(), "MP3 Tovrel")
        self.assertEqual(frame.get_role_name(), "frame")
        kids = children(frame)
        buttons = {c.get_name(): c for c in kids if c.get_role_name() == "push button"}
        labels = {c.get_description(): c for c in kids if c.get_role_name() == "label"}
        bars = {c.get_name(): c for c in kids if c.get_role_name() == "scroll bar"}
        self.assertEqual([c.get_name() for c in kids if c.get_role_name() == "push button"], BUTTONS)
        self.assertEqual(set(bars), {"Alarm time", "Snooze minutes"})

        # Places on the screen: the window's own plus the element's.
        g = harness.geometry(self.win)
        x, y, w, h = ui.ALARM_BUTTON
        self.assertEqual(extents(buttons["Alarm"]), (g.x + x, g.y + y, w, h))
        x, y, w, h = ui.CLOCK_LABEL
        self.assertEqual(extents(labels["Current time"]), (g.x + x, g.y + y, w, h))

        # States: Snooze waits for the alarm; Browse is on the folded-away panel.
        self.assertNotIn("enabled", states(buttons["Snooze"]))
        self.assertIn("enabled", states(buttons["Setting"]))
        self.assertIn("showing", states(buttons["Alarm"]))
        self.assertNotIn("showing", states(buttons["Browse"]))

        # Reading only: nothing here offers an action.
        for node in list(buttons.values()) + list(labels.values()):
            self.assertNotIn("Action", node.get_interfaces(), node.get_name())

        # The bars' values.
        self.assertEqual(bars["Snooze minutes"].get_current_value(), 5)
        self.assertEqual(bars["Alarm time"].get_current_value(), 0)

        # The minute turns: the clock is read aloud anew.
        clock = labels["Current time"]
        self.assertEqual(clock.get_name(), "07:29")
        events.wait_for(lambda e: e[0] == "object:property-change:accessible-name" and e[1] == "label"
                        and e[2] == "07:30", 15, "the clock's name change to 07:30")
        self.assertEqual(clock.get_name(), "07:30")

        # Switching the alarm on through the window: the panel opens (Browse shows),
        # a file is chosen, Alarm is pressed: the status reads On.
        status = labels["Alarm status"]
        self.assertEqual(status.get_name(), "Off")
        ui.open_settings(self.win)
        events.wait_for(lambda e: e[0] == "object:state-changed:showing" and e[2] == "Browse" and e[3] == 1,
                        5, "Browse to be announced as showing")
        self.assertIn("showing", states(buttons["Browse"]))
        ui.choose_file(self.program, self.win, harness.make_mp3(1.0, name="morning"))
        events.wait_for(lambda e: e[0] == "object:property-change:accessible-name" and e[2] == "morning",
                        5, "the file label's name change")
        self.assertEqual(labels["Alarm sound file"].get_name(), "morning")
        ui.click_button(self.win, ui.ALARM_BUTTON)
        events.wait_for(lambda e: e[0] == "object:property-change:accessible-name" and e[2] == "On",
                        5, "the alarm status's name change to On")
        self.assertEqual(status.get_name(), "On")
        self.program.check_alive("after being read")

    def test_about_window_reads_its_texts_and_exit(self):
        app = self.application()
        main = self.main_frame(app)
        ui.press_glyph(self.win, ui.CLOSE_GLYPH)
        about_win = self.program.wait_window(ui.ABOUT_TITLE)

        def about_frame():
            frames = [c for c in children(app) if c.get_name() == ui.ABOUT_TITLE]
            return frames[0] if frames and "showing" in states(frames[0]) else None

        frame = harness.wait_until(about_frame, 10, "the About frame to show")
        kids = children(frame)
        self.assertEqual([(c.get_role_name(), c.get_name()) for c in kids][0], ("label", "Version 1.01"))
        exits = [c for c in kids if c.get_role_name() == "push button"]
        self.assertEqual([c.get_name() for c in exits], ["Exit"])
        self.assertTrue({"enabled", "showing"} <= states(exits[0]), tree_text(frame))
        self.assertNotIn("Action", exits[0].get_interfaces())
        g = harness.geometry(about_win)
        x, y, w, h = ui.EXIT_BUTTON
        self.assertEqual(extents(exits[0]), (g.x + x, g.y + y, w, h))
        harness.wait_until(lambda: "showing" not in states(main), 5, "the main frame to hide")


if __name__ == "__main__":
    unittest.main()
