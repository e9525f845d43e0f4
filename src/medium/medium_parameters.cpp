#include "medium/medium_parameters.hpp"

namespace mps {

MediumParameters medium_parameters(const RunParameters& p, const StructureProfile& s) {
  MediumParameters mp;
  mp.model = p.model;
  mp.tau = p.tau;
  mp.gamma = transfer_rates(p.tau);
  mp.channels = transfer_channels(p.tau);
  mp.T = p.T;
  mp.dipole = p.dipole;
  mp.density = p.dipole_density;
  mp.detuning = p.detuning;
  mp.half_detuning = p.half_detuning;
  mp.iteration_limit = p.iteration_limit;
  mp.tolerance = p.tolerance;
  mp.cavity = {s.cavity_left, s.cavity_right};
  mp.current_sign = current_sign(p.model);
  mp.polarisation_share = polarisation_share(p.model);
  mp.both_transitions = p.both_transitions;
  mp.dipole34 = p.dipole_table(3, 4);
  mp.classes = spectral_classes(p.ensemble);
  mp.zeeman = p.magnetic.on;
  if (mp.zeeman) mp.larmor = larmor_frequencies(p.magnetic);
  return mp;
}

}  // namespace mps
