#pragma once
// The time integration of a run: blocks of LL steps, each step advancing
// the field and the medium by one time step, with snapshots at step 1 and
// at every multiple of LL.
#include <iostream>

#include "field/field_state.hpp"
#include "input/input_reader.hpp"
#include "medium/medium_state.hpp"
#include "output/monitor_buffers.hpp"

namespace mps {

// Every array of the run, allocated once before the time loop starts.
struct RunArrays {
  FieldState field;
  MediumState medium;
  FieldCoefficients coeffs;
  MonitorBuffers monitors;
};

void allocate_run_arrays(const RunInput& input, RunArrays& arrays);

// Runs all blocks of the run; writes the block lines to `progress` and
// warnings (a file left uncompressed) to `warnings`.
void VCSELSUB(const RunInput& input, RunArrays& arrays, std::ostream& progress,
              std::ostream& warnings);
inline void VCSELSUB(const RunInput& input, RunArrays& arrays, std::ostream& progress) {
  VCSELSUB(input, arrays, progress, std::cerr);
}

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
