#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A plain X client used to check the e2e helpers without Tovrel itself.

It opens one window (optionally shaped, optionally docked into the system
tray over XEmbed), then prints one line per input event it receives:

    READY <window id>
    DOCKED <parent window id>          (tray mode, when the tray reparents us)
    ButtonPress <button> <x> <y>
    ButtonRelease <button> <x> <y>
    KeyPress <keysym name>
    Motion <x> <y>

Run:  probe_window.py --name NAME --geometry WxH+X+Y [--shape x,y,w,h ...] [--tray]
"""
import argparse
import os
import sys

import Xlib.display
import Xlib.error
import Xlib.protocol.event
from Xlib import X, XK, Xatom
from Xlib.ext import shape

# Keysym names as X prints them ("Escape", "a"); the first name of a keysym wins.
KEYSYM_NAMES = {}
for _name, _sym in vars(XK).items():
    if _name.startswith("XK_"):
        KEYSYM_NAMES.setdefault(_sym, _name[3:])


def parse_geometry(text):
    size, _, rest = text.partition("+")
    w, h = (int(v) for v in size.split("x"))
    x, y = (int(v) for v in rest.split("+")) if rest else (0, 0)
    return x, y, w, h


def dock(d, win):
    """Ask the tray host to take win in (system tray protocol, XEmbed); False if none runs."""
    xembed_info = d.intern_atom("_XEMBED_INFO")
    win.change_property(xembed_info, xembed_info, 32, [0, 1])  # version 0, XEMBED_MAPPED
    owner = d.get_selection_owner(d.intern_atom("_NET_SYSTEM_TRAY_S0"))
    if not owner:
        return False
    request_dock = Xlib.protocol.event.ClientMessage(
        window=owner, client_type=d.intern_atom("_NET_SYSTEM_TRAY_OPCODE"),
        data=(32, [X.CurrentTime, 0, win.id, 0, 0]))  # 0: SYSTEM_TRAY_REQUEST_DOCK
    d.send_event(owner, request_dock)
    return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--name", required=True)
    ap.add_argument("--geometry", default="200x100+50+50")
    ap.add_argument("--shape", action="append", default=[],
                    help="x,y,w,h rectangle of the bounding shape (repeatable)")
    ap.add_argument("--tray", action="store_true", help="dock into the system tray")
    args = ap.parse_args()

    try:
        d = Xlib.display.Display()
    except Xlib.error.DisplayError:
        print("ERROR cannot open display", flush=True)
        return 2
    root = d.screen().root
    x, y, w, h = parse_geometry(args.geometry)
    win = root.create_window(
        x, y, w, h, 0, X.CopyFromParent, background_pixel=0x3366cc, border_pixel=0,
        event_mask=X.KeyPressMask | X.ButtonPressMask | X.ButtonReleaseMask
        | X.PointerMotionMask | X.ExposureMask | X.StructureNotifyMask)
    win.set_wm_name(args.name)
    win.change_property(d.intern_atom("_NET_WM_PID"), Xatom.CARDINAL, 32, [os.getpid()])
    if args.shape:
        rects = [tuple(int(v) for v in rect.split(",")) for rect in args.shape]
        win.shape_rectangles(shape.SO.Set, shape.SK.Bounding, X.Unsorted, 0, 0, rects)

    if args.tray:
        if not dock(d, win):
            print("ERROR no tray host", flush=True)
            return 3
    else:
        win.map()
    d.flush()
    print(f"READY {win.id}", flush=True)

    while True:
        ev = d.next_event()
        if ev.type in (X.ButtonPress, X.ButtonRelease):
            kind = "ButtonPress" if ev.type == X.ButtonPress else "ButtonRelease"
            print(f"{kind} {ev.detail} {ev.event_x} {ev.event_y}", flush=True)
        elif ev.type == X.KeyPress:
            sym = d.keycode_to_keysym(ev.detail, 0)
            print(f"KeyPress {KEYSYM_NAMES.get(sym, sym)}", flush=True)
        elif ev.type == X.MotionNotify:
            print(f"Motion {ev.event_x} {ev.event_y}", flush=True)
        elif ev.type == X.ReparentNotify and ev.parent.id != root.id:
            print(f"DOCKED {ev.parent.id}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
