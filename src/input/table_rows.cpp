// TAB-separated tables of the input file: a row read by its field count
// (with the warnings and errors of a row of too many or too few fields) and
// the 4 x 4 level matrices read row by row up to their closing '#' line.
#include "input/table_rows.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mps {

using textio::ListItem;
using textio::TextItem;

namespace {

void warn_field_count(ExecdataReader& reader, int fields, const TableRows& table, bool label) {
  std::string message = std::string(table.what) + " has " + std::to_string(fields) +
                        " TAB-separated field" + (fields == 1 ? "" : "s") +
                        " where the table needs " + std::to_string(table.fields) + "; ";
  if (label) message += "its label and ";
  message += std::to_string(fields) + (fields == 1 ? " value" : " values");
  message += label || fields != 1 ? " are read from it" : " is read from it";
  reader.warn(message);
}

// Words of a text separated by blanks, TABs or commas, up to a '/'.
int blank_separated_words(std::string_view text) {
  text = text.substr(0, text.find('/'));
  int words = 0;
  bool in_word = false;
  for (const char c : text) {
    const bool separator = c == ' ' || c == '\t' || c == '\r' || c == ',';
    if (!separator && !in_word) ++words;
    in_word = !separator;
  }
  return words;
}

}  // namespace

// One row of a TAB-separated table: the row's field count (before any '#')
// says how many values to read.  More fields than the table needs are read
// and dropped, with a warning; fewer are read by blanks when that gives
// exactly the table's values (with a warning), else the row is a read error
// (a value would be lost).  The values stand on the row's line; one that
// cannot be read is a read error.
template <typename T>
std::vector<T> read_table_row(ExecdataReader& reader, const std::string& text,
                              std::span<const T> current, const TableRows& table,
                              std::string* label, const std::vector<InputName>& names) {
  const std::string before_hash = text_before_hash(text);
  const int fields = textio::count_tab_fields(before_hash);
  // A label shares its field with the first value, so a label row of k
  // fields also reads k values.
  int count = fields;
  const bool slash = before_hash.find('/') != std::string::npos;  // ends the values on purpose
  if (fields < table.fields && !slash) {
    // Too few TABs: the row is read by blanks when that gives the table's
    // values exactly, else it is an error (a value would be lost).
    const int words = blank_separated_words(before_hash) - (label != nullptr ? 1 : 0);
    if (words != table.fields) {
      reader.fail_line("the table needs " + std::to_string(table.fields) +
                           " TAB-separated values; the row has " + std::to_string(fields) +
                           " field" + (fields == 1 ? "" : "s") + " and " + std::to_string(words) +
                           " blank-separated value" + (words == 1 ? "" : "s"),
                       table.what);
    }
    reader.warn(std::string(table.what) + " has " + std::to_string(fields) +
                " TAB-separated field" + (fields == 1 ? "" : "s") + " where the table needs " +
                std::to_string(table.fields) + "; its " + std::to_string(words) +
                " blank-separated values are read");
    count = table.fields;
  } else if (fields != table.fields) {
    warn_field_count(reader, fields, table, label != nullptr);
  }
  reader.back_one();
  const auto values = static_cast<std::size_t>(count);
  std::vector<T> row(std::max(values, current.size()), T{});
  std::copy(current.begin(), current.end(), row.begin());
  std::vector<ListItem> items;
  if (label != nullptr) items.emplace_back(TextItem{label, 10});
  for (std::size_t k = 0; k < values; ++k) items.emplace_back(&row[k]);
  std::vector<InputName> given;  // the names of the items this row has
  for (const InputName& n : names) {
    if (n.item < items.size()) given.push_back(n);
  }
  reader.read_row(items, table.what, given);
  return row;
}

namespace {

// Names of the values of matrix row r: "<prefix>.r.j".
std::vector<InputName> matrix_row_names(const char* prefix, int r, const char* unit) {
  std::vector<InputName> names;
  if (r > kLevels) return names;
  for (int j = 1; j <= kLevels; ++j) {
    names.push_back({static_cast<std::size_t>(j - 1),
                     std::string(prefix) + "." + std::to_string(r) + "." + std::to_string(j),
                     unit});
  }
  return names;
}

}  // namespace

// Rows of a 4 x 4 matrix until a line starting with '#' (consumed).
template <typename T>
void read_matrix_table(ExecdataReader& reader, LevelMatrix<T>& m, const char* what,
                       const char* prefix, const char* unit) {
  std::string text;
  for (int r = 1;; ++r) {
    reader.next_line(text, true, what);
    if (!text.empty() && text[0] == '#') return;
    std::array<T, kLevels> current{};
    if (r <= kLevels) {
      for (int j = 1; j <= kLevels; ++j) current[static_cast<std::size_t>(j - 1)] = m(r, j);
    }
    const std::vector<T> row = read_table_row<T>(reader, text, current, {what, kLevels}, nullptr,
                                                 matrix_row_names(prefix, r, unit));
    if (r > kLevels) continue;  // rows beyond the table are read and dropped
    for (int j = 1; j <= kLevels; ++j) m(r, j) = row[static_cast<std::size_t>(j - 1)];
  }
}

template std::vector<std::int32_t> read_table_row(ExecdataReader&, const std::string&,
                                                  std::span<const std::int32_t>, const TableRows&,
                                                  std::string*, const std::vector<InputName>&);
template void read_matrix_table(ExecdataReader&, LevelMatrix<std::int32_t>&, const char*,
                                const char*, const char*);
template void read_matrix_table(ExecdataReader&, LevelMatrix<double>&, const char*, const char*,
                                const char*);

}  // namespace mps
