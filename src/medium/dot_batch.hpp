#pragma once
// The implicit step of several dot cells at once, one cell per lane of the
// machine's vectors.
//
// The values of a batch are stored component by component (all lanes of
// Ex, then all lanes of Ey, w1, ...), so that every operation of the
// right-hand side works on whole vectors.  Each lane computes exactly the
// operations of pseudospin_rhs and advance_dot_cell, in the same order, so
// a cell's result does not depend on the batch or lane it is computed in.
// A lane whose iteration has stopped keeps its values; the work the other
// lanes still need is done on it too and thrown away.
#include <array>
#include <cstdint>

#include "medium/lanes.hpp"
#include "medium/pseudospin.hpp"
#include "medium/rhs.hpp"

namespace mps {

// Components of y = (Ex, Ey, w1..w16) in a batch: Ex at 0, Ey at 1 and w_k
// at k + 1.
inline constexpr int kBatchComponents = 18;
inline constexpr int kFirstStored = 2;

// y of every lane.
struct BatchVector {
  std::array<Lanes, kBatchComponents> y;
  Lanes& operator[](int j) { return y[static_cast<std::size_t>(j)]; }
  const Lanes& operator[](int j) const { return y[static_cast<std::size_t>(j)]; }
  // Lane l from / to the vector of one cell.
  void set_lane(int l, const CellVector& x);
  CellVector lane(int l) const;
};

// The cell coefficients of every lane (those of CellCoefficients).
struct BatchCoefficients {
  Lanes curlX, curlY, gX, gY;
  Lanes aX1, aX7, aX13, aY1, aY7, aY13;
  Lanes s1, s7;
  Lanes F13_14, F13_15, F14_15, B13_14, B13_15, B14_15;
  Lanes s13, s14, s15;
  Lanes D13, D14, D15;
  bool diagonal = false;  // some lane has D13..D15 other than 0
  void set_lane(int l, const CellCoefficients& c);
};

// How the implicit step of a dot cell is solved.
struct ImplicitStep {
  double dt = 0.0;                   // [s]
  std::int64_t iteration_limit = 0;  // evaluations of the right-hand side, at most
  double tolerance = 0.0;            // relative change of every value that ends it
};

// A batch of up to kBatchLanes dot cells: lanes 0..lanes-1 hold cells; the
// others hold anything finite, are iterated along and leave with their old
// values.
struct DotBatch {
  int lanes = 0;
  BatchCoefficients cell;
  BatchVector old;  // y at the old level
  BatchVector now;  // y at the new level, after advance_dot_batch
  std::array<int, kBatchLanes> evaluations{};
};

// batch_rhs: pseudospin_rhs of every lane.
void batch_rhs(const StepCoefficients& step, const BatchCoefficients& cell, const BatchVector& old,
               const BatchVector& now, BatchVector& rate);

// advance_dot_cell of every lane: `now` and `evaluations` of each lane as
// advance_dot_cell gives them for that cell, bit for bit.
void advance_dot_batch(const StepCoefficients& step, const ImplicitStep& solver, DotBatch& batch);

}  // namespace mps
