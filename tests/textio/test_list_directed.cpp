#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/vector_files.hpp"
#include "textio/list_directed.hpp"

namespace mps::textio {
namespace {

using testing::unescape;

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> cells;
  std::stringstream ss(line);
  for (std::string cell; std::getline(ss, cell, sep);) cells.push_back(cell);
  if (!line.empty() && line.back() == sep) cells.emplace_back();
  return cells;
}

// After an integer overflow, a zero repeat count, an invalid string or a
// repeated value of the wrong type gfortran leaves the file at a position
// inside the line; this reader skips the rest of the line after every error,
// so only the record that follows differs in these cases.
const std::set<std::string> kPositionInsideLine = {
    "int-04",  "int-05", "int-26",  // integer overflow
    "rep-06",                       // zero repeat count
    "text-19",                      // invalid string input
    "word-17",                      // repeated value of the wrong type
};

// The item against its "set:V" / "kept:V" column: reals bit for bit (any NaN
// of the same sign), text without the blank padding of the Fortran variable.
bool item_matches(const std::string& var, const std::string& column, std::int32_t i, double r,
                  const std::string& c) {
  const std::string value = column.substr(column.find(':') + 1);
  if (var == "I") return i == std::stoll(value);
  if (var == "R") {
    const double want = std::strtod(value.substr(0, value.find(' ')).c_str(), nullptr);
    if (std::isnan(want)) return std::isnan(r) && std::signbit(r) == std::signbit(want);
    return std::bit_cast<std::uint64_t>(r) == std::bit_cast<std::uint64_t>(want);
  }
  const std::size_t end = c.find_last_not_of(' ');
  return c.size() <= std::stoul(var.substr(1)) &&
         c.substr(0, end == std::string::npos ? 0 : end + 1) ==
             unescape(value.substr(1, value.rfind('"') - 1));
}

// One vector case; returns the mismatches, empty when it passes.
std::string run_case(const std::vector<std::string>& row, bool compare_next_record) {
  const std::vector<std::string> vars = split(row[1], ',');
  const std::size_t n = vars.size();
  std::vector<std::int32_t> ints(n, -99);
  std::vector<double> reals(n, -99.5);
  std::vector<std::string> texts(n, "unset");
  std::vector<ListItem> items;
  for (std::size_t k = 0; k < n; ++k) {
    if (vars[k] == "I")
      items.emplace_back(&ints[k]);
    else if (vars[k] == "R")
      items.emplace_back(&reals[k]);
    else
      items.emplace_back(TextItem{&texts[k], std::stoul(vars[k].substr(1))});
  }
  LineCursor cursor = LineCursor::from_text(unescape(row[2]));
  const ListReadResult result = read_list(cursor, items);

  std::ostringstream diff;
  const char* status = result.ok()                          ? "ok"
                       : result.status == ReadStatus::error ? "error"
                                                            : "end-of-file";
  if (row[3] != status) diff << " status " << status << ";";
  const std::string& iomsg = row[5];
  if (row[3] != "ok" && (result.message.empty() || !iomsg.starts_with(result.message))) {
    diff << " message \"" << result.message << "\";";
  }
  const std::size_t at = iomsg.find("item ");
  if (at != std::string::npos && std::stoul(iomsg.substr(at + 5)) != result.failed_item) {
    diff << " failed_item " << result.failed_item << ";";
  }
  std::size_t set = 0;
  for (std::size_t k = 0; k < n; ++k) {
    set += row[7 + k].starts_with("set:") ? 1 : 0;
    if (!item_matches(vars[k], row[7 + k], ints[k], reals[k], texts[k]))
      diff << " item " << k + 1 << ";";
  }
  if (result.assigned != set) diff << " assigned " << result.assigned << ";";

  // "<error: ...>" follows an end of file, after which this reader has no rule.
  const std::string& next = row[4];
  std::string record;
  const bool got = cursor.read_record(record);
  const bool want = next != "<end-of-file>";
  if (compare_next_record && !next.starts_with("<error") &&
      (got != want || (want && record != unescape(next.substr(1, next.size() - 2))))) {
    diff << " next record " << (got ? "\"" + record + "\"" : "<end-of-file>") << ";";
  }
  return diff.str();
}

TEST(ListDirected, GfortranVectors) {
  std::ifstream in(MPS_TEST_DATA "/vectors/listdirected_read.tsv");
  ASSERT_TRUE(in);
  std::string line;
  std::getline(in, line);
  std::size_t total = 0;
  for (; std::getline(in, line); ++total) {
    const std::vector<std::string> row = split(line, '\t');
    const std::string diff = run_case(row, !kPositionInsideLine.contains(row[0]));
    if (!diff.empty()) ADD_FAILURE() << row[0] << " (" << row[6] << "):" << diff;
  }
  EXPECT_EQ(total, 301u);
}

TEST(ListDirected, ConsecutiveReadsReportWhereTheyStop) {
  LineCursor cursor = LineCursor::from_text("LBL\t1\t2 extra\n\n# note\n3.5d0,\n'x'\n");
  std::string label;
  std::int32_t a = 0, b = 0;
  ListReadResult r = read_list(cursor, {TextItem{&label, 10}, &a, &b});
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.line_number, 1u);

  r = read_list(cursor, {&a});  // skips the empty line, fails on "#"
  EXPECT_EQ(r.message, "Bad integer");
  EXPECT_EQ(r.token, "#");
  EXPECT_EQ(r.failed_item, 1u);
  EXPECT_EQ(r.line_number, 3u);
  EXPECT_EQ(a, 1);

  double x = 0;
  r = read_list(cursor, {&x, TextItem{&label, 10}});  // the read goes on past the comma
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(x, 3.5);
  EXPECT_EQ(label, "x");
  EXPECT_EQ(r.line_number, 5u);

  EXPECT_EQ(read_list(cursor, {&x}).status, ReadStatus::end_of_file);
}

TEST(ListDirected, WideIntegersAndRepeatsAcrossKinds) {
  std::int64_t wide = 0, wide2 = 0;
  std::int32_t narrow = 0;
  LineCursor cursor = LineCursor::from_text(
      "9223372036854775807 -9223372036854775808\n9223372036854775808\n2*3000000000\n");
  EXPECT_TRUE(read_list(cursor, {&wide, &wide2}).ok());
  EXPECT_EQ(wide, INT64_MAX);
  EXPECT_EQ(wide2, INT64_MIN);
  EXPECT_EQ(read_list(cursor, {&wide}).message, "Integer overflow");
  const ListReadResult r = read_list(cursor, {&wide, &narrow});  // the copy is too wide
  EXPECT_EQ(r.message, "Integer overflow");
  EXPECT_EQ(r.failed_item, 2u);
  EXPECT_EQ(wide, 3000000000);
}

// The strict rules: the values of a read stand on its first line, and a
// value with a control character or a byte-order mark is no value.  Three
// items of the kinds given by `vars` (I integer, R real, C text).
TEST(ListDirectedStrict, ValuesOnTheirOwnLineAndPlainText) {
  using namespace std::string_literals;
  const std::string bom = "\xEF\xBB\xBF";
  struct Case {
    const char* name;
    std::string input;
    const char* vars;
    const char* message;  // empty: the read succeeds
    std::string token;
    std::size_t failed_item;
    const char* next;  // the record after the read
  };
  const Case cases[] = {
      // What the format allows.
      {"values and a comment", "1 2 3 # note\nx", "III", "", "", 0, "x"},
      {"slash ends the values", "1 /\nx", "III", "", "", 0, "x"},
      {"null value", "1,,3\nx", "III", "", "", 0, "x"},
      {"repeated value", "2*5 7\nx", "III", "", "", 0, "x"},
      {"D exponent", "1.5d-3\t2\t3\nx", "RII", "", "", 0, "x"},
      {"words", "Courant number 0.5 S\nx", "CCR", "", "", 0, "x"},
      {"quoted text with a TAB", "'a\tb' 1 2\nx", "CII", "", "", 0, "x"},
      {"UTF-8 text", "caf\xC3\xA9 1 2\nx", "CII", "", "", 0, "x"},
      {"CRs ending the line", "1 2 3 \r\r\nx", "III", "", "", 0, "x"},
      // A line that runs out of values does not read on.
      {"too few values", "1 2\n3\nx", "III", "The line ends before value 3 of 3", "", 3, "3"},
      {"too few after a null", "1,,\n3\nx", "III", "The line ends before value 3 of 3", "", 3, "3"},
      {"empty line", "\n1 2 3", "III", "The line ends before value 1 of 3", "", 1, "1 2 3"},
      {"quote left open", "'spin 1 2\n'x'", "CII", "String not closed on its line", "'spin 1 2", 1,
       "'x'"},
      // Control characters and byte-order marks.
      {"NUL in a real", "1.0e-1\0001 2 3\nx"s, "RII", "Control character in a value",
       "1.0e-1\0001"s, 1, "x"},
      {"CR inside a line", "1.0\r2 3 4\nx", "RII", "Control character in a value", "1.0\r2", 1,
       "x"},
      {"form feed in a word", "ab\fc 1 2\nx", "CII", "Control character in a value", "ab\fc", 1,
       "x"},
      {"DEL in a quoted word", "'ab\x7F' 1 2\nx", "CII", "Control character in a value", "ab\x7F",
       1, "x"},
      {"byte-order mark before a number", bom + "1 2 3\nx", "III", "Byte-order mark in a value",
       bom + "1", 1, "x"},
      {"byte-order mark before a word", bom + "Courant number 0.5\nx", "CCR",
       "Byte-order mark in a value", bom + "Courant", 1, "x"},
      {"byte-order mark in a later value", "1 2\t" + bom + "3\nx", "III",
       "Byte-order mark in a value", bom + "3", 3, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::int32_t ints[3] = {-1, -1, -1};
    double reals[3] = {-1, -1, -1};
    std::string texts[3];
    std::vector<ListItem> items;
    for (std::size_t k = 0; k < 3; ++k) {
      if (c.vars[k] == 'I') items.emplace_back(&ints[k]);
      if (c.vars[k] == 'R') items.emplace_back(&reals[k]);
      if (c.vars[k] == 'C') items.emplace_back(TextItem{&texts[k], 20});
    }
    LineCursor cursor = LineCursor::from_text(c.input);
    const ListReadResult r = read_list(cursor, items, ReadRules::strict);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.status, *c.message == '\0' ? ReadStatus::ok : ReadStatus::error);
    EXPECT_EQ(r.token, c.token);
    EXPECT_EQ(r.failed_item, c.failed_item);
    std::string next;
    EXPECT_TRUE(cursor.read_record(next));
    EXPECT_EQ(next, c.next);
  }
}

