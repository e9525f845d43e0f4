#include "simulation/budget.hpp"

#include <cmath>

namespace mps {
namespace {

// Poynting flux toward +z through the plane of H(h), with E of cell e
// averaged over the two levels [W/m^2].
double flux(const FieldState& f, std::int32_t h, std::int32_t e) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  const auto ch = static_cast<std::size_t>(h);
  const auto ce = static_cast<std::size_t>(e);
  const double ex = 0.5 * (f.Ex[od][ce] + f.Ex[nw][ce]);
  const double ey = 0.5 * (f.Ey[od][ce] + f.Ey[nw][ce]);
  return f.Hy[nw][ch] * ex - f.Hx[nw][ch] * ey;
}

// Excitation energy of the dots at `level` [J/m^2].
double dot_energy(const RunInput& in, const Simulation& sim, int level) {
  const MediumState& m = sim.medium;
  double sum = 0.0;
  for (std::int32_t s = 0; s < m.dots; ++s) {
    const Populations p = populations(m.phys_slot(level, s));
    sum += p.rho22 + p.rho44;
  }
  return sum * in.params.dipole_density * in.params.transition_energy * in.params.dz;
}

// The extremes of the populations of the dot cells in the dot region.
void track_populations(const RunInput& in, const Simulation& sim, std::int64_t J, EnergyBudget& b) {
  const MediumState& m = sim.medium;
  const int level = sim.field.new_level();
  for (std::int32_t s = 0; s < m.dots; ++s) {
    const std::int32_t i = m.cell[static_cast<std::size_t>(s)];
    if (i < in.structure.z1 || i > in.structure.z2) continue;
    const Populations p = populations(m.phys_slot(level, s));
    const double rho[] = {p.rho11, p.rho22, p.rho33, p.rho44};
    for (std::size_t k = 0; k < 4; ++k) {
      if (!b.populations_seen || rho[k] > b.peaks[k].value) b.peaks[k] = {rho[k], J, i};
      if (!b.populations_seen || rho[k] < b.lows[k].value) b.lows[k] = {rho[k], J, i};
    }
    b.populations_seen = true;
  }
}

// Work the field did on the dots in step J [J/m^2].  In a dot cell
// E_new - E_old = dt (curl terms + medium terms) with the derivative at the
// midpoint, so the field's energy E^2/(2 cE) changed by the curl's share,
// which the leapfrog energy balance carries, and by
//   E_mid (E_new - E_old - dt curl) / cE,
// what the current took: the work done on the dots, with opposite sign.
double work_on_dots(const Simulation& sim) {
  const FieldState& f = sim.field;
  const MediumState& m = sim.medium;
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  double work = 0.0;
  for (std::int32_t s = 0; s < m.dots; ++s) {
    const auto i = static_cast<std::size_t>(m.cell[static_cast<std::size_t>(s)]);
    const double cE = sim.coeffs.cE[i];
    // dEx/dt = -curlX + ..., dEy/dt = curlY + ... (curl = dH cE).
    const double kept_x =
        (f.Ex[nw][i] - f.Ex[od][i]) / cE + sim.dt * (f.Hy[nw][i] - f.Hy[nw][i - 1]);
    const double kept_y =
        (f.Ey[nw][i] - f.Ey[od][i]) / cE - sim.dt * (f.Hx[nw][i] - f.Hx[nw][i - 1]);
    work -= 0.5 * (f.Ex[nw][i] + f.Ex[od][i]) * kept_x + 0.5 * (f.Ey[nw][i] + f.Ey[od][i]) * kept_y;
  }
  return work;
}

// The pulse as it enters: its largest |E| and the energy of the one-way
// wave it makes in the injection cell's medium, E^2 n / (mu0 c) per time.
void track_source(const Simulation& sim, std::int64_t J, EnergyBudget& b) {
  const FieldState& f = sim.field;
  const auto o = static_cast<std::size_t>(sim.source.injection_cell);
  const auto at = static_cast<std::size_t>(IncidentLine::kLag);
  const auto nw = static_cast<std::size_t>(f.new_level());
  const double ex = sim.transparent ? sim.incident.ex[at] : f.Ex[nw][o];
  const double ey = sim.transparent ? sim.incident.ey[at] : f.Ey[nw][o];
  const double e2 = ex * ex + ey * ey;
  if (std::sqrt(e2) > b.source_peak) b.source_peak = std::sqrt(e2), b.source_peak_step = J;
  const double n = std::sqrt(sim.coeffs.eps_r[o]);
  b.source_energy += sim.dt * e2 * n / (constants::mu0 * constants::c0);
}

}  // namespace

EnergyBudget start_budget(const RunInput& in, const Simulation& sim) {
  EnergyBudget b;
  b.through_monitor.assign(in.params.monitor_cells.size(), 0.0);
  b.dots_at_start = dot_energy(in, sim, sim.field.new_level());
  return b;
}

void account_step(const RunInput& in, const Simulation& sim, std::int64_t J, EnergyBudget& b) {
  const FieldState& f = sim.field;
  const double left = flux(f, 1, 2), right = flux(f, f.N - 1, f.N - 1);
  b.reflected -= sim.dt * left;
  b.transmitted += sim.dt * right;
  b.flux_rows.insert(b.flux_rows.end(), {static_cast<double>(J) * sim.dt * 1e15, left, right});
  const auto& cells = in.params.monitor_cells;
  for (std::size_t k = 0; k < cells.size(); ++k) {
    b.through_monitor[k] += sim.dt * flux(f, cells[k], cells[k]);
  }
  if (sim.transparent) b.injected = sim.incident.injected;
  b.absorbed += work_on_dots(sim);
  track_populations(in, sim, J, b);
  track_source(sim, J, b);
}

void complete_budget(const RunInput& in, const Simulation& sim, std::int64_t J, EnergyBudget& b) {
  const FieldState& f = sim.field;
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  double u = 0.0;
  for (std::int32_t i = 2; i <= f.N - 1; ++i) {
    const auto c = static_cast<std::size_t>(i);
    u += 0.5 * (f.Ex[od][c] * f.Ex[od][c] + f.Ey[od][c] * f.Ey[od][c]) / sim.coeffs.cE[c];
    if (i < f.N - 1) {
      u +=
          0.5 * (f.Hx[od][c] * f.Hx[nw][c] + f.Hy[od][c] * f.Hy[nw][c]) * sim.dt / sim.coeffs.cH[c];
    }
  }
  b.step = J - 1;
  b.in_grid = u;
  b.dots = dot_energy(in, sim, f.old_level()) - b.dots_at_start;
  if (sim.transparent) b.injected = sim.incident.injected - sim.incident.injected_last;
}

}  // namespace mps
