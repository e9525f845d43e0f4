// Trace files of whole runs: their line counts, block traces that agree
// with the snapshot of the same step, and statistics lines that summarise
// exactly the steps since the previous line, across block ends too.  Then a result
// file the run cannot compress and a statistics file it cannot write.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "output/restore.hpp"
#include "simulation/run_folder.hpp"
#include "textio/fortran_format.hpp"

namespace mps::testing {
namespace {

using textio::step_label;

// A continuous wave from cell 303, inside the dot layer (cells 301..320);
// user monitor cells 300 (just outside the dots) and 305 (inside).
std::string input_text(std::int64_t LL, std::int64_t Nt,
                       const std::vector<std::string>& users = {"300", "305"}) {
  return cw_input(LL, Nt, "303", users);
}

struct RunFolder : LoopRun {
  std::vector<std::string> gz_lines(const std::string& folder, const std::string& name) const {
    return split_lines(root.read_gz(folder + name + ".gz"));
  }
};

// Names of the trace files of label L for the monitor cells, in the order
// of RunningStatistics.
std::vector<std::string> trace_names(const std::vector<std::int32_t>& cells, const std::string& L) {
  std::vector<std::string> names = {"time1_Ex_" + L + ".dat", "time1_Ey_" + L + ".dat",
                                    "time2_Ex_" + L + ".dat", "time2_Ey_" + L + ".dat"};
  for (std::size_t k = 1; k + 1 < cells.size(); ++k) {
    for (const char* kind : {"Ex", "Ey", "rho11", "rho22", "rho33", "rho44"}) {
      names.push_back(std::string("time_") + kind + "_z" + step_label(cells[k]) + "_" + L + ".dat");
    }
  }
  return names;
}

// Field n of a trace or statistics line (also the form "0.1-126" of
// exponents beyond two digits).
double field(const std::string& line, std::size_t n) {
  double v = 0.0;
  EXPECT_TRUE(parse_real_field(line.substr(n * 25, 23), v)) << line;
  return v;
}

// Checks each statistics line against the steps it covers: v[s] per step
// (v[0] = 0), `ends` the step of each line.  The changes must add up to
// the last value minus the one before the first step.
void expect_lines_summarise(const std::vector<double>& v, const std::vector<std::int64_t>& ends,
                            const std::vector<std::string>& lines, const std::string& what) {
  ASSERT_EQ(lines.size(), ends.size()) << what;
  std::int64_t before = 0;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    double max = -1e99, min = 1e99;
    for (std::int64_t s = before + 1; s <= ends[n]; ++s) {
      max = std::max(max, v[static_cast<std::size_t>(s)]);
      min = std::min(min, v[static_cast<std::size_t>(s)]);
    }
    const double last = v[static_cast<std::size_t>(ends[n])],
                 first = v[static_cast<std::size_t>(before)];
    // An E23.12 field holds a value to 5e-12 of itself.
    const double tolerance = 1e-11 * (std::fabs(last) + std::fabs(first) + std::fabs(last - first));
    ASSERT_EQ(lines[n].size(), 100u) << what;
    EXPECT_EQ(field(lines[n], 0), 0.0) << what;
    EXPECT_NEAR(field(lines[n], 1), max, 1e-11 * std::fabs(max)) << what << " line " << n + 1;
    EXPECT_NEAR(field(lines[n], 2), min, 1e-11 * std::fabs(min)) << what << " line " << n + 1;
    EXPECT_NEAR(field(lines[n], 3), last - first, tolerance) << what << " line " << n + 1;
    before = ends[n];
  }
}

// Every quantity's values at steps 0..blocks*LL (0 before the first step),
// read from the block traces written at the block ends, which carry the
// names of the block's statistics files.
std::map<std::string, std::vector<double>> traced_values(const RunFolder& r, std::int64_t LL,
                                                         std::int64_t blocks) {
  std::map<std::string, std::vector<double>> values;
  for (std::int64_t b = 1; b <= blocks; ++b) {
    const std::vector<std::string> names =
        trace_names(r.in.params.monitor_cells, step_label(b * LL));
    for (std::size_t q = 0; q < names.size(); ++q) {
      const std::string key = names[q].substr(0, names[q].size() - 17);  // without "_L.dat"
      std::vector<double>& v = values[key];
      if (v.empty()) v.push_back(0.0);
      const std::vector<std::string> lines = r.gz_lines("Results/", names[q]);
      EXPECT_EQ(lines.size(), static_cast<std::size_t>(LL)) << names[q];
      for (const auto& l : lines) v.push_back(field(l, 1));
    }
  }
  return values;
}

TEST(RunTraces, FilesLinesAndValuesOfAThreeBlockRun) {
  RunFolder r;
  const std::int64_t LL = 20;
  r.run(input_text(LL, 2 * LL));  // blocks 1..3, snapshots at 1, 20, 40, 60
  const std::vector<std::int32_t>& cells = r.in.params.monitor_cells;
  ASSERT_EQ(cells, (std::vector<std::int32_t>{1, 300, 305, 619}));
  ASSERT_TRUE(r.in.structure.z1 == 301 && r.in.structure.z2 == 320);
  EXPECT_EQ(r.warnings, "");

  // Step 1's snapshot leaves one line per trace.
  for (const auto& n : trace_names(cells, step_label(1)))
    EXPECT_EQ(r.gz_lines("Results/", n).size(), 1u) << n;

  // The last line of each block trace against the Ex_z / Ey_z snapshot of
  // that step at the monitor cell.  (The set of trace files and their time
  // column are guarded by the golden outputs.)
  for (const std::int64_t J : {1, 20, 40, 60}) {
    const std::vector<std::string> names = trace_names(cells, step_label(J));
    for (std::size_t q = 0; q < names.size(); ++q) {
      const bool is_ex = names[q].find("_Ex_") != std::string::npos;
      if (!is_ex && names[q].find("_Ey_") == std::string::npos) continue;
      const std::size_t k = q < 2 ? 0 : q < 4 ? cells.size() - 1 : (q - 4) / 6 + 1;
      const std::vector<std::string> trace = r.gz_lines("Results/", names[q]);
      ASSERT_FALSE(trace.empty()) << names[q];
      const std::string& last = trace.back();
      const std::vector<std::string> snapshot =
          r.gz_lines("Results/", (is_ex ? "Ex_z" : "Ey_z") + step_label(J) + ".dat");
      EXPECT_EQ(last.substr(25), snapshot.at(static_cast<std::size_t>(cells[k] - 1))) << names[q];
    }
  }

  // Populations: none outside the dot region, a full set inside.
  for (const auto& l : r.gz_lines("Results/", "time_rho22_z000000000300_000000000060.dat")) {
    EXPECT_EQ(field(l, 1), 0.0);
  }
  std::vector<double> sum(20, 0.0);
  for (const char* n : {"11", "22", "33", "44"}) {
    const auto rho =
        r.gz_lines("Results/", std::string("time_rho") + n + "_z000000000305_000000000060.dat");
    ASSERT_EQ(rho.size(), 20u);
    for (std::size_t s = 0; s < 20; ++s) sum[s] += field(rho[s], 1);
  }
  for (const double total : sum) EXPECT_NEAR(total, 1.0, 1e-6);

  // Statistics, one line per step: max = min = the step's value, change =
  // the step's value minus the previous one, the last of the previous block
  // at a block start.
  const auto values = traced_values(r, LL, 3);
  const std::vector<double>& ex305 = values.at("time_Ex_z000000000305");
  ASSERT_GT(std::fabs(ex305[20]), 1e-3);  // the carried value matters
  ASSERT_NE(ex305[20], ex305[21]);
  std::vector<std::int64_t> ends(60);
  for (std::int64_t s = 1; s <= 60; ++s) ends[static_cast<std::size_t>(s - 1)] = s;
  for (const auto& [key, v] : values) {
    std::vector<std::string> all;
    for (const std::int64_t b : {1, 2, 3}) {
      const auto block = r.gz_lines("DiscardedResults/", key + "_" + step_label(b * LL) + ".dat");
      EXPECT_EQ(block.size(), static_cast<std::size_t>(LL)) << key;
      all.insert(all.end(), block.begin(), block.end());
    }
    expect_lines_summarise(v, ends, all, key);
  }
}

// LL = 4001: one statistics line every 2 steps, 2000 per block; step 4001
// is left over at the end of block 1 and goes into the first line of block 2.
TEST(RunTraces, StatisticsIntervalOfTwoStepsRunsOnAcrossTheBlockEnd) {
  RunFolder r;
  const std::int64_t LL = 4001;
  r.run(input_text(LL, LL, {"305"}));
  std::vector<std::int64_t> ends;
  for (std::int64_t row = 2; row <= 4000; row += 2) ends.push_back(row);
  for (std::int64_t row = 2; row <= 4000; row += 2) ends.push_back(LL + row);
  const auto values = traced_values(r, LL, 2);
  ASSERT_EQ(values.size(), 10u);
  for (const auto& [key, v] : values) {
    std::vector<std::string> all =
        r.gz_lines("DiscardedResults/", key + "_" + step_label(LL) + ".dat");
    EXPECT_EQ(all.size(), 2000u) << key;
    const auto second = r.gz_lines("DiscardedResults/", key + "_" + step_label(2 * LL) + ".dat");
    all.insert(all.end(), second.begin(), second.end());
    expect_lines_summarise(v, ends, all, key);
  }
}

// A plain file found at the start whose compressed name is taken stays
// plain, reported, and the run goes on.
TEST(RunCompression, AFileThatCannotBeCompressedIsReportedAndKeptPlain) {
  RunFolder r;
  r.root.write("Results/extra.dat", "left by hand\n");
  r.root.make_dir("Results/extra.dat.gz");  // the compressed name is taken
  r.run(input_text(10, 10));
  EXPECT_NE(r.warnings.find("extra.dat"), std::string::npos) << r.warnings;
  EXPECT_NE(r.warnings.find("the plain file is kept"), std::string::npos) << r.warnings;
  EXPECT_EQ(r.root.read("Results/extra.dat"), "left by hand\n");
  EXPECT_TRUE(r.root.exists("Results/Ex_z000000000020.dat.gz"));
  EXPECT_TRUE(r.root.exists("DiscardedResults/time1_Ex_000000000020.dat.gz"));
}

// Root writes into write-protected folders, so a statistics file that is
// a folder stands in for one that cannot be written.
TEST(TraceFolder, StatisticsFileThatCannotBeWrittenEndsTheRun) {
  ScratchDir dir;
  make_run_folders(dir);
  dir.write("execdata.txt", short_quickstart());
  dir.make_dir("DiscardedResults/time2_Ey_000000000010.dat.gz");
  const ProgramResult r = run_in(MPS_PROGRAM, dir.path());
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_NE(r.err.find(dir.path() + "DiscardedResults/time2_Ey_000000000010.dat.gz"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace mps::testing
