// The dots against closed-form theory.  In the rotating frame of circular
// light the Bloch equations are exact, so weak light sees the Lorentzian
// 1 / (Delta - w - i/T2) and a slab of length L has
//   OD(w) = alpha L (w/Delta) / (1 + (w - Delta)^2 T2^2),
//   alpha = Nd p^2 (rho11 - rho22) T2 Delta / (2 hbar eps0 c).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "support/absorption.hpp"

namespace mps::testing {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDelta = kTransition / constants::hbar;  // [rad/s]
constexpr double kT2 = 1e-14;                             // Slab's default T2 [s]

double alpha(double density) {  // [1/m], levels 1 and 3 half filled
  return density * kDipole * kDipole * 0.5 * kT2 * kDelta /
         (2.0 * constants::hbar * constants::eps0 * constants::c0);
}

// Optical depth under a weak 10 fs Gaussian of polarisation q (spectrum
// +-2.5/T2 around Delta).
std::vector<double> optical_depth(std::int32_t q, std::int32_t cells, double density,
                                  const std::vector<double>& w) {
  Slab slab;
  slab.polarisation = q, slab.cells = cells, slab.density = density;
  return mps::testing::optical_depth(slab, w);
}

// Nd = 1e25: alpha = 0.72/um.  The slab's index contrast (chi'' = 0.11),
// left out of the theory, lowers OD by at most 0.6 %: 1 % holds.
TEST(BeerLambert, CircularLightDecaysAsExpMinusAlphaL) {
  constexpr double density = 1e25;
  for (const double depth : {0.5, 1.0, 2.0}) {
    const auto cells =
        static_cast<std::int32_t>(std::lround(depth / (alpha(density) * DotLine::dz)));
    const double theory = alpha(density) * cells * DotLine::dz;
    EXPECT_NEAR(optical_depth(3, cells, density, {kDelta})[0] / theory, 1.0, 0.01)
        << cells << " cells";
  }
}

// x-linear light: the counter-rotating circular half passes, so
// T = (1 + exp(-alpha L)) / 2.
TEST(BeerLambert, LinearLightLosesOnlyItsCoRotatingHalf) {
  constexpr double density = 1e25;
  constexpr std::int32_t cells = 277;
  const double theory = 0.5 * (1.0 + std::exp(-alpha(density) * cells * DotLine::dz));
  const double T = std::exp(-optical_depth(1, cells, density, {kDelta})[0]);
  EXPECT_NEAR(T / theory, 1.0, 0.01);
}

// Nine frequencies Delta + k 0.625/T2 (k = -4..4) from one pulse through a
// slab of OD 0.5 (Nd = 5e24: index contrast bends the line by < 1.4 %).
// Shape within 3 % (the w/Delta lean, +-13 % at the ends, fails if the
// current is not dP/dt); FWHM from a fit of Delta/(w OD) against
// (w - Delta)^2, whose slope / intercept is T2^2, within 3 %.
TEST(LineShape, AbsorptionIsLorentzianOfFullWidthTwoOverT2) {
  std::vector<double> w;
  for (int k = -4; k <= 4; ++k) w.push_back(kDelta + 0.625 * k / kT2);
  const std::vector<double> od = optical_depth(3, 278, 5e24, w);
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t k = 0; k < w.size(); ++k) {
    const double x = (w[k] - kDelta) * kT2;
    const double shape = (w[k] / kDelta) / (1.0 + x * x);
    EXPECT_NEAR(od[k] / od[4], shape, 0.03 * shape) << "x = " << x;
    const double d2 = (w[k] - kDelta) * (w[k] - kDelta), inv = w[k] / (kDelta * od[k]);
    sx += d2, sy += inv, sxx += d2 * d2, sxy += d2 * inv;
  }
  const double n = static_cast<double>(w.size());
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const double intercept = (sy - slope * sx) / n;
  EXPECT_NEAR(kT2 / std::sqrt(slope / intercept), 1.0, 0.03);  // FWHM / (2/T2)
}

// A thin dilute layer (Nd = 1e18: no field of its own) under 30 fs circular
// pulses turns the pair 1,2 by the area A = p/hbar |int (Ex + i Ey)
// e^{i Delta t} dt| measured at the cell: rho22 = sin^2(A/2) / 2, levels 3
// and 4 untouched.  Only the step (Delta dt = 0.033) errs: 0.005 holds.
TEST(CircularRabiFlopping, HalfFilledDotsTurnByThePulseArea) {
  constexpr std::int32_t dot = 100;
  constexpr double fwhm = 30e-15, tau = fwhm / constants::fwhm_factor;
  for (const double area : {0.5, 1.0, 1.5, 2.0, 2.5, 3.0}) {
    DotLine line(LineSetup{});
    line.add_dots(dot, dot + 3, {0.5, 0.0, 0.5, 0.0});
    line.set_pulse(3, area * kPi * constants::hbar / (kDipole * tau * std::sqrt(kPi)), fwhm);
    std::complex<double> resonant{};
    for (int n = 0; n < 9000; ++n) {  // the peak passes the dot near step 4410
      line.advance();
      const auto l = static_cast<std::size_t>(line.f.new_level());
      const double t = static_cast<double>(line.J) * line.dt;
      resonant += std::complex<double>(line.f.Ex[l][dot], line.f.Ey[l][dot]) *
                  std::polar(line.dt, kDelta * t);
    }
    const double A = kDipole * std::abs(resonant) / constants::hbar;
    const Populations r = line.rho(dot);
    SCOPED_TRACE("area " + std::to_string(area) + " pi, measured " + std::to_string(A / kPi));
    EXPECT_NEAR(A / (area * kPi), 1.0, 0.01);  // vacuum carries the injected envelope
    EXPECT_NEAR(r.rho22, 0.5 * std::pow(std::sin(A / 2.0), 2), 0.005);
    EXPECT_NEAR(r.rho11 + r.rho22, 0.5, 1e-6);
    EXPECT_NEAR(r.rho33, 0.5, 1e-6);
    EXPECT_NEAR(r.rho44, 0.0, 1e-6);
  }
}

}  // namespace
}  // namespace mps::testing
