#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh            all parts, in this order:
#   scripts/test.sh lint       format of every tracked C/C++ file, the folder and file
#                              include graphs (no circle), the window's public members, clang-tidy on
#                              every program folder
#   scripts/test.sh main       GCC build: unit, GUI and emulator tests
#   scripts/test.sh asan       clang AddressSanitizer+UBSan build of every test, plus the fuzz runs
#   scripts/test.sh tsan       clang ThreadSanitizer build of the discovery, acquisition, library and SCPI server tests
#   scripts/test.sh e2e        the real program under Xvfb, driven from outside
#   scripts/test.sh package    the Debian packages: lintian, the built files'
#                              RUNPATH and hardening, then installed on this
#                              machine (apt), the installed program and emulator
#                              under Xvfb, the desktop entry, AppStream metadata
#                              and user unit checked; removed again afterwards
# KM808_JOBS sets the build parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(lint main asan tsan e2e package)

bash scripts/install-deps.sh
jobs=${KM808_JOBS:-2}
werror=()
[ "${CI:-}" = "true" ] && werror=(-DKM808_WERROR=ON)
clang=(-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)
# The package tree compiles the same sources with the same flags as
# build/test: with paths relative to the checkout and the build directory left
# out of the key, the compiler cache serves it.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/support/tsan.supp"

# Checks the three packages (lintian, contents, the built files' RUNPATH and
# hardening), installs them on this machine (a CI machine is thrown away after
# the run; elsewhere they are removed again unless one was installed before)
# and runs the installed program against the installed emulator.
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
packages=(km808-viza qira-emulator km808-viza-dev)
remove_packages() { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get purge -y -qq "${packages[@]}" >/dev/null; }
test_installed_package() {
  local p deb version debs=() installed_before="" files desktop metainfo unit
  for p in "${packages[@]}"; do
    deb=$(ls "$1/${p}"_*_amd64.deb)
    lintian --fail-on error,warning "$deb"
    debs+=("./$deb")
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && installed_before=yes
  done
  version=$(dpkg-deb -f "$1"/km808-viza_*_amd64.deb Version)
  files=$(dpkg-deb -c "$1"/km808-viza_*_amd64.deb)
  for page in KM808_Viza km808-measure km808-scpi qira-probe; do
    grep -q "/man1/$page\.1\.gz$" <<<"$files" || { echo "no man page for $page" >&2; return 1; }
  done
  dpkg-deb -c "$1"/qira-emulator_*_amd64.deb | grep -q "/man1/qira-emulator\.1\.gz$" ||
    { echo "no man page for qira-emulator" >&2; return 1; }
  # The emulator stands alone; the development files match one build only.
  ! dpkg-deb -f "$1"/qira-emulator_*_amd64.deb Depends | grep -q km808-viza ||
    { echo "qira-emulator depends on km808-viza" >&2; return 1; }
  [ "$(dpkg-deb -f "$1"/km808-viza-dev_*_amd64.deb Depends)" = "km808-viza (= $version)" ] ||
    { echo "km808-viza-dev does not depend on km808-viza (= $version)" >&2; return 1; }
  [ "$(dpkg-deb -f "$1"/km808-viza-dev_*_amd64.deb Section)" = libdevel ] ||
    { echo "km808-viza-dev is not in Section libdevel" >&2; return 1; }
  # Every built file, then the packed ones with Debian's hardening.
  python3 tests/package/check_elf.py "$1/bin"
  rm -rf "$1/unpacked" && mkdir "$1/unpacked"
  for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$1/unpacked"; done
  python3 tests/package/check_elf.py --hardened "$1/unpacked"
  # --reinstall: packages of the same version may be installed already.
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --reinstall --no-install-recommends \
    "${debs[@]}" >/dev/null
  if [ -z "$installed_before" ]; then
    trap remove_packages EXIT
  else
    echo "a package of these was installed before this test: the packages just built stay installed."
  fi
  files=$(dpkg -L "${packages[@]}")
  desktop=$(grep '^/usr/share/applications/.*\.desktop$' <<<"$files")
  metainfo=$(grep '^/usr/share/metainfo/.*\.metainfo\.xml$' <<<"$files")
  unit=$(grep '/systemd/user/qira-emulator\.service$' <<<"$files")
  for size in 48 64 128; do
    grep -q "^/usr/share/icons/hicolor/${size}x${size}/apps/.*\.png$" <<<"$files" ||
      { echo "no ${size} px icon" >&2; return 1; }
  done
  desktop-file-validate "$desktop"
  appstreamcli validate --no-net "$metainfo"
  systemd-analyze verify "$unit"
  # shellcheck disable=SC2046 # pkg-config gives several words
  cc -std=c11 -Wall -Werror -o "$1/client" tests/package/client.c $(pkg-config --cflags --libs qiraapi km808api)
  "$1/client"
  python3 tests/package/installed_test.py --desktop-entry "$desktop" --emulator /usr/bin/qira-emulator \
    --default-settings tests/settings/fixtures/default-Km808_Viza.ini \
    --version "$version" --artifacts "$root/$1/test-artifacts"
  if [ -z "$installed_before" ]; then
    remove_packages
    trap - EXIT
  fi
}

