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

# One benchmark figure (items/s or real time) of one run.
bench_once() {  # bench_once BUILD BINARY FILTER FIELD
  "$1/$2" --benchmark_filter="$3" --benchmark_format=json 2>/dev/null |
    /usr/bin/python3 -c "import json,sys; b=json.load(sys.stdin)['benchmarks'][0]; print(b['$4'])"
}
median() { sort -g | sed -n "$(((repeats + 1) / 2))p"; }
ratio() { /usr/bin/python3 -c "print(f'{float($1)/float($2):.4g}')"; }

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
# Medians of the wall time and the peak memory of both builds, the runs of
# the two alternating so that a drifting machine speed hits both alike.
paired_runs() {  # paired_runs INPUT THREADS -> "old_wall new_wall old_rss new_rss"
  local ow=() nw=() om=() nm=() o n
  for ((r = 0; r < repeats; r++)); do
    read -r o n <<<"$(run_case "$work/old" "$1" "$2")" && ow+=("$o") && om+=("$n")
    read -r o n <<<"$(run_case "$work/new" "$1" "$2")" && nw+=("$o") && nm+=("$n")
  done
  for v in ow nw om nm; do eval 'printf "%s\n" "${'$v'[@]}"' | median; done | paste -sd' '
}

# A 10^6-cell structure with 20 dot cells, one short block.
big="$work/big_execdata.txt"
sed -e 's/^steps between two spatial dumps LL .*/steps between two spatial dumps LL 200 steps/' \
    -e 's/^total number of time steps .*/total number of time steps 0 -/' \
    -e 's/^100 0 1.0 0 0 0 0 0 0 0 .*/999480 0 1.0 0 0 0 0 0 0 0/' \
    "$root/examples/quickstart/execdata.txt" > "$big"
micro="$root/examples/microcavity/execdata.txt"

row() {  # row LABEL OLD NEW TARGET_TEXT: the ratio is new / old
  printf '%-46s %14s %14s %8s  %s\n' "$1" "$2" "$3" "$(ratio "$3" "$2" 2>/dev/null || echo -)" "$4"
}
# The same for times: the ratio is old / new, how many times faster.
time_row() {  # time_row LABEL OLD NEW TARGET_TEXT
  printf '%-46s %14s %14s %8s  %s\n' "$1" "$2" "$3" "$(ratio "$2" "$3" 2>/dev/null || echo -)x" "$4"
}

echo
printf '%-46s %14s %14s %8s  %s\n' "figure" "$base_commit" "this tree" "ratio" "target"
# Dot cells: per repeat both builds on 1 and 2 threads back to back; the
# ratios are taken within a repeat, then their median.
declare -a o1 n1 o2 n2 scale
for ((r = 0; r < repeats; r++)); do
  o1+=("$(bench_once "$work/old" bench_medium "BM_DotCellStep/1/" items_per_second)")
  n1+=("$(bench_once "$work/new" bench_medium "BM_DotCellStep/1/" items_per_second)")
  o2+=("$(bench_once "$work/old" bench_medium "BM_DotCellStep/2/" items_per_second)")
  n2+=("$(bench_once "$work/new" bench_medium "BM_DotCellStep/2/" items_per_second)")
  scale+=("$(ratio "${n2[r]}" "${n1[r]}")")
done
for t in 1 2; do
  eval 'o=$(printf "%s\n" "${o'$t'[@]}" | median); n=$(printf "%s\n" "${n'$t'[@]}" | median)'
  row "dot-cell updates/s, $t thread(s)" "$(printf '%.3g' "$o")" "$(printf '%.3g' "$n")" ">= 4x"
done
echo "  this tree, 2 threads / 1 thread: $(printf '%s\n' "${scale[@]}" | median)  (target >= 1.85)"
for t in 1 2; do
  read -r o n _ _ <<<"$(paired_runs "$micro" "$t")"
  time_row "microcavity wall [s], $t thread(s)" "$o" "$n" ">= $((t == 2 ? 3 : 2))x faster"
done
# Empty cells: the step against the bare leapfrog loop at 10^5 cells, and
# 2 threads against 1 at 10^6, each pair measured back to back.
for side in old new; do
  declare -a leap=() speedup=()
  for ((r = 0; r < repeats; r++)); do
    step=$(bench_once "$work/$side" bench_field "BM_solver_step/cells:100000/threads:1/" real_time)
    plain=$(bench_once "$work/$side" bench_field "BM_plain_leapfrog/cells:100000/threads:1/" real_time)
    leap+=("$(ratio "$plain" "$step")")
    one=$(bench_once "$work/$side" bench_field "BM_solver_step/cells:1000000/threads:1/" real_time)
    two=$(bench_once "$work/$side" bench_field "BM_solver_step/cells:1000000/threads:2/" real_time)
    speedup+=("$(ratio "$one" "$two")")
  done
  echo "  $side: empty cells at 10^5, bare leapfrog time / step time: $(printf '%s\n' "${leap[@]}" | median)  (target >= 0.9)"
  echo "  $side: 10^6 cells, 2 threads speed-up: $(printf '%s\n' "${speedup[@]}" | median)  (target >= 1.8)"
done
read -r ow nw om nm <<<"$(paired_runs "$big" 2)"
row "peak memory [MB], 10^6 cells, 20 dot cells" "$om" "$nm" "<= 120 MB"
time_row "wall [s] of that run (200 steps, 2 threads)" "$ow" "$nw" "faster"
echo
echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores"
