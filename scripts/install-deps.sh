#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test the
# application; with the argument "package", also what building and checking
# the Debian package needs. Packages already present are not touched.
#
# Every program and Python module that a build step, a test, a helper that a
# test runs, or one of the scripts uses comes from a package listed here. The
# tests name theirs in tests/support/NeededPackages.cpp, and a test checks that
# each of those is listed here.
set -euo pipefail

packages=(
  # the build
  build-essential cmake ninja-build pkg-config
  ccache                     # the test command's builds made again compile only what changed
  qt6-base-dev qt6-svg-dev libqt6svg6 libgsf-1-dev
  libreoffice-dev            # the SDK the Calc bridge plugin is built against
  # the run command: the program's window on X11 or Wayland, and a font for it
  qt6-qpa-plugins fonts-dejavu-core
  # the tests
  libgtest-dev googletest
  python3                    # /usr/bin/python3: the folder check and the probes below
  python3-xlrd python3-xlwt  # tests/spreadsheet/xlrd_probe.py
  python3-openpyxl           # reading and making .xlsx files in the Calc tests
  libreoffice-calc           # the office the Calc tests drive, soffice for conversions
  python3-uno                # LibreOffice from Python: test workbooks made by Calc itself
  xvfb xauth                 # xvfb-run: the suites that need a real X server
  x11-utils                  # xprop, xwininfo: window titles as the X server has them
  # the fuzz targets: clang's libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  gnumeric                   # ssconvert: saved workbooks read back by Gnumeric
)
if [ "${1:-}" = package ]; then
  # dpkg-shlibdeps, the desktop entries' and metainfo's checks, lintian
  packages+=(dpkg-dev desktop-file-utils appstream lintian)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || {
    echo "install-deps: these packages are missing and installing them needs root: run this as root, or install sudo" >&2
    exit 1
  }
  sudo_cmd=(sudo)
fi
# sudo passes no environment on: the setting goes through env.
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
