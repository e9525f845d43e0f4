// Throughput of the E23.12 field used for snapshot columns, against
// snprintf("%23.12E") as a yardstick (same width, C layout of the exponent).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "textio/fortran_format.hpp"

namespace {

// Field values spanning many decades and both signs, with some exact zeros.
std::vector<double> sample_values() {
  std::vector<double> v(4096);
  std::uint64_t x = 0x9e3779b97f4a7c15ULL;
  for (std::size_t i = 0; i < v.size(); ++i) {
    x ^= x >> 12, x ^= x << 25, x ^= x >> 27;
    const double u = static_cast<double>((x * 0x2545f4914f6cdd1dULL) >> 11) * 0x1p-53;
    v[i] = i % 64 == 0 ? 0.0 : (i % 2 ? -1.0 : 1.0) * std::pow(10.0, 40.0 * u - 20.0);
  }
  return v;
}

void BM_append_E23_12(benchmark::State& state) {
  const auto values = sample_values();
  std::string line;
  line.reserve(values.size() * 25);
  for (auto _ : state) {
    line.clear();
    for (double v : values) mps::textio::append_E23_12(line, v);
    benchmark::DoNotOptimize(line.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}
BENCHMARK(BM_append_E23_12);

void BM_snprintf_E23_12(benchmark::State& state) {
  const auto values = sample_values();
  std::string line;
  line.reserve(values.size() * 25);
  for (auto _ : state) {
    line.clear();
    char buf[32];
    for (double v : values) {
      const int n = std::snprintf(buf, sizeof buf, "%23.12E", v);
      line.append(buf, static_cast<std::size_t>(n));
    }
    benchmark::DoNotOptimize(line.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}
BENCHMARK(BM_snprintf_E23_12);

}  // namespace

BENCHMARK_MAIN();
