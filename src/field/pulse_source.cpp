#include "field/pulse_source.hpp"

#include <cmath>

namespace mps {

namespace {
constexpr double kSourceFlush = 1.0000000031710769e-30;  // float(1e-30)
constexpr double kNoiseFlush = 9.999999682655225e-21;    // float(1e-20)
constexpr double kWindowSlope = 0.03999999910593033;     // float(0.04)
}  // namespace

PulseSource make_pulse_source(const RunParameters& params, std::int32_t N, std::int32_t cavity_left,
                              std::int32_t cavity_right) {
  PulseSource s;
  s.pulse = params.pulse;
  s.origin_cell = params.pulse.origin != 0 ? params.pulse.origin : N - 1;
  s.injection_cell = s.origin_cell;
  s.resonant_period = params.resonant_period;
  s.cavity_left = cavity_left;
  s.cavity_right = cavity_right;
  return s;
}

FieldPair pulse_value(const PulseSource& src, std::int64_t J, double dt, FieldPair previous) {
  const Pulse& p = src.pulse;
  const double A = p.amplitude;
  const auto m = static_cast<std::int64_t>(p.delay_ratio);
  // Step counts: the input reader has checked that they fit 32-bit integers.
  const bool gaussian = p.shape == 3;
  const double W =
      gaussian ? static_cast<double>(static_cast<std::int32_t>(p.tau / dt + 0.5)) : 1.0;
  const auto J0 =
      gaussian ? static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<double>(m) * W))
               : 0;
  const bool timed = p.shape == 1 || p.shape == 2 || p.shape == 4;
  const std::int64_t J1 =
      timed ? static_cast<std::int64_t>(static_cast<std::int32_t>(p.duration / dt)) * m : 0;
  const double phi = p.angular_frequency * dt * static_cast<double>(J - J1);
  const double theta = static_cast<double>(J) * p.angular_frequency * dt;

  double e = 1.0;
  double phase = phi;
  switch (p.shape) {
    case 1:
      break;
    case 2: {
      const double half = p.duration / 2.0;
      const double s = (static_cast<double>(J - J1) * dt - half) / half;
      if ((p.polarisation == 3 || p.polarisation == 4) && s >= 50.0) return previous;
      e = 1.0 / std::cosh(10.0 * s);
      break;
    }
    case 3: {
      const double x = static_cast<double>(J - J0) / W;
      e = std::exp(-(x * x));
      phase = theta;
      break;
    }
    case 4: {
      const double t = static_cast<double>(J) * dt;
      if (t >= 0.0 && t <= 5.0 * src.resonant_period) {
        const double y =
            kWindowSlope * dt * static_cast<double>(J - J1) / src.resonant_period - 1.0;
        const double b = 1.0 - y * y;
        const double b2 = b * b;
        e = b2 * b2;
      }
      break;
    }
    default:
      return {};
  }
  const double amp = A * e;
  // Linear polarisation: the Gaussian carries cos(theta), so that it is the
  // x (or y) part of its circular pulses; the timed shapes start as a sine.
  const double linear = gaussian ? std::cos(phase) : std::sin(phase);
  switch (p.polarisation) {
    case 1:
      return {amp * linear, 0.0};
    case 2:
      return {0.0, amp * linear};
    case 3:
      return {amp * std::cos(phase), -(amp * std::sin(phase))};
    case 4:
      return {amp * std::cos(phase), amp * std::sin(phase)};
    default:
      return {};
  }
}

void apply_pulse_source(PulseSource& src, FieldState& f, std::int64_t J, double dt) {
  const int nw = f.new_level();
  const int od = f.old_level();
  const auto o = static_cast<std::size_t>(src.injection_cell);
  double sx = 0.0, sy = 0.0;
  const Pulse& p = src.pulse;
  if (p.shape == 5) {
    std::vector<double>& ex = f.Ex[nw];
    for (std::int32_t i = src.cavity_left; i <= src.cavity_right; ++i) {
      double r1 = src.random.next();
      while (r1 == 0.0) r1 = src.random.next();  // ln 0 would make the term infinite
      const double r2 = src.random.next();
      double& v = ex[static_cast<std::size_t>(i)];
      v = v + 440.0 * std::sqrt(-2.0 * p.noise_amplitude * std::log(r1)) *
                  std::cos(constants::two_pi * r2);
      if (std::fabs(v) < kNoiseFlush) v = 0.0;
    }
  } else if (p.shape >= 1 && p.shape <= 4) {
    const auto origin = static_cast<std::size_t>(src.origin_cell);
    const FieldPair v = pulse_value(src, J, dt, {f.Ex[od][origin], f.Ey[od][origin]});
    sx += v.ex;
    sy += v.ey;
  }
  f.Ex[nw][o] = std::fabs(sx) < kSourceFlush ? 0.0 : sx;
  f.Ey[nw][o] = std::fabs(sy) < kSourceFlush ? 0.0 : sy;
}

}  // namespace mps
