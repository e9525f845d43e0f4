#pragma once
// The result files of a run behind one interface, chosen once for the run's
// format (--output).  The time loop hands the writer each snapshot step's
// state and goes on; the writer decides the files, writes them on its
// output threads (writer.hpp) and closes each snapshot: its files on the
// disk first, then the step's line in "point.txt", then "summary.json".
//
//   text  the compressed columns, traces and flux files (snapshot.hpp,
//         traces.hpp) and a manifest a snapshot;
//   hdf5  a snapshot, a traces and at a block end a statistics file
//         (hdf5_results.hpp).
//
// Ownership.  The writer reads the state it is handed during snapshot()
// only: it copies it when the copies fit in the output bound, else it
// writes from the live arrays and returns once those files are written.
// It refers to the input and the warning stream without owning them: they
// must outlive it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "field/field_state.hpp"
#include "input/input_reader.hpp"
#include "medium/medium_state.hpp"
#include "output/file_tasks.hpp"
#include "output/manifest.hpp"
#include "output/summary.hpp"
#include "output/traces.hpp"
#include "output/writer.hpp"

namespace mps {

// The run's state at snapshot step J, as the loop holds it.
struct LiveState {
  const FieldState& field;  // both levels; field.Jtoggle is the new one
  const MediumState& medium;
  const DecayFactors& decay;       // factors at t = (J + 0.5) dt
  MonitorSamples samples;          // the block's samples, a view of the loop's buffers
  std::span<const double> max_ex;  // the field maximum of each row of the block [V/m]
};

// What a block end adds to its snapshot.
struct BlockEnd {
  std::vector<double> flux_rows;  // time [fs], flux at the left and the right end [W/m^2] a row
  StatisticsLines statistics;     // the block's statistics lines, for the statistics folder
};

// Step J's snapshot as the loop hands it on.
struct SnapshotStep {
  std::int64_t J = 0;
  std::int64_t block_start = 0;       // Jb: the block's rows are J - Jb = 1..
  double field_maximum = 0.0;         // step J's largest |Ex| [V/m]
  std::optional<BlockEnd> block_end;  // when J ends a block
};

// How the run's output threads are set up.
struct WriterSetup {
  std::size_t bound = BackgroundWriter::kDefaultBound;  // bytes of copies the jobs may hold
  int threads = 1;                                      // output threads beside the loop's
  std::int64_t statistics_interval = 1;                 // trace rows between statistics lines
};

// A snapshot's state as its tasks read it, share-owned or borrowed
// (result_writer.cpp).
struct SharedState;

// What the snapshots of the run record of it, and a continued run checks.
RunRecord run_record(const RunInput& input);

class ResultWriter {
 public:
  ResultWriter(const ResultWriter&) = delete;
  ResultWriter& operator=(const ResultWriter&) = delete;
  virtual ~ResultWriter() = default;

  // The files of step J's snapshot, its traces and, at a block end, the
  // block's flux and statistics, closed by "point.txt" and "summary.json"
  // (`figures`: the run's figures after step J - 1; the writer names the
  // files).  Throws the error of an earlier snapshot's files.
  void snapshot(SnapshotStep step, const LiveState& state, const Summary& figures);
  // Waits until every file is on the disk (throwing the first error of
  // one), then writes the closing "summary.json": `summary` with the files
  // of the last closed snapshot and the wall time since `start`.
  void finish(Summary summary, std::chrono::steady_clock::time_point start);

 protected:
  // The files of one snapshot in the writer's format.
  struct SnapshotFiles {
    FileTasks results;                       // in the results folder, listed in the summary
    FileTasks statistics;                    // in the statistics folder, at a block end
    std::shared_ptr<ManifestSink> manifest;  // a manifest to write, filled by the tasks
    std::string flux_file;                   // the block's flux file, for the summary
  };
  ResultWriter(const RunInput& input, const WriterSetup& setup, std::ostream& warnings);
  const RunInput& input() const { return input_; }

 private:
  // The format's files of one snapshot; may take the block end's data.
  virtual SnapshotFiles files_of(SnapshotStep& step, const SharedState& state) = 0;
  void submit_compression(std::vector<std::string> paths);

  const RunInput& input_;
  std::ostream& warnings_;
  std::vector<std::string> flux_files_;  // of every block end so far
  // The files the last closed snapshot listed; read once the threads are done.
  std::shared_ptr<std::vector<std::string>> listed_;
  // Plain ".dat" files found in the two folders when the run started
  // ("n_z.dat", and what a stopped run left): compressed with the first
  // snapshot and the first block end, so no folder is listed again.
  std::vector<std::string> leftover_results_, leftover_statistics_;
  // Last: it finishes every job before anything above goes.
  BackgroundWriter threads_;
};

// The writer of the run's format.  Takes the two result folders over from
// a run that stopped (its temporary files removed, named on `warnings`; its
// plain files compressed with the first snapshot) and creates "point.txt"
// when missing.  IoError when a folder does not exist.
std::unique_ptr<ResultWriter> make_result_writer(const RunInput& input, const WriterSetup& setup,
                                                 std::ostream& warnings);

}  // namespace mps
