#!/usr/bin/env bash
# Installs a build into a throwaway prefix and checks what lands where: the executables and the
# command line's man page, the launcher entry, the icon in the hicolor theme and the AppStream metainfo, each accepted by the
# freedesktop validators without an error or a warning.
#   check-install.sh BUILD_DIR APP_ID VERSION
set -euo pipefail
build=$1 id=$2 version=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

sizes=(16 22 24 32 48 64 128 256 512)
expected=(
  bin/tarnwick
  bin/tarnwick-cli
  share/man/man1/tarnwick-cli.1
  "share/applications/$id.desktop"
  "share/icons/hicolor/scalable/apps/$id.svg"
  "share/metainfo/$id.metainfo.xml"
)
for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x${s}/apps/$id.png"); done
echo "installed into $prefix:"
installed=$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
sed 's/^/  /' <<<"$installed"
if ! diff -u <(printf '%s\n' "${expected[@]}" | sort) <(echo "$installed"); then
  fail "the installed files differ from the expected list (- expected, + installed)"
fi
[ -x "$prefix/bin/tarnwick" ] || fail "bin/tarnwick is not executable"
[ -x "$prefix/bin/tarnwick-cli" ] || fail "bin/tarnwick-cli is not executable"
# The command line needs no display: nothing of the window's toolkit is linked.
if ldd "$prefix/bin/tarnwick-cli" | grep -Eq 'libQt6(Gui|Widgets)'; then
  fail "tarnwick-cli links Qt's GUI libraries"
fi
if command -v groff >/dev/null; then
  out=$(groff -k -man -Tutf8 -ww -z "$prefix/share/man/man1/tarnwick-cli.1" 2>&1) || fail "groff failed on the man page"
  [ -z "$out" ] || fail "groff warns about the man page: $out"
fi

# Each PNG is as large as the folder it sits in says (width and height from its IHDR chunk).
for s in "${sizes[@]}"; do
  png="$prefix/share/icons/hicolor/${s}x${s}/apps/$id.png"
  [ -f "$png" ] || continue
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
  [ "$w" = "$s" ] && [ "$h" = "$s" ] || fail "$png is ${w}x${h}"
done

entry="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"

echo "desktop-file-validate $id.desktop:"
out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate failed"
echo "${out:-  (no output)}"
# Hints too: they name real faults, such as an entry only shown in a catch-all menu section.
[ -z "$out" ] || fail "desktop-file-validate has something to say"

echo "appstreamcli validate --no-net --pedantic $id.metainfo.xml:"
out=$(appstreamcli validate --no-net --pedantic --explain "$metainfo" 2>&1) || fail "appstreamcli validate failed"
echo "$out"
if grep -Eq '^[[:space:]]*[EWIP]:' <<<"$out"; then fail "appstreamcli validate has something to say"; fi

echo "appstreamcli validate-tree --no-net (the installed tree as a whole):"
out=$(appstreamcli validate-tree --no-net --pedantic --explain "$prefix" 2>&1) || fail "appstreamcli validate-tree failed"
echo "$out"
if grep -Eq '^[[:space:]]*[EWIP]:' <<<"$out"; then fail "appstreamcli validate-tree has something to say"; fi

# The pieces name each other: the entry's icon and command, the metainfo's launchable and release.
key() { sed -n "s/^$1=//p" "$entry" | head -n1; }
[ "$(key Icon)" = "$id" ] || fail "Icon=$(key Icon), expected $id"
[ "$(key Exec | cut -d' ' -f1)" = tarnwick ] || fail "Exec=$(key Exec) does not start the installed tarnwick"
[ "$(key StartupWMClass)" = Tarnwick ] || fail "StartupWMClass=$(key StartupWMClass), the window class is Tarnwick"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "the metainfo does not launch $id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"
grep -q '<developer_name>Tarnwick</developer_name>' "$metainfo" || fail "the metainfo names no developer"

# The installed program runs and reports the version the metainfo announces.
ran=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/tarnwick" --version 2>/dev/null) || fail "the installed tarnwick does not run"
[ "$ran" = "Tarnwick $version" ] || fail "tarnwick --version says '$ran'"

[ $failed -eq 0 ] && echo "install check passed"
exit $failed
