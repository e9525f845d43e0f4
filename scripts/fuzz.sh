#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in a build folder of their own, then runs each
# for the given number of seconds on seeds made from the examples.
#   scripts/fuzz.sh [seconds per target, default 30] [build-dir, default build-fuzz]
# Exits non-zero when a target finds a crash, a sanitizer report, a leak, a
# time-out or an allocation beyond the memory limit; the input that did it
# is saved as <build-dir>/fuzz-artifacts/<target>-crash-... (or -leak-,
# -timeout-, -oom-) and can be replayed with <build-dir>/<target> FILE.
# Inputs that reached new code are kept in <build-dir>/fuzz-corpus/ for the
# next run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build=${2:-"$root/build-fuzz"}
targets=(fuzz_list_reader fuzz_execdata)

# libFuzzer comes with clang's runtime libraries; OpenMP for clang is libomp.
packages=(clang libclang-rt-14-dev libomp-dev cmake make zlib1g-dev libdeflate-dev)
"$root/scripts/install_packages.sh" "${packages[@]}"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMPS_FUZZ=ON -DMPS_BUILD_TESTS=OFF -DMPS_BUILD_BENCH=OFF -DMPS_NATIVE=OFF -DMPS_WERROR=ON \
  >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

# Seeds, made anew on each run: the example inputs as they are for the
# input reader; for the free-format reader, the same texts behind a few
# item lists (first byte: number of items - 1; then one type byte per item,
# b % 4: 0 int32, 1 int64, 2 real, 3 text of length 1 + (b / 4) % 16).
seeds="$build/fuzz-seeds"
rm -rf "$seeds"
mkdir -p "$seeds/fuzz_execdata" "$seeds/fuzz_list_reader"
n=0
m=0
for input in "$root"/examples/*/execdata.txt "$root"/tests/data/golden/*/execdata.txt; do
  [ -f "$input" ] || continue
  n=$((n + 1))
  cp "$input" "$seeds/fuzz_execdata/example_$n"
  for items in '\x02\x27\x02\x00' '\x00\x02' '\x07\x00\x00\x02\x02\x02\x02\x02\x02' \
               '\x03\x3f\x3f\x02\x3f' '\x01\x00\x27'; do
    m=$((m + 1))
    { printf "$items"; cat "$input"; } >"$seeds/fuzz_list_reader/example_${n}_$m"
  done
done
printf '\x03\x00\x02\x02\x27%s' "3*1 2*2.5 / ignored" >"$seeds/fuzz_list_reader/repeat"
printf '\x02\x27\x01\x02%s' "'quoted, text' 9223372036854775807 1.5d-3" >"$seeds/fuzz_list_reader/quoted"
printf '\x01\x00\x00%s' $'1\t2\r\n,,3\n' >"$seeds/fuzz_list_reader/commas"

status=0
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts"
  logs="$build/fuzz-logs"
  mkdir -p "$corpus" "$artifacts" "$logs"
  echo "== $target: $seconds s =="
  # -timeout: one input taking 10 s is a hang; -rss_limit_mb: 2 GiB per process.
  if OMP_NUM_THREADS=1 "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -dict="$root/fuzz/list_reader.dict" -artifact_prefix="$artifacts/$target-" \
    "$corpus" "$seeds/$target" >"$logs/$target.log" 2>&1; then
    grep -E "^(Done|stat::number_of_executed_units|stat::new_units_added)" "$logs/$target.log" || true
  else
    status=1
    echo "$target found a problem (full log: $logs/$target.log):"
    tail -n 60 "$logs/$target.log"
  fi
done
exit $status
