#!/usr/bin/env bash
# Smoke test of tarnwick-cli against a real Google account: puts a tree of hostile names into a
# scratch folder on Drive, gets it back, compares every file by SHA-256, trashes the scratch folder
# and prints one verdict line (exit 0 when it passed).
#
#   bash scripts/google-smoke.sh              the account tarnwick-cli is signed in to
#                                             (sign in first: tarnwick-cli login)
#   bash scripts/google-smoke.sh --emulator   the same against tarnwick-drive-emulator, with a
#                                             throwaway keyring service and profile (the test suite
#                                             runs it so)
#
# TARNWICK_BUILD_DIR (default build) names the build holding tarnwick-cli and the emulator.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${TARNWICK_BUILD_DIR:-build}
cli=${TARNWICK_CLI:-$build/src/cli/tarnwick-cli}
emulator_bin=${TARNWICK_EMULATOR:-$build/src/emulator/tarnwick-drive-emulator}
[ -x "$cli" ] || cli=$(command -v tarnwick-cli || true)
if [ -z "$cli" ] || [ ! -x "$cli" ]; then
  echo "SMOKE FAILED: no tarnwick-cli (build it or set TARNWICK_CLI)"
  exit 1
fi

work=$(mktemp -d)
emulator_pid=
cleanup() {
  if [ -n "$emulator_pid" ]; then
    "$cli" logout >/dev/null 2>&1
    kill "$emulator_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
verdict() { echo "SMOKE $*"; }

if [ "${1:-}" = "--emulator" ]; then
  client=tarnwick-smoke.apps.googleusercontent.com
  cat >"$work/seed.json" <<JSON
{"users": [{"email": "smoke@example.com", "displayName": "Kiểm tra khói"}],
 "clients": [{"clientId": "$client", "clientSecret": "smoke-secret"}]}
JSON
  cat >"$work/client.json" <<JSON
{"installed": {"client_id": "$client", "client_secret": "smoke-secret",
  "redirect_uris": ["http://localhost"]}}
JSON
  "$emulator_bin" --port 0 --seed "$work/seed.json" --auto-consent >"$work/emulator.out" 2>&1 &
  emulator_pid=$!
  for _ in $(seq 100); do grep -q "listening on" "$work/emulator.out" && break; sleep 0.1; done
  base=$(sed -n 's/^listening on //p' "$work/emulator.out")
  [ -n "$base" ] || { verdict "FAILED: the emulator did not start"; exit 1; }
  export TARNWICK_GOOGLE_BASE=$base
  export TARNWICK_KEYCHAIN_SERVICE=com.tarnwick.smoke.$$
  export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
  # The browser's part: the emulator approves at once and redirects to the loopback listener.
  "$cli" --json login --no-browser --config "$work/client.json" >"$work/login.out" 2>&1 &
  login_pid=$!
  for _ in $(seq 100); do grep -q '"signin-link"' "$work/login.out" && break; sleep 0.1; done
  link=$(python3 -c 'import json, sys
for line in open(sys.argv[1]):
    try:
        event = json.loads(line)
    except ValueError:
        continue
    if event.get("event") == "signin-link":
        print(event["url"])
        break' "$work/login.out")
  [ -n "$link" ] || { kill "$login_pid" 2>/dev/null; verdict "FAILED: no sign-in link: $(tail -n2 "$work/login.out" | tr '\n' ' ')"; exit 1; }
  curl -s -L --retry 3 -o /dev/null "$link" || true
  wait "$login_pid" || { verdict "FAILED: the sign-in against the emulator failed: $(tail -n1 "$work/login.out")"; exit 1; }
fi

"$cli" whoami >/dev/null 2>"$work/whoami.err"
case $? in
  0) ;;
  3) verdict "FAILED: not signed in (run: tarnwick-cli login)"; exit 1 ;;
  4) verdict "FAILED: no connection to Google"; exit 1 ;;
  *) verdict "FAILED: whoami: $(tail -n1 "$work/whoami.err")"; exit 1 ;;
esac

# Names that trip careless code: a leading dash, a line break, a right-to-left override, quotes,
# a backslash, shell syntax, a long name, an empty file and one above the multipart limit.
rlo=$(printf '\xe2\x80\xae') # a right-to-left override
tree="$work/lên/Cây khói"
mkdir -p "$tree/thư mục ${rlo}lạ/sâu hơn" "$tree/lớn"
printf 'thường\n' >"$tree/thường.txt"
printf 'gạch\n' >"$tree/-bắt đầu bằng gạch.txt"
printf 'dòng\n' >"$tree/có"$'\n'"xuống dòng.txt"
printf 'rlo\n' >"$tree/rlo${rlo}txt.exe"
printf 'nháy\n' >"$tree/dấu \\ ngược 'nháy' \"kép\".bin"
printf 'shell\n' >"$tree/%s \$(echo x) \`id\`.sh"
printf 'dài\n' >"$tree/tên dài $(printf 'x%.0s' $(seq 200))"
printf 'trong\n' >"$tree/thư mục ${rlo}lạ/bên trong.txt"
: >"$tree/thư mục ${rlo}lạ/sâu hơn/rỗng.bin"
head -c 6291473 /dev/urandom >"$tree/lớn/ảnh gốc.raw"

digest() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum); }
scratch="tarnwick-smoke-$(date -u +%Y%m%d-%H%M%S)-$$"
back="$work/về"
files=$(find "$tree" -type f | wc -l)

"$cli" mkdir "/$scratch" >"$work/steps.out" 2>&1 || { verdict "FAILED: mkdir: $(tail -n1 "$work/steps.out")"; exit 1; }
result=passed reason=
if ! "$cli" put "$tree" "/$scratch" >>"$work/steps.out" 2>&1; then
  result=failed reason="put: $(tail -n1 "$work/steps.out")"
elif ! "$cli" get "/$scratch/Cây khói" "$back" >>"$work/steps.out" 2>&1; then
  result=failed reason="get: $(tail -n1 "$work/steps.out")"
elif ! diff <(digest "$tree") <(digest "$back/Cây khói") >"$work/diff.out"; then
  result=failed reason="SHA-256 differ: $(head -n2 "$work/diff.out" | tr '\n' ' ')"
fi
"$cli" trash "/$scratch" >>"$work/steps.out" 2>&1 || reason="$reason (the scratch folder /$scratch stays: $(tail -n1 "$work/steps.out"))"

if [ "$result" = passed ]; then
  verdict "PASSED: $files files up and back, SHA-256 equal, /$scratch trashed${reason}"
  exit 0
fi
verdict "FAILED: $reason"
exit 1
