#include "medium/medium_update.hpp"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace mps {

std::array<std::int32_t, 4> population_flags(std::int32_t i, double u13, double u14, double u15,
                                             std::int32_t cavity_left, std::int32_t cavity_right) {
  if (!(cavity_left < i && i <= cavity_right)) return {0, 0, 0, 0};
  const Populations p = populations(u13, u14, u15);
  return {p.rho11 > 0.0, p.rho22 > 0.0, p.rho33 > 0.0, p.rho44 > 0.0};
}

namespace {

inline double flush120(double x) { return std::fabs(x) < 1e-120 ? 0.0 : x; }

// E of every cell as in a cell without dots, H at the new level:
//   curlX = (Hy(i) - Hy(i-1)) cE(i),  curlY = (Hx(i) - Hx(i-1)) cE(i)
//   Ex_new = Ex_old + dt (-curlX),    Ey_new = Ey_old + dt curlY
// (dEx/dt = -(1/(eps0 eps_r)) dHy/dz, dEy/dt = (1/(eps0 eps_r)) dHx/dz);
// magnitudes below 1e-120 are stored as 0.  Dot cells are overwritten by
// their implicit step afterwards.
void update_E_empty(FieldState& f, const FieldCoefficients& k, double dt) {
  const int nw = f.new_level();
  const int od = f.old_level();
  const double* __restrict ex_old = f.Ex[od].data();
  const double* __restrict ey_old = f.Ey[od].data();
  const double* __restrict hx = f.Hx[nw].data();
  const double* __restrict hy = f.Hy[nw].data();
  double* __restrict ex = f.Ex[nw].data();
  double* __restrict ey = f.Ey[nw].data();
  const double* __restrict cE = k.cE.data();
  const std::int32_t N = f.N;

  for_each_cell_simd(1, N - 1, kMinCellsToFork, [=](std::int32_t i) {
    const double curl_y = (hx[i] - hx[i - 1]) * cE[i];
    const double curl_x = (hy[i] - hy[i - 1]) * cE[i];
    const double x = ex_old[i] + dt * -curl_x;
    const double y = ey_old[i] + dt * curl_y;
    ex[i] = flush120(x);
    ey[i] = flush120(y);
  });
}

// A cell without dots: its stored values are carried to the new level
// unchanged apart from the flush of tiny values.
void carry_passive_cell(MediumState& m, std::int32_t i, int nw, int od, const MediumParameters& mp,
                        const MediumStep& step) {
  const double* w_old = m.w_at(od, i);
  double* w_new = m.w_at(nw, i);
  const auto c = static_cast<std::size_t>(i);
  const auto& e = step.decay.now;
  const double u13 = m.u13eq[c] + e[13] * w_old[12];
  const double u14 = m.u14eq[c] + e[14] * w_old[13];
  const double u15 = m.u15eq[c] + e[15] * w_old[14];
  m.u13[static_cast<std::size_t>(nw)][c] = u13;
  m.u14[static_cast<std::size_t>(nw)][c] = u14;
  m.u15[static_cast<std::size_t>(nw)][c] = u15;
  m.occ[c] = population_flags(i, u13, u14, u15, mp.cavity_left, mp.cavity_right);
  for (int k = 0; k < kStored; ++k) w_new[k] = flush120(w_old[k]);
}

// COEFF_RHO depends on the cell only through its flags (which switch the
// transfer times) and its equilibrium values, and most dot cells share
// both: each thread keeps the last result per flag pattern for the step.
class CouplingCache {
 public:
  const PopulationCoupling& get(const MediumParameters& mp, const MediumStep& step,
                                const std::array<std::int32_t, 4>& occ, double eq13, double eq14,
                                double eq15) {
    const unsigned key = static_cast<unsigned>((occ[0] != 0) | (occ[1] != 0) << 1 |
                                               (occ[2] != 0) << 2 | (occ[3] != 0) << 3);
    Entry& e = entries_[key];
    if (!e.valid || !same(e.eq13, eq13) || !same(e.eq14, eq14) || !same(e.eq15, eq15)) {
      e.value = COEFF_RHO(working_tau(mp.tau, occ), mp.gamma, step.t, eq13, eq14, eq15);
      e.eq13 = eq13;
      e.eq14 = eq14;
      e.eq15 = eq15;
      e.valid = true;
    }
    return e.value;
  }

