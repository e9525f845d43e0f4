// Continued runs: the level index from point.txt, the reading of stored
// fields, and a run continued from its last snapshot against the same run
// done in one go.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "field/time_loop.hpp"
#include "results/continuation.hpp"
#include "run/errors.hpp"
#include "run/readgeom.hpp"
#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

TEST(Continuation, LevelIndexOfTheFirstMatchingLine) {
  ScratchDir dir;
  dir.write("point.txt",
            "000000001000  00000000  00000001\n"
            "000000002000  00000001  00000000\n"
            "000000003000  00000000  00000001\n");
  EXPECT_EQ(find_level_index(dir.file("point.txt"), 2000, 0), 1);
  EXPECT_EQ(find_level_index(dir.file("point.txt"), 3000, 1), 0);
  // A first line whose step cannot be read ends the search with the level
  // as it was.
  dir.write("bad.txt", "xxxxxxxxxxxx  00000001  00000000\n000000002000  00000001  00000000\n");
  EXPECT_EQ(find_level_index(dir.file("bad.txt"), 2000, 0), 0);
  try {
    find_level_index(dir.file("point.txt"), 2500, 0);
    FAIL() << "no line names step 2500";
  } catch (const ParameterError& e) {
    EXPECT_STREQ(e.what(), "cant find J_final -> check file point.txt");
    EXPECT_FALSE(e.padded());
  }
  EXPECT_THROW(find_level_index(dir.file("missing.txt"), 1000, 0), ParameterError);
}

TEST(Continuation, StoredNumberForms) {
  const std::pair<const char*, double> cases[] = {
      {"     0.150000000000E+01", 1.5},  {"    -0.150000000000E+01", -1.5},
      {"     0.100000000000+100", 1e99}, {"     0.100000000000-100", 1e-101},
      {"     0.000000000000E+00", 0.0},  {"                       ", 0.0},
  };
  for (const auto& [text, expected] : cases) {
    double v = -1.0;
    ASSERT_TRUE(parse_real_field(text, v)) << text;
    EXPECT_EQ(v, expected) << text;
  }
  double v = 0.0;
  ASSERT_TRUE(parse_real_field("                    NaN", v));
  EXPECT_TRUE(std::isnan(v));
  EXPECT_FALSE(parse_real_field("********************", v));
}

// Runs the quickstart structure in `dir` with the given LL, Nt and J_final.
void run(const ScratchDir& dir, int LL, int Nt, int J_final) {
  std::string text = example_input("quickstart");
  text =
      replace_line(text, 47, "steps between two spatial dumps LL " + std::to_string(LL) + " steps");
  text =
      replace_line(text, 49, "continue from stored step J_final " + std::to_string(J_final) + " -");
  text = replace_line(text, 50, "total number of time steps " + std::to_string(Nt) + " -");
  dir.write("execdata.txt", text);
  const RunInput in = prepare_run(dir.path());
  RunArrays arrays;
  allocate_run_arrays(in, arrays);
  std::ostringstream progress, warnings;
  VCSELSUB(in, arrays, progress, warnings);
  EXPECT_EQ(warnings.str(), "");
}

double largest_difference(const std::string& a, const std::string& b) {
  const auto la = split_lines(a);
  const auto lb = split_lines(b);
  EXPECT_EQ(la.size(), lb.size());
  double d = 0.0;
  for (std::size_t i = 0; i < la.size() && i < lb.size(); ++i) {
    std::istringstream sa(la[i]), sb(lb[i]);
    std::string ta, tb;
    while (sa >> ta && sb >> tb) {
      double x = 0.0, y = 0.0;
      EXPECT_TRUE(parse_real_field(ta, x) && parse_real_field(tb, y)) << ta << " " << tb;
      d = std::max(d, std::fabs(x - y));
    }
  }
  return d;
}

// The pulse reaches the dots within the first 400 steps, so both fields and
// medium carry over.  The snapshot keeps 12 significant digits, so the
// continued run agrees with the uninterrupted one to about 1e-11 of the
// pulse amplitude, not bit for bit.
TEST(Continuation, ContinuedRunFollowsTheUninterruptedOne) {
  constexpr int LL = 200;
  ScratchDir whole, parts;
  for (const ScratchDir* d : {&whole, &parts}) {
    for (const char* f : {"Results", "DiscardedResults", "Continue"}) d->make_dir(f);
  }
  run(whole, LL, 2 * LL, 0);  // blocks 1..3, snapshots up to step 600
  run(parts, LL, LL, 0);      // blocks 1..2, last snapshot at step 400
  for (const char* name :
       {"Ex_z000000000400", "Ex_z000000000399", "Ey_z000000000400", "Ey_z000000000399",
        "Hx_z000000000400", "Hx_z000000000399", "Hy_z000000000400", "Hy_z000000000399", "gamma"}) {
    const std::string file = std::string(name) + ".dat.gz";
    ASSERT_TRUE(parts.exists("Results/" + file)) << file;
    std::filesystem::copy_file(parts.file("Results/" + file), parts.file("Continue/" + file));
  }
  for (int n = 1; n <= 15; ++n) {
    for (const char* label : {"000000000400", "000000000399"}) {
      const std::string file = "u" + std::to_string(n) + "_z" + label + ".dat.gz";
      std::filesystem::copy_file(parts.file("Results/" + file), parts.file("Continue/" + file));
    }
  }
  run(parts, LL, 2 * LL, 2 * LL);  // block 3 only, from the stored step 400

  EXPECT_TRUE(parts.exists("Continue/Ex_z000000000400.dat"));  // left decompressed
  for (const char* name : {"Ex_z000000000600", "Ey_z000000000600", "u13_z000000000600",
                           "u1_z000000000599", "time1_Ex_000000000600"}) {
    const std::string file = std::string("Results/") + name + ".dat.gz";
    EXPECT_LT(largest_difference(whole.read_gz(file), parts.read_gz(file)), 1e-10) << name;
  }
  // The statistics of the continued block start from the restored step's
  // samples, so even their first interval matches.
  for (const char* name : {"time1_Ex_000000000600", "time_rho11_z000000000310_000000000600"}) {
    const std::string file = std::string("DiscardedResults/") + name + ".dat.gz";
    EXPECT_LT(largest_difference(whole.read_gz(file), parts.read_gz(file)), 1e-10) << name;
  }
  EXPECT_EQ(whole.read_gz("Results/gamma.dat.gz"), parts.read_gz("Results/gamma.dat.gz"));
  // point.txt of the continued folder: 1, 200, 400 from the first run, 600
  // from the continued one, all with the level of an even step count.
  EXPECT_EQ(parts.read("Results/point.txt"),
            "000000000001  00000001  00000000\n"
            "000000000200  00000000  00000001\n"
            "000000000400  00000000  00000001\n"
            "000000000600  00000000  00000001\n");
}

}  // namespace
}  // namespace mps::testing
