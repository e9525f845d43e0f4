// The stimulated (three-pulse) photon echo of an inhomogeneously broadened
// thin layer: pi/2 pulses at 0, tau and tau + T store the first two
// pulses' phase grating in the populations and read it out as an echo at
// 2 tau + T.  Its amplitude is (1/2) sin(th1) sin(th2) sin(th3), half the
// two-pulse echo's sin(th1) sin^2(th2/2) of pi/2 and pi at the same tau,
// while T stays well below the populations' lifetime T1.  The coherence
// pulse 1 leaves in the plane is rephased by pulses 2 and 3 at T - tau
// after pulse 3 (amplitude 1/4 of the stimulated echo's 1/2, and of the
// opposite sign): T = 2 tau would put it on the echo and halve it, so T is
// 2 tau + 0.6 ps.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "core/spectral_classes.hpp"
#include "support/dot_line.hpp"

namespace mps::testing {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDelta = kTransition / constants::hbar;  // [rad/s]
constexpr std::int32_t kDot = 20;                         // 10 cells after the source
constexpr double kPulse = 10e-15;                         // pulse FWHM [s]
constexpr double kLong = 1e-9;                            // T2 and T1 [s]

double circular_amplitude(double area) {
  return area * constants::hbar / (kDipole * kPulse / constants::fwhm_factor * std::sqrt(kPi));
}

// One dilute dot cell of 48 classes over 12 meV (free decay gone ~0.6 ps
// after a pulse, the revival 2 pi / h = 4.05 ps after it), levels 1 and 3
// half filled, a sigma+ pulse of `area` first.
struct Layer {
  DotLine line{LineSetup{40, 1e18, kLong, kLong, kLong}};
  explicit Layer(double area) {
    line.mp.classes = spectral_classes({48, 12.0});
    line.add_dots(kDot, kDot, {0.5, 0.0, 0.5, 0.0});
    line.set_pulse(3, circular_amplitude(area), kPulse);
  }
  double time() const { return static_cast<double>(line.J) * line.dt; }
  double peak(const PulseSource& s) const {
    return static_cast<double>(pulse_steps(s.pulse, line.dt).J0 + (kDot - DotLine::kOrigin)) *
           line.dt;
  }
  // A further pulse of `area` about `delay` after the first; its peak's
  // time after the first's [s].
  double add_pulse(double delay, double area) {
    PulseSource next = line.source;
    next.pulse.amplitude = circular_amplitude(area);
    next.pulse.delay_ratio += static_cast<std::int32_t>(std::lround(delay / next.pulse.tau));
    line.sim.further_sources.push_back(next);
    return peak(next) - peak(line.source);
  }
  // |<u1 + i u7>| over the classes, with u_k = e^{-t/T_k} w_k.
  double coherence() const {
    const std::array<double, kStored> w = line.m.w_at(line.f.new_level(), kDot);
    return std::exp(-time() / line.mp.T[1]) * std::hypot(w[0], w[6]);
  }
  // The largest coherence within +-0.35 ps of `at` after the first pulse,
  // and when it comes [s after the first pulse].
  std::pair<double, double> echo(double at) {
    const double centre = peak(line.source) + at;
    double largest = 0.0, when = 0.0;
    while (time() < centre + 0.35e-12) {
      line.advance();
      if (time() < centre - 0.35e-12) continue;
      if (coherence() > largest) largest = coherence(), when = time() - peak(line.source);
    }
    return {largest, when};
  }
};

TEST(StimulatedEcho, ComesAtTwoTauPlusTWithHalfTheTwoPulseEchosAmplitude) {
  constexpr double tau = 0.6e-12, T = 1.8e-12;
  Layer two(0.5 * kPi);
  const double t2 = two.add_pulse(tau, kPi);
  const auto [a2, at2] = two.echo(2.0 * t2);

  Layer three(0.5 * kPi);
  const double t3 = three.add_pulse(tau, 0.5 * kPi);
  const double t3T = three.add_pulse(tau + T, 0.5 * kPi);
  const auto [a3, at3] = three.echo(t3T + t3);
  const double period = 2.0 * kPi / kDelta;
  RecordProperty("ratio", std::to_string(a3 / a2));
  // Measured: two-pulse echo 0.4988 at 2 tau + 2.0 fs, stimulated echo
  // 0.2488 at 2 tau + T + 1.9 fs (a carrier period is 3.2 fs), ratio
  // 0.4988; 10 fs pulses over a 12 meV line rotate each class almost
  // exactly, so 1 % holds.
  EXPECT_LT(std::fabs(at2 - 2.0 * t2), period);
  EXPECT_LT(std::fabs(at3 - (t3T + t3)), period);
  EXPECT_NEAR(a3 / a2, 0.5, 0.01);
}

}  // namespace
}  // namespace mps::testing
