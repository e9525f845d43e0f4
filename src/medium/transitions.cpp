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
  // With a magnetic field the pair's coherence precesses at its own shifted
  // frequency (the entry (x, y) of the Zeeman pairs).
  const double half_detuning =
      mp.zeeman ? 0.5 * zeeman_constant(pair.x_coherence, pair.y_coherence, mp.detuning, mp.larmor)
                : mp.half_detuning;
  s.precession_x = sign * (Nd * P * half_detuning * ey / eps0);
  s.dephasing_y = pair.y_sign * (sign * (-Nd * P * ey / (eps0 * mp.T[y])) * share);
  s.precession_y = pair.y_sign * (sign * (-Nd * P * half_detuning * ex / eps0));
  const double driven = P * P * Nd / (hbar * eps0);
  for (std::size_t k = 0; k < static_cast<std::size_t>(pair.inversion_terms); ++k) {
    const InversionTerm& term = pair.inversion[k];
    const double e = decay.now[static_cast<std::size_t>(term.component)];
    const double coupling = pair.decay_with_dipoles ? P * P * e * Nd / (hbar * eps0) : driven * e;
    s.inversion[k] = sign * (term.sign * (term.factor * coupling / term.divisor)) * share;
  }
  s.growth_x = std::exp(t / mp.T[x]);
  s.growth_y = std::exp(t / mp.T[y]);
  if (mp.zeeman) {
    // du_x/dt = ... + c u_m: P = Nd p (u_x, y_sign u_y)/2 takes c/2.
    const auto rate = [&mp](int k, int m) {
      return k < m ? zeeman_constant(k, m, mp.detuning, mp.larmor)
                   : -zeeman_constant(m, k, mp.detuning, mp.larmor);
    };
    for (std::size_t i = 0; i < equations::kZeemanCurrent.size(); ++i) {
      const int m = equations::kZeemanCurrent[i];
      const double em = decay.now[static_cast<std::size_t>(m)];
      s.zeeman_x[i] = sign * (Nd * P * 0.5 * rate(pair.x_coherence, m) * em / eps0);
      s.zeeman_y[i] = pair.y_sign * (sign * (Nd * P * 0.5 * rate(pair.y_coherence, m) * em / eps0));
    }
  }
  return s;
}

ZeemanStep zeeman_step(const MediumParameters& mp, double t) {
  constexpr std::array<int, 4> driven = {2, 5, 8, 11};
  ZeemanStep s;
  for (std::size_t i = 0; i < driven.size(); ++i) {
    const int k = driven[i];
    const double growth = std::exp(t / mp.T[static_cast<std::size_t>(k)]);
    for (int m = 13; m <= 15; ++m) {
      s.drive[i][static_cast<std::size_t>(m - 13)] =
          growth * zeeman_constant(k, m, mp.detuning, mp.larmor);
    }
  }
  return s;
}

}  // namespace mps
