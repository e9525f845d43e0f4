// The promises a run keeps whatever its input: every check before the first
// file, no NaN reported as success, ranges and limits reported with their
// figures, a continued run that fails leaves everything as it was, and the
// end of a block ordered so that "point.txt" lists only complete steps.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "output/hdf5_file.hpp"
#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;

struct RunFolder {
  ScratchDir dir;
  explicit RunFolder(const std::string& input) {
    for (const char* d : {"Results", "DiscardedResults", "Continue"}) dir.make_dir(d);
    dir.write("execdata.txt", input);
  }
  ProgramResult run() const { return run_in(MPS_PROGRAM, dir.path()); }
  std::set<std::string> written() const {
    std::set<std::string> all;
    for (const char* d : {"Results", "DiscardedResults", "Continue"}) {
      for (const std::string& name : files_in(dir.file(d))) all.insert(std::string(d) + "/" + name);
    }
    return all;
  }
};

std::string with_lines(std::string text, const std::vector<std::pair<int, std::string>>& edits) {
  for (const auto& [line, replacement] : edits) text = replace_line(text, line, replacement);
  return text;
}

struct Rejected {
  const char* what;
  std::vector<std::pair<int, std::string>> edits;
  int exit_status;
  const char* report;  // a piece of the report (stdout for 1, stderr otherwise)
};

// Each input is rejected with its report, and not one file is written.
TEST(Reliability, RejectedInputsWriteNothing) {
  const std::string pulse = "1 3 0.955022 50 0 0 2.0e8 ";
  const Rejected cases[] = {
      {"tau_sp 0", {{22, "0\t0\t0\t2.0e-10"}}, 1, "T13 must be positive"},
      {"layer index 0", {{58, "100 0 0 0 0 0 0 0 0 0"}}, 1, "index of layer 1 must be positive"},
      {"NaN index", {{58, "100 0 NaN 0 0 0 0 0 0 0"}}, 1, "index of layer 1 must be a finite"},
      {"graded to a negative index", {{58, "100 0 1.0 -2 0 0 0 0 0 0"}}, 1, "right-end index"},
      {"pulse wavelength 0", {{38, "1 3 0 50 0 0 2.0e8 1 0 10 160 0"}}, 1, "pulse wavelength"},
      {"Courant number 2", {{46, "Courant number 2 S"}}, 1, "stability limit"},
      {"index below 1 makes S/n above 1",
       {{46, "Courant number 0.9 S"}, {58, "100 0 0.8 0 0 0 0 0 0 0"}},
       1,
       "S / n"},
      {"density -Infinity", {{11, "-Inf"}}, 1, "density of resonant dipoles must be a finite"},
      {"negative density", {{11, "-1e20"}}, 1, "must not be negative"},
      {"reflection 1e309", {{43, "1e309"}}, 1, "left reflection coefficient"},
      {"noise NaN", {{38, pulse + "1 NaN 10 160 0"}}, 1, "noise scale"},
      {"boundary code 0", {{41, "0 left_boundary"}}, 1, "Boundary type of the left end"},
      {"J_final beyond the run",
       {{49, "continue from stored step J_final 20 -"}},
       1,
       "J_final must not lie beyond"},
      {"Nt overflows",
       {{50, "total number of time steps 9223372036854775807 -"}},
       1,
       "999999999999"},
      {"LL far too large",
       {{47, "steps between two spatial dumps LL 9223372036854775807 steps"}},
       1,
       "999999999999"},
      {"LL needs more memory than there is",
       {{47, "steps between two spatial dumps LL 100000000000 steps"}},
       3,
       "of memory"},
      {"discarded folder missing", {{2, "Nowhere"}}, 2, "does not exist"},
      {"discarded folder is a file", {{2, "execdata.txt"}}, 2, "is not a folder"},
      {"discarded folder is /dev/null", {{2, "/dev/null"}}, 2, "is not a folder"},
      {"continuation folder missing", {{3, "Nowhere"}}, 2, "continuation folder"},
      {"one folder for results and statistics", {{2, "Results"}}, 1, "must differ"},
      {"one folder under two names", {{2, "./Results/"}}, 1, "must differ"},
  };
  for (const Rejected& c : cases) {
    SCOPED_TRACE(c.what);
    RunFolder run(with_lines(short_quickstart(), c.edits));
    const ProgramResult r = run.run();
    EXPECT_EQ(r.exit_status, c.exit_status) << r.out << r.err;
    EXPECT_NE((c.exit_status == 1 ? r.out : r.err).find(c.report), std::string::npos)
        << r.out << r.err;
    EXPECT_EQ(r.out.find("Loop from"), std::string::npos);
    EXPECT_EQ(run.written(), std::set<std::string>{});
  }
}

