#pragma once
// The equations of a dot cell, written once: every term of the right-hand
// side of y = (Ex, Ey, w1..w16), in the order it is summed.
//
// The state enters through its midpoint sums S_m = w_m(old) + w_m(now) and
// SX, SY (the same of Ex, Ey).  A term is a coefficient times, optionally,
// a field sum and a pseudospin sum; a term linear in the state carries 0.5
// and a product of a field sum and a pseudospin sum 0.25, so that each
// derivative is that of the midpoint state (0.5 c S = c w_mid).  Its
// coefficient is an entry F(k,l) or B(k,l) of the step (the decay-factored
// couplings of a pair of components, see step_coefficients) or one of the
// cell's own coefficients (curls of H, the current's couplings, the drive
// of the equilibrium populations, the population block).
//
// Adding a coupling is adding its terms here: a pair (k, l) driven by a
// field component contributes F(k,l) S_l to dw_k/dt and B(k,l) S_k to
// dw_l/dt, each with its coupling constant, and step_coefficients and the
// batched step take it from this table.  Within a row the terms are summed
// from left to right in the order listed, so that the results do not
// depend on anything but this table.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "core/constants.hpp"

namespace mps::equations {

// Components of y: Ex at 0, Ey at 1 and w_k at k + 1.
inline constexpr int kComponents = 18;
inline constexpr int kEx = 0, kEy = 1;
constexpr int w(int k) { return k + 1; }

// The coefficients of a cell besides the step's F and B.  The current
// coefficients (a pair's rates as they enter the field equations, with the
// cell's 1/eps_r) are made from the driven pairs' records
// (medium/transitions.hpp); each name says which term of du/dt it carries.
enum LaneCoefficient : int {
  kCurlX,  // (Hy(i) - Hy(i-1)) cE(i), H at the new level
  kCurlY,  // (Hx(i) - Hx(i-1)) cE(i)
  // 1<->2: the Ex equation takes the rate of u1, the Ey equation that of u7.
  kEquilibriumX12,  // Ex: current of the equilibrium inversion u13eq (per Ey)
  kEquilibriumY12,  // Ey: the same (per Ex)
  kDephasingX12,    // Ex: dephasing of u1
  kPrecessionX12,   // Ex: precession (Delta/2) of u7
  kInversionX12,    // Ex: field-driven term (per Ey u13)
  kPrecessionY12,   // Ey: precession of u1
  kDephasingY12,    // Ey: dephasing of u7
  kInversionY12,    // Ey: field-driven term (per Ex u13)
  kDriveU1,         // du1/dt per Ey from the equilibrium inversion
  kDriveU7,         // du7/dt per Ex from the same
  kF13_14,          // population block: coefficient of w14 in dw13/dt,
  kF13_15,          //   of w15 in dw13/dt,
  kF14_15,          //   of w15 in dw14/dt,
  kB13_14,          //   of w13 in dw14/dt,
  kB13_15,          //   of w13 in dw15/dt,
  kB14_15,          //   of w14 in dw15/dt
  kS13,             // relaxation sources of w13..w15
  kS14,
  kS15,
  kD13,  // own relaxation of w13..w15 where a cell's channels differ
  kD14,  //   from the step's (diagonal terms)
  kD15,
  // With 3<->4 driven as well (kTermsBoth): the Ex equation takes the rate
  // of u6, the Ey equation minus that of u12; the inversion is
  // u14/sqrt3 - sqrt6 u15/3.
  kDephasingX34,     // Ex: dephasing of u6
  kPrecessionX34,    // Ex: precession of u12
  kInversionX34_14,  // Ex: field-driven terms (per Ey u14,
  kInversionX34_15,  //   per Ey u15)
  kEquilibriumX34,   // Ex: current of the equilibrium inversion (per Ey)
  kPrecessionY34,    // Ey: precession of u6
  kDephasingY34,     // Ey: dephasing of u12
  kInversionY34_14,  // Ey: field-driven terms (per Ex u14,
  kInversionY34_15,  //   per Ex u15)
  kEquilibriumY34,   // Ey: current of the equilibrium inversion (per Ex)
  kDriveU6,          // du6/dt per Ey from the equilibrium inversion
  kDriveU12,         // du12/dt per Ex from the same
  // With a magnetic field (kTermsZeeman..): the current of the Zeeman
  // terms of du_x/dt (Ex) and du_y/dt (Ey) of each pair, per stored value
  // of u3, u4, u9, u10 (the order of kZeemanCurrent); the drive of u2, u5,
  // u8, u11 by the equilibrium populations.
  kZeemanX12_3,
  kZeemanX12_4,
  kZeemanX12_9,
  kZeemanX12_10,
  kZeemanY12_3,
  kZeemanY12_4,
  kZeemanY12_9,
  kZeemanY12_10,
  kZeemanX34_3,
  kZeemanX34_4,
  kZeemanX34_9,
  kZeemanX34_10,
  kZeemanY34_3,
  kZeemanY34_4,
  kZeemanY34_9,
  kZeemanY34_10,
  kZeemanDriveU2,
  kZeemanDriveU5,
  kZeemanDriveU8,
  kZeemanDriveU11,
  kLaneCoefficients
};
// The coefficients the 1<->2 table uses: those before kDephasingX34.
inline constexpr int kLaneCoefficients12 = kDephasingX34;
// The components whose Zeeman terms enter the pairs' currents.
inline constexpr std::array<int, 4> kZeemanCurrent = {3, 4, 9, 10};

// The coupling constant of a step coefficient: F(k,l) = c X_kl and
// B(k,l) = -c X_lk with X_kl = exp(t/T_k - t/T_l).
enum class Coupling : std::uint8_t {
  unpaired,        // a cell coefficient
  detuning,        // Delta, precession of a pair
  minus_detuning,  // -Delta
  rabi,            // p/hbar, the pairs with u13
  minus_rabi,      // -p/hbar
  half_rabi,       // p/(2 hbar)
  // 3<->4, with its dipole moment p34:
  minus_half_rabi34,   // -p34/(2 hbar)
  rabi34_sqrt3,        // p34/(sqrt3 hbar), the pairs with u14
  minus_rabi34_sqrt6,  // -(sqrt6/3) p34/hbar, the pairs with u15
  zeeman,              // a sum of Larmor frequencies (Term::larmor)
};

// The Larmor frequencies omega = muB g B / hbar of a magnetic field
// (core/magnetic_field.hpp) in the order a term weighs them.
enum Larmor : int { kElectronX, kElectronY, kElectronZ, kHoleX, kHoleY, kHoleZ, kLarmors };
using LarmorWeights = std::array<double, kLarmors>;

enum class Source : std::uint8_t { F, B, lane };
enum class Field : std::uint8_t { none, x, y };  // times SX, SY

struct Term {
  int target = 0;  // component of y whose derivative it is part of
  Source source = Source::lane;
  int k = 0, l = 0;  // F(k,l) or B(k,l); k = the lane coefficient
  Coupling coupling = Coupling::unpaired;
  Field field = Field::none;
  int state = 0;          // m of S_m, 0 for none
  double sign = 1.0;      // -1: the coefficient enters negated
  bool diagonal = false;  // only for cells with their own relaxation rates
  // With a magnetic field: the Larmor frequencies the coupling constant
  // adds (all 0 without).
  LarmorWeights larmor{};

