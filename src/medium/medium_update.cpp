#include "medium/medium_update.hpp"

#include <omp.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "core/parallel.hpp"

namespace mps {

PopulationFlags population_flags(std::int32_t i, const Diagonal& u, const CellRange& cavity) {
  if (!cavity.contains(i)) return {0, 0, 0, 0};
  return occupied(populations(u));
}

namespace {

inline double flush120(double x) { return std::fabs(x) < 1e-120 ? 0.0 : x; }

// A cell without dots: its stored values are carried to the new level
// unchanged apart from the flush of tiny values.
void carry_passive_cell(MediumState& m, std::int32_t i, const FieldState& f,
                        const MediumParameters& mp, const MediumStep& step) {
  const double* w_old = m.w_at(f.old_level(), i);
  double* w_new = m.w_at(f.new_level(), i);
  const Diagonal u =
      physical_diagonal(m.equilibrium(i), step.decay.now, m.stored_diagonal(f.old_level(), i));
  m.set_physical(f.new_level(), i, u);
  m.occ[static_cast<std::size_t>(i)] = population_flags(i, u, mp.cavity);
  for (int k = 0; k < kStored; ++k) w_new[k] = flush120(w_old[k]);
}

// COEFF_RHO's result depends on the cell only through its flags (which
// switch the transfer times) and its equilibrium values, and most dot cells
// share both: each thread keeps the last result per flag pattern for the step.
class CouplingCache {
 public:
  const PopulationCoupling& get(const MediumParameters& mp, const MediumStep& step,
                                const PopulationFlags& occ, const Diagonal& eq) {
    const unsigned key = static_cast<unsigned>((occ[0] != 0) | (occ[1] != 0) << 1 |
                                               (occ[2] != 0) << 2 | (occ[3] != 0) << 3);
    Entry& e = entries_[key];
    if (!e.valid || !same(e.eq.u13, eq.u13) || !same(e.eq.u14, eq.u14) || !same(e.eq.u15, eq.u15)) {
      e.value =
          population_coupling(working_tau(mp.tau, occ), mp.gamma, step.t, eq.u13, eq.u14, eq.u15);
      e.eq = eq;
      e.valid = true;
    }
    return e.value;
  }

