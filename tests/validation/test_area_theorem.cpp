// McCall and Hahn's area theorem in an optically thick absorber of dots in
// level 1 driven on 1<->2 by circular sech pulses, relaxation 1 us.
//
// Sub-pi areas decay as tan(theta(L)/2) = tan(theta0/2) e^{-alpha L/2}
// (alpha the weak-light absorption coefficient at the carrier), shown in
// an inhomogeneously broadened slab where the dots' free ringing dies out
// within the record.  Above pi, a sech reshapes into 2 pi solitons whose
// widths the inverse scattering of the input gives (Zakharov-Shabat
// eigenvalues of Omega0 sech(t/tau): eta_n tau = Omega0 tau/2 - n + 1/2 > 0,
// soliton n of width 1/(2 eta_n)): 2.5 pi -> one soliton of width 2 tau/3,
// 4 pi -> two of widths tau/3 and tau.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <utility>
#include <vector>

#include "core/spectral_classes.hpp"
#include "support/dot_line.hpp"

namespace mps::testing {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDelta = kTransition / constants::hbar;  // [rad/s]
constexpr double kWidth = 5e-15;                          // tau of E = A sech(t/tau) [s]
constexpr double kSechFwhm = 2.0 * 1.3169578969248166;    // FWHM / tau of sech: 2 acosh 2
constexpr double kDt = DotLine::dz / constants::c0;

// The amplitude of a sech of area pi, measured on one thin dilute cell
// (as in the self-induced transparency tests): the sampled envelope's
// integral there is scaled to pi.
double pi_amplitude() {
  constexpr std::int32_t dot = 100;
  const double probe = constants::hbar / (kDipole * kWidth);
  DotLine line(LineSetup{});
  line.add_dots(dot, dot, {1.0, 0.0, 0.0, 0.0});
  line.set_sech_pulse(3, probe, kWidth);
  double integral = 0.0;
  for (std::int64_t n = 0; n < 6000; ++n) {
    line.advance();
    const auto l = static_cast<std::size_t>(line.f.new_level());
    integral += std::hypot(line.f.Ex[l][dot], line.f.Ey[l][dot]) * line.dt;
  }
  return probe * kPi / (kDipole * integral / constants::hbar);
}

// |E| at `monitor` after each of `steps` steps of a sech of `amplitude`
// through dots in level 1 over cells first..last.
struct Slab {
  std::int32_t first = 60;
  std::int32_t cells = 1000;
  double density = 3e25;  // kappa tau L = 11, as in the transparency tests
  std::vector<SpectralClass> classes;
};
std::vector<double> envelope(const Slab& s, double amplitude, std::int64_t steps,
                             std::complex<double>* resonant = nullptr) {
  const std::int32_t monitor = s.first + s.cells + 20;
  LineSetup setup;
  setup.cells = monitor + 20;
  setup.density = s.density;
  DotLine line(setup);
  line.mp.classes = s.classes;
  if (s.cells > 0) line.add_dots(s.first, s.first + s.cells - 1, {1.0, 0.0, 0.0, 0.0});
  line.set_sech_pulse(3, amplitude, kWidth);
  std::vector<double> e;
  std::complex<double> sum{};
  for (std::int64_t n = 0; n < steps; ++n) {
    line.advance();
    const auto l = static_cast<std::size_t>(line.f.new_level());
    const double ex = line.f.Ex[l][monitor], ey = line.f.Ey[l][monitor];
    e.push_back(std::hypot(ex, ey));
    const double t = static_cast<double>(line.J) * line.dt;
    sum += std::complex<double>(ex, ey) * std::polar(line.dt, kDelta * t);
  }
  if (resonant != nullptr) *resonant = sum;
  return e;
}

// Full width at half maximum [s] of the peak of e at index `peak`, by
// linear interpolation of the two crossings.
double fwhm(const std::vector<double>& e, std::size_t peak) {
  const double half = 0.5 * e[peak];
  std::size_t r = peak, l = peak;
  while (e[r + 1] > half) ++r;
  while (e[l - 1] > half) --l;
  const double right = static_cast<double>(r) + (e[r] - half) / (e[r] - e[r + 1]);
  const double left = static_cast<double>(l) - (e[l] - half) / (e[l] - e[l - 1]);
  return (right - left) * kDt;
}

// p/hbar int |E| dt over [from, to), in units of pi.
double area(const std::vector<double>& e, std::size_t from, std::size_t to) {
  double s = 0.0;
  for (std::size_t j = from; j < to; ++j) s += e[j];
  return s * kDipole * kDt / (constants::hbar * kPi);
}

std::size_t largest(const std::vector<double>& e, std::size_t from, std::size_t to) {
  const auto b = e.begin() + static_cast<std::ptrdiff_t>(from);
  return static_cast<std::size_t>(std::max_element(b, e.begin() + static_cast<std::ptrdiff_t>(to)) -
                                  e.begin());
}

// The slab of the transparency tests (1000 cells, kappa tau L = 11) with
// a sharp line: alpha L is of order 1e8, so a sub-pi area goes to 0.  The
// resonant area p/hbar |int (Ex + i Ey) e^{i Delta t} dt| over the record.
TEST(AreaTheorem, SubPiAreaVanishesInASharpLineAbsorber) {
  std::complex<double> out;
  envelope(Slab{}, 0.5 * pi_amplitude(), 8000, &out);
  const double theta = kDipole * std::abs(out) / (constants::hbar * kPi);
  RecordProperty("area_over_pi", std::to_string(theta));
  // Measured 0.053 of 0.5 pi in: the ringing the record cuts off.
  EXPECT_LT(theta, 0.1);
}

// sech widths are measured as FWHM / 2.634 (2 acosh 2).  The record ends
// after 5 um, where the pulses are still reshaping (the narrow one's peak
// is 1.48 of 1.5 A), and the wide 4 pi soliton carries the radiation's
// tail: 5 % on the single soliton, 10 % on the pair.
TEST(AreaTheorem, TwoAndAHalfPiSechBecomesOneSolitonOfWidthTwoThirdsTau) {
  const double A = 2.5 * pi_amplitude();
  const std::vector<double> e = envelope(Slab{}, A, 8000);
  const std::size_t peak = largest(e, 0, e.size());
  const double width = fwhm(e, peak) / (kSechFwhm * kWidth);
  const auto span = static_cast<std::size_t>(4.0 * kWidth / kDt);
  RecordProperty("width_over_tau", std::to_string(width));
  EXPECT_NEAR(width, 2.0 / 3.0, 0.05 * 2.0 / 3.0);           // measured 0.658
  EXPECT_NEAR(e[peak] / A, 1.2, 0.06);                       // 2/(width tau) / 2.5: measured 1.203
  EXPECT_NEAR(area(e, peak - span, peak + span), 2.0, 0.1);  // +-4 tau: measured 2.05
}

TEST(AreaTheorem, FourPiSechSplitsIntoSolitonsOfWidthsTauOverThreeAndTau) {
  const double A = 4.0 * pi_amplitude();
  const std::vector<double> e = envelope(Slab{}, A, 8000);
  const std::size_t first = largest(e, 0, e.size());
  const auto gap = static_cast<std::size_t>(4.0 * kWidth / kDt);
  const std::size_t second = largest(e, first + gap, e.size());
  const double w1 = fwhm(e, first) / (kSechFwhm * kWidth);
  const double w2 = fwhm(e, second) / (kSechFwhm * kWidth);
  RecordProperty("widths_over_tau", std::to_string(w1) + " " + std::to_string(w2));
  EXPECT_NEAR(w1, 1.0 / 3.0, 0.1 / 3.0);  // measured 0.346
  EXPECT_NEAR(w2, 1.0, 0.1);              // measured 1.090
  EXPECT_NEAR(e[first] / A, 1.5, 0.1);    // measured 1.478
  EXPECT_NEAR(e[second] / A, 0.5, 0.05);  // measured 0.469
}

// Sub-pi: 24 classes over 60 meV (their free ringing gone ~150 fs after the
// pulse, the revival 2 pi / h = 0.4 ps after it), a slab of 300 cells.
// alpha = Nd p^2 Delta pi g(0) / (2 hbar eps0 c), g(0) the classes' weight
// per unit angular frequency at the carrier.  The area is p/hbar |int (Ex +
// i Ey) e^{i Delta t} dt| over the record, the input's from the empty line.
// About 2 minutes: run with --gtest_also_run_disabled_tests.
TEST(AreaTheorem, DISABLED_SubPiAreaDecaysAsTheTheoremSays) {
  Slab s;
  s.cells = 300;
  s.density = 2.8e24;
  s.classes = spectral_classes({24, 60.0});
  const double fwhm = fwhm_angular(60.0), sigma = fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  double sum = 0.0;  // the Gaussian's values at the offsets
  for (const SpectralClass& c : s.classes) sum += std::exp(-0.5 * std::pow(c.offset / sigma, 2));
  const double g0 = 1.0 / (sum * (s.classes[1].offset - s.classes[0].offset));
  const double alpha = s.density * kDipole * kDipole * kDelta * kPi * g0 /
                       (2.0 * constants::hbar_eps0 * constants::c0);
  const double depth = alpha * s.cells * DotLine::dz;
  const double a_pi = pi_amplitude();
  constexpr std::int64_t steps = 16000;
  // The input's area against its theorem value and the linear decay
  // theta0 e^{-alpha L/2}: measured 0.2262 pi (theorem 0.2281, linear 0.1872)
  // and 0.6969 pi (theorem 0.7453, linear 0.3370).  Near pi tan(theta/2)
  // magnifies every error by 1/sin(theta0): 0.05 pi holds there.
  for (const auto& [theta0, tolerance] : {std::pair{0.5, 0.01}, std::pair{0.9, 0.06}}) {
    std::complex<double> in, out;
    Slab empty = s;
    empty.cells = 0;
    envelope(empty, theta0 * a_pi, steps, &in);
    envelope(s, theta0 * a_pi, steps, &out);
    const double t_in = kDipole * std::abs(in) / constants::hbar;
    const double t_out = kDipole * std::abs(out) / constants::hbar;
    const double theorem = 2.0 * std::atan(std::tan(t_in / 2.0) * std::exp(-depth / 2.0));
    EXPECT_NEAR(t_out / kPi, theorem / kPi, tolerance) << "theta0 " << theta0 << " pi";
    EXPECT_GT(t_out, 1.1 * t_in * std::exp(-depth / 2.0)) << "theta0 " << theta0 << " pi";
  }
}
}  // namespace
}  // namespace mps::testing
