#pragma once
// The coefficients of a block of dot cells, lane by lane: the curls of H,
// each driven pair's current and drive (medium/transitions.hpp) and the
// population block of each lane's flags.
#include <cstdint>

#include "medium/medium_update.hpp"

namespace mps {

// The coefficients of every lane: the curls of H at the new level, and
// each driven pair's current and drive (pair_lane_coefficients); eq holds
// u13eq..u15eq of the lanes.
void field_coefficients(const MediumParameters& mp, const MediumStep& step, const BatchCells& in,
                        const Lanes* eq, BatchCoefficients& c);

// The population blocks of the lanes' cells (from their flags and
// equilibria); a block shared by all lanes, as in a uniform dot layer, is
// looked up once.
void population_blocks(const MediumSweep& sweep, std::int32_t block, const BatchCells& in,
                       CouplingCache& cache, BatchCoefficients& c);

}  // namespace mps
