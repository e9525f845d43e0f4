#include "medium/dot_batch.hpp"

#include <cmath>
#include <utility>

namespace mps {

void BatchVector::set_lane(int l, const CellVector& x) {
  y[0][l] = x.ex;
  y[1][l] = x.ey;
  for (int k = 1; k <= kStored; ++k) (*this)[kFirstStored + k - 1][l] = x.w(k);
}

CellVector BatchVector::lane(int l) const {
  CellVector x;
  x.ex = y[0][l];
  x.ey = y[1][l];
  for (int k = 1; k <= kStored; ++k) x.w(k) = (*this)[kFirstStored + k - 1][l];
  return x;
}

void BatchCoefficients::set_lane(int l, const CellCoefficients& c) {
  curlX[l] = c.curlX, curlY[l] = c.curlY, gX[l] = c.gX, gY[l] = c.gY;
  aX1[l] = c.aX1, aX7[l] = c.aX7, aX13[l] = c.aX13;
  aY1[l] = c.aY1, aY7[l] = c.aY7, aY13[l] = c.aY13;
  s1[l] = c.s1, s7[l] = c.s7;
  F13_14[l] = c.pop.F13_14, F13_15[l] = c.pop.F13_15, F14_15[l] = c.pop.F14_15;
  B13_14[l] = c.pop.B13_14, B13_15[l] = c.pop.B13_15, B14_15[l] = c.pop.B14_15;
  s13[l] = c.pop.s13, s14[l] = c.pop.s14, s15[l] = c.pop.s15;
  D13[l] = c.pop.D13, D14[l] = c.pop.D14, D15[l] = c.pop.D15;
  diagonal = diagonal || c.pop.diagonal;
}

namespace {

// Every loop below runs over the lanes and does for each lane what the
// scalar code does for one cell, term by term in the scalar order (the
// build contracts nothing into fused multiply-adds).

// The coefficients as the terms of the right-hand side use them: every
// coefficient of a term linear in the state times 0.5, of a product of a
// field sum and a pseudospin sum times 0.25.  These products are the first
// operation of each term in the scalar code too; made once per batch, they
// are the same numbers.
struct Scaled {
  // Per lane: hX = 0.5 X, qX = 0.25 X; the dEx/dt equation starts from
  // -curlX.
  Lanes minus_curlX, curlY, hgX, hgY, haX1, haX7, qaX13, haY1, haY7, qaY13, hs1, hs7;
  Lanes hF13_14, hF13_15, hF14_15, hB13_14, hB13_15, hB14_15, s13, s14, s15;
  Lanes hD13, hD14, hD15;
  // The step's F and B entries used, scaled the same way.
  double hF1_7, qF1_13, qF2_10, qF2_4, hF3_9, qF3_11, qF3_5, hF4_10, qB2_4, qF4_8;
  double qB3_5, qF5_9, hF6_12, hB1_7, qF7_13, qB4_8, qF8_10, hB3_9, qB5_9, qF9_11;
  double hB4_10, qB2_10, qB8_10, qB3_11, qB9_11, hB6_12, qB1_13, qB7_13;
};

void scale_step(const StepCoefficients& step, Scaled& k) {
  const CouplingMatrix& F = step.F;
  const CouplingMatrix& B = step.B;
  k.hF1_7 = 0.5 * F(1, 7), k.qF1_13 = 0.25 * F(1, 13), k.qF2_10 = 0.25 * F(2, 10);
  k.qF2_4 = 0.25 * F(2, 4), k.hF3_9 = 0.5 * F(3, 9), k.qF3_11 = 0.25 * F(3, 11);
  k.qF3_5 = 0.25 * F(3, 5), k.hF4_10 = 0.5 * F(4, 10), k.qB2_4 = 0.25 * B(2, 4);
  k.qF4_8 = 0.25 * F(4, 8), k.qB3_5 = 0.25 * B(3, 5), k.qF5_9 = 0.25 * F(5, 9);
  k.hF6_12 = 0.5 * F(6, 12), k.hB1_7 = 0.5 * B(1, 7), k.qF7_13 = 0.25 * F(7, 13);
  k.qB4_8 = 0.25 * B(4, 8), k.qF8_10 = 0.25 * F(8, 10), k.hB3_9 = 0.5 * B(3, 9);
  k.qB5_9 = 0.25 * B(5, 9), k.qF9_11 = 0.25 * F(9, 11), k.hB4_10 = 0.5 * B(4, 10);
  k.qB2_10 = 0.25 * B(2, 10), k.qB8_10 = 0.25 * B(8, 10), k.qB3_11 = 0.25 * B(3, 11);
  k.qB9_11 = 0.25 * B(9, 11), k.hB6_12 = 0.5 * B(6, 12), k.qB1_13 = 0.25 * B(1, 13);
  k.qB7_13 = 0.25 * B(7, 13);
}

Scaled scaled(const StepCoefficients& step, const BatchCoefficients& c) {
  Scaled k;
  scale_step(step, k);
#pragma omp simd
  for (int l = 0; l < kBatchLanes; ++l) {
    k.minus_curlX[l] = -c.curlX[l], k.curlY[l] = c.curlY[l];
    k.hgX[l] = 0.5 * c.gX[l], k.hgY[l] = 0.5 * c.gY[l];
    k.haX1[l] = 0.5 * c.aX1[l], k.haX7[l] = 0.5 * c.aX7[l], k.qaX13[l] = 0.25 * c.aX13[l];
    k.haY1[l] = 0.5 * c.aY1[l], k.haY7[l] = 0.5 * c.aY7[l], k.qaY13[l] = 0.25 * c.aY13[l];
    k.hs1[l] = 0.5 * c.s1[l], k.hs7[l] = 0.5 * c.s7[l];
    k.hF13_14[l] = 0.5 * c.F13_14[l], k.hF13_15[l] = 0.5 * c.F13_15[l];
    k.hF14_15[l] = 0.5 * c.F14_15[l], k.hB13_14[l] = 0.5 * c.B13_14[l];
    k.hB13_15[l] = 0.5 * c.B13_15[l], k.hB14_15[l] = 0.5 * c.B14_15[l];
    k.s13[l] = c.s13[l], k.s14[l] = c.s14[l], k.s15[l] = c.s15[l];
    k.hD13[l] = 0.5 * c.D13[l], k.hD14[l] = 0.5 * c.D14[l], k.hD15[l] = 0.5 * c.D15[l];
  }
  return k;
}

// The right-hand side at the midpoint of old and now, each rate handed to
// out(j, l, rate).  S(k) = w_k(old) + w_k(now), SX and SY the field sums.
// With Diagonal, w13..w15 take their own relaxation terms last, as
// pseudospin_rhs adds them.
template <bool Diagonal, typename Out>
void rates(const Scaled& k, const BatchVector& old, const BatchVector& now, Out out) {
#pragma omp simd
  for (int l = 0; l < kBatchLanes; ++l) {
    const auto s = [&old, &now, l](int n) { return old[n + 1][l] + now[n + 1][l]; };
    const double SX = old[0][l] + now[0][l];
    const double SY = old[1][l] + now[1][l];
    const double s1 = s(1), s2 = s(2), s3 = s(3), s4 = s(4), s5 = s(5), s6 = s(6), s7 = s(7);
    const double s8 = s(8), s9 = s(9), s10 = s(10), s11 = s(11), s12 = s(12), s13 = s(13);
    const double s14 = s(14), s15 = s(15);
    out(0, l,
        k.minus_curlX[l] + k.hgX[l] * SY + k.haX1[l] * s1 + k.haX7[l] * s7 + k.qaX13[l] * SY * s13);
    out(1, l, k.curlY[l] + k.hgY[l] * SX + k.haY1[l] * s1 + k.haY7[l] * s7 + k.qaY13[l] * SX * s13);
    out(2, l, k.hs1[l] * SY + k.hF1_7 * s7 + k.qF1_13 * SY * s13);
    out(3, l, k.qF2_10 * SX * s10 + k.qF2_4 * SY * s4);
    out(4, l, k.hF3_9 * s9 + k.qF3_11 * SX * s11 + k.qF3_5 * SY * s5);
    out(5, l, k.hF4_10 * s10 + k.qB2_4 * SY * s2 + k.qF4_8 * SX * s8);
    out(6, l, k.qB3_5 * SY * s3 + k.qF5_9 * SX * s9);
    out(7, l, k.hF6_12 * s12);
    out(8, l, k.hB1_7 * s1 + k.hs7[l] * SX + k.qF7_13 * SX * s13);
    out(9, l, k.qB4_8 * SX * s4 + k.qF8_10 * SY * s10);
    out(10, l, k.hB3_9 * s3 + k.qB5_9 * SX * s5 + k.qF9_11 * SY * s11);
    out(11, l, k.hB4_10 * s4 + k.qB2_10 * SX * s2 + k.qB8_10 * SY * s8);
    out(12, l, k.qB3_11 * SX * s3 + k.qB9_11 * SY * s9);
    out(13, l, k.hB6_12 * s6);
    double d13 = k.s13[l] + k.hF13_14[l] * s14 + k.hF13_15[l] * s15 + k.qB1_13 * SY * s1 +
                 k.qB7_13 * SX * s7;
    double d14 = k.s14[l] + k.hB13_14[l] * s13 + k.hF14_15[l] * s15;
    double d15 = k.s15[l] + k.hB13_15[l] * s13 + k.hB14_15[l] * s14;
    if constexpr (Diagonal) {
      d13 = d13 + k.hD13[l] * s13;
      d14 = d14 + k.hD14[l] * s14;
      d15 = d15 + k.hD15[l] * s15;
    }
    out(14, l, d13);
    out(15, l, d14);
    out(16, l, d15);
    out(17, l, 0.0);
  }
}

// Lane masks: 1 where the lane takes part, 0 where not.
using LaneMask = std::array<std::int64_t, kBatchLanes>;

bool any(const LaneMask& m) {
  std::int64_t a = 0;
  for (const std::int64_t x : m) a |= x;
  return a != 0;
}

// relative_change(x, p) < tolerance as 0 / 1.  The quotient of x = 0 is
// not used.
inline std::int64_t change_below(double x, double p, double tolerance) {
  const double q = std::fabs((x - p) / x);
  const double change = x == 0.0 ? (p != 0.0 ? 1.0 : 0.0) : q;
  return static_cast<std::int64_t>(change < tolerance);
}

// passing(l) &= the relative changes of components first..last-1 of lane
// l below the tolerance; true while some lane passes.
template <int First, int Last>
bool pass_components(const BatchVector& now, const BatchVector& previous, double tolerance,
                     LaneMask& passing) {
  std::int64_t any = 0;
#pragma omp simd reduction(| : any)
  for (int l = 0; l < kBatchLanes; ++l) {
    std::int64_t pass = passing[static_cast<std::size_t>(l)];
    for (int j = First; j < Last; ++j) pass &= change_below(now[j][l], previous[j][l], tolerance);
    passing[static_cast<std::size_t>(l)] = pass;
    any |= pass;
  }
  return any != 0;
}

// The convergence test of advance_dot_cell in the lanes of `active`:
// passing(l) = 1 where all 18 relative changes from `previous` to `now`
// are below the tolerance; true when some lane passes.  Like the scalar
// test, which stops at the first failing value, it stops early: it tests
// Ex, Ey and w1 first, the values that settle last in a driven cell, and
// the other 15 only when some lane has passed those.  Each test divides
// exactly as the scalar one.
bool converged_lanes(const BatchVector& now, const BatchVector& previous, double tolerance,
                     const LaneMask& active, LaneMask& passing) {
  passing = active;
  return pass_components<0, 3>(now, previous, tolerance, passing) &&
         pass_components<3, kBatchComponents>(now, previous, tolerance, passing);
}

// The lanes of `take` from `from` into `to`.
void take_lanes(const LaneMask& take, const BatchVector& from, BatchVector& to) {
  for (int j = 0; j < kBatchComponents; ++j) {
    const Lanes& a = from[j];
    Lanes& b = to[j];
#pragma omp simd
    for (int l = 0; l < kBatchLanes; ++l)
      b[l] = take[static_cast<std::size_t>(l)] != 0 ? a[l] : b[l];
  }
}

// The implicit step of the batch, with or without the diagonal relaxation
// terms.
template <bool Diagonal>
void advance(const StepCoefficients& step, const ImplicitStep& solver, DotBatch& b) {
  const double dt = solver.dt;
  const BatchVector& old = b.old;
  const Scaled k = scaled(step, b.cell);
  LaneMask active{};
  for (int l = 0; l < b.lanes; ++l) active[static_cast<std::size_t>(l)] = 1;
  if (b.lanes < kBatchLanes) {  // the unused lanes leave with their old values
    LaneMask unused;
    for (std::size_t l = 0; l < unused.size(); ++l) unused[l] = 1 - active[l];
    take_lanes(unused, old, b.now);
  }
  // Two iterates, the newer one in *now; all lanes are iterated, and a lane
  // that stops has its iterate copied to b.now then.
  BatchVector first, second;
  BatchVector* now = &first;
  BatchVector* previous = &second;
  // First iterate: rates of the stored values below 1e-100 are masked.
  rates<Diagonal>(k, old, old, [&old, now, dt](int j, int l, double r) {
    const double rate = j >= kFirstStored && r < 1e-100 ? 0.0 : r;
    (*now)[j][l] = old[j][l] + dt * rate;
  });
  b.evaluations.fill(1);
  std::int64_t evaluations = 1;
  for (; evaluations < solver.iteration_limit; ++evaluations) {
    if (evaluations >= 2) {
      LaneMask passing;
      if (converged_lanes(*now, *previous, solver.tolerance, active, passing)) {
        take_lanes(passing, *now, b.now);
        for (std::size_t l = 0; l < active.size(); ++l) {
          if (passing[l] != 0) b.evaluations[l] = static_cast<int>(evaluations);
          active[l] &= 1 - passing[l];
        }
        if (!any(active)) return;
      }
    }
    std::swap(now, previous);
    rates<Diagonal>(k, old, *previous,
                    [&old, now, dt](int j, int l, double r) { (*now)[j][l] = old[j][l] + dt * r; });
  }
  take_lanes(active, *now, b.now);
  for (std::size_t l = 0; l < active.size(); ++l) {
    if (active[l] != 0) b.evaluations[l] = static_cast<int>(evaluations);
  }
}

}  // namespace

void batch_rhs(const StepCoefficients& step, const BatchCoefficients& cell, const BatchVector& old,
               const BatchVector& now, BatchVector& rate) {
  const auto put = [&rate](int j, int l, double r) { rate[j][l] = r; };
  if (cell.diagonal) {
    rates<true>(scaled(step, cell), old, now, put);
  } else {
    rates<false>(scaled(step, cell), old, now, put);
  }
}

void advance_dot_batch(const StepCoefficients& step, const ImplicitStep& solver, DotBatch& b) {
  if (b.cell.diagonal) {
    advance<true>(step, solver, b);
  } else {
    advance<false>(step, solver, b);
  }
}

}  // namespace mps
