#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) into the
# build folder given (default build/fuzz) and runs each for a bounded time,
# seeded with the .xls fixtures. Any crash, leak or sanitizer report fails.
# (The corpus of inputs up to 1 MiB is held in memory, hence the high RSS limit.)
#   CFW_FUZZ_SECONDS   run time of the .xls reader target (default 60; the
#                      reply classifier gets half of it)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$top/build/fuzz}"
seconds="${CFW_FUZZ_SECONDS:-60}"

echo "=== fuzz: configure and build"
cmake -S "$top" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCFW_WARNINGS_AS_ERRORS=ON \
  -DCFW_SANITIZE=address,undefined -DCFW_BUILD_FUZZERS=ON \
  -DCFW_TEST_DIRS="spreadsheet;app" \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -j "$(nproc)" --target xls_reader_fuzzer reply_classifier_fuzzer

# The fixtures seed a scratch corpus: new inputs go there, never into the repository.
corpus="$build/fuzz-corpus/xls"
rm -rf "$corpus"
mkdir -p "$corpus"
cp "$top"/tests/fixtures/xls/*.xls "$corpus/"

echo "=== fuzz: xls_reader_fuzzer for ${seconds}s"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp"
(cd "$build" && "$build/tests/spreadsheet/xls_reader_fuzzer" \
  -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=1100000 \
  -print_final_stats=1 "$corpus")
replies="$build/fuzz-corpus/replies"
rm -rf "$replies"
mkdir -p "$replies"
# Seeds: a scanning session's bytes, with records split across events.
printf '\x01\x05K\x53\x31\x7e\x21\x00\x0c\x45\r\n.S~\x3f\xc0E\r\nS~AB' >"$replies/session"
printf '\x03\x01S~ABCE\r\nS~1 E\r\nxyz' >"$replies/single"
echo "=== fuzz: reply_classifier_fuzzer for $((seconds / 2))s"
(cd "$build" && "$build/tests/app/reply_classifier_fuzzer" \
  -max_total_time="$((seconds / 2))" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
  -print_final_stats=1 "$replies")
echo "=== fuzz: no crash, leak or sanitizer report"
