#pragma once
// The results of a run as HDF5 files (--output=hdf5), instead of the text
// columns of snapshot.hpp and traces.hpp: per snapshot step J
// "snapshot_<L(J)>.h5" (the state, both levels, the flags) and
// "traces_<L(J)>.h5" (the block's monitor samples, the flux at a block
// end), and per block end "statistics_<L(J)>.h5" in the statistics folder.
// Layout: docs/hdf5_output.md.  Fields in V/m, every value in double
// precision as the run holds it; each file is written under a temporary
// name and renamed once complete.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/spectral_classes.hpp"
#include "field/field_state.hpp"
#include "medium/medium_state.hpp"
#include "output/file_tasks.hpp"
#include "output/snapshot.hpp"
#include "output/traces.hpp"

namespace mps {

// What every HDF5 file of a run says about it.
struct Hdf5Run {
  double dt = 0.0;                // [s]
  double dz = 0.0;                // [m]
  double E0 = 1.0;                // field scale [V/m]
  std::int32_t z1 = 0, z2 = 0;    // dot region (cells)
  std::string model;              // "corrected" or "legacy"
  bool both_transitions = false;  // sigma- light drives 3<->4 as well
  MagneticField magnetic;         // its Zeeman terms, when on
  Ensemble ensemble;              // spectral classes of the dots (--ensemble)
  std::vector<SpectralClass> classes;
  std::int64_t LL = 1;  // block length
  std::int64_t statistics_interval = 1;
};

// "snapshot_<L(J)>.h5" as one task sharing the state of `in`.
FileTasks hdf5_snapshot_tasks(const SnapshotInput& in, const std::shared_ptr<const Hdf5Run>& run);

// "traces_<L(J)>.h5" of the block's rows Jb+1..J as one task sharing the
// samples; with `flux_rows` (time, left, right per row) at a block end.
FileTasks hdf5_trace_tasks(const TraceInput& in, const std::shared_ptr<const Hdf5Run>& run,
                           std::vector<double> flux_rows);

// "statistics_<L(J)>.h5" of the block ending at J in `folder`, from the
// lines the running statistics recorded (values in units of E0 for the
// fields, as the text files have them).
FileTasks hdf5_statistics_tasks(StatisticsLines lines, const std::string& folder, std::int64_t J,
                                const std::vector<std::int32_t>& monitor_cells,
                                const std::shared_ptr<const Hdf5Run>& run);

// Restores both levels of step J from "snapshot_<L(J)>.h5" at `path`,
// whose step and level must be J and `level`, and whose run `run` (the
// continued one) must be: model, both transitions, dz, dt, E0 and the
// spectral classes with their offsets and weights.  The classes of the dot
// cells (m.classes, readied for the run's count) come from the file too.
// Every restored value must be finite, every flag one the run can hold.
// IoError, naming the file (and the object and value), for a file that is
// not such a snapshot or cannot be read; nothing is written.
void restore_hdf5_snapshot(const std::string& path, std::int64_t J, int level, const RunRecord& run,
                           FieldState& f, MediumState& m);

}  // namespace mps
