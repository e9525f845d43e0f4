#pragma once
// The optical depth of a dot slab measured as a spectrometer would: a weak
// Gaussian enters through a total-field/scattered-field plane (what the
// slab reflects leaves through the left end), and the spectral energy
// density S(w) = |X(w)|^2 + |Y(w)|^2 of the light 10 cells past the slab
// (X, Y the Fourier transforms of Ex, Ey there) is compared with that of
// the same line without dots: OD(w) = -ln(S_dots / S_empty), each
// frequency as if the light were a monochromatic wave.
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "core/spectral_classes.hpp"
#include "support/dot_line.hpp"

namespace mps::testing {

struct Slab {
  std::int32_t polarisation = 3;  // of the pulse (3: sigma+)
  std::int32_t first = 30;        // first dot cell, 20 cells past the source plane
  std::int32_t cells = 1;
  double density = 1e25;               // Nd [m^-3]
  double T2 = 1e-14;                   // T1..T12 [s]
  double fwhm = 10e-15;                // of the pulse [s]
  double area = 0.007;                 // of the pulse, in units of pi: weak
  std::vector<SpectralClass> classes;  // of the dots; empty: one
  bool both_transitions = false;       // sigma- light drives 3<->4 (p34 = p) as well
  bool zeeman = false;                 // a magnetic field, of these Larmor frequencies
  std::array<double, 6> larmor{};      // [rad/s] (MediumParameters::larmor)
};

// The dots start with levels 1 and 3 half filled and relax in 1 us; the
// record runs 12 T2 past the pulse's peak, when the dots' free ringing,
// exp(-t/T2), has died to 6e-6.
inline std::vector<double> optical_depth(const Slab& slab, const std::vector<double>& w) {
  const std::int32_t monitor = slab.first + slab.cells + 10;
  std::vector<double> spectrum[2];
  for (const bool dots : {false, true}) {
    DotLine line(LineSetup{monitor + 10, slab.density, slab.T2});
    line.mp.classes = slab.classes;
    line.mp.both_transitions = slab.both_transitions;
    line.mp.dipole34 = kDipole;
    line.mp.zeeman = slab.zeeman;
    line.mp.larmor = slab.larmor;
    if (dots) line.add_dots(slab.first, slab.first + slab.cells - 1, {0.5, 0.0, 0.5, 0.0});
    const double tau = slab.fwhm / constants::fwhm_factor;
    line.set_pulse(slab.polarisation,
                   slab.area * std::numbers::pi * constants::hbar /
                       (kDipole * tau * std::sqrt(std::numbers::pi)),
                   slab.fwhm);
    line.source.pulse.delay_ratio = 3;  // starts at exp(-9) of the peak
    line.source.pulse.origin = DotLine::kOrigin;
    line.sim.transparent = true;
    line.sim.incident = make_incident_line(line.source, line.k, line.dt);
    classify(line.sim);
    const auto steps = pulse_steps(line.source.pulse, line.dt).J0 + monitor +
                       static_cast<std::int64_t>(12.0 * slab.T2 / line.dt);
    std::vector<std::complex<double>> X(w.size()), Y(w.size());
    for (std::int64_t n = 0; n < steps; ++n) {
      line.advance();
      const auto l = static_cast<std::size_t>(line.f.new_level());
      const double t = static_cast<double>(line.J) * line.dt;
      for (std::size_t k = 0; k < w.size(); ++k) {
        const std::complex<double> kernel = std::polar(line.dt, w[k] * t);
        X[k] += line.f.Ex[l][monitor] * kernel;
        Y[k] += line.f.Ey[l][monitor] * kernel;
      }
    }
    for (std::size_t k = 0; k < w.size(); ++k) {
      spectrum[dots].push_back(std::norm(X[k]) + std::norm(Y[k]));
    }
  }
  std::vector<double> od;
  for (std::size_t k = 0; k < w.size(); ++k)
    od.push_back(-std::log(spectrum[1][k] / spectrum[0][k]));
  return od;
}

}  // namespace mps::testing
