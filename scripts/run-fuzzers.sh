#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs
# them. Any crash, leak or sanitizer report fails.
#
#   scripts/run-fuzzers.sh [BUILD_DIR]
#       The run the test command (and so CI) makes; the same commit always
#       gives the same result. Per target: every committed input is replayed
#       once, then a short fuzz with a fixed seed and a fixed number of runs
#       starts from them.
#   scripts/run-fuzzers.sh --long [SECONDS] [BUILD_DIR]
#       Randomised search, SECONDS (default 600) per target, for a developer
#       before handing work in. Findings are minimised with -minimize_crash=1;
#       fix them, then add the minimised input to the target's corpus.
#
# Committed corpus: tests/fixtures/fuzz/<target>/ holds every input that ever
# made the target fail, plus seeds; a target may take more seed folders (see
# below). Fuzzing never writes there: new inputs go to BUILD_DIR.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

mode=ci
seconds=600
if [ "${1:-}" = "--long" ]; then
  mode=long
  shift
  if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds="$1"; shift; fi
fi
build=$(realpath -m "${1:-$top/build/fuzz}")

targets=(xls_reader_fuzzer reply_classifier_fuzzer formula_fuzzer)
ci_seed=1

# Per target: extra seed folders, libFuzzer options, runs of the CI fuzz.
# The inputs of up to 1 MiB are held in memory, hence the high RSS limit.
configure_target() {
  case "$1" in
    xls_reader_fuzzer)
      seed_dirs=("$top/tests/fixtures/xls" "$top/tests/fixtures/formulas")
      options=(-timeout=20 -rss_limit_mb=4096 -max_len=1100000)
      ci_runs=8000 ;;
    reply_classifier_fuzzer)
      seed_dirs=()
      options=(-timeout=10 -rss_limit_mb=2048 -max_len=4096)
      ci_runs=600000 ;;
    formula_fuzzer)
      seed_dirs=()
      options=(-timeout=10 -rss_limit_mb=2048 -max_len=4096)
      ci_runs=200000 ;;
    *) echo "unknown fuzz target $1" >&2; exit 2 ;;
  esac
}

echo "=== fuzz: configure and build"
cmake -S "$top" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCFW_WARNINGS_AS_ERRORS=ON \
  -DCFW_SANITIZE=address,undefined -DCFW_BUILD_FUZZERS=ON \
  -DCFW_TEST_DIRS="spreadsheet;app" \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp"
export QT_HASH_SEED=0  # the same hashing in every run, so the same coverage

# The committed inputs of a target, in a fixed order.
committed_inputs() {
  { find "$top/tests/fixtures/fuzz/$1" -maxdepth 1 -type f ! -name 'README*'
    [ ${#seed_dirs[@]} -eq 0 ] || find "${seed_dirs[@]}" -maxdepth 1 -type f -name '*.xls'
  } | LC_ALL=C sort
}

executable_of() {
  local found
  found=$(find "$build/tests" -type f -name "$1" -perm -u+x | head -n 1)
  [ -n "$found" ] || { echo "fuzz target $1 was not built" >&2; exit 2; }
  echo "$found"
}

run_ci() { # target
  local target="$1" bin inputs list work
  bin=$(executable_of "$target")
  mapfile -t inputs < <(committed_inputs "$target")
  echo "=== fuzz: $target: replaying ${#inputs[@]} committed inputs"
  (cd "$build" && "$bin" "${options[@]}" -seed="$ci_seed" "${inputs[@]}")

  # The committed inputs are read as seeds only; the corpus folder the fuzzer
  # adds to is a fresh scratch folder.
  work="$build/fuzz-ci/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  list="$work/seeds.txt"
  (IFS=,; printf '%s' "${inputs[*]}") >"$list"  # no line end: it would join the last name
  # Comparison operands (-use_cmp) include addresses, which differ from run
  # to run; mutating with them would make two runs of one commit part ways.
  echo "=== fuzz: $target: -seed=$ci_seed -runs=$ci_runs -use_cmp=0"
  (cd "$build" && "$bin" "${options[@]}" -seed="$ci_seed" -runs="$ci_runs" -use_cmp=0 \
    -seed_inputs="@$list" -artifact_prefix="$work/findings/" -print_final_stats=1 "$work/corpus")
  rm -rf "$work/corpus"  # hundreds of megabytes for the .xls reader, of no further use
}

# Returns the number of findings of the target.
run_long() { # target
  local target="$1" bin corpus findings input count=0
  bin=$(executable_of "$target")
  corpus="$build/fuzz-long/$target/corpus"  # kept: later runs start further on
  findings="$build/fuzz-long/$target/findings"  # only this run's: a fault not fixed is found again
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  while read -r input; do cp -n "$input" "$corpus/" 2>/dev/null || true; done < <(committed_inputs "$target")
  echo "=== fuzz: $target: randomised for ${seconds}s"
  if (cd "$build" && "$bin" "${options[@]}" -max_total_time="$seconds" \
      -artifact_prefix="$findings/" -print_final_stats=1 "$corpus"); then
    return 0
  fi
  for input in "$findings"/crash-* "$findings"/leak-* "$findings"/timeout-* "$findings"/oom-*; do
    [ -f "$input" ] || continue
    count=$((count + 1))
    echo "=== fuzz: $target: minimising $(basename "$input")"
    (cd "$build" && "$bin" "${options[@]}" -minimize_crash=1 -max_total_time=120 \
      -exact_artifact_path="$input.min" "$input") || true
  done
  if [ "$count" -eq 0 ]; then
    echo "=== fuzz: $target: the fuzzer failed without leaving a finding" >&2
    return 1
  fi
  echo "=== fuzz: $target: $count finding(s) in $findings"
  echo "    Fix each, then copy its .min file (or the finding itself) into"
  echo "    tests/fixtures/fuzz/$target/ so that every later run replays it."
  return "$count"
}

failed=0
if [ "$mode" = ci ]; then
  # The targets run side by side, each into a log of its own that is shown
  # whole when it ends, so the phase takes as long as its slowest target
  # rather than their sum. The seed and the number of runs still fix what
  # each one does.
  mkdir -p "$build/fuzz-ci"
  pids=()
  for target in "${targets[@]}"; do
    (configure_target "$target"; run_ci "$target") >"$build/fuzz-ci/$target.log" 2>&1 &
    pids+=("$!")
  done
  for i in "${!pids[@]}"; do
    status=0
    wait "${pids[$i]}" || status=$?
    cat "$build/fuzz-ci/${targets[$i]}.log"
    if [ "$status" -ne 0 ]; then
      echo "=== fuzz: ${targets[$i]} failed (exit status $status)"
      failed=$((failed + 1))
    fi
  done
  counted="target(s) failed"
else
  for target in "${targets[@]}"; do
    configure_target "$target"
    run_long "$target" || failed=$((failed + $?))
  done
  counted="finding(s)"
fi
if [ "$failed" -ne 0 ]; then
  echo "=== fuzz: $failed $counted"
  exit 1
fi
echo "=== fuzz: no crash, leak or sanitizer report"
