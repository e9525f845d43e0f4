#include "simulation/simulation.hpp"

#include "field/field_update.hpp"

namespace mps {
namespace {

// Start of a fresh run: the population flags from the start values (set A)
// inside the dot region z1..z2, 0 elsewhere.
void initial_flags(const StructureProfile& s, MediumState& m) {
  for (std::int32_t i = 1; i <= s.NZ; ++i) {
    const auto c = static_cast<std::size_t>(i);
    const bool dots = s.z1 <= i && i <= s.z2;
    m.occ[c] = dots ? occupied(populations(s.diag_a13[c], s.diag_a14[c], s.diag_a15[c]))
                    : PopulationFlags{0, 0, 0, 0};
  }
}

// Stored diagonal components at level 0 of a fresh run: start minus
// equilibrium values.
void initial_medium(const StructureProfile& s, MediumState& m) {
  for (std::int32_t i = 0; i <= s.NZ; ++i) {
    const auto c = static_cast<std::size_t>(i);
    double* w = m.w_at(0, i);
    w[12] = s.diag_a13[c] - s.diag_b13[c];
    w[13] = s.diag_a14[c] - s.diag_b14[c];
    w[14] = s.diag_a15[c] - s.diag_b15[c];
  }
}

}  // namespace

Simulation make_simulation(const RunInput& in) {
  const RunParameters& p = in.params;
  const StructureProfile& s = in.structure;
  Simulation sim;
  sim.dt = p.dt;
  sim.field.allocate(s.NZ);
  compute_field_profile(s, p.dz, p.dt, sim.coeffs);
  sim.medium.allocate(s.NZ);
  sim.medium.u13eq = s.diag_b13;
  sim.medium.u14eq = s.diag_b14;
  sim.medium.u15eq = s.diag_b15;
  sim.medium_parameters = medium_parameters(p, s);
  sim.source = make_pulse_source(p, s.NZ, {s.cavity_left, s.cavity_right});
  sim.ends =
      boundary_settings(p, s.local_courant[1], s.local_courant[static_cast<std::size_t>(s.NZ)]);
  initial_flags(s, sim.medium);
  if (p.J_final == 0) initial_medium(s, sim.medium);
  classify(sim);
  return sim;
}

void classify(Simulation& sim) { classify_cells(sim.medium, sim.medium_parameters.cavity); }

void step(Simulation& sim, std::int64_t J) {
  FieldState& f = sim.field;
  f.Jtoggle = 1 - f.Jtoggle;
  prepare_medium_step(sim.medium_parameters, J, sim.dt, sim.medium_step);
  update_H(f, sim.coeffs);
  sim.evaluations +=
      update_E_and_medium(f, sim.medium, sim.coeffs, sim.medium_parameters, sim.medium_step);
  apply_pulse_source(sim.source, f, J, sim.dt);
  apply_boundaries(f, sim.ends);
}

}  // namespace mps
