#pragma once
// Population transfer between the four dot levels as rate equations.
//
// Levels 1 and 3 are the spin ground states, 2 and 4 the trions above them.
// Each channel moves population from one level to another at the rate
// 1/tau of its entry of the transfer times:
//   drho_a/dt -= g rho_a,  drho_b/dt += g rho_a   (channel a -> b, rate g)
// The channels are the rows of kChannels: adding one is adding its row.
#include <array>
#include <cstddef>

#include "core/run_parameters.hpp"

namespace mps {

// A channel from level `from` to level `to` (1..4) at the rate
// 1/tau(tau_i, tau_j).
struct Channel {
  int from, to;
  int tau_i, tau_j;
};

// Every channel, in the order their rates are summed (results are compared
// to the last digit: keep the order of the existing rows).
inline constexpr auto kChannels = std::to_array<Channel>({
    {2, 1, 2, 1},  // recombination 2->1, tau_sp
    {4, 3, 2, 1},  // recombination 4->3, at tau(2,1) as well
    {4, 2, 4, 2},  // hole spin flip 4->2
    {1, 3, 1, 3},  // electron spin flip 1->3
    {2, 4, 2, 4},  // hole spin flip 2->4
    {3, 1, 3, 1},  // electron spin flip 3->1
});

// Rates of the channels [1/s], in the order of kChannels; 0 for one that is
// off.
using TransferChannels = std::array<double, kChannels.size()>;

// The channels of the configured transfer times.
inline TransferChannels transfer_channels(const LevelMatrix<double>& tau) {
  TransferChannels g{};
  for (std::size_t c = 0; c < kChannels.size(); ++c)
    g[c] = 1.0 / tau(kChannels[c].tau_i, kChannels[c].tau_j);
  return g;
}

// Relaxation times T13, T14, T15 [s] of the diagonal components
// u13 = rho22 - rho11, u14 = (2 rho33 - rho11 - rho22)/sqrt3 and
// u15 = (3 rho44 - rho11 - rho22 - rho33)/sqrt6 under the rate equations:
// minus the inverse of the coefficient of u_k in du_k/dt.  With u_k along
// the level vector v_k (below) a channel a -> b adds
// (v_k[a] - v_k[b]) v_k[a] / d_k times its rate to 1/T_k: integer weights,
// so the sums are exact multiples.  Infinite when no channel moves the
// component.
inline std::array<double, 3> population_times(const TransferChannels& g) {
  constexpr int v[3][4] = {{-1, 1, 0, 0}, {-1, -1, 2, 0}, {-1, -1, -1, 3}};
  constexpr std::array<double, 3> d = {2.0, 6.0, 12.0};
  std::array<double, 3> T{};
  for (std::size_t k = 0; k < 3; ++k) {
    double rate = 0.0;
    for (std::size_t c = 0; c < kChannels.size(); ++c) {
      const int a = kChannels[c].from - 1, b = kChannels[c].to - 1;
      const int w = (v[k][a] - v[k][b]) * v[k][a];
      if (w != 0) rate += w * g[c];
    }
    T[k] = d[k] / rate;
  }
  return T;
}

}  // namespace mps
