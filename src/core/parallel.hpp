#pragma once
// Cells split over the OpenMP threads, each computed by the same
// operations whichever thread takes it, so results do not depend on the
// number of threads.  (When a step forks at all is decided by
// simulation/scheduler.hpp; files are written by the output's threads: see
// output/writer.hpp.)
#include <omp.h>

#include <cstdint>

namespace mps {

// The threads the run has (OMP_NUM_THREADS, else one per processor): the
// cell loops of a step fork this many, and output work that is waited for
// (run_tasks) is shared out over as many.
inline int run_threads() { return omp_get_max_threads(); }

// Cells first..last (empty when last < first).
struct CellSpan {
  std::int32_t first = 1, last = 0;
};

// This thread's part of first..last when every thread of the enclosing
// parallel region takes one (all of it outside a region): consecutive
// pieces in thread order, the first ones a cell longer when the count does
// not divide.
inline CellSpan thread_share(std::int32_t first, std::int32_t last) {
  const std::int64_t count = static_cast<std::int64_t>(last) - first + 1;
  if (count <= 0) return {first, first - 1};
  const std::int64_t threads = omp_get_num_threads();
  const std::int64_t t = omp_get_thread_num();
  const std::int64_t base = count / threads, extra = count % threads;
  const std::int64_t begin = first + t * base + (t < extra ? t : extra);
  const std::int64_t length = base + (t < extra ? 1 : 0);
  return {static_cast<std::int32_t>(begin), static_cast<std::int32_t>(begin + length - 1)};
}

}  // namespace mps