TEST(ListDirectedStrict, ItemsBeforeTheFailureKeepTheirValues) {
  std::int32_t a = 0, b = 0, c = 7;
  LineCursor cursor = LineCursor::from_text("1 2\n3\n");
  EXPECT_FALSE(read_list(cursor, {&a, &b, &c}, ReadRules::strict).ok());
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, 7);
  // Under the Fortran rules the same read goes on to the next line, and a
  // CR inside a line separates values.
  cursor = LineCursor::from_text("1 2\n3\n4\r5\n");
  EXPECT_TRUE(read_list(cursor, {&a, &b, &c}).ok());
  EXPECT_EQ(c, 3);
  EXPECT_TRUE(read_list(cursor, {&a, &b}).ok());
  EXPECT_EQ(b, 5);
}

TEST(PlainText, BlankLinesAndValueTexts) {
  using namespace std::string_literals;
  EXPECT_TRUE(is_blank_text(""));
  EXPECT_TRUE(is_blank_text(" \t\r"));
  EXPECT_FALSE(is_blank_text(" x"));
  EXPECT_FALSE(is_blank_text("\f"));
  EXPECT_EQ(plain_text_problem("Results\tdir caf\xC3\xA9"), nullptr);
  EXPECT_STREQ(plain_text_problem("\xEF\xBB\xBFResults"), "Byte-order mark in a value");
  EXPECT_STREQ(plain_text_problem("Res\0ults"s), "Control character in a value");
  EXPECT_STREQ(plain_text_problem("Results\r"), "Control character in a value");
}

TEST(LineCursor, SplitsOnLineFeeds) {
  using Lines = std::vector<std::string>;
  const std::map<std::string, Lines> cases = {
      {"", {}},
      {"\n", {""}},
      {"a", {"a"}},
      {"a\nb\n", {"a", "b"}},
      {"a\n\n", {"a", ""}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\rb\r", {"a\rb\r"}},  // a CR not before an LF is kept
  };
  for (const auto& [text, lines] : cases) {
    LineCursor cursor = LineCursor::from_text(text);
    Lines got;
    for (std::string line; cursor.read_record(line);) got.push_back(line);
    EXPECT_EQ(got, lines) << '"' << text << '"';
  }
}

TEST(Ntokens, CountsTabSeparatedFields) {
  const std::map<std::string, int> cases = {
      {"0\t1\t0\t0", 4}, {"1 2 3 4", 1}, {"spin_up 1\t2", 2}, {"1\t\t2", 2},
      {"\t1\t2", 2},     {"1\t2\t", 2},  {"1\t2   ", 2},      {"", 0},
      {"   ", 0},        {"  \t1", 2},   {"\t\t", 0},         {"1\t  \t2", 3},
      {"1\t \t", 2},
  };
  for (const auto& [text, fields] : cases)
    EXPECT_EQ(count_tab_fields(text), fields) << '"' << text << '"';
}

}  // namespace
}  // namespace mps::textio
