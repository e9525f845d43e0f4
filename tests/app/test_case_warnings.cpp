// The warnings about a case's pulses as a user meets them: on standard
// error as the run starts, in summary.json, and from --check (text and
// JSON).  The run still runs.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "app/run_folder.hpp"

namespace mps::testing {
namespace {

// Pulses a valid case lets through but that cannot do their part: the run
// still runs, and each is named on standard error at its start, in
// summary.json's warnings, and by --check in text and JSON.
TEST(Program, DoubtfulPulsesAreNamedEverywhere) {
  const std::pair<std::string, std::string> cases[] = {
      // The 10 steps of the short quickstart end long before its pulse.
      {short_quickstart(),
       "pulse 1 peaks at 90.0873 fs after the run's last step (step 10 at 8.3391e-17 s)"},
      {replace_line(short_quickstart(), 38, "1 3 950000 50 0 0 2.0e8 1 0 10 0 0"),
       "pulse 1 is 100 % off the nearest transition (950 mm against 955.022 nm)"},
  };
  for (const auto& [input, warning] : cases) {
    SCOPED_TRACE(warning);
    RunFolder run(input);
    ProgramResult r = run.run({"--check"});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\n warning   " + warning + "\n"), std::string::npos) << r.out;
    r = run.run({"--check", "--json"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("\"warnings\": [\"" + warning + "\"]"), std::string::npos) << r.out;
    EXPECT_EQ(run.written(), std::set<std::string>{});
    r = run.run();
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(r.err.starts_with("mps1d: warning: " + warning + "\n")) << r.err;
    const std::string summary = run.dir.read("Results/summary.json");
    EXPECT_NE(summary.find("\"warnings\": [\"" + warning + "\"]"), std::string::npos) << summary;
  }
}

// The examples' pulses peak inside their runs, at the transition; their
// records (0.29 and 0.73 ps) are short of the dots' free decay (T2 = 10 ps).
TEST(Program, ExamplesWarnOnlyOfTheirShortRecords) {
  const std::pair<const char*, std::string> cases[] = {
      {"quickstart", "201.781 fs"},
      {"microcavity", "553.676 fs"},
  };
  for (const auto& [name, after] : cases) {
    RunFolder run(example_input(name));
    const ProgramResult r = run.run({"--check", "--json"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("\"warnings\": [\"the record ends " + after +
                         " after pulse 1's peak, less than 3 T2 = 30 ps: its free decay is cut "
                         "off\"]\n"),
              std::string::npos)
        << name << r.out;
  }
}

}  // namespace
}  // namespace mps::testing
