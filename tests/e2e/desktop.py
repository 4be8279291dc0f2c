#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
#
# The test desktop: a run folder with a runtime folder, a session bus, an X server
# (Xvfb), a tray host (trayer) and a sound server (PulseAudio) with null sinks. Each is
# started, waited for and stopped here and nowhere else.
#
# Shape: this one module with a small command line. scripts/lib/services.sh (for
# scripts/test, run, soak, bench and package) and .ci/desktop call the command line; the
# end-to-end harness imports the module (services(), and XServer, Trayer, PulseServer,
# SessionBus for a test's extra ones); the C++ component tests get theirs from ctest: a
# fixture's setup test runs `up` and leaves the addresses in a file of the build tree,
# its cleanup test runs `down`, and a test asks for a tray host or a restarted sound
# server with `start`, `stop` and `restart` (tests/components/CMakeLists.txt).
#
#   desktop.py up [--owner PID] [--user] [--env-file FILE] SERVICE...
#       a new run with the SERVICEs (bus, display, tray, sound, sound=SINK,SINK...),
#       started in that order; prints the shell commands that point TOVREL_RUN_DIR,
#       XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS, DISPLAY and PULSE_SERVER at them
#   desktop.py down RUN|FILE             stop all of a run and remove its folder
#   desktop.py start|stop|restart SERVICE [RUN]   one service of a run ($TOVREL_RUN_DIR)
#
# The run's own services (the default): the session bus starts nothing on demand, Xvfb
# listens on no TCP port, PulseAudio has only null sinks, keeps off every bus and has a
# HOME of its own. Until a bus is started DBUS_SESSION_BUS_ADDRESS is "disabled:", which
# libdbus cannot connect to, so that it never autolaunches one. With --user they are a
# developer's own desktop instead (.ci/desktop plays it, to check that the tests leave
# it alone): a bus that starts services on demand, an X server that logs its clients,
# PulseAudio as a desktop starts it, on that bus with its socket in the runtime folder.
#
# Nothing started in a run reaches the user's own desktop: the run has a runtime folder
# of its own (the user's holds the sockets of their sound server and session bus) and
# drops the variables that lead to their Wayland display, session manager and
# accessibility bus; the services replace DISPLAY, PULSE_SERVER and the bus address.
#
# A run folder is tovrel-run.XXXXXX inside $TOVREL_RUN_DIR when that is a run (it goes
# with it), else in TOVREL_RUN_BASE, TMPDIR or /tmp. Every process started here carries
# TOVREL_RUN_DIR=<its run folder> in its environment, and so does everything a script
# starts after `up`. `down` signals only processes that carry the run's tag, so a PID
# reused by an unrelated process is never hit: first the run's leftovers (tests' and
# programs' processes), then its services, last-started first. A run folder whose owner
# (--owner, default the parent process) is gone is cleaned the same way by the next
# `up`. Services run in sessions of their own, so a Ctrl-C in the terminal does not take
# the display away from a program still using it. Works as root and as a normal user.
# TOVREL_KEEP_RUN_DIR=1 keeps a run's folder with the services' logs.
import argparse
import atexit
import contextlib
import fcntl
import json
import os
import shlex
import shutil
import signal
import sys
import tempfile
import time
from pathlib import Path

from display import display_works, tray_owner
from procs import HarnessError, Proc, command_line, new_dir, run, wait_until
from recording import SINK

ALL = ("bus", "display", "tray", "sound")
TAG = "TOVREL_RUN_DIR"
LEAKS = ("WAYLAND_DISPLAY", "SESSION_MANAGER", "AT_SPI_BUS_ADDRESS")


def log(text):
    print(f"[services] {text}", file=sys.stderr, flush=True)


class Service:
    """One service, its files in folder: start() runs command(fd) and waits until it
    answers(said), said being what it printed so far on fd (where some announce their
    address, a line), in the environment process_env; .env then holds the variables that
    lead to it."""

    name = "service"

    def __init__(self, folder=None, env=None, user=False):
        self.folder = Path(folder) if folder else new_dir(self.name)
        self.process_env = dict(os.environ if env is None else env)
        self.user = user
        self.proc = None
        self.env = {}

    def start(self, timeout=15, detached=False):
        t0, said = time.monotonic(), self.folder / f"{self.name}.said"
        with open(said, "w") as fd:
            self.proc = Proc(self.command(fd.fileno()), name=self.name, env=self.process_env,
                             log_dir=self.folder, pass_fds=(fd.fileno(),), detached=detached)

        def ready():
            if not self.proc.alive():
                raise HarnessError(f"{self.name} ended at its start")
            return self.answers(said.read_text())
        try:
            wait_until(ready, timeout, f"{self.name} to answer")
        except BaseException as exc:
            self.proc.stop()
            raise HarnessError(f"{exc}\n{self.proc.describe()}") if isinstance(exc, HarnessError) else exc
        log(f"{self.name} up (pid {self.proc.pid}, {time.monotonic() - t0:.2f}s) {self.env}")
        return self

    def stop(self):
        if self.proc:
            self.proc.stop()


