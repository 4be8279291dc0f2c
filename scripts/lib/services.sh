# shellcheck shell=bash
# SPDX-License-Identifier: GPL-3.0-or-later
#
# The desktop services Tovrel's tests and headless runs need:
#   - a private D-Bus session bus that starts no services on demand,
#   - Xvfb on a free display number (Xvfb -displayfd picks it),
#   - trayer as the system tray host on that display,
#   - a private PulseAudio server whose only sink is a null sink "ci_sink".
#
#   svc_start_all     start all four, export DBUS_SESSION_BUS_ADDRESS, DISPLAY and
#                     PULSE_SERVER, stop them on EXIT
#   svc_start_dbus / svc_start_xvfb / svc_start_trayer / svc_start_pulse
#                     one at a time (after svc_init)
#   svc_init          make the run folder (TOVREL_RUN_DIR) and the EXIT trap
#   svc_stop          stop everything this run started, by PID
#
# Nothing started here, nor from this shell afterwards, reaches the user's own desktop:
# svc_init gives it a runtime folder of the run's own (the user's holds the sockets of
# their sound server and session bus) and drops the variables that lead to their
# Wayland display, session manager and accessibility bus; the services replace DISPLAY,
# PULSE_SERVER and DBUS_SESSION_BUS_ADDRESS. Until svc_start_dbus the bus address is
# "disabled:", which libdbus cannot connect to, so that it never autolaunches a bus.
#
# The services run in sessions of their own (setsid), so a Ctrl-C in the terminal does
# not take the display away from a program still using it; svc_stop ends them in order.
#
# Every process started here carries TOVREL_RUN_DIR=<run folder> in its environment, and
# so does everything started from this shell afterwards (ctest, tests, the program).
# svc_stop signals only processes whose environment carries this run's tag, so a PID
# reused by an unrelated process is never hit. A run folder whose owning shell is gone
# (a run killed with SIGKILL) is cleaned up the same way by the next svc_init.
#
# Settings: TOVREL_RUN_BASE (where run folders go, default $TMPDIR or /tmp),
#           TOVREL_KEEP_RUN_DIR=1 (keep the folder with the service logs after stopping).
set -euo pipefail

TOVREL_ROOT=${TOVREL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
if [[ -z ${TOVREL_PYTHON:-} ]]; then
  if [[ -x /usr/bin/python3 ]]; then TOVREL_PYTHON=/usr/bin/python3; else TOVREL_PYTHON=python3; fi
fi

svc__log() { printf '[services] %s\n' "$*" >&2; }
svc__now() { printf '%s' "${EPOCHREALTIME/,/.}"; }
svc__since() { awk -v a="$1" -v b="$(svc__now)" 'BEGIN{printf "%.2fs", b-a}'; }

# Start time of a process in clock ticks since boot (field 22 of /proc/PID/stat).
svc__starttime() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  awk '{print $20}' <<<"$stat"
}

# True when process $1 carries TOVREL_RUN_DIR=$2 in its environment.
# Pure bash (no child processes), so that scanning /proc never finds its own helpers.
svc__tagged() {
  local -a env
  local e
  [[ -r /proc/$1/environ ]] || return 1
  mapfile -d '' env 2>/dev/null <"/proc/$1/environ" || return 1
  for e in "${env[@]}"; do
    [[ $e == "TOVREL_RUN_DIR=$2" ]] && return 0
  done
  return 1
}

