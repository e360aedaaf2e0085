#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Lumora needs.
# Safe to run again: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev qttools5-dev qttools5-dev-tools
  libqt5opengl5-dev qt5-image-formats-plugins
  libboost-dev libboost-log-dev libboost-thread-dev libboost-filesystem-dev
  libboost-system-dev libboost-date-time-dev
  libgtest-dev libgmock-dev
  # the tests on a real display: X server, system tray, a window manager,
  # pointer and keys, window queries (xwininfo, xprop) and screenshots (import)
  xvfb xauth x11-utils dbus-daemon trayer openbox xdotool imagemagick
  fonts-roboto-unhinted python3-fonttools librsvg2-bin python3-pil
  clang libclang-rt-dev
  curl openssl ca-certificates libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
