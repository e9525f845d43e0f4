#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/vector_files.hpp"
#include "textio/fortran_format.hpp"

namespace mps::textio {
namespace {

using Row = std::vector<std::string>;

using testing::unescape;

// "|text|" -> text.
std::string field(const std::string& barred) {
  EXPECT_TRUE(barred.size() >= 2 && barred.front() == '|' && barred.back() == '|') << barred;
  return unescape(barred.substr(1, barred.size() - 2));
}

// Rows of a vector file, header skipped, split at tabs.
std::vector<Row> load(const std::string& name) {
  std::ifstream in(std::string(MPS_TEST_DATA "/vectors/") + name);
  EXPECT_TRUE(in) << name;
  std::vector<Row> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    Row row;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, '\t');) row.push_back(cell);
    rows.push_back(row);
  }
  return rows;
}

struct RealCase {
  const char* file;
  std::size_t rows;
  bool e_form;
  int width, digits;
};

TEST(FortranFormat, RealVectors) {
  for (const RealCase& c : {RealCase{"format_E23_12.tsv", 353, true, 23, 12},
                            RealCase{"format_E13_5.tsv", 177, true, 13, 5},
                            RealCase{"format_F20_12.tsv", 161, false, 20, 12},
                            RealCase{"format_F12_5.tsv", 148, false, 12, 5}}) {
    const auto rows = load(c.file);
    EXPECT_EQ(rows.size(), c.rows) << c.file;
    for (const Row& r : rows) {
      ASSERT_EQ(r.size(), 7u) << c.file;
      const double v = std::bit_cast<double>(std::stoull(r[3], nullptr, 16));
      const std::string got =
          c.e_form ? format_E(v, c.width, c.digits) : format_F(v, c.width, c.digits);
      EXPECT_EQ(got, field(r[6])) << c.file << " id " << r[0] << " (" << r[2] << ")";
    }
  }
}

// The E field's digits come from the shortest conversion when that is
// exact; they must be those of the precise conversion for every double:
// random bit patterns (subnormals among them), ties of the 13th digit and
// roundings that carry into a new exponent.
TEST(FortranFormat, EDigitsAreThoseOfThePreciseConversion) {
  const auto precise = [](double v, int digits) {
    char b[64];
    const auto r =
        std::to_chars(b, b + sizeof b, std::fabs(v), std::chars_format::scientific, digits - 1);
    std::string m(1, b[0]);
    const char* e = std::find(b, r.ptr, 'e');
    if (e > b + 2) m.append(b + 2, static_cast<std::size_t>(e - (b + 2)));
    return m;
  };
  const auto digits_of = [](const std::string& field, int digits) {
    return field.substr(field.find("0.") + 2, static_cast<std::size_t>(digits));
  };
  std::mt19937_64 random(11);
  std::vector<double> values = {
      1000000000005.0, 1000000000015.0,        9.99999999999951,       99999.5, 0.95,
      5e-324,          1.7976931348623157e308, 2.2250738585072014e-308};
  while (values.size() < 200000) {
    const double v = std::bit_cast<double>(random());
    if (std::isfinite(v) && v != 0.0) values.push_back(v);
  }
  // Where the integer conversion works, 1e-40..1e25: random mantissas, and
  // odd multiples of 2^-k whose 13th digit is an exact 5 (ties at 12).
  std::uniform_int_distribution<int> binary_exponent(-133, 83);
  while (values.size() < 400000) {
    const std::uint64_t mantissa = random() >> 11;
    values.push_back(std::ldexp(static_cast<double>(mantissa | (std::uint64_t{1} << 52)),
                                binary_exponent(random) - 52));
  }
  for (int k = 1; k <= 8; ++k) {
    const double five_k = std::pow(5.0, k);
    std::uniform_int_distribution<std::uint64_t> odd(static_cast<std::uint64_t>(1e12 / five_k),
                                                     static_cast<std::uint64_t>(4e12 / five_k));
    for (int n = 0; n < 2000; ++n) {
      values.push_back(std::ldexp(static_cast<double>(2 * odd(random) + 1), -k));
    }
  }
  for (const double v : values) {
    for (const int digits : {2, 12, 13, 15, 16, 17}) {
      const std::string field = format_E(v, 0, digits);
      ASSERT_EQ(digits_of(field, digits), precise(v, digits)) << v << " " << digits;
    }
  }
}

TEST(FortranFormat, IntegerVectors) {
  const auto rows = load("format_I.tsv");
  EXPECT_EQ(rows.size(), 32u);
  for (const Row& r : rows) {
    ASSERT_EQ(r.size(), 6u);
    const std::int64_t v = std::stoll(r[1]);
    EXPECT_EQ(format_I(v, 8), field(r[2])) << "I8 of " << v;
    EXPECT_EQ(format_I(v, 1), field(r[3])) << "I1 of " << v;
    EXPECT_EQ(format_I(v, 12, 12), field(r[4])) << "I12.12 of " << v;
    EXPECT_EQ(format_I(v, 8, 8), field(r[5])) << "I8.8 of " << v;
  }
}

