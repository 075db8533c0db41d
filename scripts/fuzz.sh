#!/usr/bin/env bash
# Fuzzes every reader of files a device may hold with libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer (build-fuzz, clang).
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
#       runs each harness (all by default) for SECONDS (default 60)
#   scripts/fuzz.sh --replay
#       runs each harness once over its checked-in corpus and checks that
#       the seeds are what the writers make (part of scripts/test.sh)
#
# Corpus: every run starts from the checked-in seeds, tests/fuzz/corpus/<h>/,
# and from what earlier runs learned, tests/fuzz/learned/<h>/ (not checked
# in). New inputs go to learned/<h>/, which is minimised after the run, so
# neither directory grows without bound.
#
# Build directory: build-fuzz, or MSGSTORE_FUZZ_BUILD when set, so that runs
# side by side need not build into the same directory.
#
# Findings: a crash, leak, sanitizer report, failed check or time-out is
# written to tests/fuzz/findings/<h>/ (the input as crash-*, leak-*,
# timeout-*, ... and the run's log as <h>.log); the script goes on with the
# other harnesses and exits 1 at the end. Once the reader is fixed, copy the
# input into tests/fuzz/corpus/<h>/ under a name that says what it found, so
# that scripts/test.sh replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

build=${MSGSTORE_FUZZ_BUILD:-build-fuzz}
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMSGSTORE_BUILD_FUZZ=ON -DMSGSTORE_BUILD_TESTS=OFF -DMSGSTORE_BUILD_TOOL=OFF \
  -DMSGSTORE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

if [ "${1:-}" = "--replay" ]; then
  cd "$build" && exec ctest --output-on-failure -j "$(nproc)"
fi

seconds=${1:-60}
[ $# -gt 0 ] && shift
case "$seconds" in
  '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [HARNESS...] | --replay" >&2; exit 2 ;;
esac
if [ $# -gt 0 ]; then
  harnesses=("$@")
else
  harnesses=()
  for bin in "$build"/tests/fuzz/*_fuzzer; do
    name=$(basename "$bin")
    harnesses+=("${name%_fuzzer}")
  done
fi

export UBSAN_OPTIONS=print_stacktrace=1
# The harnesses keep their scratch device roots under TMPDIR; the writers
# replace files by rename, which a disk file system pays for with a flush, so
# a memory file system makes the runs several times faster.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
start=$(date +%s)
found=()
for h in "${harnesses[@]}"; do
  bin="$build/tests/fuzz/${h}_fuzzer"
  [ -x "$bin" ] || { echo "no harness $h" >&2; exit 2; }
  seeds="tests/fuzz/corpus/$h"
  learned="tests/fuzz/learned/$h"
  findings="tests/fuzz/findings/$h"
  mkdir -p "$learned" "$findings"
  log="$findings/$h.log"
  echo "fuzzing $h for ${seconds}s"
  if "$bin" -max_total_time="$seconds" -timeout=10 -artifact_prefix="$findings/" \
    -print_final_stats=1 "$learned" "$seeds" >"$log" 2>&1; then
    grep -E '^Done|stat::number_of_executed_units|stat::new_units_added' "$log" | sed 's/^/  /'
    # Keep only the learned inputs that add coverage.
    minimised=$(mktemp -d)
    "$bin" -merge=1 "$minimised" "$learned" >/dev/null 2>&1
    rm -rf "$learned"
    mv "$minimised" "$learned"
    echo "  learned inputs kept: $(find "$learned" -type f | wc -l)"
    rm -f "$log"
  else
    echo "  FINDING: see $findings/"
    grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$log" | head -5 | sed 's/^/  /'
    found+=("$h")
  fi
  rmdir "$findings" 2>/dev/null || true
done
echo "fuzzed ${#harnesses[@]} harnesses in $(($(date +%s) - start))s"
if [ ${#found[@]} -gt 0 ]; then
  echo "findings in: ${found[*]}"
  exit 1
fi
echo "no findings"
