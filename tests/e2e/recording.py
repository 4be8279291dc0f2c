#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Sound for the tests: tones made as files (make_wav, make_mp3), what reaches a sink
recorded (Recorder), and the one sound analysis (Sound), which the C++ component tests
use through the command line:

    recording.py wav|mp3 PATH --seconds S --hz F [--rate R --channels C | --id3 --kbps K]
    recording.py record WAV [--device D]   until SIGINT or SIGTERM; READY once sound flows
    recording.py stats WAV [--start S] [--length L] [--sounding]   one line of JSON
"""
import argparse
import array
import json
import math
import os
import signal
import sys
import threading
import time
import wave
from pathlib import Path

from procs import HarnessError, Proc, command_line, new_dir, run, wait_until

SINK = "ci_sink"  # the null sink of the run's sound server, recorded through its monitor
SOUND = 0.02  # louder than this is sound, for the start and end of what sounds
QUIET = 0.01  # as quiet as this is a pause


def make_wav(path, seconds, hz, rate=44100, channels=1):
    run(["sox", "-n", "-r", str(rate), "-c", str(channels), "-b", "16", str(path), "synth",
         str(seconds), "sine", str(hz), "vol", "0.5"], timeout=30)
    return Path(path)


def make_mp3(seconds=2.0, hz=440, name="tone", path=None, id3=False, kbps=128):
    """An MP3 of a sine tone (half of full scale), encoded by lame at a constant bit rate,
    optionally behind an ID3v2 tag; in a new temporary folder unless path is given."""
    mp3 = Path(path) if path else new_dir("mp3") / f"{name}.mp3"
    wav = make_wav(mp3.with_suffix(".source.wav"), seconds, hz)
    run(["lame", "--quiet", "-b", str(kbps), *(["--add-id3v2", "--tt", "Alarm"] if id3 else []),
         wav, mp3], timeout=60)
    wav.unlink()
    return mp3


class Sound:
    """Mono signed 16-bit samples at `rate`. Levels are 0..1 of full scale, times seconds
    from the first sample. A stretch's level is its peak, or with freq the amplitude of
    that frequency in it (Goertzel); the tests look for their sounds by frequency, and for
    silence by peak."""

    def __init__(self, samples=None, rate=44100):
        self._samples = samples
        self.rate = rate

    @classmethod
    def from_wav(cls, path):
        try:
            with wave.open(str(path)) as w:
                if (w.getsampwidth(), w.getnchannels()) != (2, 1):
                    raise HarnessError(f"{path}: not mono with 16 bits a sample")
                data = array.array("h", w.readframes(w.getnframes()))
                rate = w.getframerate()
        except (OSError, EOFError, wave.Error) as exc:
            raise HarnessError(f"cannot read {path}: {exc}") from exc
        if sys.byteorder != "little":
            data.byteswap()
        return cls(data, rate)

    def samples(self):
        return self._samples

    def duration(self):
        return len(self.samples()) / self.rate

    def _range(self, start, end):
        s = self.samples()
        a = 0 if start is None else max(0, int(start * self.rate))
        b = len(s) if end is None else min(len(s), int(end * self.rate))
        return s[a:b]

    def _level(self, chunk, freq=None):
        if not chunk:
            return 0.0
        if freq is None:
            return max(map(abs, chunk)) / 32768
        coeff = 2.0 * math.cos(2.0 * math.pi * freq / self.rate)
        s1 = s2 = 0.0
        for v in chunk:
            s1, s2 = v + coeff * s1 - s2, s1
        power = s1 * s1 + s2 * s2 - coeff * s1 * s2
        return 2.0 * math.sqrt(max(power, 0.0)) / len(chunk) / 32768

    def _loud(self, freq, threshold, ms, after=0.0):
        """(start, end) of each window of ms milliseconds (0: of one sample) from `after`
        on whose level is above threshold, in order. The end of the recording may cut
        the last window short; it counts for a peak, not for a frequency."""
        step = max(1, int(self.rate * ms / 1000))
        s = self.samples()
        stop = len(s) if freq is None else len(s) - step + 1
        for a in range(max(0, int(after * self.rate)), stop, step):
            if self._level(s[a:a + step], freq) > threshold:
                yield a / self.rate, min(a + step, len(s)) / self.rate

    def _spans(self, freq, threshold, ms, min_gap):
        """[(start, end)] of the loud windows; gaps shorter than min_gap join."""
        spans = []
        for t0, t1 in self._loud(freq, threshold, ms):
            if spans and t0 - spans[-1][1] < min_gap:
                spans[-1] = (spans[-1][0], t1)
            else:
                spans.append((t0, t1))
        return spans

    def peak(self, start=None, end=None):
        return self._level(self._range(start, end))

    def tone_level(self, freq, start=None, end=None):
        """Amplitude of freq between two times."""
        return self._level(self._range(start, end), freq)

    def rms(self, start=None, end=None):
        """Root mean square level between two times."""
        s = self._range(start, end)
        return (sum(v * v for v in s) / len(s)) ** 0.5 / 32768 if s else 0.0

    def rough_hz(self, start=None, end=None):
        """The frequency of a pure tone with the stretch's ratio of change to level: the
        tone's own for a sine, something in between for a mixture."""
        s = self._range(start, end)
        level = sum(v * v for v in s)
        change = sum((b - a) ** 2 for a, b in zip(s, s[1:]))
        return self.rate / math.pi * math.asin(min(1.0, math.sqrt(change / level) / 2)) if level else 0.0

    def first_sound(self, threshold=SOUND, after=0.0):
        """Time of the first sample after `after` louder than threshold, or None."""
        return next((t0 for t0, _ in self._loud(None, threshold, 0, after)), None)

    def last_sound(self, threshold=SOUND):
        """Time just after the last sample louder than threshold, or None."""
        s, limit = self.samples(), threshold * 32768
        return next(((i + 1) / self.rate for i in range(len(s) - 1, -1, -1) if abs(s[i]) > limit), None)

    def first_tone(self, freq, threshold=0.05, after=0.0, ms=10):
        """Start of the first window of ms after `after` where freq is present, or None."""
        return next((t0 for t0, _ in self._loud(freq, threshold, ms, after)), None)

    def sound_spans(self, threshold=SOUND, ms=20, min_gap=0.1):
        """[(start, end)] of stretches with sound."""
        return self._spans(None, threshold, ms, min_gap)

    def tone_spans(self, freq, threshold=0.05, ms=20, min_gap=0.15):
        """[(start, end)] of stretches where freq is louder than threshold."""
        return self._spans(freq, threshold, ms, min_gap)

    def longest_pause(self, threshold=QUIET):
        """The longest stretch no louder than threshold between the first and the last
        sample louder than it, in seconds; None when there is none such."""
        limit = threshold * 32768
        loud = [i for i, v in enumerate(self.samples()) if abs(v) > limit]
        return max((b - a - 1 for a, b in zip(loud, loud[1:])), default=0) / self.rate if loud else None

    def stats(self, start=0.0, length=None, sounding=False):
        """Length, rms, peak (max), rough_hz (hz) and longest pause of a stretch: from start
        on (or, sounding, from the first sound on), length seconds long, or up to the end
        (up to the last sound). None when sounding and the recording is silent."""
        end = None if length is None else start + length
        if sounding:
            start = self.first_sound()
            if start is None:
                return None
            end = self.last_sound() if length is None else start + length
        part = Sound(self._range(start, end), self.rate)
        return {"seconds": part.duration(), "rms": part.rms(), "max": part.peak(),
                "hz": part.rough_hz(), "pause": part.longest_pause()}


