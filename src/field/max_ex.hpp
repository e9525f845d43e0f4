#pragma once
#include <cstdint>
#include <vector>

#include "field/field_state.hpp"

namespace mps {

// Largest |Ex| over cells 1..N at the new level, from the largest |Ex| of
// the cells the fused E update counted (`counted_max`, -inf when none) and
// the cells changed after it (`late_cells`, which with the counted ones
// make up 1..N); -1e20 (in single precision) when no cell has a magnitude
// above it.  NaN values are passed over, so the result is the same for any
// split of the cells over threads.
double field_maximum(const FieldState& f, double counted_max,
                     const std::vector<std::int32_t>& late_cells);

}  // namespace mps
