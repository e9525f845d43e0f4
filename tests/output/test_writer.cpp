// The output threads: jobs in order, their tasks side by side, a bounded
// queue the loop helps to empty, errors carried back to the loop and later
// jobs dropped after one; tasks run and waited for (run_tasks).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/errors.hpp"
#include "output/writer.hpp"

namespace mps {
namespace {

TEST(BackgroundWriter, RunsJobsInOrderAndFinishWaitsForThem) {
  std::vector<int> done;
  BackgroundWriter writer(100);
  for (int n = 0; n < 20; ++n) {
    writer.submit(
        [&done, n] {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
          done.push_back(n);
        },
        10);
  }
  writer.finish();
  ASSERT_EQ(done.size(), 20u);
  for (int n = 0; n < 20; ++n) EXPECT_EQ(done[static_cast<std::size_t>(n)], n);
}

TEST(BackgroundWriter, QueueNeverHoldsMoreThanItsBound) {
  std::atomic<int> queued{0}, most{0};
  BackgroundWriter writer(30);  // three jobs of 10 bytes
  for (int n = 0; n < 12; ++n) {
    most = std::max(most.load(), ++queued);
    writer.submit(
        [&queued] {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          --queued;
        },
        10);
  }
  writer.finish();
  EXPECT_LE(most.load(), 4);  // three queued and the one just being submitted
}

// A job larger than the bound, and one that borrows the caller's data
// however small, are done (after the jobs before them) when submit returns.
TEST(BackgroundWriter, JobLargerThanTheBoundOrBorrowingIsWrittenBeforeSubmitReturns) {
  std::vector<int> order;
  BackgroundWriter writer(10);
  writer.submit([&] { order.push_back(1); }, 5);
  std::atomic<bool> big_done{false};
  writer.submit([&] { order.push_back(2), big_done = true; }, 50);
  EXPECT_TRUE(big_done.load());
  writer.submit([&] { order.push_back(3); }, 5);
  std::atomic<bool> borrowed_done{false};
  WriterJob borrowing{{[&] { order.push_back(4), borrowed_done = true; }}, {}, 0, true};
  writer.submit(std::move(borrowing));
  EXPECT_TRUE(borrowed_done.load());
  writer.finish();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
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
  auto note = [&](std::string e) {
    std::lock_guard<std::mutex> lock(m);
    events.push_back(std::move(e));
  };
  std::set<std::thread::id> task_threads;
  BackgroundWriter writer(1, 2);  // every job fills the queue: the loop helps
  for (int j = 0; j < 3; ++j) {
    WriterJob job;
    for (int t = 0; t < 6; ++t) {
      job.tasks.emplace_back([&, j] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        note("task " + std::to_string(j));
        std::lock_guard<std::mutex> lock(m);
        task_threads.insert(std::this_thread::get_id());
      });
    }
    job.close = [&, j] { note("close " + std::to_string(j)); };
    job.bytes = 1;
    writer.submit(std::move(job));
  }
  writer.finish();
  ASSERT_EQ(events.size(), 21u);
  for (int j = 0; j < 3; ++j) {
    for (int t = 0; t < 6; ++t)
      EXPECT_EQ(events[static_cast<std::size_t>(7 * j + t)], "task " + std::to_string(j));
    EXPECT_EQ(events[static_cast<std::size_t>(7 * j + 6)], "close " + std::to_string(j));
  }
  EXPECT_GE(task_threads.size(), 2u);
  EXPECT_TRUE(task_threads.count(std::this_thread::get_id()) == 1);  // the loop's thread helped
}

TEST(BackgroundWriter, AJobWithAFailedTaskDoesNotClose) {
  std::atomic<int> tasks{0}, closes{0};
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
  EXPECT_EQ(closes.load(), 0);  // "point.txt" would not list the step
  EXPECT_LE(tasks.load(), 7);
}

TEST(BackgroundWriter, ErrorReachesTheLoopAndLaterJobsAreDropped) {
  std::vector<int> done;
  BackgroundWriter writer(100);
  writer.submit([] { throw IoError("f", "cannot write f"); }, 1);
  bool thrown = false;
  try {
    for (int n = 0; n < 50; ++n) {
      writer.submit([&done, n] { done.push_back(n); }, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.finish();
  } catch (const IoError& e) {
    thrown = true;
    EXPECT_STREQ(e.what(), "cannot write f");
  }
  EXPECT_TRUE(thrown);
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
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      if (n == 0) throw IoError("f", "cannot write f");
      --running;
    });
  }
  EXPECT_THROW(run_tasks(std::move(tasks), 2), IoError);
  EXPECT_EQ(running.load(), 1);  // only the failed one: none still running
}

}  // namespace
}  // namespace mps
