#include "simulation/time_loop.hpp"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <memory>
#include <ostream>
#include <span>
#include <utility>

#include "output/compression.hpp"
#include "output/hdf5_results.hpp"
#include "output/restore.hpp"
#include "output/result_files.hpp"
#include "output/snapshot.hpp"
#include "output/summary.hpp"
#include "output/traces.hpp"
#include "output/writer.hpp"
#include "simulation/budget.hpp"
#include "simulation/monitors.hpp"
#include "simulation/progress.hpp"
#include "simulation/team.hpp"
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

namespace {

// What the snapshots of the run record of it, and a continued run checks.
RunRecord run_record(const RunInput& in) {
  RunRecord r;
  r.model = in.params.model == Model::legacy ? "legacy" : "corrected";
  r.both_transitions = in.params.both_transitions;
  r.dz = in.structure.dz;
  r.dt = in.structure.dt;
  r.E0 = in.params.field_scale();
  r.classes = spectral_classes(in.params.ensemble);
  return r;
}

}  // namespace

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

// Copies of the state at a snapshot step, share-owned by the snapshot's
// tasks through aliasing pointers into it; nobody changes them.
struct StateCopy {
  FieldState field;
  MediumState medium;
  DecayFactors decay;
  MonitorBuffers monitors;
  MonitorSamples samples;  // view of `monitors`
};

// The state of step J as a snapshot's tasks read it: pointers that
// share-own a StateCopy or, when the state is larger than the writer's
// bound, pointers that borrow the live run state and own nothing of it
// (`borrowed`; the job then borrows, and the writer finishes it before the
// loop changes the arrays again).
struct SnapshotState {
  std::shared_ptr<const FieldState> field;
  std::shared_ptr<const MediumState> medium;
  std::shared_ptr<const DecayFactors> decay;
  std::shared_ptr<const MonitorSamples> samples;
  bool borrowed = false;
};

SnapshotState copied_state(const RunState& run) {
  auto copy = std::make_shared<StateCopy>(
      StateCopy{run.sim.field, run.sim.medium, run.sim.medium_step.decay, run.monitors, {}});
  copy->samples = copy->monitors.samples();
  return {{copy, &copy->field},
          {copy, &copy->medium},
          {copy, &copy->decay},
          {copy, &copy->samples},
          false};
}

SnapshotState borrowed_state(const RunState& run) {
  // The samples' view is owned; the buffers it points into are the live ones.
  return {borrow(run.sim.field), borrow(run.sim.medium), borrow(run.sim.medium_step.decay),
          std::make_shared<const MonitorSamples>(run.monitors.samples()), true};
}

// Step J's snapshot as the loop hands it on.
struct SnapshotStep {
  std::int64_t J = 0, Jb = 0;
  int Jtoggle = 0;
  bool block_end = false;
  double max_variable = 0.0;      // the loop's field maximum of step J
  std::vector<double> flux_rows;  // of the block, at its end
};

// The closing step of a snapshot, once its files are complete: everything
// on the disk, and only then "point.txt" names the step (a continued run
// can trust every step listed), then the summary.  It holds what it writes
// by value but `listed`, which only close steps write (one at a time) and
// the loop reads once the writer has finished.
struct SnapshotClose {
  std::string results_dir;
  std::string discarded_dir;  // at a block end (its statistics files), else empty
  std::int64_t J = 0;
  int Jtoggle = 0;
  std::string summary;                               // "summary.json" with this snapshot's files
  std::vector<std::string> files;                    // the files it names
  std::shared_ptr<std::vector<std::string>> listed;  // of the latest closed snapshot
  std::shared_ptr<ManifestSink> manifest;            // filled by the snapshot's tasks

  void operator()() const {
    // A text snapshot's manifest; an HDF5 snapshot is one file, checksummed.
    if (manifest) write_manifest(results_dir, J, Jtoggle, manifest->take(), manifest->run());
    textio::sync_folder(results_dir);
    if (!discarded_dir.empty()) textio::sync_folder(discarded_dir);
    record_snapshot(results_dir, J, Jtoggle);
    write_summary_json(results_dir, summary);
    *listed = files;
  }
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
  TeamChooser team{1, false};           // the threads of the steps
  std::shared_ptr<const Hdf5Run> hdf5;  // with --output=hdf5: what its files say of the run
  Summary summary;                      // of the last snapshot
  // The files the last closed snapshot listed; read once the writer is done.
  std::shared_ptr<std::vector<std::string>> listed = std::make_shared<std::vector<std::string>>();
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  Progress progress;
  // Plain ".dat" files found in the two folders when the run started
  // ("n_z.dat", and what a stopped run left): compressed with the first
  // snapshot and the first block end, so no folder is listed again.
  std::vector<std::string> leftover_results, leftover_statistics;
};

