#pragma once
// Result files as tasks that may run at once, in any order: each task
// writes files of its own from data it owns or share-owns (see the rules in
// writer.hpp).  The time loop hands them to its writer as one job; run()
// writes them before it returns.
#include <string>
#include <vector>

#include "output/writer.hpp"

namespace mps {

struct FileTasks {
  std::vector<Task> tasks;
  std::vector<std::string> paths;  // every file the tasks write, in file order

  void append(FileTasks&& more) {
    for (auto& t : more.tasks) tasks.push_back(std::move(t));
    for (auto& p : more.paths) paths.push_back(std::move(p));
  }
  // Runs every task (run_tasks); the first error is thrown once they are
  // done.  Returns the paths.
  std::vector<std::string> run() {
    run_tasks(std::move(tasks));
    tasks.clear();
    return paths;
  }
};

}  // namespace mps
