#include "field/boundaries.hpp"

namespace mps {

double absorbing_coefficient(double s, double r) {
  return ((1.0 + s) * r + (1.0 - s)) / ((1.0 + s) - (s - 1.0) * r);
}

namespace {

void absorb(std::vector<double>& now, const std::vector<double>& before, std::size_t end,
            std::size_t inner, double k) {
  now[end] = before[inner] + k * (before[end] - now[inner]);
}

}  // namespace

BoundarySettings boundary_settings(const RunParameters& p, double s_first, double s_last) {
  BoundarySettings b;
  b.left_type = p.bc_left;
  b.right_type = p.bc_right;
  b.k_left = absorbing_coefficient(s_first, p.refl_left);
  b.k_right = absorbing_coefficient(s_last, p.refl_right);
  return b;
}

void apply_boundaries(FieldState& f, const BoundarySettings& b) {
  const int nw = f.new_level();
  const int od = f.old_level();
  const auto N = static_cast<std::size_t>(f.N);
  if (b.left_type == BoundaryType::absorbing) {
    absorb(f.Ex[nw], f.Ex[od], 1, 2, b.k_left);
    absorb(f.Ey[nw], f.Ey[od], 1, 2, b.k_left);
  } else if (b.left_type == BoundaryType::wall) {
    f.Ex[nw][1] = 0.0;
    f.Ey[nw][1] = 0.0;
  }
  if (b.right_type == BoundaryType::absorbing) {
    absorb(f.Ex[nw], f.Ex[od], N, N - 1, b.k_right);
    absorb(f.Ey[nw], f.Ey[od], N, N - 1, b.k_right);
  } else if (b.right_type == BoundaryType::wall) {
    f.Ex[nw][N] = 0.0;
    f.Ey[nw][N] = 0.0;
  }
}

}  // namespace mps
