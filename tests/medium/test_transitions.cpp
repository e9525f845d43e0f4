// The driven pairs' records give the coefficients that were written out by
// hand for each pair, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "medium/medium_update.hpp"
#include "medium/transitions.hpp"

namespace mps {
namespace {

// Bits, so that a changed association (a rounding apart) or a lost sign
// of zero fails.
void expect_bits(double got, double want, const char* what) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(want)) << what;
}

// Every time, dipole and equilibrium different, so that a swapped component
// or decay factor shows.
MediumParameters parameters(Model model) {
  MediumParameters mp;
  mp.model = model;
  mp.current_sign = current_sign(model);
  mp.polarisation_share = polarisation_share(model);
  for (std::size_t k = 1; k <= 15; ++k) mp.T[k] = 1e-11 * (1.0 + 0.37 * static_cast<double>(k));
  mp.dipole = 6.4e-29;
  mp.dipole34 = 5.3e-29;
  mp.density = 1.7e24;
  mp.detuning = 1.97e15;
  mp.half_detuning = 0.5 * mp.detuning;
  mp.both_transitions = true;
  return mp;
}

TEST(DrivenPairs, StepCoefficientsAreTheWrittenOutOnes) {
  using namespace constants;
  // Many steps: two associations of one product agree at most steps, so
  // one step would not tell them apart.
  for (const Model model : {Model::corrected, Model::legacy}) {
    const MediumParameters mp = parameters(model);
    MediumStep step;
    for (std::int64_t J = 0; J < 50000; J += 997) {
      prepare_medium_step(mp, J, 2.3e-17, step);
      const auto& e = step.decay.now;
      const double Nd = mp.density, P = mp.dipole, sign = mp.current_sign;
      const double share = mp.polarisation_share, hd = mp.half_detuning;
      const PairStep& a = step.pair12;
      expect_bits(a.dephasing_x, sign * (-Nd * P * e[1] / (eps0 * mp.T[1])) * share, "aX1");
      expect_bits(a.precession_x, sign * (Nd * P * hd * e[7] / eps0), "aX7");
      expect_bits(a.inversion[0], sign * (P * P * e[13] * Nd / (hbar * eps0)) * share, "aX13");
      expect_bits(a.precession_y, sign * (-Nd * P * hd * e[1] / eps0), "aY1");
      expect_bits(a.dephasing_y, sign * (-Nd * P * e[7] / (eps0 * mp.T[7])) * share, "aY7");
      expect_bits(a.growth_y, std::exp(step.t / mp.T[7]), "growth7");
      const double Q = mp.dipole34;
      const double driven = Q * Q * Nd / (hbar * eps0);
      const PairStep& b = step.pair34;
      expect_bits(b.dephasing_x, sign * (-Nd * Q * e[6] / (eps0 * mp.T[6])) * share, "aX6");
      expect_bits(b.precession_x, sign * (Nd * Q * hd * e[12] / eps0), "aX12");
      expect_bits(b.inversion[0], sign * (driven * e[14] / sqrt3) * share, "aX14");
      expect_bits(b.inversion[1], sign * (-(driven * e[15] * sqrt6 / 3.0)) * share, "aX15");
      expect_bits(b.dephasing_y, -(sign * (-Nd * Q * e[12] / (eps0 * mp.T[12])) * share), "aY12");
      expect_bits(b.precession_y, -(sign * (-Nd * Q * hd * e[6] / eps0)), "aY6");
      expect_bits(b.growth_x, std::exp(step.t / mp.T[6]), "growth6");
    }
  }
}

TEST(DrivenPairs, LaneCoefficientsAreTheWrittenOutOnes) {
  using namespace constants;
  using namespace equations;
  const MediumParameters mp = parameters(Model::corrected);
  MediumStep step;
  prepare_medium_step(mp, 977, 2.3e-17, step);
  Lanes eps_r;
  std::array<Lanes, 3> eq;  // u13eq..u15eq, of either sign and 0
  for (int l = 0; l < kBatchLanes; ++l) {
    eps_r[l] = 1.0 + 0.61 * l;
    eq[0][l] = 0.3 - 0.2 * l, eq[1][l] = -0.17 * l, eq[2][l] = 0.11 + 0.05 * l;
  }
  BatchCoefficients c;
  pair_lane_coefficients<kPair12>(mp, step.pair12, eps_r, eq.data(), c);
  pair_lane_coefficients<kPair34>(mp, step.pair34, eps_r, eq.data(), c);
  const double Nd = mp.density, sign = mp.current_sign, share = mp.polarisation_share;
  for (int l = 0; l < kBatchLanes; ++l) {
    const double inv_eps = 1.0 / eps_r[l];
    const double p = mp.dipole, u13 = eq[0][l];
    expect_bits(c[kInversionY12][l], -(step.pair12.inversion[0] * inv_eps), "aY13");
    const double gX = sign * (p * Nd * p / (hbar_eps0 * eps_r[l]) * u13) * share;
    expect_bits(c[kEquilibriumX12][l], gX, "gX");
    expect_bits(c[kDriveU1][l], p * u13 * step.pair12.growth_x / hbar, "s1");
    expect_bits(c[kDriveU7][l], p * u13 * step.pair12.growth_y / (-hbar), "s7");
    const double q = mp.dipole34;
    const double n = eq[1][l] / sqrt3 - sqrt6 * eq[2][l] / 3.0;
    expect_bits(c[kInversionY34_15][l], (-step.pair34.inversion[1]) * inv_eps, "aY15");
    expect_bits(c[kEquilibriumX34][l], sign * (q * Nd * q / (hbar_eps0 * eps_r[l]) * n) * share,
                "gX34");
    expect_bits(c[kEquilibriumY34][l], -c[kEquilibriumX34][l], "gY34");
    expect_bits(c[kDriveU6][l], q * n * step.pair34.growth_x / hbar, "s6");
    expect_bits(c[kDriveU12][l], q * n * step.pair34.growth_y / hbar, "s12");
  }
}

}  // namespace
}  // namespace mps
