#pragma once
// The run's description as read from "execdata.txt", and the constants
// derived from it.  Filled once by the input reader, read-only afterwards.
// Values the run does not use (labels, transition table, run number, pulse
// count) are not kept here: the reader names every value it reads
// (NamedInput), for mps1d --check --json.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/constants.hpp"
#include "core/magnetic_field.hpp"

namespace mps {

// Which equations the run solves.  `corrected` (the default): the
// polarisation current takes from the field what the dots gain (energy is
// conserved), and every cell of a graded layer has the phase velocity of its
// own index, so the layer is non-magnetic.  `legacy`: the equations as the
// program first wrote them (current of the opposite sign, graded cells at
// the phase velocity of their layer's left-end index), to compare with
// results of earlier versions.
enum class Model { corrected, legacy };

// How the pulse enters the grid.  `hard`: Ex, Ey of the injection cell are
// replaced by the pulse's values every step (light coming back is reflected
// there).  `transparent`: a total-field/scattered-field plane launches the
// pulse one way and lets light coming back pass and leave the grid.
enum class SourceKind { hard, transparent };
// The result files: text columns (the default) or HDF5 files.
enum class OutputFormat { text, hdf5 };

inline constexpr int kLevels = 4;       // four-level dots: |1>..|4>
inline constexpr int kComponents = 15;  // pseudospin components u1..u15
inline constexpr int kMaxLayers = 500;  // rows of the layer table that are used
inline constexpr int kMaxUserMonitors = 98;
inline constexpr int kMaxPulses = 16;  // pulse lines of a run, at most

// A 4 x 4 table indexed 1..4 as in the physics notation: tau(2,1) = tau_sp.
template <typename T>
struct LevelMatrix {
  std::array<T, kLevels * kLevels> v{};
  T& operator()(int i, int j) { return v[static_cast<std::size_t>((i - 1) * kLevels + (j - 1))]; }
  const T& operator()(int i, int j) const {
    return v[static_cast<std::size_t>((i - 1) * kLevels + (j - 1))];
  }
};

// Folders of the run, each ending in '/', so file names are appended directly.
struct RunDirectories {
  std::string work_dir;       // working folder as the system reports it
  std::string results_dir;    // snapshots, block traces, param.txt, n_z.dat
  std::string discarded_dir;  // running statistics
  std::string continue_dir;   // stored snapshot a continued run starts from
};

struct LevelRow {
  std::string name;
  double energy = 0.0;    // as read, in the row's unit
  std::int32_t unit = 0;  // 0 eV, 1 meV, 2 ueV
};

// Codes of the input file.  The enums keep any code as read (fixed
// underlying type); the input check rejects the ones the solver lacks.
enum class PulseShape : std::int32_t {
  continuous_wave = 1,
  sech = 2,      // hyperbolic secant
  gaussian = 3,  // the only shape whose duration is a full width at half maximum
  turn_on = 4,   // windowed turn-on: (1 - y^2)^4 over five periods, then constant
  noise = 5,     // Gaussian noise over the cavity cells
  triangular = 6,
};
enum class Polarisation : std::int32_t {
  x = 1,
  y = 2,
  circular = 3,       // (cos, -sin): turns with the dots' precession, drives 1 <-> 2
  circular_anti = 4,  // (cos, sin): the opposite sense
};
enum class BoundaryType : std::int32_t {
  absorbing = 1,  // first-order one-way absorbing end with a reflection coefficient
  wall = 2,       // conducting wall, E = 0
  pml = 3,        // not available
  periodic = 4,   // not available
};

// One optical pulse; the run has exactly one.
struct Pulse {
  PulseShape shape{};
  Polarisation polarisation{};
  std::int32_t origin = 0;         // injection cell; 0 = cell NZ-1
  double wavelength = 0.0;         // [m]
  double duration = 0.0;           // full width at half maximum [s]
  double amplitude = 0.0;          // [V/m]; also the field scale E0 of the result files
  double delay = 0.0;              // [s]
  double frequency = 0.0;          // [Hz]
  double angular_frequency = 0.0;  // [rad/s]
  double tau = 0.0;                // Gaussian time constant = duration / (2 sqrt(ln 2)) [s]
  std::int32_t delay_ratio = 0;    // delay in units of the duration, truncated
  double noise_amplitude = 0.0;    // scale of the noise source (shape 5)

