#!/usr/bin/env bash
# Starts the demo three times over the same settings, data and keychain item: every start opens
# signed in and without an error, and the emulated Drive keeps its data and its address between
# starts (saved upload sessions name that address).
#   demo-restarts.sh TARNWICK ARTIFACTS
set -euo pipefail
tarnwick=$1
artifacts=$2
home=$(mktemp -d /tmp/tarnwick-demo-restarts.XXXXXX)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$artifacts"
for run in 1 2 3; do
  out=$("$tarnwick" --demo --screenshot "$artifacts/demo-start-$run.png" 2>"$home/stderr-$run")
  echo "start $run: $out"
  if [ "$out" != "tarnwick: signed in; no error" ]; then
    cat "$home/stderr-$run" >&2
    echo "start $run did not open signed in without an error" >&2
    exit 1
  fi
  [ -s "$home/data/Tarnwick/Tarnwick Demo/demo-drive/state.json" ] || {
    echo "the demo's Drive kept no state after start $run" >&2; exit 1; }
  port=$(cat "$home/data/Tarnwick/Tarnwick Demo/demo-drive/port")
  if [ "$run" = 1 ]; then
    first_port=$port
  elif [ "$port" != "$first_port" ]; then
    echo "the demo's Drive moved from port $first_port to $port at start $run" >&2; exit 1
  fi
done
echo "the demo's Drive stayed on port $first_port"
# A saved state the Drive cannot read is started afresh, and so are the tokens: still no error.
echo 'not json' > "$home/data/Tarnwick/Tarnwick Demo/demo-drive/state.json"
out=$("$tarnwick" --demo --screenshot "$artifacts/demo-start-damaged.png" 2>"$home/stderr-4")
echo "start after damage: $out"
[ "$out" = "tarnwick: signed in; no error" ]
