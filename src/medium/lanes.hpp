#pragma once
// The vector width the medium works in: dot cells are stored and advanced
// kBatchLanes at a time, one cell per lane.
#include <array>
#include <cstddef>
#include <cstring>

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

// Lanes as one vector value, for loops the compiler would not vectorise
// by itself: element-wise arithmetic with the same operations lane by
// lane (a scalar operand stands for every lane).
using LaneVector = double __attribute__((vector_size(sizeof(double) * kBatchLanes)));
using LaneMaskVector = long long __attribute__((vector_size(sizeof(double) * kBatchLanes)));
inline LaneVector load(const Lanes& x) {
  LaneVector v;
  std::memcpy(&v, x.v.data(), sizeof v);
  return v;
}
inline void store(Lanes& x, LaneVector v) { std::memcpy(x.v.data(), &v, sizeof v); }

}  // namespace mps
