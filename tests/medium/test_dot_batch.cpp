// The batched implicit step: every lane gives the bits and evaluation count
// of its cell alone.
#include <gtest/gtest.h>

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

bool same(const CellVector& a, const CellVector& b) { return same_bits(a, b); }

// One dot cell as the implicit step sees it.
struct Case {
  CellCoefficients cell;
  CellVector old;
};

// Curls that nearly cancel the medium term of each field equation (w1, w7,
// w13 zero): the fields' rates are a small remainder that shows every
// rounding of its terms (a fused multiply-add, say).
void build_up(CellCoefficients& cell, CellVector& old, CellVector& now) {
  for (CellVector* y : {&old, &now}) y->w(1) = y->w(7) = y->w(13) = 0.0;
  cell.curlX = 0.5 * cell.equilibrium_x * (old.ey + now.ey) * (1.0 + 0x1p-20);
  cell.curlY = -0.5 * cell.equilibrium_y * (old.ex + now.ex) * (1.0 - 0x1p-21);
}

// The dense cell varied in flags, equilibria, curls, fields and stored
// values: some at rest (2 evaluations), some never converging, most between.
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
    c.cell.equilibrium_x = base.cell.equilibrium_x * (1.0 + 0.1 * v.next()),
    c.cell.equilibrium_y = -c.cell.equilibrium_x;
    const int kind = n % 5;
    if (kind == 0) {  // at rest: nothing drives it
      c.cell.curlX = c.cell.curlY = 0.0;
      c.cell.drive_u1 = c.cell.drive_u7 = 0.0;
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

// Every case through advance_dot_batch, the last batch partial with NaN in
// its unused lanes; check(case index, now, evaluations) for each lane.
template <typename Check>
void run_batches(const StepCoefficients& step, const ImplicitStep& solver,
                 const std::vector<Case>& cases, Check check) {
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
      set_lane(b.cell, l,
               used ? cases[static_cast<std::size_t>(first) + static_cast<std::size_t>(l)].cell
                    : unused);
      set_lane(
          b.old, l,
          used ? cases[static_cast<std::size_t>(first) + static_cast<std::size_t>(l)].old : nan);
    }
    advance_dot_batch(step, solver, b);
    for (int l = 0; l < b.lanes; ++l) {
      check(first + l, lane_of(b.now, l), b.evaluations[static_cast<std::size_t>(l)]);
    }
  }
}

// Each lane against advance_dot_cell; returns the evaluation counts seen.
std::set<int> check_batches(const StepCoefficients& step, const ImplicitStep& solver,
                            const std::vector<Case>& cases) {
  std::set<int> counts;
  run_batches(step, solver, cases, [&](int n, const CellVector& got, int evaluations) {
    const Case& c = cases[static_cast<std::size_t>(n)];
    CellVector now;
    EXPECT_EQ(evaluations, advance_dot_cell(step, c.cell, solver, c.old, now)) << "cell " << n;
    EXPECT_TRUE(same(got, now)) << "cell " << n;
    counts.insert(evaluations);
  });
  return counts;
}

// Iterate k of the implicit step while no lane stops: y1 = y_old + dt
// f(y_old, y_old) with stored rates below 1e-100 masked, then
// y(k+1) = y_old + dt f(y_old, y(k)).
CellVector iterate(const StepCoefficients& step, const Case& c, double dt, int k) {
  CellVector y = c.old, rate;
  for (int n = 1; n <= k; ++n) {
    pseudospin_rhs(step, c.cell, c.old, y, rate);
    y.ex = c.old.ex + dt * rate.ex;
    y.ey = c.old.ey + dt * rate.ey;
    for (std::size_t m = 0; m < 16; ++m) {
      const double r = n == 1 && rate.w.v[m] < 1e-100 ? 0.0 : rate.w.v[m];
      y.w.v[m] = c.old.w.v[m] + dt * r;
    }
  }
  return y;
}

// Tolerance 0 lets no lane stop: each iterate is the scalar one, bit for bit.
TEST(DotBatch, EveryLaneIteratesWithTheScalarRightHandSide) {
  DenseCell base;
  const std::vector<Case> cases = varied_cells(base, 2 * kBatchLanes + 3);
  const StepCoefficients& step = base.line.step.coeffs;
  const double dt = base.line.dt;
  for (const int k : {1, 2, 3}) {
    run_batches(step, {dt, k, 0.0}, cases, [&](int n, const CellVector& got, int evaluations) {
      EXPECT_EQ(evaluations, k);
      EXPECT_TRUE(same(got, iterate(step, cases[static_cast<std::size_t>(n)], dt, k)))
          << "cell " << n << " iterate " << k;
    });
  }
}

TEST(DotBatch, EveryLaneStopsWhereTheScalarStepStops) {
  DenseCell base;
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
