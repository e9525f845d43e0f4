#pragma once
// The time integration of a run: blocks of LL steps, each step advancing
// the field and the medium by one time step, with snapshots at step 1 and
// at every multiple of LL.
#include <iosfwd>

#include "input/input_reader.hpp"
#include "output/writer.hpp"
#include "simulation/monitors.hpp"
#include "simulation/simulation.hpp"

namespace mps {

// Everything of a run that lives across blocks.
struct RunState {
  Simulation sim;
  MonitorBuffers monitors;          // samples of the monitor cells, one row per step of a block
  bool restored = false;            // the stored state of J_final is in place
  std::string version = "unknown";  // of the program, for "summary.json"
  // Bytes of state copies the output threads may hold [bytes]; a snapshot
  // of a larger state is written from the live arrays before the loop goes on.
  std::size_t output_bound = BackgroundWriter::kDefaultBound;
};

RunState make_run_state(const RunInput& input);

// A continued run: both levels of step J_final from the continuation folder
// (the step is looked up in "point.txt" first).  Reads only; a stored state
// that cannot be read or used throws before anything is written.  Returns
// the restore's warnings.
std::vector<std::string> restore_run(const RunInput& input, RunState& run);

// Runs all blocks of the run; writes the block lines to `progress` and
// warnings (a file left uncompressed) to `warnings`.
void run_time_loop(const RunInput& input, RunState& run, std::ostream& progress,
                   std::ostream& warnings);

// Block bookkeeping of a run: first block number, block start and number of
// blocks, (Nt + LL - J_final) / LL.
struct BlockPlan {
  std::int64_t first_block = 1;
  std::int64_t first_start = 0;
  std::int64_t blocks = 0;
};
BlockPlan plan_blocks(std::int64_t Nt, std::int64_t LL, std::int64_t J_final);

// True at a snapshot step: every multiple of LL, and the first step of block 1.
inline bool is_snapshot_step(std::int64_t J, std::int64_t LL, std::int64_t block, std::int64_t Jb) {
  return J % LL == 0 || (block == 1 && J == Jb + 1);
}

}  // namespace mps
