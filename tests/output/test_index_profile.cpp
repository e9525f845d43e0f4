// "n_z.dat": z in micrometres and the index of every cell (two F12.5
// fields), graded layers stepping linearly to their end index.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "input/input_reader.hpp"
#include "output/index_profile.hpp"
#include "support/layers.hpp"
#include "support/scratch_dir.hpp"

namespace mps {
namespace {

// The text of "n_z.dat" as write_index_profile leaves it.
std::string index_profile_text(const StructureProfile& s, double dz) {
  testing::ScratchDir dir;
  RunDirectories dirs;
  dirs.results_dir = dir.path();
  write_index_profile(dirs, s, dz);
  return dir.read("n_z.dat");
}

TEST(IndexProfile, OneFixedPointLinePerCell) {
  using testing::layer;
  StructureProfile s;
  s.layers = {layer(10, 1.0), layer(20, 2.0), layer(30, 3.0)};
  s.NZ = 60;
  const std::vector<std::string> lines = testing::split_lines(index_profile_text(s, 5e-9));
  ASSERT_EQ(lines.size(), 60u);
  EXPECT_EQ(lines[0], "     0.00500       1.00000");
  EXPECT_EQ(lines[9], "     0.05000       1.00000");
  EXPECT_EQ(lines[10], "     0.05500       2.00000");
  EXPECT_EQ(lines[59], "     0.30000       3.00000");
}

TEST(IndexProfile, QuickstartLayers) {
  const RunInput in = read_execdata("/w/", "/w/execdata.txt", testing::example_input("quickstart"));
  const auto lines = testing::split_lines(index_profile_text(in.structure, in.structure.dz));
  ASSERT_EQ(lines.size(), 620u);
  // Layers: 100 cells n = 1, 420 cells n = 3.5 (three rows), 100 cells n = 1.
  for (std::size_t i = 1; i <= lines.size(); ++i) {
    const double n = (i <= 100 || i > 520) ? 1.0 : 3.5;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%12.5f  %12.5f", static_cast<double>(i) * 5e-9 * 1e6,
                  n);
    ASSERT_EQ(lines[i - 1], expected) << "cell " << i;
  }
  EXPECT_EQ(lines[619], "     3.10000       1.00000");
}

using testing::layer;

StructureProfile profile(const std::vector<Layer>& layers) { return testing::structure_of(layers); }

// The index column of "n_z.dat", blanks removed.
std::vector<std::string> index_column(const StructureProfile& s) {
  std::vector<std::string> out;
  for (const std::string& line : testing::split_lines(index_profile_text(s, 1e-6))) {
    out.push_back(line.substr(line.find_first_not_of(' ', 14)));
  }
  return out;
}

TEST(IndexProfile, GradedLayersStepLinearlyToTheirEndIndex) {
  using V = std::vector<std::string>;
  EXPECT_EQ(index_column(profile({layer(4, 1.0, 2.0)})),
            (V{"1.25000", "1.50000", "1.75000", "2.00000"}));
  EXPECT_EQ(index_column(profile({layer(4, 1.0, 0.0)})),
            (V{"1.00000", "1.00000", "1.00000", "1.00000"}));
  EXPECT_EQ(index_column(profile({layer(4, 2.0, 1.0)})),
            (V{"1.75000", "1.50000", "1.25000", "1.00000"}));
  EXPECT_EQ(index_column(profile({layer(2, 3.0, 0.0), layer(2, 1.0, 2.0)})),
            (V{"3.00000", "3.00000", "1.50000", "2.00000"}));

  // Rounding alone may step past an end value (1.0 -> 3.59 ends at
  // 3.5900000000000003; 5.15 -> 1.01 ends 5 ulps below 1.01): accepted.
  EXPECT_EQ(index_column(profile({layer(13, 1.0, 3.59)})).back(), "3.59000");
  EXPECT_EQ(index_column(profile({layer(31, 5.15, 1.01)})).back(), "1.01000");
}

}  // namespace
}  // namespace mps
