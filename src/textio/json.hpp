#pragma once
// A small JSON writer: numbers, quoted texts, and objects written one member
// per line (summary.json, mps1d --check --json).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mps::json {

// JSON has no NaN or infinity: they are written as null.
inline std::string number(double x) {
  if (!std::isfinite(x)) return "null";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

inline std::string quoted(const std::string& s) {
  std::string q = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') q += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      q += buf;
      continue;
    }
    q += c;
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
