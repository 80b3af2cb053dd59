#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tarnwick in demo mode against the embedded emulated Drive.
# Without a display it starts a virtual one, takes a screenshot of the window and prints where it is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
build=${TARNWICK_BUILD_DIR:-build}
app="$build/src/app/tarnwick"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$app" --demo "$@"
fi
shot=${TARNWICK_SCREENSHOT:-$PWD/tarnwick-screenshot.png}
TARNWICK_SCREENSHOT_PATH="$shot" bash scripts/with-test-session.sh \
  "$app" --demo --screenshot "$shot" "$@"
echo "No display found: Tarnwick ran on a virtual one. Screenshot: $shot"
