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

struct Populations {
  double rho11 = 0.0, rho22 = 0.0, rho33 = 0.0, rho44 = 0.0;
};

// rho_kk from the physical diagonal components u13..u15 (single-precision
// surds widened to double, as the model defines them).
Populations populations(double u13, double u14, double u15);

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
  std::vector<std::array<std::int32_t, 4>> occ;      // [cell] population flags occ1..occ4
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
// vacuum cells their constant flags (1 inside (cavity_left, cavity_right],
// where all four populations are 1/4, else 0).
void classify_cells(MediumState& m, std::int32_t cavity_left, std::int32_t cavity_right);

}  // namespace mps
