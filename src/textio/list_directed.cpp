// Free-format reading of in-memory text lines.
//
// The reader walks the items in order.  For each item it first uses up a
// pending repeat (r*c or r*), otherwise it looks for the next value: blanks,
// TABs, CRs and whole lines are skipped; a comma (or ';') that follows a value
// is that value's separator, while a comma met when a separator comma has
// already been taken (or at the very start of the read) is a null value.
// Values are read for the type of their item; a repeated value keeps the type
// of the item it was read for, and giving it to an item of another type is an
// error.  Once the read stops for any reason other than end of input, the
// rest of the line it stopped on is skipped.  The strict rules keep the read
// on its first line and look at every character of a value.
#include "textio/list_directed.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

namespace mps::textio {

LineCursor LineCursor::from_text(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));  // last line without a line end
      break;
    }
    std::size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.emplace_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return LineCursor(std::move(lines));
}

bool LineCursor::read_record(std::string& text) {
  if (at_end()) return false;
  text = lines_[next_++];
  return true;
}

bool is_blank_text(std::string_view text) {
  return text.find_first_not_of(" \t\r") == std::string_view::npos;
}

const char* plain_text_problem(std::string_view text) {
  if (text.find("\xEF\xBB\xBF") != std::string_view::npos) return "Byte-order mark in a value";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) return "Control character in a value";
  }
  return nullptr;
}

int count_tab_fields(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  int fields = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '\t' && (k == 0 || text[k - 1] == '\t')) ++fields;
  }
  return fields;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_comma(char c) { return c == ',' || c == ';'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_word(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (lower(text[k]) != word[k]) return false;
  }
  return true;
}

enum class ValueType { integer, real, character };

const char* type_name(ValueType type) {
  switch (type) {
    case ValueType::integer:
      return "INTEGER";
    case ValueType::real:
      return "REAL";
    case ValueType::character:
      return "CHARACTER";
  }
  return "";
}

struct Value {
  ValueType type = ValueType::integer;
  std::int64_t integer = 0;
  double real = 0.0;
  std::string text;
};

struct Failure {
  std::string message;
  std::string token;
};

enum class IntegerParse { ok, bad, overflow };

// Optional sign and decimal digits, within [low, high].
IntegerParse parse_integer(std::string_view token, std::int64_t low, std::int64_t high,
                           std::int64_t& out) {
  std::size_t k = 0;
  bool negative = false;
  if (k < token.size() && (token[k] == '+' || token[k] == '-')) negative = token[k++] == '-';
  if (k == token.size()) return IntegerParse::bad;
  // Magnitude limit: |low| for negative values, high otherwise.
  const std::uint64_t limit =
      negative ? static_cast<std::uint64_t>(-(low + 1)) + 1u : static_cast<std::uint64_t>(high);
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; k < token.size(); ++k) {
    if (!is_digit(token[k])) return IntegerParse::bad;
    const auto digit = static_cast<std::uint64_t>(token[k] - '0');
    if (overflow || magnitude > (limit - digit) / 10u) {
      overflow = true;
    } else {
      magnitude = magnitude * 10u + digit;
    }
  }
  if (overflow) return IntegerParse::overflow;
  out = negative ? static_cast<std::int64_t>(0u - magnitude) : static_cast<std::int64_t>(magnitude);
  return IntegerParse::ok;
}

// `point_only` is a mantissa made of a decimal point and no digits (".",
// ".e5"): an error that still sets the item to zero.
enum class RealParse { ok, bad, point_only };

bool is_exponent_letter(char c) {
  c = lower(c);
  return c == 'e' || c == 'd' || c == 'q';
}