run_ctest() { ctest --test-dir "$1" -j "$jobs" --output-on-failure --timeout 600 "${@:2}"; }

for part in "${parts[@]}"; do
  echo "=== $part ==="
  case $part in
    lint)
      git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run -Werror
      python3 tools/include_graph.py
      python3 tools/public_members.py
      # A clang tree (configured only) gives clang-tidy the commands clang understands.
      cmake -S . -B build/lint -G Ninja "${clang[@]}" -DKM808_BENCH=OFF -DKM808_TESTS=OFF >/dev/null
      # The window's files include what moc generates.
      cmake --build build/lint $(ninja -C build/lint -t targets all | sed -n 's/^\([a-z0-9_]*_autogen\):.*/--target \1/p') >/dev/null
      clang-tidy-14 -p build/lint --quiet device/*.cpp dsp/*.cpp acquisition/*.cpp record/*.cpp measure/*.cpp scpi/*.cpp trend/*.cpp \
        app/*.cpp ui/*.cpp discovery/*.cpp trendwindow/*.cpp store/*.cpp \
        settings/Cp1251Codec.cpp settings/TSettingsFile.cpp settings/SettingsLocation.cpp \
        settings/SettingsTable.cpp settings/MeasurementSettingsFile.cpp settings/MeasurementChoices.cpp 2>&1 | { grep -v ' warnings\( and [0-9]* errors\?\)\? generated\.$' || true; }
      ;;
    main)
      bash scripts/build.sh build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo "${werror[@]}"
      run_ctest build/test -LE 'e2e'
      ;;
    asan)
      bash scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug "${clang[@]}" \
        -DKM808_SANITIZE=address,undefined -DKM808_FUZZ=ON -DKM808_BENCH=OFF
      run_ctest build/asan -LE 'e2e'
      ;;
    tsan)
      bash scripts/build.sh build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "${clang[@]}" \
        -DKM808_SANITIZE=thread -DKM808_BENCH=OFF
      for dir in discovery acquisition qira scpi store; do
        [ -d "build/tsan/tests/$dir" ] && run_ctest "build/tsan/tests/$dir"
      done
      ;;
    e2e)
      bash scripts/build.sh build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo "${werror[@]}"
      run_ctest build/test -L 'e2e' -j 1
      ;;
    package)
      bash scripts/package.sh "${werror[@]}"
      test_installed_package build/package
      ;;
    *)
      echo "unknown part: $part (lint, main, asan, tsan, e2e, package)" >&2
      exit 2
      ;;
  esac
done
echo "all test parts passed: ${parts[*]}"
