#!/usr/bin/env bash
# Runs a command inside a throwaway desktop session: private HOME and XDG folders, a D-Bus session bus,
# an unlocked gnome-keyring answering the Secret Service, and an Xvfb display. Everything started here
# is stopped again by PID, whatever the command's outcome.
#   scripts/with-test-session.sh COMMAND [ARG...]
set -euo pipefail

if [ -z "${TARNWICK_IN_SESSION:-}" ]; then
  root=$(mktemp -d /tmp/tarnwick-session.XXXXXX)
  mkdir -p "$root/home" "$root/runtime" "$root/config" "$root/data" "$root/cache"
  chmod 700 "$root/runtime"
  export TARNWICK_SESSION_ROOT="$root"
  export HOME="$root/home" XDG_RUNTIME_DIR="$root/runtime" XDG_CONFIG_HOME="$root/config"
  export XDG_DATA_HOME="$root/data" XDG_CACHE_HOME="$root/cache"
  export TARNWICK_IN_SESSION=1
  status=0
  dbus-run-session -- "$0" "$@" || status=$?
  rm -rf "$root"
  exit $status
fi

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# gnome-keyring creates and unlocks the login collection with this password on a fresh HOME.
(printf %s tarnwick-test | exec gnome-keyring-daemon --foreground --unlock --components=secrets \
  >"$TARNWICK_SESSION_ROOT/keyring.log" 2>&1) &
pids+=($!)
for _ in $(seq 1 100); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
       string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'; then
    break
  fi
  sleep 0.1
done

if command -v Xvfb >/dev/null; then
  # Xvfb picks a free display itself and writes its number once it listens: a display is "taken"
  # also by a socket this file system cannot see (another session's, in a container).
  display_file="$TARNWICK_SESSION_ROOT/display"
  : >"$display_file"
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$display_file" \
    >"$TARNWICK_SESSION_ROOT/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do [ -s "$display_file" ] && break; sleep 0.05; done
  n=$(tr -d '[:space:]' <"$display_file")
  if [ -n "$n" ]; then
    export DISPLAY=":$n"
  else
    echo "with-test-session: Xvfb did not start: $(tail -n 3 "$TARNWICK_SESSION_ROOT/xvfb.log")" >&2
  fi
fi

status=0
"$@" || status=$?
exit $status
