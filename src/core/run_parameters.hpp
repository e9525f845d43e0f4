#pragma once
// The run's description as read from "execdata.txt", and the constants
// derived from it.  Filled once by the input reader, read-only afterwards.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mps {

// Physical constants as the solver stores them.  The surds and 2*pi are
// single-precision values widened to double: results are compared with
// earlier runs to many digits, so these exact doubles are part of the model.
namespace constants {
inline constexpr double c0 = 299792458.0;                   // speed of light [m/s]
inline constexpr double hbar = 1.054571596e-34;             // [J s]
inline constexpr double two_hbar = 2.109143192e-34;         // [J s]
inline constexpr double hc = 1.986445494922679e-25;         // h*c [J m]
inline constexpr double electron_volt = 1.6e-19;            // [J]
inline constexpr double eps0 = 8.854187817e-12;             // [F/m]
inline constexpr double mu0 = 1.2566370615239666e-06;       // [H/m]
inline constexpr double hbar_eps0 = 9.337374977457447e-46;  // hbar*eps0
inline constexpr double two_pi = 6.2831854820251465;        // float(2*pi)
inline constexpr double fwhm_factor = 1.6651092767715454;   // float(2*sqrt(ln 2))
inline constexpr double sqrt2 = 1.4142135381698608;
inline constexpr double two_sqrt2 = 2.8284270763397217;
inline constexpr double three_sqrt2 = 4.2426406145095825;
inline constexpr double four_sqrt2 = 5.656854152679443;
inline constexpr double twelve_sqrt2 = 16.970561981201172;
inline constexpr double sqrt3 = 1.7320507764816284;
inline constexpr double two_sqrt3 = 3.464101552963257;
inline constexpr double four_sqrt3 = 6.928203105926514;
inline constexpr double sqrt6 = 2.4494898319244385;
inline constexpr double two_sqrt6 = 4.898979663848877;
inline constexpr double four_sqrt6 = 9.797959327697754;
}  // namespace constants

// Which equations the run solves.  `corrected` (the default): the
// polarisation current takes from the field what the dots gain (energy is
// conserved), and every cell of a graded layer has the phase velocity of its
// own index, so the layer is non-magnetic.  `legacy`: the equations as the
// program first wrote them (current of the opposite sign, graded cells at
// the phase velocity of their layer's left-end index), to compare with
// results of earlier versions.
enum class Model { corrected, legacy };

inline constexpr int kLevels = 4;       // four-level dots: |1>..|4>
inline constexpr int kComponents = 15;  // pseudospin components u1..u15
inline constexpr int kMaxLayers = 500;  // rows of the layer table that are used
inline constexpr int kMaxUserMonitors = 98;

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

struct LabelRow {
  std::string label;
  std::array<std::int32_t, kLevels> values{};
};

// One optical pulse; the run has exactly one.
struct Pulse {
  std::int32_t shape = 0;  // 1 cw, 2 sech, 3 Gaussian, 4 windowed turn-on, 5 noise, 6 triangular
  std::int32_t polarisation = 0;   // 1 x, 2 y, 3 left circular, 4 opposite sense
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
};

struct RunParameters {
  std::int32_t n_levels = 0;
  std::vector<LevelRow> levels;       // level table, at most n_levels^2 rows
  double transition_energy = 0.0;     // W [J]
  double detuning = 0.0;              // Delta = W / hbar [rad/s]
  double half_detuning = 0.0;         // Delta / 2 [rad/s]
  double resonant_wavelength = 0.0;   // lambda0 [m]
  double resonant_frequency = 0.0;    // nu0 [Hz]
  double resonant_period = 0.0;       // 1 / nu0 [s]
  double dipole_density = 0.0;        // Nd [m^-3]
  std::vector<LabelRow> label_table;  // read and kept, not used by the run
  LevelMatrix<std::int32_t> transition_table;
  double scale_long = 0.0;
  double scale_transverse = 0.0;
  LevelMatrix<double> tau;                  // population and spin-flip times [s]; tau(2,1) = tau_sp
  std::array<double, kComponents + 1> T{};  // T[1]..T[15] relaxation times [s]; T[0] unused
  LevelMatrix<double> dipole_table;         // [C m]
  double dipole = 0.0;                      // dipole_table(1,2) [C m]
  std::int32_t n_pulses = 0;
  Pulse pulse;
  std::int32_t bc_left = 0, bc_right = 0;    // 1 absorbing, 2 conducting wall
  double refl_left = 0.0, refl_right = 0.0;  // reflection coefficients of the ends
  double courant = 0.0;                      // Courant number S
  std::int64_t LL = 0;                       // steps between two spatial dumps (block length)
  std::int32_t run_number = 0;               // read, not used
  std::int64_t J_final = 0;                  // step a continued run resumes from; 0 = new run
  std::int64_t Nt = 0;                       // total number of time steps
  std::int64_t iteration_limit = 0;          // evaluations of the implicit medium step, at most
  double tolerance = 0.0;                    // relative change that ends the iteration
  std::int32_t n_monitor = 0;                // monitor cells, the two ends included
  std::vector<std::int32_t> monitor_cells;   // [1, user cells..., NZ-1]
  double dz = 0.0;                           // spatial step [m]
  double dt = 0.0;                           // time step = courant * dz / c [s]
  std::int32_t first_cavity_layer = 0;
  std::int32_t last_cavity_layer = 0;
  Model model = Model::corrected;  // chosen on the command line, not in the input file

  std::int32_t user_monitors() const { return n_monitor - 2; }

  // E0, the scale Ex and Ey are divided by in the result files: the pulse
  // amplitude; 1 V/m for a run without a pulse amplitude, whose files would
  // otherwise hold nothing but NaN and Infinity.
  double field_scale() const { return pulse.amplitude != 0.0 ? pulse.amplitude : 1.0; }
};

}  // namespace mps
