// Field coefficients per cell and their runs, the one-sweep update of H and
// E against the separate updates, and the absorbing ends' coefficient.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "field/boundaries.hpp"
#include "field/field_update.hpp"
#include "support/layers.hpp"
#include "support/reference/field_update.hpp"

namespace mps {
namespace {

using testing::layer;
using testing::structure_of;

TEST(FieldProfile, GradedLayerStepsFromFirstCellToItsEndIndex) {
  const double dz = 10e-9, dt = 0.5 * dz / constants::c0;
  const double nA = 1.0, nB = 3.59;
  const std::int32_t k = 13;
  // The layer of no cells must not take any cell.
  const auto coefficients = [&](Model model) {
    FieldCoefficients c;
    compute_field_profile(
        structure_of({layer(4, 1.5), layer(0, 9.0), layer(k, nA, nB), layer(3, 2.0)}, dz, dt,
                     model),
        dz, dt, c);
    return c;
  };
  const FieldCoefficients c = coefficients(Model::corrected);
  EXPECT_EQ(c.eps_r[4], 1.5 * 1.5);
  const double first = nA + (nB - nA) / k;
  EXPECT_DOUBLE_EQ(c.eps_r[5], first * first);
  // nA + k (nB - nA) / k lands an ulp or two from nB (3.5900000000000003).
  EXPECT_NEAR(std::sqrt(c.eps_r[4 + k]), nB, 4e-15);
  for (std::size_t i = 6; i <= 4 + k; ++i) EXPECT_GT(c.eps_r[i], c.eps_r[i - 1]);
  EXPECT_EQ(c.eps_r[5 + k], 2.0 * 2.0);
  // Uniform layer: cH = dt / (mu0 dz), as eps0 mu0 c^2 = 1 (to 1e-12 with the
  // stored constants); cE = 1 / (eps0 dz n^2).
  EXPECT_NEAR(c.cH[20] * constants::mu0 * dz / dt, 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(c.cE[20] * constants::eps0 * dz * 4.0, 1.0);
  // Graded cells are non-magnetic too: cH = dt / (mu0 dz) in every cell.
  for (std::size_t i = 5; i <= 4 + k; ++i) {
    EXPECT_NEAR(c.cH[i] * constants::mu0 * dz / dt, 1.0, 1e-12) << i;
  }
  // The legacy model's graded cells have mu = mu0 (nA / n)^2: cH grows as n^2.
  const FieldCoefficients cl = coefficients(Model::legacy);
  for (std::size_t i = 5; i <= 4 + k; ++i) {
    EXPECT_NEAR(cl.cH[i] * constants::mu0 * dz / dt / cl.eps_r[i], 1.0, 1e-12) << i;
  }
  EXPECT_EQ(cl.cH[20], c.cH[20]);
}

// A layer, graded cells, a short layer, a long layer (long enough that a
// thread's share ends inside it).
StructureProfile mixed_structure(double dz, double dt) {
  return structure_of({layer(100, 1.0), layer(13, 1.0, 3.5), layer(5, 2.0), layer(3000, 3.5)}, dz,
                      dt, Model::corrected);
}

TEST(FieldProfile, RunsOfSharedCoefficientsCoverTheGrid) {
  const double dz = 2e-9, dt = 0.5 * dz / constants::c0;
  const StructureProfile s = mixed_structure(dz, dt);
  FieldCoefficients c;
  compute_field_profile(s, dz, dt, c);
  // The graded cells and the 5-cell layer are each their own; their run is one.
  std::vector<std::tuple<std::int32_t, std::int32_t, bool>> runs;
  for (const CoefficientRun& run : c.runs) runs.emplace_back(run.first, run.last, run.uniform);
  EXPECT_EQ(runs, (decltype(runs){{1, 100, true}, {101, 118, false}, {119, s.NZ, true}}));
  for (const CoefficientRun& run : c.runs) {
    if (!run.uniform) continue;
    for (std::int32_t i = run.first; i <= run.last; ++i) {
      EXPECT_EQ(c.cE[static_cast<std::size_t>(i)], c.cE[static_cast<std::size_t>(run.first)]);
      EXPECT_EQ(c.cH[static_cast<std::size_t>(i)], c.cH[static_cast<std::size_t>(run.first)]);
    }
  }
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The sweep (tiles, uniform coefficients, a thread's first cell after the
// barrier, the plane correction, cells skipped, the maximum of the counted
// cells) gives exactly what the plain H update, the correction and the
// plain E update give, on any number of threads.
TEST(FieldSweep, SameAsSeparateUpdatesOnAnyNumberOfThreads) {
  const double dz = 2e-9, dt = 0.5 * dz / constants::c0;
  const StructureProfile s = mixed_structure(dz, dt);
  FieldCoefficients k;
  compute_field_profile(s, dz, dt, k);
  FieldState start;
  start.allocate(s.NZ);
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (auto* a : {&start.Ex, &start.Ey, &start.Hx, &start.Hy}) {
    for (auto& level : *a) {
      for (std::size_t i = 1; i < level.size(); ++i) level[i] = 1e8 * value(random);
    }
  }
  start.Jtoggle = 1;
  // Cells 100..107 are skipped (dots), 2 and 45 change later (not counted);
  // the largest |Ex| of the old level sits in a skipped cell.
  start.Ex[0][103] = 1e12;
  const std::vector<CellRun> runs = {{1, 1, true},    {2, 2, false},  {3, 44, true},
                                     {45, 45, false}, {46, 99, true}, {108, s.NZ - 1, true}};
  const HCorrection fix{50, 3.0, -5.0};

  FieldState expected = start;
  testing::update_H(expected, k);
  expected.Hx[1][50] += fix.dhx;
  expected.Hy[1][50] += fix.dhy;
  testing::update_E(expected, k, dt);
  double expected_max = -std::numeric_limits<double>::infinity();
  for (const CellRun& run : runs) {
    for (std::int32_t i = run.first; i <= run.last && run.counted; ++i) {
      expected_max = std::max(expected_max, std::fabs(expected.Ex[1][static_cast<std::size_t>(i)]));
    }
  }
  // The skipped cells and the last one (the ends' business) keep step J-1.
  for (const std::size_t i : {100, 101, 102, 103, 104, 105, 106, 107, s.NZ}) {
    expected.Ex[1][i] = start.Ex[0][i];
    expected.Ey[1][i] = start.Ey[0][i];
  }
  // Step J-1 stays in the old level everywhere, or at the kept cells.
  const std::vector<CellSpan> kept = {{1, 2}, {100, 107}, {s.NZ - 1, s.NZ}};
  for (const bool whole : {true, false}) {
    for (const int threads : {1, 2, 3}) {
      SCOPED_TRACE(::testing::Message() << threads << " threads, whole old level " << whole);
      FieldState f = start;
      ready_new_level(f, kept, whole);
      double m = -std::numeric_limits<double>::infinity();
#pragma omp parallel num_threads(threads) reduction(max : m)
      m = update_fields_in_team(f, k, dt, runs, fix);
      EXPECT_EQ(m, expected_max);
      auto old_kept = [&](std::size_t i) {
        return whole || std::any_of(kept.begin(), kept.end(), [&](const CellSpan& c) {
                 return c.first <= static_cast<std::int32_t>(i) &&
                        static_cast<std::int32_t>(i) <= c.last;
               });
      };
      for (std::size_t i = 0; i <= static_cast<std::size_t>(s.NZ); ++i) {
        for (const auto level :
             {&FieldState::Ex, &FieldState::Ey, &FieldState::Hx, &FieldState::Hy}) {
          ASSERT_TRUE(same_bits((f.*level)[1][i], (expected.*level)[1][i])) << i;
          if (old_kept(i)) {
            ASSERT_TRUE(same_bits((f.*level)[0][i], (start.*level)[0][i])) << i;
          }
        }
      }
    }
  }
}

TEST(Boundaries, AbsorbingCoefficient) {
  for (double s : {0.25, 0.5, 1.0}) {
    EXPECT_DOUBLE_EQ(absorbing_coefficient(s, 0.0), (1.0 - s) / (1.0 + s)) << s;
    EXPECT_DOUBLE_EQ(absorbing_coefficient(s, 1.0), 1.0) << s;
    EXPECT_DOUBLE_EQ(absorbing_coefficient(s, -1.0), -1.0) << s;
  }
}

}  // namespace
}  // namespace mps
