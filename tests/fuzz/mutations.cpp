#include "fuzz/mutations.hpp"

#include <algorithm>
#include <cstdio>

#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

struct Span {
  std::size_t start = 0, length = 0;
};

// Lines of a text as spans without their LF; a last line without LF counts.
std::vector<Span> line_spans(const std::string& text) {
  std::vector<Span> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back({start, end - start});
    start = end + 1;
  }
  return lines;
}

bool separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// Words of a line before its first '#', as the reader separates values.
std::vector<Span> words_of(const std::string& text, Span line) {
  std::vector<Span> words;
  const std::size_t end = line.start + line.length;
  for (std::size_t k = line.start; k < end && text[k] != '#';) {
    if (separator(text[k])) {
      ++k;
      continue;
    }
    const std::size_t first = k;
    while (k < end && !separator(text[k]) && text[k] != '#') ++k;
    words.push_back({first, k - first});
  }
  return words;
}

bool looks_numeric(const std::string& word) {
  const bool digit =
      std::any_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
  return digit && std::string("+-.0123456789").find(word.front()) != std::string::npos;
}

std::string show(const std::string& text) { return '\'' + escaped(text) + '\''; }
std::string show(char c) { return show(std::string(1, c)); }

std::string at_line(const std::string& text, std::size_t pos) {
  const auto line = std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n');
  return "line " + std::to_string(line + 1);
}

// Half of the time a byte likely to mean something to the reader.
char random_byte(Rng& rng) {
  static const std::string telling = "0123456789.-+eEdD,;/*# \t\n\r'\"!xX";
  if (rng.coin()) return telling[rng.below(telling.size())];
  return static_cast<char>(rng.below(256));
}

Mutant replace_byte(std::string text, Rng& rng) {
  if (text.empty()) return {"x", "empty text -> 'x'"};
  const std::size_t pos = rng.below(text.size());
  const char old = text[pos];
  text[pos] = random_byte(rng);
  return {text, at_line(text, pos) + ": byte " + std::to_string(pos) + " " + show(old) + " -> " +
                    show(text[pos])};
}

Mutant insert_byte(std::string text, Rng& rng) {
  const std::size_t pos = rng.below(text.size() + 1);
  const char c = random_byte(rng);
  text.insert(pos, 1, c);
  return {text, at_line(text, pos) + ": inserted " + show(c) + " at byte " + std::to_string(pos)};
}

Mutant delete_bytes(std::string text, Rng& rng) {
  if (text.empty()) return {text, "nothing to delete"};
  const std::size_t pos = rng.below(text.size());
  const std::size_t n = std::min(text.size() - pos, 1 + rng.below(8));
  const std::string gone = text.substr(pos, n);
  text.erase(pos, n);
  return {text, at_line(text, pos) + ": deleted " + show(gone) + " at byte " + std::to_string(pos)};
}

std::string join_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + '\n';
  return text;
}

Mutant line_edit(const std::string& text, MutationKind kind, Rng& rng) {
  std::vector<std::string> lines = split_lines(text);
  if (lines.empty()) return {text, "no line to edit"};
  const std::size_t a = rng.below(lines.size());
  const std::string n = std::to_string(a + 1);
  switch (kind) {
    case MutationKind::swap_lines: {
      const std::size_t b = rng.below(lines.size());
      std::swap(lines[a], lines[b]);
      return {join_lines(lines), "swapped lines " + n + " and " + std::to_string(b + 1)};
    }
    case MutationKind::duplicate_line:
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(a), lines[a]);
      return {join_lines(lines), "duplicated line " + n + " " + show(lines[a])};
    default: {
      const std::string gone = lines[a];
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(a));
      return {join_lines(lines), "deleted line " + n + " " + show(gone)};
    }
  }
}

// Every numeric word of the text, before the comments.
std::vector<Span> numeric_words(const std::string& text) {
  std::vector<Span> found;
  for (const Span line : line_spans(text)) {
    for (const Span w : words_of(text, line)) {
      if (looks_numeric(text.substr(w.start, w.length))) found.push_back(w);
    }
  }
  return found;
}

Mutant replace_word(std::string text, Span w, const std::string& value, const std::string& why) {
  const std::string old = text.substr(w.start, w.length);
  const std::string where = at_line(text, w.start);
  text.replace(w.start, w.length, value);
  return {text, where + ": " + show(old) + " -> " + show(value) + why};
}

Mutant extreme_number(const std::string& text, Rng& rng) {
  static const std::vector<std::string> extremes = {
      "0",        "-1",         "1e309",      "NaN",         "Inf",
      "-Inf",     "2147483648", "2147483647", "-2147483649", "9223372036854775807",
      "-0",       "1e-320",     "1e308",      "-1e308",      "4.9e-324",
      "nan(123)", "+Infinity",  "1000000000", "1e+2",        "0x10"};
  const std::vector<Span> words = numeric_words(text);
  if (words.empty()) return {text, "no number to replace"};
  return replace_word(text, rng.pick(words), rng.pick(extremes), "");
}

