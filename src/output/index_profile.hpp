#pragma once
// "n_z.dat": the refractive index along z, one line per cell.
#include "core/run_parameters.hpp"
#include "input/structure.hpp"

namespace mps {

// Writes "n_z.dat" into the results folder: z [um] and n of every cell,
// two F12.5 fields separated by two blanks.
void write_index_profile(const RunDirectories& dirs, const StructureProfile& structure, double dz);

}  // namespace mps
