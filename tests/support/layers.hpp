#pragma once
// Layers built by hand for structure and field tests.
#include <cstdint>
#include <utility>
#include <vector>

#include "input/structure.hpp"

namespace mps::testing {

// A layer of `cells` cells with index n, graded up to n_end when n_end != 0.
inline Layer layer(std::int32_t cells, double n, double n_end = 0.0) {
  Layer l;
  l.cells = cells;
  l.index = n;
  l.index_end = n_end;
  l.graded = n_end != 0.0;
  return l;
}

// A structure of these layers, one after the other (its material profile
// filled when dz and dt are given).
inline StructureProfile structure_of(std::vector<Layer> layers) {
  StructureProfile s;
  s.layers = std::move(layers);
  for (const Layer& l : s.layers) s.NZ += l.cells;
  return s;
}
inline StructureProfile structure_of(std::vector<Layer> layers, double dz, double dt, Model model) {
  StructureProfile s = structure_of(std::move(layers));
  fill_material_profile(s, dz, dt, model);
  return s;
}

}  // namespace mps::testing
