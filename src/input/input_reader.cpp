#include "input/input_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "core/errors.hpp"
#include "core/relaxation.hpp"
#include "input/checks.hpp"
#include "input/pulse_timing.hpp"

namespace mps {

using textio::ListItem;
using textio::ListReadResult;
using textio::ReadStatus;
using textio::TextItem;

namespace {

std::string number_text(double x) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

std::string number_text(std::int64_t x) { return std::to_string(x); }

std::string trim_right_blanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A unit code of the input: 0..last.
void check_code(std::int32_t code, std::int32_t last, const char* rule) {
  if (code < 0 || code > last)
    throw ParameterError(std::string(rule) + ": " + std::to_string(code));
}

// Unit factor of a level row: 0 eV, 1 meV, 2 ueV; another code keeps the
// factor of the row before.
double unit_factor(std::int32_t code, double previous) {
  switch (code) {
    case 0:
      return 1.0;
    case 1:
      return 0.001;
    case 2:
      return 1e-6;
    default:
      return previous;
  }
}

}  // namespace

std::string text_before_hash(const std::string& line) {
  return trim_right_blanks(line.substr(0, line.find('#')));
}

std::string visible_text(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto u = static_cast<unsigned char>(text[k]);
    const bool bom = text.substr(k, 3) == "\xEF\xBB\xBF";
    if ((u < 0x20 && text[k] != '\t') || u == 0x7F || bom) {
      for (std::size_t b = 0; b < (bom ? 3u : 1u); ++b) {
        const auto byte = static_cast<unsigned char>(text[k + b]);
        out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
      }
      if (bom) k += 2;
    } else {
      out += text[k];
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
ExecdataReader::ExecdataReader(std::string path, std::string_view text,
                               std::vector<std::string>* warnings)
    : path_(std::move(path)), cursor_(textio::LineCursor::from_text(text)), warnings_(warnings) {}

bool ExecdataReader::record(std::string& text, bool checked, const char* what) {
  if (cursor_.read_record(text)) return true;
  text.clear();
  if (checked) {
    throw ReadError(path_ + ", at its end: " + what, label_,
                    path_ + ": the file ends where " + what + " should follow");
  }
  return false;
}

void ExecdataReader::skip_line(bool checked, const char* what) {
  std::string ignored;
  record(ignored, checked, what);
}

bool ExecdataReader::skip_blank_lines() {
  while (!cursor_.at_end() && textio::is_blank_text(cursor_.line(cursor_.next_index()))) {
    cursor_.seek(cursor_.next_index() + 1);
  }
  return !cursor_.at_end();
}

void ExecdataReader::read(std::initializer_list<ListItem> items, const char* what,
                          std::initializer_list<InputName> names) {
  skip_blank_lines();
  read_row(std::span<const ListItem>(items.begin(), items.size()), what,
           std::span<const InputName>(names.begin(), names.size()));
}

namespace {

std::variant<std::int64_t, double, std::string> item_value(const ListItem& item) {
  if (const auto* i = std::get_if<std::int32_t*>(&item)) return std::int64_t{**i};
  if (const auto* w = std::get_if<std::int64_t*>(&item)) return **w;
  if (const auto* r = std::get_if<double*>(&item)) return **r;
  return *std::get<TextItem>(item).value;
}

}  // namespace

void ExecdataReader::read_row(std::span<const ListItem> items, const char* what,
                              std::span<const InputName> names) {
  const std::size_t line = cursor_.next_index() + 1;
  const ListReadResult result = textio::read_list(cursor_, items, textio::ReadRules::strict);
  if (!result.ok()) fail(result, what);
  name_items(result, items, names, line);
}

void ExecdataReader::name_items(const ListReadResult& result, std::span<const ListItem> items,
                                std::span<const InputName> names, std::size_t line) {
  for (const InputName& n : names) {
    const textio::ValuePlace& at = result.places.at(n.item);
    std::string token;
    if (at.line != 0) token = cursor_.line(at.line - 1).substr(at.start, at.end - at.start);
    named_.push_back({n.name, n.unit, item_value(items[n.item]), line, at, std::move(token)});
  }
}

namespace {

// The tokens of a text before its first '#': runs of characters other than
// blanks, TABs, CRs and commas, with where they stand.
std::vector<textio::ValuePlace> word_places(const std::string& line) {
  std::vector<textio::ValuePlace> places;
  const std::size_t end = std::min(line.find('#'), line.size());
  const auto separator = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == ','; };
  for (std::size_t i = 0; i < end;) {
    if (separator(line[i])) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < end && !separator(line[j])) ++j;
    places.push_back({0, i, j});
    i = j;
  }
  return places;
}

// True when `token` alone reads as the value of `item` (and sets it).
bool reads_as(const std::string& token, const ListItem& item) {
  textio::LineCursor one(std::vector<std::string>{token});
  return textio::read_list(one, {item}, textio::ReadRules::strict).ok();
}

}  // namespace

void ExecdataReader::read_labelled(std::size_t words, ListItem item, const char* what,
                                   const InputName& name) {
  skip_blank_lines();
  const std::size_t index = cursor_.next_index();
  std::string word;
  std::vector<ListItem> items(words, ListItem{TextItem{&word, 100}});
  items.push_back(item);
  const ListReadResult result = textio::read_list(cursor_, items, textio::ReadRules::strict);
  if (result.status == ReadStatus::end_of_file) fail(result, what);
  if (result.ok()) {
    const InputName at_value{words, name.name, name.unit};
    name_items(result, items, std::span<const InputName>(&at_value, 1), index + 1);
    return;
  }
  // Other words than the layout's: the value is the line's one token that
  // reads as it.
  cursor_.seek(index + 1);
  const std::string& line = cursor_.line(index);
  if (textio::plain_text_problem(line) != nullptr) fail(result, what);
  std::vector<textio::ValuePlace> found;
  for (const textio::ValuePlace& w : word_places(line)) {
    if (reads_as(line.substr(w.start, w.end - w.start), item)) found.push_back(w);
  }
  if (found.empty()) fail(result, what);
  if (found.size() > 1) {
    fail_line(std::to_string(found.size()) + " values on the line; give one", what);
  }
  const textio::ValuePlace at{index + 1, found[0].start, found[0].end};
  std::string token = line.substr(at.start, at.end - at.start);
  reads_as(token, item);
  named_.push_back({name.name, name.unit, item_value(item), index + 1, at, std::move(token)});
}

void ExecdataReader::name_line(const std::string& name, const std::string& text) {
  const std::size_t line = cursor_.line_number();
  named_.push_back({name, "", text, line, {line, 0, text.size()}, text});
}

void ExecdataReader::warn(const std::string& message) {
  if (warnings_ == nullptr) return;
  warnings_->push_back(path_ + ", line " + std::to_string(cursor_.line_number()) + ": " + message);
}

// The detail names the line and quotes the offending value, or the whole
// line when no single value is to blame.
void ExecdataReader::fail(const ListReadResult& result, const char* what) const {
  std::string detail = path_;
  std::string place = path_;
  if (result.status == ReadStatus::end_of_file) {
    detail += ": the file ends while reading " + std::string(what);
    place += ", at its end: " + std::string(what);
  } else {
    place += ", line " + std::to_string(result.line_number) + ": " + what;
    detail += ", line " + std::to_string(result.line_number) + ": cannot read " + what;
    std::string_view text = result.token;
    if (text.empty() && result.line_number >= 1 && result.line_number <= cursor_.size()) {
      text = cursor_.line(result.line_number - 1);
    }
    detail += " from \"" + visible_text(text) + "\"";
    if (!result.message.empty()) detail += " (" + result.message + ")";
  }
  throw ReadError(place, label_, detail);
}

void ExecdataReader::fail_line(const std::string& problem, const char* what) const {
  const std::size_t line = cursor_.line_number();
  const std::string text = line >= 1 ? cursor_.line(line - 1) : std::string();
  const std::string place = path_ + ", line " + std::to_string(line);
  throw ReadError(
      place + ": " + what, label_,
      place + ": cannot read " + what + " from \"" + visible_text(text) + "\" (" + problem + ")");
}

// ---------------------------------------------------------------------------
namespace {

// The rows of a TAB-separated table: their name in messages and the number
// of fields a row needs.
struct TableRows {
  const char* what;
  int fields;
};

// A label row: a label and the two levels it names, "spin_up 1<TAB>2" (the
// label shares its field with the first level).
constexpr TableRows kLabelRows{"a label table row", 2};

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

// One row of a TAB-separated table: the row's field count (before any '#')
// says how many values to read.  More fields than the table needs are read
// and dropped, with a warning; fewer are read by blanks when that gives
// exactly the table's values (with a warning), else the row is a read error
// (a value would be lost).  The values stand on the row's line; one that
// cannot be read is a read error.
template <typename T>
std::vector<T> read_table_row(ExecdataReader& reader, const std::string& text,
                              std::span<const T> current, const TableRows& table,
                              std::string* label = nullptr,
                              const std::vector<InputName>& names = {}) {
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

// Rows of a 4 x 4 matrix until a line starting with '#' (consumed).
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

template <typename T>
void read_matrix_table(ExecdataReader& reader, LevelMatrix<T>& m, const char* what,
                       const char* prefix, const char* unit) {
  std::string text;
  for (int r = 1;; ++r) {
    reader.record(text, true, what);
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

std::string folder_line(ExecdataReader& reader, const char* what, const char* name) {
  std::string text;
  reader.record(text, true, what);
  std::string folder = text_before_hash(text);
  reader.name_line(name, folder);
  if (const char* problem = textio::plain_text_problem(folder)) {
    reader.fail_line(problem, ("the " + std::string(what)).c_str());
  }
  if (folder.empty()) {
    throw ParameterError("Empty folder name in execdata.txt: line of the " + std::string(what));
  }
  return folder + "/";
}

void read_level_table(ExecdataReader& reader, RunParameters& p) {
  reader.set_label(" ");
  reader.skip_line(true, "the level table heading");
  const std::size_t max_rows =
      static_cast<std::size_t>(p.n_levels) * static_cast<std::size_t>(p.n_levels);
  p.levels.assign(max_rows, LevelRow{});
  std::string text;
  double factor = 0.0;
  double first_factor = 0.0;
  // Rows are "name energy unit", whatever separates the three; blank lines
  // between them are skipped.
  for (std::size_t r = 0;; ++r) {
    reader.skip_blank_lines();
    reader.record(text, true, "a level table row");
    if (!text.empty() && text[0] == '#') break;
    reader.back_one();
    LevelRow scratch;
    LevelRow& row = r < max_rows ? p.levels[r] : scratch;
    const std::string level = "level." + std::to_string(r + 1);
    reader.read({TextItem{&row.name, 10}, &row.energy, &row.unit}, "a level table row",
                {{0, level + ".name"},
                 {1, level + ".energy", "(" + level + ".unit)"},
                 {2, level + ".unit"}});
    check_code(row.unit, 2, "Level energy unit must be 0 (eV), 1 (meV) or 2 (ueV)");
    factor = unit_factor(row.unit, factor);
    if (r == 0) first_factor = factor;
  }
  // The raw values are compared, before any unit factor.
  if (p.levels[0].energy != p.levels[2].energy) {
    throw ParameterError(" Energy levels need to be degenerate: two coupled two-level systems");
  }
  if (p.levels[1].energy != 0.0) {
    throw ParameterError(" Select zero energy separation between levels 1 and 3");
  }
  using namespace constants;
  p.transition_energy = electron_volt * p.levels[0].energy * first_factor;
  p.detuning = p.transition_energy / hbar;
  p.half_detuning = p.detuning * 0.5;
  p.resonant_wavelength = hc / p.transition_energy;
  p.resonant_frequency = c0 / p.resonant_wavelength;
  p.resonant_period = 1.0 / p.resonant_frequency;
}

// Labels of level pairs: read and named, not used by the run.
void read_label_table(ExecdataReader& reader) {
  std::string text;
  for (int r = 1;; ++r) {
    reader.record(text, true, "a label table row");
    if (!text.empty() && text[0] == '#') return;
    std::string label;
    const std::string name = "label." + std::to_string(r);
    read_table_row<std::int32_t>(reader, text, std::span<const std::int32_t>(), kLabelRows, &label,
                                 {{0, name + ".name"}, {1, name + ".1"}, {2, name + ".2"}});
  }
}

void check_transitions(const LevelMatrix<std::int32_t>& t) {
  if (t(1, 2) != 1) throw ParameterError("Select 1->2 and 2->1 transitions");
  if (t(3, 4) != 1) throw ParameterError("Select 3->4 and 4->3 transistions");
  if (t(2, 4) == 1) throw ParameterError("Deselect 2->4 transition");
  if (t(2, 3) == 1) throw ParameterError("Deselect 2->3 transition");
  if (t(1, 3) == 1) throw ParameterError("Deselect 1->3 transition");
  if (t(1, 4) == 1) throw ParameterError("Deselect 1->4 transition");
}

void check_dipoles(const LevelMatrix<double>& d) {
  if (d(1, 2) == 0.0) throw ParameterError("Set dipole moment for 1->2 transition");
  if (d(3, 4) == 0.0) throw ParameterError("Set dipole moment for 3->4 transition");
  if (d(2, 3) != 0.0) throw ParameterError("Set 0.0 dipole moment for 2->3 transition");
  if (d(2, 4) != 0.0) throw ParameterError("Set 0.0 dipole moment for 2->4 transition");
  if (d(1, 3) != 0.0) throw ParameterError("Set 0.0 dipole moment for 1->3 transition");
  if (d(3, 3) != 0.0) throw ParameterError("Set 0.0 dipole moment for 3->3 transition");
  if (d(4, 4) != 0.0) throw ParameterError("Set 0.0 dipole moment for 4->4 transition");
}

void read_time_tables(ExecdataReader& reader, RunParameters& p) {
  reader.set_label(" Scale factor long");
  reader.read({&p.scale_long}, "the scale factor of the long times", {{0, "times.scale"}});
  LevelMatrix<double> L;
  read_matrix_table(reader, L, "a row of the population and spin-flip times", "times", "s");
  // Population relaxation times of the diagonal components from the
  // transfer times (recombination 2->1, spin flips 1->3, 3->1, 2->4, 4->2)
  // as the legacy equations have them, every channel at half its rate; the
  // corrected model replaces them (read_execdata).
  p.T[13] = 4.0 / (2.0 / L(2, 1) + 1.0 / L(1, 3) + 1.0 / L(2, 4)) * p.scale_long;
  p.T[14] = 12.0 / (3.0 / L(1, 3) + 1.0 / L(2, 4) + 6.0 / L(3, 1)) * p.scale_long;
  p.T[15] = 6.0 / (3.0 * (1.0 / L(2, 1) + 1.0 / L(4, 2)) + 1.0 / L(2, 4)) * p.scale_long;
  for (int i = 1; i <= kLevels; ++i) {
    for (int j = 1; j <= kLevels; ++j) p.tau(i, j) = p.scale_long * L(i, j);
  }

  reader.set_label(" scale factor transf");
  reader.read({&p.scale_transverse}, "the scale factor of the dephasing times",
              {{0, "dephasing.scale"}});
  LevelMatrix<double> D;
  read_matrix_table(reader, D, "a row of the dephasing times", "dephasing", "s");
  // T1..T12: the off-diagonal entries in row order.
  int k = 1;
  for (int i = 1; i <= kLevels; ++i) {
    for (int j = 1; j <= kLevels; ++j) {
      if (i != j) p.T[static_cast<std::size_t>(k++)] = p.scale_transverse * D(i, j);
    }
  }

  read_matrix_table(reader, p.dipole_table, "a row of the dipole moments", "dipole", "C m");
  check_dipoles(p.dipole_table);
  p.dipole = p.dipole_table(1, 2);
}

double duration_unit(std::int32_t code) {
  switch (code) {
    case 0:
      return 1e-15;
    case 1:
      return 1e-12;
    default:
      return 0.0;
  }
}

double delay_unit(std::int32_t code) {
  switch (code) {
    case 0:
      return 1e-15;
    case 1:
      return 1e-12;
    case 2:
      return 1e-9;
    default:
      return 0.0;
  }
}

// The source knows shapes 1..5 and polarisations 1..4; the triangular
// shape (6) has a message of its own.  Checked as the line is read, so a
// run that cannot start writes nothing.
void check_pulse(std::int32_t shape, std::int32_t polarisation) {
  if (shape == 6) throw ParameterError("Formula not available yet for triangular pulse");
  if (shape < 1 || shape > 5) {
    throw ParameterError(
        "Pulse shape must be 1 to 5 (1 cw, 2 sech, 3 Gaussian, 4 turn-on, 5 noise): shape = " +
        std::to_string(shape));
  }
  if (polarisation < 1 || polarisation > 4) {
    throw FatalMessage("Error in pulse polarisation definition");
  }
}

// Boundary types 3 (PML) and 4 (periodic) are not available; the left side
// is reported first.
void check_boundary_side(BoundaryType type, const char* side) {
  if (type == BoundaryType::pml) {
    throw ParameterError(std::string("PML not implemented yet on ") + side + " boundary");
  }
  if (type == BoundaryType::periodic) {
    throw ParameterError(std::string("Periodic BC not implemented yet on ") + side + " boundary");
  }
}

// Names of a pulse line's twelve values: "pulse." for the first pulse,
// "pulse.<n>." for pulse n > 1; the units of the duration and the delay
// are named by their codes (0 fs, 1 ps; 0 fs, 1 ps, 2 ns).
std::vector<InputName> pulse_names(std::int32_t n) {
  std::string head = "pulse.";
  if (n > 1) head.append(std::to_string(n)).append(".");
  const auto named = [&head](const char* tail) { return head + tail; };
  return {{0, named("id")},
          {1, named("shape")},
          {2, named("wavelength"), "um"},
          {3, named("fwhm"), "(" + named("fwhm_unit") + ")"},
          {4, named("fwhm_unit")},
          {5, named("unused")},
          {6, named("amplitude"), "V/m"},
          {7, named("polarisation")},
          {8, named("noise")},
          {9, named("origin"), "cell"},
          {10, named("delay"), "(" + named("delay_unit") + ")"},
          {11, named("delay_unit")}};
}

// One pulse line into `q`.
void read_pulse_line(ExecdataReader& reader, Pulse& q, std::int32_t n) {
  std::int32_t id = 0, shape = 0, polarisation = 0, unused = 0, duration_code = 0, delay_code = 0;
  double wavelength_um = 0.0, duration = 0.0, delay = 0.0;
  const std::array<ListItem, 12> items = {
      &id,          &shape,        &wavelength_um,     &duration, &duration_code, &unused,
      &q.amplitude, &polarisation, &q.noise_amplitude, &q.origin, &delay,         &delay_code};
  reader.skip_blank_lines();
  reader.read_row(items, n == 1 ? "the pulse line" : "a further pulse line", pulse_names(n));
  check_pulse(shape, polarisation);
  q.shape = PulseShape{shape};
  q.polarisation = Polarisation{polarisation};
  q.wavelength = wavelength_um * 1e-6;
  check_code(duration_code, 1, "Pulse duration unit must be 0 (fs) or 1 (ps)");
  check_code(delay_code, 2, "Pulse delay unit must be 0 (fs), 1 (ps) or 2 (ns)");
  q.duration = duration * duration_unit(duration_code);
  q.delay = delay * delay_unit(delay_code);
  q.frequency = constants::c0 / q.wavelength;
  q.angular_frequency = q.frequency * constants::two_pi;
  q.tau = q.duration / constants::fwhm_factor;
  if (q.duration == 0.0) {
    // The Gaussian and secant envelopes divide by the duration.
    if (q.shape == PulseShape::sech || q.shape == PulseShape::gaussian) {
      throw ParameterError("Pulse duration must not be zero for pulse shape " +
                           std::to_string(shape) + ": duration = " + number_text(duration) +
                           ", unit code " + std::to_string(duration_code));
    }
    q.delay_ratio = 0;
  } else {
    q.delay_ratio = checked_trunc(q.delay / q.duration, "Pulse delay / duration");
  }
}

void read_pulse(ExecdataReader& reader, RunParameters& p) {
  reader.set_label(" num pulses");
  std::int32_t pulses = 0;
  reader.read({&pulses}, "the number of pulses", {{0, "pulses.count"}});
  if (pulses < 1 || pulses > kMaxPulses) {
    throw ParameterError("The number of pulses must be 1 to " + std::to_string(kMaxPulses) +
                         ": num pulses = " + std::to_string(pulses));
  }
  reader.set_label(" Error reading pulse parameters");
  read_pulse_line(reader, p.pulse, 1);
  p.further_pulses.assign(static_cast<std::size_t>(pulses - 1), Pulse{});
  for (std::int32_t n = 2; n <= pulses; ++n) {
    read_pulse_line(reader, p.further_pulses[static_cast<std::size_t>(n - 2)], n);
  }
}

void read_boundaries(ExecdataReader& reader, RunParameters& p) {
  reader.set_label(" ");
  reader.skip_line(false, "a comment line");
  reader.skip_line(false, "a comment line");
  // A code and a word per side: the word is text after the value.
  std::int32_t left = 0, right = 0;
  reader.read({&left}, "the left boundary code", {{0, "boundary.left.type"}});
  reader.read({&right}, "the right boundary code", {{0, "boundary.right.type"}});
  p.bc_left = BoundaryType{left};
  p.bc_right = BoundaryType{right};
  reader.read({&p.refl_left}, "the left reflection coefficient", {{0, "boundary.left.reflection"}});
  reader.read({&p.refl_right}, "the right reflection coefficient",
              {{0, "boundary.right.reflection"}});
  check_boundary_side(p.bc_left, "left");
  check_boundary_side(p.bc_right, "right");
}

void read_run_control(ExecdataReader& reader, RunParameters& p) {
  reader.skip_line(false, "a comment line");
  // The layout's words before a value are counted like values and dropped;
  // other words around the value do as well (read_labelled).
  reader.read_labelled(2, &p.courant, "the Courant number line", {0, "run.courant"});
  reader.read_labelled(6, &p.LL, "the LL line", {0, "run.LL", "steps"});
  std::int32_t run_number = 0;  // read and named, not used
  reader.read_labelled(2, &run_number, "the run number line", {0, "run.number"});
  reader.read_labelled(5, &p.J_final, "the J_final line", {0, "run.J_final", "step"});
  reader.read_labelled(5, &p.Nt, "the Nt line", {0, "run.Nt", "steps"});
  // A run does whole blocks: it ends with the block that holds step Nt.
  std::int64_t last = 0;  // beyond the integers: the step count is refused later
  if (p.LL >= 1 && p.Nt >= p.J_final && p.J_final >= 0 && p.Nt % p.LL != 0 &&
      !__builtin_mul_overflow(p.Nt / p.LL + 1, p.LL, &last)) {
    std::string m = "Nt = ";
    m.append(std::to_string(p.Nt)).append(" is not a multiple of LL = ");
    m.append(std::to_string(p.LL)).append(": the run goes on to step ");
    m.append(std::to_string(last)).append(", the end of its last block");
    reader.warn(m);
  }
  reader.read_labelled(2, &p.iteration_limit, "the iteration limit line",
                       {0, "run.iteration_limit"});
  reader.read_labelled(1, &p.tolerance, "the tolerance line", {0, "run.tolerance"});

  if (!(p.courant > 0.0)) {
    throw ParameterError("Courant number must be positive: " + number_text(p.courant));
  }
  if (p.LL < 1) throw ParameterError("LL must be at least 1: LL = " + number_text(p.LL));
  if (p.Nt < 0) throw ParameterError("Nt must not be negative: Nt = " + number_text(p.Nt));
  if (p.J_final < 0) {
    throw ParameterError("J_final must not be negative: J_final = " + number_text(p.J_final));
  }
  if (p.J_final % p.LL != 0) {
    throw ParameterError("J_final must be a multiple of LL: J_final = " + number_text(p.J_final) +
                         ", LL = " + number_text(p.LL));
  }
}

void read_monitor_cells(ExecdataReader& reader, RunParameters& p) {
  // The count and a word, which is text after the value.
  std::int32_t m = 0;
  reader.read({&m}, "the number of sampling cells", {{0, "monitors.count"}});
  if (m < 0 || m > kMaxUserMonitors) {
    throw ParameterError("Number of sampling cells must be 0.." + std::to_string(kMaxUserMonitors) +
                         ": " + std::to_string(m));
  }
  p.n_monitor = m + 2;
  p.monitor_cells.assign(static_cast<std::size_t>(p.n_monitor), 0);
  for (std::int32_t k = 1; k <= m; ++k) {
    reader.read({&p.monitor_cells[static_cast<std::size_t>(k)]}, "a sampling cell",
                {{0, "monitor." + std::to_string(k), "cell"}});
  }
}

}  // namespace

void read_parameter_part(ExecdataReader& reader, RunDirectories& dirs, RunParameters& p) {
  dirs.results_dir = folder_line(reader, "results folder", "folder.results");
  dirs.discarded_dir = folder_line(reader, "discarded-results folder", "folder.discarded");
  dirs.continue_dir = folder_line(reader, "continuation folder", "folder.continue");

  reader.read({&p.n_levels}, "the number of levels", {{0, "levels.count"}});
  if (p.n_levels != kLevels) {
    throw ParameterError("Number of levels must be 4: n_levels = " + std::to_string(p.n_levels));
  }
  read_level_table(reader, p);

  reader.set_label(" Density atom ");
  reader.read({&p.dipole_density}, "the density of resonant dipoles",
              {{0, "dots.density", "m^-3"}});
  read_label_table(reader);
  LevelMatrix<std::int32_t> transitions;
  read_matrix_table(reader, transitions, "a row of the transition table", "transition", "");
  check_transitions(transitions);

  read_time_tables(reader, p);
  read_pulse(reader, p);
  read_boundaries(reader, p);
  read_run_control(reader, p);
  read_monitor_cells(reader, p);
  reader.skip_line(false, "a comment line");
}

namespace {

// One row of the layer table, its ten values on its own line; false at the
// end of the file (blank lines before it are skipped).  Components 14 and 15
// are stored divided by sqrt3 and sqrt6.
bool read_layer_row(ExecdataReader& reader, std::int32_t j, Layer& row) {
  reader.set_label(" ");
  if (!reader.skip_blank_lines()) return false;
  const std::string n = "layer." + std::to_string(j) + ".";
  reader.read({&row.cells, &row.column2, &row.index, &row.index_end, &row.a13, &row.a14, &row.a15,
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
  std::int32_t first_cavity = 0, last_cavity = 0;  // f and l
  std::int64_t total = 0;                          // cells of the rows before row j
  bool left_set = false, right_set = false, dots_found = false;
  std::int32_t cells_after_first = 0;  // layer_cells(f + 1) as read so far

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
  while (reader.record(text, false, "a layer row")) {
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

namespace {

// Dot layers none of whose cells lies in the dot region z1..z2 (a region
// of the first dot layer's thickness centred in the cavity): their dots
// take no part in the run.
void warn_idle_dot_layers(const StructureProfile& s, const std::string& path,
                          std::vector<std::string>& warnings) {
  std::int64_t first = 1;
  for (std::size_t j = 0; j < s.layers.size(); ++j) {
    const Layer& l = s.layers[j];
    const std::int64_t last = first + l.cells - 1;
    if (l.is_dot_layer() && l.cells > 0 && (last < s.z1 || first > s.z2)) {
      warnings.push_back(path + ": layer " + std::to_string(j + 1) +
                         " holds dots, but none of its cells " + std::to_string(first) + ".." +
                         std::to_string(last) + " lies in the dot region " + std::to_string(s.z1) +
                         ".." + std::to_string(s.z2) +
                         " centred in the cavity: its dots take no part");
    }
    first += l.cells;
  }
}

// A unit "(name)" is given by the code `name`: 0 eV / fs, 1 meV / ps, ...
void resolve_code_units(std::vector<NamedInput>& named) {
  for (NamedInput& n : named) {
    if (n.unit.size() < 3 || n.unit.front() != '(') continue;
    const std::string code_name = n.unit.substr(1, n.unit.size() - 2);
    const bool energy = n.name.ends_with(".energy");
    const bool duration = code_name == "pulse.fwhm_unit";
    for (const NamedInput& c : named) {
      if (c.name != code_name) continue;
      const std::int64_t code = std::get<std::int64_t>(c.value);
      static constexpr std::array<const char*, 3> kEnergy = {"eV", "meV", "ueV"};
      static constexpr std::array<const char*, 3> kTime = {"fs", "ps", "ns"};
      const auto& units = energy ? kEnergy : kTime;
      const std::int64_t last = duration ? 1 : 2;
      n.unit = code >= 0 && code <= last ? units[static_cast<std::size_t>(code)] : "";
    }
  }
}

}  // namespace

RunInput read_execdata(const std::string& work_dir, const std::string& path, std::string_view text,
                       Model model, std::vector<std::string>* warnings) {
  RunInput in;
  in.dirs.work_dir = work_dir;
  in.dirs.results_dir = work_dir + "Results/";
  in.dirs.discarded_dir = work_dir + "DiscardedResults/";
  in.dirs.continue_dir = work_dir + "Continue/";

  ExecdataReader reader(path, text, warnings);
  read_parameter_part(reader, in.dirs, in.params);
  read_layer_table(reader, in.params, in.structure);
  in.named = reader.take_named();
  resolve_code_units(in.named);

  RunParameters& p = in.params;
  StructureProfile& s = in.structure;
  p.model = model;
  if (model == Model::corrected) {
    // Every channel at its configured rate: T13..T15 of the rate equations.
    const std::array<double, 3> T = population_times(transfer_channels(p.tau));
    std::copy(T.begin(), T.end(), p.T.begin() + 13);
  }
  compute_dot_region(s);
  if (warnings != nullptr) warn_idle_dot_layers(s, path, *warnings);
  p.monitor_cells.front() = 1;
  p.monitor_cells.back() = s.NZ - 1;
  s.dt = p.courant * s.dz / constants::c0;
  check_values(in);
  fill_material_profile(s, s.dz, s.dt, model);
  return in;
}

}  // namespace mps
