// The hard pulse source: envelope timing and carrier phase per shape and
// polarisation, the circular secant's hold, the flush of tiny values, noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

// dt is a power of two so that J dt and 5 T0 are exact; T / dt = 37.6
// truncates to 37 (J1 = 74 with m = 2, where rounding would give 76);
// tau / dt = 20.6 gives W = 21 (J0 = 42), where truncation alone gives 20.
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

TEST(PulseSource, EveryShapeAndPolarisationFollowsTheFormulaTable) {
  struct Row {
    std::int32_t shape, q;
    std::int64_t J;
    double ex, ey;
  };
  const Row rows[] = {
      {1, 1, 300, -223440792.32475522, 0},
      {1, 2, 100, 0, -59038830.17422425},
      {1, 3, 90, -121870525.58358985, -218283244.87687913},
      {1, 4, 80, 177728384.50306931, 175819854.80010253},
      {2, 1, 75, 5009.0144612723834, 0},
      {2, 2, 40, 0, 0.00030403835274744423},
      {2, 3, 93, -194605666.13872311, -154682267.25374264},
      {2, 4, 110, -1721.7054205113104, -53138.546151694194},
      {3, 1, 42, 169972206.54946426, 0},   // linear Gaussian carries cos (sin: -1.83e8)
      {3, 2, 63, 0, -30325291.435092259},  // one width past the centre
      {3, 3, 50, 211166179.29732361, -46515094.783354126},
      {3, 4, 30, -130925936.38464262, -124042459.44674909},
      {4, 1, 150, -150613.14506723161, 0},  // last step of the turn-on window
      {4, 1, 151, -138096121.37667722, 0},  // A sin(0.13 * 77)
      {4, 2, 40, 0, 17694.245997061782},
      {4, 3, 100, -5234.4642680228881, 1272.1283297103507},
      {4, 4, 0, -450885.95286552137, 89158.421519818483},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << "shape " << r.shape << " q " << r.q << " J " << r.J);
    const FieldPair got = pulse_value(table_source(r.shape, r.q), r.J, kDt, {11.0, -13.0});
    // Absolute 1e-13 A: sin, cos, exp and cosh to a few ulps.
    EXPECT_NEAR(got.ex, r.ex, 1e-13 * kA);
    EXPECT_NEAR(got.ey, r.ey, 1e-13 * kA);
  }
  // The carrier starts at J1 = 74 (truncated T / dt): exactly (A, 0).
  const FieldPair start = pulse_value(table_source(1, 4), 74, kDt, {});
  EXPECT_EQ(start.ex, kA);
  EXPECT_EQ(start.ey, 0.0);
}

// T = 2 dt, m = 1: J1 = 2 and s = J - 3 exactly, so s reaches 50 at J = 53.
PulseSource secant(std::int32_t q, double amplitude) {
  PulseSource src;
  src.pulse = pulse(2, q, amplitude);
  src.pulse.angular_frequency = 0.3 / kDt;
  src.pulse.duration = 2.0 * kDt;
  src.pulse.delay_ratio = 1;
  return src;
}

TEST(PulseSource, CircularSecantHoldsOriginFieldFromFiftyHalfWidthsOnLinearDoesNot) {
  auto run = [](std::int32_t q, std::int64_t J) {
    FieldState f;
    f.allocate(10);
    f.Jtoggle = 0;
    f.Ex[1][7] = 3.5;  // old level at the origin
    f.Ey[1][7] = -2.25;
    f.Ex[0][4] = f.Ey[0][4] = 9.0;  // new level at the injection cell
    PulseSource src = secant(q, kA);
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
  const FieldPair far = pulse_value(secant(1, 1.0), 53, kDt, {3.5, -2.25});
  EXPECT_NEAR(far.ex / (std::sin(0.3 * 51) / std::cosh(500.0)), 1.0, 1e-13);
  EXPECT_EQ(far.ey, 0.0);
}

// Source values below 1e-30 in single precision (1.0000000031710769e-30;
// the double 1e-30 is just below it) are stored as zero, each component on
// its own: a continuous wave (A cos, A sin) of 0.07 rad per step from J1 = 0.
TEST(PulseSource, SourceValuesBelowSinglePrecisionTinyAreStoredAsZero) {
  struct Case {
    double amplitude;
    std::int64_t J;
    double ex, ey, tolerance;
  };
  const Case cases[] = {
      {1e-31, 0, 0.0, 0.0, 0.0},
      {-1e-31, 0, 0.0, 0.0, 0.0},
      {1e-30, 0, 0.0, 0.0, 0.0},
      {1.0000000031710769e-30, 0, 1.0000000031710769e-30, 0.0, 0.0},
      {-2e-30, 0, -2e-30, 0.0, 0.0},
      {1e-29, 22, 0.0, 1e-29 * std::sin(1.54), 1e-42},  // 1.54 rad: |cos| = 0.031
      {1e-29, 1, 1e-29 * std::cos(0.07), 0.0, 1e-42},   // 0.07 rad: |sin| = 0.07
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.amplitude << " at J = " << c.J);
    FieldState f;
    f.allocate(6);
    f.Jtoggle = 1;
    f.Ex[1][3] = f.Ey[1][3] = 7.0;  // left by the E update; the source replaces it
    PulseSource src = table_source(1, 4);
    src.pulse.amplitude = c.amplitude;
    src.pulse.angular_frequency = 0.07 / kDt;
    src.pulse.delay_ratio = 0;
    src.injection_cell = src.origin_cell = 3;
    apply_pulse_source(src, f, c.J, kDt);
    EXPECT_NEAR(f.Ex[1][3], c.ex, c.tolerance);
    EXPECT_NEAR(f.Ey[1][3], c.ey, c.tolerance);
  }
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
