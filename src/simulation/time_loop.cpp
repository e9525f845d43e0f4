#include "simulation/time_loop.hpp"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <memory>
#include <ostream>
#include <utility>

#include "output/compression.hpp"
#include "output/restore.hpp"
#include "output/snapshot.hpp"
#include "output/summary.hpp"
#include "output/traces.hpp"
#include "output/writer.hpp"
#include "simulation/budget.hpp"
#include "simulation/monitors.hpp"
#include "simulation/progress.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

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

void restore_run(const RunInput& in, RunState& run) {
  const RunParameters& p = in.params;
  RestoreInput restore;
  restore.J_final = p.J_final;
  restore.E0 = p.field_scale();
  restore.results_dir = in.dirs.results_dir;
  restore.continue_dir = in.dirs.continue_dir;
  MediumState& m = run.sim.medium;
  restore_snapshot(restore, run.sim.field, m);
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
}

namespace {

// Copies of the state for a snapshot written on the output threads.
struct StateCopy {
  FieldState field;
  MediumState medium;
  DecayFactors decay;
  MonitorBuffers monitors;
};

// What a snapshot writes: the state of step J (views of the live arrays,
// or of copies the job owns) and the block's statistics lines.
struct SnapshotJob {
  std::int64_t J = 0, Jb = 0;
  bool block_end = false;
  double max_variable = 0.0;  // the loop's field maximum of step J
  std::unique_ptr<StateCopy> copy;
  const FieldState* field = nullptr;
  const MediumState* medium = nullptr;
  const DecayFactors* decay = nullptr;
  const MonitorBuffers* monitors = nullptr;
  StatisticsLines statistics;
  std::vector<std::string> leftover_results;  // compressed before, named in the summary
  Summary summary;                            // written with the snapshot, its file names added
  std::vector<double> flux_rows;              // of the block, at a block end
  // The file names of the latest closed snapshot, for the summary at the end
  // (jobs close in order, on the output threads).
  std::shared_ptr<std::vector<std::string>> listed;
};

// Working values of the loop that live across steps and blocks.
struct LoopState {
  std::int64_t block = 1;  // b
  std::int64_t Jb = 0;     // block start
  double max_variable = 0.0;
  RunningStatistics statistics;
  std::int64_t statistics_interval = 1;  // trace rows between two statistics lines
  std::string block_label;               // label of b LL, names the statistics files
  std::ostream* warnings = nullptr;
  BackgroundWriter* writer = nullptr;
  EnergyBudget budget;
  Summary summary;  // of the last snapshot
  // The files the last closed snapshot listed; read once the writer is done.
  std::shared_ptr<std::vector<std::string>> listed = std::make_shared<std::vector<std::string>>();
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  Progress progress;
  // Plain ".dat" files found in the two folders when the run started
  // ("n_z.dat", and what a stopped run left): compressed with the first
  // snapshot and the first block end, so no folder is listed again.
  std::vector<std::string> leftover_results, leftover_statistics;
};

// Compresses the files; one that cannot be compressed stays plain and is
// reported, and the run goes on.
void compress(const std::vector<std::string>& paths, std::ostream& warnings) {
  const CompressionReport report = compress_files(paths);
  for (const std::string& failure : report.failures) {
    warnings << "mps1d: warning: " << failure << "; the plain file is kept\n";
  }
}

// Plain files found at the start, compressed in a job of their own before
// the next job's files, so a file of this run replaces a stale one of the
// same name.
void submit_compression(BackgroundWriter& writer, const std::vector<std::string>& paths,
                        std::ostream& warnings) {
  if (paths.empty()) return;
  writer.submit([paths, &warnings] { compress(paths, warnings); }, 0);
}

// The files of a snapshot as tasks of the output threads: the snapshot and
// its traces, at a block end the flux records and the block's statistics,
// each compressed as it is written.
FileTasks snapshot_files(const RunInput& in, SnapshotJob& job) {
  const RunParameters& p = in.params;
  SnapshotInput snap;
  snap.J = job.J;
  snap.Jb = job.Jb;
  snap.field = job.field;
  snap.medium = job.medium;
  snap.decay = job.decay;
  snap.max_buffer = &job.monitors->max_ex;
  snap.E0 = p.field_scale();
  snap.folder = in.dirs.results_dir;
  snap.storage = textio::Storage::gzip;
  double max_variable = job.max_variable;
  FileTasks files = snapshot_tasks(snap, max_variable);

  TraceInput traces;
  traces.J = job.J;
  traces.Jb = job.Jb;
  traces.dt = in.structure.dt;
  traces.E0 = p.field_scale();
  traces.monitor_cells = &p.monitor_cells;
  traces.samples = job.monitors->samples();
  traces.folder = in.dirs.results_dir;
  traces.storage = textio::Storage::gzip;
  files.append(trace_tasks(traces));
  if (job.block_end) {
    const std::string flux = in.dirs.results_dir + "flux_" + textio::step_label(job.J) + ".dat";
    files.paths.push_back(textio::stored_path(flux, textio::Storage::gzip));
    files.tasks.emplace_back([&in, &job] {
      write_flux_records(in.dirs.results_dir, job.J, job.flux_rows, textio::Storage::gzip);
    });
  }
  return files;
}

// The closing step of a snapshot, once its files are complete: everything
// on the disk, and only then "point.txt" names the step (a continued run
// can trust every step listed), then the summary.
void close_snapshot(const RunInput& in, SnapshotJob& job, const std::vector<std::string>& results) {
  textio::sync_folder(in.dirs.results_dir);
  if (job.block_end) textio::sync_folder(in.dirs.discarded_dir);
  record_snapshot(in.dirs.results_dir, job.J, job.field->Jtoggle);
  for (const std::string& path : results) {
    job.summary.files.push_back(path.substr(path.rfind('/') + 1));
  }
  for (const std::string& path : job.leftover_results) {
    job.summary.files.push_back(path.substr(path.rfind('/') + 1) + ".gz");
  }
  for (const char* name : {"n_z.dat.gz", "param.txt", "point.txt"})
    job.summary.files.emplace_back(name);
  write_summary(in, job.summary);
  *job.listed = job.summary.files;
}

std::size_t bytes_of(const RunState& run) {
  const FieldState& f = run.sim.field;
  const MediumState& m = run.sim.medium;
  const std::size_t lanes = 2 * m.w[0].size() + m.eq.size() + 2 * m.phys[0].size();
  const std::size_t doubles = 8 * f.Ex[0].size() + 7 * run.monitors.ex.size();
  return doubles * sizeof(double) + lanes * sizeof(Lanes) +
         m.slot.size() * (sizeof(std::int32_t) + 1);
}

// The job of step J's snapshot: copies of the state when they fit in the
// writer's bound, else views of the live arrays (the writer then finishes
// it before the loop goes on).
std::shared_ptr<SnapshotJob> snapshot_job(const RunInput& in, RunState& run, LoopState& st,
                                          std::int64_t J, bool copies) {
  auto job = std::make_shared<SnapshotJob>();
  job->J = J;
  job->Jb = st.Jb;
  job->block_end = J == st.block * in.params.LL;
  job->max_variable = st.max_variable;
  job->leftover_results = st.leftover_results;
  if (job->block_end) {
    job->statistics = st.statistics.take(in.dirs.discarded_dir);
    job->flux_rows = std::move(st.budget.flux_rows);
    st.budget.flux_rows.clear();
    st.summary.flux_files.push_back("flux_" + textio::step_label(J) + ".dat.gz");
  }
  job->summary = st.summary;
  job->listed = st.listed;
  if (copies) {
    job->copy = std::make_unique<StateCopy>(
        StateCopy{run.sim.field, run.sim.medium, run.sim.medium_step.decay, run.monitors});
    job->field = &job->copy->field, job->medium = &job->copy->medium;
    job->decay = &job->copy->decay, job->monitors = &job->copy->monitors;
  } else {
    job->field = &run.sim.field, job->medium = &run.sim.medium;
    job->decay = &run.sim.medium_step.decay, job->monitors = &run.monitors;
  }
  return job;
}

// The snapshot of step J.  The state is checked first (a NaN stops the run
// here, before anything of the step is written); the files are written by
// the output threads.
void write_snapshot_files(const RunInput& in, RunState& run, LoopState& st, std::int64_t J) {
  check_finite_state(run.sim, J);
  const std::size_t bytes = bytes_of(run);
  std::shared_ptr<SnapshotJob> job =
      snapshot_job(in, run, st, J, bytes <= BackgroundWriter::kDefaultBound);
  submit_compression(*st.writer, std::exchange(st.leftover_results, {}), *st.warnings);
  if (job->block_end) {
    submit_compression(*st.writer, std::exchange(st.leftover_statistics, {}), *st.warnings);
  }
  FileTasks files = snapshot_files(in, *job);
  const std::size_t results = files.paths.size();  // the summary names these
  if (job->block_end) {
    files.append(statistics_tasks(std::move(job->statistics), textio::Storage::gzip));
  }
  WriterJob w;
  for (auto& task : files.tasks) w.tasks.emplace_back([job, task = std::move(task)] { task(); });
  w.close = [&in, job, paths = std::move(files.paths), results] {
    close_snapshot(in, *job, {paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(results)});
  };
  w.bytes = bytes;
  st.writer->submit(std::move(w));
}

// The summary of the snapshot of step J, from the budget of step J - 1.
void update_summary(const RunInput& in, const RunState& run, LoopState& st, std::int64_t J) {
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
  s.pulse_peak_time_s = static_cast<double>(b.source_peak_step) * in.structure.dt;
  s.pulse_energy = b.source_energy;
  s.snapshots.push_back(J);
  s.files.clear();
}

// Step J of the run: the step itself, the samples of the monitor cells and
// the field maximum, the running statistics, and at a snapshot step the
// snapshot, traces and statistics.
void normal_step(const RunInput& in, RunState& run, LoopState& st, std::int64_t J) {
  const std::int64_t r = J - st.Jb;
  step(run.sim, J);
  const bool snapshot = is_snapshot_step(J, in.params.LL, st.block, st.Jb);
  if (snapshot) {
    complete_budget(in, run.sim, J, st.budget);  // figures of J - 1, before this step's flux
    update_summary(in, run, st, J);
  }
  account_step(in, run.sim, J, st.budget);
  sample_monitors(in, run.sim, run.monitors, r);
  st.max_variable = run.sim.max_ex;
  run.monitors.max_ex[static_cast<std::size_t>(r)] = st.max_variable;
  st.statistics.update(run.monitors.samples(), r);
  if (r % st.statistics_interval == 0) st.statistics.record(st.block_label);
  if (snapshot) write_snapshot_files(in, run, st, J);
  st.progress.show(J, st.start);
}

// One block: its progress line, the buffers' row 0 (the restored step's
// samples when the run goes on from a stored one), "point.txt" (created
// empty when missing), then the steps.
void run_block(const RunInput& in, RunState& run, LoopState& st, bool follows, bool continuing,
               std::ostream& progress) {
  const RunParameters& p = in.params;
  progress << ' ' << "      Loop from -> " << std::setw(12) << st.Jb << " Step-> " << std::setw(12)
           << p.LL << '\n'
           << std::flush;
  st.block_label = textio::step_label(st.block * p.LL);
  if (follows) carry_last_row(run.monitors);
  if (continuing) {
    sample_monitors(in, run.sim, run.monitors, 0);
  } else {
    textio::append_text_file(in.dirs.results_dir + "point.txt", "");
  }
  for (std::int64_t J = st.Jb + 1; J <= st.block * p.LL; ++J) normal_step(in, run, st, J);
}

// The summary at the end, once the output threads are done.
void finish_summary(const RunInput& in, LoopState& st, const char* status) {
  st.summary.status = status;
  st.summary.files = *st.listed;
  st.summary.wall_time_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - st.start).count();
  write_summary(in, st.summary);
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
  if (continuing && !run.restored) restore_run(in, run);

