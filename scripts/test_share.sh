#!/usr/bin/env bash
# Prints the size of the tests beside the size of the code they test: the
# library, its headers, the tool and the benchmarks against tests/ (fuzz
# harnesses included), in lines that are neither blank nor comments, then in
# every line. The project keeps the tests between a quarter and a third of
# the code.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat |
    grep -v -E '^\s*$' | grep -c -v -E '^\s*(//|/\*|\*)'
}
code=$(count src include tools bench)
tests=$(count tests)
awk -v c="$code" -v t="$tests" \
  'BEGIN { printf "code %d, tests %d: tests are %.1f%% of the code\n", c, t, 100 * t / c }'
# The same in every line of the files (wc -l), and the tool's own size.
lines() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | wc -l; }
code=$(lines src include tools bench)
tests=$(lines tests)
awk -v c="$code" -v t="$tests" -v m="$(lines tools/msgstore)" \
  'BEGIN { printf "every line: code %d, tests %d: %.1f%%; the tool %d\n", c, t, 100 * t / c, m }'
# The Python package: its module and Python files against its pytest suite.
count_py() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.py' \) -print0 | xargs -0 cat |
    grep -v -E '^\s*$' | grep -c -v -E '^\s*(//|/\*|\*|#)'
}
binding=$(count_py python/msgstore_module.cpp python/msgstore python/backend)
pytests=$(count_py python/tests)
awk -v c="$binding" -v t="$pytests" \
  'BEGIN { printf "python binding %d, its tests %d: %.1f%%\n", c, t, 100 * t / c }'
