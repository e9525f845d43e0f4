// Reading "execdata.txt": values and derived constants of the quickstart
// input, the table rules, and the rejections of bad values and bad lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// The value read under `name`; a failure when there is none.
NamedInput named(const RunInput& in, const std::string& name) {
  for (const NamedInput& n : in.named)
    if (n.name == name) return n;
  ADD_FAILURE() << "no input named " << name;
  return NamedInput{};
}

bool has_name(const RunInput& in, const std::string& name) {
  return std::any_of(in.named.begin(), in.named.end(),
                     [&](const NamedInput& n) { return n.name == name; });
}

RunInput read(const std::string& text, std::vector<std::string>& warnings) {
  return read_execdata("/w/", "execdata.txt", text, Model::corrected, &warnings);
}

TEST(InputQuickstart, ValuesAndDerivedConstants) {
  const RunInput in = read(quickstart());
  const RunParameters& p = in.params;
  const StructureProfile& s = in.structure;
  EXPECT_EQ(in.dirs.results_dir, "Results/");
  EXPECT_EQ(in.dirs.discarded_dir, "DiscardedResults/");
  EXPECT_EQ(in.dirs.continue_dir, "Continue/");
  EXPECT_DOUBLE_EQ(p.transition_energy, 1.6e-19 * 1.3);
  EXPECT_DOUBLE_EQ(p.detuning, 1.6e-19 * 1.3 / 1.054571596e-34);
  EXPECT_DOUBLE_EQ(p.resonant_period, 1.986445494922679e-25 / (1.6e-19 * 1.3) / 299792458.0);

  // T13..T15 of the rate equations (every channel at its rate); legacy: half these rates.
  EXPECT_EQ(p.tau(2, 1), 1.0e-9);
  EXPECT_EQ(p.tau(1, 3), 5.0e-10);
  EXPECT_EQ(p.tau(2, 4), 2.0e-10);
  EXPECT_DOUBLE_EQ(p.T[13], 2.0 / 9.0e9);
  EXPECT_DOUBLE_EQ(p.T[14], 6.0 / 23.0e9);
  EXPECT_DOUBLE_EQ(p.T[15], 3.0 / 23.0e9);
  const RunParameters legacy =
      read_execdata("/w/", "execdata.txt", quickstart(), Model::legacy).params;
  EXPECT_DOUBLE_EQ(legacy.T[13], 4.0 / 9.0e9);
  EXPECT_DOUBLE_EQ(legacy.T[14], 12.0 / 23.0e9);
  EXPECT_DOUBLE_EQ(legacy.T[15], 6.0 / 23.0e9);
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
  EXPECT_EQ(s.dz, 5.0e-9);
  EXPECT_EQ(s.dt, 0.5 * 5.0e-9 / 299792458.0);
  // The 20 dot cells centred in the 420-cell cavity.
  EXPECT_EQ((std::array{s.NZ, s.cavity_left, s.cavity_right, s.z1, s.z2}),
            (std::array{620, 100, 520, 301, 320}));
}

TEST(InputQuickstart, UnitsScaleFactorsAndRowOrderOfDephasingTimes) {
  // The unit of the first level row sets the transition energy.
  EXPECT_DOUBLE_EQ(read(variant({{6, "trans_12 1.3 1"}})).params.transition_energy,
                   1.6e-19 * 1.3e-3);
  const RunParameters p = read(variant({{20, "3.0"},
                                        {26, "2.0"},
                                        {27, "0\t1\t2\t3"},
                                        {28, "4\t0\t5\t6"},
                                        {29, "7\t8\t0\t9"},
                                        {30, "10\t11\t12\t0"}}))
                              .params;
  EXPECT_DOUBLE_EQ(p.tau(2, 1), 3.0e-9);
  EXPECT_DOUBLE_EQ(p.T[13], 6.0 / 9.0e9);
  for (int k = 1; k <= 12; ++k) EXPECT_EQ(p.T[static_cast<std::size_t>(k)], 2.0 * k) << k;
}

