// The medium's storage: only cells that hold something have a slot, the dot
// cells fill whole blocks of lanes first, and every cell reads as before.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "medium/medium_state.hpp"

namespace mps {
namespace {

constexpr CellRange kCavity{100, 800};

// Dots in equilibrium with levels 1 and 3 half filled.
constexpr Diagonal kDots{-0.5, 0.28867513459481287, -0.40824829046386302};

// A line of 1000 cells: dots at 10..12 and 500..505 and at 900 (outside
// the cavity), a passive cell at 300 (stored values, no dots) between them.
MediumState sparse_line() {
  MediumState m;
  m.allocate(1000);
  for (const std::int32_t i : {900, 505, 10, 11, 12, 500, 501, 502, 503, 504}) {
    m.set_equilibrium(i, kDots);
    m.set_flags(i, {1, 0, 1, 0});
  }
  m.set_w(1, 300, 4, 0.25);
  m.set_w(0, 501, 6, -0.125);
  classify_cells(m, kCavity);
  return m;
}

TEST(MediumStorage, OnlyCellsThatHoldSomethingHaveASlotInDotOrder) {
  const MediumState m = sparse_line();
  EXPECT_EQ(m.medium_cells,
            (std::vector<std::int32_t>{10, 11, 12, 300, 500, 501, 502, 503, 504, 505, 900}));
  EXPECT_EQ(m.dots, 10);
  // Blocks of dots (the last one padded), then one for the passive cell.
  const std::int32_t dot_blocks = (10 + kBatchLanes - 1) / kBatchLanes;
  EXPECT_EQ(m.dot_blocks(), dot_blocks);
  EXPECT_EQ(m.cell.size(), static_cast<std::size_t>(dot_blocks * kBatchLanes + 1));
  EXPECT_EQ(m.w[0].size(), static_cast<std::size_t>((dot_blocks + 1) * kStored));
  EXPECT_EQ(m.kind(300), CellKind::passive);
  EXPECT_EQ(m.kind(501), CellKind::dot);
  EXPECT_EQ(m.kind(400), CellKind::vacuum);
  EXPECT_FALSE(m.has_slot(400));

  // Every cell reads as it would with values for all cells.
  EXPECT_EQ(m.w_at(1, 300)[4], 0.25);
  EXPECT_EQ(m.w_at(0, 501)[6], -0.125);
  EXPECT_EQ(m.equilibrium(502), kDots);
  for (const std::int32_t i : {0, 1, 99, 400, 1000}) {
    for (int level = 0; level < 2; ++level) {
      for (const double w : m.w_at(level, i)) EXPECT_EQ(std::bit_cast<std::uint64_t>(w), 0u);
      EXPECT_EQ(m.physical(level, i), Diagonal{});
    }
    EXPECT_EQ(m.equilibrium(i), Diagonal{});
  }
  // Vacuum cells take the flags of the cavity; medium cells keep theirs.
  EXPECT_EQ(m.flags(99), (PopulationFlags{0, 0, 0, 0}));
  EXPECT_EQ(m.flags(400), (PopulationFlags{1, 1, 1, 1}));
  EXPECT_EQ(m.flags(900), (PopulationFlags{1, 0, 1, 0}));
  // Dot cells fill the first blocks in the order of their cells.
  const std::int32_t dot_cells[] = {10, 11, 12, 500, 501, 502, 503, 504, 505, 900};
  for (std::int32_t s = 0; s < m.dots; ++s) {
    EXPECT_EQ(m.cell[static_cast<std::size_t>(s)], dot_cells[s]) << s;
    EXPECT_EQ(m.slot_of(dot_cells[s]), s);
  }
  // The rest of the last dot block is padding that belongs to no cell.
  for (std::int32_t s = m.dots; s % kBatchLanes != 0; ++s) {
    EXPECT_EQ(m.cell[static_cast<std::size_t>(s)], MediumState::kNoSlot) << s;
  }
  EXPECT_EQ(m.passive_slots, (std::vector<std::int32_t>{m.dot_blocks() * kBatchLanes}));
  EXPECT_EQ(m.slot_of(300), m.passive_slots[0]);
}

// A -0 of a stored snapshot must be written back as -0, so it keeps a slot;
// cells 0 and N, never updated, keep what they were given.
TEST(MediumStorage, VacuumCellsKeepWhatTheyWereGiven) {
  MediumState m;
  m.allocate(50);
  m.set_w(0, 20, 3, 0.0);  // +0 needs no slot
  m.set_equilibrium(21, {});
  m.set_physical(1, 22, {});
  EXPECT_TRUE(m.cell.empty());
  m.set_w(0, 30, 3, -0.0);
  m.set_w(1, 50, 12, 0.5);
  m.set_flags(50, {0, 1, 1, 0});
  classify_cells(m, {0, 50});
  EXPECT_TRUE(m.medium_cells.empty());
  EXPECT_EQ(m.kind(30), CellKind::vacuum);
  EXPECT_EQ(m.kind(50), CellKind::vacuum);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(m.w_at(0, 30)[3]), std::bit_cast<std::uint64_t>(-0.0));
  EXPECT_EQ(m.w_at(1, 50)[12], 0.5);
  EXPECT_EQ(m.stored_diagonal(1, 50), (Diagonal{0.5, 0.0, 0.0}));
  EXPECT_EQ(m.flags(30), (PopulationFlags{1, 1, 1, 1}));
  EXPECT_EQ(m.flags(50), (PopulationFlags{0, 1, 1, 0}));  // cell N is not classified
}

TEST(MediumStorage, ClassifyingAgainKeepsEveryValue) {
  MediumState m = sparse_line();
  m.set_physical(0, 503, {0.1, 0.2, 0.3});
  m.set_w(1, 700, 0, 1e-3);  // a cell gains stored values: passive from now on
  classify_cells(m, kCavity);
  EXPECT_EQ(m.kind(700), CellKind::passive);
  EXPECT_EQ(m.physical(0, 503), (Diagonal{0.1, 0.2, 0.3}));
  EXPECT_EQ(m.w_at(1, 300)[4], 0.25);
  EXPECT_EQ(m.w_at(0, 501)[6], -0.125);
  EXPECT_EQ(m.w_at(1, 700)[0], 1e-3);
  EXPECT_EQ(m.passive_slots.size(), 2u);
  EXPECT_EQ(m.dots, 10);
}

}  // namespace
}  // namespace mps
