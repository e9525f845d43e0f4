#pragma once
// "n_z.dat": the refractive index along z, one line per cell.
#include <string>

#include "core/run_parameters.hpp"
#include "input/structure.hpp"

namespace mps {

// z [um] and n of every cell, two F12.5 fields separated by two blanks.
std::string index_profile_text(const StructureProfile& structure, double dz);

// Writes "n_z.dat" into the results folder.
void write_index_profile(const RunDirectories& dirs, const StructureProfile& structure, double dz);

}  // namespace mps
