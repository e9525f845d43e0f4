// The hard pulse source: envelope timing and carrier phase, the flush of
// tiny source values, and the rejected settings.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "field/pulse_source.hpp"
#include "run/errors.hpp"

namespace mps {
namespace {

Pulse pulse(std::int32_t shape, std::int32_t polarisation, double amplitude) {
  Pulse p;
  p.shape = shape;
  p.polarisation = polarisation;
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

TEST(PulseSource, UnsupportedShapeAndPolarisationAreRejected) {
  try {
    check_pulse(pulse(6, 1, 1.0));
    ADD_FAILURE() << "triangular pulse accepted";
  } catch (const ParameterError& e) {
    EXPECT_STREQ(e.what(), "Formula not available yet for triangular pulse");
  }
  for (std::int32_t shape : {1, 2, 3, 4}) {
    for (std::int32_t q : {0, 5}) {
      try {
        check_pulse(pulse(shape, q, 1.0));
        ADD_FAILURE() << "shape " << shape << " polarisation " << q << " accepted";
      } catch (const FatalMessage& e) {
        EXPECT_STREQ(e.what(), "Error in pulse polarisation definition");
      }
    }
  }
  EXPECT_NO_THROW(check_pulse(pulse(5, 5, 1.0)));
}

}  // namespace
}  // namespace mps
