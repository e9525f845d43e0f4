#include "medium/transitions.hpp"

namespace mps {

// Each expression as the hand-written coefficients of each pair had it:
// multiplying by a sign, a factor or a divisor of 1 is exact, so 1<->2's
// y_sign and n's unit weights leave its bits as they were.
PairStep pair_step(const DrivenPair& pair, const MediumParameters& mp, double t,
                   const DecayFactors& decay) {
  using namespace constants;
  const auto x = static_cast<std::size_t>(pair.x_coherence);
  const auto y = static_cast<std::size_t>(pair.y_coherence);
  const double ex = decay.now[x], ey = decay.now[y];  // exp(-t/T_x), exp(-t/T_y)
  const double Nd = mp.density;
  const double P = mp.*pair.dipole;
  const double sign = mp.current_sign;
  const double share = mp.polarisation_share;
  PairStep s;
  s.dephasing_x = sign * (-Nd * P * ex / (eps0 * mp.T[x])) * share;
  s.precession_x = sign * (Nd * P * mp.half_detuning * ey / eps0);
  s.dephasing_y = pair.y_sign * (sign * (-Nd * P * ey / (eps0 * mp.T[y])) * share);
  s.precession_y = pair.y_sign * (sign * (-Nd * P * mp.half_detuning * ex / eps0));
  const double driven = P * P * Nd / (hbar * eps0);
  for (std::size_t k = 0; k < static_cast<std::size_t>(pair.inversion_terms); ++k) {
    const InversionTerm& term = pair.inversion[k];
    const double e = decay.now[static_cast<std::size_t>(term.component)];
    const double coupling = pair.decay_with_dipoles ? P * P * e * Nd / (hbar * eps0) : driven * e;
    s.inversion[k] = sign * (term.sign * (term.factor * coupling / term.divisor)) * share;
  }
  s.growth_x = std::exp(t / mp.T[x]);
  s.growth_y = std::exp(t / mp.T[y]);
  return s;
}

}  // namespace mps
