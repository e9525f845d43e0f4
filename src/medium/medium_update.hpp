#pragma once
// One time step of the medium on cells 1..N-1 (after the H update).
//
// Cells without dots take the plain curl update of E in the field's sweep
// (field/field_update.hpp), which passes over the dot cells.  In a dot cell the
// field and the 16 stored values y = (Ex, Ey, w1..w16) are advanced
// together by the implicit midpoint rule
//   y_new = y_old + dt f((y_old + y_new)/2),
// solved by fixed-point iteration: the first iterate masks every negative
// (and every tiny) rate, later ones do not; the iteration stops when all 18
// relative changes fall below the tolerance or after `iteration_limit`
// evaluations.
#include <array>
#include <cstdint>
#include <vector>

#include "field/field_state.hpp"
#include "medium/dot_batch.hpp"
#include "medium/medium_parameters.hpp"
#include "medium/medium_state.hpp"
#include "medium/medium_step.hpp"

namespace mps {

// Which blocks of dot cells hold kBatchLanes consecutive cells (as in a
// dot layer): such a block loads its fields with vector loads instead of
// gathers.  Made from the slots' layout once classify_cells has run.
struct MediumPlan {
  std::vector<std::int32_t> block_start;  // [block] its first cell, or MediumState::kNoSlot
};
MediumPlan plan_medium(const MediumState& m);

// What a batch reads from its cells besides the stored values, lane by
// lane: the cells, their eps_r, cE and H at the new level at the cell and
// the one before it.
struct BatchCells {
  std::array<std::int32_t, kBatchLanes> cell{};
  Lanes eps_r, cE, hx, hx_before, hy, hy_before;
};

// A block of dot cells as it was stored at the new level: its cells, the
// batch (E of both levels in `old` and `now`, w flushed in `now`; lanes
// [0, batch.lanes) hold cells) and the population numerators of every lane
// (population_numerators, at the new level).
struct StoredBatch {
  std::int32_t block = 0;
  const BatchCells& cells;
  const DotBatch& batch;
  const std::array<Lanes, 4>& numerators;
};

// Watches the dot blocks of a step for whoever wants to know more of it
// than the new state (the run's diagnostics); the medium keeps nothing of
// it.  Called by the thread that stored a block, concurrently for
// different blocks.
class DotBlockObserver {
 public:
  DotBlockObserver() = default;
  DotBlockObserver(const DotBlockObserver&) = default;
  DotBlockObserver& operator=(const DotBlockObserver&) = default;
  virtual ~DotBlockObserver() = default;
  virtual void block_stored(const StoredBatch& stored) = 0;
};

// Everything one step of the medium reads (the field's H at the new level
// and E of step J-1, the coefficients, the plan) and writes (E of the dot
// cells, w, the physical diagonal and flags at the new level).
struct MediumSweep {
  FieldState& f;
  MediumState& m;
  const FieldCoefficients& k;
  const MediumParameters& mp;
  const MediumStep& step;
  const MediumPlan& plan;
  DotBlockObserver* observer = nullptr;  // none: nothing is reported
};

// The room a thread's dot blocks are worked in, kept from block to block.
struct DotScratch {
  CouplingCache cache;
  DotBatch batch;
  ClassBatch classes;  // of a broadened ensemble
};

// What a dot block cost: its right-hand-side evaluations (one per lane, or
// per class of a broadened ensemble) and the evaluations of its slowest
// lane (of all its classes with an ensemble), by which a scheduler
// foresees the block's time in the next step.
struct BlockEffort {
  std::int64_t evaluations = 0;
  std::int32_t cost = 0;
};

// Block `block` of the dot cells over one step: their E solved together
// with their medium (advance_dot_batch, or advance_class_batch for a
// broadened ensemble), stored at the new level; the observer is told.
// Each block is computed the same way whichever thread takes it.
BlockEffort advance_dot_block(const MediumSweep& sweep, std::int32_t block, DotScratch& scratch);

// Slot s of a passive cell (no dots): its stored values carried to the new
// level unchanged but for the flush of tiny values, its physical diagonal
// and flags made anew.
void carry_passive_cell(const MediumSweep& sweep, std::int32_t s);

// Population flags of cell i from its physical u13..u15: rho_kk > 0 inside
// the cavity, all 0 outside.
PopulationFlags population_flags(std::int32_t i, const Diagonal& u, const CellRange& cavity);

}  // namespace mps
