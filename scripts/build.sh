#!/usr/bin/env bash
# scripts/build.sh DIR [cmake options...]: configures (once) and builds one build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
fi
cmake --build "$dir" -j "${KM808_JOBS:-2}"
