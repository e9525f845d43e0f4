#include "output/result_writer.hpp"

#include <array>
#include <ostream>
#include <utility>

#include "core/errors.hpp"
#include "output/compression.hpp"
#include "output/hdf5_results.hpp"
#include "output/result_files.hpp"
#include "output/snapshot.hpp"
#include "textio/text_file.hpp"

namespace mps {

RunRecord run_record(const RunInput& in) {
  RunRecord r;
  r.model = in.params.model == Model::legacy ? "legacy" : "corrected";
  r.both_transitions = in.params.both_transitions;
  r.dz = in.structure.dz;
  r.dt = in.structure.dt;
  r.E0 = in.params.field_scale();
  r.classes = spectral_classes(in.params.ensemble);
  const MagneticField& m = in.params.magnetic;
  r.magnetic_field = m.on;
  if (m.on) r.magnetic = {m.B[0], m.B[1], m.B[2], m.ge_inplane, m.ge_z, m.gh_inplane, m.gh_z};
  return r;
}

// The state of step J as a snapshot's tasks read it: pointers that
// share-own a copy or, when the state is larger than the writer's bound,
// pointers that borrow the live state and own nothing of it (`borrowed`;
// the job then borrows, and is finished before snapshot() returns).
struct SharedState {
  std::shared_ptr<const FieldState> field;
  std::shared_ptr<const MediumState> medium;
  std::shared_ptr<const DecayFactors> decay;
  std::shared_ptr<const MonitorSamples> samples;
  std::span<const double> max_ex;  // live: read on the loop's thread only
  bool borrowed = false;
};

namespace {

// Copies of the state at a snapshot step, share-owned by the snapshot's
// tasks through aliasing pointers into it; nobody changes them.
struct StateCopy {
  FieldState field;
  MediumState medium;
  DecayFactors decay;
  std::array<std::vector<double>, 6> sampled;  // the samples' quantities
  MonitorSamples samples;                      // view of `sampled`
};

std::size_t bytes_of(const LiveState& live) {
  const FieldState& f = live.field;
  const MediumState& m = live.medium;
  const std::size_t lanes =
      2 * m.w[0].size() + m.eq.size() + 2 * m.phys[0].size() + 2 * m.classes.w[0].size();
  const std::size_t doubles = 8 * f.Ex[0].size() + 6 * live.samples.quantity[0].size();
  return doubles * sizeof(double) + lanes * sizeof(Lanes) +
         m.slot.size() * (sizeof(std::int32_t) + 1);
}

SharedState copied_state(const LiveState& live) {
  auto copy = std::make_shared<StateCopy>(StateCopy{live.field, live.medium, live.decay, {}, {}});
  copy->samples = live.samples;
  for (std::size_t q = 0; q < copy->sampled.size(); ++q) {
    const std::span<const double> from = live.samples.quantity[q];
    copy->sampled[q].assign(from.begin(), from.end());
    copy->samples.quantity[q] = copy->sampled[q];
  }
  return {{copy, &copy->field},   {copy, &copy->medium}, {copy, &copy->decay},
          {copy, &copy->samples}, live.max_ex,           false};
}

SharedState borrowed_state(const LiveState& live) {
  // The samples' view is owned; the buffers it points into are the live ones.
  return {borrow(live.field), borrow(live.medium),
          borrow(live.decay), std::make_shared<const MonitorSamples>(live.samples),
          live.max_ex,        true};
}

// The closing step of a snapshot, once its files are complete: everything
// on the disk, and only then "point.txt" names the step (a continued run
// can trust every step listed), then the summary.  It holds what it writes
// by value but `listed`, which only close steps write (one at a time) and
// the writer reads once its threads are done.
struct SnapshotClose {
  std::string results_dir;
  std::string discarded_dir;  // at a block end (its statistics files), else empty
  std::int64_t J = 0;
  int level = 0;                                     // index of the new time level (Jtoggle)
  std::string summary;                               // "summary.json" with this snapshot's files
  std::vector<std::string> files;                    // the files it names
  std::shared_ptr<std::vector<std::string>> listed;  // of the latest closed snapshot
  std::shared_ptr<ManifestSink> manifest;            // filled by the snapshot's tasks

