// Reading "execdata.txt": values and derived constants of the quickstart
// input, the table rules, and the rejections of bad values and bad lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "input/input_reader.hpp"
#include "support/scratch_dir.hpp"

namespace mps {
namespace {

using Edits = std::vector<std::pair<int, std::string>>;

const std::string& quickstart() {
  static const std::string text = testing::example_input("quickstart");
  return text;
}

// The quickstart input with the given 1-based lines replaced; a replacement
// may hold several lines.
std::string variant(const Edits& edits) {
  std::string text = quickstart();
  for (const auto& [line, replacement] : edits)
    text = testing::replace_line(text, line, replacement);
  return text;
}

RunInput read(const std::string& text) { return read_execdata("/w/", "execdata.txt", text); }

TEST(InputQuickstart, ValuesAndDerivedConstants) {
  const RunInput in = read(quickstart());
  const RunParameters& p = in.params;
  EXPECT_EQ(in.dirs.results_dir, "Results/");
  EXPECT_EQ(in.dirs.discarded_dir, "DiscardedResults/");
  EXPECT_EQ(in.dirs.continue_dir, "Continue/");
  EXPECT_DOUBLE_EQ(p.transition_energy, 1.6e-19 * 1.3);
  EXPECT_DOUBLE_EQ(p.detuning, 1.6e-19 * 1.3 / 1.054571596e-34);
  EXPECT_DOUBLE_EQ(p.resonant_period, 1.986445494922679e-25 / (1.6e-19 * 1.3) / 299792458.0);

  // Transfer times: 2->1 recombination, spin flips 1->3, 3->1, 2->4, 4->2;
  // the T13..T15 checks take in the last two.
  EXPECT_EQ(p.tau(2, 1), 1.0e-9);
  EXPECT_EQ(p.tau(1, 3), 5.0e-10);
  EXPECT_EQ(p.tau(2, 4), 2.0e-10);
  EXPECT_DOUBLE_EQ(p.T[13], 4.0 / 9.0e9);
  EXPECT_DOUBLE_EQ(p.T[14], 12.0 / 23.0e9);
  EXPECT_DOUBLE_EQ(p.T[15], 6.0 / 23.0e9);
  EXPECT_EQ(p.dipole, 6.4e-29);

  const Pulse& q = p.pulse;
  EXPECT_DOUBLE_EQ(q.wavelength, 0.955022e-6);
  EXPECT_DOUBLE_EQ(q.duration, 50e-15);
  EXPECT_DOUBLE_EQ(q.delay, 160e-15);
  EXPECT_EQ(q.tau, q.duration / 1.6651092767715454);
  EXPECT_DOUBLE_EQ(q.angular_frequency, 299792458.0 / 0.955022e-6 * 6.2831854820251465);
  EXPECT_EQ(q.delay_ratio, 3);  // 160 fs / 50 fs, truncated

  EXPECT_EQ(p.LL, 5000);
  EXPECT_EQ(p.Nt, 30000);
  EXPECT_EQ(p.iteration_limit, 20);
  EXPECT_EQ(p.tolerance, 1.0e-12);
  EXPECT_EQ(p.monitor_cells, (std::vector<std::int32_t>{1, 150, 310, 619}));
  EXPECT_EQ(p.dz, 5.0e-9);
  EXPECT_EQ(p.dt, 0.5 * 5.0e-9 / 299792458.0);

  const StructureProfile& s = in.structure;
  EXPECT_EQ(s.NZ, 620);
  EXPECT_EQ(s.cavity_left, 100);
  EXPECT_EQ(s.cavity_right, 520);
  EXPECT_EQ(s.z1, 301);  // the 20 dot cells centred in the 420-cell cavity
  EXPECT_EQ(s.z2, 320);
}

TEST(InputQuickstart, ScaleFactorsAndRowOrderOfDephasingTimes) {
  const RunParameters p = read(variant({{20, "3.0"},
                                        {26, "2.0"},
                                        {27, "0\t1\t2\t3"},
                                        {28, "4\t0\t5\t6"},
                                        {29, "7\t8\t0\t9"},
                                        {30, "10\t11\t12\t0"}}))
                              .params;
  EXPECT_DOUBLE_EQ(p.tau(2, 1), 3.0e-9);
  EXPECT_DOUBLE_EQ(p.T[13], 12.0 / 9.0e9);
  for (int k = 1; k <= 12; ++k) EXPECT_EQ(p.T[static_cast<std::size_t>(k)], 2.0 * k) << k;
}

TEST(InputFolders, TextBeforeHashWithTrailingBlanksRemoved) {
  const RunInput in =
      read(variant({{1, "/data/run 1   # results"}, {2, "Discarded   "}, {3, "C#x"}}));
  EXPECT_EQ(in.dirs.results_dir, "/data/run 1/");
  EXPECT_EQ(in.dirs.discarded_dir, "Discarded/");
  EXPECT_EQ(in.dirs.continue_dir, "C/");
  EXPECT_THROW(read(variant({{2, "   # nothing before the hash"}})), ParameterError);
}

TEST(InputTables, FieldCountsDecideWhatARowFills) {
  struct Case {
    const char* name;
    Edits edits;
    double tau22, tau24;
  };
  const Case cases[] = {
      {"tab-separated row fills four entries", {{22, "1.0e-9\t7\t0\t2.0e-10"}}, 7.0, 2.0e-10},
      {"blank-separated row fills only the first", {{22, "1.0e-9 7 0 2.0e-10"}}, 0.0, 0.0},
      {"extra values and rows are ignored",
       {{22, "1.0e-9\t7\t0\t2.0e-10\t9\t9"}, {24, "0\t2.0e-10\t0\t0\n9\t9\t9\t9\t9"}},
       7.0,
       2.0e-10},
      {"an unreadable value leaves the rest unset", {{22, "1.0e-9\tx\t7\t7"}}, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.tau24 == 0.0) {
      // tau(2,4) left at 0 makes T13 = 0: a time the model divides by.
      EXPECT_THROW(read(variant(c.edits)), ParameterError);
      continue;
    }
    const RunParameters p = read(variant(c.edits)).params;
    EXPECT_EQ(p.tau(2, 1), 1.0e-9);
    EXPECT_EQ(p.tau(2, 2), c.tau22);
    EXPECT_EQ(p.tau(2, 4), c.tau24);
    EXPECT_EQ(p.tau(4, 2), 2.0e-10);
  }
  // A label followed by a TAB counts as a field; a trailing comment then
  // ends the row without taking the next line.
  const RunParameters p = read(variant({{12, "spin_up\t1   # up"}})).params;
  ASSERT_EQ(p.label_table.size(), 2u);
  EXPECT_EQ(p.label_table[0].values[0], 1);
  EXPECT_EQ(p.label_table[1].label, "spin_dn");
}

TEST(InputLevels, UnitOfFirstRowSetsTransitionEnergy) {
  EXPECT_DOUBLE_EQ(read(variant({{6, "trans_12 1.3 1"}})).params.transition_energy,
                   1.6e-19 * 1.3e-3);
  // An unknown code keeps the factor of the row before: 0 for the first row,
  // which leaves no transition energy and no resonant wavelength.
  EXPECT_THROW(read(variant({{6, "trans_12 1.3 5"}})), ParameterError);
}

TEST(InputSampling, UserCellsSitBetweenTheTwoEndCells) {
  // No user cells: the skipped line, the spatial line and two layer rows move
  // up by two lines; the quickstart rows follow them as more layers.
  const RunInput none = read(variant({{53, "0 monitor_cells"},
                                      {54, "# skipped"},
                                      {55, "5.0e-9 2 4"},
                                      {56, "100 0 1.0 0 0 0 0 0 0 0"},
                                      {57, "200 0 3.5 0 0 0 0 0 0 0"}}));
  EXPECT_EQ(none.structure.NZ, 920);
  EXPECT_EQ(none.params.monitor_cells, (std::vector<std::int32_t>{1, 919}));

  std::string cells = "5";
  for (int k = 2; k <= 97; ++k) {
    cells += '\n';
    cells += std::to_string(k);
  }
  const RunParameters full = read(variant({{53, "98 monitor_cells"}, {54, cells}})).params;
  ASSERT_EQ(full.n_monitor, 100);
  EXPECT_EQ(full.monitor_cells[1], 5);
  EXPECT_EQ(full.monitor_cells[97], 97);
  EXPECT_EQ(full.monitor_cells[98], 310);
  EXPECT_EQ(full.monitor_cells[99], 619);
}

// Every rejected value: the input line(s) replaced and the message expected.
TEST(InputRejections, BadValuesRaiseParameterErrorNamingThem) {
  struct Case {
    Edits edits;
    std::string message;
  };
  const Case cases[] = {
      {{{4, "3"}}, "n_levels = 3"},
      {{{6, "a 1.0 0"}, {8, "b 1000 1"}},
       " Energy levels need to be degenerate: two coupled two-level systems"},
      {{{7, "split_13 0.1 0"}}, " Select zero energy separation between levels 1 and 3"},
      {{{15, "0\t0\t0\t0"}}, "Select 1->2 and 2->1 transitions"},
      {{{15, "0 1 0 0"}}, "Select 1->2 and 2->1 transitions"},  // one field: (1,2) stays 0
      {{{17, "0\t0\t0\t0"}}, "Select 3->4 and 4->3 transistions"},
      {{{16, "1\t0\t1\t1"}}, "Deselect 2->4 transition"},
      {{{16, "1\t0\t1\t0"}}, "Deselect 2->3 transition"},
      {{{15, "0\t1\t1\t1"}}, "Deselect 1->3 transition"},
      {{{15, "0\t1\t0\t1"}}, "Deselect 1->4 transition"},
      {{{32, "0\t0\t0\t0"}}, "Set dipole moment for 1->2 transition"},
      {{{34, "0\t0\t0\t0"}}, "Set dipole moment for 3->4 transition"},
      {{{33, "6.4e-29\t0\t1e-30\t1e-30"}}, "Set 0.0 dipole moment for 2->3 transition"},
      {{{33, "6.4e-29\t0\t0\t1e-30"}}, "Set 0.0 dipole moment for 2->4 transition"},
      {{{32, "0\t6.4e-29\t1e-30\t0"}}, "Set 0.0 dipole moment for 1->3 transition"},
      {{{34, "0\t0\t1e-30\t6.4e-29"}}, "Set 0.0 dipole moment for 3->3 transition"},
      {{{35, "0\t0\t6.4e-29\t1e-30"}}, "Set 0.0 dipole moment for 4->4 transition"},
      {{{37, "2"}}, "num pulses = 2"},
      {{{38, "1 2 0.955022 50 2 0 2.0e8 1 0 10 160 0"}}, "pulse shape 2"},
      {{{38, "1 3 0.955022 50 7 0 2.0e8 1 0 10 160 0"}}, "pulse shape 3"},
      {{{38, "1 3 0.955022 1 0 0 2.0e8 1 0 10 1e10 2"}}, "delay / duration does not fit"},
      {{{38, "1 3 0.955022 1e6 1 0 2.0e8 1 0 10 0 0"}}, "duration in steps does not fit"},
      {{{38, "1 3 0.955022 1 1 0 2.0e8 1 0 10 1e5 2"}}, "centre step"},
      {{{38, "1 3 0.955022 50 0 0 2.0e8 1 0 -1 160 0"}}, "origin outside 0..NZ: -1"},
      {{{38, "1 3 0.955022 50 0 0 2.0e8 1 0 621 160 0"}}, "origin outside 0..NZ: 621"},
      {{{46, "Courant number 0 S"}}, "Courant number"},
      {{{46, "Courant number -0.5 S"}}, "Courant number"},
      {{{47, "steps between two spatial dumps LL 0 steps"}}, "LL = 0"},
      {{{49, "continue from stored step J_final -5000 -"}}, "J_final = -5000"},
      {{{49, "continue from stored step J_final 2500 -"}}, "J_final = 2500, LL = 5000"},
      {{{50, "total number of time steps -1 -"}}, "Nt = -1"},
      {{{53, "99 monitor_cells"}}, ": 99"},
      {{{54, "0"}}, "outside 1..NZ: 0"},
      {{{55, "621"}}, "outside 1..NZ: 621"},
      {{{57, "0.0 2 4"}}, "dz = 0"},
      {{{60, "-20 0 3.5 0 -0.5 0.5 -1 -0.5 0.5 -1"}}, "layer 3: -20"},
      {{{57, "5.0e-9 1 1"}, {58, "1 0 1.0 0 0 0 0 0 0 0"}}, "NZ = 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edits.front().second);
    try {
      read(variant(c.edits));
      ADD_FAILURE() << "accepted";
    } catch (const ParameterError& e) {
      const std::string what = e.what();
      if (c.message.front() == ' ' || c.message.find("->") != std::string::npos) {
        EXPECT_EQ(what, c.message);  // messages shown to the user verbatim
      } else {
        EXPECT_NE(what.find(c.message), std::string::npos) << what;
      }
    }
  }
}

TEST(InputRejections, LimitValuesAreAccepted) {
  const Edits accepted[] = {
      {{38, "1 3 0.955022 50 0 0 2.0e8 1 0 0 160 0"}},    // origin 0
      {{38, "1 3 0.955022 50 0 0 2.0e8 1 0 620 160 0"}},  // origin NZ
      {{55, "620"}},                                      // sampling cell NZ
      {{49, "continue from stored step J_final 10000 -"}},
      {{50, "total number of time steps 0 -"}},
  };
  for (const Edits& e : accepted) EXPECT_NO_THROW(read(variant(e))) << e.front().second;

  // Duration unit 2 is no unit: a zero duration, allowed for a cw pulse.
  const Pulse q = read(variant({{38, "1 1 0.955022 50 2 0 2.0e8 1 0 10 160 0"}})).params.pulse;
  EXPECT_EQ(q.duration, 0.0);
  EXPECT_EQ(q.tau, 0.0);
  EXPECT_EQ(q.delay_ratio, 0);
  // 180 fs / 50 fs = 3.6: the delay multiple is truncated.
  EXPECT_EQ(
      read(variant({{38, "1 3 0.955022 50 0 0 2.0e8 1 0 10 0.18 1"}})).params.pulse.delay_ratio, 3);
}

TEST(InputReadErrors, LabelNamesTheSectionBeingRead) {
  struct Case {
    int line;
    const char* text;
    const char* label;
  };
  const Case cases[] = {
      {4, "four", ""},
      {11, "dense", " Density atom "},
      {20, "x", " Scale factor long"},
      {26, "x", " scale factor transf"},
      {37, "one", " num pulses"},
      {38, "1 3 0.955022 fifty 0", " Error reading pulse parameters"},
      {41, "left 1", " "},
      {46, "Courant number half S", " "},
      {57, "dz 2 4", " "},
      {60, "20 0 n 0 0 0 0 0 0 0", " "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      read(variant({{c.line, c.text}}));
      ADD_FAILURE() << "accepted";
    } catch (const ReadError& e) {
      EXPECT_EQ(e.label(), c.label);
    }
  }
}

TEST(InputReadErrors, FileEndingInsideATableIsAReadError) {
  const std::vector<std::string> lines = testing::split_lines(quickstart());
  for (const int last : {8, 13, 17, 23, 29, 34}) {
    std::string text;
    for (int k = 0; k < last; ++k) text += lines[static_cast<std::size_t>(k)] + '\n';
    EXPECT_THROW(read(text), ReadError) << "cut after line " << last;
  }
}

}  // namespace
}  // namespace mps
