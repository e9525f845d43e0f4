// The program as a user runs it: a folder with execdata.txt, no arguments,
// standard input at its end.  Checks console text, exit status and which
// files are left behind.
#include <gtest/gtest.h>

#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

const std::string kBanner =
    "     \n"
    "          SOLUTION OF MAXWELL- PSEUDOSPIN EQUATIONS IN 1D+Time\n"
    "             \n"
    "                   REVISION 5 7.11.2020\n"
    "     \n"
    "                        Enjoy :-) \n"
    "  \n";

std::string field100(const std::string& text) { return text + std::string(100 - text.size(), ' '); }

struct RunFolder {
  ScratchDir dir;
  explicit RunFolder(const std::string& input) {
    for (const char* d : {"Results", "DiscardedResults", "Continue"}) dir.make_dir(d);
    dir.write("execdata.txt", input);
  }
  ProgramResult run(const std::vector<std::string>& args = {}) const {
    return run_in(MPS_PROGRAM, dir.path(), args);
  }
  bool left_setup_files() const {
    return dir.exists("Results/n_z.dat") || dir.exists("Results/n_z.dat.gz") ||
           dir.exists("Results/param.txt");
  }
};

TEST(Program, QuickstartWritesProfileAndEcho) {
  RunFolder run(short_quickstart());
  const ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, kBanner.size()), kBanner);
  EXPECT_NE(r.out.find("    END OF PROGRAM ! \n"), std::string::npos);
  // "n_z.dat" is compressed with the first snapshot; "param.txt" stays plain.
  EXPECT_EQ(split_lines(run.dir.read_gz("Results/n_z.dat.gz")).size(), 620u);
  EXPECT_EQ(split_lines(run.dir.read("Results/param.txt")).size(), 54u);
}

TEST(Program, CommandLineChoosesTheModelAndRejectsUnknownArguments) {
  const std::string corrected =
      " Model: energy-conserving light-dot coupling, non-magnetic graded layers, relaxation at "
      "the configured times\n";
  RunFolder run(short_quickstart());
  ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find(corrected), std::string::npos) << r.out;
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
  for (const char* bad : {"--ensemble=0,2", "--ensemble=257,2", "--ensemble=8", "--ensemble=8,0",
                          "--ensemble=8,nan", "--ensemble=8,2meV"}) {
    r = fresh.run({bad});
    EXPECT_EQ(r.exit_status, 64) << bad;
    EXPECT_NE(r.err.find("--ensemble needs K,FWHM"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fresh.left_setup_files());
}

TEST(Program, ParameterErrorReportExactTextAndNoFiles) {
  // n_levels = 3
  RunFolder run(replace_line(example_input("quickstart"), 4, "3"));
  const ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, kBanner + "\n " + field100("Number of levels must be 4: n_levels = 3") +
                       "\n\n Please correct parameter \n");
  EXPECT_FALSE(run.left_setup_files());
}