// [sign] digits [. digits] [exponent], or Inf/Infinity/NaN[(text)].  The
// exponent is a letter E/D/Q (either case) with an optional sign, or a sign
// alone, followed by digits.  The number is rebuilt in C form for strtod,
// which rounds correctly, gives +-Inf on overflow and 0 or a subnormal on
// underflow.
RealParse parse_real(std::string_view token, double& out) {
  std::size_t k = 0;
  bool negative = false;
  if (k < token.size() && (token[k] == '+' || token[k] == '-')) negative = token[k++] == '-';
  const std::string_view rest = token.substr(k);
  if (same_word(rest, "inf") || same_word(rest, "infinity")) {
    out = negative ? -std::numeric_limits<double>::infinity()
                   : std::numeric_limits<double>::infinity();
    return RealParse::ok;
  }
  if (rest.size() >= 3 && same_word(rest.substr(0, 3), "nan")) {
    std::string_view payload = rest.substr(3);
    if (!payload.empty()) {
      if (payload.size() < 2 || payload.front() != '(' || payload.back() != ')')
        return RealParse::bad;
      for (char c : payload.substr(1, payload.size() - 2)) {
        if (c == '(' || c == ')') return RealParse::bad;
      }
    }
    out = std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
    return RealParse::ok;
  }

  std::string number = negative ? "-" : "";
  std::size_t digits = 0;
  bool point = false;
  for (; k < token.size(); ++k) {
    const char c = token[k];
    if (is_digit(c)) {
      ++digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    number += c;
  }
  bool exponent_ok = true;
  if (k < token.size()) {
    std::size_t e = k;
    if (is_exponent_letter(token[e]))
      ++e;
    else if (token[e] != '+' && token[e] != '-')
      exponent_ok = false;
    if (exponent_ok) {
      number += 'e';
      if (e < token.size() && (token[e] == '+' || token[e] == '-')) number += token[e++];
      const std::size_t first_digit = e;
      for (; e < token.size() && is_digit(token[e]); ++e) number += token[e];
      exponent_ok = e > first_digit && e == token.size();
    }
  }
  if (digits == 0) return point && exponent_ok ? RealParse::point_only : RealParse::bad;
  if (!exponent_ok) return RealParse::bad;
  out = std::strtod(number.c_str(), nullptr);
  return RealParse::ok;
}

class ListReader {
 public:
  ListReader(LineCursor& cursor, std::span<const ListItem> items, ReadRules rules)
      : cursor_(cursor), items_(items), rules_(rules) {}

  ListReadResult run();

 private:
  const std::string& text() const { return cursor_.line(line_); }
  bool at_line_end() const { return pos_ >= text().size(); }
  char current() const { return text()[pos_]; }
  bool strict() const { return rules_ == ReadRules::strict; }
  bool blank_at(std::size_t pos) const;
  // Whether the character at `pos` ends an undelimited value.
  bool ends_value_at(std::size_t pos) const {
    const char c = text()[pos];
    return blank_at(pos) || is_comma(c) || c == '/';
  }
  std::optional<Failure> check_plain(std::string_view value) const;

  bool next_nonblank();
  std::string_view take_token();
  std::optional<Value> read_value(const ListItem& item, Failure& failure);
  std::optional<Value> read_text(Failure& failure);
  bool store(const ListItem& item, const Value& value, Failure& failure);

  ListReadResult& stop(ReadStatus status, std::size_t lines_to_skip);
  ListReadResult& fail(std::size_t item, Failure failure, std::size_t lines_to_skip = 1);

  // Where the next item's value stands; `finished` when the read is over
  // (result_ then holds its outcome).
  enum class Next { value, null, finished };
  Next advance_to_value(std::size_t i);
  Next read_repeat_count(std::size_t i, std::size_t& count);
  bool assign(std::size_t i, const Value& value);
  bool take_value(std::size_t i, std::size_t count);

  LineCursor& cursor_;
  std::span<const ListItem> items_;
  ReadRules rules_;
  std::size_t line_ = 0;           // index of the line being read
  std::size_t pos_ = 0;            // position in that line
  bool comma_taken_ = true;        // a comma now is a null value, not a separator
  std::size_t repeats_ = 0;        // copies of repeated_ still to hand out
  std::optional<Value> repeated_;  // empty for r* (null values)
  ListReadResult result_;
};

// Blanks, TABs and CRs separate values; under the strict rules a CR does so
// only in the blank run that ends the line, elsewhere it is a control
// character inside a value.
bool ListReader::blank_at(std::size_t pos) const {
  const char c = text()[pos];
  if (c == ' ' || c == '\t') return true;
  if (c != '\r') return false;
  return !strict() || is_blank_text(std::string_view(text()).substr(pos));
}

// Under the strict rules: a control character or a byte-order mark in a value.
std::optional<Failure> ListReader::check_plain(std::string_view value) const {
  if (!strict()) return std::nullopt;
  const char* problem = plain_text_problem(value);
  if (problem == nullptr) return std::nullopt;
  return Failure{problem, std::string(value)};
}

// Skips blanks and line ends (under the strict rules blanks only); false
// when no value follows: at end of input, or at the line end under the
// strict rules.
bool ListReader::next_nonblank() {
  for (;;) {
    while (!at_line_end() && blank_at(pos_)) ++pos_;
    if (!at_line_end()) return true;
    if (strict() || line_ + 1 >= cursor_.size()) return false;
    ++line_;
    pos_ = 0;
  }
}

// An undelimited token: up to a blank, comma, slash or the line end.
std::string_view ListReader::take_token() {
  const std::size_t start = pos_;
  while (!at_line_end() && !ends_value_at(pos_)) ++pos_;
  return std::string_view(text()).substr(start, pos_ - start);
}

std::optional<Value> ListReader::read_text(Failure& failure) {
  Value value;
  value.type = ValueType::character;
  const char quote = current();
  if (quote != '\'' && quote != '"') {
    value.text = take_token();
    if (auto bad = check_plain(value.text)) {
      failure = std::move(*bad);
      return std::nullopt;
    }
    return value;
  }
  // Delimited: a doubled delimiter is one delimiter character; a line end
  // inside the string adds nothing; end of input closes it.  Under the
  // strict rules the string closes on its line.
  ++pos_;
  for (;;) {
    if (at_line_end()) {
      if (strict()) {
        failure = {"String not closed on its line", quote + value.text};
        return std::nullopt;
      }
      if (line_ + 1 >= cursor_.size()) return value;
      ++line_;
      pos_ = 0;
      continue;
    }
    const char c = text()[pos_++];
    if (c == quote) {
      if (at_line_end() || current() != quote) break;
      ++pos_;
    }
    value.text += c;
  }
  if (!at_line_end() && !ends_value_at(pos_)) {
    failure = {"Invalid string input", std::string(take_token())};
    return std::nullopt;
  }
  if (auto bad = check_plain(value.text)) {
    failure = std::move(*bad);
    return std::nullopt;
  }
  return value;
}

std::optional<Value> ListReader::read_value(const ListItem& item, Failure& failure) {
  if (std::holds_alternative<TextItem>(item)) return read_text(failure);
  const std::string_view token = take_token();
  if (auto bad = check_plain(token)) {
    failure = std::move(*bad);
    return std::nullopt;
  }
  Value value;
  if (std::holds_alternative<double*>(item)) {
    value.type = ValueType::real;
    switch (parse_real(token, value.real)) {
      case RealParse::ok:
        return value;
      case RealParse::bad:
        failure = {"Bad real number", std::string(token)};
        return std::nullopt;
      case RealParse::point_only:
        failure = {"Error during floating point read", std::string(token)};
        return std::nullopt;
    }
  }
  value.type = ValueType::integer;
  const bool wide = std::holds_alternative<std::int64_t*>(item);
  const std::int64_t low =
      wide ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int32_t>::min();
  const std::int64_t high =
      wide ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int32_t>::max();
  switch (parse_integer(token, low, high, value.integer)) {
    case IntegerParse::ok:
      return value;
    case IntegerParse::bad:
      failure = {"Bad integer", std::string(token)};
      break;
    case IntegerParse::overflow:
      failure = {"Integer overflow", std::string(token)};
      break;
  }
  return std::nullopt;
}

bool ListReader::store(const ListItem& item, const Value& value, Failure& failure) {
  ValueType wanted = ValueType::integer;
  if (std::holds_alternative<double*>(item)) wanted = ValueType::real;
  if (std::holds_alternative<TextItem>(item)) wanted = ValueType::character;
  if (value.type != wanted) {
    failure = {std::string("Read type ") + type_name(value.type) + " where " + type_name(wanted) +
                   " was expected",
               ""};
    return false;
  }
  if (auto* p = std::get_if<std::int32_t*>(&item)) {
    if (value.integer < std::numeric_limits<std::int32_t>::min() ||
        value.integer > std::numeric_limits<std::int32_t>::max()) {
      failure = {"Integer overflow", std::to_string(value.integer)};
      return false;
    }
    **p = static_cast<std::int32_t>(value.integer);
  } else if (auto* q = std::get_if<std::int64_t*>(&item)) {
    **q = value.integer;
  } else if (auto* r = std::get_if<double*>(&item)) {
    **r = value.real;
  } else {
    const TextItem& t = std::get<TextItem>(item);
    *t.value = value.text.substr(0, t.max_length);
  }
  return true;
}

ListReadResult& ListReader::stop(ReadStatus status, std::size_t lines_to_skip) {
  result_.status = status;
  if (status == ReadStatus::end_of_file) {
    result_.message = "End of file";
    result_.line_number = cursor_.size();
    cursor_.seek(cursor_.size());
  } else {
    result_.line_number = line_ + 1;
    cursor_.seek(std::min(line_ + lines_to_skip, cursor_.size()));
  }
  return result_;
}

ListReadResult& ListReader::fail(std::size_t item, Failure failure, std::size_t lines_to_skip) {
  result_.failed_item = item + 1;
  result_.message = std::move(failure.message);
  result_.token = std::move(failure.token);
  return stop(ReadStatus::error, lines_to_skip);
}

// Skips blanks, line ends and separators up to item i's value; a comma
// right after a separator (or at the start) is a null value, a slash ends
// the read.
ListReader::Next ListReader::advance_to_value(std::size_t i) {
  for (;;) {
    if (!next_nonblank()) {
      if (strict()) {
        fail(i, {"The line ends before value " + std::to_string(i + 1) + " of " +
                     std::to_string(items_.size()),
                 ""});
      } else {
        result_.failed_item = i + 1;
        stop(ReadStatus::end_of_file, 0);
      }
      return Next::finished;
    }
    if (current() == '/') {
      stop(ReadStatus::ok, 1);
      return Next::finished;
    }
    if (!is_comma(current())) return Next::value;
    ++pos_;
    if (comma_taken_) return Next::null;
    comma_taken_ = true;
  }
}

// A repeat count: digits directly followed by '*'.  "r*" alone stands for r
// null values (Next::null); "r*v" sets `count`.
ListReader::Next ListReader::read_repeat_count(std::size_t i, std::size_t& count) {
  std::size_t k = pos_;
  while (k < text().size() && is_digit(text()[k])) ++k;
  if (!(k > pos_ && k < text().size() && text()[k] == '*')) return Next::value;
  const std::string_view digits = std::string_view(text()).substr(pos_, k - pos_);
  std::int64_t n = 0;
  const IntegerParse parsed = parse_integer(digits, 0, std::numeric_limits<std::int32_t>::max(), n);
  pos_ = k + 1;
  if (parsed != IntegerParse::ok) {
    fail(i, {"Repeat count overflow", std::string(digits)});
    return Next::finished;
  }
  if (n == 0) {
    fail(i, {"Zero repeat count", std::string(digits) + "*"});
    return Next::finished;
  }
  count = static_cast<std::size_t>(n);
  if (at_line_end() || ends_value_at(pos_)) {
    repeats_ = count - 1;
    repeated_.reset();
    comma_taken_ = false;
    return Next::null;
  }
  return Next::value;
}

bool ListReader::assign(std::size_t i, const Value& value) {
  Failure failure;
  if (!store(items_[i], value, failure)) {
    fail(i, std::move(failure));
    return false;
  }
  ++result_.assigned;
  return true;
}

// Reads item i's value (to be handed out `count` times) and the separator
// after it on the same line.
bool ListReader::take_value(std::size_t i, std::size_t count) {
  Failure failure;
  const std::size_t start = pos_;
  std::optional<Value> value = read_value(items_[i], failure);
  if (!value) {
    if (failure.message == "Error during floating point read") {
      // The item still becomes zero, and when the token ends its line the
      // following line is taken as well.
      *std::get<double*>(items_[i]) = 0.0;
      ++result_.assigned;
      fail(i, std::move(failure), at_line_end() ? 2 : 1);
      return false;
    }
    fail(i, std::move(failure));
    return false;
  }
  if (!assign(i, *value)) return false;
  if (count == 1) result_.places[i] = {line_ + 1, start, pos_};
  if (count > 1) {
    repeats_ = count - 1;
    repeated_ = std::move(value);
  }
  while (!at_line_end() && blank_at(pos_)) ++pos_;
  comma_taken_ = !at_line_end() && is_comma(current());
  if (comma_taken_) ++pos_;
  return true;
}

ListReadResult ListReader::run() {
  if (cursor_.at_end()) return stop(ReadStatus::end_of_file, 0);
  line_ = cursor_.next_index();
  pos_ = 0;
  result_.places.assign(items_.size(), ValuePlace{});
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (repeats_ > 0) {
      --repeats_;
      if (repeated_ && !assign(i, *repeated_)) return result_;
      continue;
    }
    Next next = advance_to_value(i);
    if (next == Next::value) {
      std::size_t count = 1;
      next = read_repeat_count(i, count);
      if (next == Next::value && !take_value(i, count)) return result_;
    }
    if (next == Next::finished) return result_;
  }
  return stop(ReadStatus::ok, 1);
}

}  // namespace

ListReadResult read_list(LineCursor& cursor, std::span<const ListItem> items, ReadRules rules) {
  return ListReader(cursor, items, rules).run();
}

}  // namespace mps::textio
