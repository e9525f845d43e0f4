#pragma once
// A static magnetic field on the dots and the g-factors of its Zeeman terms.
//
// The electron pair {1, 3} (spin up and down along the growth axis z) and
// the trion pair {2, 4} (the hole's spin up and down) each take
//   H_Z = (muB/2) [g_inplane (Bx sigma_x + By sigma_y) + g_z Bz sigma_z],
// sigma_z = +1 on the spin-up level (1 or 2), sigma_x and sigma_y coupling
// it to the spin-down level with elements (up, down) 1 and -i.  Written as
// angular frequencies omega = muB g B / hbar [rad/s] (the Larmor frequency
// of a pair is |omega|), the pair's H_Z / hbar is (omega . sigma)/2.
#include <array>

#include "core/constants.hpp"

namespace mps {

struct MagneticField {
  bool on = false;            // --magnetic-field given
  std::array<double, 3> B{};  // Bx, By, Bz [T]
  // g-factors: typical magnitudes of self-assembled InGaAs dots, the
  // electron's negative; used only with a field.
  double ge_inplane = -0.5;  // electron, B in the plane
  double ge_z = -0.6;        // electron, B along z
  double gh_inplane = 0.2;   // hole (trion pair), in the plane
  double gh_z = 1.0;         // hole, along z
};

// omega = muB g B / hbar [rad/s] of the electron (x, y, z) then the hole
// (x, y, z): the order of equations::Larmor.
inline std::array<double, 6> larmor_frequencies(const MagneticField& m) {
  const double unit = constants::bohr_magneton / constants::hbar;
  return {unit * m.ge_inplane * m.B[0], unit * m.ge_inplane * m.B[1], unit * m.ge_z * m.B[2],
          unit * m.gh_inplane * m.B[0], unit * m.gh_inplane * m.B[1], unit * m.gh_z * m.B[2]};
}

}  // namespace mps
