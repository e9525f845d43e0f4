#pragma once
// Spatial snapshots: the complete state along z at one step, both time
// levels, as one-column text files in the results folder.
//
// Files at step J (L(J) = 12-digit zero-padded label):
//   Ex_z, Ey_z (divided by the field scale E0), Hx_z, Hy_z, u1_z..u15_z
//     (stored medium values w), each for L(J) (new level) and L(J-1) (old
//     level), one E23.12 value per cell;
//   s13_z..s15_z L(1): the physical u13..u15 at step 1 only (E13.5), whose
//     u13_z..u15_z files of L(1) then stay empty;
//   gamma.dat: the population flags, "d d d d " per cell;
//   stmp L(J): J, Jtoggle, 1 - Jtoggle and the 15 decay factors;
//   Ex_max.dat: Ex/E0 when the block's field maximum is positive;
//   manifest_ L(J): the step, Jtoggle and a checksum of each column and
//     of gamma.dat (manifest.hpp), written once they are complete;
//   point.txt: one index line appended per snapshot (record_snapshot), read
//     by a continued run.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "field/field_state.hpp"
#include "medium/medium_state.hpp"
#include "output/file_tasks.hpp"
#include "output/manifest.hpp"
#include "textio/text_file.hpp"

namespace mps {

// The state a snapshot is written from.  Every task holds a copy of this
// input, and so shares ownership of the state: a copy of the run's arrays
// nobody changes, or the live arrays borrow()ed for a job the writer
// finishes before the loop goes on.
struct SnapshotInput {
  std::int64_t J = 0;
  std::int64_t Jb = 0;  // block start: row d = J - Jb of the maximum buffer
  std::shared_ptr<const FieldState> field;
  std::shared_ptr<const MediumState> medium;
  std::shared_ptr<const DecayFactors> decay;         // factors at t = (J + 0.5) dt
  double E0 = 1.0;                                   // field scale [V/m]
  std::string folder;                                // results folder, '/'-terminated
  textio::Storage storage = textio::Storage::plain;  // the files plain or compressed
  // Receives the length and checksum of each column and flags file.
  std::shared_ptr<ManifestSink> manifest = std::make_shared<ManifestSink>();
};

// The files of the snapshot but "point.txt" as tasks (the columns of each
// level, the flags, the stamp, the field maximum) with their paths (".gz"
// when compressed).  `max_buffer` (the field maximum per trace row) is read
// here, on the calling thread, with `step_maximum` (step J's largest |Ex|)
// to decide on "Ex_max.dat".
FileTasks snapshot_tasks(const SnapshotInput& in, std::span<const double> max_buffer,
                         double step_maximum);

// Writes "manifest_<J>.txt" of the snapshot of step J, whose new level has
// index Jtoggle, with the entries of its files and the values of the run.
void write_manifest(const std::string& folder, std::int64_t J, int Jtoggle,
                    std::vector<ManifestEntry> files, std::vector<RunValue> run = {});

// Appends the step's line to "point.txt", on the disk when it returns.  A
// continued run trusts a snapshot listed there, so the line is written
// only once every file of the step is complete.
void record_snapshot(const std::string& folder, std::int64_t J, int Jtoggle);

// "point.txt" line: label of J, Jtoggle and 1 - Jtoggle as 8 digits.
std::string point_line(std::int64_t J, int Jtoggle);

}  // namespace mps