// Plain files found at the start, compressed in a job of their own before
// the next job's files, so a file of this run replaces a stale one of the
// same name.  One that cannot be compressed stays plain and is reported by
// the close step, and the run goes on: `warnings` outlives the writer (both
// belong to run_time_loop), and no other thread writes it meanwhile.
void submit_compression(BackgroundWriter& writer, std::vector<std::string> paths,
                        std::ostream& warnings) {
  if (paths.empty()) return;
  const CompressionTasks compression(std::move(paths));
  Task report = [compression, &warnings] {
    for (const std::string& failure : compression.report().failures) {
      warnings << "mps1d: warning: " << failure << "; the plain file is kept\n";
    }
  };
  writer.submit(WriterJob{compression.tasks(), std::move(report), 0, false});
}

// "flux_<J>.dat" of a block end, a task that owns the block's rows.
FileTasks flux_file(const std::string& folder, std::int64_t J, std::vector<double> rows) {
  FileTasks files;
  const std::string flux = folder + result_files::flux(J);
  files.paths.push_back(textio::stored_path(flux, textio::Storage::gzip));
  files.tasks.emplace_back([folder, J, rows = std::move(rows)] {
    write_flux_records(folder, J, rows, textio::Storage::gzip);
  });
  return files;
}

// The files of a snapshot as tasks of the output threads: the snapshot, its
// traces and at a block end the flux rows, as compressed text or as HDF5.
// The tasks share `state`.
FileTasks snapshot_files(const RunInput& in, const LoopState& st, SnapshotStep& s,
                         const SnapshotState& state, std::span<const double> max_ex,
                         const std::shared_ptr<ManifestSink>& manifest) {
  const RunParameters& p = in.params;
  SnapshotInput snap;
  snap.J = s.J;
  snap.Jb = s.Jb;
  snap.field = state.field;
  snap.medium = state.medium;
  snap.decay = state.decay;
  snap.E0 = p.field_scale();
  snap.folder = in.dirs.results_dir;
  snap.storage = textio::Storage::gzip;
  snap.manifest = manifest;
  double max_variable = s.max_variable;
  FileTasks files =
      st.hdf5 ? hdf5_snapshot_tasks(snap, st.hdf5) : snapshot_tasks(snap, max_ex, max_variable);

  TraceInput traces;
  traces.J = s.J;
  traces.Jb = s.Jb;
  traces.dt = in.structure.dt;
  traces.E0 = p.field_scale();
  traces.monitor_cells = p.monitor_cells;
  traces.samples = state.samples;
  traces.folder = in.dirs.results_dir;
  traces.storage = textio::Storage::gzip;
  if (st.hdf5) {
    files.append(hdf5_trace_tasks(traces, st.hdf5, std::move(s.flux_rows)));
  } else {
    files.append(trace_tasks(traces));
    if (s.block_end) files.append(flux_file(in.dirs.results_dir, s.J, std::move(s.flux_rows)));
  }
  return files;
}

// What the HDF5 files of a run say about it.
std::shared_ptr<const Hdf5Run> hdf5_run(const RunInput& in, std::int64_t statistics_interval) {
  auto run = std::make_shared<Hdf5Run>();
  run->dt = in.structure.dt;
  run->dz = in.structure.dz;
  run->E0 = in.params.field_scale();
  run->z1 = in.structure.z1;
  run->z2 = in.structure.z2;
  run->model = in.params.model == Model::legacy ? "legacy" : "corrected";
  run->both_transitions = in.params.both_transitions;
  run->ensemble = in.params.ensemble;
  run->classes = spectral_classes(in.params.ensemble);
  run->LL = in.params.LL;
  run->statistics_interval = statistics_interval;
  return run;
}

// The closing step of step J's snapshot: the summary made here, naming the
// snapshot's files (`results`), the plain files compressed before it
// (`leftovers`) and the run's other files.
SnapshotClose snapshot_close(const RunInput& in, const LoopState& st, const SnapshotStep& s,
                             const std::vector<std::string>& results,
                             const std::vector<std::string>& leftovers) {
  Summary summary = st.summary;
  for (const std::string& path : results) summary.files.push_back(path.substr(path.rfind('/') + 1));
  for (const std::string& path : leftovers) {
    summary.files.push_back(path.substr(path.rfind('/') + 1) + ".gz");
  }
  summary.files.push_back(std::string(result_files::kIndexProfile) + ".gz");
  summary.files.emplace_back(result_files::kParameters);
  if (!st.hdf5) summary.files.push_back(result_files::manifest(s.J));
  summary.files.emplace_back(result_files::kPoints);
  SnapshotClose close;
  close.results_dir = in.dirs.results_dir;
  if (s.block_end) close.discarded_dir = in.dirs.discarded_dir;
  close.J = s.J;
  close.Jtoggle = s.Jtoggle;
  close.summary = summary_json(in, summary);
  close.files = std::move(summary.files);
  close.listed = st.listed;
  return close;
}

std::size_t bytes_of(const RunState& run) {
  const FieldState& f = run.sim.field;
  const MediumState& m = run.sim.medium;
  const std::size_t lanes =
      2 * m.w[0].size() + m.eq.size() + 2 * m.phys[0].size() + 2 * m.classes.w[0].size();
  const std::size_t doubles = 8 * f.Ex[0].size() + 7 * run.monitors.ex.size();
  return doubles * sizeof(double) + lanes * sizeof(Lanes) +
         m.slot.size() * (sizeof(std::int32_t) + 1);
}

