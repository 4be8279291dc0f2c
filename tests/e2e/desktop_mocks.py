#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Mocked desktop services on the run's session bus (python3-dbusmock): the XDG desktop
portal's Inhibit and the session power manager that KDE and Xfce serve.

    portal()            answers Inhibit with a new request object, whose Close is logged
    portal(answer=False)  takes the Inhibit call and never answers it
    power_manager()     answers Inhibit with cookies 1, 2, ... and logs UnInhibit
    mock.calls(method, path=None)   the arguments of each call so far, in order
"""
import os

import dbus

import harness

PORTAL = ("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
          "org.freedesktop.portal.Inhibit")
POWER_MANAGER = ("org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit",
                 "org.freedesktop.PowerManagement.Inhibit")
MOCK_IFACE = "org.freedesktop.DBus.Mock"


class Mock:
    def __init__(self, name, path, interface, methods):
        address = os.environ.get("DBUS_SESSION_BUS_ADDRESS", "")
        if not address or address.startswith("disabled:"):
            harness.lacking("a session bus of the run's own (scripts/test starts one)")
        self.name, self.path = name, path
        self.proc = harness.Proc(["/usr/bin/python3", "-m", "dbusmock", name, path, interface],
                                 name="dbusmock")
        self.bus = dbus.SessionBus()
        harness.wait_until(lambda: self.bus.name_has_owner(name) or not self.proc.alive(), 10,
                           f"{name} on the session bus")
        self.mock(path).AddMethods("", methods)

    def mock(self, path):
        return dbus.Interface(self.bus.get_object(self.name, path), MOCK_IFACE)

    def calls(self, method, path=None):
        return [list(args) for _, args in self.mock(path or self.path).GetMethodCalls(method)]

    def stop(self):
        self.proc.stop()


def portal(answer=True):
    """The portal's Inhibit: a request object a call, or no answer at all."""
    code = ("self.requests = getattr(self, 'requests', 0) + 1\n"
            "ret = dbus.ObjectPath(f'/org/freedesktop/portal/desktop/request/1_1/t{self.requests}')\n"
            "self.AddObject(ret, 'org.freedesktop.portal.Request', {}, [('Close', '', '', '')])"
            if answer else "import time\ntime.sleep(3600)")
    return Mock(*PORTAL, [("Inhibit", "sua{sv}", "o", code)])


def power_manager():
    return Mock(*POWER_MANAGER, [
        ("Inhibit", "ss", "u",
         "self.cookies = getattr(self, 'cookies', 0) + 1\nret = dbus.UInt32(self.cookies)"),
        ("UnInhibit", "u", "", "")])
