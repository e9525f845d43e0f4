// An inhomogeneously broadened ensemble: a thin dilute layer of K spectral
// classes, Gaussian in transition frequency, whose mean coherence after a
// short pulse decays as e^{-t/T2} e^{-sigma^2 t^2/2}; a pi pulse at tau
// rephases the classes into an echo at 2 tau; weak light sees a Voigt line;
// the evenly spaced classes come back into phase 2 pi / h after the pulse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "core/spectral_classes.hpp"
#include "support/absorption.hpp"

namespace mps::testing {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDelta = kTransition / constants::hbar;  // [rad/s]
constexpr std::int32_t kDot = 20;                         // 10 cells after the source
constexpr double kPulse = 10e-15;                         // pulse FWHM [s]

// Amplitude of a circular Gaussian of area A (p/hbar int E dt).
double circular_amplitude(double area) {
  return area * constants::hbar / (kDipole * kPulse / constants::fwhm_factor * std::sqrt(kPi));
}

// One dot cell of `classes` classes, levels 1 and 3 half filled, under a
// sigma+ pulse of `area`.
struct Ensemble {
  DotLine line;
  Ensemble(int classes, double fwhm_meV, double T2, double area) : line(LineSetup{40, 1e18, T2}) {
    line.mp.classes = spectral_classes({classes, fwhm_meV});
    line.add_dots(kDot, kDot, {0.5, 0.0, 0.5, 0.0});
    line.set_pulse(3, circular_amplitude(area), kPulse);
  }
  double time() const { return static_cast<double>(line.J) * line.dt; }
  // When a pulse's peak passes the dot cell [s].
  double peak(const PulseSource& s) const {
    return static_cast<double>(pulse_steps(s.pulse, line.dt).J0 + (kDot - DotLine::kOrigin)) *
           line.dt;
  }
  double first_peak() const { return peak(line.source); }
  // A second pulse of `area` about `delay` later; returns the peaks' delay [s].
  double add_pulse(double delay, double area) {
    PulseSource second = line.source;
    second.pulse.amplitude = circular_amplitude(area);
    second.pulse.delay_ratio += static_cast<std::int32_t>(std::lround(delay / second.pulse.tau));
    line.sim.further_sources.push_back(second);
    return peak(second) - first_peak();
  }
  // |<u1 + i u7>|, with u_k = e^{-t/T_k} w_k.
  double coherence() const {
    const std::array<double, kStored> w = line.m.w_at(line.f.new_level(), kDot);
    return std::exp(-time() / line.mp.T[1]) * std::hypot(w[0], w[6]);
  }
};

// After a 0.1 pi pulse (180 meV of spectrum over a 3 meV line), K = 32:
// the envelope relative to 50 fs follows theory to 1 % from 0.3 to 1.5 ps.
TEST(InhomogeneousBroadening, FreeInductionDecaysAsTheGaussiansTransform) {
  constexpr double kT2 = 2e-12, kFwhm = 3.0;
  Ensemble e(32, kFwhm, kT2, 0.1 * kPi);
  const double sigma = fwhm_angular(kFwhm) / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  const auto envelope = [&](double s) { return std::exp(-s / kT2 - 0.5 * sigma * sigma * s * s); };
  double reference = 0.0;
  for (const double s : {50e-15, 0.3e-12, 0.6e-12, 0.9e-12, 1.2e-12, 1.5e-12}) {
    while (e.time() < e.first_peak() + s) e.line.advance();
    if (reference == 0.0) {
      reference = e.coherence();
      continue;
    }
    EXPECT_NEAR(e.coherence() / reference / (envelope(s) / envelope(50e-15)), 1.0, 0.01)
        << "at " << s * 1e12 << " ps";
  }
}

// pi/2 at 0, pi at tau; K = 32 over 6 meV, T2 = 1 ps.  The rephased
// envelope (times e^{t/T2}) peaks at 2 tau within one carrier period, and
// the echo's energy over 2 tau +- 0.5 ps falls as e^{-4 tau/T2} within 5 %.
TEST(InhomogeneousBroadening, PhotonEchoComesAtTwiceTheDelayAndFadesWithT2) {
  constexpr double kT2 = 1e-12;
  const double period = 2.0 * kPi / kDelta;
  std::vector<double> delays, energies;
  for (const double delay : {0.6e-12, 0.9e-12, 1.2e-12}) {
    Ensemble e(32, 6.0, kT2, 0.5 * kPi);
    const double tau = e.add_pulse(delay, kPi);
    const double echo = e.first_peak() + 2.0 * tau;
    double energy = 0.0, largest = 0.0, at = 0.0;
    while (e.time() < echo + 0.5e-12) {
      e.line.advance();
      if (e.time() < echo - 0.5e-12) continue;
      const double a = e.coherence();
      energy += a * a * e.line.dt;
      const double rephased = a * std::exp(e.time() / kT2);  // the classes' rephasing alone
      if (rephased > largest) largest = rephased, at = e.time();
    }
    EXPECT_LT(std::fabs(at - echo), period) << "tau " << tau;
    delays.push_back(tau);
    energies.push_back(energy);
  }
  for (std::size_t n = 1; n < delays.size(); ++n) {
    const double theory = std::exp(-4.0 * (delays[n] - delays[0]) / kT2);
    EXPECT_NEAR(energies[n] / energies[0] / theory, 1.0, 0.05) << "tau " << delays[n];
  }
}

// Offsets (k - (K - 1)/2) h are whole multiples of h for odd K and
// half-integer ones for even K: the classes' mean phase factor is back to
// +1 (odd K) or -1 (even K) at t = 2 pi / h, not first at 4 pi / h.  A thin
// layer of 32 classes over 6 meV (2 pi / h = 5.35 ps, T2 long) after a
// short weak pulse: its coherence, gone within 0.3 ps, is largest again
// over 1 to 5.6 ps within a carrier period of 2 pi / h, within 2 % of its
// start.
TEST(InhomogeneousBroadening, EvenlySpacedClassesRephaseAfterTwoPiOverTheirSpacing) {
  for (const int classes : {32, 33}) {
    const std::vector<SpectralClass> c = spectral_classes({classes, 6.0});
    const double revival = 2.0 * kPi / (c[1].offset - c[0].offset);
    std::complex<double> mean = 0.0;
    for (const SpectralClass& k : c) mean += k.weight * std::polar(1.0, k.offset * revival);
    EXPECT_NEAR(mean.real(), classes % 2 == 0 ? -1.0 : 1.0, 1e-9) << classes << " classes";
    EXPECT_NEAR(mean.imag(), 0.0, 1e-9) << classes << " classes";
  }
  constexpr double kT2 = 1e-9;
  Ensemble e(32, 6.0, kT2, 0.1 * kPi);
  const double revival = 2.0 * kPi * (32 - 1) / (4.0 * fwhm_angular(6.0));
  EXPECT_NEAR(revival, 5.349e-12, 1e-15);
  double start = 0.0, largest = 0.0, at = 0.0;
  while (e.time() < e.first_peak() + revival + 0.3e-12) {
    e.line.advance();
    const double s = e.time() - e.first_peak();
    if (start == 0.0 && s >= 20e-15) start = e.coherence();
    if (s < 1e-12) continue;
    if (s < 0.5 * revival) {
      EXPECT_LT(e.coherence(), 1e-3 * start) << "at " << s * 1e12 << " ps";
    }
    if (e.coherence() > largest) {
      largest = e.coherence();
      at = s;
    }
  }
  EXPECT_LT(std::fabs(at - revival), 2.0 * kPi / kDelta);
  EXPECT_NEAR(largest / start, 1.0, 0.02);
}

// A slab (OD ~0.3) of K = 16 classes over a Gaussian as wide as the
// Lorentzian (2/T2, T2 = 20 fs), 61 frequencies, w/Delta taken out: the
// FWHM is the Voigt profile's 0.5346 f_L + sqrt(0.2166 f_L^2 + f_G^2)
// (Olivero and Longbothum) to 3 %.
TEST(InhomogeneousBroadening, AbsorptionLineIsTheVoigtProfile) {
  constexpr double kT2 = 20e-15;
  const double lorentz = 2.0 / kT2;
  const double fwhm_meV = lorentz * constants::hbar / (1e-3 * constants::electron_volt);
  const double gauss = fwhm_angular(fwhm_meV);
  const double voigt = 0.5346 * lorentz + std::sqrt(0.2166 * lorentz * lorentz + gauss * gauss);
  const Slab slab{
      .cells = 75, .T2 = kT2, .fwhm = 5e-15, .classes = spectral_classes({16, fwhm_meV})};
  std::vector<double> w;
  for (int k = -30; k <= 30; ++k) w.push_back(kDelta + 0.05 * k * voigt);
  const std::vector<double> od = optical_depth(slab, w);
  std::vector<double> line;
  for (std::size_t k = 0; k < w.size(); ++k) line.push_back(od[k] * kDelta / w[k]);
  const auto peak =
      static_cast<std::size_t>(std::max_element(line.begin(), line.end()) - line.begin());
  // The half-maximum crossing on the side of `step`, by linear interpolation.
  const auto crossing = [&](int step) {
    const double half = 0.5 * line[peak];
    std::size_t k = peak;
    auto next = [&] { return static_cast<std::size_t>(static_cast<int>(k) + step); };
    while (line[next()] > half) k = next();
    return w[k] + (line[k] - half) / (line[k] - line[next()]) * (w[next()] - w[k]);
  };
  EXPECT_NEAR((crossing(1) - crossing(-1)) / voigt, 1.0, 0.03);
}

}  // namespace
}  // namespace mps::testing
