// Self-induced transparency (McCall and Hahn, Phys. Rev. Lett. 18, 908
// (1967); Phys. Rev. 183, 457 (1969)), as Ziolkowski et al., Phys. Rev. A
// 52, 3082 (1995) followed it with FDTD of the full Maxwell-Bloch equations.
// A slab of dots, all in level 1 and without relaxation on the scale of the
// pulses, driven on 1<->2 by circular (q = 3) hyperbolic-secant pulses:
//   2 pi  the dots give back at the trailing edge what the leading edge gave
//         them: the pulse crosses with its energy and shape, only slowed;
//   4 pi  breaks up into two 2 pi pulses of different widths and speeds;
//   weak  is absorbed: the dots keep the energy.
// Areas are counted in units of the amplitude that fully inverts one thin
// dilute dot cell, found by a run of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "support/dot_line.hpp"

namespace mps::testing {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kWidth = 5e-15;  // tau of E = A sech(t/tau) [s]: |E| FWHM 13 fs, 4 carrier periods
constexpr std::int32_t kSlab = 60;         // first dot cell, 50 cells after the source
constexpr std::int32_t kSlabCells = 1000;  // L = 5 um
constexpr std::int32_t kMonitor = kSlab + kSlabCells + 20;
constexpr double kDensity = 3e25;      // Nd [m^-3]
constexpr std::int64_t kSteps = 8000;  // 133 fs: the empty run peaks at step 4067

// The resonant coupling kappa = Delta p^2 Nd / (2 eps0 hbar c) = 4.3e20 / (m s)
// (Rabi frequency p |E| / hbar of the circular field).  A weak pulse of
// duration tau is reshaped and absorbed over 1 / (kappa tau) = 0.46 um, so
// the slab holds kappa tau L = 11 absorption lengths.  The dots are not so
// dense that the carrier itself feels them strongly: the collective
// frequency sqrt(2 kappa c) is a quarter of Delta.  Cost: 1000 dot cells
// times 8000 steps per run, about 1.5 s on two cores.
constexpr double kKappa = kTransition / constants::hbar * kDipole * kDipole * kDensity /
                          (2.0 * constants::hbar_eps0 * constants::c0);

struct Transmission {
  std::vector<double> envelope;  // |E| = sqrt(Ex^2 + Ey^2) at the monitor after each step [V/m]
  double fluence = 0.0;          // integral |E|^2 dt there [V^2 s / m^2]
  double dot_energy = 0.0;       // hbar Delta Nd dz sum rho22 at the end, over eps0 c: same unit
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

// One dilute dot cell (Nd = 1e18 m^-3) 90 cells after the source: the
// integral of |E| over the pulse there and the cell's rho22 afterwards.
struct ThinCell {
  double envelope_integral = 0.0;  // [V s / m]
  double rho22 = 0.0;
};

ThinCell pass_thin_cell(double amplitude) {
  constexpr std::int32_t dot = 100;
  DotLine line(LineSetup{});
  line.add_dots(dot, dot, {1.0, 0.0, 0.0, 0.0});
  line.set_sech_pulse(3, amplitude, kWidth);
  ThinCell c;
  for (std::int64_t n = 0; n < 6000; ++n) {  // the peak passes the dot at step 3090
    line.advance();
    const auto l = static_cast<std::size_t>(line.f.new_level());
    c.envelope_integral += std::hypot(line.f.Ex[l][dot], line.f.Ey[l][dot]) * line.dt;
  }
  c.rho22 = line.rho(dot).rho22;
  return c;
}

// The shift (in steps) of `in` that best matches `out`, and the normalised
// overlap sum out(j + s) in(j) / (|out| |in|) there.
struct Alignment {
  std::int64_t shift = 0;
  double correlation = -1.0;
};

Alignment align(const std::vector<double>& out, const std::vector<double>& in) {
  double nout = 0.0, nin = 0.0;
  for (std::size_t j = 0; j < out.size(); ++j) nout += out[j] * out[j], nin += in[j] * in[j];
  Alignment best;
  for (std::size_t s = 0; s < out.size() / 2; ++s) {
    double c = 0.0;
    for (std::size_t j = 0; j + s < out.size(); ++j) c += out[j + s] * in[j];
    c /= std::sqrt(nout * nin);
    if (c > best.correlation) best = {static_cast<std::int64_t>(s), c};
  }
  return best;
}

class SelfInducedTransparency : public ::testing::Test {
 protected:
  // The pi amplitude: a probe near hbar / (p tau) (area p A pi tau / hbar = pi)
  // is measured where it acts and scaled to area pi.  The empty line is
  // linear: one run at the pi amplitude serves every area.
  static void SetUpTestSuite() {
    const double probe = constants::hbar / (kDipole * kWidth);
    pi_amplitude =
        probe * kPi / (kDipole * pass_thin_cell(probe).envelope_integral / constants::hbar);
    empty = transmit(pi_amplitude, false);
  }

  // A fluence as a fraction of that of the input pulse of `area` (in units of pi).
  static double fraction(double fluence, double area) {
    return fluence / (empty.fluence * area * area);
  }

