#!/usr/bin/env bash
# scripts/build.sh DIR [cmake options...]: configures (once) and builds one build tree;
# KM808_TARGETS="a b" builds only those targets (and what they need).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
fi
targets=()
for t in ${KM808_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j "${KM808_JOBS:-2}" "${targets[@]}"