TEST(Reliability, UnwritableResultsFolderIsReportedBeforeAnyFile) {
  // A folder where no file can be made although root passes access():
  // the probe file finds it (for every user).
  RunFolder proc(with_lines(short_quickstart(), {{2, "/proc"}}));
  ProgramResult r = proc.run();
  EXPECT_EQ(r.exit_status, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("\"/proc/\" is not writable"), std::string::npos) << r.err;
  EXPECT_EQ(proc.written(), std::set<std::string>{});

  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  RunFolder run(short_quickstart());
  fs::permissions(run.dir.file("DiscardedResults"), fs::perms::owner_write,
                  fs::perm_options::remove);
  r = run.run();
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_NE(r.err.find("is not writable"), std::string::npos) << r.err;
  EXPECT_EQ(run.written(), std::set<std::string>{});
}

// A run whose numbers overflow (population times of 1e-49 s against a step
// of 8 as) stops at the next snapshot, names the quantity, cell and step,
// and keeps what it wrote before.
TEST(Reliability, NonFiniteResultStopsTheRunWithItsPlace) {
  RunFolder run(with_lines(short_quickstart(), {{20, "1.0e-40"}}));
  const ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 4) << r.out << r.err;
  EXPECT_NE(r.err.find("is NaN at cell"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("after step 1"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("END OF PROGRAM"), std::string::npos);
  EXPECT_TRUE(run.dir.exists("Results/param.txt"));
  EXPECT_EQ(run.dir.read("Results/point.txt"), "");  // the failed step is not listed
  const std::string summary = run.dir.read("Results/summary.json");
  EXPECT_NE(summary.find("\"step\": 1,\n    \"reason\": \"Ex is NaN at cell"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("\"snapshots\": []"), std::string::npos) << summary;
}

// Cavity layer numbers far beyond the table leave the cavity at the grid's
// end instead of overflowing.
TEST(Reliability, CavityLayerNumberAtTheIntegerLimitIsTheGridEnd) {
  RunFolder run(with_lines(short_quickstart(), {{57, "5.0e-9 2 2147483647"}, {55, "300"}}));
  const ProgramResult r = run.run();
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
}

}  // namespace
}  // namespace mps::testing

