#include "medium/batch_io.hpp"

#include <algorithm>
#include <cstring>

namespace mps {

namespace {

// The fields and coefficients of the lanes' cells, one lane at a time.  E
// of step J-1 is read from the new level: the field sweep leaves the dot
// cells' E there as it was (ready_new_level) until the batch stores its own.
void gather_cells(const MediumSweep& sweep, std::int32_t block, DotBatch& b, BatchCells& in) {
  auto& [f, m, k, mp, step, plan, observer] = sweep;
  const auto nw = static_cast<std::size_t>(f.new_level());
  const std::int32_t first = block * kBatchLanes;
  for (int l = 0; l < kBatchLanes; ++l) {
    const std::int32_t s = first + (l < b.lanes ? l : 0);
    const auto i = static_cast<std::size_t>(m.cell[static_cast<std::size_t>(s)]);
    in.cell[static_cast<std::size_t>(l)] = static_cast<std::int32_t>(i);
    in.eps_r[l] = k.eps_r[i], in.cE[l] = k.cE[i];
    in.hx[l] = f.Hx[nw][i], in.hx_before[l] = f.Hx[nw][i - 1];
    in.hy[l] = f.Hy[nw][i], in.hy_before[l] = f.Hy[nw][i - 1];
    b.old[0][l] = f.Ex[nw][i];
    b.old[1][l] = f.Ey[nw][i];
  }
}

// The same for a block of consecutive cells from cell i0 on: one vector
// load each (written out: the compiler would guard a loop against the
// arrays overlapping the batch).
void load_cells(const MediumSweep& sweep, std::int32_t i0, DotBatch& b, BatchCells& in) {
  auto& [f, m, k, mp, step, plan, observer] = sweep;
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto at = static_cast<std::size_t>(i0);
  const auto put = [](Lanes& to, const double* from) { std::memcpy(to.v.data(), from, sizeof to); };
  put(in.eps_r, k.eps_r.data() + at);
  put(in.cE, k.cE.data() + at);
  put(in.hx, f.Hx[nw].data() + at);
  put(in.hx_before, f.Hx[nw].data() + at - 1);
  put(in.hy, f.Hy[nw].data() + at);
  put(in.hy_before, f.Hy[nw].data() + at - 1);
  put(b.old[0], f.Ex[nw].data() + at);
  put(b.old[1], f.Ey[nw].data() + at);
  for (int l = 0; l < kBatchLanes; ++l) in.cell[static_cast<std::size_t>(l)] = i0 + l;
}

}  // namespace

void load_batch(const MediumSweep& sweep, std::int32_t block, DotBatch& b, BatchCells& in) {
  const MediumState& m = sweep.m;
  const std::int32_t first = block * kBatchLanes;
  b.lanes = std::min(kBatchLanes, m.dots - first);
  const std::int32_t i0 = sweep.plan.block_start[static_cast<std::size_t>(block)];
  if (i0 != MediumState::kNoSlot) {
    load_cells(sweep, i0, b, in);
  } else {
    gather_cells(sweep, block, b, in);
  }
  // w of step J-1, in the new level until the block stores its own.
  const auto nw = static_cast<std::size_t>(sweep.f.new_level());
  const Lanes* w = m.w[nw].data() + static_cast<std::size_t>(block) * kStored;
  for (int n = 0; n < kStored; ++n) store(b.old[kFirstStored + n], load(w[n]));
}

void store_batch(const MediumSweep& sweep, std::int32_t block, const BatchCells& in, DotBatch& b) {
  auto& [f, m, k, mp, step, plan, observer] = sweep;
  const int nw = f.new_level();
  const double e13 = step.decay.now[13], e14 = step.decay.now[14], e15 = step.decay.now[15];
  const auto q = static_cast<std::size_t>(block) * 3;
  // Whole vectors: the physical diagonal (physical_diagonal), the
  // population numerators (population_numerators) and the flags of the
  // populations (populations(), occupied()).
  const LaneVector u13 = load(m.eq[q]) + e13 * load(b.now[kFirstStored + 12]);
  const LaneVector u14 = load(m.eq[q + 1]) + e14 * load(b.now[kFirstStored + 13]);
  const LaneVector u15 = load(m.eq[q + 2]) + e15 * load(b.now[kFirstStored + 14]);
  Lanes* u = &m.phys[static_cast<std::size_t>(nw)][q];
  store(u[0], u13), store(u[1], u14), store(u[2], u15);
  const std::array<LaneVector, 4> n = population_numerators(u13, u14, u15);
  std::array<Lanes, 4> numerators;
  for (std::size_t p = 0; p < 4; ++p) store(numerators[p], n[p]);
  const auto bits = occupied_bits<LaneMaskVector>(n);
  std::array<std::int64_t, kBatchLanes> flags;
  std::memcpy(flags.data(), &bits, sizeof bits);
  Lanes* w = m.w[static_cast<std::size_t>(nw)].data() + static_cast<std::size_t>(block) * kStored;
  for (int j = 0; j < kBatchComponents; ++j) {  // flush_tiny lane by lane, stored from the register
    const LaneVector v = load(b.now[j]);
    const LaneVector flushed = ((v < kFlushBelow) & (v > -kFlushBelow)) ? LaneVector{} : v;
    store(b.now[j], flushed);
    if (j >= kFirstStored) store(w[j - kFirstStored], flushed);
  }
  std::uint8_t* __restrict flag_bits = m.flag_bits.data();
  double* __restrict ex = f.Ex[static_cast<std::size_t>(nw)].data();
  double* __restrict ey = f.Ey[static_cast<std::size_t>(nw)].data();
  for (int l = 0; l < b.lanes; ++l) {
    const std::int32_t i = in.cell[static_cast<std::size_t>(l)];
    flag_bits[i] =
        mp.cavity.contains(i) ? static_cast<std::uint8_t>(flags[static_cast<std::size_t>(l)]) : 0;
    ex[i] = b.now[0][l];
    ey[i] = b.now[1][l];
  }
  if (observer != nullptr) observer->block_stored({block, in, b, numerators});
}

MediumPlan plan_medium(const MediumState& m) {
  MediumPlan plan;
  plan.block_start.assign(static_cast<std::size_t>(m.dot_blocks()), MediumState::kNoSlot);
  for (std::int32_t b = 0; b < m.dot_blocks(); ++b) {
    const std::int32_t first = b * kBatchLanes;
    bool consecutive = first + kBatchLanes <= m.dots;
    for (std::int32_t l = 1; consecutive && l < kBatchLanes; ++l) {
      consecutive = m.cell[static_cast<std::size_t>(first) + static_cast<std::size_t>(l)] ==
                    m.cell[static_cast<std::size_t>(first)] + l;
    }
    if (consecutive)
      plan.block_start[static_cast<std::size_t>(b)] = m.cell[static_cast<std::size_t>(first)];
  }
  return plan;
}

}  // namespace mps
