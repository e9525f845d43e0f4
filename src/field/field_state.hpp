#pragma once
// The electromagnetic state on the grid and the per-cell coefficients of the
// finite-difference update.
//
// Ex, Ey sit on the cells i = 1..N; Hx(i), Hy(i) sit between E(i) and
// E(i+1).  Every array has two time levels: `Jtoggle` names the level being
// computed ("new"), 1 - Jtoggle holds the previous step ("old").  A step
// updates the new level in place from step J-1's values
// (ready_new_level); the old level then holds step J-1 everywhere or only
// at the cells the step and its caller read it at.
#include <array>
#include <cstdint>
#include <vector>

namespace mps {

struct FieldState {
  std::int32_t N = 0;                         // cells 1..N are used; index 0 stays 0
  std::array<std::vector<double>, 2> Ex, Ey;  // [level][cell] electric field [V/m]
  std::array<std::vector<double>, 2> Hx, Hy;  // [level][cell] magnetic field [A/m]
  int Jtoggle = 0;                            // level of the step being computed

  int new_level() const { return Jtoggle; }
  int old_level() const { return 1 - Jtoggle; }

  void allocate(std::int32_t cells) {
    N = cells;
    const auto n = static_cast<std::size_t>(cells) + 1;
    for (auto* f : {&Ex, &Ey, &Hx, &Hy}) {
      for (auto& level : *f) level.assign(n, 0.0);
    }
  }
};

// Cells first..last whose cE and cH are the same (`uniform`: a layer, taken
// by the update as one number each) or each their own (graded cells, short
// layers).
struct CoefficientRun {
  // Shorter runs go with the cells of their own: a loop of a few vectors
  // costs more than the coefficients' stream it spares.
  static constexpr std::int32_t kMinUniform = 64;
  std::int32_t first = 1, last = 0;
  bool uniform = false;
};

// Per-cell coefficients of the field update, recomputed at every block start
// from the layer table (identical in every block).
struct FieldCoefficients {
  std::vector<double> eps_r;  // relative permittivity n(i)^2
  std::vector<double> cE;     // 1 / (eps0 dz n^2): curl coefficient of E [V s / (A m) ... per m]
  std::vector<double> cH;     // dt / (dz / (n^2 eps0 v^2)) = dt / (mu0 dz) for v = c/n
  std::vector<CoefficientRun> runs;  // covering 1..N (coefficient_runs)
};

}  // namespace mps
