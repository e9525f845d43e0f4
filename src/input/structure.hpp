#pragma once
// The layered structure along z: the layer table of the input file, the grid
// derived from it (cell count, cavity cells, dot region) and the material
// of every cell, worked out from its layer where it is needed (no per-cell
// arrays: a grid may have millions of cells).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/run_parameters.hpp"

namespace mps {

// One row of the layer table.  Set A (a13..a15) holds the start values of
// the diagonal pseudospin components, set B (b13..b15) their equilibrium
// values; components 14 and 15 are stored divided by sqrt3 and sqrt6.
struct Layer {
  std::int32_t cells = 0;  // number of cells of the layer
  double unused = 0.0;     // second column: read, not used
  double index = 0.0;      // refractive index (left end for a graded layer)
  double index_end = 0.0;  // right-end index of a graded layer; 0 = uniform
  bool graded = false;     // index_end != 0 (NaN counts as non-zero)
  double a13 = 0.0, a14 = 0.0, a15 = 0.0;
  double b13 = 0.0, b14 = 0.0, b15 = 0.0;

  // A dot layer has a non-zero equilibrium set (NaN counts as non-zero).
  bool is_dot_layer() const { return !(b13 == 0.0 && b14 == 0.0 && b15 == 0.0); }
};

struct StructureProfile {
  std::vector<Layer> layers;  // layer j (1-based) is layers[j-1]
  // Rows after the structure's end (with the first cavity layer 1 the
  // structure is the first row alone): read and checked, outside the grid.
  std::vector<Layer> rows_beyond;
  std::int32_t NZ = 0;            // number of cells; cells are 1..NZ, cell 0 stays empty
  std::int32_t cavity_left = 0;   // last cell before the first cavity layer
  std::int32_t cavity_right = 0;  // last cell of the last cavity layer
  std::int32_t active_cells = 0;  // cells of the first dot layer
  std::int64_t cells_before_active = 0;
  std::int32_t z1 = 0, z2 = 0;  // dot region, centred in the cavity

  // The grid's steps, which the material of a cell is worked out with.
  double dz = 0.0;  // spatial step [m], as read
  double dt = 0.0;  // time step S dz / c [s]
  Model model = Model::corrected;

  std::int32_t layer_count() const { return static_cast<std::int32_t>(layers.size()); }
};

// Refractive index of cell k (1..cells) of a graded layer: steps linearly
// from the left-end index to reach the right-end index at the last cell.
double graded_index(const Layer& layer, std::int32_t k);

// z1 and z2 from the cavity cells and the first dot layer's cell count.
void compute_dot_region(StructureProfile& structure);

// Records dz, dt and the model the cells' material is worked out with.
void fill_material_profile(StructureProfile& structure, double dz, double dt,
                           Model model = Model::corrected);

// The material of one cell.  A cell no layer covers has none (all 0).
struct CellMaterial {
  const Layer* layer = nullptr;  // its layer: start (a13..a15) and equilibrium (b13..b15) values
  double index = 0.0;            // n(i); graded layers step linearly to their end index
  double phase_velocity = 0.0;   // c / n of the cell [m/s]
  double local_courant = 0.0;    // phase_velocity dt / dz
};

// Cell k (1..cells) of `layer`.  A graded cell moves light at c / n of its
// own index; with Model::legacy at c / n of its layer's left-end index.
CellMaterial cell_material(const StructureProfile& structure, const Layer& layer, std::int32_t k);

// Cell i (1..NZ) of the grid, found by walking the layer table.
CellMaterial cell_material(const StructureProfile& structure, std::int32_t i);

// visit(i, material) for the cells i = 1..NZ in order, one pass over the
// layer table.
template <typename Visit>
void for_each_cell_material(const StructureProfile& s, Visit&& visit) {
  std::int64_t first = 1;  // first cell of the layer
  for (const Layer& layer : s.layers) {
    const std::int64_t last = std::min<std::int64_t>(first + layer.cells - 1, s.NZ);
    for (std::int64_t i = first; i <= last; ++i) {
      visit(static_cast<std::int32_t>(i),
            cell_material(s, layer, static_cast<std::int32_t>(i - first + 1)));
    }
    first += layer.cells;
  }
  for (std::int64_t i = std::max<std::int64_t>(first, 1); i <= s.NZ; ++i) {
    visit(static_cast<std::int32_t>(i), CellMaterial{});
  }
}

// Refractive index n(i) of every cell 0..NZ (cell 0 and cells no layer
// covers: 0); graded layers step linearly from their left to their right
// index.
std::vector<double> refractive_indices(const StructureProfile& structure);

// Rejects a graded layer whose index leaves the range of its two end values
// (the "1 ERROR" / "2 ERROR" reports; a few ulps of rounding are accepted).
void check_graded_layers(const StructureProfile& structure);

}  // namespace mps
