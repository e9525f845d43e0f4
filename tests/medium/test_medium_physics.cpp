// The medium as physics: a resonant pulse flips a thin dilute dot layer by
// its pulse area, circular polarisation selects the sense of rotation,
// populations relax with the configured times, the field pays for what the
// dots take up, and a whole run stays finite.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <sstream>

#include "field/time_loop.hpp"
#include "medium/dot_line.hpp"
#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kFwhm = 30e-15;    // [s]: 9 carrier periods, so the rotating-wave picture holds
constexpr std::int32_t kDot = 100;  // first of four dot cells, 90 cells after the source
constexpr std::int64_t kSteps =
    9000;  // the pulse (centre 4 W = 4320, W = 1080) has passed the dots

// Rabi frequency.  Ex drives the pair (7,13) and Ey the pair (1,13):
//   du1/dt = Delta u7 + (p/hbar) Ey u13,  du7/dt = -Delta u1 - (p/hbar) Ex u13,
//   du13/dt = (p/hbar) (Ex u7 - Ey u1),
// a rotation of (u1, u7, u13) about (p Ex/hbar, p Ey/hbar, -Delta), with
// u13 = rho22 - rho11: the field moves population between levels 1 and 2,
// and level 2 (the trion, which recombines into 1) is the upper one.  A carrier E(t) cos(Delta t)
// along x is two counter-rotating halves; the one turning with the precession gives the Rabi
// frequency Omega = p E / (2 hbar), so the pulse area is
//   Theta = p/(2 hbar) integral E dt   (a pi pulse: p integral E dt / hbar = 2 pi).
// A circular carrier (E cos, -+E sin) turns as a whole: Omega = p E / hbar
// in one sense, no resonant drive in the other.
//
// The envelope is measured where it acts: for Ex = E(t) cos(Delta t + phi)
// with a slowly varying E, |integral Ex exp(-i Delta t) dt| = integral E dt / 2.
struct Passage {
  double envelope_integral = 0.0;  // integral E dt at the first dot cell [V s / m]
  Populations rho;                 // populations of that cell after the pulse
};

Passage pass_pulse(DotLine& line, std::int64_t steps) {
  std::complex<double> resonant{};
  for (std::int64_t n = 0; n < steps; ++n) {
    line.advance();
    const double t = static_cast<double>(line.J) * line.dt;
    resonant += line.ex(kDot) * std::polar(line.dt, -line.mp.detuning * t);
  }
  return {2.0 * std::abs(resonant), line.rho(kDot)};
}

// Amplitude of a Gaussian envelope A exp(-(t/tau)^2) with integral E dt = I.
double amplitude_for(double integral) {
  return integral / (kFwhm / constants::fwhm_factor * std::sqrt(kPi));
}

TEST(RabiFlopping, UpperPopulationFollowsPulseArea) {
  // All dots in level 1; an x-polarised pulse of area pi/2, pi, 3pi/2, 2pi.
  for (const double area : {kPi / 2, kPi, 3 * kPi / 2, 2 * kPi}) {
    DotLine line(LineSetup{});
    line.add_dots(kDot, kDot + 3, {1.0, 0.0, 0.0, 0.0});
    line.set_pulse(1, amplitude_for(2.0 * constants::hbar * area / kDipole), kFwhm);
    const Passage p = pass_pulse(line, kSteps);
    const double theta = kDipole * p.envelope_integral / (2.0 * constants::hbar);
    SCOPED_TRACE(theta);
    // Vacuum at Courant number 1 carries the injected envelope unchanged;
    // 1% leaves room for the dots' own field.
    EXPECT_NEAR(theta, area, 0.01 * area);
    // Left over: relaxation (1 us against 0.1 ps) and the counter-rotating
    // half of the carrier (shift of order (Omega / 2 Delta)^2 < 1e-3).
    EXPECT_NEAR(p.rho.rho22, std::pow(std::sin(theta / 2), 2), 0.02);
    EXPECT_NEAR(p.rho.rho11 + p.rho.rho22, 1.0, 1e-6);  // 3 and 4 stay empty (surd error 1e-7)
    if (area == 2 * kPi) {
      EXPECT_LT(p.rho.rho22, 0.01);
    }
  }
}

