#!/usr/bin/env bash
# Installs the Debian packages Tarnwick needs to build, run and test. Idempotent: only what is missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git ccache
  # Qt 6 and friends
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins qt6-image-formats-plugins
  qcoro-qt6-dev qtkeychain-qt6-dev libsecret-1-0 libsecret-tools
  # network, emulator, QR codes
  libcurl4-openssl-dev libcpp-httplib-dev libssl-dev libqrencode-dev curl ca-certificates
  # test session: D-Bus, Secret Service, X server, fonts, xattrs, screenshots
  dbus dbus-x11 gnome-keyring xvfb xauth x11-apps fonts-dejavu-core attr procps
  adwaita-icon-theme hicolor-icon-theme
  # native file choosers on GTK desktops (they follow the user's language)
  qt6-gtk-platformtheme
  # tests; the journey test drives the real window under a window manager with X input events
  libgtest-dev googletest openssl xdotool openbox
  # desktop integration: the icon's PNG sizes are rendered at build time; the install test validates
  librsvg2-bin desktop-file-utils appstream
  # benchmarks
  time
  # fuzzing: clang and its libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
