#pragma once
// exp() of the arguments of one step's coefficients, each distinct argument
// (bit for bit) computed once: the decay factors and the couplings of a step
// take exp of t / T for fifteen times and their differences, and the times
// repeat (the dephasing times are often all alike), so a few calls give
// every value.  The same argument gives the same bits, so nothing changes
// but the count of calls.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace mps {

class ExpOnce {
 public:
  double operator()(double x) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    for (int i = 0; i < n_; ++i) {
      if (arg_[static_cast<std::size_t>(i)] == bits) return value_[static_cast<std::size_t>(i)];
    }
    const double v = std::exp(x);
    if (n_ < kSize) {
      arg_[static_cast<std::size_t>(n_)] = bits;
      value_[static_cast<std::size_t>(n_++)] = v;
    }
    return v;
  }

 private:
  static constexpr int kSize = 32;
  std::array<std::uint64_t, kSize> arg_{};
  std::array<double, kSize> value_{};
  int n_ = 0;
};

}  // namespace mps
