#pragma once
// What the run learns from a step besides the new state: the field's work
// on each dot cell, the extremes of the populations and the largest |Ex|
// of the dot cells.  The dot blocks report to it as they are stored
// (DotBlockObserver), where their values are at hand, so it costs no pass
// of its own; what a source changes after the medium's update is taken
// afterwards (complete_work_terms).  The simulation owns it and hands it to
// the medium's step; the medium knows only the observer.
#include <array>
#include <cstdint>
#include <vector>

#include "field/field_state.hpp"
#include "medium/medium_update.hpp"

namespace mps {

// The field energy the current of a dot cell took in a step [J/m^2 per
// cell width]: in a dot cell E_new - E_old = dt (curl terms + medium terms)
// with the derivative at the midpoint, so of the field's energy
// E^2/(2 cE) the current took
//   E_mid (E_new - E_old) / cE + dt (E_mid x curl H),
// with dhx = Hx(i) - Hx(i-1), dhy = Hy(i) - Hy(i-1) at the new level.
struct CellStepFields {
  double ex_new, ex_old, ey_new, ey_old, dhx, dhy;
};
inline double current_work(const CellStepFields& e, double cE, double dt) {
  const double ex = 0.5 * (e.ex_new + e.ex_old), ey = 0.5 * (e.ey_new + e.ey_old);
  // dEx/dt = -curlX + ..., dEy/dt = curlY + ... (curl = dH cE): what the
  // curls did not change is the current's.
  const double field = ex * (e.ex_new - e.ex_old) + ey * (e.ey_new - e.ey_old);
  const double curls = ex * e.dhy - ey * e.dhx;
  return field / cE + dt * curls;
}

struct StepRecord final : DotBlockObserver {
  double dt = 0.0;  // [s]
  // Dot slots whose Ex a source changes after the medium's update (set by
  // the step's plan): their |Ex| and their work are taken after the step,
  // from the fields as they end.
  std::vector<std::uint8_t> changed_later;  // [slot] 1 or 0
  std::vector<std::int32_t> late_slots;     // those slots
  // Dot slots [extremes_first, extremes_last) whose population extremes
  // are found (the dot region's, set by the budget).
  std::int32_t extremes_first = 0, extremes_last = 0;

  // Of the last step: per dot slot the field energy its current took
  // (current_work) [J/m^2]; per block the extremes of the population
  // numerators of the slots counted, lo of rho11..rho44 then hi (+inf and
  // -inf for none), and the largest |Ex| at the new level but of the slots
  // changed later (-inf for none, NaN passed over).
  std::vector<double> work_term;
  std::vector<std::array<double, 8>> block_extremes;
  std::vector<double> block_max_ex;

  // The sum of a step's work terms has a fixed order (slot by slot, so the
  // budget is the same on any team) and would cost the loop a serial pass
  // between steps; instead the next step sums them while its team works on
  // the dots (the scheduler's overlap task).  A whole step's terms
  // (terms_complete, set once the late slots' are in) are traded into
  // previous_terms as the next step starts, which then sums them (work_due)
  // into previous_work [J/m^2].
  std::vector<double> previous_terms;
  double previous_work = 0.0;
  bool terms_complete = false;
  bool work_due = false;

  // Sized for `dots` dot slots (after classify); no slot changed later.
  void reset(std::int32_t dots);
  void block_stored(const StoredBatch& stored) override;
  // The largest |Ex| the dot blocks found, or `max_ex` if larger.
  double max_ex(double max_ex) const;
  // At a step's start: a whole step's terms become the ones it sums.
  void ready_work_terms() {
    work_due = terms_complete;
    if (work_due) work_term.swap(previous_terms);
    terms_complete = false;
  }
  // The work the field did on the dots in the step before: the sum of its
  // terms in slot order (current_work, with opposite sign).
  void sum_previous_work() {
    double work = 0.0;
    for (const double term : previous_terms) work -= term;
    previous_work = work;
  }
};

// The late slots' work terms of the step just made, from the fields as
// they end (after the source and the ends); the step's terms are then
// whole.
void complete_work_terms(const FieldState& f, const MediumState& m, const FieldCoefficients& k,
                         StepRecord& record);

}  // namespace mps