 private:
  static bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
  struct Entry {
    bool valid = false;
    double eq13 = 0.0, eq14 = 0.0, eq15 = 0.0;
    PopulationCoupling value;
  };
  std::array<Entry, 16> entries_{};
};

void advance_dot(FieldState& f, MediumState& m, const FieldCoefficients& k,
                 const MediumParameters& mp, const MediumStep& step, std::int32_t i,
                 CouplingCache& cache, std::int64_t& evaluations) {
  const int nw = f.new_level();
  const int od = f.old_level();
  const auto c = static_cast<std::size_t>(i);
  const auto nwl = static_cast<std::size_t>(nw);
  const auto odl = static_cast<std::size_t>(od);
  const double eq13 = m.u13eq[c], eq14 = m.u14eq[c], eq15 = m.u15eq[c];

  CellCoefficients cell;
  const double inv_eps = 1.0 / k.eps_r[c];
  cell.aX1 = step.aX1 * inv_eps;
  cell.aX7 = step.aX7 * inv_eps;
  cell.aX13 = step.aX13 * inv_eps;
  cell.aY1 = step.aY1 * inv_eps;
  cell.aY7 = step.aY7 * inv_eps;
  cell.aY13 = -cell.aX13;
  cell.curlY = (f.Hx[nwl][c] - f.Hx[nwl][c - 1]) * k.cE[c];
  cell.curlX = (f.Hy[nwl][c] - f.Hy[nwl][c - 1]) * k.cE[c];
  cell.gX = mp.current_sign *
            (mp.dipole * mp.density * mp.dipole / (constants::hbar_eps0 * k.eps_r[c]) * eq13);
  cell.gY = -cell.gX;
  cell.s1 = mp.dipole * eq13 * step.growth1 / constants::hbar;
  cell.s7 = mp.dipole * eq13 * step.growth7 / (-constants::hbar);
  cell.pop = cache.get(mp, step, m.occ[c], eq13, eq14, eq15);

  CellVector old;
  old.ex = f.Ex[odl][c];
  old.ey = f.Ey[odl][c];
  const double* w_old = m.w_at(od, i);
  for (int n = 0; n < kStored; ++n) old.w[static_cast<std::size_t>(n)] = w_old[n];
  CellVector now;
  evaluations +=
      advance_dot_cell(step.coeffs, cell, step.dt, mp.iteration_limit, mp.tolerance, old, now);

  const auto& e = step.decay.now;
  const double u13 = eq13 + e[13] * now.w[12];
  const double u14 = eq14 + e[14] * now.w[13];
  const double u15 = eq15 + e[15] * now.w[14];
  m.u13[nwl][c] = u13;
  m.u14[nwl][c] = u14;
  m.u15[nwl][c] = u15;
  m.occ[c] = population_flags(i, u13, u14, u15, mp.cavity_left, mp.cavity_right);

  double* w_new = m.w_at(nw, i);
  for (int n = 0; n < kStored; ++n) w_new[n] = flush120(now.w[static_cast<std::size_t>(n)]);
  f.Ex[nwl][c] = flush120(now.ex);
  f.Ey[nwl][c] = flush120(now.ey);
}

// Relative change of x against its previous iterate p.
inline double relative_change(double x, double p) {
  if (x == 0.0) return p != 0.0 ? 1.0 : 0.0;
  return std::fabs((x - p) / x);
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
  mp.cavity_left = s.cavity_left;
  mp.cavity_right = s.cavity_right;
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

int advance_dot_cell(const StepCoefficients& step, const CellCoefficients& cell, double dt,
                     std::int64_t iteration_limit, double tolerance, const CellVector& old,
                     CellVector& now) {
  CellVector rate;
  F_4LEVEL_12PUMP(step, cell, old, old, rate);
  // First iterate: a rate below 1e-100 (any negative one included) is
  // masked, so the explicit predictor never drives a population negative.
  for (double& r : rate.w) {
    if (r < 1e-100) r = 0.0;
  }
  for (std::size_t n = 0; n < 16; ++n) now.w[n] = old.w[n] + dt * rate.w[n];
  now.ex = old.ex + dt * rate.ex;
  now.ey = old.ey + dt * rate.ey;

  int evaluations = 1;
  CellVector previous;
  for (;;) {
    if (evaluations >= iteration_limit) break;
    if (evaluations >= 2) {
      bool converged = relative_change(now.ex, previous.ex) < tolerance &&
                       relative_change(now.ey, previous.ey) < tolerance;
      for (std::size_t n = 0; n < 16 && converged; ++n) {
        converged = relative_change(now.w[n], previous.w[n]) < tolerance;
      }
      if (converged) break;
    }
    previous = now;
    F_4LEVEL_12PUMP(step, cell, old, previous, rate);
    for (std::size_t n = 0; n < 16; ++n) now.w[n] = old.w[n] + dt * rate.w[n];
    now.ex = old.ex + dt * rate.ex;
    now.ey = old.ey + dt * rate.ey;
    ++evaluations;
  }
  return evaluations;
}

std::int64_t ILOOP(FieldState& f, MediumState& m, const FieldCoefficients& coeffs,
                   const MediumParameters& mp, const MediumStep& step) {
  update_E_empty(f, coeffs, step.dt);
  const int nw = f.new_level();
  const int od = f.old_level();
  const auto count = static_cast<std::int64_t>(m.medium_cells.size());
  std::int64_t evaluations = 0;
  auto cells = [&](std::int64_t first, std::int64_t last, std::int64_t& evals) {
    CouplingCache cache;
    for (std::int64_t n = first; n < last; ++n) {
      const std::int32_t i = m.medium_cells[static_cast<std::size_t>(n)];
      if (m.kind[static_cast<std::size_t>(i)] == CellKind::dot) {
        advance_dot(f, m, coeffs, mp, step, i, cache, evals);
      } else {
        carry_passive_cell(m, i, nw, od, mp, step);
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
