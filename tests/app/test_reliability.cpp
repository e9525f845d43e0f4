// The promises a run keeps whatever its input: every check before the first
// file, no NaN reported as success, ranges and limits reported with their
// figures, a continued run that fails leaves everything as it was, and the
// end of a block ordered so that "point.txt" lists only complete steps.
#include <fcntl.h>
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

#include "app/run_folder.hpp"
#include "output/hdf5_file.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;

using Edits = std::vector<std::pair<int, std::string>>;

struct Rejected {
  Edits edits;  // of the short quickstart
  int exit_status;
  std::string report;  // a piece of the report (stdout for 1, stderr otherwise)
  bool pause = true;   // a parameter report ends with "Please correct parameter"
};

// Each input is rejected with its report before the time loop, and not one
// file is written.
TEST(Reliability, RejectedInputsWriteNothing) {
  auto pulse = [](const std::string& shape, const std::string& rest) {
    return Edits{{38, "1 " + shape + " 0.955022 50 0 0 2.0e8 " + rest}};
  };
  auto layer = [](const std::string& row) { return Edits{{58, row + " 0 0 0 0 0 0"}}; };
  auto grading = [](const std::string& row) { return Edits{{59, row + " 0 0 0 0 0 0"}}; };
  auto ends = [](int left, int right) {
    return Edits{{41, std::to_string(left) + " left_boundary"},
                 {42, std::to_string(right) + " right_boundary"}};
  };
  auto LL = [](const std::string& v) {
    return Edits{{47, "steps between two spatial dumps LL " + v + " steps"}};
  };
  auto J_final = [](const std::string& v) {
    return Edits{{49, "continue from stored step J_final " + v + " -"}};
  };
  auto Nt = [](const std::string& v) {
    return Edits{{50, "total number of time steps " + v + " -"}};
  };
  const std::string polarisation = " Error in pulse polarisation definition\n";
  const Rejected cases[] = {
      {{{22, "0\t0\t0\t2.0e-10"}}, 1, "T13 must be positive"},  // tau_sp 0
      {layer("100 0 0 0"), 1, "index of layer 1 must be positive"},
      {layer("100 0 NaN 0"), 1, "index of layer 1 must be a finite"},
      {layer("100 0 1.0 -2"), 1, "right-end index"},
      {layer("-100 0 1.0 0"), 1, "Negative cell count"},
      // End values so far apart that the grading overflows to infinity.
      {grading("200 0 -1e308 1e308"), 1,
       field100("1 ERROR -> I1, N_ref, N_vals, N_vals2,I-Jnop,len_vals")},
      {grading("200 0 1e308 -1e308"), 1,
       field100("2 ERROR -> I1, N_ref, N_vals, N_vals2,I-Jnop,len_vals")},
      {{{57, "0.0 2 4"}}, 1, "dz must be positive"},
      {{{54, "700"}}, 1, "Sampling cell 1 outside 1..NZ"},
      {{{38, "1 3 0 50 0 0 2.0e8 1 0 10 160 0"}}, 1, "pulse wavelength"},
      {{{38, "1 3 0.955022 0 0 0 2.0e8 1 0 10 160 0"}}, 1, "Pulse duration must not be zero"},
      {pulse("3", "1 0 900 160 0"), 1, "Pulse origin outside"},
      {{{38, "1 1 0.955022 50 0 0 2.0e8 1 0 10 1e12 1"}}, 1, "does not fit an integer"},
      {pulse("6", "1 0 10 160 0"), 1, field100("Formula not available yet for triangular pulse")},
      {pulse("0", "1 0 10 160 0"), 1, "Pulse shape must be 1 to 5"},
      {pulse("7", "1 0 10 160 0"), 1, "shape = 7"},
      {pulse("3", "7 0 10 160 0"), 1, polarisation, false},
      {pulse("3", "0 0 10 160 0"), 1, polarisation, false},
      {pulse("5", "5 1 10 160 0"), 1, polarisation, false},
      {pulse("3", "1 NaN 10 160 0"), 1, "noise scale"},
      // Finite values whose derived quantities are not: the noise's square
      // root of a negative or overflowing number, an infinite carrier or
      // transition frequency.
      {pulse("5", "1 -1 10 160 0"), 1, "noise scale must not be negative"},
      {pulse("5", "1 1e308 10 160 0"), 1, "largest noise draw finite: noise scale = 1e+308"},
      {{{38, "1 3 1e-300 50 0 0 2.0e8 1 0 10 160 0"}}, 1, "wavelength must give a finite"},
      {{{6, "trans_12 1e300 0"}, {8, "trans_34 1e300 0"}}, 1, "finite transition frequency"},
      {{{46, "Courant number 0 S"}}, 1, "Courant number must be positive"},
      {{{46, "Courant number 2 S"}}, 1, "stability limit"},
      {{{46, "Courant number 0.9 S"}, {58, "100 0 0.8 0 0 0 0 0 0 0"}}, 1, "S / n"},
      {{{11, "-Inf"}}, 1, "density of resonant dipoles must be a finite"},
      {{{11, "-1e20"}}, 1, "must not be negative"},
      {{{43, "1e309"}}, 1, "left reflection coefficient"},
      {{{41, "0 left_boundary"}}, 1, "Boundary type of the left end"},
      {ends(3, 4), 1, field100("PML not implemented yet on left boundary")},  // left first
      {ends(4, 3), 1, field100("Periodic BC not implemented yet on left boundary")},
      {ends(1, 3), 1, field100("PML not implemented yet on right boundary")},
      {ends(1, 4), 1, field100("Periodic BC not implemented yet on right boundary")},
      {LL("0"), 1, "LL must be at least 1"},
      {LL("9223372036854775807"), 1, "999999999999"},
      {LL("100000000000"), 3, "of memory"},
      {Nt("-1"), 1, "Nt must not be negative"},
      {Nt("9223372036854775807"), 1, "999999999999"},
      {J_final("15"), 1, "J_final must be a multiple of LL"},
      {J_final("20"), 1, "J_final must not lie beyond"},
      {{{1, "Nowhere"}}, 2, "Nowhere/\" does not exist"},
      {{{2, "Nowhere"}}, 2, "does not exist"},
      {{{2, "execdata.txt"}}, 2, "is not a folder"},
      {{{2, "/dev/null"}}, 2, "is not a folder"},
      {{{3, "Nowhere"}}, 2, "continuation folder"},
      {{{2, "Results"}}, 1, "must differ"},  // one folder for results and statistics
      {{{2, "./Results/"}}, 1, "must differ"},
  };
  for (const Rejected& c : cases) {
    SCOPED_TRACE(c.edits.front().second);
    RunFolder run(with_lines(short_quickstart(), c.edits));
    const ProgramResult r = run.run();
    EXPECT_EQ(r.exit_status, c.exit_status) << r.out << r.err;
    EXPECT_NE((c.exit_status == 1 ? r.out : r.err).find(c.report), std::string::npos)
        << r.out << r.err;
    if (c.exit_status == 1) {
      EXPECT_EQ(r.out.find("Please correct parameter") != std::string::npos, c.pause) << r.out;
    }
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

// Names and sizes of the files, and the text of "param.txt".
std::string folder_state(const RunFolder& run) {
  std::string state;
  for (const std::string& name : run.written()) {
    state += name + " " + std::to_string(run.dir.read(name).size()) + "\n";
  }
  return state + run.dir.read("Results/param.txt");
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
    const std::string before = folder_state(run);
    const ProgramResult r = run.run();
    EXPECT_NE(r.exit_status, 0);
    EXPECT_EQ(folder_state(run), before);
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

// The program started in `run`'s folder (with `option`, when given; its
// standard output and error on `console`, when given).
pid_t start(const RunFolder& run, const char* option = nullptr, int console = -1) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (console >= 0 && (::dup2(console, 1) < 0 || ::dup2(console, 2) < 0)) ::_exit(127);
    if (::chdir(run.dir.path().c_str()) != 0) ::_exit(127);
    ::execl(MPS_PROGRAM, MPS_PROGRAM, option, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// The program started in `run`'s folder and killed after `delay_ms`.
void run_and_kill(const RunFolder& run, int delay_ms, const char* option = nullptr) {
  const pid_t pid = start(run, option);
  std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

const std::string kLongRun =
    with_lines(short_quickstart(), {{47, "steps between two spatial dumps LL 100 steps"},
                                    {50, "total number of time steps 100000 -"}});

// A run killed at any moment leaves a "point.txt" whose every step has its
// snapshot, traces and (at a block end) statistics complete and compressed.
TEST(Reliability, KilledRunListsOnlyCompleteSteps) {
  for (const int delay_ms : {40, 90, 150, 230, 330}) {
    SCOPED_TRACE(delay_ms);
    RunFolder run(kLongRun);
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
  for (const int delay_ms : {100, 300}) {
    SCOPED_TRACE(delay_ms);
    RunFolder run(kLongRun);
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

// A run whose standard output and error go to a pipe its reader closes
// (`mps1d | head -1`) loses its console lines, not its work: it completes,
// writes its results, exits 0 and leaves no lock behind.
TEST(Reliability, RunOutlivesTheReaderOfItsOutput) {
  RunFolder run(
      with_lines(short_quickstart(), {{47, "steps between two spatial dumps LL 100 steps"},
                                      {50, "total number of time steps 1000 -"}}));
  int pipe_ends[2];  // closed on exec: the program holds only its console
  ASSERT_EQ(::pipe2(pipe_ends, O_CLOEXEC), 0);
  const pid_t pid = start(run, nullptr, pipe_ends[1]);
  ::close(pipe_ends[1]);
  char first[16];
  EXPECT_GT(::read(pipe_ends[0], first, sizeof first), 0);  // the banner has begun
  ::close(pipe_ends[0]);
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 6000 && ended == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ended = ::waitpid(pid, &status, WNOHANG);
  }
  if (ended == 0) ::kill(pid, SIGKILL);
  ASSERT_EQ(ended, pid) << "still running after a minute";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(run.dir.read("Results/summary.json").find("\"status\": \"complete\""),
            std::string::npos);
  EXPECT_EQ(run.written().count("Results/.mps1d.lock") +
                run.written().count("DiscardedResults/.mps1d.lock"),
            0u);
}

// A second run in the folders of a running one is refused before it writes
// anything; a stopped run releases them, one killed outright leaves a
// stale lock that is reported with how to clear it.
TEST(Reliability, ResultFoldersAreLockedWhileARunUsesThem) {
  RunFolder run(with_lines(short_quickstart(), {{50, "total number of time steps 1000000 -"}}));
  const pid_t pid = start(run);
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
  EXPECT_NE(second.err.find("rm -- '" + fresh.dir.file("DiscardedResults/.mps1d.lock")),
            std::string::npos)
      << second.err;
  EXPECT_EQ(fresh.written(), std::set<std::string>{"DiscardedResults/.mps1d.lock"});
}

}  // namespace
}  // namespace mps::testing
