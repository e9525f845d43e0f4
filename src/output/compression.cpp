#include "output/compression.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/parallel.hpp"
#include "textio/text_file.hpp"

namespace mps {

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Regular files directly inside `folder` whose names end in `suffix`,
// sorted; hidden ones alone when `hidden`, else none of them.
std::vector<std::string> files_ending_in(const std::string& folder, const std::string& suffix,
                                         bool hidden = false) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    throw IoError(folder, "cannot read the folder \"" + folder + "\": " + std::strerror(errno));
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    // As the shell pattern "*.dat": hidden files (and our own temporary
    // ".NAME.part" files) are not taken.
    if ((name.front() == '.') != hidden || !ends_with(name, suffix)) continue;
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
CompressionReport for_each_file(const std::vector<std::string>& paths, Operation op) {
  std::vector<std::string> errors(paths.size());
  for_each_job(static_cast<std::int64_t>(paths.size()), [&](std::int64_t n) {
    try {
      op(paths[static_cast<std::size_t>(n)]);
    } catch (const std::exception& e) {
      errors[static_cast<std::size_t>(n)] = e.what();
    }
  });
  CompressionReport report;
  for (std::size_t n = 0; n < paths.size(); ++n) {
    if (errors[n].empty()) {
      report.compressed.push_back(paths[n]);
    } else {
      report.failures.push_back(errors[n]);
    }
  }
  return report;
}

std::vector<std::string> paths_in(const std::string& folder, const std::string& suffix,
                                  bool hidden = false) {
  std::vector<std::string> paths = files_ending_in(folder, suffix, hidden);
  for (std::string& name : paths) name.insert(0, folder);
  return paths;
}

}  // namespace

std::vector<std::string> plain_dat_files(const std::string& folder) {
  return paths_in(folder, ".dat");
}

CompressionReport compress_files(const std::vector<std::string>& paths, int level) {
  return for_each_file(
      paths, [level](const std::string& path) { textio::gzip_file(path, path + ".gz", level); });
}

CompressionReport compress_dat_files(const std::string& folder, int level) {
  return compress_files(plain_dat_files(folder), level);
}

std::vector<std::string> remove_stale_temporaries(const std::string& folder) {
  std::vector<std::string> removed;
  for (const std::string& path : paths_in(folder, ".part", true)) {
    if (std::remove(path.c_str()) == 0) removed.push_back(path);
  }
  return removed;
}

}  // namespace mps
