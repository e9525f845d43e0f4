#include "input/pulse_warnings.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "input/pulse_timing.hpp"

namespace mps {
namespace {

// A carrier further than this from every transition drives none of them.
constexpr double kFarFromTransition = 0.2;
// Dephasing times the record should go on for after a pulse's peak.
constexpr double kDecayTimes = 3.0;
// A pulse's front: where its field envelope first reaches this part of its
// peak (10^-12 of its energy; before it the pulse injects nothing).
constexpr double kFront = 1e-6;

struct Unit {
  const char* name;
  double size;
};
constexpr std::array<Unit, 4> kTimes = {{{"ns", 1e-9}, {"ps", 1e-12}, {"fs", 1e-15}, {"s", 0.0}}};
constexpr std::array<Unit, 5> kLengths = {
    {{"m", 1.0}, {"mm", 1e-3}, {"um", 1e-6}, {"nm", 1e-9}, {"m", 0.0}}};

std::string number(const char* format, double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, x);
  return buf;
}

// A quantity in the largest unit it fills, to six digits (as the case
// builder shows times): "291.868 fs", "30 ps", "950 mm".
template <std::size_t N>
std::string shown(double x, const std::array<Unit, N>& units) {
  for (const Unit& u : units) {
    if (std::fabs(x) >= u.size && u.size > 0.0) return number("%.6g", x / u.size) + " " + u.name;
  }
  return number("%.6g", x) + " " + units.back().name;
}

// The run's last step: a run does whole blocks, up to the end of the block
// that holds step Nt (J_final is a block end).
std::int64_t last_step(const RunParameters& p) { return (p.Nt / p.LL + 1) * p.LL; }

// When the envelope of a peaked pulse first reaches kFront of its peak:
// exp(-x^2) of the Gaussian (x in W steps from J0), 1/cosh(10 s) of the
// secant (s in half lengths from its middle).  NaN for the other shapes,
// which inject from the first step on.
double front_time(const Pulse& q, double dt) {
  const double peak = pulse_peak_time(q, dt);
  if (q.shape == PulseShape::gaussian) {
    return peak - std::sqrt(-std::log(kFront)) * pulse_steps(q, dt).W * dt;
  }
  return peak - std::acosh(1.0 / kFront) / 10.0 * (q.duration / 2.0);
}

bool injects_nothing(const Pulse& q, double dt, double end) {
  if (q.shape == PulseShape::noise) return q.noise_amplitude == 0.0;
  return q.amplitude == 0.0 || front_time(q, dt) > end;
}

// Whether a dot layer has cells in the dot region, with dots to couple.
bool has_dots(const RunInput& in) {
  const StructureProfile& s = in.structure;
  if (!(in.params.dipole_density > 0.0)) return false;
  std::int64_t first = 1;
  for (const Layer& l : s.layers) {
    const std::int64_t last = first + l.cells - 1;
    if (l.is_dot_layer() && l.cells > 0 && last >= s.z1 && first <= s.z2) return true;
    first += l.cells;
  }
  return false;
}

struct Transition {
  double frequency = 0.0;  // [Hz]
  double T2 = 0.0;         // dephasing time of its coherence [s]
};

// A coherence is a pair of components (u1, u7 for 1<->2; u6, u12 for
// 3<->4) that precess into each other: its amplitude decays at the mean of
// their two rates.
double coherence_time(double Ta, double Tb) { return 2.0 / (1.0 / Ta + 1.0 / Tb); }

// 1<->2 at the transition energy W (level 1's); with both transitions
// 3<->4 at level 3's energy in its own row's unit.
std::array<Transition, 2> transitions(const RunParameters& p) {
  std::array<Transition, 2> t{};
  t[0] = {p.resonant_frequency, coherence_time(p.T[1], p.T[7])};
  if (p.both_transitions) {
    constexpr std::array<double, 3> kUnit = {1.0, 1e-3, 1e-6};
    const LevelRow& row = p.levels.at(2);
    const double energy =
        constants::electron_volt * row.energy * kUnit.at(static_cast<std::size_t>(row.unit));
    t[1] = {constants::c0 * energy / constants::hc, coherence_time(p.T[6], p.T[12])};
  }
  return t;
}

// The transition nearest to the carrier; of two as near, 3<->4 for sigma-
// light, which drives it.
Transition nearest(const std::array<Transition, 2>& t, const Pulse& q) {
  if (t[1].frequency == 0.0) return t[0];
  const double d0 = std::fabs(q.frequency - t[0].frequency);
  const double d1 = std::fabs(q.frequency - t[1].frequency);
  const bool minus = q.polarisation == Polarisation::circular_anti;
  return d1 < d0 || (d1 == d0 && minus) ? t[1] : t[0];
}

struct PulseCase {
  const RunInput& in;
  std::int64_t last;  // the run's last step
  double end;         // its time
  bool dots;
  std::array<Transition, 2> transitions;
};

void warn_pulse(const PulseCase& c, const Pulse& q, const std::string& name,
                std::vector<std::string>& out) {
  const double dt = c.in.structure.dt;
  const double peak = pulse_peak_time(q, dt);
  if (injects_nothing(q, dt, c.end)) {
    out.push_back(name + " injects nothing");
    return;
  }
  if (peak > c.end) {
    out.push_back(name + " peaks at " + shown(peak, kTimes) + " after the run's last step (step " +
                  std::to_string(c.last) + " at " + shown(c.end, kTimes) + ")");
  }
  if (!c.dots || q.shape == PulseShape::noise) return;
  const Transition t = nearest(c.transitions, q);
  const double off = std::fabs(q.frequency - t.frequency) / t.frequency;
  if (off > kFarFromTransition) {
    out.push_back(name + " is " + number("%.3g", 100.0 * off) + " % off the nearest transition (" +
                  shown(q.wavelength, kLengths) + " against " +
                  shown(constants::c0 / t.frequency, kLengths) + ")");
    return;  // it hardly drives the dots: their decay after it is no concern
  }
  const double after = c.end - peak;
  if (after >= 0.0 && after < kDecayTimes * t.T2) {
    out.push_back("the record ends " + shown(after, kTimes) + " after " + name +
                  "'s peak, less than 3 T2 = " + shown(kDecayTimes * t.T2, kTimes) +
                  ": its free decay is cut off");
  }
}

}  // namespace

std::vector<std::string> pulse_warnings(const RunInput& input) {
  const RunParameters& p = input.params;
  const std::int64_t last = last_step(p);
  const double end = static_cast<double>(last) * input.structure.dt;
  const PulseCase c{input, last, end, has_dots(input), transitions(p)};
  std::vector<std::string> out;
  warn_pulse(c, p.pulse, "pulse 1", out);
  for (std::size_t n = 0; n < p.further_pulses.size(); ++n) {
    warn_pulse(c, p.further_pulses[n], "pulse " + std::to_string(n + 2), out);
  }
  return out;
}

}  // namespace mps
