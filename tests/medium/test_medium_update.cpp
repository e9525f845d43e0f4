// The implicit step of one dot cell and update_E_and_medium over cells of every kind.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "core/floating_point.hpp"
#include "core/spectral_classes.hpp"
#include "support/dot_line.hpp"
#include "support/reference/medium_update.hpp"

namespace mps::testing {
namespace {

// A wave of amplitude (2e8, 1e8) V/m and wave numbers kx, ky per cell in
// cells 1..n, H matched to E, ready for the first step.
void drive(DotLine& line, std::size_t n, double kx, double ky) {
  for (std::size_t i = 1; i <= n; ++i) {
    const double z = static_cast<double>(i);
    line.f.Ex[1][i] = 2e8 * std::sin(kx * z), line.f.Ey[1][i] = 1e8 * std::cos(ky * z);
    line.f.Hy[1][i] = line.f.Ex[1][i] / 377.0, line.f.Hx[1][i] = -line.f.Ey[1][i] / 377.0;
  }
  line.f.Jtoggle = 1;
}

TEST(ImplicitStep, ConvergedStepIsTheImplicitMidpointRule) {
  DenseCell c;
  CellVector now, rate;
  const int evaluations =
      advance_dot_cell(c.line.step.coeffs, c.cell, {c.line.dt, 20, 1e-12}, c.old, now);
  EXPECT_LT(evaluations, 20);  // converged, not cut off
  pseudospin_rhs(c.line.step.coeffs, c.cell, c.old, now, rate);
  // The last iterate moved by < 1e-12 relative and the map contracts.
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
  line.m.set_equilibrium(5, {0.0, -0.3, -0.2});
  double w5[kStored] = {};
  for (int k = 0; k < 15; ++k) w5[k] = 0.1 * (k + 1);
  w5[3] = 1e-130;  // flushed to 0 on the way
  for (int k = 0; k < kStored; ++k) line.m.set_w(0, 5, k, w5[k]);
  classify_cells(line.m, line.mp.cavity);
  ASSERT_EQ(line.m.kind(5), CellKind::passive);

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

bool same_bits(const std::vector<Lanes>& a, const std::vector<Lanes>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Lanes)) == 0);
}

// The medium loop forks from 64 medium cells on; per-thread coefficient
// caches must not change any bit, with one class or five (a padded chunk).
TEST(Iloop, ThreadCountDoesNotChangeTheResult) {
  const int saved = omp_get_max_threads();
  auto run = [saved](int threads, int classes) {
    auto owned = std::make_unique<DotLine>(LineSetup{160, 1e24, 1e-11, 5e-10, 1e-9});
    DotLine& line = *owned;
    line.mp.classes = spectral_classes({classes, 3.0});
    // Three equilibria, so the caches hold several flag patterns.
    line.add_dots(20, 59, {0.5, 0.0, 0.5, 0.0});
    line.add_dots(60, 99, {1.0, 0.0, 0.0, 0.0});
    line.add_dots(100, 139, {0.4, 0.1, 0.3, 0.2});
    drive(line, 160, 0.033, 0.033);
    omp_set_num_threads(threads);
    for (int n = 0; n < 60; ++n) line.advance();
    omp_set_num_threads(saved);
    return owned;
  };
  for (const int classes : {1, 5}) {
    SCOPED_TRACE(classes);
    const auto one = run(1, classes);
    const auto two = run(2, classes);
    ASSERT_EQ(one->m.medium_cells.size(), 120u);
    for (int l = 0; l < 2; ++l) {
      EXPECT_EQ(one->f.Ex[l], two->f.Ex[l]);
      EXPECT_EQ(one->f.Ey[l], two->f.Ey[l]);
      EXPECT_TRUE(same_bits(one->m.w[l], two->m.w[l]));
      EXPECT_TRUE(same_bits(one->m.phys[l], two->m.phys[l]));
      EXPECT_TRUE(same_bits(one->m.classes.w[l], two->m.classes.w[l]));
    }
    EXPECT_EQ(one->m.flag_bits, two->m.flag_bits);
    EXPECT_EQ(one->m.classes.flag_bits, two->m.classes.flag_bits);
  }
}

// Classes that all sit at the transition are one class, to rounding.
TEST(Iloop, ClassesAtOneDetuningAreOneClass) {
  auto run = [](int classes) {
    auto owned = std::make_unique<DotLine>(LineSetup{60, 1e24, 1e-11, 5e-10, 1e-9});
    owned->mp.classes = spectral_classes({classes, 1e-9});
    owned->add_dots(20, 39, {0.5, 0.0, 0.5, 0.0});
    owned->set_pulse(1, 3e8, 20e-15);
    for (int n = 0; n < 3000; ++n) owned->advance();
    return owned;
  };
  const auto single = run(1), classes = run(12);
  const int l = single->f.new_level();
  double largest = 0.0, error = 0.0, w_error = 0.0;
  for (std::size_t i = 1; i < 60; ++i) {
    largest = std::max(largest, std::fabs(single->f.Ex[l][i]));
    error = std::max(error, std::fabs(single->f.Ex[l][i] - classes->f.Ex[l][i]));
  }
  for (std::int32_t i = 20; i <= 39; ++i) {
    for (int n = 0; n < 15; ++n) {
      w_error = std::max(w_error, std::fabs(single->m.w_at(l, i)[static_cast<std::size_t>(n)] -
                                            classes->m.w_at(l, i)[static_cast<std::size_t>(n)]));
    }
  }
  EXPECT_GT(largest, 1e8);
  EXPECT_LT(error, 1e-9 * largest);
  EXPECT_LT(w_error, 1e-9);
  EXPECT_GT(std::fabs(single->rho(30).rho22), 1e-3);  // the pulse has reached the dots
}

