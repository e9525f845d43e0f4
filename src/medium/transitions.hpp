#pragma once
// The driven pairs of levels as records.  sigma+ light drives 1<->2 (the
// electron's spin up and its trion), sigma- light 3<->4 (spin down and its
// trion; with --both-transitions).  A pair's coefficients in the field
// equations and the drive of its coherence by the equilibrium populations
// are made from its record by pair_step (once a step) and
// pair_lane_coefficients (per block of cells); the spectral classes weigh
// what these make (medium/class_block.cpp).
//
// With the decay factored out (u_k = e^{-t/T_k} w_k), a pair whose Ex
// equation takes the rate of u_x and whose Ey equation takes y_sign times
// that of u_y reads
//   du_x/dt = -u_x/T_x + Delta u_y + (p/hbar) Ey n,
//   du_y/dt = -u_y/T_y - Delta u_x - y_sign (p/hbar) Ex n,
// n its population difference, and the field equations take
//   sign Nd p/(2 eps0 eps_r) times du_x/dt (Ex) and y_sign du_y/dt (Ey),
// the dephasing and field-driven terms at the model's share
// (polarisation_share).  n = n_eq + decay * w splits each field-driven
// term into an equilibrium part (a cell coefficient of its own) and one
// per stored population value.
#include <array>
#include <cmath>

#include "core/constants.hpp"
#include "medium/dot_batch.hpp"
#include "medium/equations.hpp"
#include "medium/lanes.hpp"
#include "medium/medium_parameters.hpp"
#include "medium/medium_state.hpp"

namespace mps {

// One term sign * (factor u_k / divisor) of a pair's population difference.
struct InversionTerm {
  int component = 13;  // u13, u14 or u15
  double sign = 1.0;
  double factor = 1.0;
  double divisor = 1.0;
};

// One driven pair of levels.
struct DrivenPair {
  int lower = 0, upper = 0;                    // its levels
  double MediumParameters::*dipole = nullptr;  // its dipole moment p [C m]
  int x_coherence = 0;                         // u_x: its rate is the Ex equation's
  int y_coherence = 0;                         // u_y: y_sign times its rate is the Ey equation's
  double y_sign = 1.0;
  std::array<InversionTerm, 2> inversion{};  // n, of inversion_terms terms
  int inversion_terms = 1;
  // The field-driven current of population value k is p^2 e_k Nd/(hbar
  // eps0) in that order (true), or p^2 Nd/(hbar eps0) times e_k: equal to
  // rounding, kept as each pair has always been evaluated so that results
  // stay the same bit for bit.
  bool decay_with_dipoles = true;
  // Where its coefficients go among the cell's (equations::LaneCoefficient).
  equations::LaneCoefficient dephasing_x{}, precession_x{}, equilibrium_x{}, drive_x{};
  equations::LaneCoefficient dephasing_y{}, precession_y{}, equilibrium_y{}, drive_y{};
  std::array<equations::LaneCoefficient, 2> inversion_x{}, inversion_y{};  // per term of n
  // With a magnetic field: the currents of the Zeeman terms of du_x/dt and
  // du_y/dt, per stored value of equations::kZeemanCurrent.
  std::array<equations::LaneCoefficient, 4> zeeman_x{}, zeeman_y{};
};

inline constexpr DrivenPair kPair12 = {
    .lower = 1,
    .upper = 2,
    .dipole = &MediumParameters::dipole,
    .x_coherence = 1,
    .y_coherence = 7,
    .y_sign = 1.0,
    .inversion = {{{13, 1.0, 1.0, 1.0}}},  // n = u13
    .inversion_terms = 1,
    .decay_with_dipoles = true,
    .dephasing_x = equations::kDephasingX12,
    .precession_x = equations::kPrecessionX12,
    .equilibrium_x = equations::kEquilibriumX12,
    .drive_x = equations::kDriveU1,
    .dephasing_y = equations::kDephasingY12,
    .precession_y = equations::kPrecessionY12,
    .equilibrium_y = equations::kEquilibriumY12,
    .drive_y = equations::kDriveU7,
    .inversion_x = {equations::kInversionX12, equations::kInversionX12},
    .inversion_y = {equations::kInversionY12, equations::kInversionY12},
    .zeeman_x = {equations::kZeemanX12_3, equations::kZeemanX12_4, equations::kZeemanX12_9,
                 equations::kZeemanX12_10},
    .zeeman_y = {equations::kZeemanY12_3, equations::kZeemanY12_4, equations::kZeemanY12_9,
                 equations::kZeemanY12_10},
};

inline constexpr DrivenPair kPair34 = {
    .lower = 3,
    .upper = 4,
    .dipole = &MediumParameters::dipole34,
    .x_coherence = 6,
    .y_coherence = 12,
    .y_sign = -1.0,  // P34 = Nd (p34/2) (u6, -u12)
    // n = u14/sqrt3 - sqrt6 u15/3
    .inversion = {{{14, 1.0, 1.0, constants::sqrt3}, {15, -1.0, constants::sqrt6, 3.0}}},
    .inversion_terms = 2,
    .decay_with_dipoles = false,
    .dephasing_x = equations::kDephasingX34,
    .precession_x = equations::kPrecessionX34,
    .equilibrium_x = equations::kEquilibriumX34,
    .drive_x = equations::kDriveU6,
    .dephasing_y = equations::kDephasingY34,
    .precession_y = equations::kPrecessionY34,
    .equilibrium_y = equations::kEquilibriumY34,
    .drive_y = equations::kDriveU12,
    .inversion_x = {equations::kInversionX34_14, equations::kInversionX34_15},
    .inversion_y = {equations::kInversionY34_14, equations::kInversionY34_15},
    .zeeman_x = {equations::kZeemanX34_3, equations::kZeemanX34_4, equations::kZeemanX34_9,
                 equations::kZeemanX34_10},
    .zeeman_y = {equations::kZeemanY34_3, equations::kZeemanY34_4, equations::kZeemanY34_9,
                 equations::kZeemanY34_10},
};

// A pair's current coefficients of one step, with the current's sign and
// share and without the cell's 1/eps_r: per stored value w [V/(m s)]
// (dephasing, precession at Delta/2) and per E w [1/s] (field-driven).
// With a magnetic field the precession is at the pair's shifted frequency
// and the Zeeman terms of du_x/dt, du_y/dt in u3, u4, u9, u10 add currents.
struct PairStep {
  double dephasing_x = 0.0, precession_x = 0.0;  // of u_x, u_y in the Ex equation
  double dephasing_y = 0.0, precession_y = 0.0;  // of u_y, u_x in the Ey equation
  std::array<double, 2> inversion{};             // Ex's, per term of n; Ey's are negated
  double growth_x = 0.0, growth_y = 0.0;         // exp(t/T_x), exp(t/T_y)
  std::array<double, 4> zeeman_x{}, zeeman_y{};  // [V/(m s)], per kZeemanCurrent value
};

// What a magnetic field adds to a step besides F and B: the drive of u2,
// u5, u8, u11 (kZeemanDriveU2..) by the equilibrium values, per u13eq,
// u14eq, u15eq, in the stored form (times exp(t/T_k)) [1/s].
struct ZeemanStep {
  std::array<std::array<double, 3>, 4> drive{};
};
ZeemanStep zeeman_step(const MediumParameters& mp, double t);

// The Zeeman drives in every lane of a block (u13eq..u15eq in eq[0..2]).
inline void zeeman_lane_coefficients(const ZeemanStep& step, const Lanes* eq,
                                     BatchCoefficients& c) {
  using namespace equations;
  constexpr std::array<LaneCoefficient, 4> ids = {kZeemanDriveU2, kZeemanDriveU5, kZeemanDriveU8,
                                                  kZeemanDriveU11};
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const std::array<double, 3>& d = step.drive[i];
#pragma omp simd
    for (int l = 0; l < kBatchLanes; ++l) {
      c[ids[i]][l] = d[0] * eq[0][l] + d[1] * eq[1][l] + d[2] * eq[2][l];
    }
  }
}

