// The batched implicit step against the scalar one, value for value: every
// lane must give the bits and the evaluation count that pseudospin_rhs and
// advance_dot_cell give for its cell alone.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "medium/dot_batch.hpp"
#include "support/dot_line.hpp"

namespace mps::testing {
namespace {

// Deterministic values in [-1, 1).
struct Values {
  std::uint64_t x = 0x2545f4914f6cdd1dull;
  double next() {
    x ^= x >> 12, x ^= x << 25, x ^= x >> 27;
    return static_cast<double>((x * 0x2545f4914f6cdd1dull) >> 11) * 0x1p-52 - 1.0;
  }
};

bool same(const CellVector& a, const CellVector& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// One dot cell as the implicit step sees it.
struct Case {
  CellCoefficients cell;
  CellVector old;
};

// A field just building up against the equilibrium term: no w1, w7, w13
// and curls that nearly cancel the first medium term of each field
// equation at the midpoint of old and now.  The rates of the fields are
// then the small remainder of that sum, which shows every rounding of its
// terms (a fused multiply-add, say).
void build_up(CellCoefficients& cell, CellVector& old, CellVector& now) {
  for (CellVector* y : {&old, &now}) y->w(1) = y->w(7) = y->w(13) = 0.0;
  cell.curlX = 0.5 * cell.gX * (old.ey + now.ey) * (1.0 + 0x1p-20);
  cell.curlY = -0.5 * cell.gY * (old.ex + now.ex) * (1.0 - 0x1p-21);
}

// Cells of the examples' dense medium, varied: population flags and
// equilibria (so the population blocks differ), curls, fields from none to
// far beyond a pulse's, stored values from none to large.  The quiet ones
// converge after two evaluations, the strongly driven ones run into the
// limit, the rest lie between.
std::vector<Case> varied_cells(const DenseCell& base, int count) {
  const DotLine& line = base.line;
  const std::array<std::array<double, 4>, 4> equilibria = {
      {{0.5, 0.0, 0.5, 0.0}, {1.0, 0.0, 0.0, 0.0}, {0.4, 0.1, 0.3, 0.2}, {0.0, 0.5, 0.0, 0.5}}};
  Values v;
  std::vector<Case> cases;
  for (int n = 0; n < count; ++n) {
    Case c{base.cell, {}};
    const auto eq = diagonal_components(equilibria[static_cast<std::size_t>(n % 4)]);
    const PopulationFlags flags = {n % 2, (n / 2) % 2, 1, (n / 3) % 2};
    c.cell.pop = cell_population_coupling(line.mp, flags, line.step.t, {eq[0], eq[1], eq[2]});
    c.cell.gX = base.cell.gX * (1.0 + 0.1 * v.next()), c.cell.gY = -c.cell.gX;
    const int kind = n % 5;
    if (kind == 0) {  // at rest: nothing drives it
      c.cell.curlX = c.cell.curlY = 0.0;
      c.cell.s1 = c.cell.s7 = 0.0;
      c.cell.pop = PopulationCoupling{};
    } else {
      const double field = kind == 4 ? 3e11 : 2e8;  // kind 4: far too strong to converge
      c.cell.curlX = 3e18 * v.next(), c.cell.curlY = 3e18 * v.next();
      c.old.ex = field * v.next(), c.old.ey = field * v.next();
      for (std::size_t k = 0; k < 15; ++k) c.old.w.v[k] = 0.3 * v.next();
    }
    if (kind == 3) {
      CellVector same_old = c.old;
      build_up(c.cell, c.old, same_old);
    }
    cases.push_back(c);
  }
  return cases;
}

// Runs every case through advance_dot_batch in batches of kBatchLanes (the
// last one partial, its unused lanes NaN) and checks each lane against
// advance_dot_cell; returns the evaluation counts seen.
std::set<int> check_batches(const StepCoefficients& step, const ImplicitStep& solver,
                            const std::vector<Case>& cases) {
  std::set<int> counts;
  const auto n = static_cast<int>(cases.size());
  for (int first = 0; first < n; first += kBatchLanes) {
    DotBatch b;
    b.lanes = std::min(kBatchLanes, n - first);
    CellCoefficients unused;
    CellVector nan;
    nan.ex = nan.ey = std::numeric_limits<double>::quiet_NaN();
    nan.w.v.fill(nan.ex);
    unused.curlX = nan.ex;
    for (int l = 0; l < kBatchLanes; ++l) {
      const bool used = l < b.lanes;
      set_lane(b.cell, l, used ? cases[static_cast<std::size_t>(first + l)].cell : unused);
      set_lane(b.old, l, used ? cases[static_cast<std::size_t>(first + l)].old : nan);
    }
    advance_dot_batch(step, solver, b);
    for (int l = 0; l < b.lanes; ++l) {
      const Case& c = cases[static_cast<std::size_t>(first + l)];
      CellVector now;
      const int evaluations = advance_dot_cell(step, c.cell, solver, c.old, now);
      EXPECT_TRUE(same(lane_of(b.now, l), now)) << "cell " << first + l;
      EXPECT_EQ(b.evaluations[static_cast<std::size_t>(l)], evaluations) << "cell " << first + l;
      counts.insert(evaluations);
    }
  }
  return counts;
}

TEST(DotBatch, RightHandSideIsTheScalarOneInEveryLane) {
  DenseCell base;
  std::vector<Case> cases = varied_cells(base, kBatchLanes);
  Values v;
  BatchCoefficients cell;
  BatchVector old, now, rate;
  std::vector<CellVector> nows;
  for (int l = 0; l < kBatchLanes; ++l) {
    Case& c = cases[static_cast<std::size_t>(l)];
    CellVector y = c.old;
    y.ex += 1e7 * v.next();
    for (double& w : y.w.v) w += 0.01 * v.next();
    if (l % 2 == 1) build_up(c.cell, c.old, y);
    nows.push_back(y);
    set_lane(cell, l, c.cell);
    set_lane(old, l, c.old);
    set_lane(now, l, y);
  }
  batch_rhs(base.line.step.coeffs, cell, old, now, rate);
  for (int l = 0; l < kBatchLanes; ++l) {
    const Case& c = cases[static_cast<std::size_t>(l)];
    CellVector expected;
    pseudospin_rhs(base.line.step.coeffs, c.cell, c.old, nows[static_cast<std::size_t>(l)],
                   expected);
    EXPECT_TRUE(same(lane_of(rate, l), expected)) << "lane " << l;
  }
}

TEST(DotBatch, EveryLaneStopsWhereTheScalarStepStops) {
  DenseCell base;
  // Two full batches and a partial one.
  const std::vector<Case> cases = varied_cells(base, 2 * kBatchLanes + 3);
  const StepCoefficients& step = base.line.step.coeffs;
  const double dt = base.line.dt;

  const std::set<int> counts = check_batches(step, {dt, 20, 1e-12}, cases);
  EXPECT_EQ(*counts.begin(), 2);    // cells at rest
  EXPECT_EQ(*counts.rbegin(), 20);  // cells that never converge
  EXPECT_GE(counts.size(), 3u);     // and cells between

  EXPECT_EQ(check_batches(step, {dt, 1, 1e-12}, cases), std::set<int>{1});
  EXPECT_EQ(check_batches(step, {dt, 0, 1e-12}, cases), std::set<int>{1});
  // A tolerance no change can fall below, and one every change falls below.
  EXPECT_EQ(check_batches(step, {dt, 5, 0.0}, cases), std::set<int>{5});
  EXPECT_EQ(check_batches(step, {dt, 5, 1e300}, cases), std::set<int>{2});
}

}  // namespace
}  // namespace mps::testing
