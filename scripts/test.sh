#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh [build-dir] [extra cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
shift || true
"$root/scripts/setup.sh" "$build" "$@"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
