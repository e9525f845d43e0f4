// Cell updates per second of the field step (the H and E sweep of step(),
// both field pairs) on an all-vacuum line, against a minimal
// in-place leapfrog over plain vectors doing the same arithmetic as the
// yardstick.  Arguments: cells, threads.  Real time is reported, since the
// work is shared by OpenMP threads the benchmark does not see.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "field/field_update.hpp"
#include "simulation/simulation.hpp"

namespace {

constexpr double kDz = 5e-9;
constexpr double kDt = 0.5 * kDz / mps::constants::c0;

// A standing wave over the line, so the loops work on normal numbers.
double start_value(std::int64_t i) { return 1e6 * std::sin(0.05 * static_cast<double>(i)); }

// Steps before the timing starts, for both loops.
constexpr int kWarmUpSteps = 50;

void BM_solver_step(benchmark::State& state) {
  const auto cells = static_cast<std::int32_t>(state.range(0));
  omp_set_num_threads(static_cast<int>(state.range(1)));

  mps::StructureProfile s;
  mps::Layer vacuum;
  vacuum.cells = cells;
  vacuum.index = 1.0;
  s.layers = {vacuum};
  s.NZ = cells;
  mps::fill_material_profile(s, kDz, kDt);
  mps::Simulation sim;  // the program's step() with no source and ends that impose nothing
  sim.dt = kDt;
  mps::compute_field_profile(s, kDz, kDt, sim.coeffs);
  sim.field.allocate(cells);
  for (auto& level : sim.field.Ex) {
    for (std::int32_t i = 1; i <= cells; ++i) level[static_cast<std::size_t>(i)] = start_value(i);
  }
  sim.medium.allocate(cells);
  sim.medium_parameters.T.fill(1e-6);  // no dot cell reads them
  mps::classify(sim);
  sim.source.active = false;
  sim.whole_old_level = false;  // as the run's steps between snapshots

  std::int64_t J = 0;
  // Warm-up: the threads started and the arrays' pages settled (the
  // kernel merges large arrays into huge pages over the first steps).
  for (int n = 0; n < kWarmUpSteps; ++n) mps::step(sim, ++J);
  for (auto _ : state) {
    mps::step(sim, ++J);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * cells);
}

// The same step as four plain loops over single-level arrays, updated in
// place, with per-cell coefficients as a layered structure needs.
void BM_plain_leapfrog(benchmark::State& state) {
  const auto cells = static_cast<std::int64_t>(state.range(0));
  omp_set_num_threads(static_cast<int>(state.range(1)));
  const auto n = static_cast<std::size_t>(cells) + 1;
  std::vector<double> ex(n), ey(n, 0.0), hx(n, 0.0), hy(n, 0.0);
  for (std::int64_t i = 1; i <= cells; ++i) ex[static_cast<std::size_t>(i)] = start_value(i);
  std::vector<double> ch(n, kDt / (mps::constants::mu0 * kDz)),
      ce(n, kDt / (mps::constants::eps0 * kDz));
  double* __restrict Ex = ex.data();
  double* __restrict Ey = ey.data();
  double* __restrict Hx = hx.data();
  double* __restrict Hy = hy.data();
  const double* __restrict cH = ch.data();
  const double* __restrict cE = ce.data();

  auto leapfrog = [&] {
#pragma omp parallel
    {
#pragma omp for schedule(static)
      for (std::int64_t i = 1; i < cells; ++i) {
        Hx[i] += cH[i] * (Ey[i + 1] - Ey[i]);
        Hy[i] -= cH[i] * (Ex[i + 1] - Ex[i]);
      }
#pragma omp for schedule(static)
      for (std::int64_t i = 1; i < cells; ++i) {
        Ex[i] -= cE[i] * (Hy[i] - Hy[i - 1]);
        Ey[i] += cE[i] * (Hx[i] - Hx[i - 1]);
      }
    }
  };
  for (int w = 0; w < kWarmUpSteps; ++w) leapfrog();  // as for the solver's step
  for (auto _ : state) {
    leapfrog();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * cells);
}

void cell_and_thread_counts(benchmark::internal::Benchmark* b) {
  for (std::int64_t cells : {10000, 100000, 1000000}) {
    for (std::int64_t threads : {1, 2}) b->Args({cells, threads});
  }
  b->ArgNames({"cells", "threads"})->UseRealTime();
}

BENCHMARK(BM_solver_step)->Apply(cell_and_thread_counts);
BENCHMARK(BM_plain_leapfrog)->Apply(cell_and_thread_counts);

}  // namespace

BENCHMARK_MAIN();