// The examples and the inputs of the golden runs read as they always have,
// without a warning.
TEST(InputExamples, ReadWithoutWarnings) {
  for (const char* name : {"quickstart", "microcavity"}) {
    std::vector<std::string> warnings;
    read(testing::example_input(name), warnings);
    EXPECT_EQ(warnings, std::vector<std::string>{}) << name;
  }
  for (const char* name : {"quickstart", "microcavity", "graded_dots", "graded_dots_legacy"}) {
    std::vector<std::string> warnings;
    read(testing::read_any(std::string(MPS_TEST_DATA) + "/golden/" + name + "/execdata.txt"),
         warnings);
    EXPECT_EQ(warnings, std::vector<std::string>{}) << name;
  }

  const RunInput in = read(testing::example_input("microcavity"));
  EXPECT_EQ(std::get<std::string>(named(in, "label.2.name").value), "spin_dn");
  EXPECT_EQ(std::get<std::int64_t>(named(in, "label.2.2").value), 4);
  EXPECT_FALSE(has_name(in, "label.3.name"));
  EXPECT_EQ(in.params.pulse.polarisation, Polarisation::circular);
  EXPECT_EQ(in.params.monitor_cells, (std::vector<std::int32_t>{1, 1000, 1278, 2000, 3025}));
  const StructureProfile& s = in.structure;
  EXPECT_EQ((std::array{s.layer_count(), s.NZ, s.cavity_left, s.cavity_right, s.z1, s.z2}),
            (std::array{75, 3026, 1210, 1346, 1274, 1283}));
}

// Every value is known by its name, at the line and column of its token;
// a value given by a repeat count has no token of its own.
TEST(InputNames, EveryValueNamedWhereItStands) {
  for (const char* name : {"quickstart", "microcavity"}) {
    const std::string text = testing::example_input(name);
    const std::vector<std::string> lines = testing::split_lines(text);
    const RunInput in = read(text);
    for (const NamedInput& n : in.named) {
      ASSERT_NE(n.place.line, 0u) << name << " " << n.name;
      EXPECT_EQ(lines.at(n.place.line - 1).substr(n.place.start, n.text.size()), n.text) << n.name;
    }
    auto find = [&in](const std::string& key) { return named(in, key); };
    EXPECT_EQ(std::get<double>(find("pulse.amplitude").value), in.params.pulse.amplitude);
    EXPECT_EQ(find("pulse.fwhm").unit, "fs");
    EXPECT_EQ(find("level.1.energy").unit, "eV");
    EXPECT_EQ(std::get<std::int64_t>(find("layer.3.cells").value), in.structure.layers[2].cells);
    EXPECT_EQ(find("structure.dz").text, name == std::string("quickstart") ? "5.0e-9" : "2.0e-9");
  }
  const RunInput repeated = read(variant({{58, "100 0 1.0 7*0"}}));
  for (const NamedInput& n : repeated.named) {
    if (n.name != "layer.1.b15") continue;
    EXPECT_EQ(n.place.line, 0u);
    EXPECT_EQ(n.line, 58u);
  }
}

