#pragma once
// The dot cells of a broadened ensemble (--ensemble): each cell's spectral
// classes in the lanes, their coefficients made from the cell's own, their
// states stored with their flags and their weighted mean as the cell's.
#include <cstdint>

#include "medium/medium_update.hpp"

namespace mps {

// A block of dot cells of a broadened ensemble, cell by cell, each with all
// its classes (advance_class_batch); the block is then stored as one of
// single-class cells is, with the classes' mean.  Its cost counts one
// evaluation per class and evaluation.
BlockEffort advance_class_block(const MediumSweep& sweep, std::int32_t block, CouplingCache& cache,
                                DotBatch& b, ClassBatch& cb);

}  // namespace mps
