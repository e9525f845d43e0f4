#pragma once
// State of the quantum-dot medium on the grid.
//
// A dot cell is a four-level system |1>..|4> (two coupled two-level systems
// of trion and spin states) with density matrix
//   rho = I/4 + 1/2 sum_k u_k lambda_k,  k = 1..15,
// lambda_1..12 the off-diagonal and lambda_13..15 the diagonal generators.
// The relaxation towards equilibrium is factored out of what is stored:
//   u_k = exp(-t/T_k) w_k              k = 1..12
//   u_k = u_k,eq + exp(-t/T_k) w_k     k = 13, 14, 15
// so the equations for w carry no decay terms.  w16 is always 0 and pads
// each cell's vector to 16 values.
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "core/constants.hpp"
#include "medium/lanes.hpp"

namespace mps {

inline constexpr int kStored = 16;  // w1..w16 per cell

// Levels 1 and 3 are the two ground (spin) states, 2 and 4 the trions
// hbar Delta above them; rho_kk is the population of level k.
struct Populations {
  double rho11 = 0.0, rho22 = 0.0, rho33 = 0.0, rho44 = 0.0;
};

// The diagonal components 13, 14, 15 of one cell: physical values u13..u15,
// their equilibrium values, or the stored w13..w15.
struct Diagonal {
  double u13 = 0.0, u14 = 0.0, u15 = 0.0;
  bool operator==(const Diagonal&) const = default;
};

// rho_kk from the physical diagonal components u13..u15 (single-precision
// surds widened to double, as the model defines them).  Inline, so that
// the batched cell loop computes it lane by lane.
// rho_kk = numerator_k / divisor_k: the numerators keep the order of the
// populations, so extremes can be found on them and divided once.
inline constexpr std::array<double, 4> kPopulationDivisors = {12.0, 12.0, 12.0, 4.0};
// T: double, or a LaneVector of every lane at once.
template <typename T>
inline std::array<T, 4> population_numerators(T u13, T u14, T u15) {
  using namespace constants;
  return {3.0 - 6.0 * u13 - two_sqrt3 * u14 - sqrt6 * u15,
          3.0 + 6.0 * u13 - two_sqrt3 * u14 - sqrt6 * u15, 3.0 + four_sqrt3 * u14 - sqrt6 * u15,
          1.0 + sqrt6 * u15};
}
// The population flags of every lane from its numerators: bit k-1 set
// where rho_kk > 0 (occupied() lane by lane, as pack_flags() packs them).
template <typename Mask, typename T>
inline Mask occupied_bits(const std::array<T, 4>& numerators) {
  Mask bits = {};
  for (std::size_t p = 0; p < 4; ++p) {
    bits |= (numerators[p] / kPopulationDivisors[p] > 0.0) & (1LL << p);
  }
  return bits;
}
inline Populations populations(double u13, double u14, double u15) {
  const std::array<double, 4> n = population_numerators(u13, u14, u15);
  return {n[0] / kPopulationDivisors[0], n[1] / kPopulationDivisors[1],
          n[2] / kPopulationDivisors[2], n[3] / kPopulationDivisors[3]};
}
inline Populations populations(const Diagonal& u) { return populations(u.u13, u.u14, u.u15); }

// Physical u13..u15 from the stored w13..w15: u_k = u_k,eq + e_k w_k, with
// e_k = exp(-t/T_k) the decay factor of the time t (index k = 1..15).
inline Diagonal physical_diagonal(const Diagonal& eq, const std::array<double, 16>& e,
                                  const Diagonal& w) {
  return {eq.u13 + e[13] * w.u13, eq.u14 + e[14] * w.u14, eq.u15 + e[15] * w.u15};
}

// True when all three values are +0 (not -0, not anything else).
inline bool is_plus_zero(const Diagonal& u) {
  return std::bit_cast<std::uint64_t>(u.u13) == 0 && std::bit_cast<std::uint64_t>(u.u14) == 0 &&
         std::bit_cast<std::uint64_t>(u.u15) == 0;
}

// Population flags occ1..occ4: 1 where rho_kk > 0.
using PopulationFlags = std::array<std::int32_t, 4>;
inline PopulationFlags occupied(const Populations& p) {
  return {p.rho11 > 0.0, p.rho22 > 0.0, p.rho33 > 0.0, p.rho44 > 0.0};
}

// The cells (left, right] in which the flags are evaluated (the cavity).
struct CellRange {
  std::int32_t left = 0, right = 0;
  bool contains(std::int32_t i) const { return left < i && i <= right; }
};

// What a cell needs from the medium update, decided once per block (and
// after a restore): cells never change kind during a run.
enum class CellKind : std::uint8_t {
  vacuum,   // no dots, no equilibrium values and w = 0: only E is updated
  passive,  // no dots, but stored or equilibrium values to carry along
  dot,      // quantum dots: E and w advanced together by the implicit step
};

// Population flags packed into the low four bits of a byte (occ1 in bit 0).
inline std::uint8_t pack_flags(const PopulationFlags& f) {
  return static_cast<std::uint8_t>((f[0] != 0) | (f[1] != 0) << 1 | (f[2] != 0) << 2 |
                                   (f[3] != 0) << 3);
}
inline PopulationFlags unpack_flags(std::uint8_t bits) {
  return {bits & 1, (bits >> 1) & 1, (bits >> 2) & 1, (bits >> 3) & 1};
}

// The spectral classes of the dot cells of a broadened ensemble
// (core/spectral_classes.hpp), by dot slot s: chunk c of slot s holds
// classes c kBatchLanes .. c kBatchLanes + kBatchLanes - 1, one per lane
// (lanes past the last class are padding).  Each class keeps its own w at
// both levels and its population flags; the slot's w is their weighted
// mean, which every output reads.
struct ClassStates {
  int classes = 0;  // 0: no classes (one per cell, in the slot's w)
  int chunks = 0;
  std::array<std::vector<Lanes>, 2> w;  // [level][(s chunks + c) kStored + n]: w_(n+1)
  std::vector<std::uint8_t> flag_bits;  // [(s chunks + c) kBatchLanes + l]
  Lanes* at(int level, std::int32_t s, int c) {
    return w[static_cast<std::size_t>(level)].data() + index(s, c) * kStored;
  }
  const Lanes* at(int level, std::int32_t s, int c) const {
    return w[static_cast<std::size_t>(level)].data() + index(s, c) * kStored;
  }
  std::uint8_t* flags(std::int32_t s, int c) {
    return flag_bits.data() + index(s, c) * static_cast<std::size_t>(kBatchLanes);
  }
  const std::uint8_t* flags(std::int32_t s, int c) const {
    return flag_bits.data() + index(s, c) * static_cast<std::size_t>(kBatchLanes);
  }
  std::size_t index(std::int32_t s, int c) const {
    return static_cast<std::size_t>(s) * static_cast<std::size_t>(chunks) +
           static_cast<std::size_t>(c);
  }
};

// The medium on cells 0..N.  Every cell has its population flags; only the
// cells that hold something (equilibrium, stored or physical values: the
// dot and passive cells, a few at most in a long vacuum line) have a slot
// with their values.  A cell without a slot reads as zeros.
//
// The slots are stored in blocks of kBatchLanes, value by value: block b
// holds w1 of its kBatchLanes slots, then w2, ..., so that a block of dot
// cells is the batch the implicit step works on, one cell per lane.  Once
// classify_cells has run, the dot cells fill the first blocks (in the
// order of their cells; the last dot block is padded with unused slots),
// and the passive cells and the rest follow.
struct MediumState {
  std::int32_t N = 0;
  std::vector<std::int32_t> slot;       // [cell] its slot, or kNoSlot
  std::vector<std::uint8_t> flag_bits;  // [cell] occ1..occ4, see pack_flags()