# All PIDs tagged with run folder $1, except this shell.
svc__tagged_pids() {
  local p pid
  for p in /proc/[0-9]*; do
    pid=${p#/proc/}
    [[ $pid == "$$" || $pid == "$BASHPID" ]] && continue
    svc__tagged "$pid" "$1" && printf '%s\n' "$pid"
  done
  return 0
}

# Stop one process of run folder $2: TERM, up to 5 s grace, then KILL.
svc__kill() {
  local pid=$1 dir=$2 name=${3:-process} i
  svc__tagged "$pid" "$dir" || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do
    svc__tagged "$pid" "$dir" || break
    sleep 0.1
  done
  if svc__tagged "$pid" "$dir"; then
    svc__log "$name ($pid) ignored SIGTERM; killing"
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

# Stop what run folder $1 started: the recorded services last-started-first, then any
# other process that inherited the run's tag (tests' leftovers), then remove the folder.
svc__stop_dir() {
  local dir=$1 pid name
  if [[ -f $dir/pids ]]; then
    while read -r pid name; do
      svc__kill "$pid" "$dir" "$name"
    done < <(tac "$dir/pids")
  fi
  while read -r pid; do
    [[ -n $pid ]] || continue
    svc__log "stopping leftover process $pid ($(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | cut -c1-80))"
    svc__kill "$pid" "$dir" leftover
  done < <(svc__tagged_pids "$dir")
}

# Clean run folders whose owner shell has gone away.
svc__sweep_stale() {
  local base=$1 dir owner start
  for dir in "$base"/tovrel-run.*; do
    [[ -d $dir && -O $dir ]] || continue
    if [[ -f $dir/owner ]]; then
      read -r owner start <"$dir/owner" || true
      if [[ -n ${owner:-} && "$(svc__starttime "$owner" || true)" == "${start:-x}" ]]; then
        continue # still in use by a live run
      fi
    fi
    svc__log "cleaning stale run folder $dir"
    svc__stop_dir "$dir"
    rm -rf "$dir"
  done
}

svc__stopped=0
svc_stop() {
  local rc=$?
  [[ -n ${TOVREL_RUN_DIR:-} && -d ${TOVREL_RUN_DIR:-} ]] || return $rc
  ((svc__stopped == 0)) || return $rc
  svc__stopped=1
  svc__stop_dir "$TOVREL_RUN_DIR"
  if [[ ${TOVREL_KEEP_RUN_DIR:-0} == 1 ]]; then
    svc__log "service logs kept in $TOVREL_RUN_DIR"
  else
    rm -rf "$TOVREL_RUN_DIR"
  fi
  return $rc
}

svc_init() {
  local base=${TOVREL_RUN_BASE:-${TMPDIR:-/tmp}}
  mkdir -p "$base"
  svc__sweep_stale "$base"
  TOVREL_RUN_DIR=$(mktemp -d "$base/tovrel-run.XXXXXX")
  export TOVREL_RUN_DIR
  printf '%s %s\n' "$$" "$(svc__starttime "$$")" >"$TOVREL_RUN_DIR/owner"
  mkdir -m 700 "$TOVREL_RUN_DIR/runtime"
  export XDG_RUNTIME_DIR=$TOVREL_RUN_DIR/runtime
  unset WAYLAND_DISPLAY SESSION_MANAGER AT_SPI_BUS_ADDRESS
  export DBUS_SESSION_BUS_ADDRESS=disabled:
  : >"$TOVREL_RUN_DIR/pids"
  svc__stopped=0
  trap svc_stop EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}

svc__record() { printf '%s %s\n' "$1" "$2" >>"$TOVREL_RUN_DIR/pids"; }

svc__fail() {
  local log=$1
  shift
  svc__log "$*"
  if [[ -s $log ]]; then
    svc__log "---- last lines of $log"
    tail -n 30 "$log" >&2
  fi
  if [[ -s $TOVREL_RUN_DIR/last-check.txt ]]; then
    svc__log "---- output of the last readiness check"
    tail -n 20 "$TOVREL_RUN_DIR/last-check.txt" >&2
  fi
  return 1
}

# Wait up to $1 seconds for command "${@:2}" to succeed while process $pid lives.
svc__wait() {
  local secs=$1 pid=$2
  shift 2
  local deadline=$((SECONDS + secs))
  until "$@" >"$TOVREL_RUN_DIR/last-check.txt" 2>&1; do
    kill -0 "$pid" 2>/dev/null || return 2
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

svc_start_dbus() {
  local t0 dir=$TOVREL_RUN_DIR log pid address=
  t0=$(svc__now)
  log=$dir/dbus.log
  # A session bus like the desktop's, less the services it would start on demand (an
  # accessibility bus, portals): a test that needs one starts it on a bus of its own.
  cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  : >"$dir/dbus.address"
  setsid dbus-daemon --config-file="$dir/bus.conf" --nofork --print-address=3 \
    3>"$dir/dbus.address" </dev/null >"$log" 2>&1 &
  pid=$!
  svc__record "$pid" dbus-daemon
  local deadline=$((SECONDS + 10))
  until read -r address <"$dir/dbus.address" && [[ -n $address ]]; do
    kill -0 "$pid" 2>/dev/null || svc__fail "$log" "dbus-daemon exited at start" || return 1
    ((SECONDS < deadline)) || svc__fail "$log" "dbus-daemon gave no address in 10 s" || return 1
    sleep 0.05
  done
  export DBUS_SESSION_BUS_ADDRESS=$address
  svc__log "session bus up at $address (pid $pid, $(svc__since "$t0"))"
}

svc_start_xvfb() {
  local t0 dir=$TOVREL_RUN_DIR log pid num=
  t0=$(svc__now)
  log=$dir/xvfb.log
  : >"$dir/xvfb.display"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
    3>"$dir/xvfb.display" </dev/null >"$log" 2>&1 &
  pid=$!
  svc__record "$pid" Xvfb
  local deadline=$((SECONDS + 15))
  while [[ -z $num ]]; do
    read -r num <"$dir/xvfb.display" || true
    [[ -n $num ]] && break
    kill -0 "$pid" 2>/dev/null || svc__fail "$log" "Xvfb exited at start" || return 1
    ((SECONDS < deadline)) || svc__fail "$log" "Xvfb chose no display in 15 s" || return 1
    sleep 0.05
  done
  export DISPLAY=:$num
  svc__wait 10 "$pid" xdpyinfo -display "$DISPLAY" ||
    svc__fail "$log" "display $DISPLAY does not answer" || return 1
  svc__log "Xvfb $DISPLAY up (pid $pid, $(svc__since "$t0"))"
}

svc_start_trayer() {
  local t0 dir=$TOVREL_RUN_DIR log pid
  t0=$(svc__now)
  log=$dir/trayer.log
  setsid trayer --edge top --align right --widthtype request --height 24 \
    --SetDockType true --transparent false </dev/null >"$log" 2>&1 &
  pid=$!
  svc__record "$pid" trayer
  # Ready once it owns the system tray selection of screen 0.
  svc__wait 15 "$pid" "$TOVREL_PYTHON" "$TOVREL_ROOT/tests/e2e/harness.py" tray-owner ||
    svc__fail "$log" "trayer did not take the system tray selection on $DISPLAY" || return 1
  svc__log "trayer up on $DISPLAY (pid $pid, $(svc__since "$t0"))"
}

svc_start_pulse() {
  local t0 dir=$TOVREL_RUN_DIR log pid pdir
  t0=$(svc__now)
  log=$dir/pulse.log
  pdir=$dir/pulse
  mkdir -p "$pdir/home" "$pdir/runtime" "$pdir/config"
  chmod 700 "$pdir" "$pdir/home" "$pdir/runtime" "$pdir/config"
  # A private HOME and runtime folder keep the daemon (even as root) away from any
  # other PulseAudio on the machine; -n skips the default configuration, so the null
  # sink is the only sink and nothing suspends it when idle. Without norewinds=1 the
  # start of each new sound is lost. No bus: every PulseAudio server claims the name
  # org.PulseAudio1 on its session bus, and one that finds it taken exits.
  setsid env HOME="$pdir/home" XDG_RUNTIME_DIR="$pdir/runtime" XDG_CONFIG_HOME="$pdir/config" \
    DBUS_SESSION_BUS_ADDRESS=disabled: \
    pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --disallow-exit \
    --use-pid-file=no --high-priority=no --realtime=no --log-target=stderr \
    --load="module-native-protocol-unix socket=$pdir/native auth-anonymous=1" \
    --load="module-null-sink sink_name=ci_sink sink_properties=device.description=CISink norewinds=1" \
    </dev/null >"$log" 2>&1 &
  pid=$!
  svc__record "$pid" pulseaudio
  export PULSE_SERVER=unix:$pdir/native
  # Clients keep their cookie here instead of in the real HOME.
  export PULSE_COOKIE=$pdir/cookie
  svc__wait 15 "$pid" pactl --server="$PULSE_SERVER" info ||
    svc__fail "$log" "PulseAudio did not come up at $PULSE_SERVER" || return 1
  if ! pactl --server="$PULSE_SERVER" list short sinks | grep -q $'\tci_sink\t'; then
    svc__fail "$log" "PulseAudio has no ci_sink"
    return 1
  fi
  svc__log "PulseAudio up at $PULSE_SERVER with sink ci_sink (pid $pid, $(svc__since "$t0"))"
}

svc_start_all() {
  svc_init
  svc_start_dbus
  svc_start_xvfb
  svc_start_trayer
  svc_start_pulse
}
