#pragma once
// TAB-separated tables of the input file (the label, transition, time,
// dephasing and dipole tables): a row read by its field count, and the
// 4 x 4 level matrices.  Used by the parameter part only.
#include <span>
#include <string>
#include <vector>

#include "core/run_parameters.hpp"
#include "input/execdata_reader.hpp"

namespace mps {

// The rows of a TAB-separated table: their name in messages and the number
// of fields a row needs.
struct TableRows {
  const char* what;
  int fields;
};

// One row whose line `text` has just been taken, read by its fields (T is
// std::int32_t or double).  The values of `current` stand where the row
// gives none; `label`, when given, reads the row's leading label; `names`
// name the values.
template <typename T>
std::vector<T> read_table_row(ExecdataReader& reader, const std::string& text,
                              std::span<const T> current, const TableRows& table,
                              std::string* label = nullptr,
                              const std::vector<InputName>& names = {});

// Rows of a 4 x 4 matrix until a line starting with '#' (consumed); the
// values of row r are named "<prefix>.r.j" in `unit`.  Rows beyond the
// fourth are read and dropped.
template <typename T>
void read_matrix_table(ExecdataReader& reader, LevelMatrix<T>& m, const char* what,
                       const char* prefix, const char* unit);

}  // namespace mps