  // Per slot s (block s / kBatchLanes, lane s % kBatchLanes).
  std::vector<std::int32_t> cell;          // [slot] its cell, or kNoSlot for padding
  std::vector<CellKind> kind_of;           // [slot]
  std::array<std::vector<Lanes>, 2> w;     // [level][kStored block + n]: w_(n+1)
  std::vector<Lanes> eq;                   // [3 block + 0..2]: u13eq, u14eq, u15eq
  std::array<std::vector<Lanes>, 2> phys;  // [level][3 block + 0..2]: physical u13..u15

  // Set by classify_cells: the cells 1..N-1 that are passive or dot, the
  // passive slots and the number of dot cells (slots 0..dots-1).
  std::vector<std::int32_t> medium_cells;
  std::vector<std::int32_t> passive_slots;
  std::int32_t dots = 0;
  // The dot cells' spectral classes, when the dots are broadened.
  ClassStates classes;

  static constexpr std::int32_t kNoSlot = -1;

  void allocate(std::int32_t cells);

  std::int32_t slot_of(std::int32_t c) const { return slot[static_cast<std::size_t>(c)]; }
  bool has_slot(std::int32_t c) const { return slot_of(c) != kNoSlot; }
  // The slot of cell c, made when the cell has none yet (values 0).
  std::int32_t make_slot(std::int32_t c);
  std::int32_t dot_blocks() const { return (dots + kBatchLanes - 1) / kBatchLanes; }

