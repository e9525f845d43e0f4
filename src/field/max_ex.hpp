#pragma once
#include "field/field_state.hpp"

namespace mps {

// Largest |Ex| over cells 1..n at `level`; -1e20 (in single precision) when
// n < 1.  NaN values are passed over, so the result is the same for any
// split of the cells over threads.
double max_abs_ex(const FieldState& f, int level, std::int32_t n);

}  // namespace mps
