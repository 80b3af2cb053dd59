#!/usr/bin/env bash
# tarnwick-cli's side of a benchmark, run inside scripts/with-test-session.sh (its sign-in lives in a
# keyring): signs in to the emulator at BASE as the client CLIENT_ID/SECRET, then times each
# transfer command given after "--", one after another, and prints "cli_secs_N=…" for the N-th.
#   cli-transfers.sh CLI BASE CLIENT_ID SECRET -- put SRC… FOLDER -- get ID… DEST …
# The times include starting the process and reading the sign-in from the keyring, as a user's
# command pays them.
set -euo pipefail
cli=$1 base=$2 client=$3 secret=$4
shift 4
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
export TARNWICK_GOOGLE_BASE=$base TARNWICK_KEYCHAIN_SERVICE=com.tarnwick.bench.$$
export XDG_CONFIG_HOME=$profile/config XDG_DATA_HOME=$profile/data XDG_CACHE_HOME=$profile/cache
printf '{"installed":{"client_id":"%s","client_secret":"%s","redirect_uris":["http://localhost"]}}' \
  "$client" "$secret" >"$profile/client.json"
"$cli" --json login --no-browser --config "$profile/client.json" >"$profile/login.out" 2>&1 &
login=$!
for _ in $(seq 200); do grep -q '"signin-link"' "$profile/login.out" && break; sleep 0.05; done
link=$(python3 -c 'import json, sys
for line in open(sys.argv[1]):
    event = json.loads(line)
    if event.get("event") == "signin-link": print(event["url"]); break' "$profile/login.out")
# Asked with prompt=none the emulator approves at once and redirects to the loopback listener.
curl -sS -L -o /dev/null "${link/&prompt=consent/}&prompt=none" || true
wait "$login" || { echo "cli sign-in failed: $(tail -2 "$profile/login.out")" >&2; exit 1; }

n=0
while [ $# -gt 0 ]; do
  [ "$1" = "--" ] && shift
  command=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do command+=("$1"); shift; done
  n=$((n + 1))
  start=$(date +%s.%N)
  "$cli" "${command[@]}" >"$profile/run.$n.out" 2>&1 || { echo "cli ${command[0]} failed: $(tail -3 "$profile/run.$n.out")" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v n="$n" -v s="$start" -v e="$end" 'BEGIN {printf "cli_secs_%d=%.3f\n", n, e - s}'
done
# No logout: it would revoke the grant, which the bench's other clients share with this one (same
# account and client ID), and the next phase's sign-in would fail. The keyring and profile are
# throwaway.
