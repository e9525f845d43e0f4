#include "simulation/time_loop.hpp"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <memory>
#include <ostream>
#include <utility>

#include "output/restore.hpp"
#include "output/result_writer.hpp"
#include "output/summary.hpp"
#include "output/traces.hpp"
#include "simulation/budget.hpp"
#include "simulation/monitors.hpp"
#include "simulation/progress.hpp"
#include "simulation/scheduler.hpp"
#include "textio/fortran_format.hpp"

namespace mps {

BlockPlan plan_blocks(std::int64_t Nt, std::int64_t LL, std::int64_t J_final) {
  BlockPlan plan;
  plan.first_block = J_final / LL + 1;
  plan.first_start = J_final;
  plan.blocks = (Nt + LL - J_final) / LL;
  return plan;
}

RunState make_run_state(const RunInput& in) {
  RunState run;
  run.sim = make_simulation(in);
  run.monitors.allocate(in.params.n_monitor, in.params.LL);
  return run;
}

std::vector<std::string> restore_run(const RunInput& in, RunState& run) {
  const RunParameters& p = in.params;
  RestoreInput restore;
  restore.run = run_record(in);
  restore.J_final = p.J_final;
  restore.E0 = p.field_scale();
  restore.results_dir = in.dirs.results_dir;
  restore.continue_dir = in.dirs.continue_dir;
  MediumState& m = run.sim.medium;
  std::vector<std::string> warnings = restore_snapshot(restore, run.sim.field, m);
  classify(run.sim);
  // Physical diagonal components of both restored levels.
  const DecayFactors decay = decay_factors(p.J_final, in.structure.dt, p.T);
  for (int l = 0; l < 2; ++l) {
    const auto& e = l == run.sim.field.Jtoggle ? decay.now : decay.previous;
    for (std::int32_t i = 0; i <= m.N; ++i) {
      m.set_physical(l, i, physical_diagonal(m.equilibrium(i), e, m.stored_diagonal(l, i)));
    }
  }
  run.restored = true;
  return warnings;
}

namespace {

// Working values of the loop that live across steps and blocks.
struct LoopState {
  std::int64_t block = 1;  // b
  std::int64_t Jb = 0;     // block start
  RunningStatistics statistics;
  std::int64_t statistics_interval = 1;  // trace rows between two statistics lines
  std::string block_label;               // label of b LL, names the statistics files
  ResultWriter* writer = nullptr;
  EnergyBudget budget;
  TeamChooser team{1, false};  // the threads of the steps
  Summary summary;             // the run's figures at the last snapshot
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  Progress progress;
};

// The snapshot of step J.  The state is checked first (a NaN stops the run
// here, before anything of the step is written); the writer then takes the
// state, and at a block end the block's flux rows and statistics lines.
void write_snapshot(const RunInput& in, RunState& run, LoopState& st, std::int64_t J) {
  check_finite_state(run.sim, J);
  SnapshotStep step{J, st.Jb, run.sim.max_ex, {}};
  if (J == st.block * in.params.LL) {
    step.block_end =
        BlockEnd{std::exchange(st.budget.flux_rows, {}), st.statistics.take(in.dirs.discarded_dir)};
  }
  const LiveState live{run.sim.field, run.sim.medium, run.sim.medium_step.decay,
                       run.monitors.samples(), run.monitors.max_ex};
  st.writer->snapshot(std::move(step), live, st.summary);
}

// The summary of the snapshot of step J, from the budget of step J - 1.
void update_summary(const RunState& run, LoopState& st, std::int64_t J) {
  const EnergyBudget& b = st.budget;
  Summary& s = st.summary;
  s.version = run.version;
  s.status = "running";
  s.threads = omp_get_max_threads();
  s.wall_time_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - st.start).count();
  s.steps_run = J;
  s.budget_step = b.step;
  s.reflected = b.reflected;
  s.transmitted = b.transmitted;
  s.dots = b.dots;
  s.in_grid = b.in_grid;
  s.absorbed = b.absorbed;
  s.dissipated = b.absorbed - b.dots;
  // The hard source's work is what the others add up to.
  s.injected =
      run.sim.transparent ? b.injected : b.reflected + b.transmitted + b.in_grid + b.absorbed;
  s.through_monitor = b.through_monitor;
  for (std::size_t k = 0; k < 4; ++k) {
    s.peaks[k] = {b.peaks[k].value, b.peaks[k].step, b.peaks[k].cell};
    s.lows[k] = {b.lows[k].value, b.lows[k].step, b.lows[k].cell};
  }
  s.pulse_energy = b.source_energy;
  s.snapshots.push_back(J);
  s.files.clear();
}

// Step J of the run: the step itself, the samples of the monitor cells and
// the field maximum, the running statistics, and at a snapshot step the
// snapshot, traces and statistics.
void normal_step(const RunInput& in, RunState& run, LoopState& st, std::int64_t J) {
  const std::int64_t r = J - st.Jb;
  run.sim.team = st.team.team();
  // The snapshot and the budget's totals read all of step J - 1.
  const bool snapshot = is_snapshot_step(J, in.params.LL, st.block, st.Jb);
  run.sim.whole_old_level = snapshot;
  const bool timed = st.team.timed();
  const auto started =
      timed ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
  step(run.sim, J);
  if (timed) {
    const auto seconds = std::chrono::steady_clock::now() - started;
    st.team.record(std::chrono::duration<double>(seconds).count());
  }
  take_previous_work(run.sim, st.budget);
  if (snapshot) {
    complete_budget(in, run.sim, J, st.budget);  // figures of J - 1, before this step's flux
    update_summary(run, st, J);
  }
  account_step(in, run.sim, J, st.budget);
  sample_monitors(in, run.sim, run.monitors, r);
  run.monitors.max_ex[static_cast<std::size_t>(r)] = run.sim.max_ex;
  st.statistics.update(run.monitors.samples(), r);
  if (r % st.statistics_interval == 0) st.statistics.record(st.block_label);
  if (snapshot) write_snapshot(in, run, st, J);
  st.progress.show(J, st.start);
}

// One block: its progress line, the buffers' row 0 (the restored step's
// samples when the run goes on from a stored one), then the steps.
void run_block(const RunInput& in, RunState& run, LoopState& st, bool follows, bool continuing,
               std::ostream& progress) {
  const RunParameters& p = in.params;
  st.progress.clear();  // the block's line starts a line of its own
  progress << ' ' << "      Loop from -> " << std::setw(12) << st.Jb << " Step-> " << std::setw(12)
           << p.LL << '\n'
           << std::flush;
  st.block_label = textio::step_label(st.block * p.LL);
  if (follows) carry_last_row(run.monitors);
  if (continuing) sample_monitors(in, run.sim, run.monitors, 0);
  for (std::int64_t J = st.Jb + 1; J <= st.block * p.LL; ++J) normal_step(in, run, st, J);
}

// Where and why the run stopped; the snapshot of that step was not written.
void record_stop(const NonFiniteError& e, Summary& s) {
  s.stop_step = e.step();
  s.stop_reason = e.what();
  if (!s.snapshots.empty() && s.snapshots.back() == e.step()) s.snapshots.pop_back();
}

}  // namespace