  static inline double pi_amplitude = 0.0;
  static inline Transmission empty;
};

TEST_F(SelfInducedTransparency, PiAmplitudeInvertsOneThinCell) {
  // Sampled at tau/300 and cut at 10 tau on either side, the envelope
  // integral misses ~1e-4 of pi tau A.
  EXPECT_NEAR(pi_amplitude * kDipole * kWidth / constants::hbar, 1.0, 1e-3);
  // Without a counter-rotating part and with 1 us relaxation, the inversion
  // is complete to ~1e-5.
  EXPECT_GT(pass_thin_cell(pi_amplitude).rho22, 0.999);
}

TEST_F(SelfInducedTransparency, TwoPiPulseCrossesUnchangedButLate) {
  const Transmission t = transmit(2.0 * pi_amplitude, true);
  const Alignment a = align(t.envelope, empty.envelope);
  const double delay = static_cast<double>(a.shift) * DotLine::dz / constants::c0;
  RecordProperty("energy_fraction", std::to_string(fraction(t.fluence, 2.0)));
  RecordProperty("correlation", std::to_string(a.correlation));
  RecordProperty("delay_fs", std::to_string(delay * 1e15));
  RecordProperty("dot_fraction", std::to_string(fraction(t.dot_energy, 2.0)));
  // Measured 0.985: the slab reflects about 1%.
  EXPECT_GT(fraction(t.fluence, 2.0), 0.95);
  // Measured 0.997.  A sech 1.3 times wider or narrower overlaps the input
  // at 0.988 only; the 3 pi pulse, which sheds its excess area, at 0.93.
  EXPECT_GT(a.correlation, 0.99);
  // The dots return to level 1 (measured: 0.3% of the energy stays).
  EXPECT_LT(fraction(t.dot_energy, 2.0), 0.02);
  // Velocity of the steady 2 pi pulse: the energy it carries, eps0 c |E|^2
  // with p |E| = (2 hbar / tau) sech, moves at v with the field and the
  // inversion rho22 = sech^2 of the dots, so 1/v - 1/c = kappa tau^2 / 2:
  // 27 fs over L.  Measured 28.5 fs: that balance is one of slowly varying
  // envelopes, and with Delta tau = 10 its corrections reach several %.
  const double expected = kKappa * kWidth * kWidth / 2.0 * (kSlabCells * DotLine::dz);
  EXPECT_NEAR(delay, expected, 0.1 * expected);
  // Energy is not created: what did not come through is in the dots or was
  // reflected.  The field 20 cells after the dots stands for the flux to
  // well under 1%.  (With the current's sign reversed this sum is 5.)
  EXPECT_LT(fraction(t.fluence + t.dot_energy, 2.0), 1.01);
}

TEST_F(SelfInducedTransparency, FourPiPulseSplitsIntoTwo) {
  // A 4 pi sech of width tau breaks up into 2 pi sech pulses of widths
  // tau/3 and tau (inverse scattering), the narrow one with 1.5 times the
  // input's peak and a ninth of the delay.
  const double A = 4.0 * pi_amplitude;
  const Transmission t = transmit(A, true);
  const auto& e = t.envelope;
  const double dt = DotLine::dz / constants::c0;
  const auto at = [&e](auto it) { return static_cast<std::size_t>(it - e.begin()); };
  const std::size_t first = at(std::max_element(e.begin(), e.end()));
  // 4 tau after its peak the narrow pulse has fallen to sech(12).
  const auto gap = static_cast<std::size_t>(4.0 * kWidth / dt);
  const std::size_t second = at(std::max_element(e.begin() + first + gap, e.end()));
  const std::size_t dip = at(std::min_element(e.begin() + first, e.begin() + second));
  double area1 = 0.0, area2 = 0.0;  // p/hbar integral |E| dt before and after the dip, over pi
  for (std::size_t j = 0; j < e.size(); ++j) (j < dip ? area1 : area2) += e[j];
  area1 *= kDipole * dt / (constants::hbar * kPi);
  area2 *= kDipole * dt / (constants::hbar * kPi);
  const auto fs = [dt](std::size_t j) {
    return std::to_string(static_cast<double>(j) * dt * 1e15);
  };
  RecordProperty("peaks_fs", fs(first) + " " + fs(second));
  RecordProperty("peaks_over_input",
                 std::to_string(e[first] / A) + " " + std::to_string(e[second] / A));
  RecordProperty("dip_over_input", std::to_string(e[dip] / A));
  RecordProperty("areas_over_pi", std::to_string(area1) + " " + std::to_string(area2));
  // Measured 1.46: still narrowing at the slab's end.
  EXPECT_NEAR(e[first] / A, 1.5, 0.15);
  EXPECT_LT(second, e.size() - 1);     // a maximum, not the end of the record
  EXPECT_GT(e[second], 0.2 * A);       // measured 0.43 A
  EXPECT_LT(e[dip], 0.1 * e[second]);  // measured 0.016 of the second peak
  // Each part carries 2 pi (measured 2.17 and 1.97): the |E| integral also
  // counts the weak ringing behind each pulse.
  EXPECT_NEAR(area1, 2.0, 0.3);
  EXPECT_NEAR(area2, 2.0, 0.3);
  EXPECT_LT(fraction(t.fluence + t.dot_energy, 4.0), 1.01);
}

TEST_F(SelfInducedTransparency, WeakPulseIsAbsorbed) {
  const double area = 0.1;
  const Transmission t = transmit(area * pi_amplitude, true);
  RecordProperty("energy_fraction", std::to_string(fraction(t.fluence, area)));
  RecordProperty("dot_fraction", std::to_string(fraction(t.dot_energy, area)));
  // Measured 0.21: what comes out in the record is the ringing of the
  // sharp line (Burnham and Chiao).  The 2 pi pulse keeps 0.95 and more.
  EXPECT_LT(fraction(t.fluence, area), 0.5);
  // The rest sits in the dots (measured 0.67), apart from the ringing still
  // inside the slab and the reflection.
  EXPECT_GT(fraction(t.dot_energy, area), 0.4);
  EXPECT_LT(fraction(t.fluence + t.dot_energy, area), 1.01);
}

}  // namespace
}  // namespace mps::testing
