// The output thread: jobs in order, a bounded queue, errors carried back to
// the loop and later jobs dropped after one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
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

TEST(BackgroundWriter, JobLargerThanTheBoundRunsHereAfterTheQueue) {
  std::vector<std::thread::id> where;
  std::vector<int> order;
  BackgroundWriter writer(10);
  writer.submit([&] { order.push_back(1), where.push_back(std::this_thread::get_id()); }, 5);
  writer.submit([&] { order.push_back(2), where.push_back(std::this_thread::get_id()); }, 50);
  writer.finish();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_NE(where[0], std::this_thread::get_id());
  EXPECT_EQ(where[1], std::this_thread::get_id());
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

}  // namespace
}  // namespace mps
