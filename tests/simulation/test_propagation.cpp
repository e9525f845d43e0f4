// Wave propagation through the field kernels (the H and E sweep of step(),
// apply_boundaries), stepped without the time loop: travel speed, open and
// conducting ends, an index step, and the transit of a graded layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/errors.hpp"
#include "field/boundaries.hpp"
#include "field/field_update.hpp"
#include "field/pulse_source.hpp"
#include "simulation/simulation.hpp"
#include "support/layers.hpp"

namespace mps {
namespace {

using testing::layer;
using testing::structure_of;

// Dot-free cells advanced by the program's step() with its source off; a
// hard source of the test's own (E at one cell replaced, when `cell` > 0)
// is imposed after it.  Courant number 1.
struct Line {
  double dz;
  StructureProfile s;
  Simulation sim;
  FieldState& f = sim.field;
  FieldCoefficients& k = sim.coeffs;
  std::int64_t J = 0;

  Line(std::vector<Layer> layers, std::int32_t end_type, Model model = Model::corrected,
       double cell = 10e-9)
      : dz(cell), s(structure_of(std::move(layers), dz, dz / constants::c0, model)) {
    sim.dt = dz / constants::c0;
    compute_field_profile(s, dz, sim.dt, k);
    f.allocate(s.NZ);
    sim.medium.allocate(s.NZ);
    sim.medium_parameters.T.fill(1e-6);  // no dot cell reads them
    classify(sim);
    sim.source.active = false;
    RunParameters p;
    p.bc_left = p.bc_right = BoundaryType{end_type};
    sim.ends = boundary_settings(p, cell_material(s, 1).local_courant,
                                 cell_material(s, s.NZ).local_courant);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  void advance(std::int32_t cell = 0, double ex = 0.0, double ey = 0.0) {
    step(sim, ++J);
    if (cell > 0)
      Ex()[static_cast<std::size_t>(cell)] = ex, Ey()[static_cast<std::size_t>(cell)] = ey;
  }
  std::vector<double>& Ex() { return f.Ex[static_cast<std::size_t>(f.new_level())]; }
  std::vector<double>& Ey() { return f.Ey[static_cast<std::size_t>(f.new_level())]; }
  double max_abs_E() {
    double a = 0.0;
    for (std::size_t i = 1; i < Ex().size(); ++i)
      a = std::max({a, std::fabs(Ex()[i]), std::fabs(Ey()[i])});
    return a;
  }
  // Electromagnetic energy per unit area, H of the new level.
  double energy() {
    const auto nw = static_cast<std::size_t>(f.new_level());
    double w = 0.0;
    for (std::size_t i = 1; i < Ex().size(); ++i) {
      w += constants::eps0 * k.eps_r[i] * (f.Ex[nw][i] * f.Ex[nw][i] + f.Ey[nw][i] * f.Ey[nw][i]) +
           constants::mu0 * (f.Hx[nw][i] * f.Hx[nw][i] + f.Hy[nw][i] * f.Hy[nw][i]);
    }
    return w * dz;
  }
};

// Gaussian drive of 1/e half width w steps, peaking at step 5w; e^-25 at its
// ends, after which the source cell is released.
struct Gaussian {
  double amplitude, w;
  int steps() const { return static_cast<int>(10.0 * w); }
  double operator()(int n) const { return amplitude * std::exp(-std::pow((n - 5.0 * w) / w, 2)); }
};

// Uniform layers are the same in both models; the propagation tests run
// in both all the same, as users of either rely on them.
class Propagation : public ::testing::TestWithParam<Model> {};
INSTANTIATE_TEST_SUITE_P(BothModels, Propagation,
                         ::testing::Values(Model::corrected, Model::legacy));

TEST_P(Propagation, VacuumAtCourantOneShiftsOneCellPerStepAndLeavesWithoutReflection) {
  Line line({layer(600, 1.0)}, 1, GetParam());
  const Gaussian g{1e8, 12.0};
  const std::int32_t source = 100;
  // Ey gets its own pulse so that the Ey/Hx pair is checked as well.
  for (int n = 1; n <= g.steps(); ++n) line.advance(source, g(n), -0.5 * g(n));
  const std::vector<double> ex_then = line.Ex(), ey_then = line.Ey();
  const int shift = 200;
  for (int n = 0; n < shift; ++n) line.advance();
  // At Courant number 1 the scheme is exact: the pulse keeps its shape cell
  // for cell; 1e-9 of the amplitude leaves room for rounding only.
  const double tol = 1e-9 * g.amplitude;
  for (std::size_t i = source + 1; i + shift < line.Ex().size() - 1; ++i) {
    ASSERT_NEAR(line.Ex()[i + shift], ex_then[i], tol) << i + shift;
    ASSERT_NEAR(line.Ey()[i + shift], ey_then[i], tol) << i + shift;
  }
  // The hard source launches the drive itself, not half of it, each way.
  EXPECT_NEAR(*std::max_element(line.Ex().begin(), line.Ex().end()), g.amplitude, tol);
  for (int n = 0; n < 600; ++n) line.advance();
  EXPECT_LT(line.max_abs_E(), 1e-6 * g.amplitude);  // both halves have left
}

TEST_P(Propagation, IndexStepReflectsAndTransmitsFresnelAmplitudes) {
  const double n1 = 1.0, n2 = 3.5;
  const std::int32_t step_at = 600;  // last cell of n1
  Line line({layer(step_at, n1), layer(800, n2)}, 1, GetParam());
  // w = 60 steps: components above 1/15 of the sampling rate are below e^-4,
  // so whatever matters has more than 20 cells per wavelength inside n2.
  const Gaussian g{1e8, 60.0};
  const std::int32_t source = 100, before = 300, after = step_at + 40;
  double incident = 0.0, reflected = 0.0, transmitted = 0.0;
  auto keep_peak = [](double& peak, double v) { peak = std::fabs(v) > std::fabs(peak) ? v : peak; };
  for (int n = 1; n <= 1500; ++n) {
    n <= g.steps() ? line.advance(source, g(n)) : line.advance();
    // The incident pulse has passed `before` by step 800; the reflection
    // arrives there after step 900.
    keep_peak(n < 850 ? incident : reflected, line.Ex()[before]);
    keep_peak(transmitted, line.Ex()[after]);
  }
  EXPECT_NEAR(incident, g.amplitude, 1e-9 * g.amplitude);  // exact in vacuum
  // 1%: Fresnel holds for long wavelengths; the pulse's short-wavelength
  // tail and the dispersion inside n2 shift the peaks by about 0.05%.
  const double r = (n1 - n2) / (n1 + n2), t = 2.0 * n1 / (n1 + n2);
  EXPECT_NEAR(reflected / incident, r, 0.01 * std::fabs(r));
  EXPECT_NEAR(transmitted / incident, t, 0.01 * t);
}

TEST(Walls, ConductingWallsTrapThePulseAndInvertItOnReflection) {
  Line line({layer(301, 1.0)}, 2);
  const Gaussian g{1e8, 8.0};
  const std::int32_t source = 150, probe = 250;
  for (int n = 1; n <= g.steps(); ++n) line.advance(source, 0.0, g(n));
  const double w0 = line.energy();
  // The right-going half passes the probe near step 140, meets the wall
  // (cell 301) near 191 and is back near 242; the other half much later.
  double first = 0.0, second = 0.0;
  for (int n = g.steps() + 1; n <= 280; ++n) {
    line.advance();
    double& peak = n < 190 ? first : second;
    if (std::fabs(line.Ey()[probe]) > std::fabs(peak)) peak = line.Ey()[probe];
  }
  const double tol = 1e-9 * g.amplitude;  // exact transport at Courant number 1
  EXPECT_NEAR(first, g.amplitude, tol);
  EXPECT_NEAR(second, -first, tol);
  // Twenty round trips of 2 (N - 1) steps later both pulses are back where
  // they were, so the energy, taken at the same phase, agrees to rounding.
  for (int n = 280; n < g.steps() + 20 * 600; ++n) line.advance();
  EXPECT_NEAR(line.energy() / w0, 1.0, 1e-9);
  EXPECT_NEAR(line.max_abs_E(), g.amplitude, tol);
  EXPECT_EQ(line.Ey()[1], 0.0);
  EXPECT_EQ(line.Ey()[301], 0.0);
}

// A graded layer from n = 1.0 to 3.5 delays a pulse by its optical
// thickness, sum n(i) dz / c, as a uniform layer of that optical thickness
// does; the legacy model gives each graded cell the left-end velocity
// (mu = mu0 (nA / n(i))^2), so the pulse crosses at c.  Courant number 1;
// the 1 um carrier has 57 cells per wavelength in n = 3.5.
constexpr double kDz = 5e-9;
constexpr double kDt = kDz / constants::c0;
constexpr double kWavelength = 1e-6;
constexpr double kFwhm = 5e-15;
constexpr double kSubstrate = 3.5;
// Injection cell, monitor before the layer, its distance to the layer, the
// second monitor's depth into the substrate and the substrate beyond it:
// echoes reach the monitors 1400 and 2100 steps after the pulse.
constexpr std::int32_t kSource = 20, kBefore = 100, kGap = 700, kDepth = 50, kTail = 300;

struct Crossing {
  double transit = 0.0;  // measured transit of the middle layer [s]
  double optical = 0.0;  // sum of n(i) dz / c over its cells [s]
  double length = 0.0;   // cells dz / c [s]
};

// Arrival step of the pulse at a monitor: centroid of Ex^2 within 4 widths W
// of its largest value (all but e^-18 of the pulse, and no echo).
double arrival(const std::vector<double>& ex, std::int64_t W) {
  const auto n = static_cast<std::int64_t>(ex.size());
  const std::int64_t peak =
      std::max_element(ex.begin(), ex.end(),
                       [](double a, double b) { return std::fabs(a) < std::fabs(b); }) -
      ex.begin();
  double sum = 0.0, moment = 0.0;
  for (std::int64_t j = std::max<std::int64_t>(0, peak - 4 * W); j <= std::min(n - 1, peak + 4 * W);
       ++j) {
    const double e2 = ex[static_cast<std::size_t>(j)] * ex[static_cast<std::size_t>(j)];
    sum += e2;
    moment += static_cast<double>(j) * e2;
  }
  return moment / sum;
}

// Vacuum | middle | substrate of n = 3.5 with absorbing ends, stepped by
// the program's step() without dots.  The delay between the two monitors
// less the uniform paths on either side is the middle layer's transit.
Crossing cross(const Layer& middle, Model model) {
  const std::int32_t first = kBefore + kGap, last = first + middle.cells - 1;
  const std::int32_t after = last + kDepth;
  Line line({layer(first - 1, 1.0), middle, layer(kDepth + kTail, kSubstrate)}, 1, model, kDz);
  PulseSource& source = line.sim.source;
  source.active = true;
  source.pulse.shape = PulseShape::gaussian;
  source.pulse.polarisation = Polarisation::x;
  source.pulse.amplitude = 1e8;
  source.pulse.angular_frequency = constants::two_pi * constants::c0 / kWavelength;
  source.pulse.tau = kFwhm / constants::fwhm_factor;
  source.pulse.delay_ratio = 4;
  source.origin_cell = source.injection_cell = kSource;

  Crossing c;
  double path = 0.0;  // optical path from the first monitor to the second [dz]
  for (std::int32_t i = kBefore + 1; i <= after; ++i) {
    const double n = std::sqrt(line.k.eps_r[static_cast<std::size_t>(i)]);
    path += n;
    if (i >= first && i <= last) c.optical += n;
  }
  const auto W = static_cast<std::int64_t>(source.pulse.tau / kDt + 0.5);
  // The pulse peaks at the source at step 4 W and is past the second monitor
  // 4 W after it arrives there (sooner with the legacy model).
  const auto steps = 9 * W + (kBefore - kSource) + static_cast<std::int64_t>(path);
  std::vector<double> before, behind;
  for (std::int64_t J = 1; J <= steps; ++J) {
    line.advance();
    before.push_back(line.Ex()[kBefore]);
    behind.push_back(line.Ex()[static_cast<std::size_t>(after)]);
  }
  const double uniform = (first - 1 - kBefore) + kSubstrate * (after - last);  // [dz]
  c.transit = (arrival(behind, W) - arrival(before, W)) * kDt - uniform * kDz / constants::c0;
  c.optical *= kDz / constants::c0;
  c.length = middle.cells * kDz / constants::c0;
  return c;
}

// 2000 cells, 10 um: ten vacuum wavelengths, so the grading reflects little
// of the pulse.  Sum n(i) = 4501.25 cells, 75.1 fs.
const Layer kGraded = layer(2000, 1.0, kSubstrate);

// 1%: the grid's dispersion lengthens the delay by about 0.15%; the layer's
// ends are uncertain by half a cell on the staggered grid, 1.25 dz of 4500.
constexpr double kTolerance = 0.01;

TEST(GradedLayer, DelaysAPulseAsAUniformLayerOfTheSameOpticalThickness) {
  const Crossing graded = cross(kGraded, Model::corrected);
  EXPECT_NEAR(graded.transit / graded.optical, 1.0, kTolerance);
  // Whole cells of n = 3.5 of nearly the same optical thickness (dt = dz / c).
  const auto cells = static_cast<std::int32_t>(std::lround(graded.optical / kDt / kSubstrate));
  const Crossing uniform = cross(layer(cells, kSubstrate), Model::corrected);
  EXPECT_NEAR(uniform.transit / uniform.optical, 1.0, kTolerance);
  EXPECT_NEAR(uniform.transit - graded.transit, uniform.optical - graded.optical,
              kTolerance * graded.optical);
}

// Each legacy cell moves light at 1 / sqrt(eps mu) = c: the transit is the
// geometric length over c, 2.25 times below the optical thickness.
TEST(GradedLayer, LegacyModelCrossesTheGradedLayerAtTheSpeedOfLight) {
  const Crossing c = cross(kGraded, Model::legacy);
  EXPECT_NEAR(c.transit / c.length, 1.0, kTolerance);
  EXPECT_LT(c.transit / c.optical, 0.5);
}

}  // namespace
}  // namespace mps
