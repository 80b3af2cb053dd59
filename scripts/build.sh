#!/usr/bin/env bash
# Configures and builds Tarnwick into ${TARNWICK_BUILD_DIR:-build}.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARNWICK_BUILD_DIR:-build}
type=${TARNWICK_BUILD_TYPE:-Release}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" "$@"
