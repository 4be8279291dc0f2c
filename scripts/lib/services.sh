# shellcheck shell=bash
# SPDX-License-Identifier: GPL-3.0-or-later
#
# The desktop services Tovrel's tests and headless runs need, for a script. They are
# started, waited for and stopped by tests/e2e/desktop.py (its header tells how, and what
# keeps them off the user's own display, sound server and session bus):
#
#   svc_start_all     a run with a private D-Bus session bus that starts no services on
#                     demand, Xvfb, trayer as the system tray host, and PulseAudio whose
#                     only sink is the null sink "ci_sink"; exports TOVREL_RUN_DIR,
#                     XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS, DISPLAY and PULSE_SERVER,
#                     and stops the run on EXIT (also after Ctrl-C)
#   svc_stop          stop the run now: first what this shell started since, then the
#                     services
#
# Settings: TOVREL_RUN_BASE (where run folders go, default $TMPDIR or /tmp),
#           TOVREL_KEEP_RUN_DIR=1 (keep the folder with the service logs after stopping).
set -euo pipefail

TOVREL_ROOT=${TOVREL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
# Debian's Python, with python3-xlib and python3-pil (scripts/lib/deps.sh).
TOVREL_PYTHON=${TOVREL_PYTHON:-/usr/bin/python3}

svc__run=
svc_stop() {
  local rc=$?
  [[ -n $svc__run ]] || return $rc
  "$TOVREL_PYTHON" "$TOVREL_ROOT/tests/e2e/desktop.py" down "$svc__run" || true
  svc__run=
  return $rc
}

svc_start_all() {
  local exports
  trap svc_stop EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  exports=$("$TOVREL_PYTHON" "$TOVREL_ROOT/tests/e2e/desktop.py" up --owner $$ bus display tray sound)
  eval "$exports"
  svc__run=$TOVREL_RUN_DIR
}
