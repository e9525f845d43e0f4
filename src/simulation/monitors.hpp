#pragma once
// Sampling of the monitor cells into the block buffers, every step.
#include <cstdint>
#include <vector>

#include "input/input_reader.hpp"
#include "output/traces.hpp"
#include "simulation/simulation.hpp"

namespace mps {

// Per-block buffers of the values sampled at the monitor cells every step.
// Row r of step J is J - Jb (Jb = block start); row 0 holds the samples of
// the step before the block's first step.
struct MonitorBuffers {
  std::int32_t M = 0;     // monitor points, k = 1..M
  std::int64_t rows = 0;  // rows 0..LL
  // [k * rows + r], k = 0..M (k = 0 unused)
  std::vector<double> ex, ey;                      // E at the new level [V/m]
  std::vector<double> rho11, rho22, rho33, rho44;  // populations (0 outside the dot region)
  std::vector<double> max_ex;                      // [r] field maximum of the step

  void allocate(std::int32_t monitors, std::int64_t LL) {
    M = monitors;
    rows = LL + 1;
    const auto n = static_cast<std::size_t>(monitors + 1) * static_cast<std::size_t>(rows);
    for (auto* b : {&ex, &ey, &rho11, &rho22, &rho33, &rho44}) b->assign(n, 0.0);
    max_ex.assign(static_cast<std::size_t>(rows), 0.0);
  }
  std::size_t at(std::int32_t k, std::int64_t r) const {
    return static_cast<std::size_t>(k) * static_cast<std::size_t>(rows) +
           static_cast<std::size_t>(r);
  }
  // The samples as the traces and statistics read them.
  MonitorSamples samples() const { return {M, rows, {ex, ey, rho11, rho22, rho33, rho44}}; }
};

// Row r of the buffers: Ex, Ey and rho11..rho44 of the new level at every
// monitor cell (populations 0 outside the dot region z1..z2).
void sample_monitors(const RunInput& input, const Simulation& sim, MonitorBuffers& buffers,
                     std::int64_t r);

// Row 0 of a block holds the samples of the step before its first step:
// the last row of the previous block.
void carry_last_row(MonitorBuffers& buffers);

}  // namespace mps
