#include "simulation/step_record.hpp"

#include <algorithm>
#include <limits>

namespace mps {

void StepRecord::reset(std::int32_t dots) {
  const auto blocks = static_cast<std::size_t>((dots + kBatchLanes - 1) / kBatchLanes);
  changed_later.assign(static_cast<std::size_t>(dots), 0);
  late_slots.clear();
  work_term.assign(static_cast<std::size_t>(dots), 0.0);
  previous_terms.assign(static_cast<std::size_t>(dots), 0.0);
  terms_complete = work_due = false;
  block_extremes.assign(blocks, {});
  block_max_ex.assign(blocks, -std::numeric_limits<double>::infinity());
}

void StepRecord::block_stored(const StoredBatch& stored) {
  const BatchCells& in = stored.cells;
  const DotBatch& b = stored.batch;
  const std::int32_t s0 = stored.block * kBatchLanes;
  const auto block = static_cast<std::size_t>(stored.block);
  double largest = -std::numeric_limits<double>::infinity();
  const std::uint8_t* later = changed_later.data() + static_cast<std::size_t>(s0);
  for (int l = 0; l < b.lanes; ++l) {
    const double a = std::fabs(b.now[0][l]);
    if (later[l] == 0) largest = a > largest ? a : largest;
  }
  block_max_ex[block] = largest;
  Lanes term;
#pragma omp simd
  for (int l = 0; l < kBatchLanes; ++l) {
    const CellStepFields e{b.now[0][l],
                           b.old[0][l],
                           b.now[1][l],
                           b.old[1][l],
                           in.hx[l] - in.hx_before[l],
                           in.hy[l] - in.hy_before[l]};
    term[l] = current_work(e, in.cE[l], dt);
  }
  std::copy_n(term.v.begin(), b.lanes, work_term.begin() + static_cast<std::ptrdiff_t>(s0));
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::array<double, 8> x = {inf, inf, inf, inf, -inf, -inf, -inf, -inf};
  const int from = std::max(extremes_first - s0, 0);
  const int to = std::min(extremes_last - s0, kBatchLanes);
  for (int l = from; l < to; ++l) {
    for (std::size_t k = 0; k < 4; ++k) {
      x[k] = std::min(x[k], stored.numerators[k][l]);
      x[k + 4] = std::max(x[k + 4], stored.numerators[k][l]);
    }
  }
  block_extremes[block] = x;
}

double StepRecord::max_ex(double max_ex) const {
  for (const double a : block_max_ex) max_ex = a > max_ex ? a : max_ex;
  return max_ex;
}

void complete_work_terms(const FieldState& f, const MediumState& m, const FieldCoefficients& k,
                         StepRecord& record) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  for (const std::int32_t s : record.late_slots) {
    const auto slot = static_cast<std::size_t>(s);
    const auto i = static_cast<std::size_t>(m.cell[slot]);
    const CellStepFields e{f.Ex[nw][i],
                           f.Ex[od][i],
                           f.Ey[nw][i],
                           f.Ey[od][i],
                           f.Hx[nw][i] - f.Hx[nw][i - 1],
                           f.Hy[nw][i] - f.Hy[nw][i - 1]};
    record.work_term[slot] = current_work(e, k.cE[i], record.dt);
  }
  record.terms_complete = true;
}

}  // namespace mps
