// Whole runs through run_time_loop: block and snapshot counting, the layout of
// the snapshot files, the level toggle across blocks of odd length, and
// results independent of the thread count (also for max_abs_ex on its own).  A
// run leaves its ".dat" files compressed; the tests unpack them first.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

#include "core/errors.hpp"
#include "field/max_ex.hpp"
#include "simulation/time_loop.hpp"
#include "support/dot_line.hpp"
#include "support/reference/field_maximum.hpp"
#include "support/scratch_dir.hpp"
#include "support/unpack.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;

// The quickstart input with its run control, pulse and layer table
// replaced, and no monitor cells but the two ends (fewer trace files to
// write).  The pulse is a continuous wave of 0.2 um, circularly polarised,
// so both field pairs carry values from the first step.
std::string input_text(std::int64_t LL, std::int64_t Nt, const std::string& origin,
                       const std::vector<std::string>& table) {
  std::vector<std::string> lines = split_lines(example_input("quickstart"));
  lines[37] = "1 1 0.2 50 0 0 1.0e8 4 0 " + origin + " 0 0";
  lines[46] = "steps between two spatial dumps LL " + std::to_string(LL) + " steps";
  lines[49] = "total number of time steps " + std::to_string(Nt) + " -";
  lines.resize(52);
  lines.push_back("0 monitor_cells");
  lines.push_back("# spatial step, first and last cavity layer; layers");
  lines.push_back("5.0e-9 2 2");
  lines.insert(lines.end(), table.begin(), table.end());
  std::string text;
  for (const auto& l : lines) text += l + '\n';
  return text;
}

const std::string kVacuum = " 0 1.0 0 0 0 0 0 0 0";
const std::string kDots = " 0 3.5 0 -0.5 0.5 -1 -0.5 0.5 -1";

// 40 cells: vacuum, a dot layer (the cavity), vacuum.
std::string tiny_input(std::int64_t LL, std::int64_t Nt) {
  return input_text(LL, Nt, "0", {"10" + kVacuum, "20" + kDots, "10" + kVacuum});
}

// Folders of one run: snapshots and block traces in "Results/", the
// running statistics in "Discarded/".
struct RunFolder {
  ScratchDir root;
  RunFolder() {
    root.make_dir("Results");
    root.make_dir("Discarded");
  }
  std::string results() const { return root.file("Results/"); }
  std::string read(const std::string& name) const { return root.read("Results/" + name); }
  bool exists(const std::string& name) const { return root.exists("Results/" + name); }

  // Runs the input and unpacks both folders; returns the console text.
  std::string run(const std::string& text,
                  std::size_t output_bound = BackgroundWriter::kDefaultBound) const {
    RunInput in = read_execdata(root.path(), root.file("execdata.txt"), text);
    in.dirs.results_dir = results();
    in.dirs.discarded_dir = root.file("Discarded/");
    RunState arrays = make_run_state(in);
    arrays.output_bound = output_bound;
    std::ostringstream out, err;
    run_time_loop(in, arrays, out, err);
    for (const char* d : {"Results/", "Discarded/"}) {
      EXPECT_TRUE(decompress_gz_files(root.file(d)).empty());
    }
    EXPECT_EQ(err.str(), "");
    return out.str();
  }
};

