#pragma once
// The state of a run on the grid and one time step of it: field, medium,
// their coefficients, the pulse source and the ends.  A step does no I/O;
// the time loop, the tests and the benchmarks all advance a run with step().
#include <cstdint>
#include <vector>

#include "field/boundaries.hpp"
#include "field/field_state.hpp"
#include "field/field_update.hpp"
#include "field/incident_line.hpp"
#include "field/pulse_source.hpp"
#include "input/input_reader.hpp"
#include "medium/medium_state.hpp"
#include "medium/medium_update.hpp"
#include "simulation/scheduler.hpp"
#include "simulation/step_record.hpp"

namespace mps {

struct Simulation {
  double dt = 0.0;           // time step [s]
  FieldState field;          // E, H at two levels
  FieldCoefficients coeffs;  // per-cell eps_r, cE, cH (built once)
  MediumState medium;        // stored pseudospin values, flags
  MediumParameters medium_parameters;
  MediumStep medium_step;                    // coefficients of the step being computed
  PulseSource source;                        // imposed at the injection cell (unless inactive)
  std::vector<PulseSource> further_sources;  // of pulses 2..N, added where they start
  BoundarySettings ends;                     // cells 1 and N
  bool transparent = false;      // the pulse enters through a total-field/scattered-field plane
  IncidentLine incident;         // its incident wave
  std::int64_t evaluations = 0;  // right-hand-side evaluations of the dot cells so far
  double max_ex = 0.0;           // largest |Ex| over cells 1..N after the last step
  // Set by classify: the plain E update's runs (every cell 1..N-1 but the
  // dot cells), and the cells whose Ex is final only after the step (dot
  // cells, the source's and the ends' cells), whose |Ex| joins the maximum
  // of the runs' counted cells afterwards.
  std::vector<CellRun> e_runs;
  std::vector<std::int32_t> late_cells;
  MediumPlan medium_plan;  // the dot blocks of consecutive cells (set by classify)
  DotBlockShare blocks;    // the threads' runs of dot blocks
  StepRecord record;       // what the dot blocks of the last step reported
  // Cells whose fields of step J-1 are read after a step (the flux planes
  // of the monitors); with the ends, the source's and the dot cells, the
  // old level keeps step J-1 there (`kept_old`, set by classify).  The
  // whole old level is kept only at steps that ask for it.
  std::vector<std::int32_t> observed_cells;
  std::vector<CellSpan> kept_old;
  bool whole_old_level = true;
  // Threads of a step (TeamChooser's choice); 0: every thread when
  // step_forks(), else one.
  int team = 0;
};

// The run's pulse sources: the first pulse's, then those of pulses 2..N.
inline std::vector<const PulseSource*> sources_of(const Simulation& sim) {
  std::vector<const PulseSource*> out{&sim.source};
  for (const PulseSource& s : sim.further_sources) out.push_back(&s);
  return out;
}

// Allocates the arrays of the run's grid and builds every coefficient.  A
// fresh run (J_final = 0) starts from the layers' start values; the flags
// start from them inside the dot region z1..z2 and are 0 elsewhere.
Simulation make_simulation(const RunInput& input);

// Sorts the cells into vacuum, passive and dot cells (after the stored
// values are set, fresh or restored), and plans the plain E update's runs;
// again after the dots or the source are changed by hand.
void classify(Simulation& sim);

// True when the steps may share their cells among the threads (team_pays).
bool step_forks(const Simulation& sim);

// One normal step J.  Levels (new = Jtoggle after the flip):
//   before:        E, H, w at old = step J-1;  new = step J-2 (overwritten)
//   H update:      H_new from H_old and E_old
//   E and medium:  E_new, w_new from E_old, w_old and H_new
//   source, ends:  E_new at the injection cell, then at cells 1 and N
//   after:         new = step J, old = step J-1 (all of it with
//                  whole_old_level, else at the kept_old cells); max_ex set
// When the grid or the medium is large enough to share out, H, E and the
// medium are one parallel region; each cell is computed the same way
// whichever thread takes it.
void step(Simulation& sim, std::int64_t J);

// Throws NonFiniteError naming the quantity, cell and step when a field or
// medium value of either level is NaN or infinite after step J.
void check_finite_state(const Simulation& sim, std::int64_t J);

}  // namespace mps
