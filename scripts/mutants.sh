#!/usr/bin/env bash
# Measures the tests' strength: applies each planted fault of tests/mutants/
# (one patch each) to a scratch copy of the tree, rebuilds incrementally, runs
# the tests and says whether they caught it.
#
#   scripts/mutants.sh [--asan] [--matrix FILE] [PATCH...]
#
# PATCH defaults to every tests/mutants/*.patch. A fault is caught when the
# tests fail (or time out) with it in place; a patch that no longer applies or
# no longer builds is reported as stale and counts as not caught, so that the
# faults follow the code. With --asan a fault the normal build misses is tried
# again under AddressSanitizer and UndefinedBehaviorSanitizer, as the test
# command runs that build too. The scratch copy and its builds stay in
# $MUTANTS_DIR (default ${TMPDIR:-/tmp}/msgstore-mutants) so later runs rebuild
# only what changed. With --matrix every test runs for each fault (not only
# up to the first failure) and FILE gets one line per fault: its name, then
# the tests that failed; at the end the script prints, per test, the faults
# that no other test caught. Exit status 0 when every fault was caught.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
asan=0
matrix=""
patches=()
while [ $# -gt 0 ]; do
  arg=$1; shift
  case "$arg" in
    --asan) asan=1 ;;
    --matrix)
      [ $# -gt 0 ] || { echo "mutants: --matrix needs a FILE" >&2; exit 2; }
      matrix=$(realpath "$1"); shift; : >"$matrix" ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) patches+=("$(realpath "$arg")") ;;
  esac
done
if [ ${#patches[@]} -eq 0 ]; then
  shopt -s nullglob
  patches=("$top"/tests/mutants/*.patch)
fi
[ ${#patches[@]} -gt 0 ] || { echo "mutants: no patches" >&2; exit 2; }

scratch=${MUTANTS_DIR:-${TMPDIR:-/tmp}/msgstore-mutants}
src=$scratch/src
mkdir -p "$src"
# Two runs in one scratch copy would patch and build over each other.
exec 9>"$scratch/lock"
flock -n 9 || { echo "mutants: another run is using $scratch (set MUTANTS_DIR)" >&2; exit 2; }
# Copy by content, not by time: a file that differs gets a new time and is
# rebuilt; an identical one keeps the time its objects were built against.
# The copy holds what git tracks or would track (untracked, not ignored).
(cd "$top" && git ls-files -z --cached --others --exclude-standard) >"$scratch/files"
while IFS= read -r -d '' f; do
  [ -f "$top/$f" ] || continue
  if ! cmp -s "$top/$f" "$src/$f"; then
    mkdir -p "$src/$(dirname "$f")" && cp "$top/$f" "$src/$f"
  fi
done <"$scratch/files"
(cd "$src" && find . -type f -printf '%P\0') | while IFS= read -r -d '' f; do
  grep -qzFx -- "$f" "$scratch/files" || rm -f "$src/$f"
done

jobs=$(nproc)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# The normal build has the Python package too, so that its pytest suite
# (a ctest test there) catches faults of python/, when Debian's python3 has
# pybind11 and pytest.
python=()
/usr/bin/python3 -c 'import pybind11, pytest' 2>/dev/null &&
  python=(-DMSGSTORE_BUILD_PYTHON=ON -DPython_EXECUTABLE=/usr/bin/python3)

configure() { # dir, extra cmake options...
  local dir=$1; shift
  if [ -f "$dir/CMakeCache.txt" ]; then
    # A build made before an option was given takes it now.
    [ $# -gt 0 ] && cmake -S "$src" -B "$dir" "$@" >/dev/null
    return 0
  fi
  cmake -S "$src" -B "$dir" -DMSGSTORE_BUILD_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
}
build() { cmake --build "$1" -j "$jobs" >"$scratch/build.log" 2>&1; }
stop=(--stop-on-failure)
[ -n "$matrix" ] && stop=()
run_tests() { (cd "$1" && timeout 600 ctest -j "$jobs" --timeout 60 "${stop[@]}" >"$scratch/test.log" 2>&1); }
# The tests that failed in the last run, on one line.
failed_tests() { sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$scratch/test.log" | tr '\n' ' '; }

configure "$scratch/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${python[@]}"
[ $asan -eq 1 ] && configure "$scratch/build-asan" -DCMAKE_BUILD_TYPE=Debug -DMSGSTORE_SANITIZE=ON
dirs=("$scratch/build")
[ $asan -eq 1 ] && dirs+=("$scratch/build-asan")
for dir in "${dirs[@]}"; do
  if ! build "$dir"; then
    echo "mutants: the unchanged tree does not build in $dir (see $scratch/build.log)" >&2; exit 2
  fi
  if ! run_tests "$dir"; then
    echo "mutants: the unchanged tree fails its tests in $dir (see $scratch/test.log)" >&2; exit 2
  fi
done

caught=0 missed=0 stale=0
missed_names=()
for p in "${patches[@]}"; do
  name=$(basename "$p" .patch)
  # The patch's first line says what the fault is.
  what=$(head -n 1 "$p")
  if ! (cd "$src" && patch -p1 -s --dry-run -f <"$p" >/dev/null 2>&1); then
    echo "STALE   $name: does not apply"; stale=$((stale + 1)); missed_names+=("$name"); continue
  fi
  (cd "$src" && patch -p1 -s -f <"$p" >/dev/null)
  verdict=""
  if ! build "${dirs[0]}"; then
    verdict="STALE   $name: does not build"
    stale=$((stale + 1))
  elif ! run_tests "${dirs[0]}"; then
    verdict="caught  $name"
    [ -n "$matrix" ] && echo "$name $(failed_tests)" >>"$matrix"
  elif [ $asan -eq 1 ] && build "${dirs[1]}" && ! run_tests "${dirs[1]}"; then
    verdict="caught  $name (sanitizer build)"
  else
    verdict="MISSED  $name: $what"
  fi
  case "$verdict" in
    caught*) caught=$((caught + 1)) ;;
    MISSED*) missed=$((missed + 1)); missed_names+=("$name") ;;
    STALE*) missed_names+=("$name") ;;
  esac
  echo "$verdict"
  (cd "$src" && patch -p1 -s -R -f <"$p" >/dev/null)
done

total=${#patches[@]}
echo "mutants: $caught of $total caught, $missed missed, $stale stale"
if [ -n "$matrix" ]; then
  echo "faults that only one test caught, by test:"
  awk 'NF == 2 { only[$2] = only[$2] " " $1 }
       END { for (t in only) print "  " t ":" only[t] }' "$matrix" | sort
fi
[ ${#missed_names[@]} -eq 0 ]
