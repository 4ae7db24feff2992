#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, test and demo the updater; with
# package names as arguments, those instead (the Windows build asks for its own).
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev qt6-translations-l10n
  libgtest-dev googletest
  clang libclang-rt-14-dev clang-tidy clang-format
  libssl-dev openssl locales
  python3 curl time faketime
  squid nginx
  xvfb xauth x11-utils imagemagick openbox wmctrl xdotool
  fonts-dejavu-core fonts-liberation2
)
if (($#)); then
  packages=("$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
