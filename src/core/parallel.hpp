#pragma once
// Cell loops split over the OpenMP threads.  Each cell is computed by the
// same operations whichever thread takes it, so results do not depend on
// the number of threads.
#include <cstdint>

namespace mps {

// Streaming loops over fewer cells than this run on the calling thread: a
// fork and barrier cost more than the work itself.  Results do not depend
// on it (each cell is computed the same way whichever thread takes it).
inline constexpr std::int32_t kMinCellsToFork = 20000;
// The same for the medium update, whose cells cost far more each.
inline constexpr std::int64_t kMinMediumCellsToFork = 64;

// body(i) for i = first..last, split statically over the threads when the
// range has at least `min_to_fork` cells, else on the calling thread without
// entering a parallel region at all (even a region that declines to fork
// costs a synchronisation per call, and the loop runs every step).
template <typename Body>
inline void for_each_cell(std::int32_t first, std::int32_t last, std::int64_t min_to_fork,
                          Body&& body) {
  if (static_cast<std::int64_t>(last) - first + 1 >= min_to_fork) {
#pragma omp parallel for schedule(static)
    for (std::int32_t i = first; i <= last; ++i) body(i);
  } else {
    for (std::int32_t i = first; i <= last; ++i) body(i);
  }
}

// The same for streaming kernels whose cells are independent and write only
// their own cell: the loops are marked for vectorisation, since the
// compiler cannot prove the arrays captured by the body do not overlap.
// Each cell is computed by the same operations, so results do not change.
template <typename Body>
inline void for_each_cell_simd(std::int32_t first, std::int32_t last, std::int64_t min_to_fork,
                               Body&& body) {
  if (static_cast<std::int64_t>(last) - first + 1 >= min_to_fork) {
#pragma omp parallel for simd schedule(static)
    for (std::int32_t i = first; i <= last; ++i) body(i);
  } else {
#pragma omp simd
    for (std::int32_t i = first; i <= last; ++i) body(i);
  }
}

// body(i) for i = first..last, shared among the threads of the enclosing
// parallel region by a static split and closed by their barrier; on the
// calling thread alone outside a parallel region.  For streaming kernels
// as for_each_cell_simd, where a parallel region is open anyway.
template <typename Body>
inline void for_each_cell_simd_in_team(std::int32_t first, std::int32_t last, Body&& body) {
#pragma omp for simd schedule(static)
  for (std::int32_t i = first; i <= last; ++i) body(i);
}

}  // namespace mps
