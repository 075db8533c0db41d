#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
set -euo pipefail
need=()
# clang and its libFuzzer runtime (libclang-rt-14-dev) build the fuzz harnesses;
# pybind11 and Debian's python3 with its headers, venv and pytest the Python
# package and its tests.
for pkg in cmake g++ make pkg-config libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev \
  clang libclang-rt-14-dev pybind11-dev python3-pybind11 python3-dev python3-venv python3-pytest; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi
