// Block traces and running statistics over hand-made monitor samples: which
// files each monitor count gives, the line layout, the time column, the
// scaling by E0, and max/min/change per statistics line with its reset.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <set>

#include "core/errors.hpp"
#include "output/traces.hpp"
#include "support/scratch_dir.hpp"
#include "textio/fortran_format.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;

std::string E23(double v) { return textio::format_E(v, 23, 12); }

// Distinct, exactly representable values: kind, monitor and row can be read
// back from each one.  Fields (kinds 0, 1) are stored multiplied by E0.
double sample(int kind, std::int32_t k, std::int64_t r, double E0) {
  const double v = (kind + 1) * 100.0 + k * 10.0 + static_cast<double>(r) / 8.0;
  return kind < 2 ? v * E0 : v;
}

// Rows 0..LL of monitors 1..M (k = 0 unused), as MonitorSamples reads them.
struct Buffers {
  std::int32_t M;
  std::int64_t rows;
  std::array<std::vector<double>, 6> q;
  double& at(int kind, std::int32_t k, std::int64_t r) {
    return q[static_cast<std::size_t>(kind)][static_cast<std::size_t>(k * rows + r)];
  }
  MonitorSamples samples() const { return {M, rows, {q[0], q[1], q[2], q[3], q[4], q[5]}}; }
};

Buffers filled_buffers(std::int32_t M, std::int64_t LL, double E0) {
  Buffers b{M, LL + 1, {}};
  for (auto& v : b.q) v.assign(static_cast<std::size_t>((M + 1) * b.rows), 0.0);
  for (std::int32_t k = 1; k <= M; ++k) {
    for (std::int64_t r = 0; r <= LL; ++r) {
      for (int kind = 0; kind < 6; ++kind) b.at(kind, k, r) = sample(kind, k, r, E0);
    }
  }
  return b;
}

const char* const kKinds[] = {"Ex", "Ey", "rho11", "rho22", "rho33", "rho44"};

TEST(BlockTraces, FilesAndLinesForOneTwoAndFourMonitors) {
  const double E0 = 4.0, dt = 1e-17;
  const std::vector<std::int32_t> all_cells = {1, 7, 12, 40};
  for (const std::int32_t M : {1, 2, 4}) {
    SCOPED_TRACE("M = " + std::to_string(M));
    ScratchDir dir;
    std::vector<std::int32_t> cells(all_cells.begin(), all_cells.begin() + M);
    if (M > 1) cells.back() = 40;
    const Buffers b = filled_buffers(M, 5, E0);
    const MonitorSamples view = b.samples();
    TraceInput in;
    in.Jb = 999;  // rows 1..3 are the steps 1000..1002
    in.J = 1002;
    in.dt = dt;
    in.E0 = E0;
    in.monitor_cells = cells;
    in.samples = borrow(view);  // written before write_block_traces returns
    in.folder = dir.path();
    write_block_traces(in);

    const std::string L = "_000000001002.dat";
    // name -> (monitor, kind)
    std::vector<std::tuple<std::string, std::int32_t, int>> expected = {{"time1_Ex" + L, 1, 0},
                                                                        {"time1_Ey" + L, 1, 1},
                                                                        {"time2_Ex" + L, M, 0},
                                                                        {"time2_Ey" + L, M, 1}};
    for (std::int32_t k = 2; k <= M - 1; ++k) {
      for (int kind = 0; kind < 6; ++kind) {
        expected.emplace_back(std::string("time_") + kKinds[kind] + "_z" +
                                  textio::step_label(cells[static_cast<std::size_t>(k - 1)]) + L,
                              k, kind);
      }
    }
    std::set<std::string> names;
    for (const auto& [name, k, kind] : expected) names.insert(name);
    ASSERT_EQ(files_in(dir.path()), names);

    for (const auto& [name, k, kind] : expected) {
      const std::vector<std::string> lines = split_lines(dir.read(name));
      ASSERT_EQ(lines.size(), 3u) << name;
      for (std::int64_t r = 1; r <= 3; ++r) {
        const std::int64_t s = in.Jb + r;
        const double time = static_cast<double>(s) * dt * 999999986991104.0;
        const double value = sample(kind, k, r, 1.0);  // fields come out divided by E0
        EXPECT_EQ(lines[static_cast<std::size_t>(r - 1)], E23(time) + "  " + E23(value)) << name;
      }
      // 1000 dt in femtoseconds with 1e15 taken in single precision.
      EXPECT_EQ(lines[0].substr(0, 23), "     0.999999986991E+01") << name;
    }

    // A snapshot at the block start has no rows: the same files, empty.
    ScratchDir empty;
    in.J = in.Jb;
    in.folder = empty.path();
    write_block_traces(in);
    const std::set<std::string> none = files_in(empty.path());
    EXPECT_EQ(none.size(), names.size());
    for (const auto& name : none) EXPECT_EQ(empty.read(name), "") << name;
  }
}

// Every 4th step: the rows of the steps 1000, 1004, 1008 of a block from
// step 1000 (Jb = 999), each line as the full trace has it.
TEST(BlockTraces, EveryNthStepKeepsTheWholeRunMultiplesOfN) {
  EXPECT_EQ(first_kept_row(999, 4), 1);
  EXPECT_EQ(first_kept_row(1000, 4), 4);
  EXPECT_EQ(first_kept_row(7, 1), 1);
  EXPECT_EQ(kept_steps(999, 1010, 4), 3);
  EXPECT_EQ(kept_steps(0, 1, 10), 0);
  EXPECT_EQ(kept_steps(0, 40, 1), 40);
  EXPECT_EQ(kept_steps(5, 5, 1), 0);
  const Buffers b = filled_buffers(2, 12, 1.0);
  const MonitorSamples view = b.samples();
  TraceInput in;
  in.Jb = 999;
  in.J = 1010;
  in.dt = 1e-17;
  in.monitor_cells = {1, 9};
  in.samples = borrow(view);
  ScratchDir full, thinned;
  in.folder = full.path();
  write_block_traces(in);
  in.every = 4;
  in.folder = thinned.path();
  write_block_traces(in);
  ASSERT_EQ(files_in(thinned.path()), files_in(full.path()));
  for (const std::string& name : files_in(full.path())) {
    const std::vector<std::string> all = split_lines(full.read(name));
    ASSERT_EQ(all.size(), 11u);
    EXPECT_EQ(thinned.read(name), all[0] + "\n" + all[4] + "\n" + all[8] + "\n") << name;
  }
}

