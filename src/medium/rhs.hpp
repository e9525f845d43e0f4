#pragma once
// Right-hand side of the coupled field and pseudospin equations of one dot
// cell, evaluated at the midpoint of the step.
#include <array>

#include "medium/medium_state.hpp"
#include "medium/pseudospin.hpp"

namespace mps {

// The stored values w1..w16 of one cell, indexed as in the equations:
// w(k) is component k; v holds them at [k - 1] for whole-vector loops.
struct StoredValues {
  std::array<double, 16> v{};
  double& operator()(int k) { return v[static_cast<std::size_t>(k - 1)]; }
  double operator()(int k) const { return v[static_cast<std::size_t>(k - 1)]; }
  Diagonal diagonal() const { return {v[12], v[13], v[14]}; }
};

// y = (Ex, Ey, w1..w16) of one cell.
struct CellVector {
  double ex = 0.0;  // [V/m]
  double ey = 0.0;  // [V/m]
  StoredValues w;
};

// Everything of one cell and step that the equations read besides the
// step-level matrices: curls of H, the field couplings and the sources.
struct CellCoefficients {
  double curlX = 0.0;                       // (Hy(i) - Hy(i-1)) cE(i), H at the new level
  double curlY = 0.0;                       // (Hx(i) - Hx(i-1)) cE(i)
  double gX = 0.0, gY = 0.0;                // linear field terms of the equilibrium population
  double aX1 = 0.0, aX7 = 0.0, aX13 = 0.0;  // FieldCoeffX
  double aY1 = 0.0, aY7 = 0.0, aY13 = 0.0;  // FieldCoeffY
  double s1 = 0.0, s7 = 0.0;                // field drive of the equilibrium populations
  PopulationCoupling pop;                   // (13,14), (13,15), (14,15) couplings, s13..s15
};

// pseudospin_rhs: d/dt of y at the midpoint (old + now)/2.  Every term
// linear in the state carries 0.5 (0.5 c S_k = c w_k,mid) and every product
// of a field sum with a pseudospin sum 0.25.  Ey drives the pairs (1,13),
// (2,4), (3,5), (8,10), (9,11); Ex drives (7,13), (2,10), (3,11), (4,8),
// (5,9); (1,7), (3,9), (4,10), (6,12) precess without field.  The result
// depends on old and now only through their sums.  The medium terms of the
// field equations carry the current's sign in their coefficients (gX, aX,
// gY, aY; see current_sign()).
void pseudospin_rhs(const StepCoefficients& step, const CellCoefficients& cell,
                    const CellVector& old, const CellVector& now, CellVector& rate);

}  // namespace mps