class SessionBus(Service):
    """dbus-daemon as a session bus; as the user's (user=True) it starts services on demand."""

    name = "bus"

    def command(self, fd):
        config = self.folder / "bus.conf"
        config.write_text(f"""<busconfig><type>session</type><listen>unix:path={self.folder}/bus</listen>
<auth>EXTERNAL</auth>{"<standard_session_servicedirs/>" if self.user else ""}
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>""")
        return ["dbus-daemon", f"--config-file={config}", "--nofork", f"--print-address={fd}"]

    def answers(self, said):
        self.address = said.strip()
        self.env = {"DBUS_SESSION_BUS_ADDRESS": self.address}
        return said.endswith("\n")


class XServer(Service):
    """Xvfb on a display number it picks itself; as the user's it logs every client."""

    name = "display"

    def __init__(self, width=1280, height=1024, depth=24, **kwargs):
        super().__init__(**kwargs)
        self.screen = f"{width}x{height}x{depth}"

    def command(self, fd):
        return ["Xvfb", "-displayfd", str(fd), "-screen", "0", self.screen, "-nolisten", "tcp",
                "-noreset", *(["-audit", "2"] if self.user else [])]

    def answers(self, said):
        self.display = ":" + said.strip()
        self.env = {"DISPLAY": self.display}
        return said.endswith("\n") and display_works(self.display)


class Trayer(Service):
    """trayer as the system tray host of a display; up once it owns the tray selection."""

    name = "tray"

    def __init__(self, display=None, **kwargs):
        super().__init__(**kwargs)
        self.display = self.process_env["DISPLAY"] = display or self.process_env["DISPLAY"]

    def command(self, _fd):
        return ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                "--height", "24", "--SetDockType", "true", "--transparent", "false"]

    def answers(self, _said):
        return tray_owner(self.display)


def pulse_has_sinks(server, sinks=(SINK,)):
    res = run(["pactl", "--server", server, "list", "short", "sinks"], check=False, timeout=5)
    return res.returncode == 0 and set(sinks) <= {line.split("\t")[1] for line in res.stdout.splitlines()}


class PulseServer(Service):
    """PulseAudio with null sinks only; as the user's, the one a desktop starts."""

    name = "sound"

    def __init__(self, sinks=(SINK,), **kwargs):
        super().__init__(**kwargs)
        self.sinks = list(sinks)
        self.home = self.folder / "pulse"
        self.server = f"unix:{self.process_env['XDG_RUNTIME_DIR'] if self.user else self.home}/pulse/native"
        if not self.user:
            self.env = {"PULSE_SERVER": self.server, "PULSE_COOKIE": str(self.home / "cookie")}
            self.process_env.update(HOME=str(self.home), XDG_RUNTIME_DIR=str(self.home),
                                    XDG_CONFIG_HOME=str(self.home / "config"),
                                    DBUS_SESSION_BUS_ADDRESS="disabled:")

    def command(self, _fd):
        # The user's: the default configuration, on the bus, its socket in the runtime
        # folder. The run's: -n skips the default configuration, so no sound card is
        # looked for and nothing suspends a sink when idle; without norewinds=1 the start
        # of each new sound is lost. Its HOME and runtime folder are its own, so that even
        # as root it meets no other PulseAudio on the machine; and it keeps off the bus:
        # every PulseAudio claims org.PulseAudio1 there, and one that finds it taken exits.
        if self.user:
            return ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--log-level=info",
                    "--log-target=stderr"]
        for sub in ("", "pulse", "config"):
            (self.home / sub).mkdir(mode=0o700, exist_ok=True)
        return ["pulseaudio", "-n", "--daemonize=no", "--system=false", "--exit-idle-time=-1",
                "--disallow-exit", "--use-pid-file=no", "--high-priority=no", "--realtime=no",
                "--log-target=stderr",
                f"--load=module-native-protocol-unix socket={self.server[5:]} auth-anonymous=1",
                *(f"--load=module-null-sink sink_name={sink} norewinds=1 "
                  f"sink_properties=device.description={sink}" for sink in self.sinks)]

    def answers(self, _said):
        if self.user:
            return run(["pactl", "--server", self.server, "info"], check=False, timeout=5).returncode == 0
        return pulse_has_sinks(self.server, self.sinks)


