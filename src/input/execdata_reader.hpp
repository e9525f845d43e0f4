#pragma once
// The reader of the input file: its lines, free-format values and labelled
// lines, with the read position and the error label every message names,
// and the record of every value read under its name.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "textio/list_directed.hpp"

namespace mps {

// A value of the input file under its name ("pulse.amplitude",
// "layer.3.cells"): as read, in the unit the file gives it, and where it
// stands.  `place.line` 0: the line gives it no token of its own (a null
// value, a repeat count, none after a '/'); `line` is then the line read.
struct NamedInput {
  std::string name;
  std::string unit;  // "V/m", "fs", ...; empty for codes, counts and pure numbers
  std::variant<std::int64_t, double, std::string> value;
  std::size_t line = 0;
  textio::ValuePlace place;
  std::string text;  // the token as written (empty without one)
};

// An item of a read and the name its value is known by.
struct InputName {
  std::size_t item;
  std::string name;
  std::string unit = {};
};

// The input file with its read position and the current error label: the
// label names the section a read error is reported for (" Density atom ",
// " num pulses", ...), and the position gives the line for the detail line.
// Warnings ("<file>, line <n>: ...") are added to `warnings` when given.
class ExecdataReader {
 public:
  ExecdataReader(std::string path, std::string_view text,
                 std::vector<std::string>* warnings = nullptr);

  void set_label(std::string label) { label_ = std::move(label); }
  const std::string& label() const { return label_; }
  const std::string& path() const { return path_; }

  // Whole-line read.  `checked`: the end of the file is a read error;
  // otherwise it gives false and an empty text.
  bool next_line(std::string& text, bool checked, const char* what);
  void skip_line(bool checked, const char* what);
  // Steps over lines of blanks only; false at the end of the file.
  bool skip_blank_lines();
  // Free-format read of `items` from the next line that is not blank; the
  // values stand on that line, text after them is ignored and a '/' leaves
  // the remaining items unchanged.  A value that cannot be read, a line that
  // ends before the last value and the end of the file are read errors.
  // `names` name items of the read (by index) in the record of named inputs.
  void read(std::initializer_list<textio::ListItem> items, const char* what,
            std::initializer_list<InputName> names = {});
  // The same for a table row: read from the next line, whatever it holds.
  void read_row(std::span<const textio::ListItem> items, const char* what,
                std::span<const InputName> names = {});
  // A line of `words` words, then the value `item` and any text: read so
  // when it is so; a line of other words around its value (before a '#')
  // is read by its one token that reads as the value.  `name` names it.
  void read_labelled(std::size_t words, textio::ListItem item, const char* what,
                     const InputName& name);
  // Names the text of the last line taken (a folder line).
  void name_line(const std::string& name, const std::string& text);
  std::vector<NamedInput> take_named() { return std::move(named_); }
  void back_one() { cursor_.back_one(); }

  // A warning about the last line taken; the run goes on.
  void warn(const std::string& message);
  [[noreturn]] void fail(const textio::ListReadResult& result, const char* what) const;
  // A read error about the last line taken, whose text it quotes.
  [[noreturn]] void fail_line(const std::string& problem, const char* what) const;

 private:
  // Records the named items of a read that ended on (1-based) `line`.
  void name_items(const textio::ListReadResult& result, std::span<const textio::ListItem> items,
                  std::span<const InputName> names, std::size_t line);

  std::string path_;
  textio::LineCursor cursor_;
  std::string label_;
  std::vector<std::string>* warnings_;
  std::vector<NamedInput> named_;
};

// The text of a line before its first '#', trailing blanks removed.
std::string text_before_hash(const std::string& line);

// A text for a message: control characters and byte-order marks written as
// \xNN, so that they show.
std::string visible_text(std::string_view text);

// A number as a message shows it (the shortest text that reads back).
std::string number_text(double x);
std::string number_text(std::int64_t x);

}  // namespace mps