  void operator()() const {
    // A text snapshot's manifest; an HDF5 snapshot is one file, checksummed.
    if (manifest) write_manifest(results_dir, J, level, manifest->take(), manifest->run());
    textio::sync_folder(results_dir);
    if (!discarded_dir.empty()) textio::sync_folder(discarded_dir);
    record_snapshot(results_dir, J, level);
    write_summary_json(results_dir, summary);
    *listed = files;
  }
};

// The files a snapshot's summary names: the snapshot's (`results`), the
// plain files compressed before it (`leftovers`) and the run's other files.
std::vector<std::string> listed_files(std::int64_t J, const std::vector<std::string>& results,
                                      const std::vector<std::string>& leftovers, bool manifest) {
  std::vector<std::string> files;
  files.reserve(results.size() + leftovers.size() + 4);
  for (const std::string& path : results) files.push_back(result_files::file_name(path));
  for (const std::string& path : leftovers) {
    files.push_back(result_files::compressed(result_files::file_name(path)));
  }
  files.push_back(result_files::compressed(result_files::kIndexProfile));
  files.emplace_back(result_files::kParameters);
  if (manifest) files.push_back(result_files::manifest(J));
  files.emplace_back(result_files::kPoints);
  return files;
}

}  // namespace

ResultWriter::ResultWriter(const RunInput& input, const WriterSetup& setup, std::ostream& warnings)
    : input_(input),
      warnings_(warnings),
      listed_(std::make_shared<std::vector<std::string>>()),
      threads_(setup.bound, setup.threads) {
  for (const std::string* folder : {&input.dirs.results_dir, &input.dirs.discarded_dir}) {
    if (!textio::is_directory(*folder)) {
      throw IoError(*folder, "the folder \"" + *folder + "\" does not exist");
    }
    for (const std::string& path : remove_stale_temporaries(*folder)) {
      warnings_ << "mps1d: removed \"" << path << "\", left by a run that stopped\n";
    }
  }
  leftover_results_ = plain_dat_files(input.dirs.results_dir);
  leftover_statistics_ = plain_dat_files(input.dirs.discarded_dir);
  textio::append_text_file(input.dirs.results_dir + result_files::kPoints, "");
}

// Plain files found at the start, compressed in a job of their own before
// the next job's files, so a file of this run replaces a stale one of the
// same name.  One that cannot be compressed stays plain and is reported by
// the close step, and the run goes on: the warning stream outlives the
// writer, and no other thread writes it meanwhile.
void ResultWriter::submit_compression(std::vector<std::string> paths) {
  if (paths.empty()) return;
  const CompressionTasks compression(std::move(paths));
  Task report = [compression, &warnings = warnings_] {
    for (const std::string& failure : compression.report().failures) {
      warnings << "mps1d: warning: " << failure << "; the plain file is kept\n";
    }
  };
  threads_.submit(WriterJob{compression.tasks(), std::move(report), 0, false});
}

void ResultWriter::snapshot(SnapshotStep step, const LiveState& state, const Summary& figures) {
  const std::size_t bytes = bytes_of(state);
  const SharedState shared =
      bytes <= threads_.bound() ? copied_state(state) : borrowed_state(state);
  const bool block_end = step.block_end.has_value();
  const std::vector<std::string> leftovers = leftover_results_;
  submit_compression(std::exchange(leftover_results_, {}));
  if (block_end) submit_compression(std::exchange(leftover_statistics_, {}));

  SnapshotFiles files = files_of(step, shared);
  if (!files.flux_file.empty()) flux_files_.push_back(files.flux_file);
  Summary summary = figures;
  summary.flux_files = flux_files_;
  summary.files = listed_files(step.J, files.results.paths, leftovers, files.manifest != nullptr);
  SnapshotClose close;
  close.results_dir = input_.dirs.results_dir;
  if (block_end) close.discarded_dir = input_.dirs.discarded_dir;
  close.J = step.J;
  close.level = state.field.Jtoggle;
  close.summary = summary_json(input_, summary);
  close.files = std::move(summary.files);
  close.listed = listed_;
  close.manifest = std::move(files.manifest);
  files.results.append(std::move(files.statistics));
  threads_.submit(WriterJob{std::move(files.results.tasks), std::move(close),
                            shared.borrowed ? 0 : bytes, shared.borrowed});
}

void ResultWriter::finish(Summary summary, std::chrono::steady_clock::time_point start) {
  threads_.finish();
  summary.files = *listed_;
  summary.flux_files = flux_files_;
  summary.wall_time_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  write_summary(input_, summary);
}

namespace {

// The block traces of a snapshot as its tasks read them.
TraceInput trace_input(const RunInput& in, const SnapshotStep& step,
                       std::shared_ptr<const MonitorSamples> samples) {
  TraceInput traces;
  traces.J = step.J;
  traces.Jb = step.block_start;
  traces.every = in.params.trace_every;
  traces.dt = in.structure.dt;
  traces.E0 = in.params.field_scale();
  traces.monitor_cells = in.params.monitor_cells;
  traces.samples = std::move(samples);
  traces.folder = in.dirs.results_dir;
  traces.storage = textio::Storage::gzip;
  return traces;
}

// The snapshot's state as its tasks read it (the text files gzip-compressed).
SnapshotInput snapshot_input(const RunInput& in, const SnapshotStep& step,
                             const SharedState& state) {
  SnapshotInput snap;
  snap.J = step.J;
  snap.Jb = step.block_start;
  snap.field = state.field;
  snap.medium = state.medium;
  snap.decay = state.decay;
  snap.E0 = in.params.field_scale();
  snap.folder = in.dirs.results_dir;
  snap.storage = textio::Storage::gzip;
  snap.manifest = nullptr;
  return snap;
}

// "flux_<J>.dat" of a block end, a task that owns the block's rows.
FileTasks flux_file(const std::string& folder, std::int64_t J, std::vector<double> rows) {
  FileTasks files;
  files.paths.push_back(textio::stored_path(folder + result_files::flux(J), textio::Storage::gzip));
  files.tasks.emplace_back([folder, J, rows = std::move(rows)] {
    write_flux_records(folder, J, rows, textio::Storage::gzip);
  });
  return files;
}

}  // namespace

// Compressed text columns: the snapshot, its traces, at a block end the
// flux and the statistics files, and a manifest the restore checks.
class TextWriter final : public ResultWriter {
 public:
  TextWriter(const RunInput& input, const WriterSetup& setup, std::ostream& warnings)
      : ResultWriter(input, setup, warnings), run_values_(run_values(run_record(input))) {}

