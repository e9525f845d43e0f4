// Cells shared among threads: a thread's share of a range.
#include <gtest/gtest.h>
#include <omp.h>

#include <vector>

#include "core/parallel.hpp"

namespace mps {
namespace {

TEST(ThreadShare, SharesCoverTheRangeOnceInThreadOrder) {
  for (const int threads : {1, 2, 3, 7}) {
    for (const std::int32_t count : {0, 1, 5, 6, 7, 1000}) {
      std::vector<CellSpan> shares(static_cast<std::size_t>(threads));
#pragma omp parallel num_threads(threads)
      shares[static_cast<std::size_t>(omp_get_thread_num())] = thread_share(10, 9 + count);
      std::int32_t next = 10;
      for (const CellSpan& s : shares) {
        EXPECT_EQ(s.first, next) << threads << " " << count;
        EXPECT_GE(s.last, s.first - 1);
        // Shares differ by at most one cell.
        EXPECT_LE(s.last - s.first + 1, count / threads + 1);
        next = s.last + 1;
      }
      EXPECT_EQ(next, 10 + count) << threads << " " << count;
    }
  }
  // Outside a parallel region: all of it.
  const CellSpan all = thread_share(1, 99);
  EXPECT_EQ(all.first, 1);
  EXPECT_EQ(all.last, 99);
}

}  // namespace
}  // namespace mps