  // Value n (0..15: w1..w16) of slot s at a level.
  double& w_slot(int level, std::int32_t s, int n) {
    return w[static_cast<std::size_t>(level)][lanes_index(s, n, kStored)][lane(s)];
  }
  double w_slot(int level, std::int32_t s, int n) const {
    return w[static_cast<std::size_t>(level)][lanes_index(s, n, kStored)][lane(s)];
  }
  Diagonal eq_slot(std::int32_t s) const { return diagonal_of(eq, s); }
  Diagonal phys_slot(int level, std::int32_t s) const {
    return diagonal_of(phys[static_cast<std::size_t>(level)], s);
  }
  void set_phys_slot(int level, std::int32_t s, const Diagonal& u);

  // w1..w16 of any cell (zeros for a cell without a slot).
  std::array<double, kStored> w_at(int level, std::int32_t c) const;
  // Readies w's new level for a step, which updates it in place: it takes
  // step J-1's values, copied with `whole_old_level` (the old level keeps
  // step J-1, as the snapshot reads it), else by trading the two levels'
  // arrays (the old level then holds an older step, which nothing reads
  // before the next step that keeps the whole old level).
  void ready_new_w_level(int new_level, bool whole_old_level);
  // Sets value n (0..15: w1..w16) of cell c; a value other than +0 gives
  // the cell a slot, +0 needs none.
  void set_w(int level, std::int32_t c, int n, double v);
  // w13..w15 of a cell.
  Diagonal stored_diagonal(int level, std::int32_t c) const {
    if (!has_slot(c)) return {};
    const std::int32_t s = slot_of(c);
    return {w_slot(level, s, 12), w_slot(level, s, 13), w_slot(level, s, 14)};
  }

  Diagonal equilibrium(std::int32_t c) const {
    return has_slot(c) ? eq_slot(slot_of(c)) : Diagonal{};
  }
  // Zeros need no slot: a cell without one reads as zeros.
  void set_equilibrium(std::int32_t c, const Diagonal& u);
  Diagonal physical(int level, std::int32_t c) const {
    return has_slot(c) ? phys_slot(level, slot_of(c)) : Diagonal{};
  }
  void set_physical(int level, std::int32_t c, const Diagonal& u);

  PopulationFlags flags(std::int32_t c) const {
    return unpack_flags(flag_bits[static_cast<std::size_t>(c)]);
  }
  void set_flags(std::int32_t c, const PopulationFlags& f) {
    flag_bits[static_cast<std::size_t>(c)] = pack_flags(f);
  }
  CellKind kind(std::int32_t c) const {
    return has_slot(c) ? kind_of[static_cast<std::size_t>(slot_of(c))] : CellKind::vacuum;
  }

 private:
  static std::size_t lanes_index(std::int32_t s, int n, int per_slot) {
    return static_cast<std::size_t>(s / kBatchLanes) * static_cast<std::size_t>(per_slot) +
           static_cast<std::size_t>(n);
  }
  static int lane(std::int32_t s) { return s % kBatchLanes; }
  static Diagonal diagonal_of(const std::vector<Lanes>& v, std::int32_t s) {
    const std::size_t i = lanes_index(s, 0, 3);
    return {v[i][lane(s)], v[i + 1][lane(s)], v[i + 2][lane(s)]};
  }
};

// Decay factors exp(-t/T_k), k = 1..15 (index 0 unused), at the mid time of
// a step and of the step before.
struct DecayFactors {
  std::array<double, 16> now{};
  std::array<double, 16> previous{};
};

DecayFactors decay_factors(std::int64_t J, double dt, const std::array<double, 16>& T);

// True when the equilibrium values mark the cell as holding dots.
inline bool has_dots(double u13eq, double u14eq, double u15eq) {
  return u13eq < 0.0 && ((u14eq == 0.0 && u15eq == 0.0) || (u14eq != 0.0 && u15eq < 0.0));
}

// Sorts the cells 1..N-1 into vacuum, passive and dot cells and gives the
// vacuum cells their constant flags (1 inside the cavity, where all four
// populations are 1/4, else 0).  The slots are put in the order of their
// cells; a vacuum cell keeps its slot only while it holds a value other
// than +0 (a -0 read from a stored snapshot is written back as it came).
void classify_cells(MediumState& m, const CellRange& cavity);

// Gives every dot slot `classes` spectral classes (none for 1), each
// starting from the slot's w at both levels and its flags; classes already
// held for the same dot cells (restored) are kept.
void ready_class_states(MediumState& m, int classes);

}  // namespace mps
