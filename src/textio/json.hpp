#pragma once
// A small JSON writer: numbers, quoted texts, and objects written one member
// per line (summary.json, mps1d --check --json).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace mps::json {

// JSON has no NaN or infinity: they are written as null.
inline std::string number(double x) {
  if (!std::isfinite(x)) return "null";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

namespace detail {

// Length (1 to 4) of the well-formed UTF-8 sequence at s[i], or 0 when the
// bytes there are none: a stray continuation byte, an overlong form, a
// surrogate, a code point beyond U+10FFFF, or a sequence cut short.
inline std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto byte = [s](std::size_t k) {
    return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u;
  };
  const unsigned lead = byte(i);
  if (lead < 0x80) return 1;
  // The second byte's range excludes the overlong forms, the surrogates
  // (after 0xED) and what lies beyond U+10FFFF (after 0xF4).
  std::size_t n = 0;
  unsigned low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
  }
  return n;
}

}  // namespace detail

// `s` as a JSON string that always parses, whatever bytes names and folders
// hold: control characters (C0, DEL, C1) as \u escapes, each byte that is
// not part of well-formed UTF-8 as U+FFFD; UTF-8 text as it is.
inline std::string quoted(const std::string& s) {
  std::string q = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = detail::utf8_length(s, i);
    if (n == 0) {
      q += "\\ufffd";
      ++i;
      continue;
    }
    // The code point of a one- or two-byte sequence, where the controls are.
    const auto lead = static_cast<unsigned char>(s[i]);
    const unsigned code =
        n == 1   ? lead
        : n == 2 ? ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu)
                 : 0x100u;
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", code);
      q += buf;
    } else {
      if (code == '"' || code == '\\') q += '\\';
      q.append(s, i, n);
    }
    i += n;
  }
  return q + "\"";
}

// Members of a JSON object, written one per line.
class Object {
 public:
  explicit Object(int indent) : pad_(static_cast<std::size_t>(indent), ' ') {}
  Object& add(const std::string& key, const std::string& json) {
    text_ += text_.empty() ? "{\n" : ",\n";
    text_ += pad_ + "  " + quoted(key) + ": " + json;
    return *this;
  }
  Object& num(const std::string& key, double x) { return add(key, number(x)); }
  Object& integer(const std::string& key, std::int64_t x) { return add(key, std::to_string(x)); }
  Object& str(const std::string& key, const std::string& s) { return add(key, quoted(s)); }
  std::string done() const { return text_.empty() ? "{}" : text_ + "\n" + pad_ + "}"; }

 private:
  std::string pad_;
  std::string text_;
};

template <typename T, typename F>
std::string list(const std::vector<T>& values, F item) {
  std::string s = "[";
  for (std::size_t k = 0; k < values.size(); ++k) s += (k ? ", " : "") + item(values[k]);
  return s + "]";
}

}  // namespace mps::json
