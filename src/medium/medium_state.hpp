#pragma once
// State of the quantum-dot medium on the grid.
//
// A dot cell is a four-level system |1>..|4> (two coupled two-level systems
// of trion and spin states) with density matrix
//   rho = I/4 + 1/2 sum_k u_k lambda_k,  k = 1..15,
// lambda_1..12 the off-diagonal and lambda_13..15 the diagonal generators.
// The relaxation towards equilibrium is factored out of what is stored:
//   u_k = exp(-t/T_k) w_k              k = 1..12
//   u_k = u_k,eq + exp(-t/T_k) w_k     k = 13, 14, 15
// so the equations for w carry no decay terms.  w16 is always 0 and pads
// each cell's vector to 16 values.
#include <array>
#include <cstdint>
#include <vector>

namespace mps {

inline constexpr int kStored = 16;  // w1..w16 per cell

// Levels 1 and 3 are the two ground (spin) states, 2 and 4 the trions
// hbar Delta above them; rho_kk is the population of level k.
struct Populations {
  double rho11 = 0.0, rho22 = 0.0, rho33 = 0.0, rho44 = 0.0;
};

// The diagonal components 13, 14, 15 of one cell: physical values u13..u15,
// their equilibrium values, or the stored w13..w15.
struct Diagonal {
  double u13 = 0.0, u14 = 0.0, u15 = 0.0;
};

// rho_kk from the physical diagonal components u13..u15 (single-precision
// surds widened to double, as the model defines them).
Populations populations(double u13, double u14, double u15);
inline Populations populations(const Diagonal& u) { return populations(u.u13, u.u14, u.u15); }

// Physical u13..u15 from the stored w13..w15: u_k = u_k,eq + e_k w_k, with
// e_k = exp(-t/T_k) the decay factor of the time t (index k = 1..15).
inline Diagonal physical_diagonal(const Diagonal& eq, const std::array<double, 16>& e,
                                  const Diagonal& w) {
  return {eq.u13 + e[13] * w.u13, eq.u14 + e[14] * w.u14, eq.u15 + e[15] * w.u15};
}

// Population flags occ1..occ4: 1 where rho_kk > 0.
using PopulationFlags = std::array<std::int32_t, 4>;
inline PopulationFlags occupied(const Populations& p) {
  return {p.rho11 > 0.0, p.rho22 > 0.0, p.rho33 > 0.0, p.rho44 > 0.0};
}

// The cells (left, right] in which the flags are evaluated (the cavity).
struct CellRange {
  std::int32_t left = 0, right = 0;
  bool contains(std::int32_t i) const { return left < i && i <= right; }
};

// What a cell needs from the medium update, decided once per block (and
// after a restore): cells never change kind during a run.
enum class CellKind : std::uint8_t {
  vacuum,   // no dots, no equilibrium values and w = 0: only E is updated
  passive,  // no dots, but stored or equilibrium values to carry along
  dot,      // quantum dots: E and w advanced together by the implicit step
};

struct MediumState {
  std::int32_t N = 0;
  std::array<std::vector<double>, 2> w;              // [level][16 i + k - 1], stored values
  std::vector<double> u13eq, u14eq, u15eq;           // [cell] equilibrium diagonal components
  std::array<std::vector<double>, 2> u13, u14, u15;  // [level][cell] physical values
  std::vector<PopulationFlags> occ;                  // [cell] population flags occ1..occ4
  std::vector<CellKind> kind;                        // [cell]
  std::vector<std::int32_t> medium_cells;            // cells 1..N-1 that are passive or dot

  void allocate(std::int32_t cells) {
    N = cells;
    const auto n = static_cast<std::size_t>(cells) + 1;
    for (auto& level : w) level.assign(n * kStored, 0.0);
    for (auto* v : {&u13eq, &u14eq, &u15eq}) v->assign(n, 0.0);
    for (auto* a : {&u13, &u14, &u15}) {
      for (auto& level : *a) level.assign(n, 0.0);
    }
    occ.assign(n, {0, 0, 0, 0});
    kind.assign(n, CellKind::vacuum);
    medium_cells.clear();
  }
  double* w_at(int level, std::int32_t cell) {
    return w[static_cast<std::size_t>(level)].data() + static_cast<std::size_t>(cell) * kStored;
  }
  const double* w_at(int level, std::int32_t cell) const {
    return w[static_cast<std::size_t>(level)].data() + static_cast<std::size_t>(cell) * kStored;
  }
  // w13..w15 of a cell (w_at holds w1..w16 at [0..15]).
  Diagonal stored_diagonal(int level, std::int32_t cell) const {
    const double* v = w_at(level, cell);
    return {v[12], v[13], v[14]};
  }
  Diagonal equilibrium(std::int32_t cell) const {
    const auto c = static_cast<std::size_t>(cell);
    return {u13eq[c], u14eq[c], u15eq[c]};
  }
  void set_physical(int level, std::int32_t cell, const Diagonal& u) {
    const auto l = static_cast<std::size_t>(level);
    const auto c = static_cast<std::size_t>(cell);
    u13[l][c] = u.u13;
    u14[l][c] = u.u14;
    u15[l][c] = u.u15;
  }
  Diagonal physical(int level, std::int32_t cell) const {
    const auto l = static_cast<std::size_t>(level);
    const auto c = static_cast<std::size_t>(cell);
    return {u13[l][c], u14[l][c], u15[l][c]};
  }
};

// Decay factors exp(-t/T_k), k = 1..15 (index 0 unused), at the mid time of
// a step and of the step before.
struct DecayFactors {
  std::array<double, 16> now{};
  std::array<double, 16> previous{};
};

DecayFactors decay_factors(std::int64_t J, double dt, const std::array<double, 16>& T);

// True when the equilibrium values mark the cell as holding dots.
inline bool has_dots(double u13eq, double u14eq, double u15eq) {
  return u13eq < 0.0 && ((u14eq == 0.0 && u15eq == 0.0) || (u14eq != 0.0 && u15eq < 0.0));
}

// Sorts the cells 1..N-1 into vacuum, passive and dot cells and gives the
// vacuum cells their constant flags (1 inside the cavity, where all four
// populations are 1/4, else 0).
void classify_cells(MediumState& m, const CellRange& cavity);

}  // namespace mps