std::set<std::string> files_in(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

std::string label(std::int64_t J) {
  std::string s = std::to_string(J);
  return std::string(12 - s.size(), '0') + s;
}

// Restores the thread count a test changes.
struct ThreadCount {
  int saved = omp_get_max_threads();
  ~ThreadCount() { omp_set_num_threads(saved); }
};

TEST(TimeLoop, BlocksAndSnapshotFilesOfAFreshRun) {
  RunFolder dir;
  const std::int64_t LL = 4, N = 40;
  const std::string progress = dir.run(tiny_input(LL, 3 * LL));

  // Nt = 3 LL: four blocks, so snapshots at 1, LL, 2LL, 3LL and 4LL.
  std::vector<std::string> block_starts;
  for (const std::string& line : split_lines(progress)) {
    if (line.find("Loop from ->") == std::string::npos) continue;
    std::istringstream s(line.substr(line.find("->") + 2));
    std::string jb, word, step;
    s >> jb >> word >> step;
    EXPECT_EQ(step, "4");
    block_starts.push_back(jb);
  }
  EXPECT_EQ(block_starts, (std::vector<std::string>{"0", "4", "8", "12"}));

  const std::set<std::string> names = files_in(dir.results());
  std::set<std::string> ex_files;
  for (const auto& n : names) {
    if (n.rfind("Ex_z", 0) == 0) ex_files.insert(n);
  }
  std::set<std::string> expected;  // both levels of every snapshot
  for (std::int64_t J : {1, 4, 8, 12, 16}) {
    expected.insert("Ex_z" + label(J) + ".dat");
    expected.insert("Ex_z" + label(J - 1) + ".dat");
  }
  EXPECT_EQ(ex_files, expected);

  // The new level of step J is 1 after an odd number of flips, 0 after an even one.
  EXPECT_EQ(dir.read("point.txt"),
            "000000000001  00000001  00000000\n000000000004  00000000  00000001\n"
            "000000000008  00000000  00000001\n000000000012  00000000  00000001\n"
            "000000000016  00000000  00000001\n");

  // Snapshot columns: Ex, Ey, Hx, Hy, u1..u15 and s13..s15, then "_z" and a label.
  auto is_column_file = [](const std::string& n) {
    const std::size_t z = n.find("_z");
    if (z == std::string::npos || n.size() != z + 2 + 12 + 4 || n.substr(z + 14) != ".dat")
      return false;
    for (std::size_t c = z + 2; c < z + 14; ++c) {
      if (std::isdigit(static_cast<unsigned char>(n[c])) == 0) return false;
    }
    const std::string head = n.substr(0, z);
    if (head == "Ex" || head == "Ey" || head == "Hx" || head == "Hy" || head == "s13" ||
        head == "s14" || head == "s15") {
      return true;
    }
    return head.size() >= 2 && head[0] == 'u' &&
           head.find_first_not_of("0123456789", 1) == std::string::npos;
  };
  int column_files = 0;
  for (const auto& n : names) {
    if (!is_column_file(n)) continue;
    ++column_files;
    const std::vector<std::string> lines = split_lines(dir.read(n));
    const bool first_step = n.find(label(1)) != std::string::npos;
    if (first_step &&
        (n.rfind("u13_z", 0) == 0 || n.rfind("u14_z", 0) == 0 || n.rfind("u15_z", 0) == 0)) {
      EXPECT_TRUE(lines.empty()) << n;
      continue;
    }
    const std::size_t width = n[0] == 's' ? 13 : 23;
    if (n[0] == 's') {
      EXPECT_TRUE(first_step) << n;
    }
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(N)) << n;
    for (const auto& l : lines) ASSERT_EQ(l.size(), width) << n << ": '" << l << "'";
    // H at the last cell repeats its neighbour, so the curl at cell N is zero.
    if (n[0] == 'H') {
      EXPECT_EQ(lines[N - 1], lines[N - 2]) << n;
    }
  }
  // 19 columns (Ex, Ey, Hx, Hy, u1..u15) for each of 10 labels, plus s13..s15 of step 1.
  EXPECT_EQ(column_files, 19 * 10 + 3);

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
  odd.run(tiny_input(3, 12));  // snapshots 1, 3, 6, 9, 12, 15
  even.run(tiny_input(4, 8));  // snapshots 1, 4, 8, 12
  for (std::int64_t J : {11, 12}) {
    for (std::string name : {"Ex_z", "Ey_z", "Hx_z", "Hy_z", "u1_z", "u13_z"}) {
      name += label(J) + ".dat";
      ASSERT_TRUE(odd.exists(name) && even.exists(name)) << name;
      EXPECT_EQ(odd.read(name), even.read(name)) << name;
    }
  }
  // Two zero fields would prove nothing.
  EXPECT_NE(odd.read("Ex_z" + label(12) + ".dat").find_first_of("123456789"), std::string::npos);
}

TEST(TimeLoop, UnsupportedBoundaryStopsTheRunBeforeAnyOutput) {
  RunFolder dir;
  const std::string text = replace_line(tiny_input(4, 4), 41, "3 left_boundary");
  EXPECT_THROW(dir.run(text), ParameterError);
  EXPECT_EQ(files_in(dir.results()), (std::set<std::string>{}));
}

TEST(TimeLoop, WholeRunIsTheSameOnOneAndTwoThreads) {
  // 24000 cells, well above the 20000 at which the field loops fork; 64 dot
  // cells, so the medium loop forks too.  The source sits where the two
  // threads' halves of cells 1..N-1 meet, and its wave reaches the dots
  // 10 cells away.  Few steps: a busy machine makes every fork costly.
  const std::string text =
      input_text(60, 0, "12000", {"11926" + kVacuum, "64" + kDots, "12010" + kVacuum});
  ThreadCount guard;
  RunFolder one, two;
  omp_set_num_threads(1);
  one.run(text);
  omp_set_num_threads(2);
  two.run(text);
  for (const char* d : {"Results/", "Discarded/"}) {
    const std::set<std::string> names = files_in(one.root.file(d));
    ASSERT_EQ(names, files_in(two.root.file(d)));
    EXPECT_FALSE(names.empty());
    for (const auto& n : names) {
      if (n == "summary.json") continue;  // names the thread count and the wall time
      EXPECT_TRUE(one.root.read(d + n) == two.root.read(d + n)) << d << n;
    }
  }
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
  copied.run(text);
  live.run(text, 0);
  for (const char* d : {"Results/", "Discarded/"}) {
    const std::set<std::string> names = files_in(copied.root.file(d));
    ASSERT_EQ(names, files_in(live.root.file(d)));
    for (const auto& n : names) {
      if (n == "summary.json") continue;  // names the wall time
      EXPECT_TRUE(copied.root.read(d + n) == live.root.read(d + n)) << d << n;
    }
  }
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
