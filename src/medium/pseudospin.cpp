#include "medium/pseudospin.hpp"

#include <cmath>

#include "medium/equations.hpp"
#include "medium/exp_once.hpp"

namespace mps {

void step_coefficients(double t, double detuning, double dipole, const std::array<double, 16>& T,
                       StepCoefficients& out, double dipole34) {
  using equations::Coupling;
  auto constant = [&](Coupling c) {
    switch (c) {
      case Coupling::detuning:
        return detuning;
      case Coupling::minus_detuning:
        return -detuning;
      case Coupling::rabi:
        return dipole / constants::hbar;
      case Coupling::minus_rabi:
        return -(dipole / constants::hbar);
      case Coupling::half_rabi:
        return dipole / constants::two_hbar;
      case Coupling::minus_half_rabi34:
        return -(dipole34 / constants::two_hbar);
      case Coupling::rabi34_sqrt3:
        return dipole34 / (constants::sqrt3 * constants::hbar);
      case Coupling::minus_rabi34_sqrt6:
        return -(constants::sqrt6 * dipole34 / (3.0 * constants::hbar));
      case Coupling::unpaired:
      case Coupling::zeeman:  // zeeman_coefficients
        break;
    }
    return 0.0;
  };
  ExpOnce exp;
  auto X = [&](int k, int l) {
    return exp(t / T[static_cast<std::size_t>(k)] - t / T[static_cast<std::size_t>(l)]);
  };
  out.F = CouplingMatrix{};
  out.B = CouplingMatrix{};
  // F(k,l) = c X_kl and B(k,l) = -c X_lk for every pair the equations name.
  const auto pairs = [&](const auto& terms) {
    for (const equations::Term& term : terms) {
      if (term.source == equations::Source::F) {
        out.F(term.k, term.l) = constant(term.coupling) * X(term.k, term.l);
      } else if (term.source == equations::Source::B) {
        out.B(term.k, term.l) = -constant(term.coupling) * X(term.l, term.k);
      }
    }
  };
  pairs(equations::kTerms);
  if (dipole34 != 0.0) pairs(equations::kTerms34);
}

double zeeman_constant(int k, int l, double detuning, const std::array<double, 6>& larmor) {
  for (const equations::ZeemanPair& p : equations::kZeemanPairs) {
    if (p.k != k || p.l != l) continue;
    double c = p.base == equations::Coupling::detuning         ? detuning
               : p.base == equations::Coupling::minus_detuning ? -detuning
                                                               : 0.0;
    for (std::size_t i = 0; i < larmor.size(); ++i) c += p.larmor[i] * larmor[i];
    return c;
  }
  return 0.0;
}

void zeeman_coefficients(double t, double detuning, const std::array<double, 6>& larmor,
                         const std::array<double, 16>& T, StepCoefficients& out) {
  const auto decay = [&](int k) { return t / T[static_cast<std::size_t>(k)]; };
  for (const equations::ZeemanPair& p : equations::kZeemanPairs) {
    const double c = zeeman_constant(p.k, p.l, detuning, larmor);
    out.F(p.k, p.l) = c * std::exp(decay(p.k) - decay(p.l));
    out.B(p.k, p.l) = -c * std::exp(decay(p.l) - decay(p.k));
  }
}

TransferRates transfer_rates(const LevelMatrix<double>& tau) {
  TransferRates g;
  g(1, 3) = 1.0 / tau(1, 3);
  g(2, 1) = 1.0 / tau(2, 1);
  g(2, 4) = 1.0 / tau(2, 4);
  g(3, 1) = 1.0 / tau(3, 1);
  g(4, 2) = 1.0 / tau(4, 2);
  g(4, 3) = 1.0 / tau(2, 1);
  return g;
}

TransferChannels working_channels(const TransferChannels& configured,
                                  const std::array<std::int32_t, 4>& occ) {
  TransferChannels g = configured;
  for (std::size_t c = 0; c < kChannels.size(); ++c) {
    if (occ[static_cast<std::size_t>(kChannels[c].from - 1)] == 0) g[c] = 0.0;
  }
  return g;
}

namespace {

using Block = std::array<std::array<double, 3>, 3>;

// du/dt = M u + c of the rate equations for u = (u13, u14, u15): M = Q R P,
// c = Q R p0, with rho = p0 + P u as populations() has it (p0 = 1/4 each)
// and Q its left inverse (exact for these surds).
void rate_block(const TransferChannels& g, Block& M, std::array<double, 3>& c) {
  using namespace constants;
  const double P[4][3] = {{-0.5, -two_sqrt3 / 12.0, -sqrt6 / 12.0},
                          {0.5, -two_sqrt3 / 12.0, -sqrt6 / 12.0},
                          {0.0, four_sqrt3 / 12.0, -sqrt6 / 12.0},
                          {0.0, 0.0, sqrt6 / 4.0}};
  const double Q[3][4] = {{-1.0, 1.0, 0.0, 0.0},
                          {-1.0 / sqrt3, -1.0 / sqrt3, 2.0 / sqrt3, 0.0},
                          {-1.0 / sqrt6, -1.0 / sqrt6, -1.0 / sqrt6, 3.0 / sqrt6}};
  // drho_k/dt = sum_j R(k,j) rho_j (levels 1..4 at 0..3).
  double R[4][4] = {};
  for (std::size_t n = 0; n < kChannels.size(); ++n) {
    const int a = kChannels[n].from - 1, b = kChannels[n].to - 1;
    R[b][a] += g[n];
    R[a][a] -= g[n];
  }
  double QR[3][4] = {};
  for (int a = 0; a < 3; ++a) {
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 4; ++k) QR[a][j] += Q[a][k] * R[k][j];
    }
  }
  for (int a = 0; a < 3; ++a) {
    c[static_cast<std::size_t>(a)] = 0.25 * (QR[a][0] + QR[a][1] + QR[a][2] + QR[a][3]);
    for (int b = 0; b < 3; ++b) {
      double sum = 0.0;
      for (int j = 0; j < 4; ++j) sum += QR[a][j] * P[j][b];
      M[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)] = sum;
    }
  }
}

}  // namespace

