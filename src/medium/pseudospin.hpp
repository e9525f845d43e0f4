#pragma once
// Coefficients of the four-level pseudospin equations.
//
// With the decay factored out of the stored values (u_k = e^{-t/T_k} w_k),
// the coupling of w_l into dw_k/dt carries the factor
//   X_kl = exp(t/T_k - t/T_l),
// collected per step in two 15 x 15 matrices: F(k,l) multiplies w_l in
// dw_k/dt and B(k,l) multiplies w_k in dw_l/dt (only k < l is used).  The
// precession pairs (1,7), (3,9), (4,10), (6,12) rotate at the detuning
// Delta; the field-driven pairs carry the Rabi factor p/hbar or p/(2 hbar)
// (p = dipole moment); (13,14), (13,15), (14,15) couple the populations
// through the transfer times and are set per cell by population_coupling.
#include <array>
#include <cstdint>

#include "core/relaxation.hpp"
#include "core/run_parameters.hpp"

namespace mps {

// 15 x 15 matrix indexed 1..15 like the pseudospin components.
struct CouplingMatrix {
  std::array<double, 16 * 16> v{};
  double& operator()(int k, int l) { return v[static_cast<std::size_t>(k * 16 + l)]; }
  double operator()(int k, int l) const { return v[static_cast<std::size_t>(k * 16 + l)]; }
};

// The per-step matrices CoeffForward (F) and CoeffBackward (B).
struct StepCoefficients {
  CouplingMatrix F;
  CouplingMatrix B;
};

// F and B at t = (J + 0.5) dt from Delta, the dipole moment and T1..T15.
// With `dipole34` not 0, also the pairs of 3<->4 driven (kTermsBoth).
void step_coefficients(double t, double detuning, double dipole, const std::array<double, 16>& T,
                       StepCoefficients& out, double dipole34 = 0.0);

// With a magnetic field: F and B of the Zeeman pairs (equations::
// kZeemanPairs) at t, over those step_coefficients made, from Delta and the
// Larmor frequencies omega = muB g B / hbar [rad/s] (electron x, y, z, hole
// x, y, z; core/magnetic_field.hpp).
void zeeman_coefficients(double t, double detuning, const std::array<double, 6>& larmor,
                         const std::array<double, 16>& T, StepCoefficients& out);

// The coupling constant of a Zeeman pair [rad/s]: du_k/dt = c u_l.
double zeeman_constant(int k, int l, double detuning, const std::array<double, 6>& larmor);

// Transfer rates gamma(i,j) [1/s] of the configured times: 1->3, 2->1, 2->4,
// 3->1, 4->2, and 4->3 at the recombination rate of 2->1.
using TransferRates = LevelMatrix<double>;
TransferRates transfer_rates(const LevelMatrix<double>& tau);

// The population block of one dot cell, from its working transfer times.
struct PopulationCoupling {
  double T13 = 0.0, T14 = 0.0, T15 = 0.0;           // population relaxation times [s]
  double F13_14 = 0.0, F13_15 = 0.0, F14_15 = 0.0;  // entries replacing those of F
  double B13_14 = 0.0, B13_15 = 0.0, B14_15 = 0.0;  // entries replacing those of B
  double s13 = 0.0, s14 = 0.0, s15 = 0.0;           // relaxation sources of w13..w15
  // Coefficients of w13..w15 in their own rates [1/s]: the cell's relaxation
  // rate less the step's, where the cell's channels differ from the
  // configured ones.  `diagonal` is false when all three are 0.
  double D13 = 0.0, D14 = 0.0, D15 = 0.0;
  bool diagonal = false;
};

// population_coupling: T13..T15, the (13,14), (13,15), (14,15) couplings and the
// sources of one cell at t = (J + 0.5) dt, with `tau` its working transfer
// times, `gamma` the configured rates and u13eq..u15eq its equilibrium.
PopulationCoupling population_coupling(const LevelMatrix<double>& tau, const TransferRates& gamma,
                                       double t, double u13eq, double u14eq, double u15eq);

// The population block of the rate equations (core/relaxation.hpp), every
// channel at its rate in `cell`.  The stored values decay with the step's
// T13..T15 (`T`, those of the configured channels); a cell whose channels
// differ relaxes at its own rates through D13..D15.  The physical
// populations (populations(), with the model's surds) then follow the rate
// equations exactly: du/dt = Q R (p0 + P u), with rho = p0 + P u and Q the
// inverse map u = Q (rho - p0).
PopulationCoupling rate_equation_coupling(const TransferChannels& cell,
                                          const std::array<double, 16>& T, double t, double u13eq,
                                          double u14eq, double u15eq);

// The channels of a cell whose population flags are `occ`: a channel out of
// an empty level (occ_k = 0: rho_kk <= 0) is off.
TransferChannels working_channels(const TransferChannels& configured,
                                  const std::array<std::int32_t, 4>& occ);

// The legacy model's working transfer times: the configured ones, with channels
// switched off (1e100 s) by the population flags of the previous step:
// occ1 = 0 -> tau(1,3); occ2 = 0 -> tau(3,1); occ3 = 0 -> tau(2,4), tau(2,1);
// occ4 = 0 -> tau(4,2), tau(2,1).
LevelMatrix<double> working_tau(const LevelMatrix<double>& tau,
                                const std::array<std::int32_t, 4>& occ);

}  // namespace mps
