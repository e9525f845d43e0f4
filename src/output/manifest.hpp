#pragma once
// The manifest of a snapshot, "manifest_<J>.txt": the step, the level index
// its new time level was written with, and the length and CRC-32 of the
// content of each file a continued run reads back.  The restore checks the
// files against it, so a file of another step or level, of another run, or
// changed since, is not taken for the snapshot's own.
//
//   mps1d snapshot manifest
//   step 000000005000
//   level 1
//   run model corrected
//   run dz_m 2e-09
//   ...
//   Ex_z000000005000.dat 1200 8c1f07aa
//   ...
//
// The "run" lines record what a continued run must share with the run that
// wrote the snapshot (RunRecord); a manifest of an earlier version has none.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/spectral_classes.hpp"

namespace mps {

// What a continued run must share with the run it continues: the equations
// (model, sigma- light on 3<->4, the dots' spectral classes), the grid (dz,
// dt) and the field scale E0 the stored fields and traces are in.  The
// pulses themselves (but the first one's amplitude, E0) may change.
struct RunRecord {
  std::string model = "corrected";
  bool both_transitions = false;
  double dz = 0.0, dt = 0.0, E0 = 1.0;  // [m], [s], [V/m]
  std::vector<SpectralClass> classes;   // empty: one class
  // A magnetic field's Zeeman terms: Bx, By, Bz [T] and the g-factors of
  // the electron (in the plane, along z) and the hole (the same).
  bool magnetic_field = false;
  std::array<double, 7> magnetic{};
};

// One recorded value: a key ("dz_m", "class_3") and its text (numbers in
// their shortest exact form, so equal texts are equal values).
struct RunValue {
  std::string key, value;
  bool operator==(const RunValue&) const = default;
};

// The values of `run`, in order: model, both_transitions, dz_m, dt_s,
// E0_V_per_m, classes, then class_1.. ("OFFSET WEIGHT", rad/s and share);
// with a magnetic field last magnetic_field ("BX BY BZ GE_INPLANE GE_Z
// GH_INPLANE GH_Z", T and 1), which a run without one records as none.
std::vector<RunValue> run_values(const RunRecord& run);

// Compares what `stored` records (only that: an earlier snapshot records
// less) with `now`; IoError naming `path`, the first differing value, as
// stored and as the run has it.
void check_same_run(const std::string& path, const std::vector<RunValue>& stored,
                    const std::vector<RunValue>& now);

struct ManifestEntry {
  std::string name;  // as written, without ".gz"
  std::uint64_t bytes = 0;
  std::uint32_t crc32 = 0;
};

struct SnapshotManifest {
  std::int64_t J = 0;
  int level = 0;
  std::vector<ManifestEntry> files;  // sorted by name
  std::vector<RunValue> run;         // the run that wrote it, when recorded

  // The entry of `name`, or nullptr.
  const ManifestEntry* find(const std::string& name) const;
};

// The entries of a snapshot's files as the output threads finish them.
// With the values of the run that writes them.
class ManifestSink {
 public:
  explicit ManifestSink(std::vector<RunValue> run = {}) : run_(std::move(run)) {}
  void add(ManifestEntry entry);
  std::vector<ManifestEntry> take();
  const std::vector<RunValue>& run() const { return run_; }

 private:
  const std::vector<RunValue> run_;
  std::mutex mutex_;
  std::vector<ManifestEntry> entries_;
};

std::string manifest_text(const SnapshotManifest& manifest);

// The manifest in `text`, read from `path`; IoError naming the file and line
// for anything not written as manifest_text writes it.
SnapshotManifest parse_manifest(const std::string& path, const std::string& text);

// A CRC-32 as the manifest writes it: eight lower-case hexadecimal digits.
std::string hex32(std::uint32_t v);

// Length and CRC-32 of `content`, as its entry would record them.
ManifestEntry entry_of(const std::string& name, const std::string& content);

}  // namespace mps
