#!/usr/bin/env bash
# Builds mps1d and runs a bundled example in a scratch folder.
#   scripts/run_example.sh [quickstart|microcavity] [mps1d options...]
# The run folder is run/<example> (MPS_RUN_DIR overrides it).  The program
# creates no folder, so the run folders named in the example's execdata.txt
# (Results, DiscardedResults, Continue) are made here.  Options go to mps1d,
# e.g. --source=transparent or --legacy-model.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
example=${1:-quickstart}
shift || true
scratch=${MPS_RUN_DIR:-"$root/run/$example"}
if [ ! -f "$root/examples/$example/execdata.txt" ]; then
  echo "no example '$example' under $root/examples" >&2
  exit 2
fi
MPS_TARGET=mps1d "$root/scripts/setup.sh" "$root/build"

rm -rf "$scratch"
mkdir -p "$scratch/Results" "$scratch/DiscardedResults" "$scratch/Continue"
cp "$root/examples/$example/execdata.txt" "$scratch/"
cd "$scratch"
status=0
"$root/build/mps1d" "$@" </dev/null || status=$?
echo
echo "Run folder:   $scratch"
echo "Results in:   $scratch/Results (summary.json: energy budget and peak populations)"
echo "Statistics:   $scratch/DiscardedResults"
echo "Exit status:  $status"
exit $status
