#include "medium/dot_batch.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace mps {

namespace {

// Every loop below runs over the lanes and does for each lane the
// operations of the equations' table in its order (the build contracts
// nothing into fused multiply-adds).

// The coefficient of every term of the table as the term uses it: scaled
// by its 0.5 or 0.25 (and its sign), the cell coefficients once per batch,
// the step's F and B entries (the same in every lane) once per step.
// Scaling by a power of two is exact.  Each cell coefficient enters one
// term, so it is kept scaled under its own index.
struct Scaled {
  Lanes* lane;         // of the cell coefficients, equations::kLaneCoefficients of them
  const double* step;  // of the step's F and B, by term (StepTerms)
  // The same per lane, where the lanes are classes of different detuning
  // (rates<..., true>).
  const Lanes* step_lanes = nullptr;
};

template <const auto& Terms>
void scale_lanes(const BatchCoefficients& c, Scaled& k) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (
        [&] {
          constexpr equations::Term t = Terms[I];
          if constexpr (t.source == equations::Source::lane) {
            constexpr double scale = t.scale();
            const Lanes& v = c.lane[static_cast<std::size_t>(t.k)];
            Lanes& out = k.lane[static_cast<std::size_t>(t.k)];
#pragma omp simd
            for (int l = 0; l < kBatchLanes; ++l) out[l] = scale * v[l];
          }
        }(),
        ...);
  }
  (std::make_index_sequence<Terms.size()>{});
}

// The right-hand side at the midpoint of old and now, each rate handed to
// out(j, l, rate).  S(m) = w_m(old) + w_m(now), SX and SY the field sums.
// Always inlined: a copy of its own would be compiled for lanes whose
// coefficients might be overwritten by `out`, and not vectorised.
template <bool Diagonal, const auto& Terms, bool LaneStep = false, typename Out>
[[gnu::always_inline]] inline void rates(const Scaled& k, const BatchVector& old,
                                         const BatchVector& now, Out out) {
#pragma omp simd
  for (int l = 0; l < kBatchLanes; ++l) {
    const auto s = [&old, &now, l](int n) { return old[n + 1][l] + now[n + 1][l]; };
    const double s1 = s(1), s2 = s(2), s3 = s(3), s4 = s(4), s5 = s(5), s6 = s(6), s7 = s(7);
    const double s8 = s(8), s9 = s(9), s10 = s(10), s11 = s(11), s12 = s(12), s13 = s(13);
    const double s14 = s(14), s15 = s(15);
    const auto S = [&](auto m) {
      constexpr int n = decltype(m)::value;
      if constexpr (n == 1) return s1;
      if constexpr (n == 2) return s2;
      if constexpr (n == 3) return s3;
      if constexpr (n == 4) return s4;
      if constexpr (n == 5) return s5;
      if constexpr (n == 6) return s6;
      if constexpr (n == 7) return s7;
      if constexpr (n == 8) return s8;
      if constexpr (n == 9) return s9;
      if constexpr (n == 10) return s10;
      if constexpr (n == 11) return s11;
      if constexpr (n == 12) return s12;
      if constexpr (n == 13) return s13;
      if constexpr (n == 14) return s14;
      if constexpr (n == 15) return s15;
    };
    const double SX = old[0][l] + now[0][l];
    const double SY = old[1][l] + now[1][l];
    const auto coefficient = [&k, l](auto I) {
      if constexpr (Terms[decltype(I)::value].source == equations::Source::lane) {
        return k.lane[static_cast<std::size_t>(Terms[decltype(I)::value].k)][l];
      } else if constexpr (LaneStep) {
        return k.step_lanes[decltype(I)::value][l];
      } else {
        return k.step[decltype(I)::value];
      }
    };
    equations::lane_rates<Diagonal, Terms>(coefficient, S, SX, SY,
                                           [&out, l](int j, double rate) { out(j, l, rate); });
  }
}

// Lane masks: 1 where the lane takes part, 0 where not.
using LaneMask = std::array<std::int64_t, kBatchLanes>;
static_assert(sizeof(LaneMask) == sizeof(LaneMaskVector));

