#include "medium/block_coefficients.hpp"

#include <algorithm>

namespace mps {

void field_coefficients(const MediumParameters& mp, const MediumStep& step, const BatchCells& in,
                        const Lanes* eq, BatchCoefficients& c) {
  using namespace equations;
#pragma omp simd
  for (int l = 0; l < kBatchLanes; ++l) {
    c[kCurlY][l] = (in.hx[l] - in.hx_before[l]) * in.cE[l];
    c[kCurlX][l] = (in.hy[l] - in.hy_before[l]) * in.cE[l];
  }
  pair_lane_coefficients<kPair12>(mp, step.pair12, in.eps_r, eq, c);
  if (mp.both_transitions) pair_lane_coefficients<kPair34>(mp, step.pair34, in.eps_r, eq, c);
  if (mp.zeeman) zeeman_lane_coefficients(step.zeeman, eq, c);
}

void population_blocks(const MediumSweep& sweep, std::int32_t block, const BatchCells& in,
                       CouplingCache& cache, BatchCoefficients& c) {
  const MediumState& m = sweep.m;
  const auto flags = [&](int l) {
    return m.flag_bits[static_cast<std::size_t>(in.cell[static_cast<std::size_t>(l)])];
  };
  const std::int32_t first = block * kBatchLanes;
  const auto eq = [&](int l) { return m.eq_slot(first + l); };
  const int lanes = std::min(kBatchLanes, m.dots - first);
  bool shared = true;
  for (int l = 1; l < lanes; ++l) shared = shared && flags(l) == flags(0) && eq(l) == eq(0);
  c.diagonal = false;
  const auto put = [&c](int l, const PopulationCoupling& p) { c.set_population(l, p); };
  if (shared) {
    c.set_population(cache.get(sweep.mp, sweep.step, flags(0), eq(0)));
    return;
  }
  for (int l = 0; l < kBatchLanes; ++l) {
    const int from = l < lanes ? l : 0;  // unused lanes take lane 0's block
    put(l, cache.get(sweep.mp, sweep.step, flags(from), eq(from)));
  }
}

}  // namespace mps
