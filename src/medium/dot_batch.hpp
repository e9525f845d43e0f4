#pragma once
// The implicit step of several dot cells at once, one cell per lane of the
// machine's vectors.
//
// The values of a batch are stored component by component (all lanes of
// Ex, then all lanes of Ey, w1, ...), so that every operation of the
// right-hand side (medium/equations.hpp) works on whole vectors.  Each lane
// computes its cell's derivatives from its own values only, term by term in
// the table's order, so a cell's result does not depend on the batch or lane
// it is computed in.  A lane whose iteration has stopped keeps its values;
// the work the other lanes still need is done on it too and thrown away.
#include <array>
#include <cstdint>
#include <vector>

#include "medium/equations.hpp"
#include "medium/lanes.hpp"
#include "medium/pseudospin.hpp"

namespace mps {

// Components of y = (Ex, Ey, w1..w16) in a batch: Ex at 0, Ey at 1 and w_k
// at k + 1.
inline constexpr int kBatchComponents = equations::kComponents;
inline constexpr int kFirstStored = 2;

// y of every lane.
struct BatchVector {
  std::array<Lanes, kBatchComponents> y;
  Lanes& operator[](int j) { return y[static_cast<std::size_t>(j)]; }
  const Lanes& operator[](int j) const { return y[static_cast<std::size_t>(j)]; }
};

// The cell coefficients of every lane (equations::LaneCoefficient).
struct BatchCoefficients {
  std::array<Lanes, equations::kLaneCoefficients> lane;
  bool diagonal = false;  // some lane has D13..D15 other than 0
  Lanes& operator[](equations::LaneCoefficient id) { return lane[static_cast<std::size_t>(id)]; }
  const Lanes& operator[](equations::LaneCoefficient id) const {
    return lane[static_cast<std::size_t>(id)];
  }
  // The population block of lane l.
  void set_population(int l, const PopulationCoupling& p) {
    using namespace equations;
    (*this)[kF13_14][l] = p.F13_14, (*this)[kF13_15][l] = p.F13_15;
    (*this)[kF14_15][l] = p.F14_15, (*this)[kB13_14][l] = p.B13_14;
    (*this)[kB13_15][l] = p.B13_15, (*this)[kB14_15][l] = p.B14_15;
    (*this)[kS13][l] = p.s13, (*this)[kS14][l] = p.s14, (*this)[kS15][l] = p.s15;
    (*this)[kD13][l] = p.D13, (*this)[kD14][l] = p.D14, (*this)[kD15][l] = p.D15;
    diagonal = diagonal || p.diagonal;
  }
  // The same block in every lane.
  void set_population(const PopulationCoupling& p) {
    using namespace equations;
    const auto fill = [this](LaneCoefficient entry, double v) { (*this)[entry].v.fill(v); };
    fill(kF13_14, p.F13_14), fill(kF13_15, p.F13_15), fill(kF14_15, p.F14_15);
    fill(kB13_14, p.B13_14), fill(kB13_15, p.B13_15), fill(kB14_15, p.B14_15);
    fill(kS13, p.s13), fill(kS14, p.s14), fill(kS15, p.s15);
    fill(kD13, p.D13), fill(kD14, p.D14), fill(kD15, p.D15);
    diagonal = diagonal || p.diagonal;
  }
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

// Advances every lane by the implicit midpoint rule
//   y_new = y_old + dt f((y_old + y_new)/2),
// solved by fixed-point iteration: the first iterate masks every negative
// (and every tiny) rate of the stored values, later ones do not; a lane
// stops when all 18 relative changes fall below the tolerance, all stop
// after `iteration_limit` evaluations.  `now` and `evaluations` of each
// lane are its result.
void advance_dot_batch(const StepCoefficients& step, const ImplicitStep& solver, DotBatch& batch);

// The step's F and B entries as the terms of the equations' table use
// them, each scaled by its term's factor: the same for every batch of a
// step, so made once per step.
// The step's F and B entries of the terms of the table in use: kTerms, or
// kTermsBoth when 3<->4 is driven as well (`both`); with a magnetic field
// (`zeeman`) kTermsZeeman or kTermsBothZeeman.
struct StepTerms {
  std::array<double, equations::kTermsBothZeeman.size()> step;
  bool both = false;
  bool zeeman = false;
};
StepTerms step_terms(const StepCoefficients& step, bool both = false, bool zeeman = false);
// advance_dot_batch with the step's terms made already.
void advance_dot_batch(const StepTerms& terms, const ImplicitStep& solver, DotBatch& batch);

// A dot cell of a broadened ensemble (core/spectral_classes.hpp): its
// classes in the lanes of `chunks` vectors, class c kBatchLanes + l in lane
// l of chunk c, each class a pseudospin of its own under the cell's field.
// The field is advanced with them: its rate is the cell's curl terms plus
// the currents of all classes, each class's current coefficients weighted
// by its share of the dots (kCurlX and kCurlY of the lanes are 0).  Lanes
// past the last class carry weight 0 and any finite values.
inline constexpr std::size_t kClassTerms = equations::kTermsBoth.size();
struct ClassBatch {
  int classes = 0, chunks = 0;
  std::vector<BatchCoefficients> cell;  // [chunk]
  std::vector<BatchVector> old, now;    // [chunk]: Ex, Ey the same in every lane
  // The step's F and B entries of every term per lane, kClassTerms per
  // chunk: the classes differ in their precession.
  const Lanes* step = nullptr;
  double curl_x = 0.0, curl_y = 0.0;  // (Hy(i) - Hy(i-1)) cE, (Hx(i) - Hx(i-1)) cE
  int evaluations = 0;
  // Room the step works in, kept from cell to cell.
  std::vector<BatchCoefficients> scaled;
  std::vector<BatchVector> previous;
};

// The implicit step of every class and the field together, as
// advance_dot_batch does for one class: the iteration ends when the field
// and every class's values have settled (or at the limit).  `both`: the
// table of both pairs driven.
void advance_class_batch(const ImplicitStep& solver, bool both, ClassBatch& b);

}  // namespace mps
