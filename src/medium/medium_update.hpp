#pragma once
// One time step of E and the medium on cells 1..N-1 (after the H update).
#include "field/field_state.hpp"
#include "medium/medium_state.hpp"

namespace mps {

// What the medium update needs besides the state: the step's decay factors,
// the cavity cells that bound the population flags, and the time step.
struct MediumStepContext {
  double dt = 0.0;
  const DecayFactors* decay = nullptr;
  std::int32_t cavity_left = 0, cavity_right = 0;
};

// Advances E at the new level for every cell 1..N-1 and carries the medium
// of passive cells: w_new = w_old (values below 1e-120 flushed), the
// physical u13..u15 and the population flags.
void ILOOP(FieldState& f, MediumState& m, const FieldCoefficients& coeffs,
           const MediumStepContext& ctx);

// Population flags of cell i from its physical u13..u15: rho_kk > 0 inside
// (cavity_left, cavity_right], all 0 outside.
std::array<std::int32_t, 4> population_flags(std::int32_t i, double u13, double u14, double u15,
                                             std::int32_t cavity_left, std::int32_t cavity_right);

}  // namespace mps
