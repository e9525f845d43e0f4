#include "simulation/simulation.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/errors.hpp"
#include "field/field_update.hpp"
#include "field/max_ex.hpp"

namespace mps {
namespace {

// The medium of the layers: equilibrium values (set B) everywhere; the
// population flags from the start values (set A) inside the dot region
// z1..z2, 0 elsewhere; and in a fresh run the stored diagonal components
// at level 0, start minus equilibrium values, and the physical ones, the
// start values.  Cells whose values are all
// +0 need no slot.
void initial_medium(const StructureProfile& s, bool fresh, MediumState& m) {
  const Layer none;  // of a cell no layer covers: all values 0
  for_each_cell_material(s, [&](std::int32_t i, const CellMaterial& c) {
    const Layer& l = c.layer != nullptr ? *c.layer : none;
    m.set_equilibrium(i, {l.b13, l.b14, l.b15});
    const bool dots = s.z1 <= i && i <= s.z2;
    m.set_flags(i, dots ? occupied(populations(l.a13, l.a14, l.a15)) : PopulationFlags{0, 0, 0, 0});
    if (fresh) {
      m.set_w(0, i, 12, l.a13 - l.b13);
      m.set_w(0, i, 13, l.a14 - l.b14);
      m.set_w(0, i, 14, l.a15 - l.b15);
      m.set_physical(0, i, {l.a13, l.a14, l.a15});  // what the budget starts from
    }
  });
}

}  // namespace

Simulation make_simulation(const RunInput& in) {
  const RunParameters& p = in.params;
  const StructureProfile& s = in.structure;
  Simulation sim;
  sim.dt = s.dt;
  sim.field.allocate(s.NZ);
  compute_field_profile(s, s.dz, s.dt, sim.coeffs);
  sim.medium.allocate(s.NZ);
  sim.medium_parameters = medium_parameters(p, s);
  sim.source = make_pulse_source(p, s.NZ, {s.cavity_left, s.cavity_right});
  sim.further_sources = make_further_sources(p, s.NZ, {s.cavity_left, s.cavity_right});
  sim.ends =
      boundary_settings(p, cell_material(s, 1).local_courant, cell_material(s, s.NZ).local_courant);
  sim.transparent = p.source == SourceKind::transparent;
  if (sim.transparent) sim.incident = make_incident_line(sim.source, sim.coeffs, sim.dt);
  initial_medium(s, p.J_final == 0, sim.medium);
  sim.observed_cells = p.monitor_cells;
  classify(sim);
  return sim;
}

namespace {

std::string value_text(double v) {
  return std::isnan(v) ? "NaN" : v > 0 ? "+Infinity" : "-Infinity";
}

// Built by appending: string sums of this shape trip a false -Wrestrict of
// GCC 12.
[[noreturn]] void non_finite(const std::string& what, double v, std::int32_t cell, std::int64_t J) {
  std::string m = what;
  m += " is ";
  m += value_text(v);
  m += " at cell ";
  m += std::to_string(cell);
  m += " after step ";
  m += std::to_string(J);
  m += "; the run stops, the files of the earlier snapshots are kept";
  throw NonFiniteError(m, J);
}

std::string component_name(int k) {
  std::string name = "u";
  name += std::to_string(k);
  return name;
}

}  // namespace

void check_finite_state(const Simulation& sim, std::int64_t J) {
  const FieldState& f = sim.field;
  for (std::size_t l = 0; l < 2; ++l) {
    const std::int64_t step_of_level = static_cast<int>(l) == f.new_level() ? J : J - 1;
    const std::pair<const char*, const std::vector<double>*> fields[] = {
        {"Ex", &f.Ex[l]}, {"Ey", &f.Ey[l]}, {"Hx", &f.Hx[l]}, {"Hy", &f.Hy[l]}};
    for (const auto& [name, v] : fields) {
      for (std::int32_t i = 1; i <= f.N; ++i) {
        const double x = (*v)[static_cast<std::size_t>(i)];
        if (!std::isfinite(x)) non_finite(name, x, i, step_of_level);
      }
    }
    for (const std::int32_t i : sim.medium.medium_cells) {
      const std::array<double, kStored> w = sim.medium.w_at(static_cast<int>(l), i);
      for (std::size_t k = 0; k < w.size(); ++k) {
        if (!std::isfinite(w[k])) {
          non_finite(component_name(static_cast<int>(k) + 1), w[k], i, step_of_level);
        }
      }
    }
  }
}

namespace {

// How the plain E update treats a cell of 1..N-1: `dot_late` is a dot cell
// whose Ex a source changes after the medium's update.
enum class PlainCell : std::uint8_t { counted, late, dot, dot_late };

// Cells whose Ex the step changes after the plain update: the ends, the
// hard source's cell (or the noise's cavity cells), the transparent
// source's plane.
std::vector<PlainCell> plain_cells(const Simulation& sim) {
  const std::int32_t N = sim.field.N;
  std::vector<PlainCell> kind(static_cast<std::size_t>(std::max(N, 1)), PlainCell::counted);
  auto late = [&](std::int32_t i) {
    if (1 <= i && i < N) kind[static_cast<std::size_t>(i)] = PlainCell::late;
  };
  late(1);
  if (sim.transparent) {
    late(sim.incident.plane);
  } else {
    for (const PulseSource* src : sources_of(sim)) {
      if (!src->active) continue;
      late(src->injection_cell);
      if (src->pulse.shape == PulseShape::noise) {
        for (std::int32_t i = src->cavity_left; i <= src->cavity_right; ++i) late(i);
      }
    }
  }
  for (std::int32_t i = 1; i < N; ++i) {
    PlainCell& k = kind[static_cast<std::size_t>(i)];
    if (sim.medium.kind(i) == CellKind::dot)
      k = k == PlainCell::late ? PlainCell::dot_late : PlainCell::dot;
  }
  return kind;
}

// Runs of the plain E update and the late cells, from each cell's kind.
// The dot batches find the largest |Ex| of their cells (but those of
// dot_late cells, which are late cells).
void plan_plain_update(Simulation& sim) {
  const std::vector<PlainCell> kind = plain_cells(sim);
  sim.e_runs.clear();
  sim.late_cells.clear();
  const MediumState& m = sim.medium;
  StepRecord& record = sim.record;
  std::fill(record.changed_later.begin(), record.changed_later.end(), std::uint8_t{0});
  record.late_slots.clear();
  for (std::int32_t i = 1; i < sim.field.N; ++i) {
    const PlainCell k = kind[static_cast<std::size_t>(i)];
    if (k == PlainCell::late || k == PlainCell::dot_late) sim.late_cells.push_back(i);
    if (k == PlainCell::dot_late) {
      record.changed_later[static_cast<std::size_t>(m.slot_of(i))] = 1;
      record.late_slots.push_back(m.slot_of(i));
    }
    if (k == PlainCell::dot || k == PlainCell::dot_late) continue;
    const bool counted = k == PlainCell::counted;
    if (!sim.e_runs.empty() && sim.e_runs.back().last == i - 1 &&
        sim.e_runs.back().counted == counted) {
      sim.e_runs.back().last = i;
    } else {
      sim.e_runs.push_back({i, i, counted});
    }
  }
  if (sim.field.N >= 1) sim.late_cells.push_back(sim.field.N);
}

// The cells whose step J-1 fields the step or its caller reads after the
// sweep: the ends and their neighbours (absorbing ends, the fluxes), the
// source's cells, the late cells (the budget's work on a dot cell a source
// changes) and the observed cells.  The dot batches read E of step J-1 in
// the new level, before they store theirs.
std::vector<CellSpan> kept_old_cells(const Simulation& sim) {
  const std::int32_t N = sim.field.N;
  std::vector<std::uint8_t> kept(static_cast<std::size_t>(N) + 1, 0);
  auto keep = [&](std::int32_t i) {
    if (1 <= i && i <= N) kept[static_cast<std::size_t>(i)] = 1;
  };
  for (const std::int32_t i : {1, 2, N - 1, N}) keep(i);
  for (const PulseSource* src : sources_of(sim)) {
    keep(src->origin_cell);
    keep(src->injection_cell);
  }
  if (sim.transparent) keep(sim.incident.plane);
  for (const std::int32_t i : sim.observed_cells) keep(i);
  for (const std::int32_t i : sim.late_cells) keep(i);
  std::vector<CellSpan> spans;
  for (std::int32_t i = 1; i <= N; ++i) {
    if (kept[static_cast<std::size_t>(i)] == 0) continue;
    if (!spans.empty() && spans.back().last == i - 1) {
      spans.back().last = i;
    } else {
      spans.push_back({i, i});
    }
  }
  return spans;
}

// A thread's part of H, E and the medium (all of them outside a parallel
// region): its evaluations, and its largest |Ex| of the counted cells.
void team_part(Simulation& sim, double& max_ex, std::int64_t& evaluations) {
  FieldState& f = sim.field;
  const HCorrection fix =
      sim.transparent ? plane_correction(sim.incident, sim.coeffs) : HCorrection{};
  max_ex = update_fields_in_team(f, sim.coeffs, sim.dt, sim.e_runs, fix);
  const MediumSweep sweep{
      f,          sim.medium, sim.coeffs, sim.medium_parameters, sim.medium_step, sim.medium_plan,
      &sim.record};
  StepRecord& record = sim.record;
  const OverlapTask sum = [&record] { record.sum_previous_work(); };
  evaluations = advance_medium_in_team(sweep, sim.blocks, record.work_due ? sum : OverlapTask{});
}

}  // namespace

bool step_forks(const Simulation& sim) {
  return team_pays(sim.field.N, sim.medium.medium_cells.size());
}

void classify(Simulation& sim) {
  classify_cells(sim.medium, sim.medium_parameters.cavity);
  ready_class_states(sim.medium, static_cast<int>(sim.medium_parameters.classes.size()));
  sim.medium_plan = plan_medium(sim.medium);
  sim.blocks.reset(sim.medium.dot_blocks());
  sim.record.reset(sim.medium.dots);
  plan_plain_update(sim);
  sim.kept_old = kept_old_cells(sim);
}

void step(Simulation& sim, std::int64_t J) {
  FieldState& f = sim.field;
  f.Jtoggle = 1 - f.Jtoggle;
  ready_new_level(f, sim.kept_old, sim.whole_old_level);
  sim.medium.ready_new_w_level(f.new_level(), sim.whole_old_level);
  sim.record.dt = sim.dt;
  sim.record.ready_work_terms();
  prepare_medium_step(sim.medium_parameters, J, sim.dt, sim.medium_step);
  double max_ex = -std::numeric_limits<double>::infinity();
  std::int64_t evaluations = 0;
  const int team = sim.team > 0 ? sim.team : step_forks(sim) ? omp_get_max_threads() : 1;
  sim.blocks.share(team);
  if (team > 1) {
#pragma omp parallel num_threads(team) reduction(max : max_ex) reduction(+ : evaluations)
    team_part(sim, max_ex, evaluations);
  } else {
    team_part(sim, max_ex, evaluations);
  }
  sim.evaluations += evaluations;
  if (sim.transparent) {
    advance_and_correct_E(sim.incident, sim.source, sim.further_sources, f, J);
  } else {
    apply_pulse_sources(sim.source, sim.further_sources, f, J, sim.dt);
  }
  apply_boundaries(f, sim.ends);
  // The dot cells' largest |Ex|, found by their blocks (NaN passed over).
  sim.max_ex = field_maximum(f, sim.record.max_ex(max_ex), sim.late_cells);
}

}  // namespace mps
