#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs. Does nothing when all of
# them are already there.
#   scripts/install-deps.sh           everything: build, tests, lint, package test
#   scripts/install-deps.sh package   only what building the Debian package needs
set -euo pipefail
# Building the program and its Debian package (scripts/package.sh).
PACKAGE_BUILD=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libfftw3-dev
  dpkg-dev file
)
# The tests, the sanitizer and lint builds, the window under Xvfb and the
# checks of the built package.
TEST_TOOLS=(
  ccache git
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-tidy-14 clang-format-14
  xvfb xauth xdotool xsel imagemagick x11-utils
  fonts-liberation fonts-liberation2 procps python3 python3-pyvisa python3-pyvisa-py python3-pymeasure
  lintian appstream desktop-file-utils systemd
)
case ${1:-all} in
  all) PACKAGES=("${PACKAGE_BUILD[@]}" "${TEST_TOOLS[@]}") ;;
  package) PACKAGES=("${PACKAGE_BUILD[@]}") ;;
  *)
    echo "usage: install-deps.sh [package]" >&2
    exit 2
    ;;
esac
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
