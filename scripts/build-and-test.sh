#!/usr/bin/env bash
# Builds and runs every test: the Release build that becomes the Debian package,
# with the tests, so the plain suite checks what ships; the whole suite again
# under AddressSanitizer + UndefinedBehaviorSanitizer; the serial tests under
# ThreadSanitizer; the fuzz targets' fixed-seed run (scripts/run-fuzzers.sh);
# then the package's own checks.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# Each phase's start says how long the run has taken so far, so a slow CI run
# shows where its time went.
phase() { echo "=== [$((SECONDS / 60))m$((SECONDS % 60))s] $*"; }
"$top/scripts/install-deps.sh"
phase "packages installed"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# A build made again compiles only what changed: ccache (installed above) keeps
# the objects of earlier runs, and CI keeps its cache between fresh roots.
# CMake takes these as the launchers when it first configures a build folder.
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache

run_suite() { # dir, build target, cmake args..., then -- ctest args...
  local dir="$1" target="$2"; shift 2
  local cm=() ct=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do cm+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  ct=("$@")
  phase "$(basename "$dir"): configure and build"
  cmake -S "$top" -B "$dir" -G Ninja -DCFW_WARNINGS_AS_ERRORS=ON -DCFW_REQUIRE_CALC_BRIDGE=ON "${cm[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" --target "$target"
  phase "$(basename "$dir"): tests"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "${ct[@]}")
}

# The package's Release build with Debian's hardening flags, the tests built in
# it; the .deb is made from it at once and checked at the end.
phase "test: configure and build (the package's Release build, with the tests)"
pkglog=$(mktemp)
CFW_PACKAGE_BUILD="$top/build/test" "$top/scripts/build-package.sh" \
  -DCFW_BUILD_TESTS=ON -DCFW_REQUIRE_CALC_BRIDGE=ON | tee "$pkglog"
deb=$(tail -n 1 "$pkglog")
rm -f "$pkglog"
phase "test: tests"
(cd "$top/build/test" && ctest --output-on-failure -j "$jobs")
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$top/tests/lsan.supp" \
  run_suite "$top/build/asan" all -DCMAKE_BUILD_TYPE=Debug -DCFW_SANITIZE=address,undefined
if [ -f "$top/tests/serial/CMakeLists.txt" ]; then
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/tests/tsan.supp" \
    run_suite "$top/build/tsan" serial_tests -DCMAKE_BUILD_TYPE=Debug -DCFW_SANITIZE=thread -DCFW_TEST_DIRS=serial
fi
if [ -x "$top/scripts/run-fuzzers.sh" ]; then
  phase "fuzz targets"
  "$top/scripts/run-fuzzers.sh" "$top/build/fuzz"
fi
phase "package checks"
"$top/scripts/check-package.sh" "$deb"
phase "all tests passed"
