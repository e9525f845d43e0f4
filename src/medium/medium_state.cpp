#include "medium/medium_state.hpp"

#include <cmath>

#include "core/run_parameters.hpp"

namespace mps {

Populations populations(double u13, double u14, double u15) {
  using namespace constants;
  Populations p;
  p.rho11 = (3.0 - 6.0 * u13 - two_sqrt3 * u14 - sqrt6 * u15) / 12.0;
  p.rho22 = (3.0 + 6.0 * u13 - two_sqrt3 * u14 - sqrt6 * u15) / 12.0;
  p.rho33 = (3.0 + four_sqrt3 * u14 - sqrt6 * u15) / 12.0;
  p.rho44 = (1.0 + sqrt6 * u15) / 4.0;
  return p;
}

DecayFactors decay_factors(std::int64_t J, double dt, const std::array<double, 16>& T) {
  DecayFactors d;
  const double t_now = (static_cast<double>(J) + 0.5) * dt;
  const double t_prev = (static_cast<double>(J) - 0.5) * dt;
  for (std::size_t k = 1; k <= 15; ++k) {
    d.now[k] = std::exp(-(t_now / T[k]));
    d.previous[k] = std::exp(-(t_prev / T[k]));
  }
  return d;
}

void classify_cells(MediumState& m, const CellRange& cavity) {
  m.medium_cells.clear();
  for (std::int32_t i = 1; i < m.N; ++i) {
    const auto c = static_cast<std::size_t>(i);
    CellKind kind = CellKind::vacuum;
    if (has_dots(m.u13eq[c], m.u14eq[c], m.u15eq[c])) {
      kind = CellKind::dot;
    } else {
      bool carries = m.u13eq[c] != 0.0 || m.u14eq[c] != 0.0 || m.u15eq[c] != 0.0;
      for (int level = 0; level < 2 && !carries; ++level) {
        const double* w = m.w_at(level, i);
        for (int k = 0; k < kStored; ++k) carries = carries || w[k] != 0.0;
      }
      if (carries) kind = CellKind::passive;
    }
    m.kind[c] = kind;
    if (kind == CellKind::vacuum) {
      const std::int32_t flag = cavity.contains(i) ? 1 : 0;
      m.occ[c] = {flag, flag, flag, flag};
    } else {
      m.medium_cells.push_back(i);
    }
  }
}

}  // namespace mps
