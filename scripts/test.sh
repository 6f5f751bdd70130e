#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh            all parts, in this order:
#   scripts/test.sh main       GCC build: unit, GUI and emulator tests
#   scripts/test.sh asan       clang AddressSanitizer+UBSan build of every test, plus the fuzz runs
#   scripts/test.sh tsan       clang ThreadSanitizer build of the discovery and acquisition tests
#   scripts/test.sh e2e        the real program under Xvfb, driven from outside
# KM808_JOBS sets the build parallelism (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(main asan tsan e2e)

bash scripts/install-deps.sh
jobs=${KM808_JOBS:-2}
werror=()
[ "${CI:-}" = "true" ] && werror=(-DKM808_WERROR=ON)
clang=(-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/support/tsan.supp"

run_ctest() { ctest --test-dir "$1" -j "$jobs" --output-on-failure --timeout 600 "${@:2}"; }

for part in "${parts[@]}"; do
  echo "=== $part ==="
  case $part in
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
      for dir in discovery acquisition; do
        [ -d "build/tsan/tests/$dir" ] && run_ctest "build/tsan/tests/$dir"
      done
      ;;
    e2e)
      bash scripts/build.sh build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo "${werror[@]}"
      run_ctest build/test -L 'e2e' -j 1
      ;;
    *)
      echo "unknown part: $part (main, asan, tsan, e2e)" >&2
      exit 2
      ;;
  esac
done
echo "all test parts passed: ${parts[*]}"