  bool circular() const {
    return polarisation == Polarisation::circular || polarisation == Polarisation::circular_anti;
  }
  // Shapes whose timing counts in pulse lengths from the start step J1.
  bool timed() const {
    return shape == PulseShape::continuous_wave || shape == PulseShape::sech ||
           shape == PulseShape::turn_on;
  }
};

// The dots of a cell as `classes` spectral classes whose transition
// energies spread as a Gaussian of full width `fwhm_meV` at half maximum
// (core/spectral_classes.hpp); one class: every dot at the configured
// energy, the equations as without broadening.
struct Ensemble {
  int classes = 1;
  double fwhm_meV = 0.0;
  bool broadened() const { return classes > 1; }
};

struct RunParameters {
  std::int32_t n_levels = 0;
  std::vector<LevelRow> levels;      // level table, at most n_levels^2 rows
  double transition_energy = 0.0;    // W [J]
  double detuning = 0.0;             // Delta = W / hbar [rad/s]
  double half_detuning = 0.0;        // Delta / 2 [rad/s]
  double resonant_wavelength = 0.0;  // lambda0 [m]
  double resonant_frequency = 0.0;   // nu0 [Hz]
  double resonant_period = 0.0;      // 1 / nu0 [s]
  double dipole_density = 0.0;       // Nd [m^-3]
  double scale_long = 0.0;
  double scale_transverse = 0.0;
  LevelMatrix<double> tau;                  // population and spin-flip times [s]; tau(2,1) = tau_sp
  std::array<double, kComponents + 1> T{};  // T[1]..T[15] relaxation times [s]; T[0] unused
  LevelMatrix<double> dipole_table;         // [C m]
  double dipole = 0.0;                      // dipole_table(1,2) [C m]
  Pulse pulse;
  // Pulses 2..N of the pulse section (the first is `pulse`, whose amplitude
  // is the field scale and whose line param.txt echoes).
  std::vector<Pulse> further_pulses;
  BoundaryType bc_left{}, bc_right{};        // types of the left and right end
  double refl_left = 0.0, refl_right = 0.0;  // reflection coefficients of the ends
  double courant = 0.0;                      // Courant number S
  std::int64_t LL = 0;                       // steps between two spatial dumps (block length)
  std::int64_t J_final = 0;                  // step a continued run resumes from; 0 = new run
  std::int64_t Nt = 0;                       // total number of time steps
  std::int64_t iteration_limit = 0;          // evaluations of the implicit medium step, at most
  double tolerance = 0.0;                    // relative change that ends the iteration
  std::int32_t n_monitor = 0;                // monitor cells, the two ends included
  std::vector<std::int32_t> monitor_cells;   // [1, user cells..., NZ-1]
  std::int32_t first_cavity_layer = 0;
  std::int32_t last_cavity_layer = 0;
  Model model = Model::corrected;            // chosen on the command line, not in the input file
  SourceKind source = SourceKind::hard;      // chosen on the command line
  OutputFormat output = OutputFormat::text;  // chosen on the command line
  // sigma- light drives 3<->4 with p34 as sigma+ drives 1<->2 (command line).
  bool both_transitions = false;
  // Inhomogeneous broadening of the dots (command line).
  Ensemble ensemble;
  // A static magnetic field and the g-factors of its Zeeman terms (command line).
  MagneticField magnetic;
  // The monitor traces keep the steps that are multiples of it (command line).
  std::int64_t trace_every = 1;

  std::int32_t user_monitors() const { return n_monitor - 2; }

  // E0, the scale Ex and Ey are divided by in the result files: the pulse
  // amplitude; 1 V/m for a run without a pulse amplitude, whose files would
  // otherwise hold nothing but NaN and Infinity.
  double field_scale() const { return pulse.amplitude != 0.0 ? pulse.amplitude : 1.0; }
};

}  // namespace mps
