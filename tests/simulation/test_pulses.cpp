// Several pulses: in a linear structure (no dots) the fields of two pulses
// are the sum of the fields each makes alone, with either source; pulse
// lines beyond the first are read and checked like the first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "input/checks.hpp"
#include "input/input_reader.hpp"
#include "simulation/run_folder.hpp"
#include "simulation/simulation.hpp"

namespace mps::testing {
namespace {

// Gaussians at cell 10: x light at the dots' resonance after 60 fs, and a
// shorter circular pulse of another colour after 100 fs.
const std::string kPump = "1 3 0.955022 30 0 0 2.0e8 1 0 10 60 0";
const std::string kProbe = "2 3 0.9 15 0 0 1.0e8 3 0 10 100 0";

// The quickstart without dots (density 0: a linear structure), with the
// given pulse lines, stepped `steps` times in process.
std::vector<double> fields_after(const std::vector<std::string>& pulses, SourceKind source,
                                 int steps) {
  ScratchDir dir;
  make_run_folders(dir);
  std::string text = replace_line(example_input("quickstart"), 11, "0.0");
  std::string lines;
  for (const std::string& p : pulses) lines.append(lines.empty() ? "" : "\n").append(p);
  text = replace_line(text, 38, lines);
  dir.write("execdata.txt", replace_line(text, 37, std::to_string(pulses.size())));
  RunInput in = prepare_run(dir.path());
  in.params.source = source;
  Simulation sim = make_simulation(in);
  for (int J = 1; J <= steps; ++J) step(sim, J);
  const auto nw = static_cast<std::size_t>(sim.field.new_level());
  std::vector<double> out = sim.field.Ex[nw];
  out.insert(out.end(), sim.field.Ey[nw].begin(), sim.field.Ey[nw].end());
  return out;
}

TEST(Pulses, TwoPulsesInALinearStructureAddUp) {
  for (const SourceKind source : {SourceKind::hard, SourceKind::transparent}) {
    SCOPED_TRACE(source == SourceKind::hard ? "hard" : "transparent");
    constexpr int kSteps = 12000;  // both pulses inside the grid, the first reflected
    const std::vector<double> both = fields_after({kPump, kProbe}, source, kSteps);
    const std::vector<double> pump = fields_after({kPump}, source, kSteps);
    const std::vector<double> probe = fields_after({kProbe}, source, kSteps);
    double largest = 0.0, error = 0.0;
    for (std::size_t i = 0; i < both.size(); ++i) {
      largest = std::max(largest, std::fabs(both[i]));
      error = std::max(error, std::fabs(both[i] - (pump[i] + probe[i])));
    }
    EXPECT_GT(largest, 1e7);
    EXPECT_LT(error, 1e-12 * largest);
  }
}

TEST(Pulses, FurtherPulseLinesAreCheckedByNumber) {
  ScratchDir dir;
  make_run_folders(dir);
  const std::string text = example_input("quickstart");
  const auto rejected = [&](const std::string& count, const std::string& lines,
                            const std::string& message) {
    dir.write("execdata.txt", replace_line(replace_line(text, 38, lines), 37, count));
    try {
      check_values(prepare_run(dir.path()));
      ADD_FAILURE() << lines;
    } catch (const ParameterError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  };
  rejected("0", kPump, "The number of pulses must be 1 to 16: num pulses = 0");
  rejected("2", kPump + "\n2 3 0.9 15 0 0 1.0e8 3 0 9999 100 0", "Pulse 2 origin outside");
  rejected("2", kPump + "\n2 2 0.9 15 0 0 1.0e8 3 0 10 100 0",
           "The circular secant pulse 2 holds the field");
}

}  // namespace
}  // namespace mps::testing