Mutant cut_short(const std::string& text, Rng& rng) {
  std::size_t pos = rng.below(text.size() + 1);
  if (rng.coin()) {  // at a line end
    const std::size_t end = text.find('\n', pos);
    pos = end == std::string::npos ? text.size() : end + 1;
  }
  return {text.substr(0, pos), "cut after byte " + std::to_string(pos) + " of " +
                                   std::to_string(text.size()) + " (" + at_line(text, pos) + ")"};
}

Mutant special_chars(std::string text, Rng& rng) {
  const std::size_t pos = rng.below(text.size() + 1);
  const std::string where = at_line(text, pos) + ", byte " + std::to_string(pos);
  const std::vector<Span> lines = line_spans(text);
  const Span line = lines.empty() ? Span{} : rng.pick(lines);
  switch (rng.below(12)) {
    case 0:
      return {text.insert(pos, 1, '\0'), where + ": inserted NUL"};
    case 1:
      return {"\xEF\xBB\xBF" + text, "byte-order mark at the start"};
    case 2:
      return {text.insert(line.start, "\xEF\xBB\xBF"),
              at_line(text, line.start) + ": byte-order mark"};
    case 3: {
      const char c = rng.coin() ? '\x7F' : static_cast<char>(1 + rng.below(31));
      return {text.insert(pos, 1, c), where + ": inserted control " + show(c)};
    }
    case 4: {
      std::string crlf;
      for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
      return {crlf, "CR LF line ends"};
    }
    case 5:
      std::replace(text.begin(), text.end(), '\n', '\r');
      return {text, "CR line ends only"};
    case 6:
      while (!text.empty() && text.back() == '\n') text.pop_back();
      return {text, "no line end after the last line"};
    case 7: {
      const std::string c = rng.coin() ? "\xC3\xA9" : "\xFF";
      return {text.insert(pos, c), where + ": inserted non-ASCII " + show(c)};
    }
    case 8: {
      const char from = rng.coin() ? ' ' : '\t';
      const char to = from == ' ' ? '\t' : ' ';
      std::replace(text.begin() + static_cast<std::ptrdiff_t>(line.start),
                   text.begin() + static_cast<std::ptrdiff_t>(line.start + line.length), from, to);
      return {text, at_line(text, line.start) + ": " + show(from) + " -> " + show(to)};
    }
    case 9:
      return {text.insert(line.start, 1, '\n'),
              at_line(text, line.start) + ": empty line inserted"};
    case 10:
      return {text.insert(pos, 1, '\r'), where + ": lone CR inserted"};
    default: {
      const std::string run(1000 + rng.below(100000), rng.coin() ? '9' : 'x');
      return {text.insert(pos, run),
              where + ": inserted " + std::to_string(run.size()) + " x " + show(run.substr(0, 1))};
    }
  }
}

// A value of the input found by a marker on its line (or `offset` lines
// below it) and its word index; field -1 means any word of the line.
struct CodeTarget {
  const char* name;
  const char* marker;
  int offset;
  int field;
  std::vector<std::string> values;
};

const std::vector<CodeTarget>& code_targets() {
  static const std::vector<std::string> levels = {"0", "1", "2", "3", "-1"};
  static const std::vector<std::string> flags = {"0", "1", "2", "-1"};
  static const std::vector<std::string> sides = {"0", "1", "2", "3", "4", "5", "-1"};
  static const std::vector<std::string> layers = {"0", "1", "2", "3", "4", "5", "-1", "100"};
  static const std::vector<CodeTarget> targets = {
      {"number of levels", "# number of levels", 0, 0, {"0", "3", "4", "5", "-4"}},
      {"level unit", "unit (0 eV", 1, 2, levels},
      {"level unit", "unit (0 eV", 2, 2, levels},
      {"level unit", "unit (0 eV", 3, 2, levels},
      {"transition flag", "# end of label table", 1, -1, flags},
      {"transition flag", "# end of label table", 3, -1, flags},
      {"number of pulses", "# number of pulses", 0, 0, {"0", "1", "2", "-1"}},
      {"pulse shape", "# id shape", 0, 1, {"0", "1", "2", "3", "4", "5", "6", "7", "-1"}},
      {"duration unit", "# id shape", 0, 4, {"0", "1", "2", "-1"}},
      {"polarisation", "# id shape", 0, 7, {"0", "1", "2", "3", "4", "5", "-1"}},
      {"pulse origin", "# id shape", 0, 9, {"0", "1", "-1", "620", "621", "5000"}},
      {"delay unit", "# id shape", 0, 11, {"0", "1", "2", "3", "-1"}},
      {"left boundary", "left_boundary", 0, 0, sides},
      {"right boundary", "right_boundary", 0, 0, sides},
      {"Courant number", "Courant number", 0, 2, {"0", "1", "1.5", "2", "-0.5", "0.999"}},
      {"LL", "dumps LL", 0, 6, {"1", "2", "3", "7", "0", "-1"}},
      {"run number", "run number", 0, 2, flags},
      {"J_final", "J_final", 0, 5, {"0", "5", "10", "20", "-5", "7"}},
      {"Nt", "total number of time steps", 0, 5, {"0", "1", "5", "9", "11", "-1"}},
      {"monitor count", "monitor_cells", 0, 0, {"0", "1", "3", "4", "100", "-1"}},
      {"cavity layer", "# spatial step", 1, 1, layers},
      {"cavity layer", "# spatial step", 1, 2, layers},
  };
  return targets;
}

