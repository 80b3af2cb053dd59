#!/usr/bin/env bash
# Configures and builds Tarnwick into ${TARNWICK_BUILD_DIR:-build}.
#   TARNWICK_BUILD_TYPE  Release (default), Debug, RelWithDebInfo
#   TARNWICK_SANITIZE    1: AddressSanitizer and UndefinedBehaviorSanitizer (use its own build dir)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARNWICK_BUILD_DIR:-build}
type=${TARNWICK_BUILD_TYPE:-Release}
launcher=()
if command -v ccache >/dev/null; then
  # Paths relative to the checkout, so clones and worktrees share their cached objects.
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${launcher[@]}" \
    -DTARNWICK_SANITIZE="${TARNWICK_SANITIZE:-0}" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" "$@"
