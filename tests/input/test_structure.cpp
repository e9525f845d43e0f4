// The layer table: grid, cavity and dot region, the per-cell material
// arrays, and the refractive-index profile written to "n_z.dat".
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "core/errors.hpp"
#include "input/input_reader.hpp"
#include "input/structure.hpp"
#include "support/layers.hpp"
#include "support/scratch_dir.hpp"

namespace mps {
namespace {

// The quickstart parameter part (pulse injected at cell 1, no sampling
// cells), then the given spatial line and layer rows.
RunInput read_structure(const std::string& spatial, const std::vector<std::string>& rows) {
  static const std::vector<std::string> lines = testing::split_lines(testing::replace_line(
      testing::example_input("quickstart"), 38, "1 3 0.955022 50 0 0 2.0e8 1 0 1 160 0"));
  std::string text;
  for (std::size_t k = 0; k < 52; ++k) text += lines[k] + '\n';
  text += "0 monitor_cells\n# dz, cavity layers, layers\n" + spatial + '\n';
  for (const std::string& row : rows) text += row + '\n';
  return read_execdata("/w/", "execdata.txt", text);
}

// A layer row of `cells` cells and index n; `b13` != 0 makes it a dot layer.
std::string row(int cells, double n = 1.0, double b13 = 0.0) {
  return std::to_string(cells) + " 0 " + std::to_string(n) + " 0 0 0 0 " + std::to_string(b13) +
         " 0 0";
}

TEST(StructureGrid, CavityAndDotRegionFromTheLayerTable) {
  using Grid = std::array<std::int64_t, 8>;  // layers NZ left right active before z1 z2
  struct Case {
    const char* name;
    const char* spatial;
    std::vector<std::string> rows;
    Grid grid;
  };
  const Case cases[] = {
      {"no dot layer: the layer after the first cavity layer sizes the region (d = -11)",
       "5e-9 2 2",
       {row(10), row(20), row(31)},
       {3, 61, 10, 30, 31, 61, 6, 35}},
      {"dot layer filling the cavity",
       "5e-9 2 2",
       {row(10), row(20, 1.0, -1), row(30)},
       {3, 60, 10, 30, 20, 10, 11, 30}},
      {"5 dot cells centred in a 20-cell cavity",
       "5e-9 2 4",
       {row(10), row(5), row(5, 1.0, -1), row(10), row(30)},
       {5, 60, 10, 30, 5, 15, 18, 23}},
      {"first cavity layer 1: the first row alone",
       "5e-9 1 3",
       {row(10), row(20, 1.0, -1), row(30)},
       {1, 10, 1, 10, 0, 10, 6, 6}},
      {"set A alone makes no dot layer; any B value does",
       "5e-9 2 3",
       {"10 0 1.0 0 1 1 1 0 0 0", row(20), "4 0 3.5 0 0 0 0 0 0 1", row(30)},
       {4, 64, 10, 34, 4, 30, 21, 24}},
      {"cavity reaching the right end",
       "5e-9 2 3",
       {row(10), row(20), row(30)},
       {3, 60, 10, 60, 30, 60, 21, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunInput in = read_structure(c.spatial, c.rows);
    const StructureProfile& s = in.structure;
    EXPECT_EQ((Grid{s.layer_count(), s.NZ, s.cavity_left, s.cavity_right, s.active_cells,
                    s.cells_before_active, s.z1, s.z2}),
              c.grid);
    EXPECT_EQ(in.params.monitor_cells, (std::vector<std::int32_t>{1, s.NZ - 1}));
  }
}

// At most 500 rows are used: a 501st would be dropped silently, so it is a
// parameter report (blank lines and comments after the 500th are fine).  A
// last row cut short by the end of the file would drop a layer: a read error.
TEST(StructureGrid, RowsTheTableWouldDropAreErrors) {
  std::vector<std::string> rows(500, row(1));
  rows.emplace_back("");
  rows.emplace_back("# end of the table");
  const StructureProfile s = read_structure("5e-9 2 3", rows).structure;
  EXPECT_EQ(s.layer_count(), 500);
  EXPECT_EQ(s.NZ, 500);
  EXPECT_THROW(read_structure("5e-9 2 3", std::vector<std::string>(501, row(1))), ParameterError);
  EXPECT_EQ(read_structure("5e-9 2 3", {row(10), row(20), ""}).structure.NZ, 30);
  EXPECT_THROW(read_structure("5e-9 2 3", {row(10), row(20), "30 0 1.0"}), ReadError);
}

TEST(StructureMaterial, EveryCellTakesItsLayerValues) {
  const RunInput in = read_structure(
      "5e-9 2 2", {row(2), "3 0 2.0 0 0.5 0.3 0.6 -1 0.3 0.6", "2 0 4.0 2.0 0 0 0 0 0 0"});
  const StructureProfile& s = in.structure;
  std::vector<std::int32_t> visited;
  std::vector<CellMaterial> walked(8);
  for_each_cell_material(s, [&](std::int32_t i, const CellMaterial& m) {
    visited.push_back(i);
    walked[static_cast<std::size_t>(i)] = m;
  });
  EXPECT_EQ(visited, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7}));
  // The graded layer's cells (n = 3, 2) move light at c / n of their own index.
  const double n[] = {0.0, 1.0, 1.0, 2.0, 2.0, 2.0, 3.0, 2.0};
  // Set A and B of the dot layer, the 14th and 15th scaled by float sqrt(3), sqrt(6).
  const double a14 = 0.3 / 1.7320507764816284, a15 = 0.6 / 2.4494898319244385;
  for (std::int32_t i = 1; i <= 7; ++i) {
    SCOPED_TRACE(i);
    const auto c = static_cast<std::size_t>(i);
    const CellMaterial m = cell_material(s, i);
    for (const CellMaterial& got : {m, walked[c]}) {
      EXPECT_EQ(got.layer, m.layer);
      EXPECT_EQ(got.local_courant, m.local_courant);
      EXPECT_EQ(got.index, n[c]);
      EXPECT_EQ(got.phase_velocity, 299792458.0 / n[c]);
      EXPECT_DOUBLE_EQ(got.local_courant, got.phase_velocity * s.dt / s.dz);
    }
    ASSERT_NE(m.layer, nullptr);
    const double d = i >= 3 && i <= 5 ? 1.0 : 0.0;
    const Layer& l = *m.layer;
    EXPECT_EQ((std::array{l.a13, l.a14, l.a15, l.b13, l.b14, l.b15}),
              (std::array{0.5 * d, a14 * d, a15 * d, -d, a14 * d, a15 * d}));
  }
  // Outside the grid, and cells a short table leaves uncovered: no material.
  EXPECT_EQ(cell_material(s, 0).layer, nullptr);
  EXPECT_EQ(cell_material(s, 8).layer, nullptr);
  StructureProfile longer = s;
  longer.NZ = 9;
  std::int32_t bare = 0;
  for_each_cell_material(longer, [&](std::int32_t i, const CellMaterial& m) {
    if (m.layer == nullptr) bare += i;
  });
  EXPECT_EQ(bare, 8 + 9);
  EXPECT_EQ(refractive_indices(longer), (std::vector<double>{0, 1, 1, 2, 2, 2, 3, 2, 0, 0}));
}

// The legacy model keeps the left-end velocity for every cell of a graded
// layer (a magnetic layer); uniform cells are the same in both models.
TEST(StructureMaterial, LegacyGradedLayerKeepsItsLeftEndVelocity) {
  RunInput in = read_structure("5e-9 2 2", {row(2), row(3), "2 0 4.0 2.0 0 0 0 0 0 0"});
  StructureProfile corrected = in.structure;
  fill_material_profile(in.structure, in.structure.dz, in.structure.dt, Model::legacy);
  for (std::int32_t i = 1; i <= 5; ++i) {
    const CellMaterial legacy = cell_material(in.structure, i), now = cell_material(corrected, i);
    EXPECT_EQ(legacy.phase_velocity, now.phase_velocity) << i;
    EXPECT_EQ(legacy.local_courant, now.local_courant) << i;
  }
  EXPECT_EQ(cell_material(in.structure, 6).phase_velocity, 299792458.0 / 4);
  EXPECT_EQ(cell_material(in.structure, 7).phase_velocity, 299792458.0 / 4);
  EXPECT_EQ(cell_material(in.structure, 7).index, 2.0);  // n itself is graded in both
}

using testing::layer;
using testing::structure_of;

// Rounding alone may step past an end value (1.0 -> 3.59 ends at
// 3.5900000000000003; 5.15 -> 1.01 ends 5 ulps below 1.01): accepted.  A
// graded value outside its end values (the index difference overflows, so
// the first is infinite) is rejected.
TEST(StructureChecks, GradedValuesStayBetweenTheirEndValues) {
  EXPECT_NO_THROW(check_graded_layers(structure_of({layer(13, 1.0, 3.59)})));
  EXPECT_NO_THROW(check_graded_layers(structure_of({layer(31, 5.15, 1.01)})));
  const char* const msg = " ERROR -> I1, N_ref, N_vals, N_vals2,I-Jnop,len_vals";
  for (const auto& [nA, nB, first] :
       {std::tuple{-1.7e308, 1.7e308, '1'}, std::tuple{1.7e308, -1.7e308, '2'}}) {
    try {
      check_graded_layers(structure_of({layer(1, 1.0, 0.0), layer(4, nA, nB)}));
      ADD_FAILURE() << "accepted " << nA << " -> " << nB;
    } catch (const ParameterError& e) {
      EXPECT_EQ(std::string(e.what()), first + std::string(msg));
    }
  }
}

}  // namespace
}  // namespace mps
