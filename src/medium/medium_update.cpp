#include "medium/medium_update.hpp"

#include <cmath>


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

#pragma omp parallel for schedule(static) if (N >= kMinCellsToFork)
  for (std::int32_t i = 1; i < N; ++i) {
    const double curl_y = (hx[i] - hx[i - 1]) * cE[i];
    const double curl_x = (hy[i] - hy[i - 1]) * cE[i];
    const double x = ex_old[i] + dt * -curl_x;
    const double y = ey_old[i] + dt * curl_y;
    ex[i] = flush120(x);
    ey[i] = flush120(y);
  }
}


// A cell without dots: its stored values are carried to the new level
// unchanged apart from the flush of tiny values.
void carry_passive_cell(MediumState& m, std::int32_t i, int nw, int od, const MediumStepContext& ctx) {
  const double* w_old = m.w_at(od, i);
  double* w_new = m.w_at(nw, i);
  for (int k = 0; k < kStored; ++k) w_new[k] = flush120(w_old[k]);
  const auto c = static_cast<std::size_t>(i);
  const auto& e = ctx.decay->now;
  const double u13 = m.u13eq[c] + e[13] * w_old[12];
  const double u14 = m.u14eq[c] + e[14] * w_old[13];
  const double u15 = m.u15eq[c] + e[15] * w_old[14];
  m.u13[static_cast<std::size_t>(nw)][c] = u13;
  m.u14[static_cast<std::size_t>(nw)][c] = u14;
  m.u15[static_cast<std::size_t>(nw)][c] = u15;
  m.occ[c] = population_flags(i, u13, u14, u15, ctx.cavity_left, ctx.cavity_right);
}

}  // namespace

void ILOOP(FieldState& f, MediumState& m, const FieldCoefficients& coeffs,
           const MediumStepContext& ctx) {
  update_E_empty(f, coeffs, ctx.dt);
  const int nw = f.new_level();
  const int od = f.old_level();
  const auto count = static_cast<std::int64_t>(m.medium_cells.size());
#pragma omp parallel for schedule(static) if (count >= kMinMediumCellsToFork)
  for (std::int64_t n = 0; n < count; ++n) {
    carry_passive_cell(m, m.medium_cells[static_cast<std::size_t>(n)], nw, od, ctx);
  }
}

}  // namespace mps
