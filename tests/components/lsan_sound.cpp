// SPDX-License-Identifier: GPL-3.0-or-later
//
// Linked into the tests that play through the alarm player. GStreamer's
// pulse elements keep their PulseAudio connections in globals that are
// never closed, and the operations pending on them are reported as leaks
// at exit. libpulse recycles its operation objects, so such a report can
// carry the allocation stack of any earlier libpulse user, ours included:
// only the libraries can be named. The click sound's own use of libpulse is
// leak-checked without this, in a test program of its own.

extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpulse.so.0\n"
           "leak:libgstpulseaudio.so\n";
}
