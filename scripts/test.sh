#!/usr/bin/env bash
# Builds everything and runs every test: a normal build with the Python
# package and its pytest suite, a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz harnesses over their seed corpus, and a
# program that uses an installed copy through find_package(msgstore).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

# The Python package is built for Debian's python3, where pybind11 and pytest
# are installed; its pytest suite runs after the C++ suites, its output shown.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMSGSTORE_BUILD_PYTHON=ON \
  -DPython_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" -LE python)
(cd build && ctest --output-on-failure -L python -V)
PYTHONPATH=build/python /usr/bin/python3 -c "import msgstore"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DMSGSTORE_SANITIZE=ON -DMSGSTORE_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")

# The file readers' fuzz harnesses, once over their checked-in corpus, so a
# finding that was fixed stays fixed (scripts/fuzz.sh fuzzes for real).
scripts/fuzz.sh --replay

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build --prefix "$prefix" >/dev/null
cmake -S tests/consumer -B "$prefix/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer-build" >/dev/null
MSGSTORE_ROOT="$prefix/device" "$prefix/consumer-build/consumer"
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --exists msgstore
echo "installed package: 1 passed, 0 failed"