// Records of the vector file rebuilt field by field; records of one WRITE
// are joined with '\n'.  Values are copied from the `values` column.
TEST(FortranFormat, RecordVectors) {
  using Field = std::function<void(std::string&)>;
  const auto E = [](double v) -> Field { return [v](std::string& s) { append_E23_12(s, v); }; };
  const auto F12 = [](double v) -> Field { return [v](std::string& s) { append_F12_5(s, v); }; };
  const auto F20 = [](double v) -> Field { return [v](std::string& s) { append_F20_12(s, v); }; };
  const auto I = [](std::int64_t v, int w, int m = 0) -> Field {
    return [=](std::string& s) { append_I(s, v, w, m); };
  };
  const auto A = [](std::string t, std::size_t w = 0) -> Field {
    return [=](std::string& s) { append_A(s, t, w); };
  };
  const Field x1 = A(" "), x2 = A("  "), nl = A("\n");
  const std::map<int, std::vector<Field>> build = {
      {5, {I(1000, 12, 12), x2, I(1, 8, 8), x2, I(0, 8, 8)}},
      {10, {I(10, 1), x1, I(-1, 1), x1, I(9, 1), x1, I(1, 1)}},
      {11, {I(1, 1), x1, I(0, 1), x1, I(0, 1), x1, I(1, 1), x1}},
      {15, {E(0x1.3fffffba28b5ap+3), x2, E(1.0)}},
      {18, {E(0.0), x2, E(-0x1.d42aea2879f2ep+328), x2, E(0x1.d42aea2879f2ep+328), x2, E(0.0)}},
      {19, {E(0.0), x2, E(1.0), x2, E(-1.0), x2, E(0.0), x2}},
      {22, {F12(0x1.e848p+19), x2, F12(1.25)}},
      {25, {x1, E(1.5)}},
      {27, {E(1.5), nl, E(-1.5), nl, E(0.0)}},
      {28, {F20(0x1.1de784ap+28), A(" - comment")}},
      {31, {F20(1.5), A(" - value"), nl}},
      {35, {I(0, 8), A(" abc\t  - text after a TAB")}},
      {36, {A("ab\\cd\\", 20), A(" - text field of 20 characters")}},
      {37, {A("ab\\cd\\", 100), A(" - text field of 100 characters")}},
  };
  std::size_t checked = 0;
  for (const Row& r : load("format_records.tsv")) {
    const auto it = build.find(std::stoi(r[0]));
    if (it == build.end()) continue;
    std::string expected;
    std::stringstream records(r[5].substr(1, r[5].size() - 2));
    for (std::string rec; std::getline(records, rec, '|');) {
      if (rec != " ")
        expected += unescape(rec);
      else
        expected += '\n';
    }
    std::string got = "prefix:";
    for (const Field& f : it->second) f(got);
    EXPECT_EQ(got, "prefix:" + expected) << "record id " << r[0] << " " << r[1];
    ++checked;
  }
  EXPECT_EQ(checked, build.size());
}

// Fields outside the vector files: step labels, text fields that pad but
// never cut, fields appended behind text, digits beyond the stack buffer,
// free widths (0) and widths too narrow for the leading zero or the sign.
TEST(FortranFormat, SingleFieldsAndLabels) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::string text = "[";
  append_A(text, "ab", 5);
  append_A(text, "abcdef", 3);
  append_A(text, "", 2);
  std::string appended = "x";
  append_E13_5(appended, 1.2345);
  append_F12_5(appended, -0.5);
  append_I(appended, 42, 4);
  append_E23_12(appended, 1e-101);
  const std::pair<std::string, std::string> cases[] = {
      {step_label(0), "000000000000"},
      {step_label(1000), "000000001000"},
      {step_label(999999999999), "999999999999"},
      {step_label(1000000000000), "1000000000000"},
      {step_label(-5), "-000000000005"},
      {step_label(INT64_MIN), "-9223372036854775808"},
      {text, "[ab   abcdef  "},
      {appended, "x  0.12345E+01    -0.50000  42     0.100000000000-100"},
      {format_F(0.1, 0, 60),
       "0.1000000000000000055511151231257827021181583404541015625" + std::string(5, '0')},
      {format_E(-2.5, 0, 1), "-0.2E+01"},  // tie to even
      {format_F(2.5, 0, 0), "2."},
      {format_I(-7, 0), "-7"},
      {format_E(-1.5, 9, 3), "-.150E+01"},  // the zero before the point goes first
      {format_F(0.5, 4, 3), ".500"},
      {format_F(-0.5, 4, 3), "****"},
      {format_E(-kInf, 5, 2), " -Inf"},
      {format_E(kInf, 2, 2), "**"},
  };
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace mps::textio
