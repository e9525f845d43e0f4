#pragma once
// Result files as tasks that may run at once, in any order: each task
// writes files of its own.  The output thread runs a snapshot's tasks side
// by side; run() runs them over the OpenMP threads.
#include <functional>
#include <string>
#include <vector>

#include "core/parallel.hpp"

namespace mps {

struct FileTasks {
  std::vector<std::function<void()>> tasks;
  std::vector<std::string> paths;  // every file the tasks write, in file order

  void append(FileTasks&& more) {
    for (auto& t : more.tasks) tasks.push_back(std::move(t));
    for (auto& p : more.paths) paths.push_back(std::move(p));
  }
  // Runs every task; the first error is thrown once all have run.
  std::vector<std::string> run() {
    for_each_job(static_cast<std::int64_t>(tasks.size()),
                 [this](std::int64_t n) { tasks[static_cast<std::size_t>(n)](); });
    return paths;
  }
};

}  // namespace mps