void run_time_loop(const RunInput& in, RunState& run, std::ostream& progress,
                   std::ostream& warnings) {
  const RunParameters& p = in.params;
  const BlockPlan plan = plan_blocks(p.Nt, p.LL, p.J_final);
  if (plan.blocks < 1) return;
  const bool continuing = p.J_final != 0;
  // The level toggle is set once: with an odd LL a block ends on level 1,
  // and the next block must go on flipping from there.  A restore sets it.
  if (!continuing) run.sim.field.Jtoggle = 0;
  if (continuing && !run.restored) {
    for (const std::string& w : restore_run(in, run)) warnings << "mps1d: warning: " << w << '\n';
  }

  LoopState st;
  st.block = plan.first_block;
  st.Jb = plan.first_start;
  // A block shorter than 2000 steps would give an interval of 0: every
  // step gets its statistics line then.
  st.statistics_interval = std::max<std::int64_t>(p.LL / 2000, 1);
  st.statistics = RunningStatistics(p.monitor_cells, p.field_scale());
  st.budget = start_budget(in, run.sim);
  st.progress = Progress(&warnings, p.J_final, plan.first_start + plan.blocks * p.LL);
  // One output thread beside each thread the steps leave idle (at least
  // one); the loop's thread joins them where it would wait.  The writer
  // refers to `warnings` without owning it, and has finished with it before
  // it goes away.
  const int threads = omp_get_max_threads();
  st.team = TeamChooser(threads, step_forks(run.sim));
  const WriterSetup setup{run.output_bound, output_threads(step_forks(run.sim), threads),
                          st.statistics_interval};
  const std::unique_ptr<ResultWriter> writer = make_result_writer(in, setup, warnings);
  st.writer = writer.get();
  try {
    for (std::int64_t n = 0; n < plan.blocks; ++n) {
      run_block(in, run, st, n > 0, n == 0 && continuing, progress);
      st.block += 1;
      st.Jb += p.LL;
    }
  } catch (const NonFiniteError& e) {
    st.progress.clear();
    record_stop(e, st.summary);
    st.summary.status = "stopped";
    writer->finish(st.summary, st.start);  // what was computed before is written
    throw;
  }
  st.progress.clear();
  st.summary.status = "complete";
  writer->finish(st.summary, st.start);
}

}  // namespace mps