 private:
  SnapshotFiles files_of(SnapshotStep& step, const SharedState& state) override;
  std::vector<RunValue> run_values_;  // what every manifest records of the run
};

ResultWriter::SnapshotFiles TextWriter::files_of(SnapshotStep& step, const SharedState& state) {
  const RunInput& in = input();
  SnapshotFiles files;
  files.manifest = std::make_shared<ManifestSink>(run_values_);
  SnapshotInput snap = snapshot_input(in, step, state);
  snap.manifest = files.manifest;
  files.results = snapshot_tasks(snap, state.max_ex, step.field_maximum);
  files.results.append(trace_tasks(trace_input(in, step, state.samples)));
  if (step.block_end) {
    BlockEnd& end = *step.block_end;
    files.results.append(flux_file(in.dirs.results_dir, step.J, std::move(end.flux_rows)));
    files.flux_file = result_files::compressed(result_files::flux(step.J));
    files.statistics = statistics_tasks(std::move(end.statistics), textio::Storage::gzip);
  }
  return files;
}

// HDF5 files: a snapshot and a traces file a snapshot step (the flux rows
// in the traces file at a block end), a statistics file a block end.
class Hdf5Writer final : public ResultWriter {
 public:
  Hdf5Writer(const RunInput& input, const WriterSetup& setup, std::ostream& warnings);

 private:
  SnapshotFiles files_of(SnapshotStep& step, const SharedState& state) override;
  std::shared_ptr<const Hdf5Run> run_;  // what its files say of the run
};

Hdf5Writer::Hdf5Writer(const RunInput& input, const WriterSetup& setup, std::ostream& warnings)
    : ResultWriter(input, setup, warnings) {
  auto run = std::make_shared<Hdf5Run>();
  run->dt = input.structure.dt;
  run->dz = input.structure.dz;
  run->E0 = input.params.field_scale();
  run->z1 = input.structure.z1;
  run->z2 = input.structure.z2;
  run->model = input.params.model == Model::legacy ? "legacy" : "corrected";
  run->both_transitions = input.params.both_transitions;
  run->magnetic = input.params.magnetic;
  run->ensemble = input.params.ensemble;
  run->classes = spectral_classes(input.params.ensemble);
  run->LL = input.params.LL;
  run->statistics_interval = setup.statistics_interval;
  run_ = std::move(run);
}

ResultWriter::SnapshotFiles Hdf5Writer::files_of(SnapshotStep& step, const SharedState& state) {
  const RunInput& in = input();
  SnapshotFiles files;
  files.results = hdf5_snapshot_tasks(snapshot_input(in, step, state), run_);
  std::vector<double> flux_rows;
  if (step.block_end) flux_rows = std::move(step.block_end->flux_rows);
  files.results.append(
      hdf5_trace_tasks(trace_input(in, step, state.samples), run_, std::move(flux_rows)));
  if (step.block_end) {
    files.statistics =
        hdf5_statistics_tasks(std::move(step.block_end->statistics), in.dirs.discarded_dir, step.J,
                              in.params.monitor_cells, run_);
  }
  return files;
}

std::unique_ptr<ResultWriter> make_result_writer(const RunInput& input, const WriterSetup& setup,
                                                 std::ostream& warnings) {
  if (input.params.output == OutputFormat::hdf5) {
    return std::make_unique<Hdf5Writer>(input, setup, warnings);
  }
  return std::make_unique<TextWriter>(input, setup, warnings);
}

}  // namespace mps
