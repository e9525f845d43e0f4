#include "simulation/budget.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

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
  return sum * in.params.dipole_density * in.params.transition_energy * in.structure.dz;
}

// With a magnetic field, the dots' Zeeman energy at `level`, whose stored
// values decay as exp(-t/T_k) [J/m^2]: (hbar/2)(omega_e . <sigma_e> +
// omega_h . <sigma_h>) per dot, with <sigma_e> = (u2, u8, rho11 - rho33) on
// the electron pair {1, 3} and <sigma_h> = (u5, u11, rho22 - rho44) on the
// trion pair {2, 4} (omega = muB g B / hbar).
double zeeman_energy(const RunInput& in, const Simulation& sim, int level, double t) {
  const MediumParameters& mp = sim.medium_parameters;
  if (!mp.zeeman) return 0.0;
  const MediumState& m = sim.medium;
  const auto u = [&](std::int32_t s, int k) {
    return std::exp(-t / mp.T[static_cast<std::size_t>(k)]) * m.w_slot(level, s, k - 1);
  };
  const std::array<double, 6>& w = mp.larmor;
  double sum = 0.0;
  for (std::int32_t s = 0; s < m.dots; ++s) {
    const Populations p = populations(m.phys_slot(level, s));
    sum += w[0] * u(s, 2) + w[1] * u(s, 8) + w[2] * (p.rho11 - p.rho33) + w[3] * u(s, 5) +
           w[4] * u(s, 11) + w[5] * (p.rho22 - p.rho44);
  }
  return 0.5 * constants::hbar * sum * in.params.dipole_density * in.structure.dz;
}

// The population numerators (population_numerators) of the dot slots of
// one block; slots outside [first, last) give lo = +inf, hi = -inf.
struct BlockExtremes {
  std::array<double, 4> lo, hi;
  std::array<std::array<double, kBatchLanes>, 4> n;  // numerators by lane
};

void block_extremes(const std::vector<Lanes>& phys, std::int32_t block, std::int32_t first,
                    std::int32_t last, BlockExtremes& e) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const auto q = static_cast<std::size_t>(block) * 3;
  const Lanes &u13 = phys[q], &u14 = phys[q + 1], &u15 = phys[q + 2];
  const std::int32_t s0 = block * kBatchLanes;
#pragma omp simd
  for (int l = 0; l < kBatchLanes; ++l) {
    const std::array<double, 4> n = population_numerators(u13[l], u14[l], u15[l]);
    e.n[0][l] = n[0], e.n[1][l] = n[1], e.n[2][l] = n[2], e.n[3][l] = n[3];
  }
  for (std::size_t k = 0; k < 4; ++k) {
    double lo = inf, hi = -inf;
#pragma omp simd reduction(min : lo) reduction(max : hi)
    for (int l = 0; l < kBatchLanes; ++l) {
      const bool in = s0 + l >= first && s0 + l < last;
      lo = std::min(lo, in ? e.n[k][l] : inf);
      hi = std::max(hi, in ? e.n[k][l] : -inf);
    }
    e.lo[k] = lo, e.hi[k] = hi;
  }
}

// The extremes of the populations of the dot cells in the dot region (dot
// slots [first, last): they are in the order of their cells), with the
// step and cell where each was first reached.
void track_populations(const Simulation& sim, std::int64_t J, EnergyBudget& b) {
  const MediumState& m = sim.medium;
  const std::int32_t first = b.dot_slots_first, last = b.dot_slots_last;
  if (first >= last) return;
  const std::vector<Lanes>& phys = m.phys[static_cast<std::size_t>(sim.field.new_level())];
  constexpr double inf = std::numeric_limits<double>::infinity();
  const std::int32_t first_block = first / kBatchLanes, last_block = (last - 1) / kBatchLanes;
  // The blocks' extremes, found by the step's batches: their minima and
  // maxima first (NaN passed over), a vector select per block ...
  std::array<double, 4> lo, hi;
  lo.fill(inf), hi.fill(-inf);
  for (std::int32_t block = first_block; block <= last_block; ++block) {
    const std::array<double, 8>& x = sim.record.block_extremes[static_cast<std::size_t>(block)];
    for (std::size_t k = 0; k < 4; ++k) {
      lo[k] = x[k] < lo[k] ? x[k] : lo[k];
      hi[k] = x[k + 4] > hi[k] ? x[k + 4] : hi[k];
    }
  }
  // ... and the first block reaching one only when it is a new record (0
  // when no block had one, the extreme still at its start `none`).
  const auto block_of = [&](std::size_t k, double value, double none) {
    if (value == none) return std::int32_t{0};
    std::int32_t block = first_block;
    while (sim.record.block_extremes[static_cast<std::size_t>(block)][k] != value) ++block;
    return block;
  };
  BlockExtremes e;
  // The cell of numerator `value` of population k in `block` (its
  // numerators worked out once per block).
  std::int32_t worked_out = -1;
  const auto cell_of = [&](std::size_t k, std::int32_t block, double value) {
    if (block != worked_out) block_extremes(phys, block, first, last, e);
    worked_out = block;
    for (int l = 0; l < kBatchLanes; ++l) {
      const std::int32_t s = block * kBatchLanes + l;
      if (s >= first && s < last && e.n[k][static_cast<std::size_t>(l)] == value) {
        return m.cell[static_cast<std::size_t>(s)];
      }
    }
    return m.cell[static_cast<std::size_t>(first)];
  };
  for (std::size_t k = 0; k < 4; ++k) {
    const double high = hi[k] / kPopulationDivisors[k], low = lo[k] / kPopulationDivisors[k];
    if (!b.populations_seen || high > b.peaks[k].value)
      b.peaks[k] = {high, J, cell_of(k, block_of(k + 4, hi[k], -inf), hi[k])};
    if (!b.populations_seen || low < b.lows[k].value)
      b.lows[k] = {low, J, cell_of(k, block_of(k, lo[k], inf), lo[k])};
  }
  b.populations_seen = true;
}

