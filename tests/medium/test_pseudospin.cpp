// Populations, the population coupling and the right-hand side of one dot cell.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "support/dot_line.hpp"
#include "support/reference/cell_step.hpp"

namespace mps::testing {
namespace {

using constants::sqrt3;
using constants::sqrt6;

// Deterministic values in [-1, 1).
struct Values {
  std::uint64_t x = 0x9e3779b97f4a7c15ull;
  double next() {
    x ^= x >> 12, x ^= x << 25, x ^= x >> 27;
    return static_cast<double>((x * 0x2545f4914f6cdd1dull) >> 11) * 0x1p-52 - 1.0;
  }
};

LevelMatrix<double> transfer_times(double t13, double t21, double t24, double t31, double t42) {
  LevelMatrix<double> tau;
  tau(1, 3) = t13, tau(2, 1) = t21, tau(2, 4) = t24, tau(3, 1) = t31, tau(4, 2) = t42;
  return tau;
}

bool same(const CellVector& a, const CellVector& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Populations, SumToOneAndLevelOneAlone) {
  Values v;
  for (int n = 0; n < 20; ++n) {
    const Populations p = populations(v.next(), v.next(), v.next());
    EXPECT_NEAR(p.rho11 + p.rho22 + p.rho33 + p.rho44, 1.0, 1e-15);
  }
  // The surds are single-precision values: empty levels come out near 1e-8.
  const Populations p = populations(-1.0, -1.0 / sqrt3, -1.0 / sqrt6);
  EXPECT_NEAR(p.rho11, 1.0, 1e-7);
  for (double r : {p.rho22, p.rho33, p.rho44}) EXPECT_LT(std::fabs(r), 1e-7);
}

// The rate equation of the channels 1->3, 2->1, 2->4, 3->1, 4->2 and the
// recombination 4->3 (at tau_sp), each moving population i -> j at
// 1/(2 tau(i,j)), written for u13..u15.
std::array<double, 3> rate_equation(const LevelMatrix<double>& tau,
                                    const std::array<double, 3>& u) {
  const Populations p = populations(u[0], u[1], u[2]);
  const double r[5] = {0.0, p.rho11, p.rho22, p.rho33, p.rho44};
  double d[5] = {};
  auto flow = [&](int i, int j, double t) {
    d[i] -= r[i] / (2.0 * t);
    d[j] += r[i] / (2.0 * t);
  };
  flow(1, 3, tau(1, 3)), flow(2, 1, tau(2, 1)), flow(2, 4, tau(2, 4));
  flow(3, 1, tau(3, 1)), flow(4, 2, tau(4, 2)), flow(4, 3, tau(2, 1));
  return {d[2] - d[1], (3.0 * d[3] + d[4]) / sqrt3, 4.0 * d[4] / sqrt6};
}

// Every coefficient of the population block, T13..T15 and the sources at once.
TEST(CoeffRho, IsTheRateEquationOfTheTransferChannels) {
  Values v;
  for (int n = 0; n < 10; ++n) {
    auto time = [&] { return std::pow(10.0, -11.0 + 1.5 * v.next()); };  // 0.3 ps .. 0.3 ns
    const auto tau = transfer_times(time(), time(), time(), time(), time());
    const std::array<double, 3> eq = {0.4 * v.next(), 0.4 * v.next(), 0.4 * v.next()};
    const std::array<double, 3> dev = {0.3 * v.next(), 0.3 * v.next(), 0.3 * v.next()};
    // At t = 0 the factors exp(t/T) are 1 and w = u - ueq.
    const PopulationCoupling c =
        population_coupling(tau, transfer_rates(tau), 0.0, eq[0], eq[1], eq[2]);
    const std::array<double, 3> model = {
        c.s13 - dev[0] / c.T13 + c.F13_14 * dev[1] + c.F13_15 * dev[2],
        c.s14 + c.B13_14 * dev[0] - dev[1] / c.T14 + c.F14_15 * dev[2],
        c.s15 + c.B13_15 * dev[0] + c.B14_15 * dev[1] - dev[2] / c.T15};
    const auto rates = rate_equation(tau, {eq[0] + dev[0], eq[1] + dev[1], eq[2] + dev[2]});
    double fastest = 0.0;
    for (auto [i, j] : {std::pair{1, 3}, {2, 1}, {2, 4}, {3, 1}, {4, 2}})
      fastest = std::max(fastest, 1.0 / tau(i, j));
    // Single-precision surds (relative error 3e-8) enter both sides.
    for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(model[k], rates[k], 1e-7 * fastest) << k;
  }
}

TEST(CoeffRho, SwitchedOffChannelsLeaveNoCoupling) {
  const auto off = transfer_times(1e100, 1e100, 1e100, 1e100, 1e100);
  const PopulationCoupling c =
      population_coupling(off, transfer_rates(off), 1e-9, -0.5, 0.5 / sqrt3, -1.0 / sqrt6);
  for (double T : {c.T13, c.T14, c.T15}) {
    EXPECT_GT(T, 1e99);
    EXPECT_LT(T, 1e101);
  }
  for (double x :
       {c.F13_14, c.F13_15, c.F14_15, c.B13_14, c.B13_15, c.B14_15, c.s13, c.s14, c.s15}) {
    EXPECT_LT(std::fabs(x), 1e-99);
  }
  // exp(t / 1e100) = 1: (13,15) is the bracket of its rates alone.
  EXPECT_DOUBLE_EQ(c.B13_15, 1.0 / (sqrt6 * 1e100));
}

// The dense cell with pulse-sized fields and stored values at both arguments.
struct Cell : DenseCell {
  CellVector now;
  Cell() {
    Values v;
    for (CellVector* y : {&old, &now}) {
      y->ex = 2e8 * v.next();
      y->ey = 2e8 * v.next();
      for (std::size_t k = 0; k < 15; ++k) y->w.v[k] = 0.5 * v.next();
    }
  }
};

TEST(Rhs, AtRestOnlyCurlsAndRelaxationSources) {
  Cell c;
  CellVector rest, rate;
  pseudospin_rhs(c.line.step.coeffs, c.cell, rest, rest, rate);
  EXPECT_EQ(rate.ex, -c.cell.curlX);
  EXPECT_EQ(rate.ey, c.cell.curlY);
  for (std::size_t k = 0; k < 12; ++k) EXPECT_EQ(rate.w.v[k], 0.0) << k;
  EXPECT_EQ(rate.w(13), c.cell.pop.s13);
  EXPECT_EQ(rate.w(14), c.cell.pop.s14);
  EXPECT_EQ(rate.w(15), c.cell.pop.s15);
  pseudospin_rhs(c.line.step.coeffs, c.cell, c.old, c.now, rate);
  EXPECT_EQ(rate.w(16), 0.0);
}

// Without relaxation the field and the precession are unitary and keep
// Tr rho^2: sum_k w_k dw_k/dt = 0 (at t = 0, w = u), which each pair's
// opposite coefficients and shared field component must ensure.
TEST(Rhs, FieldAndPrecessionKeepThePurity) {
  std::array<double, 16> T;
  T.fill(1e-11);
  CellCoefficients closed;  // no curls, sources or population coupling
  StepCoefficients step;
  step_coefficients(0.0, kTransition / constants::hbar, kDipole, T, step);
  Values v;
  for (int n = 0; n < 10; ++n) {
    CellVector y, rate;
    y.ex = 3e8 * v.next();
    y.ey = 3e8 * v.next();
    for (std::size_t k = 0; k < 15; ++k) y.w.v[k] = 0.5 * v.next();
    pseudospin_rhs(step, closed, y, y, rate);
    double sum = 0.0, scale = 0.0;
    for (std::size_t k = 0; k < 15; ++k) {
      sum += y.w.v[k] * rate.w.v[k];
      scale += std::fabs(y.w.v[k] * rate.w.v[k]);
    }
    EXPECT_LT(std::fabs(sum), 1e-14 * scale);  // rounding of 30 products
  }
}

TEST(Rhs, DependsOnSumsAndUsedCouplingsOnly) {
  Cell c;
  CellVector forward, swapped, poisoned;
  pseudospin_rhs(c.line.step.coeffs, c.cell, c.old, c.now, forward);
  pseudospin_rhs(c.line.step.coeffs, c.cell, c.now, c.old, swapped);
  EXPECT_TRUE(same(forward, swapped));
  // NaN in every entry of F and B outside the fourteen field and precession
  // pairs: reading any of them would show.
  StepCoefficients dirty = c.line.step.coeffs;
  const int used[14][2] = {{1, 7}, {1, 13}, {2, 4}, {2, 10}, {3, 5},  {3, 9},  {3, 11},
                           {4, 8}, {4, 10}, {5, 9}, {6, 12}, {7, 13}, {8, 10}, {9, 11}};
  for (int k = 0; k < 16; ++k) {
    for (int l = 0; l < 16; ++l) {
      bool keep = false;
      for (const auto& u : used) keep = keep || (u[0] == k && u[1] == l);
      if (!keep) dirty.F(k, l) = dirty.B(k, l) = std::numeric_limits<double>::quiet_NaN();
    }
  }
  pseudospin_rhs(dirty, c.cell, c.old, c.now, poisoned);
  EXPECT_TRUE(same(forward, poisoned));
}

}  // namespace
}  // namespace mps::testing
