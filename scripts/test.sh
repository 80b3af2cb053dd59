#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite inside a throwaway desktop session.
#   scripts/test.sh [ctest arguments, e.g. -L model]
set -euo pipefail
cd "$(dirname "$0")/.."
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
