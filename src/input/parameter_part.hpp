#pragma once
// The parameter part of the input file: everything before the spatial line.
#include "core/run_parameters.hpp"
#include "input/execdata_reader.hpp"

namespace mps {

// The three folder lines, the level, label, transition, time and dipole
// tables, the pulses, the boundaries, the run control and the monitor
// cells, up to the line before the spatial line.
void read_parameter_part(ExecdataReader& reader, RunDirectories& dirs, RunParameters& params);

}  // namespace mps
