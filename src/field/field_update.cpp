#include "field/field_update.hpp"

#include <algorithm>
#include <cmath>

#include "core/parallel.hpp"

namespace mps {

void compute_field_profile(const StructureProfile& s, double dz, double dt, FieldCoefficients& k) {
  const auto n_cells = static_cast<std::size_t>(s.NZ) + 1;
  k.eps_r.assign(n_cells, 0.0);
  k.cE.assign(n_cells, 0.0);
  k.cH.assign(n_cells, 0.0);
  const double eps0 = constants::eps0;
  for_each_cell_material(s, [&](std::int32_t i, const CellMaterial& m) {
    const auto c = static_cast<std::size_t>(i);
    const double n2 = m.index * m.index;
    const double v = m.phase_velocity;
    k.eps_r[c] = n2;
    k.cE[c] = 1.0 / (dz * eps0 * n2);
    k.cH[c] = dt / (dz / (n2 * eps0 * v * v));
  });
}

void update_H(FieldState& f, const FieldCoefficients& k) {
  const int nw = f.new_level();
  const int od = f.old_level();
  const double* __restrict ex = f.Ex[od].data();
  const double* __restrict ey = f.Ey[od].data();
  const double* __restrict hx_old = f.Hx[od].data();
  const double* __restrict hy_old = f.Hy[od].data();
  double* __restrict hx = f.Hx[nw].data();
  double* __restrict hy = f.Hy[nw].data();
  const double* __restrict cH = k.cH.data();
  const std::int32_t N = f.N;

  for_each_cell_simd(1, N - 1, kMinCellsToFork, [=](std::int32_t i) {
    hx[i] = hx_old[i] + cH[i] * (ey[i + 1] - ey[i]);
    hy[i] = hy_old[i] - cH[i] * (ex[i + 1] - ex[i]);
  });
  if (N >= 2) {
    hx[N] = hx[N - 1];
    hy[N] = hy[N - 1];
  }
}

namespace {

// The E update of cell i (see update_E), for the cell loops.
auto e_update(FieldState& f, const FieldCoefficients& k, double dt) {
  const int nw = f.new_level();
  const int od = f.old_level();
  const double* __restrict ex_old = f.Ex[od].data();
  const double* __restrict ey_old = f.Ey[od].data();
  const double* __restrict hx = f.Hx[nw].data();
  const double* __restrict hy = f.Hy[nw].data();
  double* __restrict ex = f.Ex[nw].data();
  double* __restrict ey = f.Ey[nw].data();
  const double* __restrict cE = k.cE.data();
  return [=](std::int32_t i) {
    const double curl_y = (hx[i] - hx[i - 1]) * cE[i];
    const double curl_x = (hy[i] - hy[i - 1]) * cE[i];
    const double x = ex_old[i] + dt * -curl_x;
    const double y = ey_old[i] + dt * curl_y;
    ex[i] = std::fabs(x) < 1e-120 ? 0.0 : x;
    ey[i] = std::fabs(y) < 1e-120 ? 0.0 : y;
  };
}

}  // namespace

void update_E(FieldState& f, const FieldCoefficients& k, double dt) {
  for_each_cell_simd(1, f.N - 1, kMinCellsToFork, e_update(f, k, dt));
}

void update_E_in_team(FieldState& f, const FieldCoefficients& k, double dt) {
  for_each_cell_simd_in_team(1, f.N - 1, e_update(f, k, dt));
}

}  // namespace mps
