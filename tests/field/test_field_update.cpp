// Field coefficients per cell and the absorbing ends' coefficient.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "field/boundaries.hpp"
#include "field/field_update.hpp"
#include "support/layers.hpp"

namespace mps {
namespace {

using testing::layer;
using testing::structure_of;

TEST(FieldProfile, GradedLayerStepsFromFirstCellToItsEndIndex) {
  const double dz = 10e-9, dt = 0.5 * dz / constants::c0;
  const double nA = 1.0, nB = 3.59;
  const std::int32_t k = 13;
  // The layer of no cells must not take any cell.
  const StructureProfile s = structure_of(
      {layer(4, 1.5), layer(0, 9.0), layer(k, nA, nB), layer(3, 2.0)}, dz, dt, Model::corrected);
  FieldCoefficients c;
  compute_field_profile(s, dz, dt, c);
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
  const StructureProfile legacy = structure_of(
      {layer(4, 1.5), layer(0, 9.0), layer(k, nA, nB), layer(3, 2.0)}, dz, dt, Model::legacy);
  FieldCoefficients cl;
  compute_field_profile(legacy, dz, dt, cl);
  for (std::size_t i = 5; i <= 4 + k; ++i) {
    EXPECT_NEAR(cl.cH[i] * constants::mu0 * dz / dt / cl.eps_r[i], 1.0, 1e-12) << i;
  }
  EXPECT_EQ(cl.cH[20], c.cH[20]);
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
