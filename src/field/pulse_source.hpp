#pragma once
// Hard source of the optical pulse: after the E update of a step, Ex and Ey
// of the new level at the injection cell are replaced by the pulse's values.
//
// Envelopes (A amplitude, T length, tau Gaussian duration, all per pulse):
//   1 continuous wave   e = 1
//   2 hyperbolic secant e = 1 / cosh(10 s),  s = ((J - J1) dt - T/2) / (T/2)
//   3 Gaussian          e = exp(-x^2),       x = (J - J0) / W
//   4 windowed turn-on  e = (1 - y^2)^4 for 0 <= J dt <= 5 T0, else 1,
//                       y = 0.04 dt (J - J1) / T0 - 1
//   5 noise             adds 440 sqrt(-2 sigma ln r1) cos(2 pi r2) to Ex over the cavity
// with W = int(tau/dt + 0.5) steps, J0 = int(m W), J1 = int(T/dt) m.  The
// carrier phase is phi = omega dt (J - J1) for shapes 1, 2, 4 and
// theta = J omega dt for the Gaussian (counted from step 0).  Polarisation
// q = 1: (A e sin, 0); q = 2: (0, A e sin); q = 3: (A e cos, -A e sin);
// q = 4: (A e cos, A e sin); the Gaussian takes cos for q = 1 and 2 as well.
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "core/run_parameters.hpp"
#include "field/field_state.hpp"
#include "input/pulse_timing.hpp"

namespace mps {

// Uniform numbers on [0, 1) for the noise source: SplitMix64 from a fixed
// start state (0), the top 53 bits of each output scaled by 2^-53.  Every run
// draws the same sequence.
class UniformGenerator {
 public:
  double next() {
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_ = 0;
};

struct PulseSource {
  Pulse pulse;
  std::int32_t origin_cell = 0;  // the pulse's own origin (0 -> N - 1)
  std::int32_t injection_cell = 0;
  double resonant_period = 0.0;                    // T0 of the windowed turn-on [s]
  std::int32_t cavity_left = 0, cavity_right = 0;  // noise cells
  bool active = true;  // false: nothing is imposed (a source of no pulse at all)
  UniformGenerator random;
};

// The source of the run's (first) pulse; origin 0 injects at cell N - 1.
// The noise shape adds to the cells noise.first..noise.second.
PulseSource make_pulse_source(const RunParameters& params, std::int32_t N,
                              std::pair<std::int32_t, std::int32_t> noise);
// The source of `pulse`, one of the run's.
PulseSource make_pulse_source(const Pulse& pulse, const RunParameters& params, std::int32_t N,
                              std::pair<std::int32_t, std::int32_t> noise);
// The sources of pulses 2..N.
std::vector<PulseSource> make_further_sources(const RunParameters& params, std::int32_t N,
                                              std::pair<std::int32_t, std::int32_t> noise);

// The pair (Ex, Ey) of the pulse at step J for shapes 1 to 4, given the
// previous step's field at the origin (held by the circular secant pulse).
struct FieldPair {
  double ex = 0.0, ey = 0.0;
};
FieldPair pulse_value(const PulseSource& source, std::int64_t J, double dt, FieldPair previous);

// Imposes the pulse (and noise) on the new level at step J.
void apply_pulse_source(PulseSource& source, FieldState& f, std::int64_t J, double dt);
// Imposes every pulse: pulses of one injection cell add up there (each
// computed from the old level), in the order of their lines.  Without
// further pulses exactly apply_pulse_source.
void apply_pulse_sources(PulseSource& first, std::span<PulseSource> further, FieldState& f,
                         std::int64_t J, double dt);
// The sum of every pulse's value (a transparent source's pulses share a
// plane); `previous` as for pulse_value.
FieldPair pulses_value(const PulseSource& first, std::span<const PulseSource> further,
                       std::int64_t J, double dt, FieldPair previous);

}  // namespace mps
