#pragma once
// Field profile and the H and E updates of the Yee scheme along z.
#include <vector>

#include "core/parallel.hpp"
#include "field/field_state.hpp"
#include "input/structure.hpp"

namespace mps {

// Per-cell n(i), eps_r, cE, cH for cells 1..N from the layer table; graded
// layers step n linearly from their left to their right index.
void compute_field_profile(const StructureProfile& structure, double dz, double dt,
                           FieldCoefficients& coeffs);

// The runs of cells 1..N of the same coefficients: runs of at least
// CoefficientRun::kMinUniform cells are uniform, the cells between them
// form runs of their own.
std::vector<CoefficientRun> coefficient_runs(const FieldCoefficients& coeffs);

// A run of consecutive cells first..last of the plain E update; `counted`
// when their Ex is final after it, so the field maximum of the step takes
// them there (not so for cells a source or an end changes afterwards).
struct CellRun {
  std::int32_t first = 1, last = 0;
  bool counted = true;
};

// An addition to H_new of one cell right after its H update (a source's
// plane); none when cell < 1.
struct HCorrection {
  std::int32_t cell = -1;
  double dhx = 0.0, dhy = 0.0;
};

// Readies the new level (step J-2) for the sweep, which updates it in
// place: it takes step J-1's values.  With `whole_old_level` they are
// copied, and the old level keeps all of step J-1 (as the snapshot and the
// budget of a block's end need); else the old level's values at the `kept`
// cells (sorted, disjoint spans) are copied and the two levels trade their
// arrays, so the old level holds step J-1 only there: a step then streams
// one level of the fields instead of two.
void ready_new_level(FieldState& f, const std::vector<CellSpan>& kept, bool whole_old_level);

// One step of the Yee scheme on cells 1..N-1, in one sweep over the new
// level, which holds step J-1 (ready_new_level): H from E at step J-1,
//   Hx_new(i) = Hx_old(i) + cH(i) (Ey_old(i+1) - Ey_old(i))
//   Hy_new(i) = Hy_old(i) - cH(i) (Ex_old(i+1) - Ex_old(i)),
// `fix` added, then H(N) = H(N-1) (the curl of E at the last cell is zero);
// E of the cells of `runs` as in a cell without dots, H at the new level,
//   curlX = (Hy(i) - Hy(i-1)) cE(i),  curlY = (Hx(i) - Hx(i-1)) cE(i)
//   Ex_new = Ex_old + dt (-curlX),    Ey_new = Ey_old + dt curlY
// (dEx/dt = -(1/(eps0 eps_r)) dHy/dz, dEy/dt = (1/(eps0 eps_r)) dHx/dz),
// magnitudes below kFlushBelow stored as 0; the other cells keep step J-1.
// Tile by tile, H of a tile and then E of its cells, so each cell's values
// are read from the cache the second time.  Called by every thread of a
// parallel region, which share 1..N-1 (all on the caller outside a region);
// returns once every thread's H is done (E of the first cell of a thread's
// share, which the thread before reads for its last H, waits for that),
// with the largest |Ex_new| over this thread's counted cells (-inf when
// none; NaN passed over), so the field maximum costs no pass of its own.
double update_fields_in_team(FieldState& f, const FieldCoefficients& coeffs, double dt,
                             const std::vector<CellRun>& runs, const HCorrection& fix);

}  // namespace mps
