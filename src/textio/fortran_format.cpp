#include "textio/fortran_format.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

// Every field is built in a buffer on the stack and appended to the caller's
// string in one go.  The digits come from std::to_chars, which rounds the
// exact binary value correctly (ties to even) and does not depend on the
// locale.  Fields that need more room than the stack
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

// mantissa_digits by the precise conversion alone.
int precise_digits(double a, int digits, char* d, char* end) {
  char* const first = d - 1;
  const auto p = std::to_chars(first, end, a, std::chars_format::scientific, digits - 1);
  const char* e_mark = p.ptr - 1;
  while (*e_mark != 'e') --e_mark;
  const int e = parse_exponent(e_mark + 1, p.ptr);
  d[0] = first[0];  // "D.DDD" -> "DDDD" from d on
  return e;
}

// "00" to "99".
constexpr std::array<char, 200> kTwoDigits = [] {
  std::array<char, 200> t{};
  for (std::size_t k = 0; k < 100; ++k) {
    t[2 * k] = static_cast<char>('0' + k / 10);
    t[2 * k + 1] = static_cast<char>('0' + k % 10);
  }
  return t;
}();

// n as exactly `count` decimal digits at d, two at a time.
void put_digits(std::uint64_t n, int count, char* d) {
  int i = count;
  for (; i >= 2; i -= 2) {
    const std::uint64_t pair = n % 100;
    n /= 100;
    std::memcpy(d + i - 2, &kTwoDigits[2 * pair], 2);
  }
  if (i == 1) d[0] = static_cast<char>('0' + n);
}

// The 128-bit integers of GCC and Clang, which the integer conversion needs
// for m 10^q exactly.
__extension__ typedef unsigned __int128 Uint128;

// 10^k as an integer, k = 0..19.
constexpr std::array<std::uint64_t, 20> kPow10 = [] {
  std::array<std::uint64_t, 20> p{};
  p[0] = 1;
  for (std::size_t k = 1; k < p.size(); ++k) p[k] = p[k - 1] * 10;
  return p;
}();

// 10^k, k = 0..22 (10^22 < 2^74).
Uint128 power_of_ten(int k) {
  return k < 20 ? kPow10[static_cast<std::size_t>(k)]
                : static_cast<Uint128>(kPow10[19]) * kPow10[static_cast<std::size_t>(k - 19)];
}

// round(a 10^q), ties to even, of a = m 2^e in 128-bit integers, exact when
// 0 <= q <= 22 (m 10^q < 2^127) and -127 <= e < 0; false when not so.
bool scaled_round(std::uint64_t m, int e, int q, std::uint64_t& n) {
  if (q < 0 || q > 22 || e >= 0 || e < -127) return false;
  const Uint128 p = static_cast<Uint128>(m) * power_of_ten(q);
  const int s = -e;
  const Uint128 whole = p >> s;
  const Uint128 rest = p - (whole << s);
  const Uint128 half = static_cast<Uint128>(1) << (s - 1);
  const bool up = rest > half || (rest == half && (whole & 1) != 0);
  if (whole + (up ? 1 : 0) > std::numeric_limits<std::uint64_t>::max()) return false;
  n = static_cast<std::uint64_t>(whole) + (up ? 1 : 0);
  return true;
}

// The `digits` (2..17) significant digits of a normal a > 0 rounded from
// its exact binary value, ties to even, in integer arithmetic: round(a
// 10^(digits - 1 - E)) for the decimal exponent E of a.  The exponent's
// first guess, from the binary one, is E or E - 1; rounding up to
// 10^digits takes the next exponent too.  False, with nothing written,
// where a 10^q does not fit (|a| far from 1), for the precise conversion.
bool integer_digits(double a, int digits, char* d, int& e10) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &a, sizeof bits);
  const int biased = static_cast<int>(bits >> 52);
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int e = biased - 1075;  // a = m 2^e, 2^52 <= m < 2^53
  // floor((e + 52) log10 2), for |e + 52| < 1700.
  int guess = ((e + 52) * 78913) >> 18;
  const std::uint64_t low = kPow10[static_cast<std::size_t>(digits - 1)];
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::uint64_t n = 0;
    if (!scaled_round(m, e, digits - 1 - guess, n)) return false;
    if (n >= 10 * low) {  // the exponent is one more
      ++guess;
      continue;
    }
    if (n < low) return false;  // below the guess: cannot be
    put_digits(n, digits, d);
    e10 = guess;
    return true;
  }
  return false;
}

