#pragma once
// The medium's constants for the whole run, from the case and its structure.
#include <array>
#include <cstdint>
#include <vector>

#include "core/relaxation.hpp"
#include "core/run_parameters.hpp"
#include "core/spectral_classes.hpp"
#include "input/structure.hpp"
#include "medium/medium_state.hpp"
#include "medium/pseudospin.hpp"

namespace mps {

// Medium parameters that hold for the whole run.
struct MediumParameters {
  Model model = Model::corrected;
  LevelMatrix<double> tau;     // configured transfer times [s]
  TransferRates gamma;         // their rates [1/s] (legacy model)
  TransferChannels channels;   // the channels' rates [1/s] (corrected model)
  std::array<double, 16> T{};  // T1..T15 [s]
  double dipole = 0.0;         // p of 1<->2 [C m]
  double density = 0.0;        // Nd [m^-3]
  double detuning = 0.0;       // Delta [rad/s]
  double half_detuning = 0.0;  // Delta / 2
  std::int64_t iteration_limit = 0;
  double tolerance = 0.0;
  CellRange cavity;  // the population flags are kept in (left, right]
  // Sign of the medium terms of the field equations (see current_sign()).
  double current_sign = -1.0;
  // Share of the dephasing and field-driven terms of the current (see
  // polarisation_share()).
  double polarisation_share = 0.5;
  // sigma- light drives 3<->4 as well (kTermsBoth), with p34.
  bool both_transitions = false;
  double dipole34 = 0.0;  // p34 [C m]
  // A magnetic field's Zeeman terms (kTermsZeeman, kTermsBothZeeman), with
  // the Larmor frequencies muB g B / hbar [rad/s] of the electron (x, y, z)
  // and the hole (x, y, z).
  bool zeeman = false;
  std::array<double, 6> larmor{};
  // The spectral classes of a broadened ensemble; empty: one class.
  std::vector<SpectralClass> classes;
};

// The field couples to the pair (u1, u7) with p/hbar (E = Ex + i Ey), so
// the dots' polarisation is P = Nd p (u1, u7)/2 along (x, y) and the field
// equations read dE/dt = curl terms + sign * (Nd p/(2 eps0 eps_r)) du/dt.
// Levels 2 and 4 lie hbar Delta above 1 and 3, so the dots gain energy at
// Nd (p Delta/2) (Ex u7 - Ey u1) per volume; the field pays exactly that
// with sign = -1.  The legacy model has +1 and creates that energy
// instead.  Negating a coefficient is exact, so the derivative equals the
// one written with subtractions, bit for bit.
inline double current_sign(Model model) { return model == Model::legacy ? 1.0 : -1.0; }

// The share of P's dephasing (-u/T) and field-driven (p E u13/hbar) terms
// in the current: 1/2, as of its precession term (Delta/2).  The legacy
// model takes them whole, so its current is not the derivative of any
// polarisation: exact at resonance, its absorption line leans to the blue
// away from it.  Halving is exact, so the legacy terms are unchanged.
inline double polarisation_share(Model model) { return model == Model::legacy ? 1.0 : 0.5; }

MediumParameters medium_parameters(const RunParameters& params, const StructureProfile& structure);

}  // namespace mps
