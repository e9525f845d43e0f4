#pragma once
// Reading the gfortran vector files of tests/data/vectors.
#include <string>

namespace mps::testing {

// Undoes the escapes of the vector files: \t \n \r \\ and \xHH.
inline std::string unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 't')
      out += '\t';
    else if (c == 'n')
      out += '\n';
    else if (c == 'r')
      out += '\r';
    else if (c == 'x')
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
    else
      out += c;
  }
  return out;
}

}  // namespace mps::testing