  LoopState st;
  st.block = plan.first_block;
  st.Jb = plan.first_start;
  st.warnings = &warnings;
  // A block shorter than 2000 steps would give an interval of 0: every
  // step gets its statistics line then.
  st.statistics_interval = std::max<std::int64_t>(p.LL / 2000, 1);
  st.statistics = RunningStatistics(p.monitor_cells, p.field_scale());
  for (const std::string* folder : {&in.dirs.results_dir, &in.dirs.discarded_dir}) {
    if (!textio::is_directory(*folder)) {
      throw IoError(*folder, "the folder \"" + *folder + "\" does not exist");
    }
    for (const std::string& path : remove_stale_temporaries(*folder)) {
      warnings << "mps1d: removed \"" << path << "\", left by a run that stopped\n";
    }
  }
  st.leftover_results = plain_dat_files(in.dirs.results_dir);
  st.leftover_statistics = plain_dat_files(in.dirs.discarded_dir);

  st.budget = start_budget(in, run.sim);
  st.progress = Progress(&warnings, p.J_final, plan.first_start + plan.blocks * p.LL);
  // One output thread beside each thread the steps leave idle (at least
  // one); the loop's thread joins them where it would wait.
  const int threads = omp_get_max_threads();
  BackgroundWriter writer(BackgroundWriter::kDefaultBound,
                          step_forks(run.sim) ? 1 : std::max(threads - 1, 1));
  st.writer = &writer;
  try {
    for (std::int64_t n = 0; n < plan.blocks; ++n) {
      run_block(in, run, st, n > 0, n == 0 && continuing, progress);
      st.block += 1;
      st.Jb += p.LL;
    }
    writer.finish();
  } catch (const NonFiniteError&) {
    st.progress.clear();
    writer.finish();  // what was computed before is written
    finish_summary(in, st, "stopped");
    throw;
  }
  st.progress.clear();
  finish_summary(in, st, "complete");
}

}  // namespace mps
