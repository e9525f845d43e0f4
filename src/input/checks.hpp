#pragma once
// The checks of a case, in one place: a value outside its range is a
// parameter report naming the value and the range it must lie in.  What the
// reading itself needs is checked where the value is read (the level count,
// unit codes, the monitor count, cell counts, the table's length, dz > 0,
// the pulse and boundary codes, the run control); everything else once the
// whole input has been read, here, before anything is written.
#include <cstdint>

#include "input/input_reader.hpp"

namespace mps {

// Monitor cells and the pulse origin on the grid; the pulse's step counts
// fit; graded indices positive; finite reals everywhere; positive times,
// indices and wavelength; a non-negative density; Courant numbers (S / n in
// every cell) at most 1, the stability limit of the leapfrog scheme in 1D;
// known codes; step counts that fit; J_final within the run.
void check_values(const RunInput& input);

// The source the command line chose: the transparent source launches pulses
// (not noise), and its scattered-field side needs cells of its own before
// the absorbing end.
void check_source(const RunInput& input);

// Bytes the run's arrays take (field, medium, per-block monitor buffers),
// estimated before anything is allocated; +infinity when the count would
// overflow.
double memory_estimate(const RunInput& input);

// Rejects a run whose arrays would not fit this machine's memory, naming
// both figures (FatalMessage-free: a ResourceError, exit status 3).
void check_memory(const RunInput& input);

}  // namespace mps
