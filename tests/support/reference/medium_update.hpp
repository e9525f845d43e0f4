#pragma once
// E and the medium of one step in two passes: the plain E update of every
// cell 1..N-1 (the dot cells then set back to step J-1), then the medium
// cells, whose implicit step overwrites E of every dot cell.  The step's
// sweep skips the dot cells instead; both must give the same bits.
#include <cstdint>
#include <vector>

#include "medium/medium_update.hpp"
#include "simulation/scheduler.hpp"
#include "support/reference/field_update.hpp"

namespace mps::testing {

// H at the new level.  The medium cells are shared out over the threads
// from kMinMediumCellsToFork cells on, as in the step.  Returns the number
// of right-hand-side evaluations.
inline std::int64_t update_E_and_medium(FieldState& f, MediumState& m,
                                        const FieldCoefficients& coeffs, const MediumParameters& mp,
                                        const MediumStep& step) {
  update_E(f, coeffs, step.dt);
  // The batches read E of step J-1 at their cells in the new level, where
  // the step's sweep leaves it.
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  for (const std::int32_t i : m.medium_cells) {
    if (m.kind(i) != CellKind::dot) continue;
    const auto c = static_cast<std::size_t>(i);
    f.Ex[nw][c] = f.Ex[od][c];
    f.Ey[nw][c] = f.Ey[od][c];
  }
  m.ready_new_w_level(f.new_level(), true);
  const MediumPlan plan = plan_medium(m);
  const MediumSweep sweep{f, m, coeffs, mp, step, plan};
  DotBlockShare share;  // the threads' runs of dot blocks
  share.reset(m.dot_blocks());
  std::int64_t evaluations = 0;
  if (static_cast<std::int64_t>(m.medium_cells.size()) >= kMinMediumCellsToFork) {
    share.share(omp_get_max_threads());
#pragma omp parallel reduction(+ : evaluations)
    evaluations += advance_medium_in_team(sweep, share);
  } else {
    share.share(1);
    evaluations = advance_medium_in_team(sweep, share);
  }
  return evaluations;
}

}  // namespace mps::testing
