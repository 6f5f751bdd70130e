#!/usr/bin/env bash
# Builds the Debian packages in build/package: km808-viza (the program and
# the client), qira-emulator (the emulator and its user unit) and
# km808-viza-dev (headers, library links, pkg-config files), for prefix /usr,
# with settings in the user's configuration directory, no tests.
#   bash scripts/package.sh
#   sudo apt install ./build/package/km808-viza_*_amd64.deb
# Further arguments are CMake options.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package
dir=build/package
# Debian's own compiler and linker flags with every hardening feature: stack
# protector, _FORTIFY_SOURCE, format checks, read-only relocations, immediate
# binding. Configured on every run, so that a tree made before takes them too.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flag() { dpkg-buildflags --get "$1"; }
cppflags=$(flag CPPFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DKM808_INSTALLED_LAYOUT=ON -DKM808_TESTS=OFF -DKM808_BENCH=OFF \
  -DCMAKE_C_FLAGS="$(flag CFLAGS) $cppflags" -DCMAKE_CXX_FLAGS="$(flag CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flag LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flag LDFLAGS)" \
  -DCMAKE_STRIP="$PWD/packaging/strip.sh" "$@" >/dev/null
bash scripts/build.sh "$dir"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/*.deb
