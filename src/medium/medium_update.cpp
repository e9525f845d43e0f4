#include "medium/medium_update.hpp"

#include <algorithm>
#include <numeric>

#include "medium/batch_io.hpp"
#include "medium/block_coefficients.hpp"
#include "medium/class_block.hpp"

namespace mps {

PopulationFlags population_flags(std::int32_t i, const Diagonal& u, const CellRange& cavity) {
  if (!cavity.contains(i)) return {0, 0, 0, 0};
  return occupied(populations(u));
}

namespace {

// Advances block `block` of the dot cells; its cost is that of its slowest
// lane.
BlockEffort advance_batch(const MediumSweep& sweep, std::int32_t block, CouplingCache& cache,
                          DotBatch& b) {
  auto& [f, m, k, mp, step, plan, observer] = sweep;
  BatchCells in;  // every lane of it is written by load_batch
  load_batch(sweep, block, b, in);
  population_blocks(sweep, block, in, cache, b.cell);
  const Lanes* eq = &m.eq[static_cast<std::size_t>(block) * 3];
  field_coefficients(mp, step, in, eq, b.cell);
  advance_dot_batch(step.terms, {step.dt, mp.iteration_limit, mp.tolerance}, b);
  store_batch(sweep, block, in, b);
  const auto used = b.evaluations.begin() + b.lanes;
  const std::int64_t evaluations = std::accumulate(b.evaluations.begin(), used, std::int64_t{0});
  return {evaluations, *std::max_element(b.evaluations.begin(), used)};
}

}  // namespace

// The new level holds step J-1's values until the cell is carried
// (MediumState::ready_new_w_level).
void carry_passive_cell(const MediumSweep& sweep, std::int32_t s) {
  MediumState& m = sweep.m;
  const std::int32_t i = m.cell[static_cast<std::size_t>(s)];
  const int nw = sweep.f.new_level();
  const Diagonal u =
      physical_diagonal(m.eq_slot(s), sweep.step.decay.now,
                        {m.w_slot(nw, s, 12), m.w_slot(nw, s, 13), m.w_slot(nw, s, 14)});
  m.set_phys_slot(nw, s, u);
  m.set_flags(i, population_flags(i, u, sweep.mp.cavity));
  for (int n = 0; n < kStored; ++n) m.w_slot(nw, s, n) = flush_tiny(m.w_slot(nw, s, n));
}

BlockEffort advance_dot_block(const MediumSweep& sweep, std::int32_t block, DotScratch& scratch) {
  if (sweep.m.classes.classes > 0) {
    return advance_class_block(sweep, block, scratch.cache, scratch.batch, scratch.classes);
  }
  return advance_batch(sweep, block, scratch.cache, scratch.batch);
}

}  // namespace mps
