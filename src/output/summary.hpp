#pragma once
// "summary.json" in the results folder: the run's inputs with full
// precision and units, its energy budget and peak populations, and its
// files; rewritten (atomically) at every snapshot and at the end.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "input/input_reader.hpp"

namespace mps {

struct SummaryPeak {
  double value = 0.0;
  std::int64_t step = 0;
  std::int32_t cell = 0;
};

struct Summary {
  std::string version;
  std::string status;  // "running", "complete" or "stopped"
  // Of a stopped run: the last step computed and why it stopped.
  std::int64_t stop_step = 0;
  std::string stop_reason;
  int threads = 1;
  double wall_time_s = 0.0;
  std::int64_t steps_run = 0;    // last step computed
  std::int64_t budget_step = 0;  // the step the energies are of
  // Energies [J/m^2]; `injected` is the incident wave's for the transparent
  // source, the sum of the others for the hard source.  `absorbed` is the
  // work of the field on the dots, `dots` the change of their stored
  // energy, `dissipated` the difference (handed on by dephasing and
  // relaxation).
  double injected = 0.0, reflected = 0.0, transmitted = 0.0, dots = 0.0, in_grid = 0.0;
  double absorbed = 0.0, dissipated = 0.0;
  std::vector<double> through_monitor;
  std::array<SummaryPeak, 4> peaks;  // largest rho11..rho44 in the dot region
  std::array<SummaryPeak, 4> lows;   // smallest
  double pulse_energy = 0.0;         // [J/m^2]
  std::vector<std::int64_t> snapshots;
  std::vector<std::string> flux_files;  // "flux_<J>.dat.gz", one per block
  std::vector<std::string> files;       // of the last snapshot, and the run's other files
};

// The JSON text of the summary of `input`.
std::string summary_json(const RunInput& input, const Summary& summary);

// A magnetic field and its g-factors as JSON: {"B_T": [BX, BY, BZ],
// "g_electron_inplane", "g_electron_z", "g_hole_inplane", "g_hole_z"}.
std::string magnetic_json(const MagneticField& m);

// Writes "summary.json" into the results folder: a temporary file renamed
// over the old one, so a reader never sees half of it.
void write_summary(const RunInput& input, const Summary& summary);
// The same with its text made already (summary_json), into `results_dir`.
void write_summary_json(const std::string& results_dir, const std::string& json);

}  // namespace mps
