# shellcheck shell=bash
# SPDX-License-Identifier: GPL-3.0-or-later
#
# Debian packages Tovrel needs, and a way to install only the missing ones.
#
#   deps_missing PKG...          print the packages of PKG... that are not installed
#   deps_install PKG...          apt-get install the missing ones (apt-get update first)
#   deps_install_build           what building build/ needs
#   deps_install_display         what running the program without a display needs
#   deps_install_test            what the test suites need (build + services + tools)
#   deps_install_package         what making and checking the packages needs
#   deps_install_build_depends DIR   the Build-Depends of the source package in DIR
#                                (apt-get build-dep), unless dpkg-checkbuilddeps finds them
#   deps_install_no_recommends PKG...  deps_install, leaving out what PKG only recommends
#
# Works as root or through sudo; never asks questions (DEBIAN_FRONTEND=noninteractive);
# waits up to 10 minutes for another apt or dpkg run to let go of its lock.
set -euo pipefail

TOVREL_PKGS_BUILD=(
  cmake make pkg-config g++
  qt6-base-dev qt6-base-dev-tools
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  libgtest-dev libgmock-dev libpulse-dev libsndfile1-dev libxcb1-dev
  libxcb-shape0-dev librapidcheck-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  fonts-dseg fonts-dejavu-core
  qt6-base-private-dev
)
# A virtual X display with a tray host and a sound server, plus the tools that start them
# and look at them (tests/e2e/desktop.py and the tests' harness, also the installed
# package's check: Python with Xlib and Pillow, xdotool).
TOVREL_PKGS_DISPLAY=(
  xvfb xdotool trayer pulseaudio pulseaudio-utils imagemagick
  python3 python3-xlib python3-pil
)
# Making and checking the packages: dpkg-buildpackage, with debhelper (the rest of the
# Build-Depends in debian/control is in TOVREL_PKGS_BUILD) and git for the copy of the
# sources; autopkgtest; readelf, and the validators of the launcher, of the AppStream
# data and of the packages (lintian).
TOVREL_PKGS_PACKAGE=(dpkg-dev debhelper git autopkgtest binutils desktop-file-utils appstream lintian)
TOVREL_PKGS_TEST=(
  "${TOVREL_PKGS_DISPLAY[@]}" libfaketime faketime sox lame
  "${TOVREL_PKGS_PACKAGE[@]}"
  dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0
  python3-dbusmock # mocked desktop services (the portal, the power manager)
  gdb # stacks of a program that stopped answering in an end-to-end test
)

deps__log() { printf '[deps] %s\n' "$*" >&2; }

deps_missing() {
  local p status
  for p in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ $status == *" ok installed" ]] || printf '%s\n' "$p"
  done
}

deps__apt_updated=0

deps_install() {
  local missing=() sudo=()
  mapfile -t missing < <(deps_missing "$@")
  if ((${#missing[@]} == 0)); then
    deps__log "all ${#} packages present"
    return 0
  fi
  if ((EUID != 0)); then
    command -v sudo >/dev/null || { deps__log "not root and no sudo: cannot install ${missing[*]}"; return 1; }
    sudo=(sudo)
  fi
  deps__log "installing: ${missing[*]}"
  local env=(env DEBIAN_FRONTEND=noninteractive)
  if ((deps__apt_updated == 0)); then
    "${sudo[@]}" "${env[@]}" apt-get update -q -o DPkg::Lock::Timeout=600 </dev/null
    deps__apt_updated=1
  fi
  "${sudo[@]}" "${env[@]}" apt-get install -y -q -o Dpkg::Use-Pty=0 \
    -o DPkg::Lock::Timeout=600 "${missing[@]}" </dev/null
  mapfile -t missing < <(deps_missing "$@")
  if ((${#missing[@]})); then
    deps__log "still missing after install: ${missing[*]}"
    return 1
  fi
}

deps_install_build()   { deps_install "${TOVREL_PKGS_BUILD[@]}"; }
deps_install_display() { deps_install "${TOVREL_PKGS_DISPLAY[@]}"; }
deps_install_test()    { deps_install "${TOVREL_PKGS_BUILD[@]}" "${TOVREL_PKGS_TEST[@]}"; }
deps_install_package() { deps_install "${TOVREL_PKGS_PACKAGE[@]}"; }

deps_install_build_depends() {
  local dir=${1:?source package folder} sudo=()
  (cd "$dir" && dpkg-checkbuilddeps 2>/dev/null) && return 0
  ((EUID == 0)) || sudo=(sudo)
  deps__log "installing the Build-Depends of $dir"
  local env=(env DEBIAN_FRONTEND=noninteractive)
  if ((deps__apt_updated == 0)); then
    "${sudo[@]}" "${env[@]}" apt-get update -q -o DPkg::Lock::Timeout=600 </dev/null
    deps__apt_updated=1
  fi
  "${sudo[@]}" "${env[@]}" apt-get build-dep -y -q -o Dpkg::Use-Pty=0 \
    -o DPkg::Lock::Timeout=600 "$dir" </dev/null
  (cd "$dir" && dpkg-checkbuilddeps)
}

# deps_install without the packages' recommendations: a desktop program run only to be
# measured (scripts/bench's peers) brings no daemons or name-service plug-ins along.
# apt reads APT_CONFIG first (kept as root; through sudo it is dropped, and apt's own
# setting applies).
deps_install_no_recommends() {
  local conf rc=0
  conf=$(mktemp)
  printf 'APT::Install-Recommends "false";\n' >"$conf"
  APT_CONFIG=$conf deps_install "$@" || rc=$?
  rm -f "$conf"
  return "$rc"
}
