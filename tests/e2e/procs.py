#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What every part of the test harness stands on: waiting, scratch folders, and the
processes it starts (Proc), each stopped by its PID when the test process ends.

Timeouts scale with TOVREL_E2E_TIME_SCALE (e.g. 3 for a slow machine)."""
import atexit
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TIME_SCALE = float(os.environ.get("TOVREL_E2E_TIME_SCALE", "1") or 1)


class HarnessError(AssertionError):
    """A failed expectation of the harness; reported by unittest as a test failure."""


def lacking(what):
    """Skip a test that needs something this machine lacks, saying what; in CI
    (CI=true), where scripts/test has installed and started everything, fail it."""
    if os.environ.get("CI") == "true":
        raise HarnessError(f"{what} (CI must have everything)")
    raise unittest.SkipTest(what)


def scaled(seconds):
    return seconds * TIME_SCALE


def wait_until(predicate, timeout, what, interval=0.05):
    """Poll predicate() until it returns a true value, and return that value."""
    deadline = time.monotonic() + scaled(timeout)
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError(f"timed out after {scaled(timeout):.1f} s waiting for {what}")
        time.sleep(interval)


# --------------------------------------------------------------------------- files

_scratch = None


def new_dir(prefix):
    """A new folder in this test process's scratch folder (removed at exit unless
    TOVREL_E2E_KEEP=1)."""
    global _scratch
    _scratch = _scratch or Path(tempfile.mkdtemp(prefix="tovrel-e2e."))
    return Path(tempfile.mkdtemp(prefix=prefix + ".", dir=_scratch))


def tovrel_bin():
    return Path(os.environ.get("TOVREL_BIN") or ROOT / "build" / "tovrel")


def test_output_dir(*parts):
    """Where tests keep screenshots and recordings: <build>/test-output/e2e/..."""
    base = os.environ.get("TOVREL_TEST_OUTPUT")
    path = Path(base) if base else tovrel_bin().resolve().parent / "test-output" / "e2e"
    path = path.joinpath(*parts)
    path.mkdir(parents=True, exist_ok=True)
    return path


def tail(path, lines=40):
    with contextlib.suppress(OSError):
        return "\n".join(Path(path).read_text(errors="replace").splitlines()[-lines:])
    return ""


# --------------------------------------------------------------------------- processes

_procs = []


class Proc:
    """A process started by the harness in a session (and process group) of its own.

    Output goes to files (stdout_path, stderr_path), in log_dir when given. stop()
    signals only this process group, chosen by its PID; every Proc still running is
    stopped at exit, except a detached one (a service that outlives the starter)."""

    def __init__(self, argv, name=None, env=None, stdout_path=None, pass_fds=(), cwd=None,
                 log_dir=None, detached=False):
        self.argv = [str(a) for a in argv]
        self.name = name or Path(self.argv[0]).name
        logs = Path(log_dir) if log_dir else new_dir(self.name)
        self.stdout_path = Path(stdout_path) if stdout_path else logs / f"{self.name}.out"
        self.stderr_path = logs / f"{self.name}.log"
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            try:
                self.popen = subprocess.Popen(
                    self.argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                    pass_fds=pass_fds, cwd=cwd, start_new_session=True)
            except OSError as exc:
                raise HarnessError(f"cannot start {self.name} ({self.argv[0]}): {exc}") from exc
        self.pid = self.popen.pid
        if not detached:
            _procs.append(self)

    def alive(self):
        return self.popen.poll() is None

    @property
    def returncode(self):
        return self.popen.poll()

    def wait(self, timeout):
        """Wait for the process to end by itself; its exit code or None."""
        try:
            return self.popen.wait(timeout=scaled(timeout))
        except subprocess.TimeoutExpired:
            return None

    def send_signal(self, sig):
        if self.alive():
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.pid, sig)

    def stop(self, grace=5.0, sig=signal.SIGTERM):
        """sig to the process group, then SIGKILL after grace seconds; the exit code."""
        if self.alive():
            self.send_signal(sig)
            try:
                self.popen.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                self.send_signal(signal.SIGKILL)
                self.popen.wait(timeout=5)
        # Children that outlived the leader (same group) must not outlive the test.
        with contextlib.suppress(ProcessLookupError, PermissionError):
            os.killpg(self.pid, signal.SIGKILL)
        if self in _procs:
            _procs.remove(self)
        return self.popen.returncode

    def status_text(self):
        code = self.returncode
        if code is None:
            return "still running"
        if code < 0:
            try:
                return f"killed by {signal.Signals(-code).name}"
            except ValueError:
                return f"killed by signal {-code}"
        return f"exited with code {code}"

    def stderr_text(self):
        return Path(self.stderr_path).read_text(errors="replace")

    def stdout_text(self):
        return Path(self.stdout_path).read_text(errors="replace")

    def describe(self, lines=40):
        text = [f"{self.name} (pid {self.pid}) {self.status_text()}; command: {' '.join(self.argv)}"]
        err = tail(self.stderr_path, lines)
        text.append(f"---- last lines of its stderr ({self.stderr_path}):\n{err}" if err
                    else "---- its stderr is empty")
        return "\n".join(text)


def cleanup():
    """Stop every process the harness started (newest first) and drop the scratch folder."""
    for proc in reversed(list(_procs)):
        try:
            proc.stop(grace=3)
        except Exception as exc:  # keep cleaning the rest
            print(f"harness: stopping {proc.name} failed: {exc}", file=sys.stderr)
    if _scratch is not None and os.environ.get("TOVREL_E2E_KEEP") != "1":
        shutil.rmtree(_scratch, ignore_errors=True)


atexit.register(cleanup)
if signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
    # A test process ended by SIGTERM (ctest's timeout) still stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def command_line(main):
    """A module run as a script: main(sys.argv[1:]) gives the exit code; a HarnessError
    ends it with its message and 1."""
    try:
        code = main(sys.argv[1:])
    except HarnessError as exc:
        print(exc, file=sys.stderr)
        code = 1
    sys.exit(code or 0)


def run(argv, display=None, env=None, timeout=10, check=True, pulse_server=None):
    """Run a short command; CompletedProcess with text output."""
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    if display:
        full_env["DISPLAY"] = display
    if pulse_server:
        full_env["PULSE_SERVER"] = pulse_server
    try:
        res = subprocess.run([str(a) for a in argv], env=full_env, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=scaled(timeout))
    except subprocess.TimeoutExpired as exc:
        raise HarnessError(f"{argv[0]} took more than {scaled(timeout):.0f} s: {' '.join(map(str, argv))}") from exc
    if check and res.returncode != 0:
        raise HarnessError(f"{' '.join(map(str, argv))} failed ({res.returncode}): "
                           f"{res.stderr.strip() or res.stdout.strip()}")
    return res
