// Whole runs through run_time_loop: blocks and snapshots, the snapshot
// files' layout, the level toggle across blocks of odd length, and results
// independent of the thread count and of the output's copies; the field
// maximum.  Runs leave ".dat" files compressed; the tests unpack them.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>

#include "core/errors.hpp"
#include "field/max_ex.hpp"
#include "simulation/progress.hpp"
#include "simulation/run_folder.hpp"
#include "support/dot_line.hpp"
#include "support/reference/field_maximum.hpp"
#include "support/unpack.hpp"
#include "textio/fortran_format.hpp"

namespace mps::testing {
namespace {

using textio::step_label;

const std::string kVacuum = " 0 1.0 0 0 0 0 0 0 0";
const std::string kDots = " 0 3.5 0 -0.5 0.5 -1 -0.5 0.5 -1";

// 40 cells: vacuum, a dot layer (the cavity), vacuum; monitors at the ends.
std::string tiny_input(std::int64_t LL, std::int64_t Nt) {
  return cw_input(LL, Nt, "0", {}, {"10" + kVacuum, "20" + kDots, "10" + kVacuum});
}

// A run with its ".dat" files unpacked and its snapshots read from "Results/".
struct RunFolder : LoopRun {
  std::string read(const std::string& name) const { return root.read("Results/" + name); }
  bool exists(const std::string& name) const { return root.exists("Results/" + name); }
  std::string results() const { return root.file("Results/"); }
  void run_unpacked(const std::string& text,
                    std::size_t output_bound = BackgroundWriter::kDefaultBound) {
    run(text, output_bound);
    for (const char* d : {"Results/", "DiscardedResults/"}) {
      EXPECT_TRUE(decompress_gz_files(root.file(d)).empty());
    }
    EXPECT_EQ(warnings, "");
  }
};

// Both runs wrote the same files with the same bytes (summary.json apart:
// it names the thread count and the wall time).
void expect_same_outputs(const RunFolder& a, const RunFolder& b) {
  for (const char* d : {"Results/", "DiscardedResults/"}) {
    const std::set<std::string> names = files_in(a.root.file(d));
    ASSERT_EQ(names, files_in(b.root.file(d)));
    EXPECT_FALSE(names.empty());
    for (const auto& n : names) {
      EXPECT_TRUE(n == "summary.json" || a.root.read(d + n) == b.root.read(d + n)) << d << n;
    }
  }
}

bool all_digits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A snapshot column file: Ex, Ey, Hx, Hy, u<k> or s13..s15, then _z, a
// 12-digit step label and .dat.
bool is_column_file(const std::string& n) {
  const std::size_t z = n.find("_z");
  if (z == std::string::npos || n.size() != z + 18 || !n.ends_with(".dat")) return false;
  if (!all_digits(n.substr(z + 2, 12))) return false;
  const std::string q = n.substr(0, z);
  return q == "Ex" || q == "Ey" || q == "Hx" || q == "Hy" || q == "s13" || q == "s14" ||
         q == "s15" || (q[0] == 'u' && all_digits(q.substr(1)));
}

// Restores the thread count a test changes.
struct ThreadCount {
  int saved = omp_get_max_threads();
  ~ThreadCount() { omp_set_num_threads(saved); }
};

TEST(TimeLoop, BlocksAndSnapshotFilesOfAFreshRun) {
  RunFolder dir;
  const std::int64_t LL = 4, N = 40;
  dir.run_unpacked(tiny_input(LL, 3 * LL));

  // Nt = 3 LL: four blocks, so snapshots at 1, LL, 2LL, 3LL and 4LL.
  std::vector<std::string> block_starts;
  for (const std::string& line : split_lines(dir.progress)) {
    if (line.find("Loop from ->") == std::string::npos) continue;
    std::istringstream s(line.substr(line.find("->") + 2));
    std::string jb, word, step;
    s >> jb >> word >> step;
    EXPECT_EQ(step, "4");
    block_starts.push_back(jb);
  }
  EXPECT_EQ(block_starts, (std::vector<std::string>{"0", "4", "8", "12"}));

  // The set of files and point.txt are guarded by the golden outputs; here
  // the layout of each snapshot column: Ex, Ey, Hx, Hy, u1..u15, s13..s15.
  int column_files = 0;
  for (const auto& n : files_in(dir.results())) {
    if (!is_column_file(n)) continue;
    ++column_files;
    const std::vector<std::string> lines = split_lines(dir.read(n));
    const bool first_step = n.find(step_label(1)) != std::string::npos;
    if (first_step &&
        (n.starts_with("u13_z") || n.starts_with("u14_z") || n.starts_with("u15_z"))) {
      EXPECT_TRUE(lines.empty()) << n;
      continue;
    }
    EXPECT_TRUE(n[0] != 's' || first_step) << n;
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(N)) << n;
    for (const auto& l : lines)
      ASSERT_EQ(l.size(), n[0] == 's' ? 13u : 23u) << n << ": '" << l << "'";
    // H at the last cell repeats its neighbour, so the curl at cell N is zero.
    if (n[0] == 'H') {
      EXPECT_EQ(lines[N - 1], lines[N - 2]) << n;
    }
  }
  EXPECT_EQ(column_files, 19 * 10 + 3);  // 10 labels, and s13..s15 of step 1