bool any(const LaneMask& m) {
  std::int64_t a = 0;
  for (const std::int64_t x : m) a |= x;
  return a != 0;
}

// The first iterate of the implicit step takes a stored value's rate as 0
// where it is below this (every negative rate, and positive ones too
// small to matter), so that the iteration starts from a state that keeps
// the populations' signs.
constexpr double kMaskedRate = 1e-100;

// The two convergence tests of the implicit step.  A dot cell's values
// (and a broadened cell's field) divide: |(x - p) / x| < tol, with x = 0
// counted as a change of 1 (or 0 when p = 0 too).  The classes of a
// broadened cell multiply instead, |x - p| < tol |x| or x = p
// (class_change_below), to spare a division per class and value; the two
// differ where x - p rounds differently, so each keeps the results it was
// validated with.

// The dividing test as 0 / 1.  The quotient of x = 0 is not used.
inline std::int64_t change_below(double x, double p, double tolerance) {
  const double q = std::fabs((x - p) / x);
  const double change = x == 0.0 ? (p != 0.0 ? 1.0 : 0.0) : q;
  return static_cast<std::int64_t>(change < tolerance);
}

// change_below of every lane as a mask (-1 where below, 0 where not),
// in vector operations: the compiler leaves the scalar form's selects as
// branches where the vectors have no mask registers.  |q| < tol is
// written -tol < q < tol (false for NaN, as |NaN| < tol is).
inline LaneMaskVector changes_below(LaneVector x, LaneVector p, double tolerance) {
  const LaneVector q = (x - p) / x;
  const LaneMaskVector below = (q < tolerance) & (q > -tolerance);
  // x = 0: the change counts as 1 when p is not 0, else as 0.
  const long long one_below = -static_cast<long long>(1.0 < tolerance);
  const long long zero_below = -static_cast<long long>(0.0 < tolerance);
  const LaneMaskVector p_nonzero = p != 0.0;
  const LaneMaskVector at_zero = x == 0.0;
  const LaneMaskVector at_zero_below = (p_nonzero & one_below) | (~p_nonzero & zero_below);
  return (at_zero & at_zero_below) | (~at_zero & below);
}

// pass(l) (0 or 1) kept where the relative changes of components
// first..last-1 of lane l are below the tolerance, else made 0.
template <int First, int Last>
LaneMaskVector pass_components(const BatchVector& now, const BatchVector& previous,
                               double tolerance, LaneMaskVector pass) {
  for (int j = First; j < Last; ++j) {
    pass &= changes_below(load(now[j]), load(previous[j]), tolerance);
  }
  return pass;
}

