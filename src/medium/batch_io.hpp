#pragma once
// A block of dot cells into a batch (fields, stored values and what its
// coefficients are made of) and back to the new level, for the single-class
// and the class blocks alike.
#include <cmath>
#include <cstdint>

#include "core/constants.hpp"
#include "medium/medium_update.hpp"

namespace mps {

inline double flush_tiny(double x) { return std::fabs(x) < kFlushBelow ? 0.0 : x; }

// Block `block` of dot cells at the old level into the batch, with what
// its coefficients are made of.  Unused lanes (past the last dot cell)
// take the fields and coefficients of lane 0 and their own zeros.
void load_batch(const MediumSweep& sweep, std::int32_t block, DotBatch& b, BatchCells& in);

// The new level of the block: physical diagonal, stored values (flushed)
// and, per cell, the population flags and fields; the observer is told.
void store_batch(const MediumSweep& sweep, std::int32_t block, const BatchCells& in, DotBatch& b);

}  // namespace mps
