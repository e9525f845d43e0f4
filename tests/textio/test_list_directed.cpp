#include "textio/list_directed.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace mps::textio {
namespace {

// Undoes the escapes of the vector files: \t \n \r \\ and \xHH.
std::string unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 't') out += '\t';
    else if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 'x') out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
    else out += c;
  }
  return out;
}

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
const std::map<std::string, std::string> kPositionInsideLine = {
    {"int-04", "integer overflow"},     {"int-05", "integer overflow"},
    {"int-26", "integer overflow"},     {"rep-06", "zero repeat count"},
    {"text-19", "invalid string input"}, {"word-17", "repeated value of the wrong type"},
};

// Compares one item against its "set:V" / "kept:V" column; empty when it matches.
std::string check_item(const std::string& var, const std::string& column, std::int32_t i,
                       double r, const std::string& c) {
  const std::string value = column.substr(column.find(':') + 1);
  if (var == "I") {
    return i == std::stoll(value) ? "" : "got " + std::to_string(i);
  }
  if (var == "R") {
    const double want = std::strtod(value.substr(0, value.find(' ')).c_str(), nullptr);
    const bool same = std::isnan(want)
                          ? std::isnan(r) && std::signbit(r) == std::signbit(want)
                          : std::bit_cast<std::uint64_t>(r) == std::bit_cast<std::uint64_t>(want);
    return same ? "" : "got " + std::to_string(r);
  }
  std::string got = c;
  while (!got.empty() && got.back() == ' ') got.pop_back();
  const std::string want = unescape(value.substr(1, value.rfind('"') - 1));
  const bool fits = c.size() <= std::stoul(var.substr(1));
  return got == want && fits ? "" : "got \"" + c + "\"";
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
    if (vars[k] == "I") items.emplace_back(&ints[k]);
    else if (vars[k] == "R") items.emplace_back(&reals[k]);
    else items.emplace_back(TextItem{&texts[k], std::stoul(vars[k].substr(1))});
  }
  LineCursor cursor = LineCursor::from_text(unescape(row[2]));
  const ListReadResult result = read_list(cursor, items);

  std::ostringstream diff;
  const char* status = result.status == ReadStatus::ok      ? "ok"
                       : result.status == ReadStatus::error ? "error"
                                                            : "end-of-file";
  if (row[3] != status) diff << " status " << status << ";";
  const std::string& iomsg = row[5];
  if (row[3] != "ok") {
    if (result.message.empty() || !iomsg.starts_with(result.message)) {
      diff << " message \"" << result.message << "\";";
    }
    const std::size_t at = iomsg.find("item ");
    if (at != std::string::npos && std::stoul(iomsg.substr(at + 5)) != result.failed_item) {
      diff << " failed_item " << result.failed_item << ";";
    }
  }
  std::size_t set = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::string& column = row[7 + k];
    set += column.starts_with("set:") ? 1 : 0;
    const std::string bad = check_item(vars[k], column, ints[k], reals[k], texts[k]);
    if (!bad.empty()) diff << " item " << k + 1 << " " << bad << ";";
  }
  if (result.assigned != set) diff << " assigned " << result.assigned << ";";

  const std::string& next = row[4];
  std::string record;
  const bool got = cursor.read_record(record);
  if (!compare_next_record || next.starts_with("<error")) {
  } else if (next == "<end-of-file>") {
    if (got) diff << " next record \"" << record << "\";";
  } else if (!got || record != unescape(next.substr(1, next.size() - 2))) {
    diff << " next record " << (got ? "\"" + record + "\"" : "<end-of-file>") << ";";
  }
  return diff.str();
}

TEST(ListDirected, GfortranVectors) {
  std::ifstream in(MPS_TEST_DATA "/vectors/listdirected_read.tsv");
  ASSERT_TRUE(in);
  std::string line;
  std::getline(in, line);
  std::size_t total = 0, passed = 0;
  while (std::getline(in, line)) {
    const std::vector<std::string> row = split(line, '\t');
    ++total;
    const bool full = !kPositionInsideLine.contains(row[0]);
    const std::string diff = run_case(row, full);
    if (diff.empty()) {
      ++passed;
    } else {
      ADD_FAILURE() << row[0] << " (" << row[6] << "):" << diff;
    }
  }
  EXPECT_EQ(total, 301u);
  std::cout << "listdirected_read.tsv: " << passed << " of " << total << " cases pass, "
            << kPositionInsideLine.size() << " of them without the next-record check\n";
}