// The thinned traces must resolve the carrier: N dt at most a quarter period.
TEST(BlockTraces, TraceEveryBeyondAQuarterCarrierPeriodIsRefused) {
  RunInput in;
  in.structure.dt = 1e-17;
  in.params.pulse.wavelength = 1.2e-6;  // 4.0 fs
  Pulse shorter;
  shorter.wavelength = 0.6e-6;  // 2.0 fs: at most 50 steps
  in.params.further_pulses = {shorter};
  in.params.trace_every = 50;
  EXPECT_NO_THROW(check_trace_every(in));
  in.params.trace_every = 51;
  EXPECT_THROW(check_trace_every(in), FatalMessage);
  in.params.further_pulses.clear();
  EXPECT_NO_THROW(check_trace_every(in));
}

// Rows 1..6 of monitor 2's Ex (row 0 holds the step before the block):
// an interval of 3 rows with a swing, then one of a constant field.
TEST(RunningStatistics, IntervalsResetAndBlockLinesReplaceTheFile) {
  const double E0 = 2.0;
  const std::vector<std::int32_t> cells = {1, 9, 30};
  Buffers b = filled_buffers(3, 6, E0);
  const double ex[] = {5, 7, -3, 4, 4, 4, 4};
  for (std::int64_t r = 0; r <= 6; ++r) b.at(0, 2, r) = ex[r] * E0;

  ScratchDir dir;
  RunningStatistics stats(cells, E0);
  const std::vector<std::string> names = stats.file_names("000000000006");
  std::vector<std::string> expected_names = {
      "time1_Ex_000000000006.dat", "time1_Ey_000000000006.dat", "time2_Ex_000000000006.dat",
      "time2_Ey_000000000006.dat"};
  for (const char* kind : kKinds) {
    expected_names.push_back(std::string("time_") + kind + "_z000000000009_000000000006.dat");
  }
  EXPECT_EQ(names, expected_names);

  for (std::int64_t r = 1; r <= 6; ++r) {
    stats.update(b.samples(), r);
    if (r % 3 == 0) stats.record("000000000006");
  }
  auto line = [](double max, double min, double change) {
    return E23(0.0) + "  " + E23(max) + "  " + E23(min) + "  " + E23(change) + "  ";
  };
  EXPECT_TRUE(files_in(dir.path()).empty());  // lines wait for the flush
  stats.flush(dir.path());
  EXPECT_EQ(files_in(dir.path()), std::set<std::string>(names.begin(), names.end()));

  const std::string ex_file = "time_Ex_z000000000009_000000000006.dat";
  // The changes of an interval add up to its last value minus the one before it.
  EXPECT_EQ(dir.read(ex_file), line(7, -3, 4 - 5) + "\n" + line(4, 4, 0) + "\n");
  EXPECT_EQ(line(0, 0, 0).size(), 100u);
  // Populations are not scaled; every row of the filled buffers grows by 1/8.
  EXPECT_EQ(dir.read("time_rho33_z000000000009_000000000006.dat"),
            line(sample(4, 2, 3, E0), sample(4, 2, 1, E0), 3.0 / 8.0) + "\n" +
                line(sample(4, 2, 6, E0), sample(4, 2, 4, E0), 3.0 / 8.0) + "\n");
  EXPECT_EQ(split_lines(dir.read("time2_Ey_000000000006.dat")).at(0),
            line(sample(1, 3, 3, 1), sample(1, 3, 1, 1), 3.0 / 8.0));

  // A block's lines are written once, at its end: a later flush of the same
  // label replaces the file (a continued run recomputing a block that a
  // stopped run had begun must not record it twice); nothing recorded,
  // nothing written.
  stats.update(b.samples(), 1);
  stats.record("000000000006");
  stats.flush(dir.path());
  stats.flush(dir.path());
  const std::vector<std::string> lines = split_lines(dir.read(ex_file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], line(7, 7, 7 - 5));
}

// One monitor is both the first and the last.
TEST(RunningStatistics, OneMonitorFillsBothEndFamilies) {
  const Buffers b = filled_buffers(1, 4, 1.0);
  ScratchDir dir;
  RunningStatistics stats({1}, 1.0);
  EXPECT_EQ(stats.file_names("L"), (std::vector<std::string>{"time1_Ex_L.dat", "time1_Ey_L.dat",
                                                             "time2_Ex_L.dat", "time2_Ey_L.dat"}));
  for (std::int64_t r = 1; r <= 4; ++r) {
    stats.update(b.samples(), r);
    stats.record("L");
  }
  stats.flush(dir.path());
  EXPECT_EQ(files_in(dir.path()).size(), 4u);
  for (const std::string kind : {"Ex", "Ey"}) {
    const std::string first = dir.read("time1_" + kind + "_L.dat");
    EXPECT_EQ(split_lines(first).size(), 4u);
    EXPECT_EQ(first, dir.read("time2_" + kind + "_L.dat")) << kind;
  }
}

}  // namespace
}  // namespace mps::testing
