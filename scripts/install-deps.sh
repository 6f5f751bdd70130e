#!/usr/bin/env bash
# Installs every Debian 12 package the build, the program and the tests need.
# Does nothing when all of them are already there.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libfftw3-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-tidy-14 clang-format-14
  xvfb xauth xdotool imagemagick x11-utils
  fonts-liberation fonts-liberation2 procps python3
  dpkg-dev file lintian appstream desktop-file-utils systemd
  influxdb
)
# The names must be real packages, not virtual ones: dpkg never reports a
# virtual name installed, so every run would go to the network again.
list_missing() {
  missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
}
list_missing
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  list_missing
  if ((${#missing[@]})); then
    echo "install-deps.sh: still not installed after apt-get: ${missing[*]}" >&2
    exit 1
  fi
fi
