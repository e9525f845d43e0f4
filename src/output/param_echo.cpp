#include "output/param_echo.hpp"

#include <array>
#include <cmath>

#include "output/result_files.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace mps {
namespace {

// Line kinds: a 100-character text, an I8 integer or an F20.12 real, each
// followed directly by its comment.
struct Echo {
  std::string text;
  void a(const std::string& value, const char* comment) {
    textio::append_A(text, value, 100);
    line_end(comment);
  }
  void i(std::int64_t value, const char* comment) {
    textio::append_I(text, value, 8);
    line_end(comment);
  }
  void r(double value, const char* comment) {
    textio::append_F20_12(text, value);
    line_end(comment);
  }
  void line_end(const char* comment) {
    text += comment;
    text += '\n';
  }
};

// Steps a pulse needs to cross the cells before the dot layer, truncated;
// a value beyond the integer range shows as an overflowing I8 field.
std::int64_t steps_to_active_zone(const RunInput& in) {
  const double steps = static_cast<double>(in.structure.cells_before_active) * in.structure.dz /
                       (constants::c0 * in.structure.dt);
  if (!(std::fabs(steps) < 9.2e18)) return 1'000'000'000;  // any value wider than 8 digits
  return static_cast<std::int64_t>(steps);
}

constexpr std::array<const char*, 15> kTComments = {
    " - T1 trion dephasing time (T|1>->|2>) [s]",
    " - T2 (T |2>->|3>) relaxation time [s]",
    " - T3 e spin relaxation time(T |1>->|3>) relaxation time [s]",
    " - T4 (T |1>->|4>) relaxation time [s]",
    " - T5 (T |2>->|4>) hole relaxation time [s]",
    " - T6 (T |3>->|4>) trion dephasing time [s]",
    " - T7 (T |1>->|2>) trion dephasing time [s]",
    " - T8 (T |2>->|3>) relaxation time [s]",
    " - T9 (T |1>->|3>) e spin relaxation time [s]",
    " - T10 (T |1>->|4>) relaxation time [s]",
    " - T11 (T |2>->|4>) hole relaxation time [s]",
    " - T12 (T |3>->|4>) trion dephasing time [s]",
    " - T13 (T1 population relaxation time) spont trion decay [s]",
    " - T14  spont trion decay [s]",
    " - T15 spontaneous trion decay [s]",
};

}  // namespace

std::string parameter_echo(const RunInput& in, const std::string& input_path) {
  const RunParameters& p = in.params;
  const StructureProfile& s = in.structure;
  using namespace constants;
  Echo e;
  e.a(input_path, " - structure geometry dat file");
  e.r(s.dz * 1e6, " - spatial step  along z-axis in microns [u]");
  e.r(s.dt, " - time step");
  e.i(s.NZ, " -  total length along   z in unit cells");
  e.r(1e6 * s.dz * s.NZ, " - lenght in microns in Z direction [u]");
  e.i(s.cavity_left, " - location   of the cavity left boundary");
  e.i(s.cavity_right, " -  location of the cavity right boundary");
  e.i(steps_to_active_zone(in), " - number of steps (cycles in J) before reaching the active zone");
  e.i(s.NZ, " - number of points along Z axis");
  e.i(p.LL, " - number of points in time");
  e.r(c0, " - speed of light in vacuum m/s");
  e.r(p.resonant_wavelength, " - atomic resonant wavelength [m]");
  e.r(p.pulse.wavelength, " - pumping wavelength [m]");
  e.r(p.resonant_frequency, " - resonant transition frequency [Hz]");
  e.r(p.pulse.frequency, " - pumping frequency [Hz]");
  e.r(hbar, " - Plancks constant [Js]");
  e.r(p.refl_left, " - reflection coefficient at the left boundary");
  e.r(p.refl_right, " - reflection coefficient at the right boundary");
  e.r(p.pulse.duration, " - pulse duration [s]");
  e.r(p.detuning, " - resonant angular    frequency [rad/s]");
  e.r(p.pulse.angular_frequency, " - pumping angular frequency [rad/s]");
  e.r(p.detuning, " - detuning [rad/s]");
  e.r(p.pulse.amplitude, " - initial field amplitude [V/m]");
  for (std::size_t k = 1; k <= 15; ++k) e.r(p.T[k], kTComments[k - 1]);
  e.r(p.tau(2, 1), " - tau_sp spontaneous trion recombination time [s]");
  e.r(p.tau(1, 3), " - tau_13 electron spin-flip time 1->3 [s]");
  e.r(p.tau(3, 1), " - tau_13 electron spin-flip time 3->1 [s]");
  e.r(p.tau(2, 4), " - tau_24 hole spin-flip time 2->4 [s]");
  e.r(p.tau(4, 2), " - tau_42 hole spin-flip time 4->2 [s]");
  e.r(eps0, " - permittivity of vacuum [F/m]");
  e.r(p.dipole, " - dipole coupling constant [C*m]");
  e.r(p.dipole_density, " - resonant dipoles  density [m^-3]");
  e.r(mu0, " - magnetic permittivity of vacuum [H/m=N*A^-2] ");
  e.i(0, " - consecutive number of run");
  e.r(p.courant, " - Courant condition");
  // The number of spatial dumps of a fresh run, as the comment says.
  e.i(p.Nt / p.LL + 1, " eqn\t  - number of steps for Nsave=N/LL+1");
  e.i(p.LL, " - number of steps in time for dump in space");
  e.i(p.n_monitor, " - grid of points    along the structure to sample time traces along Z");
  e.i(p.LL, " - maximum number of timesteps");
  e.i(s.NZ, " - maximum number of steps along Z");
  return e.text;
}

void write_parameter_echo(const RunInput& in, const std::string& input_path) {
  textio::write_text_file(in.dirs.results_dir + result_files::kParameters,
                          parameter_echo(in, input_path));
}

}  // namespace mps
