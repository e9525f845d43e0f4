// The reader of the input file: whole lines, free-format values and the
// labelled run-control lines, each value recorded under its name with where
// it stands; read errors and warnings that name the file, the line and the
// value to blame.
#include "input/execdata_reader.hpp"

#include <algorithm>
#include <charconv>
#include <vector>

#include "core/errors.hpp"

namespace mps {

using textio::ListItem;
using textio::ListReadResult;
using textio::ReadStatus;
using textio::TextItem;

std::string number_text(double x) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

std::string number_text(std::int64_t x) { return std::to_string(x); }

namespace {

std::string trim_right_blanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
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

ExecdataReader::ExecdataReader(std::string path, std::string_view text,
                               std::vector<std::string>* warnings)
    : path_(std::move(path)), cursor_(textio::LineCursor::from_text(text)), warnings_(warnings) {}

bool ExecdataReader::next_line(std::string& text, bool checked, const char* what) {
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
  next_line(ignored, checked, what);
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

}  // namespace mps