// Dot cell i as the scalar step makes it from the state before
// update_E_and_medium: coefficients, implicit step, flush, diagonal, flags.
struct ScalarDotStep {
  CellVector now;
  Diagonal u;
  PopulationFlags flags{};
  int evaluations = 0;
};

ScalarDotStep scalar_dot_step(const DotLine& line, std::int32_t i) {
  const auto c = static_cast<std::size_t>(i);
  const FieldState& f = line.f;
  const MediumState& m = line.m;
  const MediumParameters& mp = line.mp;
  const MediumStep& step = line.step;
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  const Diagonal eq = m.equilibrium(i);
  CellCoefficients cell;
  const double inv_eps = 1.0 / line.k.eps_r[c];
  cell.dephasing_x = step.pair12.dephasing_x * inv_eps,
  cell.precession_x = step.pair12.precession_x * inv_eps,
  cell.inversion_x = step.pair12.inversion[0] * inv_eps;
  cell.precession_y = step.pair12.precession_y * inv_eps,
  cell.dephasing_y = step.pair12.dephasing_y * inv_eps, cell.inversion_y = -cell.inversion_x;
  cell.curlY = (f.Hx[nw][c] - f.Hx[nw][c - 1]) * line.k.cE[c];
  cell.curlX = (f.Hy[nw][c] - f.Hy[nw][c - 1]) * line.k.cE[c];
  cell.equilibrium_x =
      mp.current_sign *
      (mp.dipole * mp.density * mp.dipole / (constants::hbar_eps0 * line.k.eps_r[c]) * eq.u13) *
      mp.polarisation_share;
  cell.equilibrium_y = -cell.equilibrium_x;
  cell.drive_u1 = mp.dipole * eq.u13 * step.pair12.growth_x / constants::hbar;
  cell.drive_u7 = mp.dipole * eq.u13 * step.pair12.growth_y / (-constants::hbar);
  cell.pop = cell_population_coupling(mp, m.flags(i), step.t, eq);
  CellVector old;
  old.ex = f.Ex[od][c], old.ey = f.Ey[od][c];
  old.w.v = m.w_at(f.old_level(), i);
  ScalarDotStep r;
  r.evaluations =
      advance_dot_cell(step.coeffs, cell, {step.dt, mp.iteration_limit, mp.tolerance}, old, r.now);
  const auto flush = [](double x) { return std::fabs(x) < 1e-120 ? 0.0 : x; };
  r.now.ex = flush(r.now.ex), r.now.ey = flush(r.now.ey);
  for (double& w : r.now.w.v) w = flush(w);
  r.u = physical_diagonal(eq, step.decay.now, r.now.w.diagonal());
  r.flags = population_flags(i, r.u, mp.cavity);
  return r;
}

// Dot cells of three equilibria, a partial batch at the end, under a wave.
TEST(Iloop, BatchedDotCellsAreTheScalarStepBitForBit) {
  enable_flush_to_zero();
  DotLine line(LineSetup{60, 1e24, 1e-11, 5e-10, 1e-9});
  line.add_dots(5, 14, {0.5, 0.0, 0.5, 0.0});
  line.add_dots(15, 23, {1.0, 0.0, 0.0, 0.0});
  line.add_dots(30, 36, {0.4, 0.1, 0.3, 0.2});
  line.mp.cavity = {10, 33};  // flags outside are 0
  drive(line, 60, 0.21, 0.13);
  for (int n = 0; n < 40; ++n) {
    // The step as step() makes it, up to the medium.
    FieldState& f = line.f;
    f.Jtoggle = 1 - f.Jtoggle;
    prepare_medium_step(line.mp, ++line.J, line.dt, line.step);
    update_H(f, line.k);
    std::vector<ScalarDotStep> expected;
    for (std::int32_t i = 1; i < 60; ++i) {
      if (line.m.kind(i) == CellKind::dot) expected.push_back(scalar_dot_step(line, i));
    }
    ASSERT_EQ(expected.size(), 26u);
    std::int64_t evaluations = 0;
    for (const ScalarDotStep& e : expected) evaluations += e.evaluations;
    EXPECT_EQ(update_E_and_medium(f, line.m, line.k, line.mp, line.step), evaluations);
    std::size_t n_dot = 0;
    for (std::int32_t i = 1; i < 60; ++i) {
      if (line.m.kind(i) != CellKind::dot) continue;
      const ScalarDotStep& e = expected[n_dot++];
      const auto nw = static_cast<std::size_t>(f.new_level());
      CellVector got;
      got.ex = f.Ex[nw][static_cast<std::size_t>(i)];
      got.ey = f.Ey[nw][static_cast<std::size_t>(i)];
      got.w.v = line.m.w_at(f.new_level(), i);
      ASSERT_TRUE(same_bits(got, e.now)) << "cell " << i << " step " << n;
      ASSERT_EQ(line.m.physical(f.new_level(), i), e.u) << "cell " << i;
      ASSERT_EQ(line.m.flags(i), e.flags) << "cell " << i;
    }
    apply_boundaries(f, line.ends);
  }
}

}  // namespace
}  // namespace mps::testing
