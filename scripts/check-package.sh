#!/usr/bin/env bash
# Checks a built package: its contents, the desktop entries, the AppStream
# metainfo, lintian (no errors; warnings are listed), and that every library
# of the installed programs resolves when the package is unpacked on its own.
#   check-package.sh FILE.deb
set -euo pipefail
deb=$(realpath "$1")
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" package
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

echo "=== package: contents"
expected="$top/scripts/package-contents.txt" actual="$scratch/contents"
dpkg-deb -c "$deb" | awk '{ p = $6; if ($1 ~ /^l/) p = p " -> " $8; print p }' | grep -v '/$' | sort >"$actual"
diff -u <(grep -v '^#' "$expected") "$actual" || fail "the package's files differ from $expected"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libqt6widgets6 libqt6svg6 libgsf-1-114 qt6-qpa-plugins; do
  grep -q "$dep" <<<"$depends" || fail "Depends lacks $dep"
done

recommends=$(dpkg-deb -f "$deb" Recommends)
echo "Recommends: $recommends"
grep -q "libreoffice-calc" <<<"$recommends" || fail "Recommends lacks libreoffice-calc"

dpkg-deb -x "$deb" "$scratch/root"
echo "=== package: desktop entries and metainfo"
desktop-file-validate "$scratch"/root/usr/share/applications/*.desktop
appstreamcli validate --no-net "$scratch"/root/usr/share/metainfo/*.metainfo.xml

echo "=== package: libraries of the installed programs"
for program in "$scratch"/root/usr/bin/*; do
  [ -e "$program" ] || fail "$(basename "$program") is a dangling link"
  ldd "$program" >"$scratch/ldd" || fail "ldd failed on $(basename "$program")"
  if grep -q 'not found' "$scratch/ldd"; then
    grep 'not found' "$scratch/ldd" >&2
    fail "$(basename "$program") needs a library that is not there"
  fi
done

echo "=== package: the programs start without LibreOffice's libraries"
for program in "$scratch"/root/usr/bin/*; do
  if readelf -d "$program" | grep -q 'NEEDED.*libuno'; then
    fail "$(basename "$program") links LibreOffice's libraries; only the Calc bridge plugin may"
  fi
done
bridge=("$scratch"/root/usr/lib/*/cellfeedwizard/libcfw_libreoffice_bridge.so)
[ -f "${bridge[0]}" ] || fail "the Calc bridge plugin is missing"
# The program looks for it where the package puts it.
bridge_dir=$(dirname "${bridge[0]#"$scratch/root"}")
{ strings -a "$scratch/root/usr/bin/CellfeedWizard"; strings -a -e l "$scratch/root/usr/bin/CellfeedWizard"; } >"$scratch/strings"
grep -qF "$bridge_dir/" "$scratch/strings" || fail "the program does not look for the Calc bridge plugin in $bridge_dir"
# Its UNO libraries find theirs in LibreOffice's program folder, where the
# program loads them from first.
LD_LIBRARY_PATH=/usr/lib/libreoffice/program ldd "${bridge[0]}" >"$scratch/ldd-bridge"
if grep -q 'not found' "$scratch/ldd-bridge"; then
  grep 'not found' "$scratch/ldd-bridge" >&2
  fail "the Calc bridge plugin needs a library that LibreOffice Calc does not bring"
fi

echo "=== package: lintian"
# lintian refuses to run as root without this; it only reads the file.
lintian --allow-root --fail-on error --tag-display-limit 0 "$deb" | tee "$scratch/lintian" || fail "lintian reports errors"
echo "lintian: $(grep -c '^E:' "$scratch/lintian" || true) errors, $(grep -c '^W:' "$scratch/lintian" || true) warnings"
echo "=== package: checked $deb"
