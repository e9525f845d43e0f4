#include "app/check.hpp"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>

#include "input/checks.hpp"
#include "medium/medium_state.hpp"
#include "output/result_files.hpp"
#include "output/summary.hpp"
#include "output/traces.hpp"
#include "simulation/time_loop.hpp"
#include "textio/json.hpp"

namespace mps {
namespace {

// Bytes of a line of each layout, its line end included.
constexpr double kColumnLine = 24.0;     // E23.12
constexpr double kShortLine = 14.0;      // E13.5 (s13..s15 of step 1)
constexpr double kFlagsLine = 9.0;       // gamma.dat: 4(I1,1X)
constexpr double kTraceLine = 49.0;      // time and value, 2 E23.12
constexpr double kFluxLine = 70.0;       // time and two fluxes
constexpr double kStatisticsLine = 101;  // four E23.12, each and two blanks
constexpr double kProfileLine = 27.0;    // n_z.dat: two F12.5
constexpr double kSmallFiles = 10e3;     // param.txt, stmp, point.txt, summary.json

// Cells of the dot region whose equilibrium marks them as holding dots.
std::int32_t dot_cells(const StructureProfile& s) {
  std::int32_t count = 0;
  for (std::int32_t i = std::max(s.z1, 1); i <= std::min(s.z2, s.NZ); ++i) {
    const Layer* l = cell_material(s, i).layer;
    if (l != nullptr && has_dots(l->b13, l->b14, l->b15)) ++count;
  }
  return count;
}

// Files and text of the snapshots: both levels of E, H and u1..u15 (at the
// first step of a fresh run u13..u15 of the new level are replaced by the
// physical s13..s15), the flags and the field maximum (replaced at each),
// the decay factors and the manifest.
void add_snapshots(const RunInput& in, RunOutline& o) {
  const double cells = in.structure.NZ;
  const bool fresh = in.params.J_final == 0;
  o.files += o.snapshots * (2 * 19 + 2) + 2 + (fresh ? 3 : 0);
  o.text_bytes += static_cast<double>(o.snapshots) * 2 * 19 * cells * kColumnLine;
  if (fresh) o.text_bytes += 3 * cells * (kShortLine - kColumnLine);
  o.text_bytes += cells * (kFlagsLine + kColumnLine);
}

// Per block the traces of the monitor cells (split at the first step of a
// fresh run), the flux records and the running statistics.
void add_traces(const RunInput& in, RunOutline& o) {
  const RunParameters& p = in.params;
  const std::int64_t per_cell = 4 + 6 * static_cast<std::int64_t>(p.user_monitors());
  const auto steps = static_cast<double>(o.last_step - o.first_step + 1);
  const auto kept = static_cast<double>(kept_steps(o.first_step - 1, o.last_step, p.trace_every));
  const std::int64_t interval = std::max<std::int64_t>(p.LL / 2000, 1);
  o.files += o.snapshots * per_cell + o.blocks * (1 + per_cell);
  o.text_bytes += static_cast<double>(per_cell) * kept * kTraceLine + steps * kFluxLine;
  const std::int64_t lines = p.LL / interval;  // statistics lines of a block
  o.text_bytes += static_cast<double>(o.blocks * per_cell * lines) * kStatisticsLine;
}

std::string number(const char* format, double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, x);
  return buf;
}

}  // namespace

RunOutline outline_run(const RunInput& in) {
  const RunParameters& p = in.params;
  RunOutline o;
  const BlockPlan plan = plan_blocks(p.Nt, p.LL, p.J_final);
  o.blocks = plan.blocks;
  o.first_step = plan.first_start + 1;
  o.last_step = plan.first_start + plan.blocks * p.LL;
  // Every block end, and the first step of a fresh run when it is none.
  o.snapshots = o.blocks + (p.J_final == 0 && p.LL > 1 && o.blocks > 0 ? 1 : 0);
  o.dot_cells = dot_cells(in.structure);
  o.memory_bytes = memory_estimate(in);
  add_snapshots(in, o);
  add_traces(in, o);
  if (p.output == OutputFormat::hdf5) {
    // A snapshot and a traces file per snapshot step, a statistics file
    // per block; the same values in double precision (8 bytes where text
    // has a line), before compression.
    o.files = 2 * o.snapshots + o.blocks;
    o.text_bytes *= 8.0 / kColumnLine;
  }
  o.files += 4;  // n_z.dat, param.txt, point.txt, summary.json
  o.text_bytes += in.structure.NZ * kProfileLine + kSmallFiles;
  return o;
}

