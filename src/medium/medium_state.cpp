#include "medium/medium_state.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "core/run_parameters.hpp"
#include "medium/exp_once.hpp"

namespace mps {

DecayFactors decay_factors(std::int64_t J, double dt, const std::array<double, 16>& T) {
  DecayFactors d;
  const double t_now = (static_cast<double>(J) + 0.5) * dt;
  const double t_prev = (static_cast<double>(J) - 0.5) * dt;
  ExpOnce exp;
  for (std::size_t k = 1; k <= 15; ++k) {
    d.now[k] = exp(-(t_now / T[k]));
    d.previous[k] = exp(-(t_prev / T[k]));
  }
  return d;
}

void MediumState::allocate(std::int32_t cells) {
  N = cells;
  const auto n = static_cast<std::size_t>(cells) + 1;
  slot.assign(n, kNoSlot);
  flag_bits.assign(n, 0);
  cell.clear();
  kind_of.clear();
  for (auto& level : w) level.clear();
  eq.clear();
  for (auto& level : phys) level.clear();
  medium_cells.clear();
  passive_slots.clear();
  dots = 0;
}

std::int32_t MediumState::make_slot(std::int32_t c) {
  if (c != kNoSlot && has_slot(c)) return slot_of(c);
  const auto s = static_cast<std::int32_t>(cell.size());
  if (s % kBatchLanes == 0) {  // a new block, all zeros
    for (auto& level : w) level.resize(level.size() + kStored, Lanes{});
    eq.resize(eq.size() + 3, Lanes{});
    for (auto& level : phys) level.resize(level.size() + 3, Lanes{});
  }
  cell.push_back(c);
  kind_of.push_back(CellKind::vacuum);
  if (c != kNoSlot) slot[static_cast<std::size_t>(c)] = s;
  return s;
}

namespace {

bool is_plus_zero(double x) { return std::bit_cast<std::uint64_t>(x) == 0; }

void set_diagonal(std::vector<Lanes>& v, std::int32_t s, const Diagonal& u) {
  const auto i = static_cast<std::size_t>(s / kBatchLanes) * 3;
  const int l = s % kBatchLanes;
  v[i][l] = u.u13;
  v[i + 1][l] = u.u14;
  v[i + 2][l] = u.u15;
}

}  // namespace

void MediumState::set_phys_slot(int level, std::int32_t s, const Diagonal& u) {
  set_diagonal(phys[static_cast<std::size_t>(level)], s, u);
}

void MediumState::ready_new_w_level(int new_level, bool whole_old_level) {
  std::vector<Lanes>& to = w[static_cast<std::size_t>(new_level)];
  std::vector<Lanes>& from = w[static_cast<std::size_t>(1 - new_level)];
  if (whole_old_level) {
    std::copy(from.begin(), from.end(), to.begin());
  } else {
    to.swap(from);
  }
  if (classes.classes > 0) {
    std::vector<Lanes>& cto = classes.w[static_cast<std::size_t>(new_level)];
    std::vector<Lanes>& cfrom = classes.w[static_cast<std::size_t>(1 - new_level)];
    if (whole_old_level) {
      std::copy(cfrom.begin(), cfrom.end(), cto.begin());
    } else {
      cto.swap(cfrom);
    }
  }
}

std::array<double, kStored> MediumState::w_at(int level, std::int32_t c) const {
  std::array<double, kStored> v{};
  if (has_slot(c)) {
    for (int n = 0; n < kStored; ++n) v[static_cast<std::size_t>(n)] = w_slot(level, slot_of(c), n);
  }
  return v;
}

void MediumState::set_w(int level, std::int32_t c, int n, double v) {
  if (has_slot(c) || !is_plus_zero(v)) w_slot(level, make_slot(c), n) = v;
}

void MediumState::set_equilibrium(std::int32_t c, const Diagonal& u) {
  if (has_slot(c) || !is_plus_zero(u)) set_diagonal(eq, make_slot(c), u);
}

void MediumState::set_physical(int level, std::int32_t c, const Diagonal& u) {
  if (has_slot(c) || !is_plus_zero(u)) set_phys_slot(level, make_slot(c), u);
}

namespace {

CellKind kind_of_slot(const MediumState& m, std::int32_t s) {
  const Diagonal eq = m.eq_slot(s);
  if (has_dots(eq.u13, eq.u14, eq.u15)) return CellKind::dot;
  bool carries = eq.u13 != 0.0 || eq.u14 != 0.0 || eq.u15 != 0.0;
  for (int level = 0; level < 2 && !carries; ++level) {
    for (int n = 0; n < kStored; ++n) carries = carries || m.w_slot(level, s, n) != 0.0;
  }
  return carries ? CellKind::passive : CellKind::vacuum;
}

// True when slot s holds nothing but +0.
bool holds_nothing(const MediumState& m, std::int32_t s) {
  bool empty = is_plus_zero(m.eq_slot(s)) && is_plus_zero(m.phys_slot(0, s)) &&
               is_plus_zero(m.phys_slot(1, s));
  for (int level = 0; level < 2 && empty; ++level) {
    for (int n = 0; n < kStored; ++n) empty = empty && is_plus_zero(m.w_slot(level, s, n));
  }
  return empty;
}

// Copies everything of slot s of `from` to slot t of `to`.
void copy_slot(const MediumState& from, std::int32_t s, MediumState& to, std::int32_t t) {
  to.kind_of[static_cast<std::size_t>(t)] = from.kind_of[static_cast<std::size_t>(s)];
  set_diagonal(to.eq, t, from.eq_slot(s));
  for (int level = 0; level < 2; ++level) {
    to.set_phys_slot(level, t, from.phys_slot(level, s));
    for (int n = 0; n < kStored; ++n) to.w_slot(level, t, n) = from.w_slot(level, s, n);
  }
}

// Rebuilds the slots: the dot cells first, padded to whole blocks, then
// the passive cells, then the rest, each group in the order of its cells.
void rebuild_slots(MediumState& m, std::vector<std::int32_t> keep) {
  const auto rank = [&m](std::int32_t s) {
    const CellKind k = m.kind_of[static_cast<std::size_t>(s)];
    return k == CellKind::dot ? 0 : k == CellKind::passive ? 1 : 2;
  };
  std::sort(keep.begin(), keep.end(), [&](std::int32_t a, std::int32_t b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return m.cell[static_cast<std::size_t>(a)] < m.cell[static_cast<std::size_t>(b)];
  });
  MediumState old = std::move(m);
  m = MediumState{};
  m.allocate(old.N);
  m.flag_bits = std::move(old.flag_bits);
  // The dot cells keep their order (by cell), and with it their classes.
  m.classes = std::move(old.classes);
  for (const std::int32_t s : keep) {
    const CellKind k = old.kind_of[static_cast<std::size_t>(s)];
    if (k != CellKind::dot && m.dots == static_cast<std::int32_t>(m.cell.size())) {
      while (m.cell.size() % kBatchLanes != 0) m.make_slot(MediumState::kNoSlot);
    }
    const std::int32_t t = m.make_slot(old.cell[static_cast<std::size_t>(s)]);
    copy_slot(old, s, m, t);
    if (k == CellKind::dot) ++m.dots;
    if (k == CellKind::passive) m.passive_slots.push_back(t);
  }
}

}  // namespace

void classify_cells(MediumState& m, const CellRange& cavity) {
  std::vector<std::int32_t> keep;
  for (std::int32_t s = 0; s < static_cast<std::int32_t>(m.cell.size()); ++s) {
    const std::int32_t c = m.cell[static_cast<std::size_t>(s)];
    if (c == MediumState::kNoSlot) continue;
    const bool interior = 1 <= c && c < m.N;
    m.kind_of[static_cast<std::size_t>(s)] = interior ? kind_of_slot(m, s) : CellKind::vacuum;
    if (m.kind_of[static_cast<std::size_t>(s)] != CellKind::vacuum || !holds_nothing(m, s)) {
      keep.push_back(s);
    }
  }
  rebuild_slots(m, std::move(keep));
  m.medium_cells.clear();
  for (std::int32_t i = 1; i < m.N; ++i) {
    if (m.kind(i) == CellKind::vacuum) {
      const std::int32_t flag = cavity.contains(i) ? 1 : 0;
      m.set_flags(i, {flag, flag, flag, flag});
    } else {
      m.medium_cells.push_back(i);
    }
  }
}

void ready_class_states(MediumState& m, int classes) {
  ClassStates& e = m.classes;
  if (classes <= 1) {
    e = {};
    return;
  }
  const int chunks = (classes + kBatchLanes - 1) / kBatchLanes;
  const std::size_t size =
      static_cast<std::size_t>(m.dots) * static_cast<std::size_t>(chunks) * kStored;
  if (e.classes == classes && e.w[0].size() == size) return;
  e.classes = classes;
  e.chunks = chunks;
  e.flag_bits.assign(size / kStored * kBatchLanes, 0);
  for (int level = 0; level < 2; ++level) {
    e.w[static_cast<std::size_t>(level)].resize(size);
    for (std::int32_t s = 0; s < m.dots; ++s) {
      for (int c = 0; c < chunks; ++c) {
        Lanes* w = e.at(level, s, c);
        for (int n = 0; n < kStored; ++n) w[n].v.fill(m.w_slot(level, s, n));
      }
    }
  }
  for (std::int32_t s = 0; s < m.dots; ++s) {
    const std::uint8_t bits =
        m.flag_bits[static_cast<std::size_t>(m.cell[static_cast<std::size_t>(s)])];
    for (int c = 0; c < chunks; ++c) std::fill_n(e.flags(s, c), kBatchLanes, bits);
  }
}

}  // namespace mps
