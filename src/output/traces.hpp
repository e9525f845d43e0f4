#pragma once
// Time traces at the monitor cells: the block traces written at every
// snapshot step, and the running statistics written every statistics
// interval.
//
// Monitor k = 1 and k = M (the cells 1 and NZ-1) give the "time1_" and
// "time2_" files of Ex and Ey; every other monitor k gives six files of Ex,
// Ey and the populations rho11..rho44, named after its cell.  Fields are
// written divided by the field scale E0, populations as they are.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "input/input_reader.hpp"
#include "output/file_tasks.hpp"
#include "textio/text_file.hpp"

namespace mps {

// The samples of the monitor cells over a block, as the traces read them:
// quantity q (0 Ex, 1 Ey [V/m]; 2..5 rho11..rho44) of monitor k = 1..M in
// row r (step Jb + r; row 0 the step before the block) is
// quantity[q][k * rows + r].
struct MonitorSamples {
  std::int32_t M = 0;
  std::int64_t rows = 0;
  std::array<std::span<const double>, 6> quantity;
  double at(int q, std::int32_t k, std::int64_t r) const {
    return quantity[static_cast<std::size_t>(q)]
                   [static_cast<std::size_t>(k) * static_cast<std::size_t>(rows) +
                    static_cast<std::size_t>(r)];
  }
};

// The time column of step s in femtoseconds: s dt 1e15, with 1e15 taken in
// single precision (999999986991104) as the result files always had it.
double trace_time_fs(std::int64_t s, double dt);

// --trace-every=N keeps the steps that are multiples of N in the traces
// (whole-run multiples, so that blocks and continued runs agree).  The
// first row r > 0 of a block starting at Jb that is kept (rows r, r + N, ...),
// and the number of kept steps after..last.
std::int64_t first_kept_row(std::int64_t Jb, std::int64_t every);
std::int64_t kept_steps(std::int64_t after, std::int64_t last, std::int64_t every);

// The kept samples must resolve the pulses' carriers: N dt at most a
// quarter of the shortest carrier period (sampling at twice the carrier's
// Nyquist rate leaves room for the pulse's band); FatalMessage otherwise.
void check_trace_every(const RunInput& in);

struct TraceInput {
  std::int64_t J = 0;      // snapshot step
  std::int64_t Jb = 0;     // block start: the block's rows are J - Jb = 1..d
  std::int64_t every = 1;  // the rows of the steps that are multiples of it
  double dt = 0.0;
  double E0 = 1.0;
  std::vector<std::int32_t> monitor_cells;  // mon(1..M) at [0..M-1]
  // The samples, shared by the tasks: a view whose owner also owns the
  // buffers it points into (an aliasing pointer into a copy), or a view of
  // live buffers for tasks that finish before the caller goes on (borrow()).
  std::shared_ptr<const MonitorSamples> samples;
  std::string folder;                                // results folder
  textio::Storage storage = textio::Storage::plain;  // the files plain or compressed
};

// The block traces of the steps Jb+1 .. J, one line per kept step (time
// and value, two E23.12 fields separated by two blanks); empty files when
// the block has no kept rows yet.  Written before it returns.
std::vector<std::string> write_block_traces(const TraceInput& in);
// The same as tasks, a file each, which share the samples.
FileTasks trace_tasks(const TraceInput& in);

// Running maximum, minimum and accumulated change of every monitored
// quantity since the last statistics line.  Quantities, in file order:
// monitor 1 Ex, Ey; monitor M Ex, Ey; then for k = 2..M-1 Ex, Ey, rho11,
// rho22, rho33, rho44.
// The statistics lines of a block, taken from the running statistics to be
// written later (on the output thread, which also formats them): per file,
// the maximum, minimum and change of each line.
struct StatisticsLines {
  std::vector<std::string> paths;
  std::vector<std::vector<double>> values;
  std::vector<std::array<std::int32_t, 2>> quantities;  // monitor k and kind of each file
};
// Writes them, each replacing its file (NAME.gz when compressed); returns
// the paths written.
std::vector<std::string> write_statistics(const StatisticsLines& lines,
                                          textio::Storage storage = textio::Storage::plain);
// The same as tasks, a file each, which own the lines.
FileTasks statistics_tasks(StatisticsLines lines, textio::Storage storage);

// "flux_<J>.dat" of a block: per step the time [fs] and the Poynting flux
// toward +z next to the left and the right end [W/m^2], three E23.12
// fields; `rows` holds them in that order.  Returns the path written.
std::string write_flux_records(const std::string& folder, std::int64_t J,
                               const std::vector<double>& rows,
                               textio::Storage storage = textio::Storage::plain);

class RunningStatistics {
 public:
  RunningStatistics() = default;
  RunningStatistics(const std::vector<std::int32_t>& monitor_cells, double E0);

  // Takes row r of the samples (row r - 1 is the value before it).
  void update(const MonitorSamples& samples, std::int64_t r);
  // Adds one line to every statistics file of block label B (kept in
  // memory until flush) and resets the statistics.
  void record(const std::string& block_label);
  // Writes the recorded lines of the block into its files in `folder` and
  // forgets them; returns the paths written.  A block's lines are written
  // once, at its end, and replace a file of the same name (left by a run
  // that stopped in that block).
  std::vector<std::string> flush(const std::string& folder,
                                 textio::Storage storage = textio::Storage::plain);
  // The recorded lines with the paths of their files in `folder`; forgets them.
  StatisticsLines take(const std::string& folder);
  // Names of the statistics files of a block, in file order.
  std::vector<std::string> file_names(const std::string& block_label) const;

  static constexpr double kResetMax = -1e99;
  static constexpr double kResetMin = 1e99;

 private:
  struct Quantity {
    std::int32_t monitor = 0;  // k
    int kind = 0;              // 0 Ex, 1 Ey, 2..5 rho11..rho44
    int family = 0;            // 1 "time1_", 2 "time2_", 0 per-point files
    double max = kResetMax, min = kResetMin, change = 0.0;
  };
  std::vector<Quantity> quantities_;
  std::vector<std::int32_t> cells_;
  double E0_ = 1.0;
  std::string block_label_;  // label of the recorded lines
  // Lines not yet in their files, per quantity: max, min, change of each.
  std::vector<std::vector<double>> pending_;
};

}  // namespace mps
