#include "simulation/monitors.hpp"

namespace mps {

void sample_monitors(const RunInput& in, const Simulation& sim, MonitorBuffers& b, std::int64_t r) {
  const FieldState& f = sim.field;
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto& cells = in.params.monitor_cells;
  for (std::int32_t k = 1; k <= b.M; ++k) {
    const std::int32_t cell = cells[static_cast<std::size_t>(k - 1)];
    const auto c = static_cast<std::size_t>(cell);
    const std::size_t at = b.at(k, r);
    b.ex[at] = f.Ex[nw][c];
    b.ey[at] = f.Ey[nw][c];
    Populations p;
    if (in.structure.z1 <= cell && cell <= in.structure.z2) {
      p = populations(sim.medium.physical(f.new_level(), cell));
    }
    b.rho11[at] = p.rho11;
    b.rho22[at] = p.rho22;
    b.rho33[at] = p.rho33;
    b.rho44[at] = p.rho44;
  }
}

void carry_last_row(MonitorBuffers& b) {
  const std::int64_t last = b.rows - 1;
  for (std::int32_t k = 0; k <= b.M; ++k) {
    for (auto* v : {&b.ex, &b.ey, &b.rho11, &b.rho22, &b.rho33, &b.rho44}) {
      (*v)[b.at(k, 0)] = (*v)[b.at(k, last)];
    }
  }
  b.max_ex[0] = b.max_ex[static_cast<std::size_t>(last)];
}

}  // namespace mps
