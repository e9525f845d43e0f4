#include "field/max_ex.hpp"

#include <cmath>
#include <limits>

#include "core/parallel.hpp"

namespace mps {

double max_abs_ex(const FieldState& f, int level, std::int32_t n) {
  double result = -1.0000000200408773e+20;  // float(-1e20)
  const double* ex = f.Ex[static_cast<std::size_t>(level)].data();
  double m = -std::numeric_limits<double>::infinity();
  if (n >= kMinCellsToFork) {
#pragma omp parallel for schedule(static) reduction(max : m)
    for (std::int32_t i = 1; i <= n; ++i) {
      const double a = std::fabs(ex[i]);
      m = a > m ? a : m;
    }
  } else {
    for (std::int32_t i = 1; i <= n; ++i) {
      const double a = std::fabs(ex[i]);
      m = a > m ? a : m;
    }
  }
  if (m > result) result = m;
  return result;
}

double field_maximum(const FieldState& f, double counted_max,
                     const std::vector<std::int32_t>& late_cells) {
  double result = -1.0000000200408773e+20;  // float(-1e20)
  const std::vector<double>& ex = f.Ex[static_cast<std::size_t>(f.new_level())];
  double m = counted_max;
  for (const std::int32_t i : late_cells) {
    const double a = std::fabs(ex[static_cast<std::size_t>(i)]);
    m = a > m ? a : m;
  }
  if (m > result) result = m;
  return result;
}

}  // namespace mps