// `pair`'s coefficients at t, with `decay` the step's exp(-t/T_k).
PairStep pair_step(const DrivenPair& pair, const MediumParameters& mp, double t,
                   const DecayFactors& decay);

// n_eq of Pair in lane l, from u13eq..u15eq in eq[0..2], term by term.
template <const DrivenPair& Pair>
inline double equilibrium_inversion(const Lanes* eq, int l) {
  const auto part = [&](const InversionTerm& term) {
    return term.sign * (term.factor * eq[term.component - 13][l] / term.divisor);
  };
  double n = part(Pair.inversion[0]);
  for (std::size_t k = 1; k < static_cast<std::size_t>(Pair.inversion_terms); ++k) {
    n = n + part(Pair.inversion[k]);
  }
  return n;
}

// Pair's coefficients in every lane of a block (cells of permittivity
// eps_r, equilibrium u13eq..u15eq in eq[0..2]): the step's current
// coefficients over eps_r, the current of the equilibrium inversion and
// its drive of u_x (per Ey) and u_y (per Ex) in the stored form.
template <const DrivenPair& Pair>
void pair_lane_coefficients(const MediumParameters& mp, const PairStep& step, const Lanes& eps_r,
                            const Lanes* eq, BatchCoefficients& c) {
  using constants::hbar;
  using constants::hbar_eps0;
  const double p = mp.*Pair.dipole;
  const double Nd = mp.density;
  const double sign = mp.current_sign;
  const double share = mp.polarisation_share;
  constexpr double y_drive_hbar = -(Pair.y_sign * hbar);  // u_y is driven against its share of P
#pragma omp simd
  for (int l = 0; l < kBatchLanes; ++l) {
    const double inv_eps = 1.0 / eps_r[l];
    c[Pair.dephasing_x][l] = step.dephasing_x * inv_eps;
    c[Pair.precession_x][l] = step.precession_x * inv_eps;
    c[Pair.dephasing_y][l] = step.dephasing_y * inv_eps;
    c[Pair.precession_y][l] = step.precession_y * inv_eps;
    for (std::size_t k = 0; k < static_cast<std::size_t>(Pair.inversion_terms); ++k) {
      const double x = step.inversion[k] * inv_eps;
      c[Pair.inversion_x[k]][l] = x;
      c[Pair.inversion_y[k]][l] = -x;
    }
    const double n = equilibrium_inversion<Pair>(eq, l);
    const double g = sign * (p * Nd * p / (hbar_eps0 * eps_r[l]) * n) * share;
    c[Pair.equilibrium_x][l] = g;
    c[Pair.equilibrium_y][l] = -g;
    c[Pair.drive_x][l] = p * n * step.growth_x / hbar;
    c[Pair.drive_y][l] = p * n * step.growth_y / y_drive_hbar;
  }
  if (!mp.zeeman) return;
  for (std::size_t m = 0; m < Pair.zeeman_x.size(); ++m) {
#pragma omp simd
    for (int l = 0; l < kBatchLanes; ++l) {
      c[Pair.zeeman_x[m]][l] = step.zeeman_x[m] / eps_r[l];
      c[Pair.zeeman_y[m]][l] = step.zeeman_y[m] / eps_r[l];
    }
  }
}

}  // namespace mps