TEST(ListDirected, ConsecutiveReadsReportWhereTheyStop) {
  LineCursor cursor = LineCursor::from_text("LBL\t1\t2 extra\n\n# note\n3.5d0,\n'x'\n");
  std::string label;
  std::int32_t a = 0, b = 0;
  ListReadResult r = read_list(cursor, {TextItem{&label, 10}, &a, &b});
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.assigned, 3u);
  EXPECT_EQ(r.line_number, 1u);
  EXPECT_EQ(cursor.next_index(), 1u);

  r = read_list(cursor, {&a});  // skips the empty line, fails on "#"
  EXPECT_EQ(r.status, ReadStatus::error);
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

  r = read_list(cursor, {&x});
  EXPECT_EQ(r.status, ReadStatus::end_of_file);
  EXPECT_EQ(r.assigned, 0u);
}

TEST(ListDirected, WideIntegersAndRepeatsAcrossKinds) {
  std::int64_t wide = 0, wide2 = 0;
  std::int32_t narrow = 0;
  LineCursor cursor = LineCursor::from_text(
      "9223372036854775807 -9223372036854775808\n9223372036854775808\n2*3000000000\n2*-7\n");
  EXPECT_TRUE(read_list(cursor, {&wide, &wide2}).ok());
  EXPECT_EQ(wide, INT64_MAX);
  EXPECT_EQ(wide2, INT64_MIN);

  ListReadResult r = read_list(cursor, {&wide});
  EXPECT_EQ(r.message, "Integer overflow");
  EXPECT_EQ(wide, INT64_MAX);

  r = read_list(cursor, {&wide, &narrow});  // the copy does not fit the 32-bit item
  EXPECT_EQ(r.message, "Integer overflow");
  EXPECT_EQ(r.failed_item, 2u);
  EXPECT_EQ(wide, 3000000000);

  EXPECT_TRUE(read_list(cursor, {&wide, &narrow}).ok());
  EXPECT_EQ(wide, -7);
  EXPECT_EQ(narrow, -7);
}

TEST(LineCursor, SplitsOnLineFeeds) {
  const std::map<std::string, std::vector<std::string>> cases = {
      {"", {}},
      {"\n", {""}},
      {"a", {"a"}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\rb\r", {"a\rb\r"}},  // a CR not before an LF is kept
      {"a\n\n", {"a", ""}},
  };
  for (const auto& [text, lines] : cases) {
    LineCursor cursor = LineCursor::from_text(text);
    std::vector<std::string> got;
    for (std::string line; cursor.read_record(line);) got.push_back(line);
    EXPECT_EQ(got, lines) << '"' << text << '"';
    EXPECT_TRUE(cursor.at_end());
    EXPECT_EQ(cursor.line_number(), lines.size());
  }
}

TEST(LineCursor, BackOneRereadsTheLastRecord) {
  LineCursor cursor = LineCursor::from_text("one\ntwo\n");
  std::string line;
  ASSERT_TRUE(cursor.read_record(line));
  cursor.back_one();
  ASSERT_TRUE(cursor.read_record(line));
  EXPECT_EQ(line, "one");
  ASSERT_TRUE(cursor.read_record(line));
  EXPECT_EQ(line, "two");
  EXPECT_FALSE(cursor.read_record(line));
  EXPECT_EQ(line, "two");
}

TEST(Ntokens, CountsTabSeparatedFields) {
  const std::map<std::string, int> cases = {
      {"0\t1\t0\t0", 4}, {"1 2 3 4", 1}, {"spin_up 1\t2", 2}, {"1\t\t2", 2},
      {"\t1\t2", 2},     {"1\t2\t", 2},  {"1\t2   ", 2},       {"", 0},
      {"   ", 0},        {"  \t1", 2},   {"\t\t", 0},         {"1\t  \t2", 3},
      {"1\t \t", 2},
  };
  for (const auto& [text, fields] : cases) EXPECT_EQ(NTOKENS(text), fields) << '"' << text << '"';
}

}  // namespace
}  // namespace mps::textio
