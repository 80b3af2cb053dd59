#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite inside a throwaway desktop session.
#   scripts/test.sh [--sanitize] [ctest arguments, e.g. -L model]
# --sanitize builds with AddressSanitizer and UndefinedBehaviorSanitizer into
# ${TARNWICK_SANITIZE_BUILD_DIR:-build-asan} and runs the suite there; any report fails the test.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --sanitize ]; then
  shift
  export TARNWICK_SANITIZE=1 TARNWICK_BUILD_DIR=${TARNWICK_SANITIZE_BUILD_DIR:-build-asan}
  # Leaks of the libraries below us are suppressed by name in the file; ours are not. A smaller
  # quarantine of freed memory than the default 256 MiB keeps the constant-memory tests' bounds.
  export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=32
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
bash scripts/install-deps.sh
bash scripts/build.sh
build=${TARNWICK_BUILD_DIR:-build}
# Screenshots and other test artefacts land here.
export TARNWICK_TEST_ARTIFACTS="$PWD/$build/test-artifacts"
start=$(date +%s)
status=0
bash scripts/with-test-session.sh ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@" || status=$?
echo "test suite took $(( $(date +%s) - start )) s; artefacts in $TARNWICK_TEST_ARTIFACTS"
exit $status
