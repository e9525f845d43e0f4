#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the C++ tests (ctest) and
# the Python tools' tests (pytest, with Debian's python3).
#   scripts/test.sh [build-dir] [extra cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
shift || true
"$root/scripts/setup.sh" "$build" "$@"
(cd "$build" && ctest --output-on-failure -j"$(nproc)")
cd "$root"
MPS1D="$build/mps1d" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/python
