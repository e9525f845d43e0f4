#include "medium/class_block.hpp"

#include <algorithm>

#include "medium/batch_io.hpp"
#include "medium/block_coefficients.hpp"

namespace mps {

namespace {

// The coefficients of chunk c of a cell's classes from the cell's own
// (`base`): each class's current scaled by its share of the dots, that of
// its precession by its share times its detuning over Delta, the rest as
// they are; the population block is left to the caller.
void weigh_coefficients(const BatchCoefficients& base, const ClassStep& classes, int c, bool both,
                        BatchCoefficients& out) {
  using namespace equations;
  enum Factor : std::uint8_t { none, weight, tuned, population };
  // From the pairs' records: a class's current scales with its weight,
  // that of its precession with its weight times its detuning over Delta.
  static constexpr auto kFactor = [] {
    std::array<Factor, kLaneCoefficients> f{};
    for (const DrivenPair* pair : {&kPair12, &kPair34}) {
      for (const LaneCoefficient id :
           {pair->dephasing_x, pair->dephasing_y, pair->equilibrium_x, pair->equilibrium_y}) {
        f[id] = weight;
      }
      for (std::size_t k = 0; k < static_cast<std::size_t>(pair->inversion_terms); ++k) {
        f[pair->inversion_x[k]] = weight, f[pair->inversion_y[k]] = weight;
      }
      f[pair->precession_x] = tuned, f[pair->precession_y] = tuned;
    }
    for (int id = kF13_14; id <= kD15; ++id) f[static_cast<std::size_t>(id)] = population;
    return f;
  }();
  const auto chunk = static_cast<std::size_t>(c);
  const std::array<const Lanes*, 3> factor = {nullptr, &classes.weight[chunk],
                                              &classes.tuned_weight[chunk]};
  const int used = both ? kLaneCoefficients : kLaneCoefficients12;
  for (std::size_t id = 0; id < static_cast<std::size_t>(used); ++id) {
    if (kFactor[id] == population) continue;
    const Lanes& from = base.lane[id];
    Lanes& to = out.lane[id];
    if (kFactor[id] == none) {
      to = from;
      continue;
    }
    const Lanes& by = *factor[kFactor[id]];
#pragma omp simd
    for (int q = 0; q < kBatchLanes; ++q) to[q] = from[q] * by[q];
  }
}

// The coefficients of the classes of lane l's cell, chunk by chunk: the
// cell's field coefficients with each class's current weighted (and its
// precession's at its detuning), the curls kept apart, and the population
// block of each class from its own flags.
void class_coefficients(const MediumSweep& sweep, std::int32_t block, int l, const BatchCells& in,
                        CouplingCache& cache, ClassBatch& cb) {
  using namespace equations;
  auto& [f, m, k, mp, step, plan, observer] = sweep;
  BatchCells one;  // lane l's cell in every lane
  std::array<Lanes, 3> eq;
  for (int q = 0; q < kBatchLanes; ++q) {
    one.cell[static_cast<std::size_t>(q)] = in.cell[static_cast<std::size_t>(l)];
    one.eps_r[q] = in.eps_r[l], one.cE[q] = in.cE[l];
    one.hx[q] = in.hx[l], one.hx_before[q] = in.hx_before[l];
    one.hy[q] = in.hy[l], one.hy_before[q] = in.hy_before[l];
    for (std::size_t n = 0; n < 3; ++n) eq[n][q] = m.eq[static_cast<std::size_t>(block) * 3 + n][l];
  }
  BatchCoefficients base;
  field_coefficients(mp, step, one, eq.data(), base);
  cb.curl_x = base[kCurlX][0], cb.curl_y = base[kCurlY][0];
  base[kCurlX].v.fill(0.0), base[kCurlY].v.fill(0.0);
  const std::int32_t s = block * kBatchLanes + l;
  const Diagonal eq_s = m.eq_slot(s);
  for (int c = 0; c < cb.chunks; ++c) {
    BatchCoefficients& out = cb.cell[static_cast<std::size_t>(c)];
    weigh_coefficients(base, step.classes, c, mp.both_transitions, out);
    out.diagonal = false;
    const std::uint8_t* bits = m.classes.flags(s, c);
    bool shared = true;  // as mostly: every class's populations of one sign pattern
    for (int q = 1; q < kBatchLanes; ++q) shared = shared && bits[q] == bits[0];
    if (shared) {
      out.set_population(cache.get(mp, step, bits[0], eq_s));
      continue;
    }
    for (int q = 0; q < kBatchLanes; ++q) {
      out.set_population(q, cache.get(mp, step, bits[q], eq_s));
    }
  }
}

// The classes' new values into the class states (flushed, with their
// flags), and the cell's (field, weighted mean of w) into lane l of b.
void store_classes(const MediumSweep& sweep, std::int32_t block, int l, const BatchCells& in,
                   const ClassBatch& cb, DotBatch& b) {
  auto& [f, m, k, mp, step, plan, observer] = sweep;
  const int nw = f.new_level();
  const std::int32_t s = block * kBatchLanes + l;
  const auto q = static_cast<std::size_t>(block) * 3;
  const double e13 = step.decay.now[13], e14 = step.decay.now[14], e15 = step.decay.now[15];
  const bool inside = mp.cavity.contains(in.cell[static_cast<std::size_t>(l)]);
  // The weighted sum of each value, lane by lane over the chunks, then
  // over the lanes.
  std::array<LaneVector, kStored> sums{};
  for (int c = 0; c < cb.chunks; ++c) {
    const BatchVector& now = cb.now[static_cast<std::size_t>(c)];
    const LaneVector weight = load(step.classes.weight[static_cast<std::size_t>(c)]);
    Lanes* w = m.classes.at(nw, s, c);
    for (int n = 0; n < kStored; ++n) {
      const Lanes& v = now[kFirstStored + n];
      Lanes& out = w[n];
#pragma omp simd
      for (int p = 0; p < kBatchLanes; ++p) out[p] = flush_tiny(v[p]);
      sums[static_cast<std::size_t>(n)] += weight * load(out);
    }
    // The classes' populations (physical_diagonal, populations()) and flags.
    const LaneVector u13 = m.eq[q][l] + e13 * load(w[12]);
    const LaneVector u14 = m.eq[q + 1][l] + e14 * load(w[13]);
    const LaneVector u15 = m.eq[q + 2][l] + e15 * load(w[14]);
    const auto bits = occupied_bits<LaneMaskVector>(population_numerators(u13, u14, u15));
    std::uint8_t* flags = m.classes.flags(s, c);
    for (int p = 0; p < kBatchLanes; ++p)
      flags[p] = inside ? static_cast<std::uint8_t>(bits[p]) : 0;
  }
  b.now[0][l] = cb.now[0][0][0];
  b.now[1][l] = cb.now[0][1][0];
  for (int n = 0; n < kStored; ++n) {
    double mean = 0.0;
    for (int p = 0; p < kBatchLanes; ++p) mean += sums[static_cast<std::size_t>(n)][p];
    b.now[kFirstStored + n][l] = mean;
  }
  b.evaluations[static_cast<std::size_t>(l)] = cb.evaluations * cb.classes;
}

}  // namespace

BlockEffort advance_class_block(const MediumSweep& sweep, std::int32_t block, CouplingCache& cache,
                                DotBatch& b, ClassBatch& cb) {
  auto& [f, m, k, mp, step, plan, observer] = sweep;
  BatchCells in;  // every lane of it is written by load_batch
  load_batch(sweep, block, b, in);
  cb.classes = m.classes.classes;
  cb.chunks = m.classes.chunks;
  const auto chunks = static_cast<std::size_t>(cb.chunks);
  cb.cell.resize(chunks), cb.old.resize(chunks), cb.now.resize(chunks);
  cb.step = step.classes.terms.data();
  const int nw = f.new_level();
  std::int64_t evaluations = 0;
  for (int l = 0; l < b.lanes; ++l) {
    const std::int32_t s = block * kBatchLanes + l;
    class_coefficients(sweep, block, l, in, cache, cb);
    for (std::size_t c = 0; c < chunks; ++c) {
      BatchVector& old = cb.old[c];
      old[0].v.fill(b.old[0][l]), old[1].v.fill(b.old[1][l]);
      const Lanes* w = m.classes.at(nw, s, static_cast<int>(c));
      for (int n = 0; n < kStored; ++n) old[kFirstStored + n] = w[n];
    }
    advance_class_batch({step.dt, mp.iteration_limit, mp.tolerance}, mp.both_transitions, cb);
    store_classes(sweep, block, l, in, cb, b);
    evaluations += b.evaluations[static_cast<std::size_t>(l)];
  }
  for (int j = 0; j < kBatchComponents; ++j) {  // unused lanes leave as they came
    for (int l = b.lanes; l < kBatchLanes; ++l) b.now[j][l] = b.old[j][l];
  }
  store_batch(sweep, block, in, b);
  return {evaluations, static_cast<std::int32_t>(std::min<std::int64_t>(evaluations, 1 << 30))};
}

}  // namespace mps
