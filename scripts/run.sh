#!/usr/bin/env bash
# Installs what is missing, builds, starts the crate server emulator with its
# built-in crates (unless a crate server already listens on 127.0.0.1:11111),
# runs the program, and stops the emulator it started when the program exits.
# Arguments go to the emulator: scripts/run.sh --config my.json
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only what running needs: the program with its two libraries, the emulator,
# and the command-line client and the SCPI server on the same engine.
KM808_TARGETS="KM808_Viza qira-emulator km808-measure km808-scpi" bash scripts/build.sh build/main -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKM808_TESTS=OFF -DKM808_BENCH=OFF
bin=build/main/bin

port_open() { (exec 3<>/dev/tcp/127.0.0.1/11111) 2>/dev/null; }

emulator_pid=""
cleanup() {
  if [ -n "$emulator_pid" ]; then
    kill "$emulator_pid" 2>/dev/null || true
    wait "$emulator_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT INT TERM

if port_open; then
  echo "A crate server already listens on 127.0.0.1:11111; using it."
  [ $# -eq 0 ] || echo "The emulator arguments ($*) are ignored." >&2
else
  "$bin/qira-emulator" "$@" &
  emulator_pid=$!
  for _ in $(seq 1 100); do
    port_open && break
    if ! kill -0 "$emulator_pid" 2>/dev/null; then
      emulator_pid=""
      echo "qira-emulator did not start (see its message above)." >&2
      exit 1
    fi
    sleep 0.1
  done
fi

program="$bin/KM808_Viza"
if [ -z "${DISPLAY:-}" ]; then
  echo "No DISPLAY: running the program in a virtual X server (1920x1080)."
  xvfb-run -a -s "-screen 0 1920x1080x24" "$program"
else
  "$program"
fi