bool any_lane(LaneMaskVector m) {
  long long a = 0;
  for (int l = 0; l < kBatchLanes; ++l) a |= m[l];
  return a != 0;
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
  LaneMaskVector pass;
  std::memcpy(&pass, active.data(), sizeof pass);
  pass = pass_components<0, 3>(now, previous, tolerance, pass);
  if (any_lane(pass)) pass = pass_components<3, kBatchComponents>(now, previous, tolerance, pass);
  std::memcpy(passing.data(), &pass, sizeof pass);
  return any_lane(pass);
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
template <bool Diagonal, const auto& Terms>
void advance(const StepTerms& terms, const ImplicitStep& solver, DotBatch& b) {
  const double dt = solver.dt;
  const BatchVector& old = b.old;
  std::array<Lanes, equations::kLaneCoefficients> lanes;  // every one used written by scale_lanes
  Scaled k{lanes.data(), terms.step.data()};
  scale_lanes<Terms>(b.cell, k);
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
  // First iterate: rates of the stored values below kMaskedRate are masked.
  rates<Diagonal, Terms>(k, old, old, [&old, now, dt](int j, int l, double r) {
    const double rate = j >= kFirstStored && r < kMaskedRate ? 0.0 : r;
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
    rates<Diagonal, Terms>(k, old, *previous, [&old, now, dt](int j, int l, double r) {
      (*now)[j][l] = old[j][l] + dt * r;
    });
  }
  take_lanes(active, *now, b.now);
  for (std::size_t l = 0; l < active.size(); ++l) {
    if (active[l] != 0) b.evaluations[l] = static_cast<int>(evaluations);
  }
}

// Each thread's view of a ClassBatch's scaled coefficients.
std::vector<Scaled>& scaled_of(const ClassBatch& b) {
  thread_local std::vector<Scaled> k;
  k.resize(static_cast<std::size_t>(b.chunks));
  return k;
}

// One iterate of a cell's classes: w of every class from its rates at the
// midpoint of old and `from`, then the field from the cell's curls and the
// currents of all classes, summed class by class in order (the same in
// every lane of `to`).  The first iterate masks the tiny rates of w.
template <bool Diagonal, const auto& Terms, bool First>
void class_iterate(const std::vector<Scaled>& k, const ClassBatch& b,
                   const std::vector<BatchVector>& from, std::vector<BatchVector>& to, double dt) {
  double ex_rate = -b.curl_x, ey_rate = b.curl_y;
  for (std::size_t c = 0; c < k.size(); ++c) {
    const BatchVector& old = b.old[c];
    const BatchVector& mid = from[c];
    BatchVector* now = &to[c];
    // A local copy: read through the vector's storage, the coefficients
    // would be reloaded lane by lane and the loop not vectorised.
    const Scaled kc = k[c];
    // The classes' currents (each class's current coefficients weighted)
    // land in the field components of `now` and are summed from there.
    rates<Diagonal, Terms, true>(kc, old, mid, [&old, now, dt](int j, int l, double r) {
      const double rate = First && j >= kFirstStored && r < kMaskedRate ? 0.0 : r;
      (*now)[j][l] = j < kFirstStored ? rate : old[j][l] + dt * rate;
    });
    const Lanes &jx = (*now)[0], &jy = (*now)[1];
    for (int l = 0; l < kBatchLanes; ++l) ex_rate += jx[l];
    for (int l = 0; l < kBatchLanes; ++l) ey_rate += jy[l];
  }
  const double ex = b.old[0][0][0] + dt * ex_rate, ey = b.old[0][1][0] + dt * ey_rate;
  for (BatchVector& v : to) v[0].v.fill(ex), v[1].v.fill(ey);
}

// The multiplying test of a class's value as 0 / 1.
inline std::int64_t class_change_below(double a, double p, double tolerance) {
  const double d = std::fabs(a - p);
  return static_cast<std::int64_t>(a == p) |
         static_cast<std::int64_t>(d < tolerance * std::fabs(a));
}

// True when the field and every class's w changed by less than the
// tolerance (relative) from `previous` to `now`.  The test of a class's
// values multiplies where advance_dot_batch's divides: |x - p| < tol |x|,
// or x = p.
bool classes_converged(const ClassBatch& b, const std::vector<BatchVector>& now,
                       const std::vector<BatchVector>& previous, double tolerance) {
  if (change_below(now[0][0][0], previous[0][0][0], tolerance) == 0 ||
      change_below(now[0][1][0], previous[0][1][0], tolerance) == 0) {
    return false;
  }
  for (std::size_t c = 0; c < now.size(); ++c) {
    const BatchVector& x = now[c];
    const BatchVector& p = previous[c];
    const int first = static_cast<int>(c) * kBatchLanes;
    std::int64_t failing = 0;
#pragma omp simd reduction(| : failing)
    for (int l = 0; l < kBatchLanes; ++l) {
      std::int64_t pass = 1;
      for (int j = kFirstStored; j < kBatchComponents; ++j) {
        pass &= class_change_below(x[j][l], p[j][l], tolerance);
      }
      failing |= (1 - pass) & static_cast<std::int64_t>(first + l < b.classes);
    }
    if (failing != 0) return false;
  }
  return true;
}

template <bool Diagonal, const auto& Terms>
void advance_classes(const ImplicitStep& solver, ClassBatch& b) {
  const auto chunks = static_cast<std::size_t>(b.chunks);
  b.scaled.resize(chunks);
  b.previous.resize(chunks);
  std::vector<Scaled>& k = scaled_of(b);
  for (std::size_t c = 0; c < chunks; ++c) {
    k[c] = {b.scaled[c].lane.data(), nullptr, b.step + c * kClassTerms};
    scale_lanes<Terms>(b.cell[c], k[c]);
  }
  std::vector<BatchVector>& now = b.now;
  std::vector<BatchVector>& previous = b.previous;
  class_iterate<Diagonal, Terms, true>(k, b, b.old, now, solver.dt);
  std::int64_t evaluations = 1;
  for (; evaluations < solver.iteration_limit; ++evaluations) {
    if (evaluations >= 2 && classes_converged(b, now, previous, solver.tolerance)) break;
    now.swap(previous);
    class_iterate<Diagonal, Terms, false>(k, b, previous, now, solver.dt);
  }
  b.evaluations = static_cast<int>(evaluations);
}

}  // namespace

namespace {

// The step's F and B entries of every term of the table, scaled.
template <const auto& Terms>
void fill_step_terms(const StepCoefficients& step, StepTerms& terms) {
  using equations::Source;
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (
        [&] {
          constexpr equations::Term t = Terms[I];
          if constexpr (t.source != Source::lane) {
            constexpr double scale = t.scale();
            terms.step[I] = scale * (t.source == Source::F ? step.F(t.k, t.l) : step.B(t.k, t.l));
          }
        }(),
        ...);
  }
  (std::make_index_sequence<Terms.size()>{});
}

}  // namespace

