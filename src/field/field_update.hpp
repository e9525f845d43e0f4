#pragma once
// Field profile and magnetic-field update of the Yee scheme along z.
#include "field/field_state.hpp"
#include "input/structure.hpp"

namespace mps {

// Per-cell n(i), eps_r, cE, cH for cells 1..N from the layer table; graded
// layers step n linearly from their left to their right index.
void compute_field_profile(const StructureProfile& structure, double dz, double dt,
                           FieldCoefficients& coeffs);

// H at the new level for cells 1..N-1 from E at the old level:
//   Hx_new(i) = Hx_old(i) + cH(i) (Ey_old(i+1) - Ey_old(i))
//   Hy_new(i) = Hy_old(i) - cH(i) (Ex_old(i+1) - Ex_old(i))
// then H(N) = H(N-1), so the curl of E at the last cell is zero.
void update_H(FieldState& f, const FieldCoefficients& coeffs);

}  // namespace mps