void print_outline(std::ostream& out, const RunInput& in, const RunOutline& o) {
  const RunParameters& p = in.params;
  const StructureProfile& s = in.structure;
  const auto row = [&out](const char* name, const std::string& text) {
    out << ' ' << name << std::string(10 - std::string(name).size(), ' ') << text << '\n';
  };
  row("case", in.dirs.work_dir + "execdata.txt: valid");
  row("model", std::string(p.model == Model::legacy ? "legacy" : "corrected") + ", " +
                   (p.source == SourceKind::transparent ? "transparent" : "hard") + " source" +
                   (p.both_transitions ? ", sigma- light drives 3<->4 as well" : ""));
  if (p.ensemble.broadened()) {
    row("ensemble", std::to_string(p.ensemble.classes) + " spectral classes per dot cell over " +
                        number("%.6g", p.ensemble.fwhm_meV) +
                        " meV FWHM (evenly spaced over +-2 FWHM)");
  }
  if (!p.further_pulses.empty()) {
    row("pulses", std::to_string(p.further_pulses.size() + 1) +
                      " (the first one's amplitude is the field scale E0)");
  }
  row("grid", std::to_string(s.NZ) + " cells of " + number("%.6g", s.dz * 1e9) +
                  " nm: " + number("%.6g", s.NZ * s.dz * 1e6) + " um; cavity cells " +
                  std::to_string(s.cavity_left + 1) + ".." + std::to_string(s.cavity_right));
  row("dots", std::to_string(o.dot_cells) + " dot cells in the dot region " + std::to_string(s.z1) +
                  ".." + std::to_string(s.z2) + ", Nd = " + number("%.6g", p.dipole_density) +
                  " m^-3");
  const double steps = static_cast<double>(o.last_step - o.first_step + 1);
  row("time", "dt = " + number("%.6g", s.dt * 1e18) + " as; steps " + std::to_string(o.first_step) +
                  ".." + std::to_string(o.last_step) + " (" + std::to_string(o.blocks) +
                  " blocks of " + std::to_string(p.LL) +
                  "): " + number("%.6g", steps * s.dt * 1e15) + " fs");
  row("memory", "about " + number("%.3g", o.memory_bytes / 1e6) + " MB");
  row("output",
      std::to_string(o.snapshots) + " snapshots; about " + std::to_string(o.files) +
          " files holding " + number("%.3g", o.text_bytes / 1e6) + " MB of " +
          (p.output == OutputFormat::hdf5 ? "HDF5" : "text") + " before compression" +
          (p.trace_every > 1 ? "; traces every " + std::to_string(p.trace_every) + " steps" : ""));
  // Valid, but doubtful: the same list summary.json keeps.
  for (const std::string& w : in.warnings) row("warning", w);
  out.flush();
}

namespace {

std::string value_json(const NamedInput& n) {
  if (const auto* i = std::get_if<std::int64_t>(&n.value)) return std::to_string(*i);
  if (const auto* x = std::get_if<double>(&n.value)) {
    // A real keeps a point or an exponent, so that readers take it as one.
    std::string text = json::number(*x);
    if (text.find_first_of(".en") == std::string::npos) text += ".0";
    return text;
  }
  return json::quoted(std::get<std::string>(n.value));
}

// One named input: the token's column is 1-based; a value without a token
// of its own has null column and text.
std::string named_json(const NamedInput& n) {
  json::Object o(4);
  o.add("value", value_json(n))
      .str("unit", n.unit)
      .integer("line", static_cast<std::int64_t>(n.line));
  if (n.place.line == 0) return o.add("column", "null").add("text", "null").done();
  o.integer("column", static_cast<std::int64_t>(n.place.start + 1));
  return o.str("text", n.text).done();
}

std::string derived_json(const RunInput& in, const RunOutline& o) {
  const RunParameters& p = in.params;
  const StructureProfile& s = in.structure;
  json::Object d(2);
  d.integer("layer_rows", s.layer_count())
      .integer("NZ", s.NZ)
      .num("dz", s.dz)
      .num("length", s.NZ * s.dz)
      .integer("z1", s.z1);
  d.integer("z2", s.z2).integer("cavity_first", s.cavity_left + 1);
  d.integer("cavity_last", s.cavity_right).integer("dot_cells", o.dot_cells).num("dt", s.dt);
  d.integer("first_step", o.first_step).integer("last_step", o.last_step);
  d.num("simulated_time", static_cast<double>(o.last_step - o.first_step + 1) * s.dt);
  d.integer("blocks", o.blocks).integer("snapshots", o.snapshots);
  d.add("monitor_cells",
        json::list(p.monitor_cells, [](std::int32_t c) { return std::to_string(c); }));
  d.num("memory_bytes", o.memory_bytes).integer("files", o.files).num("text_bytes", o.text_bytes);
  return d.done();
}

}  // namespace

void print_check_json(std::ostream& out, const RunInput& in, const RunOutline& o,
                      const std::string& folder_problem) {
  json::Object inputs(2);
  for (const NamedInput& n : in.named) inputs.add(n.name, named_json(n));
  json::Object folders(2);
  folders.str("results", in.dirs.results_dir).str("discarded", in.dirs.discarded_dir);
  folders.str("continue", in.dirs.continue_dir);
  folders.add("problem", folder_problem.empty() ? "null" : json::quoted(folder_problem));
  json::Object names(2);
  for (const auto& [what, pattern] : result_files::kPatterns) names.str(what, pattern);
  const RunParameters& p = in.params;
  json::Object top(0);
  top.str("case", in.dirs.work_dir + kInputName);
  top.str("model", p.model == Model::legacy ? "legacy" : "corrected");
  top.str("source", p.source == SourceKind::transparent ? "transparent" : "hard");
  top.str("output", p.output == OutputFormat::hdf5 ? "hdf5" : "text");
  top.add("both_transitions", p.both_transitions ? "true" : "false");
  top.add("magnetic_field", p.magnetic.on ? magnetic_json(p.magnetic) : "null");
  top.integer("trace_every", p.trace_every);
  top.add("ensemble", json::Object(2)
                          .integer("classes", p.ensemble.classes)
                          .num("fwhm_meV", p.ensemble.fwhm_meV)
                          .done());
  top.add("inputs", inputs.done()).add("derived", derived_json(in, o));
  top.add("folders", folders.done()).add("file_names", names.done());
  top.add("warnings", json::list(in.warnings, json::quoted));
  out << top.done() << '\n';
  out.flush();
}

}  // namespace mps
