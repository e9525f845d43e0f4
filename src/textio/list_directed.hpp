#pragma once
// Free-format ("list-directed") reading of text lines, with the rules of
// Fortran list-directed input, and the TAB field counter used by the tables
// of the input file.
//
// A read takes a list of typed items and fills them from the text starting at
// the cursor: values are separated by blanks, TABs or one comma; a slash ends
// the read and leaves the remaining items unchanged; a read that runs out of
// values on a line continues on the next one; r*c repeats a value and r*
// gives r null values (item unchanged).  When every item has its value the
// rest of that line is skipped.  A malformed token fails the read: the items
// before it keep their new values, it and the later items keep their old
// ones, and the rest of the line is skipped.  End of input before the last
// item is its own outcome.
//
// Under the strict rules a read takes its values from the line it starts on
// and from no other: a line that ends before every item has its value (no
// '/' ending it first) fails the read, and so does a quoted string left open
// at the line end.  A value holding a control character (TAB aside; a CR
// counts as a blank only in the blank run that ends the line) or a
// byte-order mark (EF BB BF) fails it as well.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mps::textio {

// Lines of a text file held in memory, with the index of the next record.
// Line ends are LF; a CR right before an LF is dropped when the lines are split.
class LineCursor {
 public:
  LineCursor() = default;
  explicit LineCursor(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  static LineCursor from_text(std::string_view text);

  bool at_end() const { return next_ >= lines_.size(); }
  std::size_t next_index() const { return next_; }   // 0-based index of the next record
  std::size_t line_number() const { return next_; }  // 1-based number of the last record taken
  const std::string& line(std::size_t index) const { return lines_[index]; }
  std::size_t size() const { return lines_.size(); }

  // Whole-record read, as a formatted "(A)" read: false at end of input.
  bool read_record(std::string& text);
  // Steps back one record (BACKSPACE).
  void back_one() {
    if (next_ > 0) --next_;
  }
  void seek(std::size_t index) { next_ = index; }

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
};

// A text item: the token is stored cut to `max_length` characters (trailing
// blank padding of the Fortran variable is not kept).
struct TextItem {
  std::string* value;
  std::size_t max_length;
};

using ListItem = std::variant<std::int32_t*, std::int64_t*, double*, TextItem>;

enum class ReadStatus { ok, error, end_of_file };

// The rules of a read: Fortran list-directed input, or those rules kept to
// one line and plain values (see the top).
enum class ReadRules { fortran, strict };

// Where an item's value stands: 1-based line, [start, end) in the line's
// text.  Line 0: the item got no value of its own (a null value, a repeat
// count, or none at all).
struct ValuePlace {
  std::size_t line = 0;
  std::size_t start = 0, end = 0;
};

struct ListReadResult {
  ReadStatus status = ReadStatus::ok;
  std::size_t assigned = 0;        // items given a value (null values not counted)
  std::size_t failed_item = 0;     // 1-based index of the item that failed, 0 if none
  std::string message;             // what went wrong, e.g. "Bad real number"
  std::string token;               // the offending token, when there is one
  std::size_t line_number = 0;     // 1-based line on which the read stopped
  std::vector<ValuePlace> places;  // one per item
  bool ok() const { return status == ReadStatus::ok; }
};

// Reads the items from the cursor position; see the rules at the top.
ListReadResult read_list(LineCursor& cursor, std::span<const ListItem> items,
                         ReadRules rules = ReadRules::fortran);

inline ListReadResult read_list(LineCursor& cursor, std::initializer_list<ListItem> items,
                                ReadRules rules = ReadRules::fortran) {
  return read_list(cursor, std::span<const ListItem>(items.begin(), items.size()), rules);
}

// True for a text of blanks, TABs and CRs only (or an empty one).
bool is_blank_text(std::string_view text);

// What makes a text unfit to be a value under the strict rules: "Byte-order
// mark in a value", "Control character in a value" (TAB is none); nullptr
// when it is fit.
const char* plain_text_problem(std::string_view text);

// Number of TAB-separated fields of a text once trailing blanks are removed:
// a field starts at the first character or after a run of TABs; a leading
// TAB run does not make an empty first field, a trailing one starts no field,
// and an empty text has none.
int count_tab_fields(std::string_view text);

}  // namespace mps::textio
