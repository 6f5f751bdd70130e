#!/usr/bin/env bash
# Builds the Debian package build/package/km808-viza_<version>_amd64.deb:
# the program, its two libraries and the emulator only (no tests), for
# prefix /usr, with settings in the user's configuration directory.
#   bash scripts/package.sh
#   sudo apt install ./build/package/km808-viza_*_amd64.deb
# Further arguments are CMake options for the first configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=build/package
# The compiler flags are those of the test build (its objects come from the
# compiler cache); the linker binds immediately, as Debian's hardening asks.
now=-Wl,-z,relro,-z,now
bash scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DKM808_INSTALLED_LAYOUT=ON -DKM808_TESTS=OFF -DKM808_BENCH=OFF \
  -DCMAKE_EXE_LINKER_FLAGS="$now" -DCMAKE_SHARED_LINKER_FLAGS="$now" "$@"
rm -f "$dir"/km808-viza_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/km808-viza_*_amd64.deb
