#pragma once
// Layers built by hand for structure and field tests.
#include <cstdint>

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

}  // namespace mps::testing
