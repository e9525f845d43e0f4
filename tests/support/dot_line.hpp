#pragma once
// A line of vacuum cells holding a few dot cells, stepped by the program's
// own step() (H update, E and medium, pulse source, ends), for tests that
// follow a pulse through the dots and read their populations directly.
//
// Courant number 1 (dt = dz/c): in vacuum the 1D Yee scheme then moves a
// pulse one cell per step without dispersion and the first-order absorbing
// ends (k = 0) take it out completely, so nothing comes back to the dots.
#include <algorithm>
#include <array>
#include <cstdint>

#include "field/field_update.hpp"
#include "simulation/simulation.hpp"
#include "support/reference/cell_step.hpp"

namespace mps::testing {

inline constexpr double kDipole = 6.4e-29;  // p [C m], as in the examples
inline constexpr double kTransition = 1.3 * constants::electron_volt;  // 1<->2 and 3<->4 [J]

// u13..u15 of the populations rho11..rho44 (the inverse of populations()).
inline std::array<double, 3> diagonal_components(const std::array<double, 4>& rho) {
  return {rho[1] - rho[0], (3.0 * rho[2] + rho[3] - 1.0) / constants::sqrt3,
          (4.0 * rho[3] - 1.0) / constants::sqrt6};
}

struct LineSetup {
  std::int32_t cells = 200;
  double density = 1e18;    // Nd [m^-3]
  double dephasing = 1e-6;  // T1..T12 [s]
  double transfer = 1e-6;   // every other tau(i,j), i != j [s]
  double tau_sp = 1e-6;     // tau(2,1) [s]
  Model model = Model::corrected;
};

struct DotLine {
  static constexpr double dz = 5e-9;           // [m]
  static constexpr std::int32_t kOrigin = 10;  // injection cell
  std::int64_t J = 0;                          // last step done
  Simulation sim;                              // stepped by the program's step()
  // Its parts, under short names.
  double& dt = sim.dt;  // [s]
  FieldState& f = sim.field;
  MediumState& m = sim.medium;
  FieldCoefficients& k = sim.coeffs;
  MediumParameters& mp = sim.medium_parameters;
  MediumStep& step = sim.medium_step;
  PulseSource& source = sim.source;
  BoundarySettings& ends = sim.ends;

  explicit DotLine(const LineSetup& setup) {
    dt = dz / constants::c0;
    StructureProfile s;
    Layer vacuum;
    vacuum.cells = setup.cells;
    vacuum.index = 1.0;
    s.layers = {vacuum};
    s.NZ = setup.cells;
    compute_field_profile(s, dz, dt, k);
    f.allocate(setup.cells);
    m.allocate(setup.cells);

    for (int i = 1; i <= kLevels; ++i) {
      for (int j = 1; j <= kLevels; ++j) mp.tau(i, j) = i != j ? setup.transfer : 0.0;
    }
    mp.tau(2, 1) = setup.tau_sp;
    mp.model = setup.model;
    mp.current_sign = current_sign(setup.model);
    mp.polarisation_share = polarisation_share(setup.model);
    for (std::size_t n = 1; n <= 12; ++n) mp.T[n] = setup.dephasing;
    derive_transfer();
    mp.dipole = kDipole;
    mp.density = setup.density;
    mp.detuning = kTransition / constants::hbar;
    mp.half_detuning = 0.5 * mp.detuning;
    mp.iteration_limit = 20;
    mp.tolerance = 1e-12;
    mp.cavity = {0, setup.cells};  // flags are evaluated in every cell

    source.origin_cell = source.injection_cell = kOrigin;
    ends.left_type = ends.right_type = BoundaryType::absorbing;
    ends.k_left = ends.k_right = absorbing_coefficient(1.0, 0.0);
    classify(sim);
  }

  // Transfer time tau(i,j) [s], with the rates and T13..T15 it gives.
  void set_transfer_time(int i, int j, double tau) {
    mp.tau(i, j) = tau;
    derive_transfer();
  }

  // The rates and T13..T15 of mp.tau in the model of mp.model.
  void derive_transfer() {
    mp.gamma = transfer_rates(mp.tau);
    mp.channels = transfer_channels(mp.tau);
    const PopulationCoupling c = population_coupling(mp.tau, mp.gamma, 0.0, 0.0, 0.0, 0.0);
    const std::array<double, 3> T = mp.model == Model::legacy
                                        ? std::array<double, 3>{c.T13, c.T14, c.T15}
                                        : population_times(mp.channels);
    std::copy(T.begin(), T.end(), mp.T.begin() + 13);
  }

