#pragma once
// The files a run writes before its first step: "n_z.dat" and "param.txt".
#include "input/input_reader.hpp"

namespace mps {

// Writes "n_z.dat" and "param.txt" into the results folder.
void write_setup_files(const RunInput& input);

}  // namespace mps