// The `digits` significant digits of a > 0 as the exact binary value
// rounds to them (ties to even), into d[0..digits); returns the decimal
// exponent of d[0].  The shortest digits that read back as `a` (to_chars
// without a precision, the faster conversion) are those digits when there
// are at most `digits` of them, and round to them when there are at least
// two more: a decimal of digits + 1 digits between them and `a`, such as a
// tie of the rounding, would itself read back as `a` and be the shorter.
// The shortest digits are within half a unit of the last binary place of
// `a`, which is below half a unit of the 15th decimal digit for a normal
// number, not so for a subnormal one.  Else, with exactly one digit more,
// or for one digit or more than 15, the precise conversion decides; it
// writes "D.DDDe+XX" from d - 1 on, up to `end`.  The integer conversion
// (integer_digits), exact and the fastest, goes first where it can.
int mantissa_digits(double a, int digits, char* d, char* end) {
  if (digits < 2 || digits > 17 || a < std::numeric_limits<double>::min()) {
    return precise_digits(a, digits, d, end);
  }
  int exact_e10 = 0;
  if (integer_digits(a, digits, d, exact_e10)) return exact_e10;
  if (digits > 15) return precise_digits(a, digits, d, end);
  char shortest[32];
  const auto r =
      std::to_chars(shortest, shortest + sizeof shortest, a, std::chars_format::scientific);
  const char* e_mark = std::find(shortest, r.ptr, 'e');
  const int e10 = parse_exponent(e_mark + 1, r.ptr);
  int k = 0;
  char m[24];
  for (const char* p = shortest; p < e_mark; ++p) {
    if (*p != '.') m[k++] = *p;
  }
  if (k <= digits) {
    std::memcpy(d, m, static_cast<std::size_t>(k));
    std::memset(d + k, '0', static_cast<std::size_t>(digits - k));
    return e10;
  }
  if (k >= digits + 2) {
    std::memcpy(d, m, static_cast<std::size_t>(digits));
    if (m[digits] < '5') return e10;  // past the half the tail is never exactly 5
    for (int i = digits - 1; i >= 0; --i) {
      if (d[i] != '9') {
        ++d[i];
        return e10;
      }
      d[i] = '0';
    }
    d[0] = '1';  // 9.99.. rounded up to 10.00..
    return e10 + 1;
  }
  return precise_digits(a, digits, d, end);
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
  // "[-]0.DDDD" and the exponent's four characters; the precise conversion
  // writes "D.DDDe+XX" from the point on, the longest exponent is "e-324".
  with_buffer(s + d + 8, [&](char* buf, std::size_t cap) {
    char* const mantissa = buf + s + 2;
    int e10 = 0;
    if (value == 0.0) {
      // A copy of known length, where a fill of `d` would be a slow
      // string instruction.
      constexpr std::string_view kZeros = "00000000000000000000000000000000";
      if (d <= kZeros.size() && s + 2 + kZeros.size() <= cap) {
        std::memcpy(mantissa, kZeros.data(), kZeros.size());
      } else {
        std::memset(mantissa, '0', d);
      }
    } else {
      e10 = mantissa_digits(std::fabs(value), digits, mantissa, buf + cap) + 1;
    }
    if (s != 0) buf[0] = '-';
    buf[s] = '0';
    buf[s + 1] = '.';
    put_exponent(mantissa + d, e10);
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
