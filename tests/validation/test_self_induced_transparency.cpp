// Self-induced transparency (McCall and Hahn 1967): a slab of dots in
// level 1, no relaxation on the pulses' scale, driven on 1<->2 by circular
// sech pulses.  2 pi crosses unchanged but late, 4 pi splits into two
// 2 pi pulses, a weak pulse is absorbed.  Areas are in units of the
// amplitude that fully inverts one thin dilute cell, measured by a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "support/dot_line.hpp"

namespace mps::testing {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kWidth = 5e-15;           // tau of E = A sech(t/tau) [s]
constexpr std::int32_t kSlab = 60;         // first dot cell, 50 cells after the source
constexpr std::int32_t kSlabCells = 1000;  // L = 5 um
constexpr std::int32_t kMonitor = kSlab + kSlabCells + 20;
constexpr double kDensity = 3e25;      // Nd [m^-3]
constexpr std::int64_t kSteps = 8000;  // the empty run peaks at step 4067
constexpr double kDt = DotLine::dz / constants::c0;

// Resonant coupling kappa = Delta p^2 Nd / (2 eps0 hbar c): the slab holds
// kappa tau L = 11 absorption lengths of a weak pulse.
constexpr double kKappa = kTransition / constants::hbar * kDipole * kDipole * kDensity /
                          (2.0 * constants::hbar_eps0 * constants::c0);

struct Transmission {
  std::vector<double> envelope;  // |E| at the monitor after each step [V/m]
  double fluence = 0.0;          // int |E|^2 dt there
  double dot_energy = 0.0;       // hbar Delta Nd dz sum rho22 / (eps0 c): same unit
};

Transmission transmit(double amplitude, bool with_dots) {
  LineSetup setup;  // relaxation times 1 us
  setup.cells = kMonitor + 20;
  setup.density = kDensity;
  DotLine line(setup);
  if (with_dots) line.add_dots(kSlab, kSlab + kSlabCells - 1, {1.0, 0.0, 0.0, 0.0});
  line.set_sech_pulse(3, amplitude, kWidth);
  Transmission t;
  for (std::int64_t n = 0; n < kSteps; ++n) {
    line.advance();
    const auto l = static_cast<std::size_t>(line.f.new_level());
    const double ex = line.f.Ex[l][kMonitor], ey = line.f.Ey[l][kMonitor];
    t.envelope.push_back(std::hypot(ex, ey));
    t.fluence += (ex * ex + ey * ey) * line.dt;
  }
  for (std::int32_t i = kSlab; i < kSlab + kSlabCells; ++i) {
    t.dot_energy += line.rho(i).rho22 * kDensity * DotLine::dz * kTransition /
                    (constants::eps0 * constants::c0);
  }
  return t;
}

// One dilute cell (Nd = 1e18) 90 cells after the source: int |E| dt there
// [V s/m] and its rho22 afterwards.
std::pair<double, double> pass_thin_cell(double amplitude) {
  constexpr std::int32_t dot = 100;
  DotLine line(LineSetup{});
  line.add_dots(dot, dot, {1.0, 0.0, 0.0, 0.0});
  line.set_sech_pulse(3, amplitude, kWidth);
  double integral = 0.0;
  for (std::int64_t n = 0; n < 6000; ++n) {  // the peak passes at step 3090
    line.advance();
    const auto l = static_cast<std::size_t>(line.f.new_level());
    integral += std::hypot(line.f.Ex[l][dot], line.f.Ey[l][dot]) * line.dt;
  }
  return {integral, line.rho(dot).rho22};
}

// The shift (in steps) of `in` that best matches `out`, and the normalised
// overlap there.
std::pair<std::int64_t, double> align(const std::vector<double>& out,
                                      const std::vector<double>& in) {
  double nout = 0.0, nin = 0.0;
  for (std::size_t j = 0; j < out.size(); ++j) nout += out[j] * out[j], nin += in[j] * in[j];
  std::pair<std::int64_t, double> best{0, -1.0};
  for (std::size_t s = 0; s < out.size() / 2; ++s) {
    double c = 0.0;
    for (std::size_t j = 0; j + s < out.size(); ++j) c += out[j + s] * in[j];
    c /= std::sqrt(nout * nin);
    if (c > best.second) best = {static_cast<std::int64_t>(s), c};
  }
  return best;
}

class SelfInducedTransparency : public ::testing::Test {
 protected:
  // A probe near hbar / (p tau) scaled to area pi where it acts; the empty
  // line is linear, so one run at the pi amplitude serves every area.
  static void SetUpTestSuite() {
    const double probe = constants::hbar / (kDipole * kWidth);
    pi_amplitude = probe * kPi / (kDipole * pass_thin_cell(probe).first / constants::hbar);
    empty = transmit(pi_amplitude, false);
  }
  // A fluence as a fraction of that of the input pulse of `area` (units of pi).
  static double fraction(double fluence, double area) {
    return fluence / (empty.fluence * area * area);
  }
  static inline double pi_amplitude = 0.0;
  static inline Transmission empty;
};

TEST_F(SelfInducedTransparency, PiAmplitudeInvertsOneThinCell) {
  // The sampled, cut envelope integral misses ~1e-4 of pi tau A.
  EXPECT_NEAR(pi_amplitude * kDipole * kWidth / constants::hbar, 1.0, 1e-3);
  EXPECT_GT(pass_thin_cell(pi_amplitude).second, 0.999);  // complete to ~1e-5
}

TEST_F(SelfInducedTransparency, TwoPiPulseCrossesUnchangedButLate) {
  const Transmission t = transmit(2.0 * pi_amplitude, true);
  const auto [shift, correlation] = align(t.envelope, empty.envelope);
  EXPECT_GT(fraction(t.fluence, 2.0), 0.95);  // measured 0.985: the slab reflects ~1 %
  // Measured 0.997; a sech 1.3 times wider or narrower gives 0.988, 3 pi 0.93.
  EXPECT_GT(correlation, 0.99);
  EXPECT_LT(fraction(t.dot_energy, 2.0), 0.02);  // the dots return to level 1
  // Steady 2 pi pulse: 1/v - 1/c = kappa tau^2 / 2, 27 fs over L (measured
  // 28.5: the slowly-varying-envelope balance is off by several % at Delta tau = 10).
  const double expected = kKappa * kWidth * kWidth / 2.0 * (kSlabCells * DotLine::dz);
  EXPECT_NEAR(static_cast<double>(shift) * kDt, expected, 0.1 * expected);
  // No energy is created (with the current's sign reversed this sum is 5).
  EXPECT_LT(fraction(t.fluence + t.dot_energy, 2.0), 1.01);
}

// A 4 pi sech of width tau breaks up into 2 pi sechs of widths tau/3 and
// tau, the narrow one 1.5 times the input's peak.
TEST_F(SelfInducedTransparency, FourPiPulseSplitsIntoTwo) {
  const double A = 4.0 * pi_amplitude;
  const Transmission t = transmit(A, true);
  const auto& e = t.envelope;
  const auto at = [&e](auto it) { return static_cast<std::size_t>(it - e.begin()); };
  const std::size_t first = at(std::max_element(e.begin(), e.end()));
  const auto gap = static_cast<std::size_t>(4.0 * kWidth / kDt);  // narrow pulse at sech(12)
  const std::size_t second = at(std::max_element(e.begin() + first + gap, e.end()));
  const std::size_t dip = at(std::min_element(e.begin() + first, e.begin() + second));
  double area1 = 0.0, area2 = 0.0;  // p/hbar int |E| dt before and after the dip, over pi
  for (std::size_t j = 0; j < e.size(); ++j) (j < dip ? area1 : area2) += e[j];
  area1 *= kDipole * kDt / (constants::hbar * kPi);
  area2 *= kDipole * kDt / (constants::hbar * kPi);
  EXPECT_NEAR(e[first] / A, 1.5, 0.15);  // measured 1.46: still narrowing
  EXPECT_LT(second, e.size() - 1);       // a maximum, not the end of the record
  EXPECT_GT(e[second], 0.2 * A);         // measured 0.43 A
  EXPECT_LT(e[dip], 0.1 * e[second]);    // measured 0.016
  // Measured 2.17 and 1.97: the |E| integral counts the ringing too.
  EXPECT_NEAR(area1, 2.0, 0.3);
  EXPECT_NEAR(area2, 2.0, 0.3);
  EXPECT_LT(fraction(t.fluence + t.dot_energy, 4.0), 1.01);
}

TEST_F(SelfInducedTransparency, WeakPulseIsAbsorbed) {
  const double area = 0.1;
  const Transmission t = transmit(area * pi_amplitude, true);
  EXPECT_LT(fraction(t.fluence, area), 0.5);     // measured 0.21, the sharp line's ringing
  EXPECT_GT(fraction(t.dot_energy, area), 0.4);  // measured 0.67
  EXPECT_LT(fraction(t.fluence + t.dot_energy, area), 1.01);
}

}  // namespace
}  // namespace mps::testing