StepTerms step_terms(const StepCoefficients& step, bool both, bool zeeman) {
  StepTerms terms{};
  terms.both = both;
  terms.zeeman = zeeman;
  if (zeeman) {
    both ? fill_step_terms<equations::kTermsBothZeeman>(step, terms)
         : fill_step_terms<equations::kTermsZeeman>(step, terms);
  } else if (both) {
    fill_step_terms<equations::kTermsBoth>(step, terms);
  } else {
    fill_step_terms<equations::kTerms>(step, terms);
  }
  return terms;
}

namespace {

// With a magnetic field: the tables with the Zeeman terms.
void advance_zeeman_batch(const StepTerms& terms, const ImplicitStep& solver, DotBatch& b) {
  using equations::kTermsBothZeeman;
  using equations::kTermsZeeman;
  if (terms.both) {
    b.cell.diagonal ? advance<true, kTermsBothZeeman>(terms, solver, b)
                    : advance<false, kTermsBothZeeman>(terms, solver, b);
  } else {
    b.cell.diagonal ? advance<true, kTermsZeeman>(terms, solver, b)
                    : advance<false, kTermsZeeman>(terms, solver, b);
  }
}

}  // namespace

void advance_dot_batch(const StepTerms& terms, const ImplicitStep& solver, DotBatch& b) {
  using equations::kTerms;
  using equations::kTermsBoth;
  if (terms.zeeman) {
    advance_zeeman_batch(terms, solver, b);
  } else if (terms.both) {
    b.cell.diagonal ? advance<true, kTermsBoth>(terms, solver, b)
                    : advance<false, kTermsBoth>(terms, solver, b);
  } else {
    b.cell.diagonal ? advance<true, kTerms>(terms, solver, b)
                    : advance<false, kTerms>(terms, solver, b);
  }
}

void advance_class_batch(const ImplicitStep& solver, bool both, ClassBatch& b) {
  using equations::kTerms;
  using equations::kTermsBoth;
  bool diagonal = false;
  for (const BatchCoefficients& c : b.cell) diagonal = diagonal || c.diagonal;
  if (both) {
    diagonal ? advance_classes<true, kTermsBoth>(solver, b)
             : advance_classes<false, kTermsBoth>(solver, b);
  } else {
    diagonal ? advance_classes<true, kTerms>(solver, b) : advance_classes<false, kTerms>(solver, b);
  }
}

void advance_dot_batch(const StepCoefficients& step, const ImplicitStep& solver, DotBatch& b) {
  advance_dot_batch(step_terms(step), solver, b);
}

}  // namespace mps
