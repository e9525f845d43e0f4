#pragma once
// The H and E updates of the Yee scheme one after the other, cell by cell on
// the calling thread: the reference the step's one tiled sweep
// (update_fields_in_team) is held to, bit for bit.
#include <cmath>
#include <cstddef>

#include "field/field_state.hpp"

namespace mps::testing {

// H at the new level for cells 1..N-1 from E at the old level:
//   Hx_new(i) = Hx_old(i) + cH(i) (Ey_old(i+1) - Ey_old(i))
//   Hy_new(i) = Hy_old(i) - cH(i) (Ex_old(i+1) - Ex_old(i))
// then H(N) = H(N-1), so the curl of E at the last cell is zero.
inline void update_H(FieldState& f, const FieldCoefficients& k) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  const auto N = static_cast<std::size_t>(f.N);
  for (std::size_t i = 1; i < N; ++i) {
    f.Hx[nw][i] = f.Hx[od][i] + k.cH[i] * (f.Ey[od][i + 1] - f.Ey[od][i]);
    f.Hy[nw][i] = f.Hy[od][i] - k.cH[i] * (f.Ex[od][i + 1] - f.Ex[od][i]);
  }
  if (N >= 2) {
    f.Hx[nw][N] = f.Hx[nw][N - 1];
    f.Hy[nw][N] = f.Hy[nw][N - 1];
  }
}

// E of every cell 1..N-1 as in a cell without dots, H at the new level:
//   curlX = (Hy(i) - Hy(i-1)) cE(i),  curlY = (Hx(i) - Hx(i-1)) cE(i)
//   Ex_new = Ex_old + dt (-curlX),    Ey_new = Ey_old + dt curlY
// (dEx/dt = -(1/(eps0 eps_r)) dHy/dz, dEy/dt = (1/(eps0 eps_r)) dHx/dz);
// magnitudes below 1e-120 are stored as 0.
inline void update_E(FieldState& f, const FieldCoefficients& k, double dt) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  const auto flush = [](double x) { return std::fabs(x) < 1e-120 ? 0.0 : x; };
  for (std::size_t i = 1; i < static_cast<std::size_t>(f.N); ++i) {
    const double curl_y = (f.Hx[nw][i] - f.Hx[nw][i - 1]) * k.cE[i];
    const double curl_x = (f.Hy[nw][i] - f.Hy[nw][i - 1]) * k.cE[i];
    f.Ex[nw][i] = flush(f.Ex[od][i] + dt * -curl_x);
    f.Ey[nw][i] = flush(f.Ey[od][i] + dt * curl_y);
  }
}

}  // namespace mps::testing