 private:
  // Bit for bit: a cached result is reused only for the very same values.
  static bool same(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
  }
  struct Entry {
    bool valid = false;
    Diagonal eq;
    PopulationCoupling value;
  };
  std::array<Entry, 16> entries_{};
};

// Field couplings of dot cell i (the step's couplings over its eps_r) and
// the curls of H at the new level.
CellCoefficients cell_coefficients(const FieldState& f, const FieldCoefficients& k,
                                   const MediumStep& step, std::int32_t i) {
  const auto c = static_cast<std::size_t>(i);
  const auto nw = static_cast<std::size_t>(f.new_level());
  CellCoefficients cell;
  const double inv_eps = 1.0 / k.eps_r[c];
  cell.aX1 = step.aX1 * inv_eps;
  cell.aX7 = step.aX7 * inv_eps;
  cell.aX13 = step.aX13 * inv_eps;
  cell.aY1 = step.aY1 * inv_eps;
  cell.aY7 = step.aY7 * inv_eps;
  cell.aY13 = -cell.aX13;
  cell.curlY = (f.Hx[nw][c] - f.Hx[nw][c - 1]) * k.cE[c];
  cell.curlX = (f.Hy[nw][c] - f.Hy[nw][c - 1]) * k.cE[c];
  return cell;
}

// What the cell loop of one step works on.
struct CellLoop {
  FieldState& f;
  MediumState& m;
  const FieldCoefficients& k;
  const MediumParameters& mp;
  const MediumStep& step;
};

// Advances dot cell i by its implicit step; returns the evaluations made.
int advance_dot(const CellLoop& loop, std::int32_t i, CouplingCache& cache) {
  auto& [f, m, k, mp, step] = loop;
  const auto c = static_cast<std::size_t>(i);
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  const Diagonal eq = m.equilibrium(i);

  CellCoefficients cell = cell_coefficients(f, k, step, i);
  cell.gX = mp.current_sign *
            (mp.dipole * mp.density * mp.dipole / (constants::hbar_eps0 * k.eps_r[c]) * eq.u13);
  cell.gY = -cell.gX;
  cell.s1 = mp.dipole * eq.u13 * step.growth1 / constants::hbar;
  cell.s7 = mp.dipole * eq.u13 * step.growth7 / (-constants::hbar);
  cell.pop = cache.get(mp, step, m.occ[c], eq);

  CellVector old;
  old.ex = f.Ex[od][c];
  old.ey = f.Ey[od][c];
  const double* w_old = m.w_at(f.old_level(), i);
  std::copy(w_old, w_old + kStored, old.w.v.begin());
  CellVector now;
  const ImplicitStep solver{step.dt, mp.iteration_limit, mp.tolerance};
  const int evaluations = advance_dot_cell(step.coeffs, cell, solver, old, now);

  const Diagonal u = physical_diagonal(eq, step.decay.now, now.w.diagonal());
  m.set_physical(f.new_level(), i, u);
  m.occ[c] = population_flags(i, u, mp.cavity);

  double* w_new = m.w_at(f.new_level(), i);
  for (int n = 0; n < kStored; ++n) w_new[n] = flush120(now.w.v[static_cast<std::size_t>(n)]);
  f.Ex[nw][c] = flush120(now.ex);
  f.Ey[nw][c] = flush120(now.ey);
  return evaluations;
}

// Relative change of x against its previous iterate p.
inline double relative_change(double x, double p) {
  if (x == 0.0) return p != 0.0 ? 1.0 : 0.0;
  return std::fabs((x - p) / x);
}

bool converged(const CellVector& now, const CellVector& previous, double tolerance) {
  if (!(relative_change(now.ex, previous.ex) < tolerance &&
        relative_change(now.ey, previous.ey) < tolerance)) {
    return false;
  }
  for (std::size_t n = 0; n < 16; ++n) {
    if (!(relative_change(now.w.v[n], previous.w.v[n]) < tolerance)) return false;
  }
  return true;
}

// now = old + dt rate (all 16 stored values and both fields).
void euler_from(const CellVector& old, const CellVector& rate, double dt, CellVector& now) {
  for (std::size_t n = 0; n < 16; ++n) now.w.v[n] = old.w.v[n] + dt * rate.w.v[n];
  now.ex = old.ex + dt * rate.ex;
  now.ey = old.ey + dt * rate.ey;
}

}  // namespace

MediumParameters medium_parameters(const RunParameters& p, const StructureProfile& s) {
  MediumParameters mp;
  mp.tau = p.tau;
  mp.gamma = transfer_rates(p.tau);
  mp.T = p.T;
  mp.dipole = p.dipole;
  mp.density = p.dipole_density;
  mp.detuning = p.detuning;
  mp.half_detuning = p.half_detuning;
  mp.iteration_limit = p.iteration_limit;
  mp.tolerance = p.tolerance;
  mp.cavity = {s.cavity_left, s.cavity_right};
  mp.current_sign = current_sign(p.model);
  return mp;
}

void prepare_medium_step(const MediumParameters& mp, std::int64_t J, double dt, MediumStep& step) {
  using namespace constants;
  step.dt = dt;
  step.t = (static_cast<double>(J) + 0.5) * dt;
  const double t = step.t;
  step_coefficients(t, mp.detuning, mp.dipole, mp.T, step.coeffs);
  step.decay = decay_factors(J, dt, mp.T);
  const double e1 = std::exp(-(t / mp.T[1]));
  const double e7 = std::exp(-(t / mp.T[7]));
  const double e13 = std::exp(-(t / mp.T[13]));
  const double Nd = mp.density;
  const double P = mp.dipole;
  const double sign = mp.current_sign;
  step.aX1 = sign * (-Nd * P * e1 / (eps0 * mp.T[1]));
  step.aX7 = sign * (Nd * P * mp.half_detuning * e7 / eps0);
  step.aX13 = sign * (P * P * e13 * Nd / (hbar * eps0));
  step.aY1 = sign * (-Nd * P * mp.half_detuning * e1 / eps0);
  step.aY7 = sign * (-Nd * P * e7 / (eps0 * mp.T[7]));
  step.growth1 = std::exp(t / mp.T[1]);
  step.growth7 = std::exp(t / mp.T[7]);
}

int advance_dot_cell(const StepCoefficients& step, const CellCoefficients& cell,
                     const ImplicitStep& solver, const CellVector& old, CellVector& now) {
  CellVector rate;
  pseudospin_rhs(step, cell, old, old, rate);
  // First iterate: a rate below 1e-100 (any negative one included) is
  // masked, so the explicit predictor never drives a population negative.
  for (double& r : rate.w.v) {
    if (r < 1e-100) r = 0.0;
  }
  euler_from(old, rate, solver.dt, now);

  int evaluations = 1;
  CellVector previous;
  for (;;) {
    if (evaluations >= solver.iteration_limit) break;
    if (evaluations >= 2 && converged(now, previous, solver.tolerance)) break;
    previous = now;
    pseudospin_rhs(step, cell, old, previous, rate);
    euler_from(old, rate, solver.dt, now);
    ++evaluations;
  }
  return evaluations;
}

std::int64_t update_E_and_medium(FieldState& f, MediumState& m, const FieldCoefficients& coeffs,
                                 const MediumParameters& mp, const MediumStep& step) {
  update_E(f, coeffs, step.dt);
  const auto count = static_cast<std::int64_t>(m.medium_cells.size());
  std::int64_t evaluations = 0;
  const CellLoop loop{f, m, coeffs, mp, step};
  auto cells = [&](std::int64_t first, std::int64_t last, std::int64_t& evals) {
    CouplingCache cache;
    for (std::int64_t n = first; n < last; ++n) {
      const std::int32_t i = m.medium_cells[static_cast<std::size_t>(n)];
      if (m.kind[static_cast<std::size_t>(i)] == CellKind::dot) {
        evals += advance_dot(loop, i, cache);
      } else {
        carry_passive_cell(m, i, f, mp, step);
      }
    }
  };
  if (count >= kMinMediumCellsToFork) {
#pragma omp parallel reduction(+ : evaluations)
    {
      // The same contiguous split as a static schedule.
      const std::int64_t threads = omp_get_num_threads();
      const std::int64_t t = omp_get_thread_num();
      const std::int64_t chunk = count / threads;
      const std::int64_t extra = count % threads;
      const std::int64_t first = t * chunk + std::min(t, extra);
      const std::int64_t last = first + chunk + (t < extra ? 1 : 0);
      cells(first, last, evaluations);
    }
  } else {
    cells(0, count, evaluations);
  }
  return evaluations;
}

}  // namespace mps
