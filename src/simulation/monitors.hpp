#pragma once
// Sampling of the monitor cells into the block buffers, every step.
#include <cstdint>

#include "input/input_reader.hpp"
#include "output/monitor_buffers.hpp"
#include "simulation/simulation.hpp"

namespace mps {

// Row r of the buffers: Ex, Ey and rho11..rho44 of the new level at every
// monitor cell (populations 0 outside the dot region z1..z2).
void sample_monitors(const RunInput& input, const Simulation& sim, MonitorBuffers& buffers,
                     std::int64_t r);

// Row 0 of a block holds the samples of the step before its first step:
// the last row of the previous block.
void carry_last_row(MonitorBuffers& buffers);

}  // namespace mps
