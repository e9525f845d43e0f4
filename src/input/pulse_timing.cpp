#include "input/pulse_timing.hpp"

#include <charconv>
#include <limits>
#include <string>

#include "core/errors.hpp"

namespace mps {
namespace {

std::string number_text(double x) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

}  // namespace

std::int32_t checked_trunc(double value, std::string_view what) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) {
    throw ParameterError(std::string(what) + " does not fit an integer: " + number_text(value));
  }
  return static_cast<std::int32_t>(value);
}

PulseSteps pulse_steps(const Pulse& p, double dt) {
  PulseSteps s;
  const auto m = static_cast<std::int64_t>(p.delay_ratio);
  if (p.shape == PulseShape::gaussian) {
    // Truncation after adding 0.5 is the model's rounding (not lround).
    s.W = checked_trunc(p.tau / dt + 0.5, "Gaussian duration in steps");
    s.J0 = checked_trunc(static_cast<double>(m) * s.W,
                         "Gaussian centre step (delay multiple x duration in steps)");
  }
  if (p.timed()) {
    s.J1 = std::int64_t{checked_trunc(p.duration / dt, "Pulse length in steps")} * m;
    if (s.J1 < std::numeric_limits<std::int32_t>::min() ||
        s.J1 > std::numeric_limits<std::int32_t>::max()) {
      throw ParameterError("Pulse start step does not fit an integer: " + std::to_string(s.J1));
    }
  }
  return s;
}

double pulse_peak_time(const Pulse& q, double dt) {
  const PulseSteps n = pulse_steps(q, dt);
  if (q.shape == PulseShape::gaussian) return static_cast<double>(n.J0) * dt;
  if (q.shape == PulseShape::sech) return static_cast<double>(n.J1) * dt + q.duration / 2.0;
  return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace mps
