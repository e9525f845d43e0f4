// The program as a user runs it: a folder with execdata.txt, no arguments,
// standard input at its end.  Checks console text, exit status and which
// files are left behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "app/run_folder.hpp"

namespace mps::testing {
namespace {

TEST(Program, QuickstartRunAndCommandLine) {
  const std::string corrected =
      " Model: energy-conserving light-dot coupling, non-magnetic graded layers, relaxation at "
      "the configured times\n";
  RunFolder run(short_quickstart());
  ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner);
  EXPECT_NE(r.out.find("    END OF PROGRAM ! \n"), std::string::npos);
  EXPECT_NE(r.out.find(corrected), std::string::npos) << r.out;
  // "n_z.dat" is compressed with the first snapshot; "param.txt" stays plain.
  EXPECT_EQ(split_lines(run.dir.read_gz("Results/n_z.dat.gz")).size(), 620u);
  EXPECT_EQ(split_lines(run.dir.read("Results/param.txt")).size(), 54u);

  r = run.run({"--legacy-model"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find(" Model: legacy (--legacy-model)"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(corrected), std::string::npos);
  r = run.run({"--ensemble=4,2.5"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find(" Dots broadened: 4 spectral classes, Gaussian of 2.5 meV FWHM\n"),
            std::string::npos)
      << r.out;

  RunFolder fresh(short_quickstart());
  r = fresh.run({"--legacy"});
  EXPECT_EQ(r.exit_status, 64);
  EXPECT_NE(r.err.find("unknown argument \"--legacy\""), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  for (const char* bad :
       {"--ensemble=0,2", "--ensemble=257,2", "--ensemble=8", "--ensemble=8,0", "--ensemble=8,nan",
        "--ensemble=8,2meV", "--ensemble=8,1e-300", "--ensemble=8,1e308"}) {
    r = fresh.run({bad});
    EXPECT_EQ(r.exit_status, 64) << bad;
    EXPECT_NE(r.err.find("--ensemble needs K,FWHM"), std::string::npos) << r.err;
  }
  for (const char* bad :
       {"--magnetic-field=1,2", "--magnetic-field=1,2,3,4", "--magnetic-field=1,nan,0",
        "--magnetic-field=inf,0,0", "--magnetic-field=1T,0,0", "--magnetic-field="}) {
    r = fresh.run({bad});
    EXPECT_EQ(r.exit_status, 64) << bad;
    EXPECT_NE(r.err.find("--magnetic-field needs BX,BY,BZ"), std::string::npos) << r.err;
  }
  for (const char* bad : {"--g-factors=1,2,3", "--g-factors=1,2,3,nan", "--g-factors=1,2,3,4,5"}) {
    r = fresh.run({bad});
    EXPECT_EQ(r.exit_status, 64) << bad;
    EXPECT_NE(r.err.find("--g-factors needs"), std::string::npos) << r.err;
  }
  for (const char* other : {"--legacy-model", "--ensemble=4,2.5"}) {
    r = fresh.run({"--magnetic-field=0,0,1", other});
    EXPECT_EQ(r.exit_status, 64) << other;
    EXPECT_NE(r.err.find("--magnetic-field goes with neither"), std::string::npos) << r.err;
  }
  EXPECT_EQ(fresh.written(), std::set<std::string>{});
}

TEST(Program, ParameterAndReadErrorReportsAreExact) {
  RunFolder levels(replace_line(example_input("quickstart"), 4, "3"));  // n_levels = 3
  ProgramResult r = levels.run();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, kBanner + "\n " + field100("Number of levels must be 4: n_levels = 3") +
                       "\n\n Please correct parameter \n");
  EXPECT_EQ(levels.written(), std::set<std::string>{});

  RunFolder density(replace_line(example_input("quickstart"), 11, "1.0e24x   # density"));
  r = density.run();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, kBanner + " Error in file " + density.dir.file("execdata.txt") +
                       ", line 11: the density of resonant dipoles (Density atom)\n");
  EXPECT_NE(r.err.find("line 11"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1.0e24x"), std::string::npos) << r.err;
  EXPECT_EQ(density.written(), std::set<std::string>{});
}

// Values the input once let through as zeros or old values: each ends the
// run with the read error report and names the line and text on standard
// error, before any file is written.
TEST(Program, UnreadableValueEndsTheRunBeforeAnyFile) {
  const std::pair<int, std::string> cases[] = {
      {59, "200 0 3.5 0 0 0 0 0 0"},
      {52, "tolerance 1.0e-12x -"},
      {16,
       "\xEF\xBB\xBF"
       "1\t0\t0\t0"},
      {33, "6.4e-29\t0\t0"},  // a dipole row that would lose a value
  };
  const char* const shown[] = {"\"200 0 3.5 0 0 0 0 0 0\"", "\"1.0e-12x\"", "\"\\xEF\\xBB\\xBF1\"",
                               "a row of the dipole moments"};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& [line, text] = cases[i];
    SCOPED_TRACE(shown[i]);
    RunFolder run(replace_line(short_quickstart(), line, text));
    const ProgramResult r = run.run();
    const std::string where = "execdata.txt, line " + std::to_string(line) + ": ";
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.out.find(where), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(where + "cannot read"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(shown[i]), std::string::npos) << r.err;
    EXPECT_EQ(run.written(), std::set<std::string>{});
  }
  for (const bool empty : {false, true}) {
    ScratchDir dir;
    dir.make_dir("Results");
    if (empty) dir.write("execdata.txt", "");
    const ProgramResult r = run_in(MPS_PROGRAM, dir.path());
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(r.out.starts_with(kBanner + " Error in file " + dir.file("execdata.txt"))) << r.out;
    EXPECT_NE(r.err.find("execdata.txt"), std::string::npos);
  }
}

// A dipole row of one TAB-separated field is read but warned about on
// standard error, also when the input is then rejected.
TEST(Program, FieldCountWarningGoesToStandardError) {
  const std::string row = "a row of the dipole moments has 1 TAB-separated field";
  RunFolder run(replace_line(short_quickstart(), 33, "6.4e-29 0 0 0"));
  ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("mps1d: warning: " + run.dir.path() + "execdata.txt, line 33: " + row),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("warning"), std::string::npos);

  RunFolder rejected(replace_line(short_quickstart(), 32, "0 0 0 0"));
  r = rejected.run();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.out.find("Set dipole moment for 1->2 transition"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("line 32: " + row), std::string::npos) << r.err;
}

TEST(Program, GradedLayerRoundingIsAccepted) {
  // 1.0 to 3.59 over 13 cells lands one ulp above 3.59 at the last cell.
  RunFolder run(
      replace_line(short_quickstart(), 59, "13 0 1.0 3.59 0 0 0 0 0 0\n187 0 3.5 0 0 0 0 0 0 0"));
  const ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  const auto lines = split_lines(run.dir.read_gz("Results/n_z.dat.gz"));
  ASSERT_EQ(lines.size(), 620u);
  EXPECT_EQ(lines[112], "     0.56500       3.59000");
}

TEST(Program, FoldersOfAnyLengthAndPlaceAreUsed) {
  ScratchDir dir;
  const std::string deep = std::string(120, 'r') + "/" + std::string(60, 's');
  dir.make_dir(deep);
  dir.make_dir("Elsewhere");
  dir.make_dir("Continue");
  dir.write("execdata.txt",
            with_lines(short_quickstart(),
                       {{1, dir.path() + deep + "   # absolute, longer than 100 characters"},
                        {2, "Elsewhere"}}));
  const ProgramResult r = run_in(MPS_PROGRAM, dir.path());
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(dir.exists(deep + "/n_z.dat.gz"));
  EXPECT_FALSE(dir.exists("Results/n_z.dat.gz"));
  const std::string first = split_lines(dir.read(deep + "/param.txt")).at(0);
  EXPECT_EQ(first, field100(dir.path() + "execdata.txt") + " - structure geometry dat file");
}

// --check reads and checks the case, writes nothing, and outlines the run:
// the files it counts are the files the run then writes.  A case in another
// folder is named on the command line; a rejected case is reported as a run
// reports it.
TEST(Program, CheckOutlinesTheRunAndWritesNothing) {
  RunFolder run(replace_line(short_quickstart(), 50, "total number of time steps 30 -"));
  ProgramResult r = run_in(MPS_PROGRAM, "/", {"--check", run.dir.path()});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("SOLUTION OF MAXWELL"), std::string::npos);
  EXPECT_NE(r.out.find("20 dot cells in the dot region 301..320"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("steps 1..40 (4 blocks of 10)"), std::string::npos) << r.out;
  EXPECT_EQ(run.written(), std::set<std::string>{});
  const std::size_t at = r.out.find("about ", r.out.find("snapshots;"));
  ASSERT_NE(at, std::string::npos) << r.out;
  const auto files = std::stoul(r.out.substr(at + 6));
  ASSERT_EQ(run.run().exit_status, 0);
  EXPECT_EQ(
      files_in(run.dir.file("Results")).size() + files_in(run.dir.file("DiscardedResults")).size(),
      files);

  RunFolder bad(replace_line(short_quickstart(), 46, "Courant number 1.5 S"));
  r = bad.run({"--check"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.out.find("Please correct parameter"), std::string::npos) << r.out;
}

// The numbers after each `key` of a JSON text, in order (null as NaN).
std::vector<double> numbers_after(const std::string& json, const std::string& key) {
  std::vector<double> out;
  for (std::size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
    const std::string value = json.substr(at + key.size(), 24);
    out.push_back(value.starts_with("null") ? NAN : std::strtod(value.c_str(), nullptr));
  }
  return out;
}

// --magnetic-field and --g-factors: --check --json and summary.json name
// them (--check --json says null without a field), the run names them.
TEST(Program, MagneticFieldIsRecorded) {
  RunFolder run(replace_line(short_quickstart(), 50, "total number of time steps 30 -"));
  ProgramResult r = run.run({"--check", "--json"});
  EXPECT_NE(r.out.find("\"magnetic_field\": null"), std::string::npos) << r.out;
  const std::vector<std::string> field = {"--magnetic-field=0.5,0,-2",
                                          "--g-factors=-0.4,-0.7,0.1,2"};
  std::vector<std::string> check = field;
  check.insert(check.end(), {"--check", "--json"});
  r = run.run(check);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  const std::size_t at = r.out.find("\"magnetic_field\": {");
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"g_hole_z\": 2", at), std::string::npos) << r.out;
  r = run.run(field);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find(" Magnetic field (0.5, 0, -2) T, g-factors electron -0.4 (in plane), -0.7 "
                       "(z), hole 0.1, 2\n"),
            std::string::npos)
      << r.out;
  const std::string summary = run.dir.read("Results/summary.json");
  const std::size_t in = summary.find("\"magnetic_field\": {");
  ASSERT_NE(in, std::string::npos) << summary;
  EXPECT_NE(summary.find("\"g_electron_inplane\": -0.4", in), std::string::npos) << summary;
}

// --trace-every=N: the traces keep the steps that are multiples of N (the
// flux records and statistics every step), the check counts their bytes,
// summary.json names it; a bad N, or one that cannot resolve the carrier,
// is refused before anything is written.
TEST(Program, TraceEveryThinsTheTracesAndTheCheckCountsThem) {
  RunFolder run(replace_line(short_quickstart(), 50, "total number of time steps 30 -"));
  const auto text_bytes = [&run](const std::string& every) {
    const ProgramResult r = run.run({"--check", "--json", "--trace-every=" + every});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\"trace_every\": " + every + ","), std::string::npos) << r.out;
    return numbers_after(r.out, "\"text_bytes\": ").at(0);
  };
  // Steps 1..40, 16 trace files per step (two ends, two user cells): 32
  // lines fewer in each with N = 5, none fewer with N = 1.
  EXPECT_DOUBLE_EQ(text_bytes("1") - text_bytes("5"), 16.0 * 32 * 49);
  ProgramResult r = run.run({"--trace-every=5"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(run.dir.read_gz("Results/time1_Ex_000000000001.dat.gz"), "");
  const std::vector<std::string> lines =
      split_lines(run.dir.read_gz("Results/time_Ex_z000000000310_000000000020.dat.gz"));
  ASSERT_EQ(lines.size(), 2u);  // steps 15 and 20
  EXPECT_EQ(split_lines(run.dir.read_gz("Results/flux_000000000020.dat.gz")).size(), 10u);
  EXPECT_NE(run.dir.read("Results/summary.json").find("\"trace_every\": 5"), std::string::npos);
  const std::string thinned = run.dir.read_gz("Results/time2_Ey_000000000040.dat.gz");
  RunFolder full(replace_line(short_quickstart(), 50, "total number of time steps 30 -"));
  ASSERT_EQ(full.run().exit_status, 0);
  const std::vector<std::string> all =
      split_lines(full.dir.read_gz("Results/time2_Ey_000000000040.dat.gz"));
  EXPECT_EQ(thinned, all.at(4) + "\n" + all.at(9) + "\n");  // steps 35 and 40

  RunFolder fresh(short_quickstart());
  for (const char* bad :
       {"--trace-every=0", "--trace-every=x", "--trace-every=", "--trace-every=-2"}) {
    r = fresh.run({bad});
    EXPECT_EQ(r.exit_status, 64) << bad;
    EXPECT_NE(r.err.find("--trace-every needs a whole number"), std::string::npos) << r.err;
  }
  // dt = 8.34 as, carrier period 3.19 fs: at most 95 steps a sample.
  EXPECT_EQ(fresh.run({"--check", "--trace-every=95"}).exit_status, 0);
  r = fresh.run({"--trace-every=96"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.out.find("the traces would alias; at most 95"), std::string::npos) << r.out;
  EXPECT_EQ(fresh.written(), std::set<std::string>{});
}

// summary.json gives each pulse's configured peak, also when the run ends
// before it: the Gaussian's centre int(delay/FWHM) W steps, the secant's
// middle half its length after its start int(T/dt) int(delay/T) steps;
// null for a continuous wave, which has none.
TEST(Program, SummaryGivesEachPulsesConfiguredPeakTime) {
  const std::string pulses =
      "1 3 0.955022 50 0 0 2.0e8 1 0 10 160 0\n"
      "2 2 0.955022 40 0 0 1.0e8 1 0 10 80 0\n"
      "3 1 0.955022 40 0 0 1.0e8 1 0 10 0 0";
  RunFolder run(with_lines(short_quickstart(), {{37, "3"}, {38, pulses}}));
  ASSERT_EQ(run.run().exit_status, 0);
  const std::string summary = run.dir.read("Results/summary.json");
  const double dt = numbers_after(summary, "\"dt_s\": ").at(0);
  const double fs = 1e-15;  // the durations as the reader scales them
  const double W = std::trunc(50 * fs / (2.0 * std::sqrt(std::log(2.0))) / dt + 0.5);
  const double J1 = std::trunc(40 * fs / dt) * 2.0;
  const std::vector<double> peaks = numbers_after(summary, "\"peak_time_s\": ");
  ASSERT_EQ(peaks.size(), 3u) << summary;
  EXPECT_EQ(peaks[0], 3.0 * W * dt);
  EXPECT_DOUBLE_EQ(peaks[1], J1 * dt + 40 * fs / 2.0);
  EXPECT_TRUE(std::isnan(peaks[2])) << summary;
}

// Without a pulse amplitude the field files are scaled by 1 V/m instead of
// being divided by zero.
TEST(Program, RunWithoutPulseAmplitudeWritesFiniteFields) {
  RunFolder run(replace_line(short_quickstart(), 38, "1 3 0.955022 50 0 0 0 1 0 10 160 0"));
  ASSERT_EQ(run.run().exit_status, 0);
  const std::string ex = run.dir.read_gz("Results/Ex_z000000000010.dat.gz");
  ASSERT_EQ(split_lines(ex).size(), 620u);
  EXPECT_EQ(ex.find("NaN"), std::string::npos);
  EXPECT_EQ(ex.find("Infinity"), std::string::npos);
}

}  // namespace
}  // namespace mps::testing