  // Cells first..last hold dots in equilibrium with populations rho (w = 0).
  void add_dots(std::int32_t first, std::int32_t last, const std::array<double, 4>& rho) {
    const auto u = diagonal_components(rho);
    for (std::int32_t i = first; i <= last; ++i) {
      m.set_equilibrium(i, {u[0], u[1], u[2]});
      m.set_flags(i, population_flags(i, {u[0], u[1], u[2]}, mp.cavity));
    }
    classify(sim);
  }

  // A Gaussian pulse at the resonance, centred at step 4 W (W its 1/e
  // half-width in steps); fwhm is the full width at half maximum of E [s].
  void set_pulse(std::int32_t polarisation, double amplitude, double fwhm) {
    source.pulse.shape = PulseShape::gaussian;
    source.pulse.polarisation = Polarisation{polarisation};
    source.pulse.amplitude = amplitude;
    source.pulse.angular_frequency = mp.detuning;
    source.pulse.tau = fwhm / constants::fwhm_factor;
    source.pulse.delay_ratio = 4;
  }

  // A hyperbolic-secant pulse A sech((t - 10 width) / width) at the
  // resonance: duration T = 20 width with no delay (J1 = 0), so the source
  // starts at sech(10) ~ 1e-4 of the peak.  A circular pulse holds the field
  // of the origin from t = 25.5 T on; runs here end long before.
  void set_sech_pulse(std::int32_t polarisation, double amplitude, double width) {
    source.pulse.shape = PulseShape::sech;
    source.pulse.polarisation = Polarisation{polarisation};
    source.pulse.amplitude = amplitude;
    source.pulse.angular_frequency = mp.detuning;
    source.pulse.duration = 20.0 * width;
    source.pulse.delay_ratio = 0;
  }

  DotLine(const DotLine&) = delete;
  DotLine& operator=(const DotLine&) = delete;

  void advance() { mps::step(sim, ++J); }

  double ex(std::int32_t i) const {
    return f.Ex[static_cast<std::size_t>(f.new_level())][static_cast<std::size_t>(i)];
  }
  Populations rho(std::int32_t i) const { return populations(m.physical(f.new_level(), i)); }
};

// One dot cell of the examples' dense medium (Nd = 1e24 m^-3, dephasing
// 10 ps, transfer times 0.5 ns and 1 ns, levels 1 and 3 half filled), its
// coefficients formed as the medium loop forms them, in a state a pulse leaves.
struct DenseCell {
  DotLine line{LineSetup{200, 1e24, 1e-11, 5e-10, 1e-9}};
  CellCoefficients cell;
  CellVector old;
  DenseCell() {
    prepare_medium_step(line.mp, 3000, line.dt, line.step);
    cell.curlX = 3e18, cell.curlY = -2e18;
    cell.dephasing_x = line.step.pair12.dephasing_x,
    cell.precession_x = line.step.pair12.precession_x,
    cell.inversion_x = line.step.pair12.inversion[0];
    cell.precession_y = line.step.pair12.precession_y,
    cell.dephasing_y = line.step.pair12.dephasing_y, cell.inversion_y = -cell.inversion_x;
    const auto eq = diagonal_components({0.5, 0.0, 0.5, 0.0});
    cell.equilibrium_x = kDipole * 1e24 * kDipole / constants::hbar_eps0 * eq[0],
    cell.equilibrium_y = -cell.equilibrium_x;
    cell.drive_u1 = kDipole * eq[0] * line.step.pair12.growth_x / constants::hbar;
    cell.drive_u7 = -kDipole * eq[0] * line.step.pair12.growth_y / constants::hbar;
    cell.pop = cell_population_coupling(line.mp, {1, 1, 1, 1}, line.step.t, {eq[0], eq[1], eq[2]});
    old.ex = 1.5e8, old.ey = -0.7e8;
    const double w[15] = {0.02,   -0.01, 0.003,  -0.004, 0.001, 0.002, -0.03, 0.005,
                          -0.002, 0.004, -0.001, 0.0005, 0.2,   -0.05, 0.01};
    std::copy(w, w + 15, old.w.v.begin());
  }
};

}  // namespace mps::testing