// Input the run reads but may not mean as written is reported, one warning
// per case: rows of another field count (read by blanks or with their extra
// values), structure beyond the grid or outside the dot region, Nt off a
// block end.  Level rows hold three values whatever separates them.
TEST(InputWarnings, EachDoubtfulInputIsReportedOnce) {
  const std::string times = ", line 22: a row of the population and spin-flip times has ";
  const Edits first_row_alone = {{54, "50"}, {55, "60"}, {57, "5.0e-9 1 3"}};
  struct Case {
    Edits edits;
    std::string warning;  // after the file name; empty: none
  };
  const Case cases[] = {
      {{{22, "1.0e-9 7 0 2.0e-10"}},
       times + "1 TAB-separated field where the table needs 4; its 4 blank-separated values "
               "are read"},
      {{{22, "1.0e-9\t0\t0\t2.0e-10\t9"}},
       times + "5 TAB-separated fields where the table needs 4; 5 values are read from it"},
      {{{12, "spin_up 1\t2\t3"}},
       ", line 12: a label table row has 3 TAB-separated fields where the table needs 2; its label "
       "and 3 values are read from it"},
      {first_row_alone,
       ", line 62: layer rows 2..5 lie outside the grid: with the first cavity layer 1 the "
       "structure is the first row alone"},
      {{{57, "5.0e-9 4 5"}},  // cavity of layers 4 and 5
       ": layer 3 holds dots, but none of its cells 301..320 lies in the dot region 461..480 "
       "centred in the cavity: its dots take no part"},
      {{{50, "total number of time steps 32000 -"}},
       ", line 50: Nt = 32000 is not a multiple of LL = 5000: the run goes on to step 35000, the "
       "end of its last block"},
      {{{6, "trans_12\t1.3\t0"}}, ""},
      {{{15, "0\t1\t0\t0   # row 1"}}, ""},
      {{{15, "0\t1\t0\t0\t"}}, ""},
      {{{12, "spin_up 1\t2   # up"}}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edits.front().second);
    std::vector<std::string> w;
    read(variant(c.edits), w);
    EXPECT_EQ(w, c.warning.empty() ? std::vector<std::string>{}
                                   : std::vector<std::string>{"execdata.txt" + c.warning});
  }
  EXPECT_EQ(read(variant(first_row_alone)).structure.NZ, 100);
  EXPECT_EQ(read(variant({{57, "5.0e-9 4 5"}})).structure.z1, 461);
  // Rows beyond the grid are still read and checked.
  Edits nan_row = first_row_alone;
  nan_row.emplace_back(61, "200 0 nan 0 0 0 0 0 0 0");
  EXPECT_THROW(read(variant(nan_row)), ParameterError);
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
      {"blank-separated row of four values fills four", {{22, "1.0e-9 7 0 2.0e-10"}}, 7.0, 2.0e-10},
      {"a slash leaves the other entries as they were", {{22, "1.0e-9\t/"}}, 0.0, 0.0},
      {"extra values and rows are ignored",
       {{22, "1.0e-9\t7\t0\t2.0e-10\t9\t9"}, {24, "0\t2.0e-10\t0\t0\n9\t9\t9\t9\t9"}},
       7.0,
       2.0e-10},
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
  // A trailing comment ends a label row without taking the next line.
  const RunInput labels = read(variant({{12, "spin_up 1\t2   # up"}}));
  EXPECT_EQ(std::get<std::int64_t>(named(labels, "label.1.2").value), 2);
  EXPECT_EQ(std::get<std::string>(named(labels, "label.2.name").value), "spin_dn");
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
  for (int k = 2; k <= 97; ++k) cells += '\n' + std::to_string(k);
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
      {{{37, "17"}}, "The number of pulses must be 1 to 16: num pulses = 17"},
      {{{38, "1 2 0.955022 0 0 0 2.0e8 1 0 10 160 0"}}, "pulse shape 2"},
      {{{38, "1 3 0.955022 0 1 0 2.0e8 1 0 10 160 0"}}, "pulse shape 3"},
      {{{38, "1 2 0.955022 50 2 0 2.0e8 1 0 10 160 0"}},
       "duration unit must be 0 (fs) or 1 (ps): 2"},
      {{{38, "1 3 0.955022 50 0 0 2.0e8 1 0 10 160 3"}}, "delay unit must be 0 (fs), 1 (ps) or 2"},
      {{{6, "trans_12 1.3 3"}}, "Level energy unit must be 0 (eV), 1 (meV) or 2 (ueV): 3"},
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
      // Values the result files could not print are refused before any file.
      {{{57, "inf 2 4"}}, "dz must be positive and finite: dz = inf"},
      {{{57, "1e309 2 4"}}, "dz must be positive and finite: dz = inf"},
      {{{60, "20 0 1e6 0 -0.5 0.5 -1 -0.5 0.5 -1"}}, "index of layer 3 must be below 1e6"},
      {{{57, "2e-3 2 4"}}, "length of the structure must be below 1 m"},
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

  // A zero duration is allowed for a cw pulse.
  const Pulse q = read(variant({{38, "1 1 0.955022 0 0 0 2.0e8 1 0 10 160 0"}})).params.pulse;
  EXPECT_EQ(q.duration, 0.0);
  EXPECT_EQ(q.tau, 0.0);
  EXPECT_EQ(q.delay_ratio, 0);
  // 180 fs / 50 fs = 3.6: the delay multiple is truncated.
  EXPECT_EQ(
      read(variant({{38, "1 3 0.955022 50 0 0 2.0e8 1 0 10 0.18 1"}})).params.pulse.delay_ratio, 3);
}

