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

Only the Python standard library is used (ctypes on libX11/libXext).
Run:  probe_window.py --name NAME --geometry WxH+X+Y [--shape x,y,w,h ...] [--tray]
"""
import argparse
import ctypes
import ctypes.util
import os
import sys

Window = ctypes.c_ulong
Atom = ctypes.c_ulong


class XButtonEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", Window), ("root", Window), ("subwindow", Window),
                ("time", ctypes.c_ulong), ("x", ctypes.c_int), ("y", ctypes.c_int),
                ("x_root", ctypes.c_int), ("y_root", ctypes.c_int),
                ("state", ctypes.c_uint), ("button", ctypes.c_uint),
                ("same_screen", ctypes.c_int)]


class XReparentEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("event", Window), ("window", Window), ("parent", Window),
                ("x", ctypes.c_int), ("y", ctypes.c_int),
                ("override_redirect", ctypes.c_int)]


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", Window), ("message_type", Atom),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xbutton", XButtonEvent),
                ("xkey", XButtonEvent),  # same layout; "button" holds the keycode
                ("xreparent", XReparentEvent),
                ("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class XRectangle(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort)]


KeyPressMask, ButtonPressMask, ButtonReleaseMask = 1 << 0, 1 << 2, 1 << 3
PointerMotionMask, ExposureMask, StructureNotifyMask = 1 << 6, 1 << 15, 1 << 17
KeyPress, ButtonPress, ButtonRelease, MotionNotify = 2, 4, 5, 6
ReparentNotify, ClientMessage = 21, 33
XA_CARDINAL, PropModeReplace = 6, 0


def load():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    xext = ctypes.CDLL(ctypes.util.find_library("Xext") or "libXext.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = Window
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XCreateSimpleWindow.restype = Window
    x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_int,
                                        ctypes.c_uint, ctypes.c_uint, ctypes.c_uint,
                                        ctypes.c_ulong, ctypes.c_ulong]
    x11.XInternAtom.restype = Atom
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XGetSelectionOwner.restype = Window
    x11.XGetSelectionOwner.argtypes = [ctypes.c_void_p, Atom]
    x11.XStoreName.argtypes = [ctypes.c_void_p, Window, ctypes.c_char_p]
    x11.XSelectInput.argtypes = [ctypes.c_void_p, Window, ctypes.c_long]
    x11.XMapWindow.argtypes = [ctypes.c_void_p, Window]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(XEvent)]
    x11.XChangeProperty.argtypes = [ctypes.c_void_p, Window, Atom, Atom, ctypes.c_int,
                                    ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
    x11.XLookupKeysym.restype = ctypes.c_ulong
    x11.XLookupKeysym.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XKeysymToString.restype = ctypes.c_char_p
    x11.XKeysymToString.argtypes = [ctypes.c_ulong]
    xext.XShapeCombineRectangles.argtypes = [ctypes.c_void_p, Window, ctypes.c_int,
                                             ctypes.c_int, ctypes.c_int,
                                             ctypes.POINTER(XRectangle), ctypes.c_int,
                                             ctypes.c_int, ctypes.c_int]
    return x11, xext


def parse_geometry(text):
    size, _, rest = text.partition("+")
    w, h = (int(v) for v in size.split("x"))
    x, y = (int(v) for v in rest.split("+")) if rest else (0, 0)
    return x, y, w, h


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--name", required=True)
    ap.add_argument("--geometry", default="200x100+50+50")
    ap.add_argument("--shape", action="append", default=[],
                    help="x,y,w,h rectangle of the bounding shape (repeatable)")
    ap.add_argument("--tray", action="store_true", help="dock into the system tray")
    args = ap.parse_args()

    x11, xext = load()
    dpy = x11.XOpenDisplay(None)
    if not dpy:
        print("ERROR cannot open display", flush=True)
        return 2
    root = x11.XDefaultRootWindow(dpy)
    x, y, w, h = parse_geometry(args.geometry)
    win = x11.XCreateSimpleWindow(dpy, root, x, y, w, h, 0, 0, 0x3366cc)
    x11.XStoreName(dpy, win, args.name.encode())
    pid = ctypes.c_ulong(os.getpid())
    x11.XChangeProperty(dpy, win, x11.XInternAtom(dpy, b"_NET_WM_PID", 0), XA_CARDINAL,
                        32, PropModeReplace, ctypes.byref(pid), 1)
    x11.XSelectInput(dpy, win, KeyPressMask | ButtonPressMask | ButtonReleaseMask
                     | PointerMotionMask | ExposureMask | StructureNotifyMask)
    if args.shape:
        rects = (XRectangle * len(args.shape))()
        for i, rect in enumerate(args.shape):
            rx, ry, rw, rh = (int(v) for v in rect.split(","))
            rects[i] = XRectangle(rx, ry, rw, rh)
        xext.XShapeCombineRectangles(dpy, win, 0, 0, 0, rects, len(args.shape), 0, 0)

    if args.tray:
        xembed_info = (ctypes.c_ulong * 2)(0, 1)  # version 0, XEMBED_MAPPED
        atom = x11.XInternAtom(dpy, b"_XEMBED_INFO", 0)
        x11.XChangeProperty(dpy, win, atom, atom, 32, PropModeReplace, xembed_info, 2)
        owner = x11.XGetSelectionOwner(dpy, x11.XInternAtom(dpy, b"_NET_SYSTEM_TRAY_S0", 0))
        if not owner:
            print("ERROR no tray host", flush=True)
            return 3
        ev = XEvent()
        ev.xclient.type = ClientMessage
        ev.xclient.window = owner
        ev.xclient.message_type = x11.XInternAtom(dpy, b"_NET_SYSTEM_TRAY_OPCODE", 0)
        ev.xclient.format = 32
        ev.xclient.data[0] = 0      # CurrentTime
        ev.xclient.data[1] = 0      # SYSTEM_TRAY_REQUEST_DOCK
        ev.xclient.data[2] = win
        x11.XSendEvent(dpy, owner, 0, 0, ctypes.byref(ev))
    else:
        x11.XMapWindow(dpy, win)
    x11.XFlush(dpy)
    print(f"READY {win}", flush=True)

    ev = XEvent()
    while True:
        x11.XNextEvent(dpy, ctypes.byref(ev))
        t = ev.type
        if t in (ButtonPress, ButtonRelease):
            b = ev.xbutton
            kind = "ButtonPress" if t == ButtonPress else "ButtonRelease"
            print(f"{kind} {b.button} {b.x} {b.y}", flush=True)
        elif t == KeyPress:
            sym = x11.XLookupKeysym(ctypes.byref(ev), 0)
            name = x11.XKeysymToString(sym)
            print(f"KeyPress {name.decode() if name else sym}", flush=True)
        elif t == MotionNotify:
            print(f"Motion {ev.xbutton.x} {ev.xbutton.y}", flush=True)
        elif t == ReparentNotify and ev.xreparent.parent != root:
            print(f"DOCKED {ev.xreparent.parent}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
