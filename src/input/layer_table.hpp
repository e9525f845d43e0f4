#pragma once
// The layer table of the input file: the spatial line and the rows after it.
#include "core/run_parameters.hpp"
#include "input/execdata_reader.hpp"
#include "input/structure.hpp"

namespace mps {

// Spatial line and layer table: dz, the cavity layers, the rows, the cell
// count NZ and the cavity cells.
void read_layer_table(ExecdataReader& reader, RunParameters& params, StructureProfile& structure);

}  // namespace mps
