#include "field/pulse_source.hpp"

#include <cmath>

namespace mps {

namespace {
constexpr double kSourceFlush = 1.0000000031710769e-30;  // float(1e-30)
constexpr double kNoiseFlush = 9.999999682655225e-21;    // float(1e-20)
constexpr double kWindowSlope = 0.03999999910593033;     // float(0.04)
}  // namespace

PulseSource make_pulse_source(const RunParameters& params, std::int32_t N,
                              std::pair<std::int32_t, std::int32_t> noise) {
  return make_pulse_source(params.pulse, params, N, noise);
}

std::vector<PulseSource> make_further_sources(const RunParameters& params, std::int32_t N,
                                              std::pair<std::int32_t, std::int32_t> noise) {
  std::vector<PulseSource> sources;
  for (const Pulse& q : params.further_pulses) {
    sources.push_back(make_pulse_source(q, params, N, noise));
  }
  return sources;
}

PulseSource make_pulse_source(const Pulse& pulse, const RunParameters& params, std::int32_t N,
                              std::pair<std::int32_t, std::int32_t> noise) {
  PulseSource s;
  s.pulse = pulse;
  s.origin_cell = pulse.origin != 0 ? pulse.origin : N - 1;
  s.injection_cell = s.origin_cell;
  s.resonant_period = params.resonant_period;
  s.cavity_left = noise.first;
  s.cavity_right = noise.second;
  return s;
}

namespace {

// Envelope e of the pulse at step J (time J dt), shapes 1..4.
double envelope(const PulseSource& src, const PulseSteps& n, std::int64_t J, double dt) {
  const Pulse& p = src.pulse;
  switch (p.shape) {
    case PulseShape::sech: {
      const double half = p.duration / 2.0;
      const double s = (static_cast<double>(J - n.J1) * dt - half) / half;
      return 1.0 / std::cosh(10.0 * s);
    }
    case PulseShape::gaussian: {
      const double x = static_cast<double>(J - n.J0) / n.W;
      return std::exp(-(x * x));
    }
    case PulseShape::turn_on: {
      const double t = static_cast<double>(J) * dt;
      if (t < 0.0 || t > 5.0 * src.resonant_period) return 1.0;
      const double y =
          kWindowSlope * dt * static_cast<double>(J - n.J1) / src.resonant_period - 1.0;
      const double b = 1.0 - y * y;
      const double b2 = b * b;
      return b2 * b2;
    }
    default:
      return 1.0;
  }
}

// True once a circular secant pulse has run 50 half-lengths past its
// centre: from then on it holds the field at its origin.
bool secant_holds(const Pulse& p, const PulseSteps& n, std::int64_t J, double dt) {
  if (p.shape != PulseShape::sech || !p.circular()) return false;
  const double half = p.duration / 2.0;
  return (static_cast<double>(J - n.J1) * dt - half) / half >= 50.0;
}

}  // namespace

FieldPair pulse_value(const PulseSource& src, std::int64_t J, double dt, FieldPair previous) {
  const Pulse& p = src.pulse;
  if (!(p.shape >= PulseShape::continuous_wave && p.shape <= PulseShape::turn_on)) return {};
  const PulseSteps n = pulse_steps(p, dt);
  if (secant_holds(p, n, J, dt)) return previous;
  const double amp = p.amplitude * envelope(src, n, J, dt);
  // Carrier phase: from the start step for the timed shapes, from step 0
  // for the Gaussian.  Linear polarisation: the Gaussian carries cos, so
  // that it is the x (or y) part of its circular pulses; the timed shapes
  // start as a sine.
  const bool gaussian = p.shape == PulseShape::gaussian;
  const double phase = gaussian ? static_cast<double>(J) * p.angular_frequency * dt
                                : p.angular_frequency * dt * static_cast<double>(J - n.J1);
  const double linear = gaussian ? std::cos(phase) : std::sin(phase);
  switch (p.polarisation) {
    case Polarisation::x:
      return {amp * linear, 0.0};
    case Polarisation::y:
      return {0.0, amp * linear};
    case Polarisation::circular:
      return {amp * std::cos(phase), -(amp * std::sin(phase))};
    case Polarisation::circular_anti:
      return {amp * std::cos(phase), amp * std::sin(phase)};
    default:
      return {};
  }
}

namespace {

// The source's value at its injection cell in step J (zero for the noise
// shape, whose draws it adds over the cavity meanwhile).
FieldPair source_value(PulseSource& src, FieldState& f, std::int64_t J, double dt) {
  const int nw = f.new_level();
  const int od = f.old_level();
  double sx = 0.0, sy = 0.0;
  const Pulse& p = src.pulse;
  if (p.shape == PulseShape::noise) {
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
  } else {
    const auto origin = static_cast<std::size_t>(src.origin_cell);
    const FieldPair v = pulse_value(src, J, dt, {f.Ex[od][origin], f.Ey[od][origin]});
    sx += v.ex;
    sy += v.ey;
  }
  return {sx, sy};
}

void impose(FieldState& f, std::int32_t cell, FieldPair v) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto o = static_cast<std::size_t>(cell);
  f.Ex[nw][o] = std::fabs(v.ex) < kSourceFlush ? 0.0 : v.ex;
  f.Ey[nw][o] = std::fabs(v.ey) < kSourceFlush ? 0.0 : v.ey;
}

}  // namespace

void apply_pulse_source(PulseSource& src, FieldState& f, std::int64_t J, double dt) {
  if (!src.active) return;
  impose(f, src.injection_cell, source_value(src, f, J, dt));
}

void apply_pulse_sources(PulseSource& first, std::span<PulseSource> further, FieldState& f,
                         std::int64_t J, double dt) {
  if (further.empty()) {
    apply_pulse_source(first, f, J, dt);
    return;
  }
  // Every value from the old level first, then the sums imposed, so that
  // no pulse reads another's value at its origin.
  std::vector<std::pair<std::int32_t, FieldPair>> sums;
  const auto add = [&](PulseSource& src) {
    if (!src.active) return;
    const FieldPair v = source_value(src, f, J, dt);
    for (auto& [cell, sum] : sums) {
      if (cell == src.injection_cell) {
        sum = {sum.ex + v.ex, sum.ey + v.ey};
        return;
      }
    }
    sums.emplace_back(src.injection_cell, v);
  };
  add(first);
  for (PulseSource& src : further) add(src);
  for (const auto& [cell, sum] : sums) impose(f, cell, sum);
}

FieldPair pulses_value(const PulseSource& first, std::span<const PulseSource> further,
                       std::int64_t J, double dt, FieldPair previous) {
  FieldPair v = pulse_value(first, J, dt, previous);
  for (const PulseSource& src : further) {
    const FieldPair w = pulse_value(src, J, dt, previous);
    v = {v.ex + w.ex, v.ey + w.ey};
  }
  return v;
}

}  // namespace mps
