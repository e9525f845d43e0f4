#include "textio/fortran_format.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>

// Every field is built in a buffer on the stack and appended to the caller's
// string in one go.  The digits come from std::to_chars with an explicit
// precision, which rounds the exact binary value correctly (ties to even) and
// does not depend on the locale.  Fields that need more room than the stack
// buffer (hundreds of decimals) fall back to a heap buffer.
//
// A width of zero or less means "as wide as the text needs" (the I0 / F0.d
// layout); such a field is never replaced by asterisks.

namespace mps::textio {
namespace {

constexpr std::size_t kStackChars = 128;

// Appends `text` right-justified in `width`, or `width` asterisks when it
// does not fit.
void append_right(std::string& out, const char* text, std::size_t len, int width) {
  if (width <= 0) {
    out.append(text, len);
    return;
  }
  const auto w = static_cast<std::size_t>(width);
  if (len > w) {
    out.append(w, '*');
    return;
  }
  out.append(w - len, ' ');
  out.append(text, len);
}

// NaN of any sign or payload is "NaN"; an infinity is spelled out when the
// field has room for it and abbreviated to "Inf" when it has not.
void append_non_finite(std::string& out, double value, int width) {
  if (std::isnan(value)) {
    append_right(out, "NaN", 3, width);
    return;
  }
  const bool negative = std::signbit(value);
  const std::string_view full = negative ? "-Infinity" : "Infinity";
  const std::string_view brief = negative ? "-Inf" : "Inf";
  const std::string_view text =
      width <= 0 || full.size() <= static_cast<std::size_t>(width) ? full : brief;
  append_right(out, text.data(), text.size(), width);
}

// Runs `build(buffer, capacity)` on a stack buffer when `needed` fits in it,
// otherwise on a heap buffer.
template <class Build>
void with_buffer(std::size_t needed, Build&& build) {
  if (needed <= kStackChars) {
    char buffer[kStackChars];
    build(buffer, kStackChars);
  } else {
    std::string buffer(needed, '\0');
    build(buffer.data(), needed);
  }
}

// Writes the exponent of an E field at `p` (four characters): E+dd for
// |e| <= 99, otherwise the sign and three digits without the letter.
void put_exponent(char* p, int e) {
  const char sign = e < 0 ? '-' : '+';
  const int a = e < 0 ? -e : e;
  if (a <= 99) {
    p[0] = 'E';
    p[1] = sign;
    p[2] = static_cast<char>('0' + a / 10);
    p[3] = static_cast<char>('0' + a % 10);
  } else {
    p[0] = sign;
    p[1] = static_cast<char>('0' + a / 100);
    p[2] = static_cast<char>('0' + a / 10 % 10);
    p[3] = static_cast<char>('0' + a % 10);
  }
}

int parse_exponent(const char* p, const char* end) {
  const bool negative = *p == '-';
  int e = 0;
  for (++p; p < end; ++p) e = e * 10 + (*p - '0');
  return negative ? -e : e;
}

}  // namespace

void append_E(std::string& out, double value, int width, int digits) {
  if (!std::isfinite(value)) {
    append_non_finite(out, value, width);
    return;
  }
  if (digits < 1) digits = 1;  // a mantissa needs at least one digit
  const std::size_t s = std::signbit(value) ? 1 : 0;
  const auto d = static_cast<std::size_t>(digits);
  // to_chars writes "D.DDDe+XX" (or "De+XX" for one digit) after the sign
  // and the leading zero; the longest exponent is "e-324".
  with_buffer(s + d + 8, [&](char* buf, std::size_t cap) {
    char* const first = buf + s + 1;
    const auto r = std::to_chars(first, buf + cap, std::fabs(value), std::chars_format::scientific,
                                 digits - 1);
    const char* e_mark = r.ptr - 1;
    while (*e_mark != 'e') --e_mark;
    const int e10 = value == 0.0 ? 0 : parse_exponent(e_mark + 1, r.ptr) + 1;
    // "D.DDD" -> "0.DDDD": the first digit moves behind the point.
    if (s != 0) buf[0] = '-';
    buf[s] = '0';
    first[1] = first[0];
    first[0] = '.';
    put_exponent(buf + s + 2 + d, e10);
    std::size_t len = s + 2 + d + 4;
    const char* text = buf;
    // The zero before the point is optional; it goes when it alone keeps
    // the field from fitting.
    if (width > 0 && len == static_cast<std::size_t>(width) + 1) {
      if (s != 0) buf[1] = '-';
      text = buf + 1;
      --len;
    }
    append_right(out, text, len, width);
  });
}

void append_F(std::string& out, double value, int width, int digits) {
  if (!std::isfinite(value)) {
    append_non_finite(out, value, width);
    return;
  }
  if (digits < 0) digits = 0;
  const std::size_t s = std::signbit(value) ? 1 : 0;
  // Sign, up to 309 integer digits, the point and the decimals.
  with_buffer(s + 312 + static_cast<std::size_t>(digits), [&](char* buf, std::size_t cap) {
    buf[0] = '-';
    const auto r =
        std::to_chars(buf + s, buf + cap, std::fabs(value), std::chars_format::fixed, digits);
    char* end = r.ptr;
    if (digits == 0) *end++ = '.';  // Fortran always writes the point
    auto len = static_cast<std::size_t>(end - buf);
    const char* text = buf;
    if (width > 0 && len == static_cast<std::size_t>(width) + 1 && digits > 0 && buf[s] == '0') {
      if (s != 0) buf[1] = '-';
      text = buf + 1;
      --len;
    }
    append_right(out, text, len, width);
  });
}

void append_I(std::string& out, std::int64_t value, int width, int min_digits) {
  const bool negative = value < 0;
  // Magnitude in unsigned arithmetic so that INT64_MIN is representable.
  const std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, magnitude);
  const auto n = static_cast<std::size_t>(r.ptr - digits);
  const std::size_t zeros = min_digits > 0 && static_cast<std::size_t>(min_digits) > n
                                ? static_cast<std::size_t>(min_digits) - n
                                : 0;
  with_buffer(1 + zeros + n, [&](char* buf, std::size_t) {
    char* p = buf;
    if (negative) *p++ = '-';
    std::memset(p, '0', zeros);
    std::memcpy(p + zeros, digits, n);
    append_right(out, buf, static_cast<std::size_t>(p + zeros + n - buf), width);
  });
}

void append_A(std::string& out, std::string_view text, std::size_t width) {
  out.append(text);
  if (text.size() < width) out.append(width - text.size(), ' ');
}

std::string step_label(std::int64_t value) { return format_I(value, 0, 12); }

std::string format_E(double value, int width, int digits) {
  std::string s;
  append_E(s, value, width, digits);
  return s;
}

std::string format_F(double value, int width, int digits) {
  std::string s;
  append_F(s, value, width, digits);
  return s;
}

std::string format_I(std::int64_t value, int width, int min_digits) {
  std::string s;
  append_I(s, value, width, min_digits);
  return s;
}

}  // namespace mps::textio
