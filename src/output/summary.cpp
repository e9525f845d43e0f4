#include "output/summary.hpp"

#include <cmath>

#include "core/errors.hpp"
#include "input/pulse_timing.hpp"
#include "output/result_files.hpp"
#include "textio/json.hpp"
#include "textio/text_file.hpp"

namespace mps {
namespace {

using json::list;
using json::number;
using json::Object;
using json::quoted;

// The values of a pulse line, as an object that may go on.
Object pulse_line(const Pulse& q, int indent) {
  Object o(indent);
  o.integer("shape", static_cast<std::int32_t>(q.shape))
      .integer("polarisation", static_cast<std::int32_t>(q.polarisation))
      .num("wavelength_m", q.wavelength)
      .num("fwhm_s", q.duration)
      .num("amplitude_V_per_m", q.amplitude)
      .num("delay_s", q.delay);
  return o;
}

std::int32_t origin_cell(const Pulse& q, std::int32_t NZ) {
  return q.origin != 0 ? q.origin : NZ - 1;
}

std::string pulse_json(const RunInput& in, const Summary& s) {
  const Pulse& q = in.params.pulse;
  return pulse_line(q, 4)
      .num("peak_time_s", pulse_peak_time(q, in.structure.dt))
      .integer("origin_cell", origin_cell(q, in.structure.NZ))
      .num("energy_J_per_m2", s.pulse_energy)
      .done();
}

// Pulses 2..N as their lines give them, with their own peaks.
std::string further_pulse_json(const Pulse& q, const StructureProfile& structure) {
  return pulse_line(q, 6)
      .num("peak_time_s", pulse_peak_time(q, structure.dt))
      .integer("origin_cell", origin_cell(q, structure.NZ))
      .done();
}

std::string inputs_json(const RunInput& in, const Summary& s) {
  const RunParameters& p = in.params;
  Object inputs(2);
  inputs.num("dt_s", in.structure.dt)
      .num("dz_m", in.structure.dz)
      .integer("NZ", in.structure.NZ)
      .integer("LL", p.LL)
      .integer("Nt", p.Nt)
      .integer("J_final", p.J_final)
      .integer("steps_run", s.steps_run)
      .num("courant", p.courant)
      .num("E0_V_per_m", p.field_scale())
      .add("pulse", pulse_json(in, s))
      .num("dipole_density_per_m3", p.dipole_density)
      .num("transition_energy_J", p.transition_energy)
      .integer("dot_region_first_cell", in.structure.z1)
      .integer("dot_region_last_cell", in.structure.z2)
      .add("monitor_cells",
           list(p.monitor_cells, [](std::int32_t c) { return std::to_string(c); }));
  // Pulses 2..N (the energy of "pulse" is that of all).
  if (!p.further_pulses.empty()) {
    inputs.add("further_pulses", list(p.further_pulses, [&in](const Pulse& q) {
                 return further_pulse_json(q, in.structure);
               }));
  }
  if (p.both_transitions) inputs.add("both_transitions", "true");
  if (p.magnetic.on) inputs.add("magnetic_field", magnetic_json(p.magnetic));
  // Written when the traces are thinned: readers take every step otherwise.
  if (p.trace_every > 1) inputs.integer("trace_every", p.trace_every);
  if (p.ensemble.broadened()) {
    inputs.add("ensemble", Object(3)
                               .integer("classes", p.ensemble.classes)
                               .num("fwhm_meV", p.ensemble.fwhm_meV)
                               .str("detunings", "evenly spaced over +-2 FWHM, Gaussian weights")
                               .done());
  }
  return inputs.done();
}

std::string energy_json(const Summary& s) {
  const double sum = s.reflected + s.transmitted + s.in_grid + s.dots + s.dissipated;
  return Object(2)
      .integer("step", s.budget_step)
      .num("injected", s.injected)
      .num("reflected", s.reflected)
      .num("transmitted", s.transmitted)
      .num("in_grid", s.in_grid)
      .num("dots", s.dots)
      .num("dissipated", s.dissipated)
      .num("absorbed", s.absorbed)
      .num("balance", s.injected != 0.0 ? sum / s.injected : 1.0)
      .add("through_monitor_cells", list(s.through_monitor, number))
      .done();
}

std::string populations_json(const std::array<SummaryPeak, 4>& extremes) {
  Object o(2);
  const char* names[] = {"rho11", "rho22", "rho33", "rho44"};
  for (std::size_t k = 0; k < 4; ++k) {
    o.add(names[k], Object(4)
                        .num("value", extremes[k].value)
                        .integer("step", extremes[k].step)
                        .integer("cell", extremes[k].cell)
                        .done());
  }
  return o.done();
}

// Where and why a stopped run stopped; null for any other.
std::string stop_json(const Summary& s) {
  if (s.status != "stopped") return "null";
  return Object(2).integer("step", s.stop_step).str("reason", s.stop_reason).done();
}

}  // namespace

std::string magnetic_json(const MagneticField& m) {
  return json::Object(3)
      .add("B_T", json::list(std::vector<double>(m.B.begin(), m.B.end()),
                             [](double b) { return json::number(b); }))
      .num("g_electron_inplane", m.ge_inplane)
      .num("g_electron_z", m.ge_z)
      .num("g_hole_inplane", m.gh_inplane)
      .num("g_hole_z", m.gh_z)
      .done();
}

std::string summary_json(const RunInput& in, const Summary& s) {
  const RunParameters& p = in.params;
  return Object(0)
             .str("program", "mps1d")
             .str("version", s.version)
             .str("model", p.model == Model::legacy ? "legacy" : "corrected")
             .str("source", p.source == SourceKind::transparent ? "transparent" : "hard")
             .str("output", p.output == OutputFormat::hdf5 ? "hdf5" : "text")
             .str("status", s.status)
             .add("stop", stop_json(s))
             .integer("threads", s.threads)
             .num("wall_time_s", s.wall_time_s)
             .add("inputs", inputs_json(in, s))
             .add("energy", energy_json(s))
             .add("peak_populations", populations_json(s.peaks))
             .add("lowest_populations", populations_json(s.lows))
             .add("snapshots", list(s.snapshots, [](std::int64_t J) { return std::to_string(J); }))
             .add("flux", Object(2).add("files", list(s.flux_files, quoted)).done())
             .add("files", list(s.files, quoted))
             .add("warnings", list(in.warnings, quoted))
             .done() +
         "\n";
}

void write_summary(const RunInput& in, const Summary& s) {
  write_summary_json(in.dirs.results_dir, summary_json(in, s));
}

void write_summary_json(const std::string& results_dir, const std::string& json) {
  textio::replace_file(results_dir + result_files::kSummary, json);
}

}  // namespace mps