  const std::vector<std::string> gamma = split_lines(dir.read("gamma.dat"));
  ASSERT_EQ(gamma.size(), static_cast<std::size_t>(N));
  for (const auto& l : gamma) {
    ASSERT_EQ(l.size(), 8u) << l;
    for (std::size_t c = 0; c < 8; c += 2)
      EXPECT_TRUE((l[c] == '0' || l[c] == '1') && l[c + 1] == ' ') << l;
  }
}

TEST(TimeLoop, OddBlockLengthContinuesTheLevelToggle) {
  RunFolder odd, even;
  odd.run_unpacked(tiny_input(3, 12));  // snapshots 1, 3, 6, 9, 12, 15
  even.run_unpacked(tiny_input(4, 8));  // snapshots 1, 4, 8, 12
  for (std::int64_t J : {11, 12}) {
    for (std::string name : {"Ex_z", "Ey_z", "Hx_z", "Hy_z", "u1_z", "u13_z"}) {
      name += step_label(J) + ".dat";
      ASSERT_TRUE(odd.exists(name) && even.exists(name)) << name;
      EXPECT_EQ(odd.read(name), even.read(name)) << name;
    }
  }
  // Two zero fields would prove nothing.
  EXPECT_NE(odd.read("Ex_z" + step_label(12) + ".dat").find_first_of("123456789"),
            std::string::npos);
}

TEST(TimeLoop, UnsupportedBoundaryStopsTheRunBeforeAnyOutput) {
  RunFolder dir;
  const std::string text = replace_line(tiny_input(4, 4), 41, "3 left_boundary");
  EXPECT_THROW(dir.run(text), ParameterError);
  EXPECT_EQ(files_in(dir.results()), (std::set<std::string>{}));
}

TEST(TimeLoop, WholeRunIsTheSameOnOneAndTwoThreads) {
  // 24000 cells (the field loops fork above 20000) and 64 dot cells (the
  // medium loop forks too); the source sits where the threads' halves meet,
  // 10 cells from the dots.
  const std::string text =
      cw_input(60, 0, "12000", {}, {"11926" + kVacuum, "64" + kDots, "12010" + kVacuum});
  ThreadCount guard;
  RunFolder one, two;
  omp_set_num_threads(1);
  one.run_unpacked(text);
  omp_set_num_threads(2);
  two.run_unpacked(text);
  expect_same_outputs(one, two);
  // The budget too, bit for bit: its sums keep their order on any team.
  const auto figures = [](const std::string& json) {
    std::istringstream in(json);
    std::string kept, line;
    while (std::getline(in, line)) {
      if (line.find("\"threads\"") == std::string::npos &&
          line.find("\"wall_time_s\"") == std::string::npos)
        kept += line + '\n';
    }
    return kept;
  };
  const std::string summary = figures(one.root.read("Results/summary.json"));
  EXPECT_NE(summary.find("\"absorbed\""), std::string::npos);
  EXPECT_EQ(summary, figures(two.root.read("Results/summary.json")));
}

// A state too large for the output's copies is written from the live
// arrays, before the loop goes on: the same files.
TEST(TimeLoop, SnapshotsFromTheLiveArraysAreTheSameAsFromCopies) {
  const std::string text = tiny_input(4, 14);
  RunFolder copied, live;
  copied.run_unpacked(text);
  live.run_unpacked(text, 0);
  expect_same_outputs(copied, live);
}

TEST(FieldMaximum, EmptyRangeZeroFieldAndThreadIndependence) {
  FieldState f;
  f.allocate(30000);
  EXPECT_EQ(max_abs_ex(f, 0, 0), -1.0000000200408773e+20);  // -1e20 in single precision
  EXPECT_EQ(max_abs_ex(f, 1, 30000), 0.0);

  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (auto& e : f.Ex[1]) e = u(gen);
  f.Ex[1][21000] = -3.5;                 // the largest magnitude is negative and in the second half
  f.Ex[1][100] = std::nan("");           // passed over
  f.Ex[1][29990] = 9.0;                  // beyond the cells scanned
  f.Ex[0].assign(f.Ex[0].size(), 50.0);  // the other level is not looked at
  ThreadCount guard;
  omp_set_num_threads(1);
  const double serial = max_abs_ex(f, 1, 29000);
  omp_set_num_threads(2);
  EXPECT_EQ(max_abs_ex(f, 1, 29000), serial);
  EXPECT_EQ(serial, 3.5);
}

// The step's maximum comes from the sweep's counted cells and the cells
// changed after it; it must be the maximum over every cell whichever
// cells the source, the ends and the dots change.
TEST(FieldMaximum, StepMaximumIsTheMaximumOverEveryCell) {
  enum class Case { hard, noise, transparent, walls };
  for (const Case c : {Case::hard, Case::noise, Case::transparent, Case::walls}) {
    SCOPED_TRACE(static_cast<int>(c));
    DotLine line(LineSetup{120, 1e24});
    line.add_dots(60, 70, {1.0, 0.0, 0.0, 0.0});
    line.set_pulse(1, 1e9, 5e-15);
    if (c == Case::noise) {
      line.source.pulse.shape = PulseShape::noise;
      line.source.pulse.noise_amplitude = 1e6;
      line.source.cavity_left = 20, line.source.cavity_right = 30;
    }
    if (c == Case::transparent) {
      line.sim.transparent = true;
      line.sim.incident = make_incident_line(line.source, line.k, line.dt);
    }
    if (c == Case::walls) line.ends.left_type = line.ends.right_type = BoundaryType::wall;
    classify(line.sim);
    int larger_than_sweep = 0;  // steps whose maximum is in a late cell
    for (int n = 0; n < 300; ++n) {
      line.advance();
      const double all = max_abs_ex(line.f, line.f.new_level(), line.f.N);
      ASSERT_EQ(line.sim.max_ex, all) << "step " << line.J;
      double sweep = 0.0;
      for (const CellRun& run : line.sim.e_runs) {
        for (std::int32_t i = run.first; i <= run.last && run.counted; ++i) {
          sweep = std::max(sweep, std::fabs(line.ex(i)));
        }
      }
      larger_than_sweep += all > sweep ? 1 : 0;
    }
    EXPECT_GT(larger_than_sweep, 0);  // the late cells do decide it at times
  }
}

}  // namespace
}  // namespace mps::testing

namespace mps::testing {
namespace {

// The progress line: percent, rate and the time left as H:MM:SS, rounded
// up; "--:--" before any step is timed.
TEST(Progress, LineShowsPercentRateAndTimeLeft) {
  EXPECT_EQ(progress_text(50000, 200000, 10.0),
            " mps1d:  25.0 % of 200000 steps, 5000 steps/s, 0:00:30 left");
  EXPECT_EQ(progress_text(1000, 4000000, 1.0),
            " mps1d:   0.0 % of 4000000 steps, 1000 steps/s, 1:06:39 left");
  EXPECT_EQ(progress_text(0, 100, 0.0), " mps1d:   0.0 % of 100 steps, 0 steps/s, --:-- left");
  EXPECT_EQ(progress_text(3, 4, 2.0), " mps1d:  75.0 % of 4 steps, 2 steps/s, 0:00:01 left");
}

}  // namespace
}  // namespace mps::testing
