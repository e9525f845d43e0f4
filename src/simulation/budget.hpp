#pragma once
// The energy budget of a run, kept every step from the Poynting flux at the
// ends and the monitor cells, and the peak populations of the dots.
//
// The leapfrog scheme conserves a discrete energy: over cells 2..N-1,
//   U^n = sum E^n^2 / (2 cE) + sum H^{n-1/2} H^{n+1/2} dt / (2 cH)   [J/m^2],
// which changes from step to step by the Poynting flux Ex Hy - Ey Hx through
// the planes of H(1) and H(N-1) (H at n+1/2, E averaged over n and n+1),
// by the work the field does on the dots, and by what the source puts in.
// The dots store Nd hbar Delta (rho22 + rho44) per volume (levels 2 and 4
// lie hbar Delta above 1 and 3); of the work they take up, what they do not
// store went to the lattice through dephasing and relaxation.  After step J
// every figure is that of step J - 1, where all of them are at hand.
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "input/input_reader.hpp"
#include "simulation/simulation.hpp"

namespace mps {

struct PeakPopulation {
  double value = std::numeric_limits<double>::quiet_NaN();  // rho_kk; NaN (null): no dot cell
  std::int64_t step = 0;
  std::int32_t cell = 0;
};

struct EnergyBudget {
  double reflected = 0.0;               // out through the left end, net [J/m^2]
  double transmitted = 0.0;             // out through the right end, net [J/m^2]
  double injected = 0.0;                // the transparent source's incident wave [J/m^2]
  std::vector<double> through_monitor;  // toward +z past each monitor cell [J/m^2]
  double dots_at_start = 0.0;
  double absorbed = 0.0;  // work of the field on the dots, integral E.J dt [J/m^2]
  // Of step `step`, filled by complete_budget():
  std::int64_t step = 0;
  double in_grid = 0.0;
  double dots = 0.0;  // change of the dots' stored energy since the start
  // Largest and smallest rho11..rho44 in the dot region since the start.
  std::array<PeakPopulation, 4> peaks;
  std::array<PeakPopulation, 4> lows;
  bool populations_seen = false;
  std::int32_t dot_slots_first = 0, dot_slots_last = 0;  // dot slots of the dot region
  double source_peak = 0.0;  // largest |E| of the pulse at the injection cell [V/m]
  std::int64_t source_peak_step = 0;
  double source_energy = 0.0;  // energy of the pulse's one-way wave [J/m^2]
  // Flux records of the steps since the last block end: time [fs], flux
  // toward +z through the planes next to the left and the right end [W/m^2].
  std::vector<double> flux_rows;
};

// The budget at the start of the loop; tells the step record whose
// population extremes to find (the dot slots of the dot region).
EnergyBudget start_budget(const RunInput& input, Simulation& sim);

// Right after step J: the work on the dots of step J - 1, which step J
// summed (StepRecord::previous_work).
void take_previous_work(const Simulation& sim, EnergyBudget& budget);

// After step J: the fluxes of the step, the source and the peaks; the
// step's work terms made whole for the next step to sum.
void account_step(const RunInput& input, Simulation& sim, std::int64_t J, EnergyBudget& budget);

// Energy in the grid and in the dots at step J - 1 (after step J).
void complete_budget(const RunInput& input, const Simulation& sim, std::int64_t J,
                     EnergyBudget& budget);

}  // namespace mps