// The word of `t` in `text`, or false.
bool find_code(const std::string& text, const CodeTarget& t, Rng& rng, Span& word) {
  const std::vector<Span> lines = line_spans(text);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (text.substr(lines[k].start, lines[k].length).find(t.marker) == std::string::npos) continue;
    const std::size_t row = k + static_cast<std::size_t>(t.offset);
    if (row >= lines.size()) break;
    const std::vector<Span> words = words_of(text, lines[row]);
    if (words.empty()) break;
    const std::size_t field =
        t.field < 0 ? rng.below(words.size()) : static_cast<std::size_t>(t.field);
    if (field >= words.size()) break;
    word = words[field];
    return true;
  }
  return false;
}

Mutant change_code(const std::string& text, Rng& rng) {
  const CodeTarget& t = rng.pick(code_targets());
  Span word;
  if (!find_code(text, t, rng, word)) return {text, std::string("no ") + t.name + " found"};
  return replace_word(text, word, rng.pick(t.values), " (" + std::string(t.name) + ")");
}

Mutant mutate_once(const std::string& text, MutationKind kind, Rng& rng) {
  switch (kind) {
    case MutationKind::replace_byte:
      return replace_byte(text, rng);
    case MutationKind::insert_byte:
      return insert_byte(text, rng);
    case MutationKind::delete_bytes:
      return delete_bytes(text, rng);
    case MutationKind::swap_lines:
    case MutationKind::duplicate_line:
    case MutationKind::delete_line:
      return line_edit(text, kind, rng);
    case MutationKind::extreme_number:
      return extreme_number(text, rng);
    case MutationKind::cut_short:
      return cut_short(text, rng);
    case MutationKind::special_chars:
      return special_chars(text, rng);
    case MutationKind::change_code:
    case MutationKind::stacked:
      break;
  }
  return change_code(text, rng);
}

}  // namespace

Mutant mutate(const std::string& text, MutationKind kind, Rng& rng) {
  if (kind != MutationKind::stacked) return mutate_once(text, kind, rng);
  Mutant m{text, ""};
  const std::size_t n = 2 + rng.below(3);
  for (std::size_t k = 0; k < n; ++k) {
    const auto one = static_cast<MutationKind>(rng.below(kMutationKinds - 1));
    const Mutant next = mutate_once(m.text, one, rng);
    m.description += (k == 0 ? "" : "; ") + std::string(kind_name(one)) + ": " + next.description;
    m.text = next.text;
  }
  return m;
}

std::vector<std::string> missing_code_targets(const std::string& text) {
  std::vector<std::string> missing;
  Rng rng(1);
  Span word;
  for (const CodeTarget& t : code_targets()) {
    if (!find_code(text, t, rng, word)) missing.push_back(t.name);
  }
  return missing;
}

const char* kind_name(MutationKind kind) {
  static const char* const names[] = {"replace byte",   "insert byte",    "delete bytes",
                                      "swap lines",     "duplicate line", "delete line",
                                      "extreme number", "cut short",      "special chars",
                                      "change code",    "stacked"};
  return names[static_cast<int>(kind)];
}

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (u < 0x20 || u >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

std::string changed_lines(const std::string& base, const std::string& mutated,
                          std::size_t max_lines) {
  const std::vector<std::string> a = split_lines(base), b = split_lines(mutated);
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  std::string out;
  const std::size_t last = b.size() - tail;
  for (std::size_t k = head; k < last && k < head + max_lines; ++k) {
    out += "    " + std::to_string(k + 1) + ": " + escaped(b[k].substr(0, 200)) + '\n';
  }
  if (last > head + max_lines)
    out += "    ... " + std::to_string(last - head - max_lines) + " more\n";
  if (last == head) out += "    (lines " + std::to_string(head + 1) + "..: removed)\n";
  return out;
}

}  // namespace mps::testing