class Recorder(Sound):
    """Records what reaches a sink (ci_sink) through its monitor while running.

    started_at is the time.monotonic() of the first recorded sample (to within a few
    milliseconds); times are seconds since then."""

    def __init__(self, name="recording", device=SINK + ".monitor", rate=44100, server=None,
                 out_dir=None):
        super().__init__(None, rate)
        self.device = device
        self.server = server
        base = Path(out_dir) if out_dir else new_dir("rec")
        self.raw_path = base / f"{name}.raw"
        self.wav_path = base / f"{name}.wav"
        self.proc = None
        self.started_at = None

    def start(self, timeout=10):
        env = dict(os.environ, **({"PULSE_SERVER": self.server} if self.server else {}))
        self.proc = Proc(["parecord", "--raw", "--format=s16le", "--channels=1",
                          f"--rate={self.rate}", "--latency-msec=10", "-d", self.device],
                         name="parecord", env=env, stdout_path=self.raw_path)

        def flowing():
            if not self.proc.alive():
                raise HarnessError("parecord ended\n" + self.proc.describe())
            size = self.raw_path.stat().st_size
            return (time.monotonic(), size) if size > 0 else None

        now, size = wait_until(flowing, timeout, f"audio from {self.device}", interval=0.002)
        self.started_at = now - size / (2.0 * self.rate)
        return self

    def stop(self):
        if self.proc is not None:
            self.proc.stop(sig=signal.SIGINT)
            self.proc = None
            with wave.open(str(self.wav_path), "wb") as w:
                w.setnchannels(1)
                w.setsampwidth(2)
                w.setframerate(self.rate)
                w.writeframes(self.samples().tobytes())
        return self

    def samples(self):
        if self._samples is None:
            raw = self.raw_path.read_bytes()
            self._samples = array.array("h", raw[: len(raw) - len(raw) % 2])
            if sys.byteorder != "little":
                self._samples.byteswap()
        return self._samples

    def first_sound_monotonic(self, threshold=SOUND):
        t = self.first_sound(threshold)
        return None if t is None else self.started_at + t


def _main(argv):
    ap = argparse.ArgumentParser(description="Tovrel's test sounds (see the top of this file)")
    ap.add_argument("command", choices=("wav", "mp3", "record", "stats"))
    ap.add_argument("path", help="the file made, recorded or analysed")
    ap.add_argument("--seconds", type=float)
    ap.add_argument("--hz", type=float)
    ap.add_argument("--rate", type=int, default=44100)
    ap.add_argument("--channels", type=int, default=1)
    ap.add_argument("--id3", action="store_true")
    ap.add_argument("--kbps", type=int, default=128)
    ap.add_argument("--device", default=SINK + ".monitor")
    ap.add_argument("--start", type=float, default=0.0)
    ap.add_argument("--length", type=float)
    ap.add_argument("--sounding", action="store_true")
    args = ap.parse_args(argv)
    if args.command == "wav":
        make_wav(args.path, args.seconds, args.hz, args.rate, args.channels)
    elif args.command == "mp3":
        make_mp3(args.seconds, args.hz, path=args.path, id3=args.id3, kbps=args.kbps)
    elif args.command == "stats":
        print(json.dumps(Sound.from_wav(args.path).stats(args.start, args.length, args.sounding)))
    else:
        done = threading.Event()
        for sig in (signal.SIGINT, signal.SIGTERM):
            signal.signal(sig, lambda *_: done.set())
        wav = Path(args.path)
        rec = Recorder(wav.stem, args.device, out_dir=wav.parent).start()
        print("READY", flush=True)
        done.wait()
        rec.stop().raw_path.unlink()


if __name__ == "__main__":
    command_line(_main)