TEST(Polarisation, CircularSenseSelectsTheTransition) {
  // Levels 1 and 3 half filled, as in the examples.  Of the diagonal
  // components the field drives u13 = rho22 - rho11 only (pairs (1,13),
  // (7,13)); u14 and u15, which hold levels 3 and 4, have no field term, so
  // neither sense moves those populations.  Free precession turns (u1, u7) as
  // (cos, -sin)(Delta t): q = 3 (Ex, Ey) = E (cos, -sin) turns with it and
  // drives 1<->2 at p E / hbar; q = 4 turns against it, off resonance by
  // 2 Delta.  Pulse of circular area p integral E dt / hbar = pi.
  for (const std::int32_t q : {3, 4}) {
    DotLine line(LineSetup{});
    line.add_dots(kDot, kDot + 3, {0.5, 0.0, 0.5, 0.0});
    line.set_pulse(q, amplitude_for(kPi * constants::hbar / kDipole), kFwhm);
    const Passage p = pass_pulse(line, kSteps);
    SCOPED_TRACE(q);
    if (q == 3) {
      const double theta = kDipole * p.envelope_integral / constants::hbar;
      EXPECT_NEAR(p.rho.rho22, 0.5 * std::pow(std::sin(theta / 2), 2), 0.01);
      EXPECT_GT(p.rho.rho22, 0.49);
    } else {
      EXPECT_LT(p.rho.rho22, 1e-3);  // (Omega / 2 Delta)^2 ~ 1e-4
    }
    EXPECT_NEAR(p.rho.rho33, 0.5, 1e-6);
    EXPECT_NEAR(p.rho.rho44, 0.0, 1e-6);
  }
}

TEST(Relaxation, ExcitedPopulationDecaysWithTransferTime) {
  // Recombination 2->1 and 4->3 at tau_sp = 100 fs, every other channel at
  // 1 us.  Levels 3 and 4 are kept filled (an empty one switches the
  // recombination off).  A pi pulse lifts level 1 into 2; from then on
  // rho22 and rho44 fall as exp(-t / (2 tau_sp)) (T13 = T15 = 2 tau_sp: a
  // channel moves population at 1/(2 tau)).
  LineSetup setup;
  setup.tau_sp = 100e-15;
  DotLine line(setup);
  line.add_dots(kDot, kDot + 3, {0.5, 0.0, 0.3, 0.2});
  line.set_pulse(1, amplitude_for(2.0 * constants::hbar * kPi / kDipole), kFwhm);
  const Populations start = pass_pulse(line, kSteps).rho;
  ASSERT_GT(start.rho22, 0.3);
  const std::int64_t J0 = line.J;
  for (int n = 1; n <= 3; ++n) {
    for (int k = 0; k < 2000; ++k) line.advance();
    const Populations r = line.rho(kDot);
    const double decay = std::exp(-static_cast<double>(line.J - J0) * line.dt / (2 * setup.tau_sp));
    // Stored values are turned into physical ones with the factors of the
    // step's mid time, half a step off the new level: the relaxation
    // target shifts by dt/(2 T) = 4e-5 of the distance still to go, which
    // shows in rho44 (whose target, 0, lies away from the equilibrium
    // values); the midpoint rule itself (k dt)^3/12 and the 1 us channels
    // (< 1e-7) are far below.
    EXPECT_NEAR(r.rho22 / start.rho22, decay, 2e-4 * decay) << n;
    EXPECT_NEAR(r.rho44 / start.rho44, decay, 2e-4 * decay) << n;
    EXPECT_NEAR(r.rho11 + r.rho22 + r.rho33 + r.rho44, 1.0, 1e-14);
  }
}