TEST(Program, ReadErrorReportNamesLabelAndLine) {
  RunFolder run(replace_line(example_input("quickstart"), 11, "1.0e24x   # density"));
  const ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, kBanner + " Error in file " + run.dir.file("execdata.txt") +
                       ", line 11: the density of resonant dipoles (Density atom)\n");
  EXPECT_NE(r.err.find("line 11"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1.0e24x"), std::string::npos) << r.err;
  EXPECT_FALSE(run.left_setup_files());
}

// Values the input once let through as zeros or old values: each ends the
// run with the read error report and names the line and text on standard
// error, before any file is written.
TEST(Program, UnreadableValueEndsTheRunBeforeAnyFile) {
  struct Case {
    int line;
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {59, "200 0 3.5 0 0 0 0 0 0", "\"200 0 3.5 0 0 0 0 0 0\""},
      {52, "tolerance 1.0e-12x -", "\"1.0e-12x\""},
      {16,
       "\xEF\xBB\xBF"
       "1\t0\t0\t0",
       "\"\\xEF\\xBB\\xBF1\""},
  };
  for (const Case& c : cases) {
    RunFolder run(replace_line(short_quickstart(), c.line, c.text));
    const ProgramResult r = run.run();
    EXPECT_EQ(r.exit_status, 1) << c.shown;
    EXPECT_NE(r.out.find("execdata.txt, line " + std::to_string(c.line) + ": "), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("execdata.txt, line " + std::to_string(c.line) + ": cannot read"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(c.shown), std::string::npos) << r.err;
    EXPECT_FALSE(run.left_setup_files()) << c.shown;
  }
}

TEST(Program, FieldCountWarningGoesToStandardError) {
  const std::string warning = "mps1d: warning: ";
  const std::string row = "line 33: a row of the dipole moments has 1 TAB-separated field";
  RunFolder run(replace_line(short_quickstart(), 33, "6.4e-29 0 0 0"));
  ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find(warning + run.dir.path() + "execdata.txt, " + row), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("warning"), std::string::npos);

  // Also when the row then makes the input be rejected.
  RunFolder rejected(replace_line(short_quickstart(), 32, "0 0 0 0"));
  r = rejected.run();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.out.find("Set dipole moment for 1->2 transition"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("line 32: a row of the dipole moments has 1 TAB-separated field"),
            std::string::npos)
      << r.err;

  // A row that would lose a value is an error naming its line.
  RunFolder lossy(replace_line(short_quickstart(), 33, "6.4e-29\t0\t0"));
  r = lossy.run();
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("execdata.txt, line 33: cannot read a row of the dipole moments"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(files_in(lossy.dir.file("Results")).empty());
}

TEST(Program, MissingOrEmptyInputIsAReadError) {
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

TEST(Program, RejectedInputsLeaveNoFiles) {
  const std::string q = example_input("quickstart");
  const std::vector<std::pair<int, std::string>> broken = {
      {46, "Courant number 0 S"},
      {47, "steps between two spatial dumps LL 0 steps"},
      {49, "continue from stored step J_final 2500 -"},
      {50, "total number of time steps -1 -"},
      {54, "700"},                                      // a sampling cell outside 1..NZ
      {57, "0.0 2 4"},                                  // dz
      {58, "-100 0 1.0 0 0 0 0 0 0 0"},                 // negative cell count
      {38, "1 3 0.955022 0 0 0 2.0e8 1 0 10 160 0"},    // Gaussian of zero duration
      {38, "1 3 0.955022 50 0 0 2.0e8 1 0 900 160 0"},  // origin beyond NZ
      {38, "1 1 0.955022 50 0 0 2.0e8 1 0 10 1e12 1"},  // delay multiple too large
  };
  for (const auto& [line, text] : broken) {
    RunFolder run(replace_line(q, line, text));
    const ProgramResult r = run.run();
    EXPECT_EQ(r.exit_status, 1) << text << "\n" << r.out;
    EXPECT_NE(r.out.find("Please correct parameter"), std::string::npos) << text;
    EXPECT_FALSE(run.left_setup_files()) << text;
  }
}

// Settings the solver does not have are rejected while the input is read:
// no set-up file, no "Loop from" line.  The left boundary is reported first.
TEST(Program, UnavailableSourceAndBoundarySettingsAreRejectedBeforeAnyFile) {
  const std::string q = example_input("quickstart");
  const std::string pulse_line = "1 3 0.955022 50 0 0 2.0e8 ";
  struct Case {
    int line;
    std::string text;
    std::string report;  // the message line of the report
    bool pause;          // the parameter report ends with "Please correct parameter"
  };
  const Case cases[] = {
      {38, "1 6 0.955022 50 0 0 2.0e8 1 0 10 160 0",
       field100("Formula not available yet for triangular pulse"), true},
      {38, "1 0 0.955022 50 0 0 2.0e8 1 0 10 160 0", "Pulse shape must be 1 to 5", true},
      {38, "1 7 0.955022 50 0 0 2.0e8 1 0 10 160 0", "shape = 7", true},
      {38, pulse_line + "7 0 10 160 0", " Error in pulse polarisation definition\n", false},
      {38, pulse_line + "0 0 10 160 0", " Error in pulse polarisation definition\n", false},
      {38, "1 5 0.955022 50 0 0 2.0e8 5 1 10 160 0", " Error in pulse polarisation definition\n",
       false},
      {41, "3 left_boundary\n4 right_boundary",
       field100("PML not implemented yet on left boundary"), true},
      {41, "4 left_boundary\n3 right_boundary",
       field100("Periodic BC not implemented yet on left boundary"), true},
      {42, "3 right_boundary", field100("PML not implemented yet on right boundary"), true},
      {42, "4 right_boundary", field100("Periodic BC not implemented yet on right boundary"), true},
  };
  for (const Case& c : cases) {
    RunFolder run(replace_line(q, c.line, c.text));
    const ProgramResult r = run.run();
    EXPECT_EQ(r.exit_status, 1) << c.text;
    EXPECT_NE(r.out.find(c.report), std::string::npos) << c.text << "\n" << r.out;
    EXPECT_EQ(r.out.find("Please correct parameter") != std::string::npos, c.pause) << c.text;
    EXPECT_EQ(r.out.find("Loop from"), std::string::npos) << c.text;
    EXPECT_FALSE(run.left_setup_files()) << c.text;
    EXPECT_FALSE(run.dir.exists("Results/point.txt")) << c.text;
  }
}

TEST(Program, GradedLayerRoundingIsAcceptedAndExcursionRejected) {
  const std::string q = short_quickstart();
  {
    // 1.0 to 3.59 over 13 cells lands one ulp above 3.59 at the last cell.
    RunFolder run(replace_line(q, 59, "13 0 1.0 3.59 0 0 0 0 0 0\n187 0 3.5 0 0 0 0 0 0 0"));
    const ProgramResult r = run.run();
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    const auto lines = split_lines(run.dir.read_gz("Results/n_z.dat.gz"));
    ASSERT_EQ(lines.size(), 620u);
    EXPECT_EQ(lines[112], "     0.56500       3.59000");
  }
  // End values so far apart that the grading overflows to infinity.
  const std::pair<const char*, const char*> excursions[] = {
      {"200 0 -1e308 1e308 0 0 0 0 0 0", "1 ERROR -> I1, N_ref, N_vals, N_vals2,I-Jnop,len_vals"},
      {"200 0 1e308 -1e308 0 0 0 0 0 0", "2 ERROR -> I1, N_ref, N_vals, N_vals2,I-Jnop,len_vals"}};
  for (const auto& [row, message] : excursions) {
    RunFolder run(replace_line(q, 59, row));
    const ProgramResult r = run.run();
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.out.find(field100(message)), std::string::npos) << r.out;
    EXPECT_FALSE(run.left_setup_files());
  }
}

TEST(Program, MissingResultsFolderIsNamed) {
  ScratchDir dir;
  dir.write("execdata.txt", example_input("quickstart"));
  const ProgramResult r = run_in(MPS_PROGRAM, dir.path());
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_NE(r.err.find(dir.path() + "Results/"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
}

TEST(Program, FoldersOfAnyLengthAndPlaceAreUsed) {
  ScratchDir dir;
  const std::string deep = std::string(120, 'r') + "/" + std::string(60, 's');
  dir.make_dir(deep);
  const std::string absolute = dir.path() + deep;
  dir.make_dir("Elsewhere");
  dir.make_dir("Continue");
  std::string input = short_quickstart();
  input = replace_line(input, 1, absolute + "   # absolute, longer than 100 characters");
  input = replace_line(input, 2, "Elsewhere");
  dir.write("execdata.txt", input);
  const ProgramResult r = run_in(MPS_PROGRAM, dir.path());
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(dir.exists(deep + "/n_z.dat.gz"));
  EXPECT_TRUE(dir.exists(deep + "/param.txt"));
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
  for (const char* d : {"Results", "DiscardedResults", "Continue"}) {
    EXPECT_TRUE(files_in(run.dir.file(d)).empty()) << d;
  }
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

}  // namespace
}  // namespace mps::testing

namespace mps::testing {
namespace {

// Without a pulse amplitude the field files are scaled by 1 V/m instead of
// being divided by zero.
TEST(Program, RunWithoutPulseAmplitudeWritesFiniteFields) {
  RunFolder run(replace_line(short_quickstart(), 38, "1 3 0.955022 50 0 0 0 1 0 10 160 0"));
  const ProgramResult r = run.run();
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string ex = run.dir.read_gz("Results/Ex_z000000000010.dat.gz");
  ASSERT_EQ(split_lines(ex).size(), 620u);
  EXPECT_EQ(ex.find("NaN"), std::string::npos);
  EXPECT_EQ(ex.find("Infinity"), std::string::npos);
}

}  // namespace
}  // namespace mps::testing
