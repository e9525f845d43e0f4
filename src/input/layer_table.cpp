// The spatial line and the layer table of the input file: the rows, the
// cavity cells and the first dot layer found as the rows are read, the
// grid's cell count, and the rows that lie outside the grid or beyond the
// table's last row.
#include "input/layer_table.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "core/errors.hpp"

namespace mps {

namespace {

// One row of the layer table, its ten values on its own line; false at the
// end of the file (blank lines before it are skipped).  Components 14 and 15
// are stored divided by sqrt3 and sqrt6.
bool read_layer_row(ExecdataReader& reader, std::int32_t j, Layer& row) {
  reader.set_label(" ");
  if (!reader.skip_blank_lines()) return false;
  const std::string n = "layer." + std::to_string(j) + ".";
  reader.read({&row.cells, &row.unused, &row.index, &row.index_end, &row.a13, &row.a14, &row.a15,
               &row.b13, &row.b14, &row.b15},
              "a layer row",
              {{0, n + "cells"},
               {1, n + "unused"},
               {2, n + "index"},
               {3, n + "index_end"},
               {4, n + "a13"},
               {5, n + "a14"},
               {6, n + "a15"},
               {7, n + "b13"},
               {8, n + "b14"},
               {9, n + "b15"}});
  if (row.cells < 0) {
    throw ParameterError("Negative cell count in layer " + std::to_string(j) + ": " +
                         std::to_string(row.cells));
  }
  row.graded = row.index_end != 0.0;
  row.a14 /= constants::sqrt3;
  row.a15 /= constants::sqrt6;
  row.b14 /= constants::sqrt3;
  row.b15 /= constants::sqrt6;
  return true;
}

// The walk over the layer rows that finds the cavity cells and the first
// dot layer.
struct LayerWalk {
  std::int32_t first_cavity = 0, last_cavity = 0;  // cavity layers, as read
  std::int64_t total = 0;                          // cells of the rows before row j
  bool left_set = false, right_set = false, dots_found = false;
  std::int32_t cells_after_first = 0;  // cells of the layer after the first cavity layer

  // Accounts for row j; true when the table ends with it (f = 1: the
  // structure is the first row alone).
  bool take(const Layer& row, std::int32_t j, StructureProfile& s) {
    if (j == std::int64_t{first_cavity} + 1) cells_after_first = row.cells;
    if (!dots_found) {
      dots_found = row.is_dot_layer();
      s.active_cells = dots_found ? row.cells : cells_after_first;
      if (!dots_found) s.cells_before_active += row.cells;
    }
    if (j == 1 && first_cavity == 1) {
      s.cavity_left = 1;
      s.cavity_right = row.cells;
      total = row.cells;
      left_set = right_set = true;
      return true;
    }
    if (j == first_cavity) s.cavity_left = static_cast<std::int32_t>(total), left_set = true;
    if (j == std::int64_t{last_cavity} + 1) {
      s.cavity_right = static_cast<std::int32_t>(total);
      right_set = true;
    }
    total += row.cells;
    if (total > std::numeric_limits<std::int32_t>::max()) {
      throw ParameterError("Structure too long: more than 2147483647 cells after layer " +
                           std::to_string(j));
    }
    return false;
  }
};

// Rows after the 500th would be dropped without a word: a report instead.
void reject_rows_beyond_the_last(ExecdataReader& reader) {
  std::string text;
  while (reader.next_line(text, false, "a layer row")) {
    if (text_before_hash(text).find_first_not_of(" \t\r") != std::string::npos) {
      throw ParameterError("The layer table has more than " + std::to_string(kMaxLayers) +
                           " rows; the rows after the " + std::to_string(kMaxLayers) +
                           "th would not be used");
    }
  }
}

}  // namespace

void read_layer_table(ExecdataReader& reader, RunParameters& p, StructureProfile& s) {
  reader.set_label(" ");
  reader.read(
      {&s.dz, &p.first_cavity_layer, &p.last_cavity_layer}, "the spatial line",
      {{0, "structure.dz", "m"}, {1, "structure.first_cavity"}, {2, "structure.last_cavity"}});
  if (!(s.dz > 0.0) || !std::isfinite(s.dz)) {
    throw ParameterError("Spatial step dz must be positive and finite: dz = " + number_text(s.dz));
  }

  s.layers.clear();
  LayerWalk walk;
  walk.first_cavity = p.first_cavity_layer;
  walk.last_cavity = p.last_cavity_layer;
  bool ended = false;  // the structure has ended; later rows lie outside the grid
  for (std::int32_t j = 1; j <= kMaxLayers; ++j) {
    Layer row;
    if (!read_layer_row(reader, j, row)) break;
    if (ended) {
      s.rows_beyond.push_back(row);
      continue;
    }
    s.layers.push_back(row);
    ended = walk.take(row, j, s);
  }
  if (!s.rows_beyond.empty()) {
    reader.warn("layer rows 2.." + std::to_string(1 + s.rows_beyond.size()) +
                " lie outside the grid: with the first cavity layer 1 the structure is the "
                "first row alone");
  }
  if (static_cast<int>(s.layers.size() + s.rows_beyond.size()) == kMaxLayers) {
    reject_rows_beyond_the_last(reader);
  }
  s.NZ = static_cast<std::int32_t>(walk.total);
  // A table that ends before the first or after the last cavity layer: the
  // cavity starts at the left end or ends at the right end of the grid.
  if (!walk.left_set) s.cavity_left = 0;
  if (!walk.right_set) s.cavity_right = s.NZ;
  if (s.NZ < 2) {
    throw ParameterError("The structure needs at least 2 cells: NZ = " + std::to_string(s.NZ));
  }
}

}  // namespace mps