namespace mps::testing {
namespace {

std::string folder_state(const ScratchDir& dir) {
  std::string state;
  for (const char* d : {"Results", "DiscardedResults", "Continue"}) {
    for (const std::string& name : files_in(dir.file(d))) {
      state += std::string(d) + "/" + name + " " +
               std::to_string(dir.read(std::string(d) + "/" + name).size()) + "\n";
    }
  }
  return state + dir.read("Results/param.txt");
}

// A continued run that cannot restore its step writes nothing: not
// "param.txt", not "n_z.dat", not a line of "point.txt".
TEST(Reliability, FailedContinuationLeavesEveryFolderAsItWas) {
  RunFolder run(short_quickstart());
  ASSERT_EQ(run.run().exit_status, 0);
  // Step 10 is stored; the snapshot is copied, then damaged.
  for (const std::string& name : files_in(run.dir.file("Results"))) {
    if (name.find("000000000010") != std::string::npos ||
        name.find("000000000009") != std::string::npos || name == "gamma.dat.gz") {
      fs::copy_file(run.dir.file("Results/" + name), run.dir.file("Continue/" + name));
    }
  }
  run.dir.write("Continue/Ex_z000000000010.dat.gz", "not a gzip stream");
  for (const char* J_final : {"30", "10"}) {  // a step point.txt lacks; the damaged one
    SCOPED_TRACE(J_final);
    run.dir.write(
        "execdata.txt",
        with_lines(short_quickstart(),
                   {{49, std::string("continue from stored step J_final ") + J_final + " -"},
                    {50, "total number of time steps 40 -"}}));
    const std::string before = folder_state(run.dir);
    const ProgramResult r = run.run();
    EXPECT_NE(r.exit_status, 0);
    EXPECT_EQ(folder_state(run.dir), before);
  }
}

// Hidden temporary files of a compression that was stopped are removed by
// the next run; plain files a stopped run left are compressed.
TEST(Reliability, NextRunClearsWhatAStoppedRunLeft) {
  RunFolder run(short_quickstart());
  run.dir.write("Results/.Ex_z000000000010.dat.gz.part", "half a stream");
  run.dir.write("DiscardedResults/.time1_Ex_000000000010.dat.gz.part", "half");
  run.dir.write("DiscardedResults/time1_Ex_000000000010.dat", "stale lines of a stopped run\n");
  const ProgramResult r = run.run();
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_FALSE(run.dir.exists("Results/.Ex_z000000000010.dat.gz.part"));
  EXPECT_FALSE(run.dir.exists("DiscardedResults/.time1_Ex_000000000010.dat.gz.part"));
  EXPECT_FALSE(run.dir.exists("DiscardedResults/time1_Ex_000000000010.dat"));
  // The block's statistics replace the stale file: the block's lines only.
  EXPECT_EQ(split_lines(run.dir.read_gz("DiscardedResults/time1_Ex_000000000010.dat.gz")).size(),
            10u);
}

// A run killed at any moment leaves a "point.txt" whose every step has its
// snapshot, traces and (at a block end) statistics complete and compressed.
// The program started in `run`'s folder (with `option`, when given) and
// killed after `delay_ms`.
void run_and_kill(const RunFolder& run, int delay_ms, const char* option = nullptr) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(run.dir.path().c_str()) != 0) ::_exit(127);
    ::execl(MPS_PROGRAM, MPS_PROGRAM, option, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

TEST(Reliability, KilledRunListsOnlyCompleteSteps) {
  const std::string input =
      with_lines(short_quickstart(), {{47, "steps between two spatial dumps LL 100 steps"},
                                      {50, "total number of time steps 100000 -"}});
  for (const int delay_ms : {40, 90, 150, 230, 330}) {
    SCOPED_TRACE(delay_ms);
    RunFolder run(input);
    run_and_kill(run, delay_ms);
    for (const std::string& line : split_lines(run.dir.read("Results/point.txt"))) {
      const std::string J = line.substr(0, 12);
      EXPECT_TRUE(run.dir.exists("Results/Ex_z" + J + ".dat.gz")) << J;
      EXPECT_TRUE(run.dir.exists("Results/u15_z" + J + ".dat.gz")) << J;
      EXPECT_TRUE(run.dir.exists("Results/time1_Ex_" + J + ".dat.gz")) << J;
      if (std::stoll(J) % 100 == 0) {
        EXPECT_TRUE(run.dir.exists("DiscardedResults/time2_Ey_" + J + ".dat.gz")) << J;
      }
    }
  }
}

// The same with HDF5 files: a listed step's snapshot opens and reads whole
// (a file is renamed into place only once complete).
TEST(Reliability, KilledHdf5RunListsOnlyCompleteSteps) {
  const std::string input =
      with_lines(short_quickstart(), {{47, "steps between two spatial dumps LL 100 steps"},
                                      {50, "total number of time steps 100000 -"}});
  for (const int delay_ms : {100, 300}) {
    SCOPED_TRACE(delay_ms);
    RunFolder run(input);
    run_and_kill(run, delay_ms, "--output=hdf5");
    for (const std::string& line : split_lines(run.dir.read("Results/point.txt"))) {
      const std::string J = line.substr(0, 12);
      const h5::Reader snapshot(run.dir.file("Results/snapshot_" + J + ".h5"));
      const auto N = static_cast<std::size_t>(snapshot.int_attribute("NZ"));
      EXPECT_EQ(snapshot.doubles("/restart/u15", N).size(), N) << J;
      EXPECT_TRUE(run.dir.exists("Results/traces_" + J + ".h5")) << J;
    }
  }
}

// A second run in the folders of a running one is refused before it writes
// anything; a stopped run releases them, one killed outright leaves a
// stale lock that is reported with how to clear it.
TEST(Reliability, ResultFoldersAreLockedWhileARunUsesThem) {
  RunFolder run(with_lines(short_quickstart(), {{50, "total number of time steps 1000000 -"}}));
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(run.dir.path().c_str()) != 0) ::_exit(127);
    ::execl(MPS_PROGRAM, MPS_PROGRAM, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const std::string lock = "Results/.mps1d.lock";
  for (int i = 0; i < 500 && !run.dir.exists("Results/point.txt"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(run.dir.exists(lock));
  ProgramResult second = run.run();
  EXPECT_EQ(second.exit_status, 2);
  EXPECT_NE(second.err.find("is in use by the run of pid " + std::to_string(pid)),
            std::string::npos)
      << second.err;
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_FALSE(run.dir.exists(lock));

  RunFolder fresh(short_quickstart());
  fresh.dir.write("DiscardedResults/.mps1d.lock", "pid 99999999 on host elsewhere\n");
  second = fresh.run();
  EXPECT_EQ(second.exit_status, 2);
  EXPECT_NE(second.err.find("stale lock"), std::string::npos) << second.err;
  EXPECT_NE(second.err.find("rm '" + fresh.dir.file("DiscardedResults/.mps1d.lock")),
            std::string::npos)
      << second.err;
  EXPECT_EQ(fresh.written(), std::set<std::string>{"DiscardedResults/.mps1d.lock"});
}

}  // namespace
}  // namespace mps::testing