PopulationCoupling rate_equation_coupling(const TransferChannels& g,
                                          const std::array<double, 16>& T, double t, double u13eq,
                                          double u14eq, double u15eq) {
  Block M;
  std::array<double, 3> c{};
  rate_block(g, M, c);
  // The diagonal in the closed form of T13..T15: a cell with the configured
  // channels then has D13..D15 = 0 exactly.
  const std::array<double, 3> own = population_times(g);
  for (std::size_t k = 0; k < 3; ++k) M[k][k] = -1.0 / own[k];
  PopulationCoupling p;
  p.T13 = own[0], p.T14 = own[1], p.T15 = own[2];
  const double f13 = std::exp(t / T[13]);
  const double f14 = std::exp(t / T[14]);
  const double f15 = std::exp(t / T[15]);
  p.F13_14 = (f13 / f14) * M[0][1];
  p.F13_15 = (f13 / f15) * M[0][2];
  p.F14_15 = (f14 / f15) * M[1][2];
  p.B13_14 = (f14 / f13) * M[1][0];
  p.B13_15 = (f15 / f13) * M[2][0];
  p.B14_15 = (f15 / f14) * M[2][1];
  const std::array<double, 3> eq = {u13eq, u14eq, u15eq};
  std::array<double, 3> rate = c;  // du/dt at the equilibrium values
  for (std::size_t a = 0; a < 3; ++a) {
    for (std::size_t b = 0; b < 3; ++b) rate[a] += M[a][b] * eq[b];
  }
  p.s13 = f13 * rate[0];
  p.s14 = f14 * rate[1];
  p.s15 = f15 * rate[2];
  p.D13 = 1.0 / T[13] + M[0][0];
  p.D14 = 1.0 / T[14] + M[1][1];
  p.D15 = 1.0 / T[15] + M[2][2];
  p.diagonal = p.D13 != 0.0 || p.D14 != 0.0 || p.D15 != 0.0;
  return p;
}

