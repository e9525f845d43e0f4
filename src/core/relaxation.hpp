#pragma once
// Population transfer between the four dot levels as rate equations.
//
// Levels 1 and 3 are the spin ground states, 2 and 4 the trions above them.
// Six channels move population: recombination 2->1 and 4->3 (both at
// 1/tau(2,1)), electron spin flips 1->3 and 3->1, hole spin flips 2->4 and
// 4->2, each at the rate 1/tau of its entry:
//   drho11/dt =  g21 rho22 - g13 rho11 + g31 rho33
//   drho22/dt = -(g21 + g24) rho22 + g42 rho44
//   drho33/dt =  g13 rho11 - g31 rho33 + g43 rho44
//   drho44/dt =  g24 rho22 - (g42 + g43) rho44
#include <array>

#include "core/run_parameters.hpp"

namespace mps {

// Rates of the six channels [1/s]; a channel that is off has rate 0.
struct TransferChannels {
  double g21 = 0.0, g43 = 0.0;  // recombination 2->1, 4->3
  double g13 = 0.0, g31 = 0.0;  // electron spin flips 1->3, 3->1
  double g24 = 0.0, g42 = 0.0;  // hole spin flips 2->4, 4->2
};

// The channels of the configured transfer times (4->3 takes tau(2,1)).
inline TransferChannels transfer_channels(const LevelMatrix<double>& tau) {
  return {1.0 / tau(2, 1), 1.0 / tau(2, 1), 1.0 / tau(1, 3),
          1.0 / tau(3, 1), 1.0 / tau(2, 4), 1.0 / tau(4, 2)};
}

// Relaxation times T13, T14, T15 [s] of the diagonal components
// u13 = rho22 - rho11, u14 = (2 rho33 - rho11 - rho22)/sqrt3 and
// u15 = (3 rho44 - rho11 - rho22 - rho33)/sqrt6 under the rate equations:
// minus the inverse of the coefficient of u_k in du_k/dt.  Infinite when no
// channel moves the component.
inline std::array<double, 3> population_times(const TransferChannels& g) {
  return {2.0 / (2.0 * g.g21 + g.g13 + g.g24), 6.0 / (3.0 * g.g13 + g.g24 + 6.0 * g.g31),
          3.0 / (3.0 * g.g43 + 3.0 * g.g42 + g.g24)};
}

}  // namespace mps
