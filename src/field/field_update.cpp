#include "field/field_update.hpp"

#include <algorithm>
#include <cmath>

namespace mps {

void compute_field_profile(const StructureProfile& s, double dz, double dt, FieldCoefficients& k) {
  const std::int32_t N = s.NZ;
  const auto n_cells = static_cast<std::size_t>(N) + 1;
  k.eps_r.assign(n_cells, 0.0);
  k.cE.assign(n_cells, 0.0);
  k.cH.assign(n_cells, 0.0);
  // First cell of every layer, so each cell finds its layer without a walk.
  std::vector<std::int64_t> first(s.layers.size() + 1, 1);
  for (std::size_t j = 0; j < s.layers.size(); ++j) first[j + 1] = first[j] + s.layers[j].cells;
  const double eps0 = constants::eps0;

  for_each_cell(1, N, kMinCellsToFork, [&](std::int32_t i) {
    // The layer with first <= i < first + cells (layers of 0 cells are skipped).
    const auto j = static_cast<std::size_t>(std::upper_bound(first.begin(), first.end(), i) -
                                            first.begin() - 1);
    const Layer& layer = s.layers[j];
    double n = layer.index;
    if (layer.graded) {
      n = layer.index + static_cast<double>(i - first[j] + 1) * (layer.index_end - layer.index) /
                            static_cast<double>(layer.cells);
    }
    const double n2 = n * n;
    const double v = s.phase_velocity[static_cast<std::size_t>(i)];
    k.eps_r[static_cast<std::size_t>(i)] = n2;
    k.cE[static_cast<std::size_t>(i)] = 1.0 / (dz * eps0 * n2);
    k.cH[static_cast<std::size_t>(i)] = dt / (dz / (n2 * eps0 * v * v));
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

}  // namespace mps
