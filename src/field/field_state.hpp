#pragma once
// The electromagnetic state on the grid and the per-cell coefficients of the
// finite-difference update.
//
// Ex, Ey sit on the cells i = 1..N; Hx(i), Hy(i) sit between E(i) and
// E(i+1).  Every array has two time levels: `Jtoggle` names the level being
// computed ("new"), 1 - Jtoggle holds the previous step ("old"); a step
// overwrites the older level in place, so nothing is copied between steps.
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

// Per-cell coefficients of the field update, recomputed at every block start
// from the layer table (identical in every block).
struct FieldCoefficients {
  std::vector<double> eps_r;  // relative permittivity n(i)^2
  std::vector<double> cE;     // 1 / (eps0 dz n^2): curl coefficient of E [V s / (A m) ... per m]
  std::vector<double> cH;     // dt / (dz / (n^2 eps0 v^2)) = dt / (mu0 dz) for v = c/n
};

}  // namespace mps

namespace mps {

// Streaming loops over fewer cells than this run on the calling thread: a
// fork and barrier cost more than the work itself.  Results do not depend
// on it (each cell is computed the same way whichever thread takes it).
inline constexpr std::int32_t kMinCellsToFork = 20000;
// The same for the medium update, whose cells cost far more each.
inline constexpr std::int64_t kMinMediumCellsToFork = 64;

// body(i) for i = first..last, split statically over the threads when the
// range has at least `min_to_fork` cells, else on the calling thread without
// entering a parallel region at all (even a region that declines to fork
// costs a synchronisation per call, and the loop runs every step).
template <typename Body>
inline void for_each_cell(std::int32_t first, std::int32_t last, std::int64_t min_to_fork,
                          Body&& body) {
  if (static_cast<std::int64_t>(last) - first + 1 >= min_to_fork) {
#pragma omp parallel for schedule(static)
    for (std::int32_t i = first; i <= last; ++i) body(i);
  } else {
    for (std::int32_t i = first; i <= last; ++i) body(i);
  }
}

// The same for streaming kernels whose cells are independent and write only
// their own cell: the loops are marked for vectorisation, since the
// compiler cannot prove the arrays captured by the body do not overlap.
// Each cell is computed by the same operations, so results do not change.
template <typename Body>
inline void for_each_cell_simd(std::int32_t first, std::int32_t last, std::int64_t min_to_fork,
                               Body&& body) {
  if (static_cast<std::int64_t>(last) - first + 1 >= min_to_fork) {
#pragma omp parallel for simd schedule(static)
    for (std::int32_t i = first; i <= last; ++i) body(i);
  } else {
#pragma omp simd
    for (std::int32_t i = first; i <= last; ++i) body(i);
  }
}

}  // namespace mps
