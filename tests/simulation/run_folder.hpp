#pragma once
// Whole runs for the tests of this folder: the run folders, an input of
// the quickstart with a continuous wave, a run through run_time_loop in
// process, and result files compared number by number.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "simulation/time_loop.hpp"
#include "support/numbers.hpp"
#include "support/scratch_dir.hpp"

namespace mps::testing {

inline void make_run_folders(const ScratchDir& dir) {
  for (const char* f : {"Results", "DiscardedResults", "Continue"}) dir.make_dir(f);
}

// The quickstart with a circular 0.2 um continuous wave from `origin` (both
// field pairs move from the first step), the given LL, Nt and monitor cells,
// and, when given, other layer rows (the cavity: layer 2).
inline std::string cw_input(std::int64_t LL, std::int64_t Nt, const std::string& origin,
                            const std::vector<std::string>& monitors,
                            const std::vector<std::string>& layers = {}) {
  std::vector<std::string> lines = split_lines(example_input("quickstart"));
  lines[37] = "1 1 0.2 50 0 0 1.0e8 4 0 " + origin + " 0 0";
  lines[46] = "steps between two spatial dumps LL " + std::to_string(LL) + " steps";
  lines[49] = "total number of time steps " + std::to_string(Nt) + " -";
  std::vector<std::string> rows(lines.begin() + 55, lines.end());  // the comment, dz, the layers
  if (!layers.empty()) {
    rows = {rows[0], "5.0e-9 2 2"};
    rows.insert(rows.end(), layers.begin(), layers.end());
  }
  lines.resize(52);
  lines.push_back(std::to_string(monitors.size()) + " monitor_cells");
  lines.insert(lines.end(), monitors.begin(), monitors.end());
  lines.insert(lines.end(), rows.begin(), rows.end());
  std::string text;
  for (const auto& l : lines) text += l + '\n';
  return text;
}

// A run of an input text through run_time_loop in a scratch folder.
struct LoopRun {
  ScratchDir root;
  RunInput in;
  std::string progress, warnings;
  LoopRun() { make_run_folders(root); }

  RunState run(const std::string& text,
               std::size_t output_bound = BackgroundWriter::kDefaultBound) {
    in = read_execdata(root.path(), root.file("execdata.txt"), text);
    in.dirs.results_dir = root.file("Results/");
    in.dirs.discarded_dir = root.file("DiscardedResults/");
    in.dirs.continue_dir = root.file("Continue/");
    RunState state = make_run_state(in);
    state.output_bound = output_bound;
    std::ostringstream out, err;
    run_time_loop(in, state, out, err);
    progress = out.str();
    warnings = err.str();
    return state;
  }
};

// Largest difference of two texts number by number, and the largest finite
// magnitude of the expected one; words that are not numbers, NaN, and the
// number of lines and words must match.
struct NumberDifference {
  double diff = 0.0;
  double scale = 0.0;
};

inline NumberDifference number_difference(const std::string& expected, const std::string& actual,
                                          const std::string& name) {
  const auto le = split_lines(expected), la = split_lines(actual);
  EXPECT_EQ(le.size(), la.size()) << name;
  NumberDifference d;
  for (std::size_t i = 0; i < le.size() && i < la.size(); ++i) {
    std::istringstream se(le[i]), sa(la[i]);
    std::string we, wa;
    while (se >> we) {
      if (!(sa >> wa)) {
        ADD_FAILURE() << name << ": line " << i + 1 << " is shorter";
        break;
      }
      double x = 0.0, y = 0.0;
      if (parse_number(we, x) && parse_number(wa, y)) {
        if (std::isfinite(x)) d.scale = std::max(d.scale, std::fabs(x));
        EXPECT_EQ(std::isnan(x), std::isnan(y)) << name << ": line " << i + 1;
        if (x != y && !std::isnan(x)) d.diff = std::max(d.diff, std::fabs(x - y));
      } else {
        EXPECT_EQ(we, wa) << name << ": line " << i + 1;
      }
    }
    EXPECT_FALSE(static_cast<bool>(sa >> wa)) << name << ": line " << i + 1 << " is longer";
  }
  return d;
}

}  // namespace mps::testing
