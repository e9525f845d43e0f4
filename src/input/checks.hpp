#pragma once
// Physical ranges and limits of a run, checked once the whole input has been
// read and before anything is written: a value outside its range is a
// parameter report naming the value and the range it must lie in.
#include <cstdint>

#include "input/input_reader.hpp"

namespace mps {

// Finite reals everywhere; positive times, indices and wavelength; a
// non-negative density; Courant numbers (S / n in every cell) at most 1, the
// stability limit of the leapfrog scheme in 1D; known codes; step counts
// that fit; J_final within the run.
void check_physical_ranges(const RunInput& input);

// Bytes the run's arrays take (field, medium, per-block monitor buffers),
// estimated before anything is allocated; +infinity when the count would
// overflow.
double memory_estimate(const RunInput& input);

// Rejects a run whose arrays would not fit this machine's memory, naming
// both figures (FatalMessage-free: a ResourceError, exit status 3).
void check_memory(const RunInput& input);

}  // namespace mps
