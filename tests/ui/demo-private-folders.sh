#!/usr/bin/env bash
# The demo keeps to folders of the user's own: plants of another local user in the shared temp
# folder (a link where a sample folder used to go, an OAuth client file where the demo used to
# look for one) change nothing. A screenshot run whose start-up fails ends at once with an error.
# Usage: demo-private-folders.sh TARNWICK WORKDIR
set -euo pipefail
app=$1
work=$2
rm -rf "$work"
mkdir -p "$work/home" "$work/tmp" "$work/data" "$work/config" "$work/victim"
ln -s "$work/victim" "$work/tmp/tarnwick-demo"
printf '%s' '{"installed":{"client_id":"planted.apps.googleusercontent.com","client_secret":"x"}}' \
  >"$work/tmp/tarnwick-demo-none.json"
export HOME="$work/home" TMPDIR="$work/tmp" XDG_DATA_HOME="$work/data" \
  XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen

# Signs in with its own client (a screenshot run that cannot sign in fails) and lists its samples.
"$app" --demo --screenshot "$work/shot.png"
test -s "$work/shot.png"
if [ -n "$(ls -A "$work/victim")" ]; then
  echo "the demo wrote through the link planted in the temp folder" >&2
  exit 1
fi
sample="$work/data/Tarnwick/Tarnwick Demo/Thư mục mẫu"
test -f "$sample/Ghi chú.txt"
test -d "$sample/Tài liệu"
test "$(stat -c %a "$sample")" = 700

# A sample folder that is a link is refused, not followed.
rm -rf "$sample" "$work/config"
ln -s "$work/victim" "$sample"
"$app" --demo --screenshot "$work/shot2.png"
if [ -n "$(ls -A "$work/victim")" ]; then
  echo "the demo followed a link standing where its sample folder goes" >&2
  exit 1
fi

# Without a session bus there is no keychain: the start-up fails and the run ends with an error.
set +e
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" "$app" --demo --screenshot "$work/failed.png" \
  2>"$work/failed.log"
status=$?
set -e
cat "$work/failed.log" >&2
if [ "$status" -eq 0 ] || [ -e "$work/failed.png" ]; then
  echo "a failed start-up still ended with status $status" >&2
  exit 1
fi
grep -q "start-up failed" "$work/failed.log"