  // 0.5 for a term linear in the state, 0.25 for a product of two sums.
  constexpr double scale() const {
    const int sums = (field != Field::none ? 1 : 0) + (state != 0 ? 1 : 0);
    return sign * (sums == 2 ? 0.25 : sums == 1 ? 0.5 : 1.0);
  }
};

constexpr Term F(int target, int k, int l, Coupling c, Field field, int state) {
  return {target, Source::F, k, l, c, field, state};
}
constexpr Term B(int target, int k, int l, Coupling c, Field field, int state) {
  return {target, Source::B, k, l, c, field, state};
}
constexpr Term cell(int target, LaneCoefficient id, Field field, int state, double sign = 1.0) {
  return {target, Source::lane, id, 0, Coupling::unpaired, field, state, sign};
}
constexpr Term own(int target, LaneCoefficient id, int state) {
  return {target, Source::lane, id, 0, Coupling::unpaired, Field::none, state, 1.0, true};
}

using enum Coupling;
using enum Field;

// Ey drives the pairs (1,13), (2,4), (3,5), (8,10), (9,11); Ex drives
// (7,13), (2,10), (3,11), (4,8), (5,9); (1,7), (3,9), (4,10), (6,12)
// precess without field; (13,14), (13,15), (14,15) couple the populations.
// The field equations take their current from w1, w7 and the equilibrium.
inline constexpr std::array kTerms = {
    // dEx/dt
    cell(kEx, kCurlX, none, 0, -1.0), cell(kEx, kEquilibriumX12, y, 0),
    cell(kEx, kDephasingX12, none, 1), cell(kEx, kPrecessionX12, none, 7),
    cell(kEx, kInversionX12, y, 13),
    // dEy/dt
    cell(kEy, kCurlY, none, 0), cell(kEy, kEquilibriumY12, x, 0),
    cell(kEy, kPrecessionY12, none, 1), cell(kEy, kDephasingY12, none, 7),
    cell(kEy, kInversionY12, x, 13),
    // dw1/dt .. dw12/dt
    cell(w(1), kDriveU1, y, 0), F(w(1), 1, 7, detuning, none, 7), F(w(1), 1, 13, rabi, y, 13),
    F(w(2), 2, 10, half_rabi, x, 10), F(w(2), 2, 4, half_rabi, y, 4),
    F(w(3), 3, 9, detuning, none, 9), F(w(3), 3, 11, half_rabi, x, 11),
    F(w(3), 3, 5, half_rabi, y, 5), F(w(4), 4, 10, minus_detuning, none, 10),
    B(w(4), 2, 4, half_rabi, y, 2), F(w(4), 4, 8, half_rabi, x, 8), B(w(5), 3, 5, half_rabi, y, 3),
    F(w(5), 5, 9, half_rabi, x, 9), F(w(6), 6, 12, detuning, none, 12),
    B(w(7), 1, 7, detuning, none, 1), cell(w(7), kDriveU7, x, 0), F(w(7), 7, 13, minus_rabi, x, 13),
    B(w(8), 4, 8, half_rabi, x, 4), F(w(8), 8, 10, half_rabi, y, 10),
    B(w(9), 3, 9, detuning, none, 3), B(w(9), 5, 9, half_rabi, x, 5),
    F(w(9), 9, 11, half_rabi, y, 11), B(w(10), 4, 10, minus_detuning, none, 4),
    B(w(10), 2, 10, half_rabi, x, 2), B(w(10), 8, 10, half_rabi, y, 8),
    B(w(11), 3, 11, half_rabi, x, 3), B(w(11), 9, 11, half_rabi, y, 9),
    B(w(12), 6, 12, detuning, none, 6),
    // dw13/dt .. dw15/dt: relaxation sources, the population block, the
    // field, and last, where a cell relaxes at rates of its own, that
    cell(w(13), kS13, none, 0), cell(w(13), kF13_14, none, 14), cell(w(13), kF13_15, none, 15),
    B(w(13), 1, 13, rabi, y, 1), B(w(13), 7, 13, minus_rabi, x, 7), own(w(13), kD13, 13),
    cell(w(14), kS14, none, 0), cell(w(14), kB13_14, none, 13), cell(w(14), kF14_15, none, 15),
    own(w(14), kD14, 14), cell(w(15), kS15, none, 0), cell(w(15), kB13_15, none, 13),
    cell(w(15), kB14_15, none, 14), own(w(15), kD15, 15),
    // dw16/dt = 0: no term
};
inline constexpr std::size_t kTermCount = kTerms.size();

// What sigma- light adds when it drives 3<->4 (docs/both_transitions.md,
// derived by scripts/derive_pseudospin.py): H34 = -(p34/2)(Ex l6 - Ey l12)
// couples (u6, u12) to u14, u15 and mixes the coherences of 1<->3, 1<->4,
// 2<->3 and 2<->4 at half its Rabi frequency; the field equations take the
// current of P34 = Nd (p34/2) (u6, -u12).
inline constexpr std::array kTerms34 = {
    cell(kEx, kDephasingX34, none, 6),
    cell(kEx, kPrecessionX34, none, 12),
    cell(kEx, kInversionX34_14, y, 14),
    cell(kEx, kInversionX34_15, y, 15),
    cell(kEx, kEquilibriumX34, y, 0),
    cell(kEy, kPrecessionY34, none, 6),
    cell(kEy, kDephasingY34, none, 12),
    cell(kEy, kInversionY34_14, x, 14),
    cell(kEy, kInversionY34_15, x, 15),
    cell(kEy, kEquilibriumY34, x, 0),
    F(w(2), 2, 3, minus_half_rabi34, y, 3),
    F(w(2), 2, 9, minus_half_rabi34, x, 9),
    B(w(3), 2, 3, minus_half_rabi34, y, 2),
    F(w(3), 3, 8, minus_half_rabi34, x, 8),
    F(w(4), 4, 5, minus_half_rabi34, y, 5),
    F(w(4), 4, 11, minus_half_rabi34, x, 11),
    B(w(5), 4, 5, minus_half_rabi34, y, 4),
    F(w(5), 5, 10, minus_half_rabi34, x, 10),
    cell(w(6), kDriveU6, y, 0),
    F(w(6), 6, 14, rabi34_sqrt3, y, 14),
    F(w(6), 6, 15, minus_rabi34_sqrt6, y, 15),
    B(w(8), 3, 8, minus_half_rabi34, x, 3),
    F(w(8), 8, 9, minus_half_rabi34, y, 9),
    B(w(9), 2, 9, minus_half_rabi34, x, 2),
    B(w(9), 8, 9, minus_half_rabi34, y, 8),
    B(w(10), 5, 10, minus_half_rabi34, x, 5),
    F(w(10), 10, 11, minus_half_rabi34, y, 11),
    B(w(11), 4, 11, minus_half_rabi34, x, 4),
    B(w(11), 10, 11, minus_half_rabi34, y, 10),
    cell(w(12), kDriveU12, x, 0),
    F(w(12), 12, 14, rabi34_sqrt3, x, 14),
    F(w(12), 12, 15, minus_rabi34_sqrt6, x, 15),
    B(w(14), 12, 14, rabi34_sqrt3, x, 12),
    B(w(14), 6, 14, rabi34_sqrt3, y, 6),
    B(w(15), 12, 15, minus_rabi34_sqrt6, x, 12),
    B(w(15), 6, 15, minus_rabi34_sqrt6, y, 6),
};

// Both pairs driven: each row of kTerms, then the terms kTerms34 adds to it.
inline constexpr auto kTermsBoth = [] {
  std::array<Term, kTerms.size() + kTerms34.size()> out{};
  std::size_t n = 0;
  for (int j = 0; j < kComponents; ++j) {
    for (const Term& t : kTerms) {
      if (t.target == j) out[n++] = t;
    }
    for (const Term& t : kTerms34) {
      if (t.target == j) out[n++] = t;
    }
  }
  return out;
}();

// What a static magnetic field adds (docs/magnetic_field.md, derived by
// scripts/derive_pseudospin.py): H_Z / hbar = (omega_e . sigma)/2 on the
// electron pair {1, 3} and (omega_h . sigma)/2 on the trion pair {2, 4}
// (omega = muB g B / hbar, core/magnetic_field.hpp).  Each entry is a pair
// (k, l), k < l, with du_k/dt = c u_l and du_l/dt = -c u_k: c the sum of
// the weighted Larmor frequencies, plus Delta (or -Delta) on the four
// precession pairs, whose coherences' frequencies the field along z
// shifts.  As every pair of the table it enters F(k,l) S_l in dw_k/dt and
// B(k,l) S_k in dw_l/dt, with no field.
struct ZeemanPair {
  int k = 0, l = 0;
  Coupling base = Coupling::zeeman;  // detuning, minus_detuning or zeeman
  LarmorWeights larmor{};            // of (e_x, e_y, e_z, h_x, h_y, h_z)
};
namespace zeeman_weights {
inline constexpr double h = 0.5;
inline constexpr double r3 = 0.5 * constants::sqrt3;    // sqrt3/2
inline constexpr double r3_6 = constants::sqrt3 / 6.0;  // sqrt3/6
inline constexpr double r6_3 = constants::sqrt6 / 3.0;  // sqrt6/3
}  // namespace zeeman_weights
inline constexpr std::array kZeemanPairs = [] {
  using namespace zeeman_weights;
  using W = LarmorWeights;
  return std::array<ZeemanPair, 32>{{
      // electron in the plane (sigma_x: lambda2, sigma_y: lambda8)
      {1, 10, zeeman, W{h, 0, 0, 0, 0, 0}},
      {1, 4, zeeman, W{0, -h, 0, 0, 0, 0}},
      {2, 13, zeeman, W{0, -h, 0, 0, 0, 0}},
      {2, 14, zeeman, W{0, -r3, 0, 0, 0, 0}},
      {3, 12, zeeman, W{-h, 0, 0, 0, 0, 0}},
      {3, 6, zeeman, W{0, -h, 0, 0, 0, 0}},
      {4, 7, zeeman, W{-h, 0, 0, 0, 0, 0}},
      {6, 9, zeeman, W{-h, 0, 0, 0, 0, 0}},
      {7, 10, zeeman, W{0, h, 0, 0, 0, 0}},
      {8, 13, zeeman, W{h, 0, 0, 0, 0, 0}},
      {8, 14, zeeman, W{r3, 0, 0, 0, 0, 0}},
      {9, 12, zeeman, W{0, -h, 0, 0, 0, 0}},
      // hole in the plane (sigma_x: lambda5, sigma_y: lambda11)
      {1, 9, zeeman, W{0, 0, 0, h, 0, 0}},
      {1, 3, zeeman, W{0, 0, 0, 0, -h, 0}},
      {3, 7, zeeman, W{0, 0, 0, h, 0, 0}},
      {4, 12, zeeman, W{0, 0, 0, h, 0, 0}},
      {4, 6, zeeman, W{0, 0, 0, 0, -h, 0}},
      {5, 13, zeeman, W{0, 0, 0, 0, h, 0}},
      {5, 14, zeeman, W{0, 0, 0, 0, -r3_6, 0}},
      {5, 15, zeeman, W{0, 0, 0, 0, -r6_3, 0}},
      {6, 10, zeeman, W{0, 0, 0, -h, 0, 0}},
      {7, 9, zeeman, W{0, 0, 0, 0, -h, 0}},
      {10, 12, zeeman, W{0, 0, 0, 0, h, 0}},
      {11, 13, zeeman, W{0, 0, 0, -h, 0, 0}},
      {11, 14, zeeman, W{0, 0, 0, r3_6, 0, 0}},
      {11, 15, zeeman, W{0, 0, 0, r6_3, 0, 0}},
      // along z: the spin coherences (1,3) and (2,4) precess ...
      {2, 8, zeeman, W{0, 0, -1, 0, 0, 0}},
      {5, 11, zeeman, W{0, 0, 0, 0, 0, -1}},
      // ... and the optical ones at their shifted frequencies:
      // E2 - E1 = hbar (Delta + (w_hz - w_ez)/2), E4 - E1, E2 - E3, E4 - E3
      {1, 7, detuning, W{0, 0, -h, 0, 0, h}},
      {3, 9, detuning, W{0, 0, -h, 0, 0, -h}},
      {4, 10, minus_detuning, W{0, 0, -h, 0, 0, -h}},
      {6, 12, detuning, W{0, 0, h, 0, 0, -h}},
  }};
}();

// The Zeeman terms: F(k,l) S_l in dw_k/dt and B(k,l) S_k in dw_l/dt of
// every pair, and the drive of u2, u5, u8, u11 by the equilibrium
// populations (u_k = u_k,eq + decay w_k for k = 13..15).
inline constexpr auto kTermsZeemanOnly = [] {
  std::array<Term, 2 * kZeemanPairs.size() + 4> out{};
  std::size_t n = 0;
  for (const ZeemanPair& p : kZeemanPairs) {
    out[n] = F(w(p.k), p.k, p.l, p.base, none, p.l);
    out[n++].larmor = p.larmor;
    out[n] = B(w(p.l), p.k, p.l, p.base, none, p.k);
    out[n++].larmor = p.larmor;
  }
  out[n++] = cell(w(2), kZeemanDriveU2, none, 0);
  out[n++] = cell(w(5), kZeemanDriveU5, none, 0);
  out[n++] = cell(w(8), kZeemanDriveU8, none, 0);
  out[n++] = cell(w(11), kZeemanDriveU11, none, 0);
  return out;
}();

// The currents of the Zeeman terms: pair 1<->2 takes du1/dt (Ex) and du7/dt
// (Ey), pair 3<->4 du6/dt (Ex) and -du12/dt (Ey), each with its terms in
// u3, u4, u9, u10.
inline constexpr std::array kTermsZeemanCurrent12 = {
    cell(kEx, kZeemanX12_3, none, 3), cell(kEx, kZeemanX12_4, none, 4),
    cell(kEx, kZeemanX12_9, none, 9), cell(kEx, kZeemanX12_10, none, 10),
    cell(kEy, kZeemanY12_3, none, 3), cell(kEy, kZeemanY12_4, none, 4),
    cell(kEy, kZeemanY12_9, none, 9), cell(kEy, kZeemanY12_10, none, 10),
};
inline constexpr std::array kTermsZeemanCurrent34 = {
    cell(kEx, kZeemanX34_3, none, 3), cell(kEx, kZeemanX34_4, none, 4),
    cell(kEx, kZeemanX34_9, none, 9), cell(kEx, kZeemanX34_10, none, 10),
    cell(kEy, kZeemanY34_3, none, 3), cell(kEy, kZeemanY34_4, none, 4),
    cell(kEy, kZeemanY34_9, none, 9), cell(kEy, kZeemanY34_10, none, 10),
};

// True when `a` and `b` are the same entry of F or B (a term the Zeeman
// table replaces: the precession pairs with their shifted frequencies).
constexpr bool same_entry(const Term& a, const Term& b) {
  return a.source != Source::lane && a.source == b.source && a.k == b.k && a.l == b.l &&
         a.target == b.target;
}

// How many of Added's terms replace one of Base's.
template <const auto& Base, const auto& Added>
constexpr std::size_t replaced_entries() {
  std::size_t n = 0;
  for (const Term& a : Added) {
    for (const Term& b : Base) n += same_entry(a, b) ? 1 : 0;
  }
  return n;
}

// Row by row: the terms of Base, each replaced by the term of Added of the
// same entry where there is one, then the rest of Added's terms of the row.
template <const auto& Base, const auto& Added>
constexpr auto merge_rows() {
  std::array<Term, Base.size() + Added.size() - replaced_entries<Base, Added>()> out{};
  std::size_t n = 0;
  for (int j = 0; j < kComponents; ++j) {
    for (const Term& b : Base) {
      if (b.target != j) continue;
      Term t = b;
      for (const Term& a : Added) t = same_entry(a, b) ? a : t;
      out[n++] = t;
    }
    for (const Term& a : Added) {
      bool in_base = false;
      for (const Term& b : Base) in_base = in_base || same_entry(a, b);
      if (a.target == j && !in_base) out[n++] = a;
    }
  }
  return out;
}

inline constexpr auto kZeemanAdded12 = [] {
  std::array<Term, kTermsZeemanOnly.size() + kTermsZeemanCurrent12.size()> out{};
  std::size_t n = 0;
  for (const Term& t : kTermsZeemanOnly) out[n++] = t;
  for (const Term& t : kTermsZeemanCurrent12) out[n++] = t;
  return out;
}();
inline constexpr auto kZeemanAddedBoth = [] {
  std::array<Term, kZeemanAdded12.size() + kTermsZeemanCurrent34.size()> out{};
  std::size_t n = 0;
  for (const Term& t : kZeemanAdded12) out[n++] = t;
  for (const Term& t : kTermsZeemanCurrent34) out[n++] = t;
  return out;
}();

// The tables with a magnetic field: kTerms or kTermsBoth with the Zeeman
// terms, the precession pairs' entries taking the shifted frequencies.
inline constexpr auto kTermsZeeman = merge_rows<kTerms, kZeemanAdded12>();
inline constexpr auto kTermsBothZeeman = merge_rows<kTermsBoth, kZeemanAddedBoth>();

// The terms of row j (the derivative of component j) are Terms[begin, end).
struct Row {
  std::size_t begin = 0, end = 0;
};
template <const auto& Terms>
constexpr Row row(int j) {
  constexpr std::size_t count = Terms.size();
  Row r{count, count};
  for (std::size_t i = 0; i < count; ++i) {
    if (Terms[i].target != j) continue;
    if (r.begin == count) r.begin = i;
    r.end = i + 1;
  }
  if (r.begin == count) r.begin = r.end = 0;
  return r;
}
template <const auto& Terms>
constexpr bool rows_are_contiguous() {
  for (int j = 0; j < kComponents; ++j) {
    for (std::size_t i = row<Terms>(j).begin; i < row<Terms>(j).end; ++i) {
      if (Terms[i].target != j) return false;
    }
  }
  return true;
}
static_assert(rows_are_contiguous<kTerms>(), "the terms of a row stand together");
static_assert(rows_are_contiguous<kTermsBoth>(), "the terms of a row stand together");
static_assert(rows_are_contiguous<kTermsZeeman>(), "the terms of a row stand together");
static_assert(rows_are_contiguous<kTermsBothZeeman>(), "the terms of a row stand together");

// Every cell coefficient the table uses (the first `used`) enters exactly
// one term, and no other enters any.
// With a magnetic field `zeeman` of them follow kZeemanX12_3 (20: both pairs
// and the drives; 12: those of 1<->2 and the drives).
template <const auto& Terms>
constexpr bool lane_coefficients_used_once(int used, int zeeman = 0) {
  for (int id = 0; id < kLaneCoefficients; ++id) {
    int uses = 0;
    for (const Term& t : Terms) uses += t.source == Source::lane && t.k == id ? 1 : 0;
    const bool in_zeeman =
        id >= kZeemanX12_3 &&
        (zeeman == 20 || (zeeman == 12 && (id < kZeemanX34_3 || id >= kZeemanDriveU2)));
    if (uses != (id < used || in_zeeman ? 1 : 0)) return false;
  }
  return true;
}
static_assert(lane_coefficients_used_once<kTerms>(kLaneCoefficients12));
static_assert(lane_coefficients_used_once<kTermsBoth>(kZeemanX12_3));
static_assert(lane_coefficients_used_once<kTermsZeeman>(kLaneCoefficients12, 12));
static_assert(lane_coefficients_used_once<kTermsBothZeeman>(kZeemanX12_3, 20));

// A pair's coupling constant is the same in every term that names it.
template <const auto& Terms>
constexpr bool couplings_agree() {
  for (const Term& a : Terms) {
    for (const Term& b : Terms) {
      if (a.source != Source::lane && b.source != Source::lane && a.k == b.k && a.l == b.l &&
          (a.coupling != b.coupling || a.larmor != b.larmor)) {
        return false;
      }
    }
  }
  return true;
}
static_assert(couplings_agree<kTermsBoth>(), "a pair (k,l) has one coupling constant");
static_assert(couplings_agree<kTermsBothZeeman>(), "a pair (k,l) has one coupling constant");
static_assert(kTermsZeeman.size() == kTerms.size() + kZeemanAdded12.size() - 8);
static_assert(kTermsBothZeeman.size() == kTermsBoth.size() + kZeemanAddedBoth.size() - 8);

// The derivatives of one lane, handed to out(j, rate) for the components
// j = 0..17 of y in order: coefficient(I) is term I's coefficient already
// scaled (by its 0.5 or 0.25 and sign), S(m) the midpoint sum of w_m and
// SX, SY those of Ex, Ey.  Each row is summed from its first term on, left
// to right; with Diagonal a row's own-relaxation term is among them.
template <bool Diagonal, const auto& Terms, typename Coefficient, typename Sum, typename Out>
inline void lane_rates(const Coefficient& coefficient, const Sum& S, double SX, double SY,
                       Out&& out) {
  const auto term = [&]<std::size_t I>(std::integral_constant<std::size_t, I>) {
    constexpr Term t = Terms[I];
    double v = coefficient(std::integral_constant<std::size_t, I>{});
    if constexpr (t.field == Field::x) v = v * SX;
    if constexpr (t.field == Field::y) v = v * SY;
    if constexpr (t.state != 0) v = v * S(std::integral_constant<int, t.state>{});
    return v;
  };
  const auto sum_row = [&]<int J>(std::integral_constant<int, J>) {
    constexpr Row r = row<Terms>(J);
    double acc = 0.0;
    [&]<std::size_t... K>(std::index_sequence<K...>) {
      (
          [&] {
            constexpr std::size_t I = r.begin + K;
            if constexpr (!Terms[I].diagonal || Diagonal) {
              const double v = term(std::integral_constant<std::size_t, I>{});
              acc = K == 0 ? v : acc + v;
            }
          }(),
          ...);
    }
    (std::make_index_sequence<r.end - r.begin>{});
    out(J, acc);
  };
  [&]<int... J>(std::integer_sequence<int, J...>) {
    (sum_row(std::integral_constant<int, J>{}), ...);
  }
  (std::make_integer_sequence<int, kComponents>{});
}

}  // namespace mps::equations