// The pulse as it enters: its largest |E| and the energy of the one-way
// wave it makes in the injection cell's medium, E^2 n / (mu0 c) per time
// (with pulses at several cells, the sum over them).
void track_source(const Simulation& sim, std::int64_t J, EnergyBudget& b) {
  const FieldState& f = sim.field;
  const auto at = static_cast<std::size_t>(IncidentLine::kLag);
  const auto nw = static_cast<std::size_t>(f.new_level());
  // Each injection cell once: the first source at it (the transparent
  // source's pulses share one plane, the first's).
  const auto first_at = [&sim](std::int32_t cell, std::size_t s) {
    if (sim.source.injection_cell == cell) return s == 0;
    for (std::size_t k = 0; k + 1 < s; ++k) {
      if (sim.further_sources[k].injection_cell == cell) return false;
    }
    return true;
  };
  const std::size_t sources = sim.transparent ? 1 : sim.further_sources.size() + 1;
  for (std::size_t s = 0; s < sources; ++s) {
    const PulseSource& src = s == 0 ? sim.source : sim.further_sources[s - 1];
    if (!first_at(src.injection_cell, s)) continue;
    const auto o = static_cast<std::size_t>(src.injection_cell);
    const double ex = sim.transparent ? sim.incident.ex[at] : f.Ex[nw][o];
    const double ey = sim.transparent ? sim.incident.ey[at] : f.Ey[nw][o];
    const double e2 = ex * ex + ey * ey;
    if (std::sqrt(e2) > b.source_peak) b.source_peak = std::sqrt(e2), b.source_peak_step = J;
    const double n = std::sqrt(sim.coeffs.eps_r[o]);
    b.source_energy += sim.dt * e2 * n / (constants::mu0 * constants::c0);
  }
}

}  // namespace

EnergyBudget start_budget(const RunInput& in, Simulation& sim) {
  EnergyBudget b;
  b.through_monitor.assign(in.params.monitor_cells.size(), 0.0);
  b.dots_at_start = dot_energy(in, sim, sim.field.new_level());
  if (sim.medium_parameters.zeeman) {
    const double t = (static_cast<double>(in.params.J_final) + 0.5) * sim.dt;
    b.dots_at_start += zeeman_energy(in, sim, sim.field.new_level(), t);
  }
  // The dot slots of the dot region z1..z2 (slots in the order of cells).
  const MediumState& m = sim.medium;
  b.dot_slots_first = 0;
  while (b.dot_slots_first < m.dots &&
         m.cell[static_cast<std::size_t>(b.dot_slots_first)] < in.structure.z1)
    ++b.dot_slots_first;
  b.dot_slots_last = b.dot_slots_first;
  while (b.dot_slots_last < m.dots &&
         m.cell[static_cast<std::size_t>(b.dot_slots_last)] <= in.structure.z2)
    ++b.dot_slots_last;
  // The step's dot blocks report the population extremes of these slots.
  sim.record.extremes_first = b.dot_slots_first;
  sim.record.extremes_last = b.dot_slots_last;
  return b;
}

void take_previous_work(const Simulation& sim, EnergyBudget& b) {
  if (sim.record.work_due) b.absorbed += sim.record.previous_work;
}

void account_step(const RunInput& in, Simulation& sim, std::int64_t J, EnergyBudget& b) {
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
  complete_work_terms(f, sim.medium, sim.coeffs, sim.record);
  track_populations(sim, J, b);
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
  if (sim.medium_parameters.zeeman) {
    const double t = (static_cast<double>(J) - 0.5) * sim.dt;  // the level of step J - 1
    b.dots += zeeman_energy(in, sim, f.old_level(), t);
  }
  if (sim.transparent) b.injected = sim.incident.injected - sim.incident.injected_last;
}

}  // namespace mps
