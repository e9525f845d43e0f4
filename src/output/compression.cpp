#include "output/compression.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#include "textio/text_file.hpp"

namespace mps {

namespace {

std::vector<std::string> paths_in(const std::string& folder, const std::string& suffix,
                                  bool hidden = false) {
  std::vector<std::string> paths = textio::files_ending_in(folder, suffix, hidden);
  for (std::string& name : paths) name.insert(0, folder);
  return paths;
}

}  // namespace

std::vector<std::string> plain_dat_files(const std::string& folder) {
  return paths_in(folder, ".dat");
}

CompressionTasks::CompressionTasks(std::vector<std::string> paths, int level)
    : outcome_(std::make_shared<Outcome>()) {
  outcome_->errors.resize(paths.size());
  outcome_->paths = std::move(paths);
  outcome_->level = level;
}

std::vector<Task> CompressionTasks::tasks() const {
  std::vector<Task> tasks;
  for (std::size_t n = 0; n < outcome_->paths.size(); ++n) {
    tasks.emplace_back([outcome = outcome_, n] {
      const std::string& path = outcome->paths[n];
      try {
        textio::gzip_file(path, path + ".gz", outcome->level);
      } catch (const std::exception& e) {
        outcome->errors[n] = e.what();
      }
    });
  }
  return tasks;
}

CompressionReport CompressionTasks::report() const {
  CompressionReport report;
  for (std::size_t n = 0; n < outcome_->paths.size(); ++n) {
    if (outcome_->errors[n].empty()) {
      report.compressed.push_back(outcome_->paths[n]);
    } else {
      report.failures.push_back(outcome_->errors[n]);
    }
  }
  return report;
}

CompressionReport compress_files(const std::vector<std::string>& paths, int level) {
  const CompressionTasks compression(paths, level);
  run_tasks(compression.tasks());
  return compression.report();
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
