#pragma once
// The transparent source: a total-field/scattered-field plane at the
// injection cell o (Taflove and Hagness, Computational Electrodynamics,
// ch. 5).  The pulse is launched on an auxiliary line of the injection
// cell's medium, fed by a hard source at its first cell and open at its far
// end, so the incident wave there carries exactly the grid's own
// dispersion.  The main grid is corrected at the plane:
//   toward +z (total field at cells >= o):
//     Hy(o-1) += cH Ex_inc(o),  Hx(o-1) -= cH Ey_inc(o)        (after the H update)
//     Ex(o) += dt cE Hy_inc(o-1),  Ey(o) -= dt cE Hx_inc(o-1)  (after the E update)
//   toward -z (origin 0: o = N-3, so the scattered-field side keeps cells
//   of its own before the end; total field at cells <= o):
//     Hy(o) -= cH Ex_inc(o),  Hx(o) += cH Ey_inc(o)
//     Ex(o) -= dt cE Hy_inc(o),  Ey(o) += dt cE Hx_inc(o)
// so the incident wave exists on the total side alone and light coming back
// passes the plane and leaves through the absorbing end behind it.  The
// incident wave reaches cell o kLag cells after the line's source: the
// pulse peaks there kLag cells' travel time later than with the hard source.
#include <cstdint>
#include <vector>

#include "field/field_state.hpp"
#include "field/field_update.hpp"
#include "field/pulse_source.hpp"

namespace mps {

struct IncidentLine {
  static constexpr std::int32_t kLag = 4;     // line cell that maps to the injection cell
  static constexpr std::int32_t kCells = 16;  // cells 0..kCells of the line
  bool toward_plus_z = true;
  std::int32_t plane = 0;  // injection cell o of the main grid
  double cE = 0.0, cH = 0.0, dt = 0.0;
  double k_end = 0.0;                  // absorbing coefficient of the line's far end
  std::vector<double> ex, ey, hx, hy;  // one level; E at step J, H at J - 1/2
  std::vector<double> ex_before, ey_before;
  double injected = 0.0;       // energy of the incident wave through the plane so far [J/m^2]
  double injected_last = 0.0;  // the part of it of the last step
};

// The line for the source's pulse in the medium of the injection cell.
IncidentLine make_incident_line(const PulseSource& source, const FieldCoefficients& coeffs,
                                double dt);

// The correction of the main H at the plane, added after its H update of
// step J (the line still holds E of step J - 1).
HCorrection plane_correction(const IncidentLine& line, const FieldCoefficients& k);

// Advances the line to step J (H, then E with the pulse at its first cell),
// then corrects the main E at the plane.  Adds the incident energy of the
// step to line.injected.
void advance_and_correct_E(IncidentLine& line, const PulseSource& source,
                           std::span<const PulseSource> further, FieldState& f, std::int64_t J);

}  // namespace mps
