// The pieces of the corpus test: the examples it starts from, the
// mutations, the judgement of a run and the runner's time limit.  A fault
// here would let the corpus test pass without testing anything.
#include <gtest/gtest.h>

#include <chrono>

#include "fuzz/mutations.hpp"
#include "fuzz/run_check.hpp"
#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

TEST(CorpusMutations, EveryCodeIsFoundInBothExamples) {
  for (const char* name : {"quickstart", "microcavity"}) {
    EXPECT_EQ(missing_code_targets(example_input(name)), std::vector<std::string>{}) << name;
  }
}

TEST(CorpusMutations, SameSeedSameMutantAndTheTextChanges) {
  const std::string base = example_input("quickstart");
  int changed = 0;
  for (int k = 0; k < kMutationKinds; ++k) {
    Rng a(99), b(99);
    const Mutant x = mutate(base, MutationKind(k), a), y = mutate(base, MutationKind(k), b);
    EXPECT_EQ(x.text, y.text) << kind_name(MutationKind(k));
    EXPECT_EQ(x.description, y.description);
    changed += x.text != base ? 1 : 0;
  }
  // A byte may be replaced by itself or a line swapped with itself.
  EXPECT_GE(changed, kMutationKinds - 2);
}

TEST(CorpusMutations, ExtremeNumberReplacesANumberOutsideComments) {
  const std::string base = "abc 12 # 34\nx 5.0e-9\n";
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    Rng rng(seed);
    const Mutant m = mutate(base, MutationKind::extreme_number, rng);
    EXPECT_NE(m.text.find("# 34\n"), std::string::npos) << m.text;
    EXPECT_TRUE(m.text.find(" 12 ") == std::string::npos ||
                m.text.find("5.0e-9") == std::string::npos)
        << m.text;
  }
}

TEST(RunCheck, NonFiniteNumbersOfTheResultFiles) {
  EXPECT_EQ(first_non_finite("  0.100000000000E+01  2\n 3 resonant Infinite?\n"), "");
  EXPECT_EQ(first_non_finite("1 2\n 3 NaN\n"), "line 2: NaN");
  EXPECT_EQ(first_non_finite("1\n\n -Infinity\n"), "line 3: -Infinity");
  EXPECT_EQ(first_non_finite("0.1E+01NaN"), "line 1: 0.1E+01NaN");  // glued fields
  EXPECT_EQ(first_non_finite("0.1-310 -Inf"), "line 1: -Inf");
}

TEST(RunCheck, JudgesStatusReportAndFiles) {
  ScratchDir dir;
  dir.make_dir("Results");
  ProgramResult r;
  r.exit_status = 1;
  EXPECT_EQ(judge_run(r, dir.path()).faults.at(0).kind, kSilent);
  r.out = " Please correct parameter \n";
  EXPECT_TRUE(judge_run(r, dir.path()).faults.empty());
  dir.write("Results/param.txt", "1\n");
  EXPECT_EQ(judge_run(r, dir.path()).faults.at(0).kind, kLeftFiles);
  r.exit_status = 4;  // files of a run stopped by a non-finite value are kept
  r.out.clear();
  r.err = "warning\nmps1d: non-finite value\n";
  const Verdict kept = judge_run(r, dir.path());
  EXPECT_EQ(kept.outcome, Outcome::exit4);
  EXPECT_TRUE(kept.faults.empty());
  r.exit_status = 0;
  dir.write("Results/u1.dat", " 0.1E+01\n NaN\n");
  EXPECT_EQ(judge_run(r, dir.path()).faults.at(0).kind, kNonFinite);
  r.exit_status = 134;
  EXPECT_EQ(judge_run(r, dir.path()).faults.at(0).kind, kCrash);
  r.exit_status = 1;
  r.err = "x.cpp:3:5: runtime error: signed integer overflow\n";
  EXPECT_EQ(judge_run(r, dir.path()).faults.at(0).kind, kCrash);
  r.exit_status = 64;
  r.err = "mps1d: unknown argument\n";
  EXPECT_EQ(judge_run(r, dir.path()).faults.at(0).kind, kStatus);
}

TEST(RunIn, KillsARunPastItsTimeLimitAndLimitsAddressSpace) {
  ScratchDir dir;
  const auto start = std::chrono::steady_clock::now();
  const ProgramResult r = run_in("/bin/sleep", dir.path(), {"20"}, RunLimits{0.3, 0});
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.exit_status, 128 + 9);
  EXPECT_LT(took.count(), 10.0);  // far below the 20 s of the program
  const ProgramResult quick = run_in("/bin/sh", dir.path(), {"-c", "echo hi; exit 3"}, {5.0, 0});
  EXPECT_FALSE(quick.timed_out);
  EXPECT_EQ(quick.exit_status, 3);
  EXPECT_EQ(quick.out, "hi\n");
  // A shell cannot even start within 1 MiB of address space.
  EXPECT_NE(run_in("/bin/sh", dir.path(), {"-c", "echo ran"}, {5.0, 1ull << 20}).out, "ran\n");
}

}  // namespace
}  // namespace mps::testing
