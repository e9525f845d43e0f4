#!/usr/bin/env bash
# Installs what the build needs (Debian packages) when it is missing, then
# configures and builds.
#   scripts/setup.sh [build-dir] [extra cmake options...]
# MPS_TARGET=mps1d builds the program alone (the default builds everything:
# program, tests and benchmarks).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
shift || true

packages=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libdeflate-dev libhdf5-dev libgomp1 gzip
          clang-format python3-numpy python3-matplotlib python3-h5py python3-pytest parallel)
"$root/scripts/install_packages.sh" "${packages[@]}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
if [ -n "${MPS_TARGET:-}" ]; then
  cmake --build "$build" -j"$(nproc)" --target "$MPS_TARGET"
else
  cmake --build "$build" -j"$(nproc)"
fi
