#include "core/run_parameters.hpp"

namespace mps {

PulseSteps pulse_steps(const Pulse& p, double dt) {
  PulseSteps s;
  const auto m = static_cast<std::int64_t>(p.delay_ratio);
  if (p.shape == PulseShape::gaussian) {
    // Truncation after adding 0.5 is the model's rounding (not lround).
    s.W = static_cast<double>(
        static_cast<std::int32_t>(p.tau / dt + 0.5));  // NOLINT(bugprone-incorrect-roundings)
    s.J0 = static_cast<std::int32_t>(static_cast<double>(m) * s.W);
  }
  if (p.timed()) s.J1 = static_cast<std::int64_t>(static_cast<std::int32_t>(p.duration / dt)) * m;
  return s;
}

}  // namespace mps
