#!/usr/bin/env bash
# Cost of spectral classes in a whole run: the dot run of compare_with.sh
# (8192 dot cells of n = 3.5, a 20 fs Gaussian of 2e8 V/m, 3000 steps, one
# thread) without classes and with --ensemble=K,2 for K = 8, 16, 32, the
# runs alternating.  Prints the median and the shortest wall time of each
# and T_K / (K T_1) of both, the cost of a class against a dot cell of one
# class (target <= 1.2), with the processor and its vector width.  (On a
# shared virtual machine the same run may take 1.5 times as long from one
# time to the next; the shortest is the least disturbed.)
#   bench/ensemble_cost.sh [repeats] [BUILD]   (BUILD: a built tree, else one is built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
repeats=${1:-3}
work=$(mktemp -d /tmp/mps1d-classes-XXXXXX)
trap 'rm -rf "$work"' EXIT
build=${2:+$(cd "$2" && pwd)}
if [ -z "$build" ]; then
  build="$work/build"
  echo "building this tree ..."
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMPS_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target mps1d >/dev/null
fi
dots="$work/dots.txt"
sed -e "s/^steps between two spatial dumps LL .*/steps between two spatial dumps LL 3000 steps/" \
    -e 's/^total number of time steps .*/total number of time steps 0 -/' \
    -e "60s/^20 0 3.5/8192 0 3.5/" -e '38s/.*/1 3 0.955022 20 0 0 2.0e8 1 0 10 20 0/' \
    "$root/examples/quickstart/execdata.txt" > "$dots"

run_case() {  # run_case [OPTION...] -> wall seconds
  local dir
  dir=$(mktemp -d "$work/run-XXXXXX")
  mkdir -p "$dir/Results" "$dir/DiscardedResults" "$dir/Continue"
  cp "$dots" "$dir/execdata.txt"
  (cd "$dir" && OMP_NUM_THREADS=1 /usr/bin/time -f "%e" "$build/mps1d" --output=hdf5 "$@" \
    </dev/null >/dev/null 2>"$dir/time") || true
  tail -1 "$dir/time"
  rm -rf "$dir"
}
median() { sort -g | sed -n "$(((repeats + 1) / 2))p"; }
least() { sort -g | head -1; }

classes=(1 8 16 32)
declare -A times
for ((r = 0; r < repeats; r++)); do
  for k in "${classes[@]}"; do
    if [ "$k" = 1 ]; then t=$(run_case); else t=$(run_case "--ensemble=$k,2"); fi
    times[$k]+="$t "
  done
done
printf '%-8s %12s %12s %16s %16s  %s\n' "classes" "median [s]" "least [s]" "median T_K/KT_1" "least T_K/KT_1" "target"
m1=$(printf '%s\n' ${times[1]} | median)
l1=$(printf '%s\n' ${times[1]} | least)
for k in "${classes[@]}"; do
  m=$(printf '%s\n' ${times[$k]} | median)
  l=$(printf '%s\n' ${times[$k]} | least)
  rm_=$(/usr/bin/python3 -c "print(f'{float($m) / ($k * float($m1)):.3f}')")
  rl=$(/usr/bin/python3 -c "print(f'{float($l) / ($k * float($l1)):.3f}')")
  printf '%-8s %12s %12s %16s %16s  %s\n' "$k" "$m" "$l" "$rm_" "$rl" "$([ "$k" = 1 ] || echo '<= 1.2')"
done
width=$(grep -q avx512f /proc/cpuinfo && echo "AVX-512, 8 lanes" || echo "AVX2, 4 lanes")
echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $width"
