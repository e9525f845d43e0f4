#pragma once
// Result folders unpacked for tests and benchmarks that read the plain
// files of a run: every "*.gz" directly inside a folder (hidden ones
// apart) replaced by its content.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "textio/gzip.hpp"

namespace mps::testing {

// Unpacks the "*.gz" files of `folder`; returns one message per file that
// could not be unpacked (it is left as it was).
inline std::vector<std::string> decompress_gz_files(const std::string& folder) {
  std::vector<std::string> packed;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.front() != '.' && entry.path().extension() == ".gz") {
      packed.push_back(entry.path().string());
    }
  }
  std::sort(packed.begin(), packed.end());
  std::vector<std::string> failures;
  for (const std::string& path : packed) {
    try {
      textio::gunzip_file(path, path.substr(0, path.size() - 3));
    } catch (const std::exception& e) {
      failures.emplace_back(e.what());
    }
  }
  return failures;
}

}  // namespace mps::testing
