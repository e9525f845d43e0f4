// The implicit step of one dot cell and update_E_and_medium over cells of every kind.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "support/dot_line.hpp"

namespace mps::testing {
namespace {

TEST(ImplicitStep, OneIterationIsTheMaskedExplicitStep) {
  DenseCell c;
  CellVector rate, now;
  pseudospin_rhs(c.line.step.coeffs, c.cell, c.old, c.old, rate);
  int negative = 0;
  for (double r : rate.w.v) negative += r < 0.0;
  ASSERT_GT(negative, 0);  // the mask has something to do

  EXPECT_EQ(advance_dot_cell(c.line.step.coeffs, c.cell, {c.line.dt, 1, 1e-12}, c.old, now), 1);
  for (std::size_t k = 0; k < 16; ++k) {
    const double r = rate.w.v[k] < 1e-100 ? 0.0 : rate.w.v[k];
    EXPECT_EQ(now.w.v[k], c.old.w.v[k] + c.line.dt * r) << k;
  }
  EXPECT_EQ(now.ex, c.old.ex + c.line.dt * rate.ex);  // fields are not masked
  EXPECT_EQ(now.ey, c.old.ey + c.line.dt * rate.ey);
}

TEST(ImplicitStep, ConvergedStepIsTheImplicitMidpointRule) {
  DenseCell c;
  CellVector now, rate;
  const int evaluations =
      advance_dot_cell(c.line.step.coeffs, c.cell, {c.line.dt, 20, 1e-12}, c.old, now);
  EXPECT_LT(evaluations, 20);  // converged, not cut off
  pseudospin_rhs(c.line.step.coeffs, c.cell, c.old, now, rate);
  // The last iterate changed by less than 1e-12 relative; the fixed-point
  // map contracts, so the residual is of that order too.
  for (std::size_t k = 0; k < 16; ++k) {
    EXPECT_NEAR(now.w.v[k], c.old.w.v[k] + c.line.dt * rate.w.v[k], 1e-11 * std::fabs(now.w.v[k]))
        << k;
  }
  EXPECT_NEAR(now.ex, c.old.ex + c.line.dt * rate.ex, 1e-11 * std::fabs(now.ex));
  EXPECT_NEAR(now.ey, c.old.ey + c.line.dt * rate.ey, 1e-11 * std::fabs(now.ey));
}

// Cells 3 vacuum, 4 dot, 5 "passive" (u13eq = 0: no dots, whatever u14eq and
// u15eq say, but stored values to carry), 6 vacuum.
TEST(Iloop, EmptyCellsTakeThePlainCurlUpdate) {
  DotLine line(LineSetup{10, 1e24, 1e-11, 5e-10, 1e-9});
  line.add_dots(4, 4, {0.5, 0.0, 0.5, 0.0});
  const auto c5 = std::size_t{5};
  line.m.u14eq[c5] = -0.3, line.m.u15eq[c5] = -0.2;
  double* w5 = line.m.w_at(0, 5);
  for (int k = 0; k < 15; ++k) w5[k] = 0.1 * (k + 1);
  w5[3] = 1e-130;  // flushed to 0 on the way
  classify_cells(line.m, line.mp.cavity);
  ASSERT_EQ(line.m.kind[c5], CellKind::passive);

  for (std::size_t i = 0; i <= 10; ++i) {
    line.f.Ex[0][i] = 1e8 * std::sin(0.7 * static_cast<double>(i));
    line.f.Ey[0][i] = 1e8 * std::cos(0.3 * static_cast<double>(i));
    line.f.Hx[1][i] = 2e5 * std::cos(1.1 * static_cast<double>(i));
    line.f.Hy[1][i] = 3e5 * std::sin(0.4 * static_cast<double>(i));
  }
  line.f.Jtoggle = 1;
  prepare_medium_step(line.mp, 1, line.dt, line.step);
  update_E_and_medium(line.f, line.m, line.k, line.mp, line.step);

  const double dt = line.dt;
  auto curl_update = [&](std::size_t i) {
    const double curlX = (line.f.Hy[1][i] - line.f.Hy[1][i - 1]) * line.k.cE[i];
    const double curlY = (line.f.Hx[1][i] - line.f.Hx[1][i - 1]) * line.k.cE[i];
    return std::pair{line.f.Ex[0][i] - dt * curlX, line.f.Ey[0][i] + dt * curlY};
  };
  for (std::size_t i : {3u, 5u, 6u}) {
    EXPECT_EQ(line.f.Ex[1][i], curl_update(i).first) << i;
    EXPECT_EQ(line.f.Ey[1][i], curl_update(i).second) << i;
  }
  EXPECT_NE(line.f.Ex[1][4], curl_update(4).first);  // the dots' current

  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(line.m.w_at(1, 5)[k], k == 3 ? 0.0 : w5[k]) << k;
    EXPECT_EQ(line.m.w_at(1, 3)[k], 0.0);
    EXPECT_EQ(line.m.w_at(1, 6)[k], 0.0);
  }
  EXPECT_NE(line.m.w_at(1, 4)[6], 0.0);  // the field has driven the dot cell
}

// The medium loop forks from 64 medium cells on; each cell must come out
// the same whichever thread takes it (with per-thread coefficient caches).
TEST(Iloop, ThreadCountDoesNotChangeTheResult) {
  const int saved = omp_get_max_threads();
  auto run = [saved](int threads) {
    auto owned = std::make_unique<DotLine>(LineSetup{160, 1e24, 1e-11, 5e-10, 1e-9});
    DotLine& line = *owned;
    // Three equilibrium patterns, so the per-thread caches hold several
    // flag patterns and equilibria.
    line.add_dots(20, 59, {0.5, 0.0, 0.5, 0.0});
    line.add_dots(60, 99, {1.0, 0.0, 0.0, 0.0});
    line.add_dots(100, 139, {0.4, 0.1, 0.3, 0.2});
    for (std::size_t i = 1; i <= 160; ++i) {
      const double z = static_cast<double>(i);
      line.f.Ex[1][i] = 2e8 * std::sin(0.033 * z), line.f.Ey[1][i] = 1e8 * std::cos(0.033 * z);
      line.f.Hy[1][i] = line.f.Ex[1][i] / 377.0, line.f.Hx[1][i] = -line.f.Ey[1][i] / 377.0;
    }
    line.f.Jtoggle = 1;
    omp_set_num_threads(threads);
    for (int n = 0; n < 60; ++n) line.advance();
    omp_set_num_threads(saved);
    return owned;
  };
  const auto one = run(1);
  const auto two = run(2);
  ASSERT_EQ(one->m.medium_cells.size(), 120u);
  for (int l = 0; l < 2; ++l) {
    EXPECT_EQ(one->f.Ex[l], two->f.Ex[l]);
    EXPECT_EQ(one->f.Ey[l], two->f.Ey[l]);
    EXPECT_EQ(one->m.w[l], two->m.w[l]);
    EXPECT_EQ(one->m.u13[l], two->m.u13[l]);
  }
  EXPECT_EQ(one->m.occ, two->m.occ);
}

}  // namespace
}  // namespace mps::testing
