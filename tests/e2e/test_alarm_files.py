#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The alarm rings whatever became of the chosen file. One program run, one alarm after
another, each file chosen through the Open dialog: an empty file, a file on a path with
spaces, non-ASCII letters and a backslash in its name, random bytes, a text file named
.mp3, files that start like a WAVE or an MP3 and are broken after that, an unreadable file, a
file whose folder is removed after it was chosen, one replaced by another sound, one
deleted; the last one is ended by SIGTERM while it rings.

Where the file cannot be played the built-in 880 Hz tone must be heard at the sink,
where it can the file's own tone (440 or 660 Hz)."""
import shutil
import signal
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import rings  # noqa: E402
from rings import BUILT_IN_TONE_HZ, FILE_HZ, OTHER_FILE_HZ  # noqa: E402


def setUpModule():
    harness.services().ensure()


class AlarmFilesTest(unittest.TestCase):
    def setUp(self):
        self.out = harness.test_output_dir("alarm_files")
        self.prefix = rings.cannot_read_as_this_user()
        if self.prefix is None:
            print("\n  a mode 000 file stays readable here: that round is left out",
                  file=sys.stderr)
        self.clock = harness.FakeClock(f"{rings.DAY} 23:58:00")
        binary = harness.tovrel_bin()
        if self.prefix:
            self.program = harness.Program(binary=shutil.which(self.prefix[0]),
                                           args=[*self.prefix[1:], binary.resolve()],
                                           env=dict(self.clock.env(), **rings.LOCALE))
        else:
            self.program = harness.Program(env=dict(self.clock.env(), **rings.LOCALE))
        self.program.start()
        self.addCleanup(self.program.stop)
        self.win = self.program.wait_window()

    def files(self):
        base = harness.new_dir("files")
        tone = harness.make_mp3(2.0, FILE_HZ)
        other = harness.make_mp3(2.0, OTHER_FILE_HZ, name="other")
        odd_dir = base / "Wecker Töne" / "früh morgens"
        odd_dir.mkdir(parents=True)
        f = {
            "empty": rings.write_bytes(base / "plain" / "ä b.mp3", b""),
            "odd-name": odd_dir / "Wecker\\ä b.mp3",
            "random": rings.write_bytes(base / "plain" / "noise.mp3", rings.random_bytes(20000, 1)),
            "text": rings.write_bytes(base / "plain" / "notes.mp3",
                                      "Einkaufen: Milch, Brot.\nTermine: keine.\n".encode() * 50),
            "broken-wave": rings.write_bytes(base / "plain" / "broken.mp3", rings.broken_wave()),
            "mp3-lookalike": rings.write_bytes(base / "plain" / "garbled.mp3", rings.mp3_lookalike()),
            "unreadable": rings.write_bytes(base / "plain" / "locked.mp3", tone.read_bytes()),
            "folder-gone": rings.write_bytes(base / "stick" / "wake.mp3", tone.read_bytes()),
            "replaced": rings.write_bytes(base / "plain" / "replaced.mp3", tone.read_bytes()),
            "deleted": rings.write_bytes(base / "plain" / "deleted.mp3", tone.read_bytes()),
        }
        shutil.copyfile(tone, f["odd-name"])
        f["unreadable"].chmod(0)
        self.other = other
        return f

    def test_each_file_rings_the_file_or_the_built_in_tone(self):
        files = self.files()
        rec = harness.Recorder("alarms", rate=rings.RATE, out_dir=self.out).start()
        self.addCleanup(rec.stop)
        r = rings.Rounds(self, self.program, self.win, self.clock, rec)
        labels = {}

        def replace():
            new = files["replaced"].with_suffix(".new")
            shutil.copyfile(self.other, new)
            new.replace(files["replaced"])

        plan = [
            ("empty", BUILT_IN_TONE_HZ, None),
            ("random", BUILT_IN_TONE_HZ, None),
            ("odd-name", FILE_HZ, None),  # shows what "empty" showed: not right after it
            ("text", BUILT_IN_TONE_HZ, None),
            ("broken-wave", BUILT_IN_TONE_HZ, None),
            ("mp3-lookalike", BUILT_IN_TONE_HZ, None),
            ("unreadable", BUILT_IN_TONE_HZ, None),
            ("folder-gone", BUILT_IN_TONE_HZ,
             lambda: shutil.rmtree(files["folder-gone"].parent)),
            ("replaced", OTHER_FILE_HZ, replace),
            ("deleted", BUILT_IN_TONE_HZ, lambda: files["deleted"].unlink()),
        ]
        if self.prefix is None:
            plan = [p for p in plan if p[0] != "unreadable"]
        try:
            for name, hz, after in plan:
                last = name == plan[-1][0]
                rnd = r.run(name, files[name], hz, after_choice=after, switch_off=not last)
                labels[name] = rnd.label
            # Ended from outside while the tone rings.
            tray_before = harness.tray_icon_docked(self.program.pid)
            term_sent = time.monotonic()
            self.program.proc.send_signal(signal.SIGTERM)
            code = self.program.wait_exit(10)
            ended = time.monotonic()
            tray_after = harness.tray_icon_docked(self.program.pid)
            time.sleep(2.2)  # a whole cycle of the tone
        except harness.HarnessError:
            if self.program.alive():
                rings.backtrace(self.program.pid, self.out)
            raise
        finally:
            rec.stop()

        timings = []
        for rnd in r.rounds:
            with self.subTest(rnd.name):
                delay = rings.check_round(self, rec, rnd)
                timings.append(f"{rnd.name} {delay * 1000:.0f} ms")
        print("\n  minute -> first sound at the sink: " + ", ".join(timings), file=sys.stderr)

        with self.subTest("the label shows the odd file's name after its last separator"):
            # Folders are stripped at "\\" as well as "/": "Wecker\\ä b.mp3" shows "ä b",
            # the very pixels of the plain "ä b.mp3".
            ref, odd = rings.label_ink_of(labels["empty"]), rings.label_ink_of(labels["odd-name"])
            self.assertTrue(any(ref) and any(odd), "a name label without any text")
            self.assertEqual(ref, odd, "the label does not read \"ä b\" (see the screenshots "
                             f"odd-name-1-chosen-label.png in {self.out})")

        with self.subTest("without a portal or a power manager, one line says so"):
            said = [line for line in self.program.stderr_text().splitlines()
                    if "cannot be kept from suspending" in line]
            self.assertEqual(len(said), 1, self.program.stderr_text())

        with self.subTest("SIGTERM while ringing"):
            self.assertEqual(code, 0, self.program.proc.describe())
            print(f"  SIGTERM -> exit {(ended - term_sent) * 1000:.0f} ms", file=sys.stderr)
            self.assertTrue(tray_before, "no tray icon before the SIGTERM")
            self.assertFalse(tray_after, "the tray icon stayed after the program ended")
            after = rings.at(rec, ended) + rings.SILENCE_LIMIT
            self.assertIsNone(rec.first_sound(after=after),
                              f"sound after the end: {rings.heard_text(rec, after, rec.duration())}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
