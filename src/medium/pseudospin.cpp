#include "medium/pseudospin.hpp"

#include <cmath>

namespace mps {

void step_coefficients(double t, double detuning, double dipole, const std::array<double, 16>& T,
                       StepCoefficients& out) {
  const double D = detuning;
  const double r1 = dipole / constants::hbar;      // p / hbar
  const double r2 = dipole / constants::two_hbar;  // p / (2 hbar)
  auto X = [&](int k, int l) {
    return std::exp(t / T[static_cast<std::size_t>(k)] - t / T[static_cast<std::size_t>(l)]);
  };
  CouplingMatrix& F = out.F;
  CouplingMatrix& B = out.B;
  F = CouplingMatrix{};
  B = CouplingMatrix{};
  // (k, l, coefficient c): F(k,l) = c X_kl and B(k,l) = -c X_lk.
  struct Pair {
    int k, l;
    double c;
  };
  const Pair pairs[] = {
      {1, 7, D},  {1, 13, r1}, {2, 4, r2}, {2, 10, r2}, {3, 5, r2},   {3, 9, D},   {3, 11, r2},
      {4, 8, r2}, {4, 10, -D}, {5, 9, r2}, {6, 12, D},  {7, 13, -r1}, {8, 10, r2}, {9, 11, r2},
  };
  for (const Pair& p : pairs) {
    F(p.k, p.l) = p.c * X(p.k, p.l);
    B(p.k, p.l) = -p.c * X(p.l, p.k);
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