LevelMatrix<double> working_tau(const LevelMatrix<double>& tau,
                                const std::array<std::int32_t, 4>& occ) {
  constexpr double off = 1e100;
  LevelMatrix<double> w = tau;
  // The model's switching rule, flag by flag (occ_k = 0: rho_kk <= 0).
  if (occ[0] == 0) w(1, 3) = off;
  if (occ[1] == 0) w(3, 1) = off;
  if (occ[2] == 0) {
    w(2, 4) = off;
    w(2, 1) = off;
  }
  if (occ[3] == 0) {
    w(4, 2) = off;
    w(2, 1) = off;
  }
  return w;
}

PopulationCoupling population_coupling(const LevelMatrix<double>& tau, const TransferRates& g,
                                       double t, double u13eq, double u14eq, double u15eq) {
  using namespace constants;
  const double t21 = tau(2, 1), t13 = tau(1, 3), t24 = tau(2, 4), t31 = tau(3, 1), t42 = tau(4, 2);
  PopulationCoupling c;
  c.T13 = 4.0 / (2.0 / t21 + 1.0 / t13 + 1.0 / t24);
  c.T15 = 6.0 / (3.0 * (1.0 / t21 + 1.0 / t42) + 1.0 / t24);
  c.T14 = 12.0 / (3.0 / t13 + 1.0 / t24 + 6.0 / t31);
  const double f13 = std::exp(t / c.T13);
  const double f14 = std::exp(t / c.T14);
  const double f15 = std::exp(t / c.T15);

  c.F13_14 = (f13 / f14) * (-1.0 / (four_sqrt3 * t13) + 1.0 / (four_sqrt3 * t24) -
                            1.0 / (two_sqrt3 * t31) + 1.0 / (two_sqrt3 * t21));
  c.F13_15 = (f13 / f15) *
             (-1.0 / (four_sqrt6 * t13) + 1.0 / (four_sqrt6 * t24) + 1.0 / (four_sqrt6 * t31) +
              sqrt3 / (four_sqrt2 * t42) + 1.0 / (two_sqrt6 * t21));
  c.F14_15 =
      (f14 / f15) * (-1.0 / (four_sqrt2 * t13) - 1.0 / (twelve_sqrt2 * t24) +
                     1.0 / (four_sqrt2 * t31) - 1.0 / (four_sqrt2 * t42) + 1.0 / (two_sqrt2 * t21));
  c.B13_14 = (f14 / f13) * (-sqrt3 / (4.0 * t13) + 1.0 / (four_sqrt3 * t24));
  c.B13_15 = (f15 / f13) / (sqrt6 * t24);
  c.B14_15 = -(f15 / f14) / (three_sqrt2 * t24);

  const double g13 = g(1, 3), g21 = g(2, 1), g24 = g(2, 4), g31 = g(3, 1), g42 = g(4, 2),
               g43 = g(4, 3);
  c.s13 = (f13 / 24.0) *
          (3.0 * (-g24 - 2.0 * g21 - g31 + g42 + g13) - 6.0 * u13eq * (g24 + 2.0 * g21 + g13) +
           two_sqrt3 * u14eq * (g24 + 2.0 * g21 - 2.0 * g31 - g13) +
           sqrt6 * u15eq * (g24 + 2.0 * g21 + g31 + 3.0 * g42 - g13));
  c.s14 = (f14 / 24.0) *
          (two_sqrt3 * g43 + sqrt3 * (g24 - 3.0 * g31 - g42 + 3.0 * g13) +
           two_sqrt3 * u13eq * (g24 - 3.0 * g13) - 2.0 * u14eq * (g24 + 6.0 * g31 + 3.0 * g13) +
           sqrt2 * u15eq * (6.0 * g43 - g24 + 3.0 * g31 - 3.0 * g42 - 3.0 * g13));
  c.s15 = (f15 / 12.0) * (sqrt6 * (g24 - g43 - g42) + two_sqrt6 * u13eq * g24 -
                          two_sqrt2 * u14eq * g24 - 2.0 * u15eq * (3.0 * g43 + g24 + 3.0 * g42));
  return c;
}

}  // namespace mps
