#include "medium/medium_update.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>

namespace mps {

PopulationFlags population_flags(std::int32_t i, const Diagonal& u, const CellRange& cavity) {
  if (!cavity.contains(i)) return {0, 0, 0, 0};
  return occupied(populations(u));
}

namespace {

inline double flush_tiny(double x) { return std::fabs(x) < kFlushBelow ? 0.0 : x; }

// The population blocks of the lanes' cells (from their flags and
// equilibria); a block shared by all lanes, as in a uniform dot layer, is
// looked up once.
void population_blocks(const MediumSweep& loop, std::int32_t block, const BatchCells& in,
                       CouplingCache& cache, BatchCoefficients& c) {
  const MediumState& m = loop.m;
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
    c.set_population(cache.get(loop.mp, loop.step, flags(0), eq(0)));
    return;
  }
  for (int l = 0; l < kBatchLanes; ++l) {
    const int from = l < lanes ? l : 0;  // unused lanes take lane 0's block
    put(l, cache.get(loop.mp, loop.step, flags(from), eq(from)));
  }
}

// The fields and coefficients of the lanes' cells, one lane at a time.  E
// of step J-1 is read from the new level: the field sweep leaves the dot
// cells' E there as it was (ready_new_level) until the batch stores its own.
void gather_cells(const MediumSweep& loop, std::int32_t block, DotBatch& b, BatchCells& in) {
  auto& [f, m, k, mp, step, plan, observer] = loop;
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
void load_cells(const MediumSweep& loop, std::int32_t i0, DotBatch& b, BatchCells& in) {
  auto& [f, m, k, mp, step, plan, observer] = loop;
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

// Block `block` of dot cells at the old level into the batch, with what
// its coefficients are made of.  Unused lanes (past the last dot cell)
// take the fields and coefficients of lane 0 and their own zeros.
void load_batch(const MediumSweep& loop, std::int32_t block, DotBatch& b, BatchCells& in) {
  const MediumState& m = loop.m;
  const std::int32_t first = block * kBatchLanes;
  b.lanes = std::min(kBatchLanes, m.dots - first);
  const std::int32_t i0 = loop.plan.block_start[static_cast<std::size_t>(block)];
  if (i0 != MediumState::kNoSlot) {
    load_cells(loop, i0, b, in);
  } else {
    gather_cells(loop, block, b, in);
  }
  // w of step J-1, in the new level until the block stores its own.
  const auto nw = static_cast<std::size_t>(loop.f.new_level());
  const Lanes* w = m.w[nw].data() + static_cast<std::size_t>(block) * kStored;
  for (int n = 0; n < kStored; ++n) store(b.old[kFirstStored + n], load(w[n]));
}

// The coefficients of every lane: the curls of H at the new level, and
// each driven pair's current and drive (pair_lane_coefficients); eq holds
// u13eq..u15eq of the lanes.
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
}

// The new level of the block: physical diagonal, stored values (flushed)
// and, per cell, the population flags and fields.
void store_batch(const MediumSweep& loop, std::int32_t block, const BatchCells& in, DotBatch& b) {
  auto& [f, m, k, mp, step, plan, observer] = loop;
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
void class_coefficients(const MediumSweep& loop, std::int32_t block, int l, const BatchCells& in,
                        CouplingCache& cache, ClassBatch& cb) {
  using namespace equations;
  auto& [f, m, k, mp, step, plan, observer] = loop;
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
void store_classes(const MediumSweep& loop, std::int32_t block, int l, const BatchCells& in,
                   const ClassBatch& cb, DotBatch& b) {
  auto& [f, m, k, mp, step, plan, observer] = loop;
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

// A block of dot cells of a broadened ensemble, cell by cell, each with all
// its classes (advance_class_batch); the block is then stored as one of
// single-class cells is, with the classes' mean.  Its cost counts one
// evaluation per class and evaluation.
BlockEffort advance_class_block(const MediumSweep& loop, std::int32_t block, CouplingCache& cache,
                                DotBatch& b, ClassBatch& cb) {
  auto& [f, m, k, mp, step, plan, observer] = loop;
  BatchCells in;  // every lane of it is written by load_batch
  load_batch(loop, block, b, in);
  cb.classes = m.classes.classes;
  cb.chunks = m.classes.chunks;
  const auto chunks = static_cast<std::size_t>(cb.chunks);
  cb.cell.resize(chunks), cb.old.resize(chunks), cb.now.resize(chunks);
  cb.step = step.classes.terms.data();
  const int nw = f.new_level();
  std::int64_t evaluations = 0;
  for (int l = 0; l < b.lanes; ++l) {
    const std::int32_t s = block * kBatchLanes + l;
    class_coefficients(loop, block, l, in, cache, cb);
    for (std::size_t c = 0; c < chunks; ++c) {
      BatchVector& old = cb.old[c];
      old[0].v.fill(b.old[0][l]), old[1].v.fill(b.old[1][l]);
      const Lanes* w = m.classes.at(nw, s, static_cast<int>(c));
      for (int n = 0; n < kStored; ++n) old[kFirstStored + n] = w[n];
    }
    advance_class_batch({step.dt, mp.iteration_limit, mp.tolerance}, mp.both_transitions, cb);
    store_classes(loop, block, l, in, cb, b);
    evaluations += b.evaluations[static_cast<std::size_t>(l)];
  }
  for (int j = 0; j < kBatchComponents; ++j) {  // unused lanes leave as they came
    for (int l = b.lanes; l < kBatchLanes; ++l) b.now[j][l] = b.old[j][l];
  }
  store_batch(loop, block, in, b);
  return {evaluations, static_cast<std::int32_t>(std::min<std::int64_t>(evaluations, 1 << 30))};
}

// Advances block `block` of the dot cells; its cost is that of its slowest
// lane.
BlockEffort advance_batch(const MediumSweep& loop, std::int32_t block, CouplingCache& cache,
                          DotBatch& b) {
  auto& [f, m, k, mp, step, plan, observer] = loop;
  BatchCells in;  // every lane of it is written by load_batch
  load_batch(loop, block, b, in);
  population_blocks(loop, block, in, cache, b.cell);
  const Lanes* eq = &m.eq[static_cast<std::size_t>(block) * 3];
  field_coefficients(mp, step, in, eq, b.cell);
  advance_dot_batch(step.terms, {step.dt, mp.iteration_limit, mp.tolerance}, b);
  store_batch(loop, block, in, b);
  const auto used = b.evaluations.begin() + b.lanes;
  const std::int64_t evaluations = std::accumulate(b.evaluations.begin(), used, std::int64_t{0});
  return {evaluations, *std::max_element(b.evaluations.begin(), used)};
}

}  // namespace

PopulationCoupling cell_population_coupling(const MediumParameters& mp, const PopulationFlags& occ,
                                            double t, const Diagonal& eq) {
  if (mp.model == Model::legacy) {
    return population_coupling(working_tau(mp.tau, occ), mp.gamma, t, eq.u13, eq.u14, eq.u15);
  }
  return rate_equation_coupling(working_channels(mp.channels, occ), mp.T, t, eq.u13, eq.u14,
                                eq.u15);
}

namespace {

// The classes' part of the step (ClassStep): each class's terms as the
// step's, those of a precession pair scaled by the class's detuning over
// Delta.
template <const auto& Terms>
void prepare_class_step(const MediumParameters& mp, MediumStep& step) {
  using equations::Coupling;
  const auto K = static_cast<int>(mp.classes.size());
  const auto chunks = static_cast<std::size_t>((K + kBatchLanes - 1) / kBatchLanes);
  ClassStep& cs = step.classes;
  cs.terms.resize(chunks * kClassTerms);
  cs.weight.resize(chunks);
  cs.tuned_weight.resize(chunks);
  for (std::size_t c = 0; c < chunks; ++c) {
    for (int l = 0; l < kBatchLanes; ++l) {
      const int n = static_cast<int>(c) * kBatchLanes + l;
      const SpectralClass& q = mp.classes[static_cast<std::size_t>(std::min(n, K - 1))];
      const double ratio = (mp.detuning + q.offset) / mp.detuning;
      const double weight = n < K ? q.weight : 0.0;
      cs.weight[c][l] = weight;
      cs.tuned_weight[c][l] = weight * ratio;
      for (std::size_t I = 0; I < Terms.size(); ++I) {
        const Coupling coupling = Terms[I].coupling;
        const bool precession =
            coupling == Coupling::detuning || coupling == Coupling::minus_detuning;
        const double v = step.terms.step[I];
        cs.terms[c * kClassTerms + I][l] = precession ? v * ratio : v;
      }
    }
  }
}

}  // namespace

void prepare_medium_step(const MediumParameters& mp, std::int64_t J, double dt, MediumStep& step) {
  step.dt = dt;
  step.t = (static_cast<double>(J) + 0.5) * dt;
  const double t = step.t;
  const double p34 = mp.both_transitions ? mp.dipole34 : 0.0;
  step_coefficients(t, mp.detuning, mp.dipole, mp.T, step.coeffs, p34);
  step.terms = step_terms(step.coeffs, mp.both_transitions);
  step.decay = decay_factors(J, dt, mp.T);
  step.pair12 = pair_step(kPair12, mp, t, step.decay);
  if (mp.both_transitions) step.pair34 = pair_step(kPair34, mp, t, step.decay);
  if (!mp.classes.empty()) {
    mp.both_transitions ? prepare_class_step<equations::kTermsBoth>(mp, step)
                        : prepare_class_step<equations::kTerms>(mp, step);
  }
}

namespace {

// Bit for bit: a cached result is reused only for the very same values.
bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

}  // namespace

const PopulationCoupling& CouplingCache::get(const MediumParameters& mp, const MediumStep& step,
                                             std::uint8_t flag_bits, const Diagonal& eq) {
  Entry& e = entries_[flag_bits & 15u];
  if (!e.valid || !same_bits(e.eq.u13, eq.u13) || !same_bits(e.eq.u14, eq.u14) ||
      !same_bits(e.eq.u15, eq.u15)) {
    e.value = cell_population_coupling(mp, unpack_flags(flag_bits), step.t, eq);
    e.eq = eq;
    e.valid = true;
  }
  return e.value;
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
