#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) into
# ${TARNWICK_FUZZ_BUILD_DIR:-build-fuzz} and runs each for SECONDS (default 60), starting from
# the seeds in fuzz/corpus/<target>. New inputs collect in <build>/corpus/<target>, inputs that
# break a target in <build>/findings. Prints one line per target: executions, corpus size, result.
#   fuzz/run.sh [seconds] [target…]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=${TARNWICK_FUZZ_BUILD_DIR:-build-fuzz}
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/build.ninja" ]; then
  CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
    -DTARNWICK_FUZZ=ON >/dev/null
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}" -- -k 0

# Leaks are checked: Qt's own caches stay reachable and are not reported.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/findings"
status=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  log="$build/findings/$t.log"
  result=ok
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/findings/$t-" \
    "$build/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1 || { result="FAILED (see $log)"; status=1; }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  units=$(find "$build/corpus/$t" -type f | wc -l)
  printf '%-18s %10s runs %6s inputs  %s\n' "$t" "${runs:-?}" "$units" "$result"
done
exit $status
