#pragma once
// Numbers of the result files as a reader outside the program sees them:
// Fortran E fields (a three-digit exponent drops its letter:
// 0.100000000000-100), F and I fields, NaN and Infinity.
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace mps::testing {

// Parses one blank-free field; false when it is not a number.
inline bool parse_number(std::string field, double& value) {
  if (field == "NaN") return value = std::numeric_limits<double>::quiet_NaN(), true;
  if (field == "Infinity" || field == "+Infinity") {
    return value = std::numeric_limits<double>::infinity(), true;
  }
  if (field == "-Infinity") return value = -std::numeric_limits<double>::infinity(), true;
  // A sign after the mantissa's digits without an exponent letter.
  const std::size_t sign = field.find_last_of("+-");
  if (sign != std::string::npos && sign > 0 &&
      std::isdigit(static_cast<unsigned char>(field[sign - 1])) != 0) {
    std::string with_letter;  // appended piece by piece: insert() trips a false GCC 12 warning
    with_letter.append(field, 0, sign);
    with_letter.push_back('E');
    with_letter.append(field, sign, std::string::npos);
    field.swap(with_letter);
  }
  char* end = nullptr;
  value = std::strtod(field.c_str(), &end);
  return end != field.c_str() && *end == '\0';
}

}  // namespace mps::testing