// A value that cannot be read ends the run with a read error naming the file,
// the line and the text, and labelled by the section being read, instead of
// leaving an earlier value or a zero in place, reading on into the next line
// or failing later at another line.  A table row that cannot be read as the
// table needs is an error too: a value would be lost.
TEST(InputReadErrors, ValueThatCannotBeReadIsAnErrorNeverAZero) {
  using namespace std::string_literals;
  const std::string bom = "\xEF\xBB\xBF";
  const std::string nine_values = "200 0 3.5 0 0 0 0 0 0";
  const std::string line_ends = "(The line ends before value ";
  struct Case {
    int line;
    std::string text;
    const char* label;
    std::string shown;  // quoted in the detail line
  };
  const Case cases[] = {
      {33, "x\t0\t0\t0", " scale factor transf", "\"x\" (Bad real number)"},
      {22, "1.0e-9\tx\t7\t7", " Scale factor long", "\"x\""},
      {28,
       "1.0e-11\t0\t1.0e-1\0"
       "1\t1.0e-11"s,
       " scale factor transf", "\"1.0e-1\\x001\" (Control character in a value)"},
      {28, "1.0e-11\t0\t1.0e-11\r5\t1.0e-11", " scale factor transf", "\"1.0e-11\\x0D5\""},
      {22, "1.0e-9\t0\t \t2.0e-10", " Scale factor long", line_ends + "4 of 4)"},
      {51, "iteration limit twenty -", " ", "\"twenty\" (Bad integer)"},
      {52, "tolerance 1.0e-12x -", " ", "\"1.0e-12x\" (Bad real number)"},
      {1, bom + "Results", "", "\"\\xEF\\xBB\\xBFResults\" (Byte-order mark in a value)"},
      {7, bom + "split_13 0.0 0", " ", "\"\\xEF\\xBB\\xBFsplit_13\" (Byte-order mark"},
      {16, bom + "1\t0\t0\t0", " Density atom ", "\"\\xEF\\xBB\\xBF1\" (Byte-order mark"},
      {46, bom + "Courant number 0.5 S", " ", "\"\\xEF\\xBB\\xBFCourant\""},
      {6, "trans_12 1.3 O", " ", "\"O\" (Bad integer)"},
      {6, "trans_12 1.3", " ", line_ends + "3 of 3)"},
      {12, "spin_up 1\tx", " Density atom ", "\"x\" (Bad integer)"},
      {38, "1 3 0.955022 50 0 0 2.0e8 1 0 10 160", " Error reading pulse parameters",
       line_ends + "12 of 12)"},
      {53, "two monitor_cells", " ", "\"two\""},
      {54, "15O", " ", "\"15O\""},
      {57, "5.0e-9 2", " ", line_ends + "3 of 3)"},
      {59, nine_values, " ", "\"" + nine_values + "\" " + line_ends + "10 of 10)"},
      {4, "four", "", "\"four\" (Bad integer)"},
      {11, "dense", " Density atom ", "\"dense\" (Bad real number)"},
      {20, "x", " Scale factor long", "\"x\" (Bad real number)"},
      {26, "x", " scale factor transf", "\"x\" (Bad real number)"},
      {37, "one", " num pulses", "\"one\" (Bad integer)"},
      {38, "1 3 0.955022 fifty 0", " Error reading pulse parameters", "\"fifty\" (Bad real"},
      {41, "left 1", " ", "\"left\" (Bad integer)"},
      {46, "Courant number half S", " ", "\"half\" (Bad real number)"},
      {57, "dz 2 4", " ", "\"dz\" (Bad real number)"},
      {60, "20 0 n 0 0 0 0 0 0 0", " ", "\"n\" (Bad real number)"},
      // A label followed by a TAB is a field of its own: the comment is read as a value.
      {12, "spin_up\t1   # up", " Density atom ", "\"#\" (Bad integer)"},
      {33, "6.4e-29\t0\t0", " scale factor transf", "(the table needs 4 TAB-separated values"},
      {23, "", " Scale factor long", "(the table needs 4 TAB-separated values"},
      {12, "spin_up 1", " Density atom ", "(the table needs 2 TAB-separated values"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(visible_text(c.text));
    try {
      read(variant({{c.line, c.text}}));
      ADD_FAILURE() << "accepted";
    } catch (const ReadError& e) {
      const std::string what = e.what();
      EXPECT_EQ(e.label(), c.label);
      EXPECT_TRUE(what.starts_with("execdata.txt, line " + std::to_string(c.line) + ": ")) << what;
      EXPECT_NE(what.find(c.shown), std::string::npos) << what;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not a read error: " << e.what();
    }
  }
}

// What the file format allows on value lines and table rows still reads.
TEST(InputReadErrors, CommentsWordsSlashesAndExponentsAreNoErrors) {
  const RunParameters p = read(variant({{4, "4 / levels"},
                                        {11, "1.0d24, # density"},
                                        {22, "1.0D-9\t7\t0\t2.0e-10   # row 2"},
                                        {41, "1"},
                                        {46, "Courant number 0.25"},
                                        {51, "iteration limit 30 - # more"},
                                        {52, "tolerance 1.0d-10"},
                                        {57, "5.0e-9 2 4 / spatial line"},
                                        {58, "\n100 0 1.0 0 0 0 0 0 0 0 # blank line before"}}))
                              .params;
  EXPECT_EQ(p.dipole_density, 1.0e24);
  EXPECT_EQ(p.tau(2, 1), 1.0e-9);
  EXPECT_EQ(p.tau(2, 2), 7.0);
  EXPECT_EQ(p.courant, 0.25);
  EXPECT_EQ(p.iteration_limit, 30);
  EXPECT_EQ(p.tolerance, 1.0e-10);
  // A slash leaves the rest of a row as it was.
  EXPECT_EQ(read(variant({{33, "6.4e-29\t/"}})).params.dipole_table(2, 2), 0.0);
}

// Run-control lines in other words than the layout's: the value is the
// line's one token that reads as it, named where it stands; two are an error.
TEST(InputReadErrors, RunControlValueAmongAnyWords) {
  const RunInput in = read(variant({{46, "Courant 0.5 S"},
                                    {47, "LL = 5000 # 2 per block"},
                                    {50, "Nt 30000"},
                                    {52, "tolerance: 1e-11"}}));
  EXPECT_EQ(in.params.courant, 0.5);
  EXPECT_EQ(in.params.LL, 5000);
  EXPECT_EQ(in.params.Nt, 30000);
  EXPECT_EQ(in.params.tolerance, 1e-11);
  const NamedInput ll = named(in, "run.LL");
  EXPECT_EQ(ll.line, 47u);
  EXPECT_EQ(ll.text, "5000");
  EXPECT_EQ(ll.place.start, 5u);
  try {
    read(variant({{47, "LL 5000 or 6000"}}));
    ADD_FAILURE() << "accepted";
  } catch (const ReadError& e) {
    EXPECT_EQ(e.place(), "execdata.txt, line 47: the LL line");
    EXPECT_NE(std::string(e.what()).find("2 values on the line"), std::string::npos) << e.what();
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
