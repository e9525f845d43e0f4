#pragma once
// The pulse's timing in steps: one computation, checked as the input is
// read and used by the source every step.
#include <cstdint>
#include <string_view>

#include "core/run_parameters.hpp"

namespace mps {

// Step counts of the pulse's timing (int() truncating toward zero):
//   W  = int(tau/dt + 0.5), the Gaussian duration in steps (held as a double),
//   J0 = int(m W), the Gaussian's centre step,
//   J1 = int(T/dt) m, the start step of the timed shapes,
// with m the delay in units of the duration.  Zero for the other shapes.
struct PulseSteps {
  double W = 1.0;
  std::int64_t J0 = 0;
  std::int64_t J1 = 0;
};

// int(value), truncating toward zero; a value that does not fit (or NaN) is
// a ParameterError naming `what` instead of undefined behaviour.
std::int32_t checked_trunc(double value, std::string_view what);

// The counts; a ParameterError names the one that does not fit a 32-bit
// integer (the input check calls this first, so a run never sees one).
PulseSteps pulse_steps(const Pulse& pulse, double dt);

// When the source puts the pulse's peak, from its configured timing (not
// from the run, which may end before it): the Gaussian's centre step J0,
// the secant's middle half a length after its start step J1.  NaN for the
// shapes without a peak: continuous wave, turn-on and noise.
double pulse_peak_time(const Pulse& pulse, double dt);

}  // namespace mps
