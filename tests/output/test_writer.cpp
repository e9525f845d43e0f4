// The output threads: jobs in order, their tasks side by side, a bounded
// queue the loop helps to empty, errors carried back to the loop and later
// jobs dropped after one; tasks run and waited for (run_tasks).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/errors.hpp"
#include "output/writer.hpp"

namespace mps {
namespace {

using std::chrono::milliseconds;

void pause_ms(int n) { std::this_thread::sleep_for(milliseconds(n)); }

TEST(BackgroundWriter, RunsJobsInOrderWithinItsBound) {
  std::vector<int> done;
  std::atomic<int> queued{0}, most{0};
  {
    BackgroundWriter writer(30);  // three jobs of 10 bytes
    for (int n = 0; n < 12; ++n) {
      most = std::max(most.load(), ++queued);
      writer.submit(
          [&, n] {
            pause_ms(2);
            done.push_back(n);
            --queued;
          },
          10);
    }
    writer.finish();
    ASSERT_EQ(done.size(), 12u);  // finish waits for every job
  }
  for (int n = 0; n < 12; ++n) EXPECT_EQ(done[static_cast<std::size_t>(n)], n);
  EXPECT_LE(most.load(), 4);  // three queued and the one just being submitted
}

// A job larger than the bound, and one that borrows the caller's data
// however small, are done (after the jobs before them) when submit returns.
TEST(BackgroundWriter, JobLargerThanTheBoundOrBorrowingIsWrittenBeforeSubmitReturns) {
  std::vector<int> order;
  BackgroundWriter writer(10);
  writer.submit([&] { order.push_back(1); }, 5);
  writer.submit([&] { order.push_back(2); }, 50);
  EXPECT_EQ(order.size(), 2u);
  writer.submit([&] { order.push_back(3); }, 5);
  writer.submit(WriterJob{{[&] { order.push_back(4); }}, {}, 0, true});
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  writer.finish();
}

// Without threads of its own the owner does all the work, at the latest
// when the writer goes away.
TEST(BackgroundWriter, WithoutThreadsTheOwnerWritesEverything) {
  std::vector<std::thread::id> ran;
  {
    BackgroundWriter writer(100, 0);
    for (int n = 0; n < 3; ++n)
      writer.submit([&] { ran.push_back(std::this_thread::get_id()); }, 1);
  }
  EXPECT_EQ(ran, std::vector<std::thread::id>(3, std::this_thread::get_id()));
}

// A job's tasks run side by side, its closing step after all of them, and
// the next job's tasks only after that; the loop takes tasks where it
// would wait.
TEST(BackgroundWriter, TasksOfAJobRunTogetherAndJobsOneAfterTheOther) {
  std::mutex m;
  std::vector<std::string> events;
  std::set<std::thread::id> task_threads;
  auto note = [&](const std::string& e) {
    std::lock_guard<std::mutex> lock(m);
    events.push_back(e);
    if (e.starts_with("task")) task_threads.insert(std::this_thread::get_id());
  };
  BackgroundWriter writer(1, 2);  // every job fills the queue: the loop helps
  for (int j = 0; j < 3; ++j) {
    WriterJob job;
    const std::string n = std::to_string(j);
    for (int t = 0; t < 6; ++t)
      job.tasks.emplace_back([&, n] {
        pause_ms(2);
        note("task " + n);
      });
    job.close = [&, n] { note("close " + n); };
    job.bytes = 1;
    writer.submit(std::move(job));
  }
  writer.finish();
  ASSERT_EQ(events.size(), 21u);
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i], (i % 7 == 6 ? "close " : "task ") + std::to_string(i / 7)) << i;
  }
  EXPECT_GE(task_threads.size(), 2u);
  EXPECT_EQ(task_threads.count(std::this_thread::get_id()), 1u);  // the loop's thread helped
}

// A failed task: its job does not close ("point.txt" would not list the
// step), the error reaches the loop once, and later jobs are dropped.
TEST(BackgroundWriter, ErrorReachesTheLoopAndNothingMoreIsWritten) {
  std::atomic<int> tasks{0}, closes{0};
  {
    BackgroundWriter writer(100, 2);
    WriterJob job;
    for (int t = 0; t < 8; ++t) {
      job.tasks.emplace_back([&, t] {
        if (t == 2) throw IoError("f", "cannot write f");
        ++tasks;
      });
    }
    job.close = [&] { ++closes; };
    job.bytes = 1;
    writer.submit(std::move(job));
    EXPECT_THROW(writer.finish(), IoError);
    EXPECT_EQ(closes.load(), 0);
    EXPECT_LE(tasks.load(), 7);
  }
  std::vector<int> done;
  BackgroundWriter writer(100);
  writer.submit([] { throw IoError("f", "cannot write f"); }, 1);
  try {
    for (int n = 0; n < 50; ++n) {
      writer.submit([&done, n] { done.push_back(n); }, 1);
      pause_ms(1);
    }
    writer.finish();
    ADD_FAILURE() << "the error was not reported";
  } catch (const IoError& e) {
    EXPECT_STREQ(e.what(), "cannot write f");
  }
  writer.finish();  // the error was reported once
  EXPECT_TRUE(done.empty());
}

TEST(RunTasks, EveryTaskRunsOnceAndAnErrorComesBackWhenTheyAreDone) {
  std::vector<std::atomic<int>> runs(50);
  std::mutex m;
  std::set<std::thread::id> threads;
  std::vector<Task> tasks;
  for (std::size_t n = 0; n < runs.size(); ++n) {
    tasks.emplace_back([&, n] {
      ++runs[n];
      pause_ms(1);
      std::lock_guard<std::mutex> lock(m);
      threads.insert(std::this_thread::get_id());
    });
  }
  run_tasks(std::move(tasks), 2);
  for (const auto& r : runs) EXPECT_EQ(r.load(), 1);
  EXPECT_EQ(threads.size(), 2u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 1u);  // the caller is one of them

  std::atomic<int> running{0};
  tasks.clear();
  for (int n = 0; n < 8; ++n) {
    tasks.emplace_back([&, n] {
      ++running;
      pause_ms(2);
      if (n == 0) throw IoError("f", "cannot write f");
      --running;
    });
  }
  EXPECT_THROW(run_tasks(std::move(tasks), 2), IoError);
  EXPECT_EQ(running.load(), 1);  // only the failed one: none still running
}

}  // namespace
}  // namespace mps