// The snapshot of step J.  The state is checked first (a NaN stops the run
// here, before anything of the step is written); the files are written by
// the output threads, from copies of the state when they fit in the
// writer's bound, else from the live arrays before the loop goes on.
void write_snapshot_files(const RunInput& in, RunState& run, LoopState& st, std::int64_t J) {
  check_finite_state(run.sim, J);
  SnapshotStep s{J, st.Jb, run.sim.field.Jtoggle, J == st.block * in.params.LL, st.max_variable,
                 {}};
  const std::size_t bytes = bytes_of(run);
  const SnapshotState state = bytes <= st.writer->bound() ? copied_state(run) : borrowed_state(run);
  StatisticsLines statistics;
  if (s.block_end) {
    statistics = st.statistics.take(in.dirs.discarded_dir);
    s.flux_rows = std::exchange(st.budget.flux_rows, {});
    if (!st.hdf5) st.summary.flux_files.push_back(result_files::flux(J) + ".gz");
  }
  const std::vector<std::string> leftovers = st.leftover_results;
  submit_compression(*st.writer, std::exchange(st.leftover_results, {}), *st.warnings);
  if (s.block_end) {
    submit_compression(*st.writer, std::exchange(st.leftover_statistics, {}), *st.warnings);
  }
  auto manifest = st.hdf5 ? nullptr : std::make_shared<ManifestSink>(run_values(run_record(in)));
  FileTasks files = snapshot_files(in, st, s, state, run.monitors.max_ex, manifest);
  SnapshotClose close = snapshot_close(in, st, s, files.paths, leftovers);
  close.manifest = std::move(manifest);
  if (s.block_end && st.hdf5) {
    files.append(hdf5_statistics_tasks(std::move(statistics), in.dirs.discarded_dir, J,
                                       in.params.monitor_cells, st.hdf5));
  } else if (s.block_end) {
    files.append(statistics_tasks(std::move(statistics), textio::Storage::gzip));
  }
  st.writer->submit(WriterJob{std::move(files.tasks), std::move(close), state.borrowed ? 0 : bytes,
                              state.borrowed});
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
  st.progress.clear();  // the block's line starts a line of its own
  progress << ' ' << "      Loop from -> " << std::setw(12) << st.Jb << " Step-> " << std::setw(12)
           << p.LL << '\n'
           << std::flush;
  st.block_label = textio::step_label(st.block * p.LL);
  if (follows) carry_last_row(run.monitors);
  if (continuing) {
    sample_monitors(in, run.sim, run.monitors, 0);
  } else {
    textio::append_text_file(in.dirs.results_dir + result_files::kPoints, "");
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

// The two result folders as a stopped run left them: its hidden temporary
// files removed, its plain files to be compressed.
void take_over_folders(const RunInput& in, LoopState& st) {
  for (const std::string* folder : {&in.dirs.results_dir, &in.dirs.discarded_dir}) {
    if (!textio::is_directory(*folder)) {
      throw IoError(*folder, "the folder \"" + *folder + "\" does not exist");
    }
    for (const std::string& path : remove_stale_temporaries(*folder)) {
      *st.warnings << "mps1d: removed \"" << path << "\", left by a run that stopped\n";
    }
  }
  st.leftover_results = plain_dat_files(in.dirs.results_dir);
  st.leftover_statistics = plain_dat_files(in.dirs.discarded_dir);
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
  st.warnings = &warnings;
  // A block shorter than 2000 steps would give an interval of 0: every
  // step gets its statistics line then.
  st.statistics_interval = std::max<std::int64_t>(p.LL / 2000, 1);
  st.statistics = RunningStatistics(p.monitor_cells, p.field_scale());
  if (p.output == OutputFormat::hdf5) st.hdf5 = hdf5_run(in, st.statistics_interval);
  take_over_folders(in, st);
  st.budget = start_budget(in, run.sim);
  st.progress = Progress(&warnings, p.J_final, plan.first_start + plan.blocks * p.LL);
  // One output thread beside each thread the steps leave idle (at least
  // one); the loop's thread joins them where it would wait.  The jobs refer
  // to `warnings` without owning it; the writer, declared after it, has
  // finished them before it goes away.
  const int threads = omp_get_max_threads();
  st.team = TeamChooser(threads, step_forks(run.sim));
  BackgroundWriter writer(run.output_bound, step_forks(run.sim) ? 1 : std::max(threads - 1, 1));
  st.writer = &writer;
  try {
    for (std::int64_t n = 0; n < plan.blocks; ++n) {
      run_block(in, run, st, n > 0, n == 0 && continuing, progress);
      st.block += 1;
      st.Jb += p.LL;
    }
    writer.finish();
  } catch (const NonFiniteError& e) {
    st.progress.clear();
    writer.finish();  // what was computed before is written
    record_stop(e, st.summary);
    finish_summary(in, st, "stopped");
    throw;
  }
  st.progress.clear();
  finish_summary(in, st, "complete");
}

}  // namespace mps
