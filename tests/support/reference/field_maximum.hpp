#pragma once
// The field maximum over every cell 1..n at a level, the plain way: the
// reference the step's maximum (from its sweep and its late cells) is held
// to.  float(-1e20) when no cell has a magnitude above it.
#include <cmath>
#include <cstdint>
#include <limits>

#include "field/field_state.hpp"

namespace mps::testing {

inline double max_abs_ex(const FieldState& f, int level, std::int32_t n) {
  constexpr double kNone = -1.0000000200408773e+20;  // float(-1e20)
  const double* ex = f.Ex[static_cast<std::size_t>(level)].data();
  double m = -std::numeric_limits<double>::infinity();
  for (std::int32_t i = 1; i <= n; ++i) {
    const double a = std::fabs(ex[i]);
    m = a > m ? a : m;
  }
  return m > kNone ? m : kNone;
}

}  // namespace mps::testing
