#pragma once
// End conditions of the grid at cell 1 (left) and cell N (right).
//
// Type 1 is Mur's first-order one-way absorbing condition, extended by a
// reflection coefficient r so that an end can be made partially reflecting:
//   F_new(1) = F_old(2) + k (F_old(1) - F_new(2)),
//   k(s, r)  = ((1 + s) r + (1 - s)) / ((1 + s) - (s - 1) r),
// with s the end cell's Courant number; r = 0 gives (1 - s)/(1 + s), which
// absorbs a wave exactly at s = 1; r = 1 and r = -1 give k = 1 and -1.
// Type 2 is a conducting wall (E = 0).  Types 3 (PML) and 4 (periodic) are
// rejected by the input check; any other type imposes nothing at its end.
#include "core/run_parameters.hpp"
#include "field/field_state.hpp"

namespace mps {

double absorbing_coefficient(double s, double r);

struct BoundarySettings {
  BoundaryType left_type{}, right_type{};
  double k_left = 0.0, k_right = 0.0;  // absorbing coefficients of the two ends
};

BoundarySettings boundary_settings(const RunParameters& params, double s_first, double s_last);

// Overwrites Ex, Ey of the new level at cells 1 and N, left side first.
void apply_boundaries(FieldState& f, const BoundarySettings& b);

}  // namespace mps
