#pragma once
// The vector width the medium works in: dot cells are stored and advanced
// kBatchLanes at a time, one cell per lane.
#include <array>
#include <cstddef>

namespace mps {

// Doubles per vector register.
#if defined(__AVX512F__)
inline constexpr int kBatchLanes = 8;
#elif defined(__AVX__)
inline constexpr int kBatchLanes = 4;
#else
inline constexpr int kBatchLanes = 2;
#endif

// One value per lane, aligned as one vector register (so an array of Lanes
// has no gaps).  Not initialised: whoever makes one writes every lane
// before reading it, or assigns a zero-initialised Lanes{}.
struct alignas(sizeof(double) * kBatchLanes) Lanes {
  std::array<double, kBatchLanes> v;
  double& operator[](int l) { return v[static_cast<std::size_t>(l)]; }
  double operator[](int l) const { return v[static_cast<std::size_t>(l)]; }
};
static_assert(sizeof(Lanes) == sizeof(double) * kBatchLanes);

}  // namespace mps
