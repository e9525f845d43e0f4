// Pulses a valid case lets through but that cannot do what they are there
// for: each is named in a warning, the run still runs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "input/input_reader.hpp"
#include "input/pulse_warnings.hpp"
#include "support/scratch_dir.hpp"

namespace mps {
namespace {

using Edits = std::vector<std::pair<int, std::string>>;
using Warnings = std::vector<std::string>;

// The quickstart (its run ends at step 35000, 291.869 fs; the pulse peaks
// at 90.088 fs) with the given lines replaced.
std::vector<std::string> warnings_of(const Edits& edits, bool both_transitions = false) {
  std::string text = testing::example_input("quickstart");
  for (const auto& [line, replacement] : edits)
    text = testing::replace_line(text, line, replacement);
  RunInput in = read_execdata("/w/", "execdata.txt", text);
  in.params.both_transitions = both_transitions;
  return pulse_warnings(in);
}

// A pulse line of the quickstart's Gaussian with other fields.
std::string pulse(const std::string& shape, const std::string& wavelength,
                  const std::string& amplitude, const std::string& polarisation,
                  const std::string& delay) {
  return "1 " + shape + " " + wavelength + " 50 0 0 " + amplitude + " " + polarisation + " 0 10 " +
         delay + " 0";
}

// Dephasing of 10 fs: the record is long enough for the free decay.
const std::pair<int, std::string> kShortT2 = {26, "0.001"};
const std::string kLate =
    "pulse 1 peaks at 300.291 fs after the run's last step (step 35000 at "
    "291.869 fs)";
const std::string kCutOff =
    "the record ends 201.781 fs after pulse 1's peak, less than 3 T2 = 30 ps: its free decay is "
    "cut off";

TEST(PulseWarnings, EachPulseThatCannotDoItsPartIsNamed) {
  const std::string at = "0.955022";
  struct Case {
    Edits edits;
    Warnings expected;
  };
  const Case cases[] = {
      {{kShortT2}, {}},
      // Peaks after the end (delay 10 FWHM), its front inside the run.
      {{kShortT2, {38, pulse("3", at, "2.0e8", "1", "500")}}, {kLate}},
      // Entirely after the end, or without amplitude or noise.
      {{kShortT2, {38, pulse("3", at, "2.0e8", "1", "1000")}}, {"pulse 1 injects nothing"}},
      {{kShortT2, {38, pulse("2", at, "2.0e8", "1", "400")}}, {"pulse 1 injects nothing"}},
      {{kShortT2, {38, pulse("3", at, "0", "1", "160")}}, {"pulse 1 injects nothing"}},
      {{kShortT2, {38, "1 5 0.955022 50 0 0 2.0e8 1 0 0 160 0"}}, {"pulse 1 injects nothing"}},
      {{kShortT2, {38, "1 5 95 50 0 0 2.0e8 1 1e-3 0 160 0"}}, {}},
      // A continuous wave has no peak and injects from the first step.
      {{kShortT2, {38, pulse("1", at, "2.0e8", "1", "1000")}}, {}},
      // 950 mm, and 20.4 % (1.2 um) or 16.2 % (1.14 um) off 1.3 eV.
      {{kShortT2, {38, pulse("3", "950000", "2.0e8", "1", "160")}},
       {"pulse 1 is 100 % off the nearest transition (950 mm against 955.022 nm)"}},
      {{kShortT2, {38, pulse("3", "1.2", "2.0e8", "1", "160")}},
       {"pulse 1 is 20.4 % off the nearest transition (1.2 um against 955.022 nm)"}},
      {{kShortT2, {38, pulse("3", "1.14", "2.0e8", "1", "160")}}, {}},
      // Without dots (no dot layer, or no density) nothing is far from them.
      {{kShortT2, {38, pulse("3", "950000", "2.0e8", "1", "160")}, {60, "20 0 3.5 0 0 0 0 0 0 0"}},
       {}},
      {{kShortT2, {38, pulse("3", "950000", "2.0e8", "1", "160")}, {11, "0"}}, {}},
      // The quickstart's own T2 of 10 ps.
      {{}, {kCutOff}},
      {{{60, "20 0 3.5 0 0 0 0 0 0 0"}}, {}},
      // Each pulse by its number.
      {{kShortT2,
        {37, "2"},
        {38, pulse("3", at, "2.0e8", "1", "160") + "\n" + pulse("3", at, "1.0e8", "1", "500")}},
       {"pulse 2" + kLate.substr(7)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edits.empty() ? "quickstart" : c.edits.back().second);
    EXPECT_EQ(warnings_of(c.edits), c.expected);
  }
}

// With both transitions 3<->4 counts as well: at level 3's energy in its
// row's unit, with the dephasing of its coherence (T6, T12), the one sigma-
// light drives.
TEST(PulseWarnings, BothTransitionsAddThreeFour) {
  const Edits meV = {
      kShortT2, {8, "trans_34 1.3 1"}, {38, pulse("3", "955.022", "2.0e8", "1", "160")}};
  EXPECT_EQ(
      warnings_of(meV, false),
      Warnings{"pulse 1 is 99.9 % off the nearest transition (955.022 um against 955.022 nm)"});
  EXPECT_EQ(warnings_of(meV, true), Warnings{});

  const Edits long34 = {{27, "0\t1e-14\t1e-14\t1e-14"},
                        {28, "1e-14\t0\t1e-14\t1e-11"},
                        {29, "1e-14\t1e-14\t0\t1e-14"},
                        {30, "1e-14\t1e-14\t1e-11\t0"}};
  struct Case {
    const char* polarisation;
    bool both;
    Warnings expected;
  };
  const Case cases[] = {{"4", true, {kCutOff}}, {"3", true, {}}, {"4", false, {}}};
  for (const Case& c : cases) {
    Edits edits = long34;
    edits.emplace_back(38, pulse("3", "0.955022", "2.0e8", c.polarisation, "160"));
    EXPECT_EQ(warnings_of(edits, c.both), c.expected) << c.polarisation << " " << c.both;
  }
}

}  // namespace
}  // namespace mps
