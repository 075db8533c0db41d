#!/usr/bin/env bash
# Builds the library and the msgstore tool, then shows the store at work on
# the default device directory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target msgstore_cli
exec tools/msgstore/demo.sh build/tools/msgstore/msgstore
