#!/usr/bin/env bash
# Performance of this tree against an earlier commit, built the same way and
# measured side by side in one run (median of the repeats; the program runs
# of the two builds alternate), so a drifting machine speed cancels in the
# ratios.
#   bench/compare_with.sh COMMIT [repeats]
# Prints the figures of both builds, the ratios and the targets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base_commit=${1:?usage: bench/compare_with.sh COMMIT [repeats]}
repeats=${2:-3}
work=$(mktemp -d /tmp/mps1d-compare-XXXXXX)
trap 'git -C "$root" worktree remove --force "$work/base-src" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

build() {  # build SOURCE BUILD
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DMPS_BUILD_TESTS=OFF >/dev/null
  cmake --build "$2" -j"$(nproc)" --target mps1d bench_medium bench_field >/dev/null
}
echo "building this tree and $base_commit ..."
git -C "$root" worktree add --detach "$work/base-src" "$base_commit" >/dev/null 2>&1
build "$root" "$work/new"
build "$work/base-src" "$work/old"

# Median over the repeats of one benchmark figure (items/s or real time).
bench_figure() {  # bench_figure BUILD BINARY FILTER FIELD
  local values=()
  for ((r = 0; r < repeats; r++)); do
    values+=("$("$1/$2" --benchmark_filter="$3" --benchmark_format=json 2>/dev/null |
      /usr/bin/python3 -c "import json,sys; b=json.load(sys.stdin)['benchmarks'][0]; print(b['$4'])")")
  done
  printf '%s\n' "${values[@]}" | sort -g | sed -n "$(((repeats + 1) / 2))p"
}

# A run of an input in a fresh folder: wall seconds and peak memory [MB].
# The folders stay until the script ends: removing a thousand files just
# before the next run makes the file system's search for free inodes
# dearer for that run's files.
run_case() {  # run_case BUILD INPUT THREADS -> "wall rss"
  local dir
  dir=$(mktemp -d "$work/run-XXXXXX")
  mkdir -p "$dir/Results" "$dir/DiscardedResults" "$dir/Continue"
  cp "$2" "$dir/execdata.txt"
  (cd "$dir" && OMP_NUM_THREADS=$3 /usr/bin/time -f "%e %M" "$1/mps1d" </dev/null >/dev/null 2>"$dir/time") || true
  tail -1 "$dir/time" | awk '{printf "%s %.1f\n", $1, $2 / 1024}'
}
median() { sort -g | sed -n "$(((repeats + 1) / 2))p"; }
# Medians of a figure (FIELD 1 wall, 2 peak memory) of both builds, the runs
# of the two alternating so that a drifting machine speed hits both alike.
paired_runs() {  # paired_runs INPUT THREADS FIELD -> "old new"
  local old=() new=()
  for ((r = 0; r < repeats; r++)); do
    old+=("$(run_case "$work/old" "$1" "$2" | cut -d' ' -f"$3")")
    new+=("$(run_case "$work/new" "$1" "$2" | cut -d' ' -f"$3")")
  done
  echo "$(printf '%s\n' "${old[@]}" | median) $(printf '%s\n' "${new[@]}" | median)"
}

# A 10^6-cell structure with 20 dot cells, one short block.
big="$work/big_execdata.txt"
sed -e 's/^steps between two spatial dumps LL .*/steps between two spatial dumps LL 200 steps/' \
    -e 's/^total number of time steps .*/total number of time steps 0 -/' \
    -e 's/^100 0 1.0 0 0 0 0 0 0 0 .*/999480 0 1.0 0 0 0 0 0 0 0/' \
    "$root/examples/quickstart/execdata.txt" > "$big"
micro="$root/examples/microcavity/execdata.txt"

row() {  # row LABEL OLD NEW TARGET_TEXT
  printf '%-46s %14s %14s %8s  %s\n' "$1" "$2" "$3" \
    "$(/usr/bin/python3 -c "print(f'{float($3)/float($2):.2f}')" 2>/dev/null || echo -)" "$4"
}

echo
printf '%-46s %14s %14s %8s  %s\n' "figure" "$base_commit" "this tree" "ratio" "target"
for t in 1 2; do
  o=$(bench_figure "$work/old" bench_medium "BM_DotCellStep/$t/" items_per_second)
  n=$(bench_figure "$work/new" bench_medium "BM_DotCellStep/$t/" items_per_second)
  row "dot-cell updates/s, $t thread(s)" "$(printf '%.3g' "$o")" "$(printf '%.3g' "$n")" ">= 4x"
  eval "dots_$t=$n"
done
echo "  this tree, 2 threads / 1 thread: $(/usr/bin/python3 -c "print(f'{$dots_2/$dots_1:.2f}')")  (target >= 1.85)"
for t in 1 2; do
  read -r o n <<<"$(paired_runs "$micro" "$t" 1)"
  row "microcavity wall [s], $t thread(s) (old/new)" "$n" "$o" ">= $((t == 2 ? 3 : 2))x faster"
done
for side in old new; do
  step=$(bench_figure "$work/$side" bench_field "BM_solver_step/cells:100000/threads:1/" real_time)
  plain=$(bench_figure "$work/$side" bench_field "BM_plain_leapfrog/cells:100000/threads:1/" real_time)
  echo "  $side: empty cells at 10^5, bare leapfrog time / step time: $(/usr/bin/python3 -c "print(f'{$plain/$step:.2f}')")  (target >= 0.9)"
  one=$(bench_figure "$work/$side" bench_field "BM_solver_step/cells:1000000/threads:1/" real_time)
  two=$(bench_figure "$work/$side" bench_field "BM_solver_step/cells:1000000/threads:2/" real_time)
  echo "  $side: 10^6 cells, 2 threads speed-up: $(/usr/bin/python3 -c "print(f'{$one/$two:.2f}')")  (target >= 1.8)"
done
read -r o n <<<"$(paired_runs "$big" 2 2)"
row "peak memory [MB], 10^6 cells, 20 dot cells" "$o" "$n" "<= 120 MB"
echo
echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores"
