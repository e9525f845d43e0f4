// "n_z.dat": z in micrometres and the index of every cell (two F12.5
// fields), graded layers stepping linearly to their end index.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/index_profile.hpp"
#include "support/layers.hpp"
#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

std::vector<std::string> index_profile_lines(const std::vector<Layer>& layers, double dz) {
  ScratchDir dir;
  RunDirectories dirs;
  dirs.results_dir = dir.path();
  write_index_profile(dirs, structure_of(layers), dz);
  return split_lines(dir.read("n_z.dat"));
}

// The index column, blanks removed.
std::string index_of(const std::string& line) {
  return line.substr(line.find_first_not_of(' ', 14));
}

TEST(IndexProfile, OneFixedPointLinePerCell) {
  const auto lines = index_profile_lines({layer(10, 1.0), layer(20, 2.0), layer(30, 3.5)}, 5e-9);
  ASSERT_EQ(lines.size(), 60u);
  EXPECT_EQ(lines[0], "     0.00500       1.00000");
  EXPECT_EQ(lines[9], "     0.05000       1.00000");
  EXPECT_EQ(lines[10], "     0.05500       2.00000");
  EXPECT_EQ(lines[59], "     0.30000       3.50000");
}

TEST(IndexProfile, GradedLayersStepLinearlyToTheirEndIndex) {
  using V = std::vector<std::string>;
  const std::pair<std::vector<Layer>, V> cases[] = {
      {{layer(4, 1.0, 2.0)}, {"1.25000", "1.50000", "1.75000", "2.00000"}},
      {{layer(4, 1.0, 0.0)}, {"1.00000", "1.00000", "1.00000", "1.00000"}},
      {{layer(4, 2.0, 1.0)}, {"1.75000", "1.50000", "1.25000", "1.00000"}},
      {{layer(2, 3.0, 0.0), layer(2, 1.0, 2.0)}, {"3.00000", "3.00000", "1.50000", "2.00000"}},
  };
  for (const auto& [layers, expected] : cases) {
    V column;
    for (const std::string& line : index_profile_lines(layers, 1e-6))
      column.push_back(index_of(line));
    EXPECT_EQ(column, expected) << expected.back();
  }
  // Rounding alone may step past an end value (1.0 -> 3.59 ends at
  // 3.5900000000000003; 5.15 -> 1.01 ends 5 ulps below 1.01): accepted.
  EXPECT_EQ(index_of(index_profile_lines({layer(13, 1.0, 3.59)}, 1e-6).back()), "3.59000");
  EXPECT_EQ(index_of(index_profile_lines({layer(31, 5.15, 1.01)}, 1e-6).back()), "1.01000");
}

}  // namespace
}  // namespace mps::testing
