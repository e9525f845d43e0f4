#include "app/check.hpp"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>

#include "input/checks.hpp"
#include "medium/medium_state.hpp"
#include "simulation/time_loop.hpp"

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
// the decay factors.
void add_snapshots(const RunInput& in, RunOutline& o) {
  const double cells = in.structure.NZ;
  const bool fresh = in.params.J_final == 0;
  o.files += o.snapshots * (2 * 19 + 1) + 2 + (fresh ? 3 : 0);
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
  const std::int64_t interval = std::max<std::int64_t>(p.LL / 2000, 1);
  o.files += o.snapshots * per_cell + o.blocks * (1 + per_cell);
  o.text_bytes += static_cast<double>(per_cell) * steps * kTraceLine + steps * kFluxLine;
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
                   (p.source == SourceKind::transparent ? "transparent" : "hard") + " source");
  row("grid", std::to_string(s.NZ) + " cells of " + number("%.6g", p.dz * 1e9) +
                  " nm: " + number("%.6g", s.NZ * p.dz * 1e6) + " um; cavity cells " +
                  std::to_string(s.cavity_left + 1) + ".." + std::to_string(s.cavity_right));
  row("dots", std::to_string(o.dot_cells) + " dot cells in the dot region " + std::to_string(s.z1) +
                  ".." + std::to_string(s.z2) + ", Nd = " + number("%.6g", p.dipole_density) +
                  " m^-3");
  const double steps = static_cast<double>(o.last_step - o.first_step + 1);
  row("time", "dt = " + number("%.6g", p.dt * 1e18) + " as; steps " + std::to_string(o.first_step) +
                  ".." + std::to_string(o.last_step) + " (" + std::to_string(o.blocks) +
                  " blocks of " + std::to_string(p.LL) +
                  "): " + number("%.6g", steps * p.dt * 1e15) + " fs");
  row("memory", "about " + number("%.3g", o.memory_bytes / 1e6) + " MB");
  row("output", std::to_string(o.snapshots) + " snapshots; about " + std::to_string(o.files) +
                    " files holding " + number("%.3g", o.text_bytes / 1e6) +
                    " MB of text before compression");
  out.flush();
}

}  // namespace mps
