// Cost of the medium update: dot-cell updates per second of whole steps
// (the program's step(): H update, E and medium with the implicit step) over a slab of 10^4 dot
// cells with the reference parameters of examples/quickstart (dense dots, Nd = 1e24 m^-3; tolerance
// 1e-12, at most 20 evaluations), on 1 and 2 threads; and the wall time of the microcavity example
// run.
//
// Figures of merit: items_per_second (dot-cell updates per second) and
// evaluations (mean right-hand-side evaluations per cell and step).
#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/floating_point.hpp"
#include "field/field_update.hpp"
#include "input/input_reader.hpp"
#include "simulation/simulation.hpp"
#include "simulation/time_loop.hpp"

namespace {

namespace fs = std::filesystem;

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

mps::RunInput example(const std::string& name, const std::string& work_dir) {
  const std::string path = std::string(MPS_EXAMPLES) + "/" + name + "/execdata.txt";
  return mps::read_execdata(work_dir, path, read_file(path));
}

// 10^4 dot cells (cells 1..10^4 of 10^4 + 1) of index 3.5 in the
// quickstart's equilibrium (levels 1 and 3 half filled), crossed by a
// resonant wave of 2e8 V/m along x: after a warm-up the cells carry the
// coherences and population changes of a driven medium.
struct DotSlab {
  static constexpr std::int32_t kDots = 10000;
  mps::Simulation sim;  // no source, ends that impose nothing
  std::int64_t J = 0;

  DotSlab() {
    const mps::RunInput in = example("quickstart", "./");
    const mps::RunParameters& p = in.params;
    sim.dt = in.structure.dt;
    mps::StructureProfile s;
    s.dz = in.structure.dz;
    s.dt = in.structure.dt;
    mps::Layer dots;
    dots.cells = kDots + 1;
    dots.index = 3.5;
    s.layers = {dots};
    s.NZ = kDots + 1;
    s.cavity_left = 0;
    s.cavity_right = s.NZ;
    mps::compute_field_profile(s, s.dz, s.dt, sim.coeffs);
    sim.medium_parameters = mps::medium_parameters(p, s);
    sim.source.active = false;
    sim.field.allocate(s.NZ);
    mps::MediumState& m = sim.medium;
    m.allocate(s.NZ);
    // The dot layer of the quickstart: u13eq = -0.5, u14eq = 0.5/sqrt3, u15eq = -1/sqrt6.
    const mps::Layer& q = in.structure.layers[2];
    for (std::int32_t i = 1; i <= kDots; ++i) {
      m.set_equilibrium(i, {q.b13, q.b14, q.b15});
      m.set_flags(i, mps::population_flags(i, {q.b13, q.b14, q.b15}, sim.medium_parameters.cavity));
    }
    mps::classify(sim);
    // A wave of the resonant wavelength in the medium (lambda0 / 3.5).
    const double kz = 2.0 * M_PI * 3.5 * s.dz / p.resonant_wavelength;
    const double eta = 376.73 / 3.5;  // wave impedance of the medium [Ohm]
    for (int l = 0; l < 2; ++l) {
      for (std::int32_t i = 1; i <= s.NZ; ++i) {
        const auto c = static_cast<std::size_t>(i);
        sim.field.Ex[static_cast<std::size_t>(l)][c] = 2e8 * std::sin(kz * i);
        sim.field.Hy[static_cast<std::size_t>(l)][c] = 2e8 * std::sin(kz * (i + 0.5)) / eta;
      }
    }
    for (int n = 0; n < 300; ++n) advance();
  }

  // One step of the program (no source, no ends); returns its evaluations.
  std::int64_t advance() {
    const std::int64_t before = sim.evaluations;
    mps::step(sim, ++J);
    return sim.evaluations - before;
  }
};

void BM_DotCellStep(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const int saved = omp_get_max_threads();
  omp_set_num_threads(threads);
  mps::enable_flush_to_zero_all_threads();  // as the program runs
  DotSlab slab;
  std::int64_t evaluations = 0;
  for (auto _ : state) {
    evaluations += slab.advance();
    benchmark::ClobberMemory();
  }
  const auto updates = static_cast<std::int64_t>(state.iterations()) * DotSlab::kDots;
  state.SetItemsProcessed(updates);
  state.counters["evaluations"] = static_cast<double>(evaluations) / static_cast<double>(updates);
  omp_set_num_threads(saved);
}
BENCHMARK(BM_DotCellStep)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// The microcavity example as the program runs it (snapshots and traces in a
// temporary folder), one run per thread count.
void BM_MicrocavityRun(benchmark::State& state) {
  const int saved = omp_get_max_threads();
  omp_set_num_threads(static_cast<int>(state.range(0)));
  std::string dir = (fs::temp_directory_path() / "mps1d-bench-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  dir += "/";
  for (const char* d : {"Results", "DiscardedResults", "Continue"}) fs::create_directories(dir + d);
  mps::RunInput in = example("microcavity", dir);
  in.dirs.results_dir = dir + "Results/";
  in.dirs.discarded_dir = dir + "DiscardedResults/";
  in.dirs.continue_dir = dir + "Continue/";
  for (auto _ : state) {
    mps::RunState run = mps::make_run_state(in);
    std::ostringstream progress, warnings;
    mps::run_time_loop(in, run, progress, warnings);
  }
  fs::remove_all(dir);
  omp_set_num_threads(saved);
}
BENCHMARK(BM_MicrocavityRun)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