KINDS = {"bus": SessionBus, "display": XServer, "tray": Trayer, "sound": PulseServer}


def no_sound_server_env():
    """Environment for a program that must find no sound server at all."""
    d = new_dir("no-pulse")
    conf = d / "client.conf"
    conf.write_text("autospawn = no\n")
    return {"PULSE_SERVER": f"unix:{d}/native", "PULSE_CLIENTCONFIG": str(conf)}


# --------------------------------------------------------------------------- runs

def _stat(pid):
    """Fields of /proc/PID/stat after the command's name (state, ppid, ...), or []."""
    with contextlib.suppress(OSError):
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return []


def _tagged(pid, tag):
    with contextlib.suppress(OSError):
        return f"{TAG}={tag}".encode() in Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
    return False


def _stop_pid(pid, tag, what):
    """TERM, up to 5 s of grace, then KILL, while the process carries the run's tag."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        if not _tagged(pid, tag):
            return
        if sig == signal.SIGKILL:
            log(f"{what} ({pid}) ignored SIGTERM; killing")
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, sig)
        for _ in range(50):
            if not _tagged(pid, tag):
                return
            time.sleep(0.1)


class Run:
    """A run folder: owner (PID and start time), state.json (the services and the
    variables they set), the services' logs and sockets, and runtime/."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.tag = str(self.folder)

    @classmethod
    def create(cls, owner, user=False):
        outer = Path(os.environ.get(TAG) or "/nowhere")
        base = outer if (outer / "state.json").is_file() else Path(
            os.environ.get("TOVREL_RUN_BASE") or tempfile.gettempdir())
        base.mkdir(parents=True, exist_ok=True)
        for stale in base.glob("tovrel-run.*"):
            cls(stale).sweep()
        self = cls(tempfile.mkdtemp(prefix="tovrel-run.", dir=base))
        (self.folder / "owner").write_text(f"{owner} {_stat(owner)[19]}\n")
        (self.folder / "runtime").mkdir(mode=0o700)
        self.save({"user": user, "services": [], "env": {
            TAG: self.tag, "XDG_RUNTIME_DIR": str(self.folder / "runtime"),
            "DBUS_SESSION_BUS_ADDRESS": "disabled:"}})
        return self

    def sweep(self):
        """down() when the owner has gone (not while a new run is being made)."""
        with contextlib.suppress(OSError, ValueError):
            if self.folder.stat().st_uid != os.geteuid() or time.time() - self.folder.stat().st_mtime < 10:
                return
            owner, start = (self.folder / "owner").read_text().split()
            if _stat(owner)[19:20] == [start]:
                return
        log(f"cleaning stale run folder {self.folder}")
        self.down()

    def load(self):
        return json.loads((self.folder / "state.json").read_text())

    def save(self, state):
        (self.folder / "state.new").write_text(json.dumps(state, indent=1))
        (self.folder / "state.new").replace(self.folder / "state.json")

    def env(self):
        """The environment of a process in this run."""
        return dict({k: v for k, v in os.environ.items() if k not in LEAKS}, **self.load()["env"])

    def change(self, wanted, start, detached=True):
        """Under the run's lock, one service as wanted ("tray", "sound=first_sink,second_sink"):
        start=True starts one more, False stops the one of that kind last started, None
        restarts that one as it was."""
        kind = wanted.partition("=")[0]
        if kind not in KINDS:
            raise HarnessError(f"no service {kind!r}; there are {', '.join(KINDS)}")
        with open(self.folder / "lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            state = self.load()
            if not start:
                entry = next((e for e in reversed(state["services"]) if e["name"] == kind), None)
                if entry is None:
                    raise HarnessError(f"no {kind} runs in {self.folder}")
                _stop_pid(entry["pid"], self.tag, kind)
                state["services"].remove(entry)
                wanted = entry["wanted"]
            if start is not False:
                sinks = wanted.partition("=")[2]
                extra = {"sinks": sinks.split(",")} if sinks else {}
                service = KINDS[kind](folder=self.folder, env=self.env(), user=state["user"], **extra)
                service.start(detached=detached)
                state["services"].append({"wanted": wanted, "name": kind, "pid": service.proc.pid})
                state["env"].update(service.env)
            self.save(state)

    def down(self):
        for nested in self.folder.glob("tovrel-run.*"):
            Run(nested).down()
        services = []
        with contextlib.suppress(OSError, ValueError):
            services = self.load()["services"]
        mine, skip, pid = {s["pid"] for s in services}, set(), os.getpid()
        while _stat(pid):  # this process and those it runs in
            skip.add(pid)
            pid = int(_stat(pid)[1])
        for proc in Path("/proc").glob("[0-9]*"):
            pid = int(proc.name)
            if pid not in mine | skip and _tagged(pid, self.tag):
                with contextlib.suppress(OSError):
                    what = proc.joinpath("cmdline").read_bytes().replace(b"\0", b" ").decode()[:80]
                    log(f"stopping leftover process {pid} ({what})")
                _stop_pid(pid, self.tag, "leftover")
        for s in reversed(services):
            _stop_pid(s["pid"], self.tag, s["name"])
        if os.environ.get("TOVREL_KEEP_RUN_DIR") == "1":
            log(f"service logs kept in {self.folder}")
        else:
            shutil.rmtree(self.folder, ignore_errors=True)


class Services:
    """The run's display with a tray host, sound server with ci_sink and session bus: those
    of the environment when they come from a run (TOVREL_RUN_DIR is set) and work; else
    ensure() starts a run of this test process, stopped when it ends. They go into
    os.environ, so that every helper and child process uses them."""

    display = pulse_server = None

    def ensure(self):
        disp, ps = os.environ.get("DISPLAY"), os.environ.get("PULSE_SERVER")
        if not self.display and not (os.environ.get(TAG) and disp and display_works(disp)
                                     and ps and pulse_has_sinks(ps)):
            private = Run.create(os.getpid())
            atexit.register(private.down)
            for wanted in ALL:
                private.change(wanted, start=True, detached=False)
            os.environ.update(private.env())
            for name in LEAKS:
                os.environ.pop(name, None)
        self.display, self.pulse_server = os.environ["DISPLAY"], os.environ["PULSE_SERVER"]
        return self


_services = Services()


def services():
    return _services


# --------------------------------------------------------------------------- command line

def _run_of(path):
    """A run folder, or the one named in an env file that `up` wrote."""
    path = Path(path or os.environ.get(TAG) or "/nowhere")
    if path.is_file():
        path = Path(dict(line.split("=", 1) for line in path.read_text().splitlines()).get(TAG, "/nowhere"))
    if not (path / "state.json").is_file():
        raise HarnessError(f"{path} is no run folder")
    return Run(path)


def main(argv):
    ap = argparse.ArgumentParser(description="Tovrel's test desktop (see the header of this file)")
    sub = ap.add_subparsers(dest="cmd", required=True)
    up = sub.add_parser("up")
    up.add_argument("--owner", type=int, default=os.getppid())
    up.add_argument("--user", action="store_true")
    up.add_argument("--env-file")
    up.add_argument("services", nargs="+", metavar="SERVICE", help="bus, display, tray, sound[=SINK,...]")
    sub.add_parser("down").add_argument("run")
    for name in ("start", "stop", "restart"):
        p = sub.add_parser(name)
        p.add_argument("service", choices=KINDS)
        p.add_argument("run", nargs="?")
    args = ap.parse_args(argv)
    if args.cmd == "down":
        return _run_of(args.run).down()
    if args.cmd != "up":
        return _run_of(args.run).change(args.service, {"start": True, "stop": False}.get(args.cmd))
    if args.env_file and Path(args.env_file).exists():
        with contextlib.suppress(HarnessError):
            _run_of(args.env_file).down()  # what an interrupted test run left
    new = Run.create(args.owner, args.user)
    try:
        for wanted in args.services:
            new.change(wanted, start=True)
    except BaseException:
        new.down()
        raise
    env = new.load()["env"]
    if args.env_file:
        Path(args.env_file).write_text("".join(f"{k}={v}\n" for k, v in env.items()))
    print(f"unset {' '.join(LEAKS)}", *(f"export {k}={shlex.quote(v)}" for k, v in env.items()), sep="\n")


if __name__ == "__main__":
    command_line(main)
