// The hard pulse source: envelope timing and carrier phase, the flush of
// tiny source values, and the rejected settings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "field/pulse_source.hpp"

namespace mps {
namespace {

Pulse pulse(std::int32_t shape, std::int32_t polarisation, double amplitude) {
  Pulse p;
  p.shape = PulseShape{shape};
  p.polarisation = Polarisation{polarisation};
  p.amplitude = amplitude;
  return p;
}

double radius(FieldPair v) { return std::hypot(v.ex, v.ey); }

TEST(PulseSource, GaussianCircularTracesShrinkingCirclePeakingAtDelayTimesWidth) {
  PulseSource src;
  src.pulse = pulse(3, 4, 2e8);
  const double dt = 1e-17;
  src.pulse.tau = 99.6e-17;            // W = int(tau / dt + 0.5) = 100 steps
  src.pulse.delay_ratio = 3;           // centre at step 300
  src.pulse.angular_frequency = 1e16;  // 0.1 rad per step
  std::int64_t peak_step = 0;
  double peak = 0.0;
  for (std::int64_t J = 150; J <= 450; ++J) {
    const FieldPair v = pulse_value(src, J, dt, {});
    const double x = static_cast<double>(J - 300) / 100.0;
    // Relative 1e-13: exp, sin and cos to a few ulps each.
    ASSERT_NEAR(radius(v), 2e8 * std::exp(-x * x), 1e-13 * 2e8) << J;
    if (radius(v) > peak) peak = radius(v), peak_step = J;
    // The carrier phase counts from step 0, not from the pulse centre.
    const double phase = std::remainder(0.1 * static_cast<double>(J), 2.0 * std::numbers::pi);
    ASSERT_NEAR(std::remainder(std::atan2(v.ey, v.ex) - phase, 2.0 * std::numbers::pi), 0.0, 1e-9)
        << J;
  }
  EXPECT_EQ(peak_step, 300);
  EXPECT_NEAR(peak, 2e8, 1e-6);
}

TEST(PulseSource, WindowedTurnOnEndsAtFivePeriodsThenFullAmplitude) {
  PulseSource src;
  src.pulse = pulse(4, 4, 3e7);
  src.pulse.angular_frequency = 2e15;
  const double dt = 0x1p-50;        // a power of two: J dt = 5 T0 exactly at J = 100
  src.resonant_period = 20.0 * dt;  // J1 = 0 (no delay)
  EXPECT_EQ(radius(pulse_value(src, 0, dt, {})), 0.0);  // y = -1 at the start
  // y = 0.04 * 100 / 20 - 1 = -0.8; the slope 0.04 is a single-precision
  // value, which moves y by 4.5e-9 and the envelope by 8e-8 relative.
  EXPECT_NEAR(radius(pulse_value(src, 100, dt, {})) / 3e7, std::pow(1.0 - 0.64, 4), 1e-6 * 0.0168);
  EXPECT_NEAR(radius(pulse_value(src, 101, dt, {})), 3e7, 1e-8);
  EXPECT_NEAR(radius(pulse_value(src, 5000, dt, {})), 3e7, 1e-8);
}

TEST(PulseSource, SummedValuesBelowSinglePrecisionTinyAreStoredAsZero) {
  auto injected = [](double amplitude) {
    FieldState f;
    f.allocate(10);
    f.Jtoggle = 1;
    f.Ex[1][5] = f.Ey[1][5] = 7.0;  // left by the E update; the source replaces it
    PulseSource src;
    src.pulse = pulse(1, 4, amplitude);  // continuous wave: (A cos 0, A sin 0) at J = J1 = 0
    src.injection_cell = src.origin_cell = 5;
    apply_pulse_source(src, f, 0, 1e-17);
    EXPECT_EQ(f.Ey[1][5], 0.0);
    return f.Ex[1][5];
  };
  EXPECT_EQ(injected(1e-31), 0.0);
  EXPECT_EQ(injected(-1e-31), 0.0);
  // The threshold is 1e-30 in single precision, 1.0000000031710769e-30:
  // the double 1e-30 is just below it.
  EXPECT_EQ(injected(1e-30), 0.0);
  EXPECT_EQ(injected(1.0000000031710769e-30), 1.0000000031710769e-30);
  EXPECT_EQ(injected(-2e-30), -2e-30);
}

// Shared settings of the table tests: dt is a power of two so that J dt and
// 5 T0 are exact; T / dt = 37.6 truncates to 37 (J1 = 74 with m = 2, where
// rounding would give 76); tau / dt = 20.6 gives W = 21 (J0 = 42), where
// truncation without the half would give 20.
constexpr double kDt = 0x1p-50;
constexpr double kA = 2.5e8;

PulseSource table_source(std::int32_t shape, std::int32_t q) {
  PulseSource src;
  src.pulse = pulse(shape, q, kA);
  src.pulse.angular_frequency = 0.13 / kDt;  // 0.13 rad per step
  src.pulse.duration = 37.6 * kDt;
  src.pulse.tau = 20.6 * kDt;
  src.pulse.delay_ratio = 2;
  src.resonant_period = 30.0 * kDt;  // turn-on window ends at step 150
  return src;
}

// The expected pair, written out from the source model term by term.
FieldPair reference_pair(const PulseSource& src, std::int64_t J, double dt, FieldPair previous) {
  const Pulse& p = src.pulse;
  const int shape = static_cast<int>(p.shape), q = static_cast<int>(p.polarisation);
  const auto trunc = [](double v) { return static_cast<double>(static_cast<long long>(v)); };
  const double m = p.delay_ratio;
  const double W = trunc(p.tau / dt + 0.5);
  const double J0 = trunc(m * W);
  const double J1 = trunc(p.duration / dt) * m;
  const double Jd = static_cast<double>(J);
  double e = 1.0;
  double phase = p.angular_frequency * dt * (Jd - J1);
  if (shape == 2) {
    const double s = ((Jd - J1) * dt - p.duration / 2) / (p.duration / 2);
    if (q >= 3 && s >= 50) return previous;
    e = 1.0 / std::cosh(10 * s);
  } else if (shape == 3) {
    e = std::exp(-std::pow((Jd - J0) / W, 2));
    phase = Jd * p.angular_frequency * dt;
  } else if (shape == 4 && Jd * dt >= 0 && Jd * dt <= 5 * src.resonant_period) {
    const double y = 0.03999999910593033 * dt * (Jd - J1) / src.resonant_period - 1;
    e = std::pow(1 - y * y, 4);
  }
  const double a = p.amplitude * e, c = a * std::cos(phase), sn = a * std::sin(phase);
  const double lin = shape == 3 ? c : sn;
  switch (q) {
    case 1:
      return {lin, 0.0};
    case 2:
      return {0.0, lin};
    case 3:
      return {c, -sn};
    default:
      return {c, sn};
  }
}

TEST(PulseSource, EveryShapeAndPolarisationFollowsTheFormulaTable) {
  // Steps before, at and after J1 = 74, at the Gaussian centre 42 and one width
  // later, and on both sides of the end of the turn-on window (150).
  const FieldPair previous{11.0, -13.0};  // never held here: s < 50 throughout
  for (std::int32_t shape = 1; shape <= 4; ++shape) {
    for (std::int32_t q = 1; q <= 4; ++q) {
      const PulseSource src = table_source(shape, q);
      for (std::int64_t J : {0, 40, 42, 63, 74, 75, 93, 150, 151, 300}) {
        const FieldPair got = pulse_value(src, J, kDt, previous);
        const FieldPair want = reference_pair(src, J, kDt, previous);
        // Absolute 1e-13 A: sin, cos, exp and cosh to a few ulps, and phases
        // of at most 40 rad computed in a different order.
        EXPECT_NEAR(got.ex, want.ex, 1e-13 * kA) << shape << ' ' << q << " J=" << J;
        EXPECT_NEAR(got.ey, want.ey, 1e-13 * kA) << shape << ' ' << q << " J=" << J;
      }
    }
  }
  // Hand-computed values, independent of the reference above (same tolerance).
  const auto at = [](std::int32_t shape, std::int32_t q, std::int64_t J) {
    return pulse_value(table_source(shape, q), J, kDt, {});
  };
  // The carrier starts at J1 = 74 (truncated T/dt): exactly (A, 0).
  EXPECT_EQ(at(1, 4, 74).ex, kA);
  EXPECT_EQ(at(1, 4, 74).ey, 0.0);
  EXPECT_NEAR(at(1, 1, 300).ex, -223440792.32475522, 1e-13 * kA);
  // The linear Gaussian carries cos(theta) (sin would give -1.83e8 at J = 42).
  EXPECT_NEAR(at(3, 1, 42).ex, 169972206.54946426, 1e-13 * kA);
  EXPECT_NEAR(at(3, 2, 63).ey, -30325291.43509226, 1e-13 * kA);  // x = 1
  EXPECT_NEAR(at(2, 3, 93).ex, -194605666.1387231, 1e-13 * kA);
  EXPECT_NEAR(at(2, 3, 93).ey, -154682267.25374264, 1e-13 * kA);
  EXPECT_NEAR(at(4, 1, 150).ex, -150613.1450672316, 1e-13 * kA);  // last step of the window
  EXPECT_NEAR(at(4, 1, 151).ex, kA * std::sin(0.13 * 77), 1e-13 * kA);
}

TEST(PulseSource, CircularSecantHoldsOriginFieldFromFiftyHalfWidthsOnLinearDoesNot) {
  // T = 2 dt, m = 1: J1 = 2 and s = J - 3 exactly, so s reaches 50 at J = 53.
  auto run = [](std::int32_t q, std::int64_t J) {
    FieldState f;
    f.allocate(10);
    f.Jtoggle = 0;
    f.Ex[1][7] = 3.5;  // old level at the origin
    f.Ey[1][7] = -2.25;
    f.Ex[0][4] = f.Ey[0][4] = 9.0;  // new level at the injection cell
    PulseSource src;
    src.pulse = pulse(2, q, kA);
    src.pulse.angular_frequency = 0.3 / kDt;
    src.pulse.duration = 2.0 * kDt;
    src.pulse.delay_ratio = 1;
    src.origin_cell = 7;
    src.injection_cell = 4;
    apply_pulse_source(src, f, J, kDt);
    return FieldPair{f.Ex[0][4], f.Ey[0][4]};
  };
  for (std::int32_t q : {3, 4}) {
    EXPECT_EQ(run(q, 53).ex, 3.5) << q;
    EXPECT_EQ(run(q, 53).ey, -2.25) << q;
    EXPECT_EQ(run(q, 400).ex, 3.5) << q;
    // At s = 49 the secant still applies; A / cosh(490) is flushed to zero.
    EXPECT_EQ(run(q, 52).ex, 0.0) << q;
  }
  for (std::int32_t q : {1, 2}) {
    EXPECT_EQ(radius(run(q, 53)), 0.0) << q;
    EXPECT_EQ(radius(run(q, 400)), 0.0) << q;
  }
  // Far past the pulse the linear secant keeps its (tiny) envelope instead.
  PulseSource lin;
  lin.pulse = pulse(2, 1, 1.0);
  lin.pulse.angular_frequency = 0.3 / kDt;
  lin.pulse.duration = 2.0 * kDt;
  lin.pulse.delay_ratio = 1;
  const FieldPair far = pulse_value(lin, 53, kDt, {3.5, -2.25});
  EXPECT_NEAR(far.ex / (std::sin(0.3 * 51) / std::cosh(500.0)), 1.0, 1e-13);
  EXPECT_EQ(far.ey, 0.0);
}

TEST(PulseSource, FlushActsOnEachComponentSeparately) {
  // Circular cw at phase 0.07 J, A = 1e-29: one component below 1e-30, the other kept.
  auto run = [](std::int64_t J) {
    FieldState f;
    f.allocate(6);
    f.Jtoggle = 1;
    PulseSource src = table_source(1, 3);
    src.pulse.amplitude = 1e-29;
    src.pulse.angular_frequency = 0.07 / kDt;
    src.pulse.delay_ratio = 0;
    src.injection_cell = src.origin_cell = 3;
    apply_pulse_source(src, f, J, kDt);
    return FieldPair{f.Ex[1][3], f.Ey[1][3]};
  };
  // Relative 1e-13 for the kept component: one sin or cos.
  const FieldPair near_quarter = run(22);  // 1.54 rad: |cos| = 0.031
  EXPECT_EQ(near_quarter.ex, 0.0);
  EXPECT_NEAR(near_quarter.ey, -1e-29 * std::sin(1.54), 1e-42);
  const FieldPair small_phase = run(1);  // 0.07 rad: |sin| = 0.07
  EXPECT_NEAR(small_phase.ex, 1e-29 * std::cos(0.07), 1e-42);
  EXPECT_EQ(small_phase.ey, 0.0);
}

// SplitMix64 from state 0, mapped to [0, 1) by its top 53 bits.
struct SplitMix64 {
  std::uint64_t state = 0;
  std::uint64_t raw() {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return std::ldexp(static_cast<double>(raw() >> 11), -53); }
};

TEST(PulseSource, NoiseAddsGaussianTermsOverTheCavityInCellOrder) {
  SplitMix64 check;
  EXPECT_EQ(check.raw(), 0xE220A8397B1DCDAFull);  // the published first output from 0

  FieldState f;
  f.allocate(12);
  f.Jtoggle = 1;
  for (std::size_t i = 0; i <= 12; ++i) f.Ex[1][i] = 0.5 * static_cast<double>(i);
  f.Ey[1][10] = 4.0;
  PulseSource src;
  src.pulse = pulse(5, 2, 1.0);
  src.pulse.noise_amplitude = 1e-6;
  src.injection_cell = src.origin_cell = 10;
  src.cavity_left = 3;
  src.cavity_right = 6;
  SplitMix64 ref;
  auto expect_step = [&](std::vector<double> before) {
    apply_pulse_source(src, f, 5, kDt);
    for (std::size_t i = 0; i <= 12; ++i) {
      double want = before[i];
      if (i >= 3 && i <= 6) {
        const double r1 = ref.uniform(), r2 = ref.uniform();  // no zero r1 this early
        want += 440.0 * std::sqrt(-2e-6 * std::log(r1)) * std::cos(6.2831854820251465 * r2);
      }
      if (i == 10) want = 0.0;  // noise replaces the pulse at the injection cell
      // Relative 1e-14: sqrt, log and cos to an ulp or two each.
      EXPECT_NEAR(f.Ex[1][i], want, 1e-14 * std::fabs(want)) << i;
    }
    EXPECT_EQ(f.Ey[1][10], 0.0);
  };
  expect_step(f.Ex[1]);
  expect_step(f.Ex[1]);  // the generator carries on from where it stopped

  // Terms of order 1e-22 on empty cells fall below 1e-20 and are dropped.
  src.pulse.noise_amplitude = 1e-50;
  f.Ex[1].assign(13, 0.0);
  apply_pulse_source(src, f, 6, kDt);
  for (std::size_t i = 3; i <= 6; ++i) EXPECT_EQ(f.Ex[1][i], 0.0) << i;
}

}  // namespace
}  // namespace mps
