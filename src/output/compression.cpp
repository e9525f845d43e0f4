#include "output/compression.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "textio/text_file.hpp"

namespace mps {

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Regular files directly inside `folder` whose names end in `suffix`, sorted.
std::vector<std::string> files_ending_in(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    throw IoError(folder, "cannot read the folder \"" + folder + "\": " + std::strerror(errno));
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    // As the shell pattern "*.dat": hidden files (and our own temporary
    // ".NAME.part" files) are not taken.
    if (name.front() == '.' || !ends_with(name, suffix)) continue;
    struct stat st {};
    if (::stat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// Runs one file operation over every name, over the threads; each failure
// becomes a message and the file is left alone.
template <typename Operation>
CompressionReport for_each_file(const std::string& folder, const std::vector<std::string>& names,
                                Operation op) {
  const auto count = static_cast<std::int64_t>(names.size());
  std::vector<std::string> errors(names.size());
#pragma omp parallel for schedule(dynamic, 1) if (count > 1)
  for (std::int64_t n = 0; n < count; ++n) {
    try {
      op(folder + names[static_cast<std::size_t>(n)]);
    } catch (const std::exception& e) {
      errors[static_cast<std::size_t>(n)] = e.what();
    }
  }
  CompressionReport report;
  for (std::size_t n = 0; n < names.size(); ++n) {
    if (errors[n].empty()) {
      report.compressed.push_back(folder + names[n]);
    } else {
      report.failures.push_back(errors[n]);
    }
  }
  return report;
}

}  // namespace

CompressionReport compress_dat_files(const std::string& folder, int level) {
  return for_each_file(folder, files_ending_in(folder, ".dat"), [level](const std::string& path) {
    textio::gzip_file(path, path + ".gz", level);
  });
}

CompressionReport decompress_gz_files(const std::string& folder) {
  return for_each_file(folder, files_ending_in(folder, ".gz"), [](const std::string& path) {
    textio::gunzip_file(path, path.substr(0, path.size() - 3));
  });
}

}  // namespace mps
