#!/usr/bin/env bash
# Builds the Debian package from a Release build and prints the .deb's path as
# its last line. Installs what it needs from Debian's packages first.
#   CFW_PACKAGE_BUILD   build folder (default build/package)
# Further arguments go to CMake (for instance -DCMAKE_CXX_COMPILER_LAUNCHER=ccache).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" package
build="${CFW_PACKAGE_BUILD:-$top/build/package}"
umask 022  # the modes of the installed files

# Debian's hardening flags, as a package build of the distribution takes them;
# no -g, since no debug symbols package is made.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
cxxflags=" $cxxflags "
cxxflags="${cxxflags// -g / }"

echo "=== package: configure and build (Release)"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCFW_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCFW_WARNINGS_AS_ERRORS=ON \
  -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "=== package: cpack"
# Depends come from the programs' own libraries only. The Calc bridge plugin
# links LibreOffice's UNO libraries, which come with libreoffice-calc (a
# Recommends): the package installs and the programs run without them.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >/dev/null
mkdir -p "$stage/debian"
printf 'Source: cellfeedwizard\n\nPackage: cellfeedwizard\nArchitecture: any\n' >"$stage/debian/control"
shlibs=$(cd "$stage" && dpkg-shlibdeps -O "$stage"/root/usr/bin/* 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "build-package: dpkg-shlibdeps found no libraries" >&2; exit 1; }
rm -f "$build"/cellfeedwizard_*.deb
(cd "$build" && cpack -G DEB -D "CPACK_DEBIAN_PACKAGE_DEPENDS=qt6-qpa-plugins, $shlibs" >/dev/null)
deb=$(ls "$build"/cellfeedwizard_*.deb)
echo "$deb"
