#pragma once
// Fixed-width number fields with the exact text of Fortran edit descriptors.
//
// Result files of this program are read by users' scripts that expect the
// Fortran layouts (E23.12 columns, F20.12 echo values, zero-padded labels),
// so every field here reproduces gfortran's output character for character:
// correct rounding of the exact binary value (ties to even), three-digit
// exponents without the letter E, NaN/Infinity right-justified, and w
// asterisks when a value does not fit its field.  The functions append to a
// caller-owned std::string so that a snapshot of millions of numbers is
// formatted without per-number allocation or locale look-ups.
#include <cstdint>
#include <string>
#include <string_view>

namespace mps::textio {

// Ew.d: [-]0.ddd...E+xx, right-justified in w characters.
void append_E(std::string& out, double value, int width, int digits);
// Fw.d: [-]iii.ddd, right-justified in w characters.
void append_F(std::string& out, double value, int width, int digits);
// Iw (min_digits = 0) or Iw.m: right-justified integer, at least m digits.
void append_I(std::string& out, std::int64_t value, int width, int min_digits = 0);
// Text field of at least `width` characters: the text, blank-padded on the
// right.  A longer text is kept whole (the field widens instead of cutting).
void append_A(std::string& out, std::string_view text, std::size_t width);

// Convenience forms for the layouts used throughout the result files.
inline void append_E23_12(std::string& out, double v) { append_E(out, v, 23, 12); }
inline void append_E13_5(std::string& out, double v) { append_E(out, v, 13, 5); }
inline void append_F20_12(std::string& out, double v) { append_F(out, v, 20, 12); }
inline void append_F12_5(std::string& out, double v) { append_F(out, v, 12, 5); }

// Step label: the integer as exactly 12 decimal digits with leading zeros
// (I12.12).  A value of 10^12 or more keeps all its digits rather than
// turning into asterisks, so file names stay unique.
std::string step_label(std::int64_t value);

// Single fields as strings, for tests and console text.
std::string format_E(double value, int width, int digits);
std::string format_F(double value, int width, int digits);
std::string format_I(std::int64_t value, int width, int min_digits = 0);

}  // namespace mps::textio
