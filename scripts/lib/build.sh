# shellcheck shell=bash
# SPDX-License-Identifier: GPL-3.0-or-later
#
# Configure and build one build directory of Tovrel.
#
#   tovrel_build DIR [CMAKE_OPTION...]
#
# DIR is relative to the repository root unless absolute. The build type defaults to
# RelWithDebInfo and Python to /usr/bin/python3 (options given here win). Parallel jobs:
# TOVREL_JOBS, default the number of cores.
set -euo pipefail

TOVREL_ROOT=${TOVREL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

build__log() { printf '[build] %s\n' "$*" >&2; }

tovrel_build() {
  local dir=${1:?build directory}
  shift
  [[ $dir == /* ]] || dir=$TOVREL_ROOT/$dir
  if [[ ! -f $TOVREL_ROOT/CMakeLists.txt ]]; then
    build__log "no CMakeLists.txt in $TOVREL_ROOT: nothing to build"
    return 1
  fi
  # A cache written for another source tree (a copied or moved checkout) makes cmake
  # stop with an error; start that directory's configuration afresh instead.
  local cache=$dir/CMakeCache.txt
  if [[ -f $cache ]] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$TOVREL_ROOT" "$cache"; then
    build__log "$cache belongs to another source tree; reconfiguring from scratch"
    rm -rf "$cache" "$dir/CMakeFiles"
  fi
  local jobs=${TOVREL_JOBS:-$(nproc 2>/dev/null || echo 2)}
  local defaults=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  # The end-to-end tests run on Debian's own Python, not on one found first in PATH.
  [[ ! -x /usr/bin/python3 ]] || defaults+=(-DPython3_EXECUTABLE=/usr/bin/python3)
  build__log "configure $dir $*"
  cmake -S "$TOVREL_ROOT" -B "$dir" "${defaults[@]}" "$@"
  build__log "build $dir with $jobs jobs"
  cmake --build "$dir" -j "$jobs"
}