// Energy: what the pulse loses between a plane before and a plane after a
// dense dot layer (Poynting flux Ex Hy - Ey Hx, integrated over the run)
// is what the dots take up, hbar Delta per unit of rho22.
//
// Kept disabled as a record of an open question of the model: with the
// equations as they stand the field gains the energy the dots take up
// (ratio -0.995 for q = 1 and 3), because the sign of the polarisation
// current does not match the sense of the precession (Delta of the opposite
// sign gives +0.995).  Either change would alter every stored result, so it
// waits for a decision.
TEST(EnergyBalance, DISABLED_FieldLosesWhatTheDotsGain) {
  for (const std::int32_t q : {1, 3}) {
    LineSetup dense;
    dense.density = 1e24;
    DotLine line(dense);
    line.add_dots(kDot, kDot + 1, {1.0, 0.0, 0.0, 0.0});
    line.set_pulse(q, amplitude_for(constants::hbar * kPi / kDipole), kFwhm);
    double lost = 0.0;                    // [J/m^2]
    auto flux = [&line](std::size_t i) {  // through the plane of H(i), E averaged onto it
      const auto l = static_cast<std::size_t>(line.f.new_level());
      const auto& f = line.f;
      return 0.5 * ((f.Ex[l][i] + f.Ex[l][i + 1]) * f.Hy[l][i] -
                    (f.Ey[l][i] + f.Ey[l][i + 1]) * f.Hx[l][i]);
    };
    for (std::int64_t n = 0; n < kSteps; ++n) {
      line.advance();
      lost += (flux(kDot - 5) - flux(kDot + 6)) * line.dt;
    }
    double gained = 0.0;
    for (std::int32_t i = kDot; i <= kDot + 1; ++i) {
      gained += line.rho(i).rho22 * dense.density * DotLine::dz * kTransition;
    }
    // The flux pairs E and H half a step and half a cell apart, and the
    // dots keep some coherence after the pulse: 0.5% goes unaccounted.
    EXPECT_NEAR(lost / gained, 1.0, 0.02) << "q = " << q;
  }
}

// Every number of every file in `folder` (plain or gzip-compressed: gzread
// passes plain files through) is finite; returns the number of files.
int check_finite_files(const std::string& folder) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    gzFile gz = gzopen(entry.path().c_str(), "rb");
    if (gz == nullptr) continue;
    std::string text;
    char buf[1 << 16];
    for (int n; (n = gzread(gz, buf, sizeof buf)) > 0;)
      text.append(buf, static_cast<std::size_t>(n));
    gzclose(gz);
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
      const double x = std::strtod(word.c_str(), nullptr);  // "NaN", "Infinity" parse as such
      EXPECT_TRUE(std::isfinite(x)) << entry.path() << ": " << word;
    }
    ++files;
  }
  return files;
}

TEST(LongRun, QuickstartStaysFinite) {
  // 15000 steps: the pulse (centre near step 10800) reaches the dot layer.
  ScratchDir dir;
  for (const char* d : {"Results", "DiscardedResults", "Continue"}) dir.make_dir(d);
  const std::string text =
      replace_line(example_input("quickstart"), 50, "total number of time steps 10000 -");
  RunInput in = read_execdata(dir.path(), dir.file("execdata.txt"), text);
  in.dirs.results_dir = dir.file("Results/");
  in.dirs.discarded_dir = dir.file("DiscardedResults/");
  in.dirs.continue_dir = dir.file("Continue/");
  RunArrays arrays;
  allocate_run_arrays(in, arrays);
  std::ostringstream progress, warnings;
  VCSELSUB(in, arrays, progress, warnings);

  double excited = 0.0;
  const auto level = static_cast<std::size_t>(arrays.field.new_level());
  for (std::int32_t i = in.structure.z1; i <= in.structure.z2; ++i) {
    const auto c = static_cast<std::size_t>(i);
    const auto& m = arrays.medium;
    excited =
        std::max(excited, populations(m.u13[level][c], m.u14[level][c], m.u15[level][c]).rho22);
  }
  EXPECT_GT(excited, 0.01);                                        // the dots were driven
  EXPECT_GT(check_finite_files(dir.path() + "Results/"), 4 * 40);  // four snapshots of 40+ files
}

}  // namespace
}  // namespace mps::testing
