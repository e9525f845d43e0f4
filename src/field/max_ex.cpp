#include "field/max_ex.hpp"

#include <cmath>
#include <limits>

namespace mps {

namespace {

// The maximum as the time loop reports it: float(-1e20) when no cell has a
// magnitude above it (no cells, or only NaN).
double reported(double m) {
  constexpr double kNone = -1.0000000200408773e+20;  // float(-1e20)
  return m > kNone ? m : kNone;
}

}  // namespace

double field_maximum(const FieldState& f, double counted_max,
                     const std::vector<std::int32_t>& late_cells) {
  const std::vector<double>& ex = f.Ex[static_cast<std::size_t>(f.new_level())];
  double m = counted_max;
  for (const std::int32_t i : late_cells) {
    const double a = std::fabs(ex[static_cast<std::size_t>(i)]);
    m = a > m ? a : m;
  }
  return reported(m);
}

}  // namespace mps
