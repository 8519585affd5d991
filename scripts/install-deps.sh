#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test the
# application; with the argument "package", also what building and checking
# the Debian package needs. Packages already present are not touched.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libqt6svg6 libgsf-1-dev
  libgtest-dev googletest
  python3 python3-xlrd python3-xlwt
  xvfb xauth x11-utils
  clang libclang-rt-14-dev
  libreoffice-calc libreoffice-dev python3-openpyxl python3-uno
)
if [ "${1:-}" = package ]; then
  packages+=(dpkg-dev desktop-file-utils appstream lintian)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
