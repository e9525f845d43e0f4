#include <gtest/gtest.h>
#include <omp.h>

#include <vector>

#include "core/floating_point.hpp"

namespace mps {
namespace {

// Every thread of the team flushes subnormal results once the run's set-up
// has been made; results are defined with flushing on.
TEST(FloatingPoint, FlushToZeroOnEveryThread) {
  enable_flush_to_zero_all_threads();
  const int threads = omp_get_max_threads();
  std::vector<int> flushed(static_cast<std::size_t>(threads), 0);
#pragma omp parallel num_threads(threads)
  { flushed[static_cast<std::size_t>(omp_get_thread_num())] = flush_to_zero_active() ? 1 : 0; }
  for (int t = 0; t < threads; ++t)
    EXPECT_EQ(flushed[static_cast<std::size_t>(t)], 1) << "thread " << t;
}

}  // namespace
}  // namespace mps
