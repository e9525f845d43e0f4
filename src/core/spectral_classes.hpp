#pragma once
// The spectral classes of an inhomogeneously broadened dot ensemble.
//
// A cell's dots are K classes, each a pseudospin of its own whose levels 2
// and 4 lie hbar (Delta + offset) above 1 and 3.  The offsets are evenly
// spaced over +-2 FWHM of the Gaussian (+-4.7 sigma), step h = 4 FWHM /
// (K - 1), and each class weighs the Gaussian at its offset, the weights
// summing to 1.  Evenly spaced classes keep the line smooth where their
// step is below the homogeneous width 2/T2, and rephase only at 2 pi / h
// (a revival that bounds the times an echo or a decay can be followed).
#include <cmath>
#include <vector>

#include "core/constants.hpp"
#include "core/run_parameters.hpp"

namespace mps {

// The most classes a cell may hold.
inline constexpr int kMaxClasses = 256;

struct SpectralClass {
  double offset = 0.0;  // of the transition frequency [rad/s]
  double weight = 0.0;  // share of the cell's dots
};

// FWHM [meV] as an angular frequency [rad/s].
inline double fwhm_angular(double fwhm_meV) {
  return fwhm_meV * 1e-3 * constants::electron_volt / constants::hbar;
}

// The classes of `e`, in order of their offsets; empty for one class.
inline std::vector<SpectralClass> spectral_classes(const Ensemble& e) {
  if (!e.broadened()) return {};
  const double fwhm = fwhm_angular(e.fwhm_meV);
  const double sigma = fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  const double h = 4.0 * fwhm / (e.classes - 1);
  std::vector<SpectralClass> out(static_cast<std::size_t>(e.classes));
  double sum = 0.0;
  for (int k = 0; k < e.classes; ++k) {
    SpectralClass& c = out[static_cast<std::size_t>(k)];
    c.offset = (k - 0.5 * (e.classes - 1)) * h;
    c.weight = std::exp(-0.5 * (c.offset / sigma) * (c.offset / sigma));
    sum += c.weight;
  }
  for (SpectralClass& c : out) c.weight /= sum;
  return out;
}

}  // namespace mps
