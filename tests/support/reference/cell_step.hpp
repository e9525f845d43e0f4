#pragma once
// One dot cell on its own: its state y = (Ex, Ey, w1..w16), its
// coefficients, the right-hand side written out for it from the equations'
// table, and the program's implicit step computed for it alone (lane 0 of a
// batch, the other lanes empty), for tests that follow a single cell or
// place cells in chosen lanes.
#include <array>
#include <bit>
#include <cstdint>
#include <limits>

#include "medium/dot_batch.hpp"
#include "medium/equations.hpp"
#include "medium/medium_state.hpp"

namespace mps::testing {

// The stored values w1..w16 of one cell, indexed as in the equations:
// w(k) is component k; v holds them at [k - 1] for whole-vector loops.
struct StoredValues {
  std::array<double, 16> v{};
  double& operator()(int k) { return v[static_cast<std::size_t>(k - 1)]; }
  double operator()(int k) const { return v[static_cast<std::size_t>(k - 1)]; }
  Diagonal diagonal() const { return {v[12], v[13], v[14]}; }
};

struct CellVector {
  double ex = 0.0;  // [V/m]
  double ey = 0.0;  // [V/m]
  StoredValues w;
};

// Everything of one cell and step that the equations read besides the
// step's F and B (equations::LaneCoefficient).
// The 1<->2 current and drive coefficients are those of kPair12
// (medium/transitions.hpp) under the pair's names.
struct CellCoefficients {
  double curlX = 0.0, curlY = 0.0;
  double equilibrium_x = 0.0, equilibrium_y = 0.0;                  // kEquilibriumX12, ..Y12
  double dephasing_x = 0.0, precession_x = 0.0, inversion_x = 0.0;  // of the Ex equation
  double precession_y = 0.0, dephasing_y = 0.0, inversion_y = 0.0;  // of the Ey equation
  double drive_u1 = 0.0, drive_u7 = 0.0;                            // kDriveU1, kDriveU7
  PopulationCoupling pop;
};

// Bit for bit, member by member (a double's bits, not its value: -0 and
// NaN count).
inline bool same_bits(const CellVector& a, const CellVector& b) {
  const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
  bool same = bits(a.ex) == bits(b.ex) && bits(a.ey) == bits(b.ey);
  for (std::size_t k = 0; k < a.w.v.size(); ++k) same = same && bits(a.w.v[k]) == bits(b.w.v[k]);
  return same;
}

inline void set_lane(BatchVector& b, int l, const CellVector& x) {
  b[0][l] = x.ex;
  b[1][l] = x.ey;
  for (int k = 1; k <= kStored; ++k) b[kFirstStored + k - 1][l] = x.w(k);
}

inline CellVector lane_of(const BatchVector& b, int l) {
  CellVector x;
  x.ex = b[0][l];
  x.ey = b[1][l];
  for (int k = 1; k <= kStored; ++k) x.w(k) = b[kFirstStored + k - 1][l];
  return x;
}

inline void set_lane(BatchCoefficients& b, int l, const CellCoefficients& c) {
  using namespace equations;
  const std::pair<LaneCoefficient, double> values[] = {{kCurlX, c.curlX},
                                                       {kCurlY, c.curlY},
                                                       {kEquilibriumX12, c.equilibrium_x},
                                                       {kEquilibriumY12, c.equilibrium_y},
                                                       {kDephasingX12, c.dephasing_x},
                                                       {kPrecessionX12, c.precession_x},
                                                       {kInversionX12, c.inversion_x},
                                                       {kPrecessionY12, c.precession_y},
                                                       {kDephasingY12, c.dephasing_y},
                                                       {kInversionY12, c.inversion_y},
                                                       {kDriveU1, c.drive_u1},
                                                       {kDriveU7, c.drive_u7}};
  for (const auto& [id, v] : values) b[id][l] = v;
  b.set_population(l, c.pop);
}

// The cell in lane 0 of a batch whose other lanes hold zeros.
inline DotBatch single_cell(const CellCoefficients& cell, const CellVector& old) {
  DotBatch b;
  b.lanes = 1;
  for (int l = 0; l < kBatchLanes; ++l) {
    set_lane(b.cell, l, l == 0 ? cell : CellCoefficients{});
    set_lane(b.old, l, l == 0 ? old : CellVector{});
  }
  return b;
}

// d/dt of y at the midpoint (old + now)/2, the cell on its own: every term
// of the equations' table, its coefficient scaled by its 0.5 or 0.25, each
// row summed from left to right.
inline void pseudospin_rhs(const StepCoefficients& step, const CellCoefficients& cell,
                           const CellVector& old, const CellVector& now, CellVector& rate) {
  using namespace equations;
  BatchCoefficients by_id{};  // the cell's coefficients under their ids, lane 0
  set_lane(by_id, 0, cell);
  const auto coefficient = [&](auto I) {
    constexpr Term t = kTerms[decltype(I)::value];
    if constexpr (t.source == Source::lane) {
      return t.scale() * by_id[static_cast<LaneCoefficient>(t.k)][0];
    } else {
      return t.scale() * (t.source == Source::F ? step.F(t.k, t.l) : step.B(t.k, t.l));
    }
  };
  const auto S = [&](auto m) { return old.w(decltype(m)::value) + now.w(decltype(m)::value); };
  const double SX = old.ex + now.ex, SY = old.ey + now.ey;
  const auto out = [&rate](int j, double r) {
    if (j == kEx) rate.ex = r;
    if (j == kEy) rate.ey = r;
    if (j >= kFirstStored) rate.w(j - kFirstStored + 1) = r;
  };
  if (cell.pop.diagonal) {
    lane_rates<true, kTerms>(coefficient, S, SX, SY, out);
  } else {
    lane_rates<false, kTerms>(coefficient, S, SX, SY, out);
  }
}

// The implicit step of the cell; returns the evaluations made.
inline int advance_dot_cell(const StepCoefficients& step, const CellCoefficients& cell,
                            const ImplicitStep& solver, const CellVector& old, CellVector& now) {
  DotBatch b = single_cell(cell, old);
  advance_dot_batch(step, solver, b);
  now = lane_of(b.now, 0);
  return b.evaluations[0];
}

}  // namespace mps::testing
