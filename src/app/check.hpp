#pragma once
// mps1d --check: the case read and validated as a run would, and what the
// run would be and write, without writing anything.
#include <cstdint>
#include <iosfwd>
#include <string>

#include "input/input_reader.hpp"

namespace mps {

// The outline of a run of a valid case.
struct RunOutline {
  std::int64_t first_step = 0, last_step = 0;  // steps the run computes
  std::int64_t blocks = 0;
  std::int64_t snapshots = 0;  // snapshot steps (each writes every column file)
  std::int32_t dot_cells = 0;  // cells of the dot region z1..z2 that hold dots
  double memory_bytes = 0.0;   // the run's arrays, about
  std::int64_t files = 0;      // result files written (a replaced one counted once)
  double text_bytes = 0.0;     // their text before compression
};

RunOutline outline_run(const RunInput& input);

// The outline as lines of text for the console.
void print_outline(std::ostream& out, const RunInput& input, const RunOutline& outline);

// The case as JSON: every named input (value, unit, line, column and text
// of its token), the derived grid and time quantities, the outline and the
// result-file names; `folder_problem` says what keeps the folders from a run
// (empty: nothing).
void print_check_json(std::ostream& out, const RunInput& input, const RunOutline& outline,
                      const std::string& folder_problem);

}  // namespace mps
