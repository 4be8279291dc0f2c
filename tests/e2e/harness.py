#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Helpers for Tovrel's end-to-end tests (Python 3, python3-xlib, python3-pil), one
module a concern, all reachable as harness.NAME: procs (waiting, scratch folders,
processes), desktop (the test desktop: services(), and extra X servers, tray hosts,
sound servers and buses), display (windows, input, pictures), program (Program and
FakeClock), recording (tones, Recorder and the sound analysis).

The tests drive the real program on that desktop and record the null sink ci_sink
through its monitor; the user's display, sound server and bus are never used.
"""
from desktop import *  # noqa: F401,F403
from display import *  # noqa: F401,F403
from procs import *  # noqa: F401,F403
from program import *  # noqa: F401,F403
from recording import *  # noqa: F401,F403
