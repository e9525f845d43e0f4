// "param.txt" of the quickstart example against text derived by hand from
// its layout (F20.12 / I8 values followed by the comment).
#include <gtest/gtest.h>

#include "output/param_echo.hpp"
#include "output/result_files.hpp"
#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

RunInput quickstart() {
  return read_execdata("/w/", "/w/execdata.txt", example_input("quickstart"));
}

// Lines 2..54 of the quickstart's echo.  dz = 5 nm, dt = 0.5 dz / c;
// W = 1.3 eV; tau_sp = 1 ns, tau_13 = tau_31 = 0.5 ns, tau_24 = tau_42 =
// 0.2 ns give T13 = 4/9 ns, T14 = 12/23 ns, T15 = 6/23 ns.  Values of 1e7
// and more (c, frequencies, amplitude, density) overflow F20.12.
const char* const kEchoLines[] = {
    "      0.005000000000 - spatial step  along z-axis in microns [u]",
    "      0.000000000000 - time step",
    "     620 -  total length along   z in unit cells",
    "      3.100000000000 - lenght in microns in Z direction [u]",
    "     100 - location   of the cavity left boundary",
    "     520 -  location of the cavity right boundary",
    "     600 - number of steps (cycles in J) before reaching the active zone",
    "     620 - number of points along Z axis",
    "    5000 - number of points in time",
    "******************** - speed of light in vacuum m/s",
    "      0.000000955022 - atomic resonant wavelength [m]",
    "      0.000000955022 - pumping wavelength [m]",
    "******************** - resonant transition frequency [Hz]",
    "******************** - pumping frequency [Hz]",
    "      0.000000000000 - Plancks constant [Js]",
    "      0.000000000000 - reflection coefficient at the left boundary",
    "      0.000000000000 - reflection coefficient at the right boundary",
    "      0.000000000000 - pulse duration [s]",
    "******************** - resonant angular    frequency [rad/s]",
    "******************** - pumping angular frequency [rad/s]",
    "******************** - detuning [rad/s]",
    "******************** - initial field amplitude [V/m]",
    "      0.000000000010 - T1 trion dephasing time (T|1>->|2>) [s]",
    "      0.000000000010 - T2 (T |2>->|3>) relaxation time [s]",
    "      0.000000000010 - T3 e spin relaxation time(T |1>->|3>) relaxation time [s]",
    "      0.000000000010 - T4 (T |1>->|4>) relaxation time [s]",
    "      0.000000000010 - T5 (T |2>->|4>) hole relaxation time [s]",
    "      0.000000000010 - T6 (T |3>->|4>) trion dephasing time [s]",
    "      0.000000000010 - T7 (T |1>->|2>) trion dephasing time [s]",
    "      0.000000000010 - T8 (T |2>->|3>) relaxation time [s]",
    "      0.000000000010 - T9 (T |1>->|3>) e spin relaxation time [s]",
    "      0.000000000010 - T10 (T |1>->|4>) relaxation time [s]",
    "      0.000000000010 - T11 (T |2>->|4>) hole relaxation time [s]",
    "      0.000000000010 - T12 (T |3>->|4>) trion dephasing time [s]",
    "      0.000000000222 - T13 (T1 population relaxation time) spont trion decay [s]",
    "      0.000000000261 - T14  spont trion decay [s]",
    "      0.000000000130 - T15 spontaneous trion decay [s]",
    "      0.000000001000 - tau_sp spontaneous trion recombination time [s]",
    "      0.000000000500 - tau_13 electron spin-flip time 1->3 [s]",
    "      0.000000000500 - tau_13 electron spin-flip time 3->1 [s]",
    "      0.000000000200 - tau_24 hole spin-flip time 2->4 [s]",
    "      0.000000000200 - tau_42 hole spin-flip time 4->2 [s]",
    "      0.000000000009 - permittivity of vacuum [F/m]",
    "      0.000000000000 - dipole coupling constant [C*m]",
    "******************** - resonant dipoles  density [m^-3]",
    "      0.000001256637 - magnetic permittivity of vacuum [H/m=N*A^-2] ",
    "       0 - consecutive number of run",
    "      0.500000000000 - Courant condition",
    "       7 eqn\t  - number of steps for Nsave=N/LL+1",
    "    5000 - number of steps in time for dump in space",
    "       4 - grid of points    along the structure to sample time traces along Z",
    "    5000 - maximum number of timesteps",
    "     620 - maximum number of steps along Z",
};

TEST(ParameterEcho, QuickstartLineByLine) {
  const std::string text = parameter_echo(quickstart(), "/w/execdata.txt");
  ASSERT_EQ(text.back(), '\n');
  const auto lines = split_lines(text);
  ASSERT_EQ(lines.size(), 54u);  // no empty line after the records
  EXPECT_EQ(lines[0],
            "/w/execdata.txt" + std::string(100 - 15, ' ') + " - structure geometry dat file");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], kEchoLines[i - 1]) << "line " << i + 1;
  }
}

TEST(ParameterEcho, SmallStepsAndLongPaths) {
  RunInput in = quickstart();
  in.structure.dz = 1e-8;
  in.structure.dt = 1e-17;
  std::string path(130, 'p');
  path.insert(0, 1, '/');
  path += "/execdata.txt";
  const auto lines = split_lines(parameter_echo(in, path));
  EXPECT_EQ(lines[0], path + " - structure geometry dat file");  // widened, not cut
  EXPECT_EQ(lines[1].substr(0, 20), "      0.010000000000");
  EXPECT_EQ(lines[2].substr(0, 20), "      0.000000000000");
}

// The names a restore and a manifest compare: a stored file's name without
// its folder and ".gz", and the HDF5 files under the step's 12-digit label.
TEST(ResultFiles, StoredNamesAndHdf5Names) {
  EXPECT_EQ(result_files::file_name("/w/Results/Ex_z000000000001.dat.gz"),
            "Ex_z000000000001.dat.gz");
  EXPECT_EQ(result_files::file_name("gamma.dat"), "gamma.dat");
  EXPECT_EQ(result_files::uncompressed(result_files::compressed("gamma.dat")), "gamma.dat");
  EXPECT_EQ(result_files::uncompressed("gz.dat"), "gz.dat");
  EXPECT_EQ(result_files::hdf5_snapshot(5000), "snapshot_000000005000.h5");
  EXPECT_EQ(result_files::hdf5_traces(1), "traces_000000000001.h5");
  EXPECT_EQ(result_files::hdf5_statistics(20), "statistics_000000000020.h5");
}

}  // namespace
}  // namespace mps::testing
