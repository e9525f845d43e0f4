// The energy budget in "summary.json": with the transparent source the
// energy injected is what leaves through the two ends, what the dots take
// up and what is left in the grid.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

// The number after "key": in a JSON text (the first one).
double json_number(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return std::nan("");
  return std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}

struct Budget {
  double injected, reflected, transmitted, dots, in_grid, balance;
  std::string json;
};

// The quickstart with the given layer rows in place of its own, a short
// pulse from `origin`, run to the end with the transparent source.
Budget run_budget(const std::string& rows, const std::string& origin) {
  ScratchDir dir;
  for (const char* d : {"Results", "DiscardedResults", "Continue"}) dir.make_dir(d);
  std::string text = example_input("quickstart");
  text = replace_line(text, 38, "1 3 0.955022 10 0 0 2.0e8 1 0 " + origin + " 30 0");
  text = replace_line(text, 47, "steps between two spatial dumps LL 4000 steps");
  text = replace_line(text, 50, "total number of time steps 12000 -");
  text = replace_line(text, 58, rows);
  for (int line = 59; line <= 62; ++line) text = replace_line(text, line, "");
  dir.write("execdata.txt", text);
  const ProgramResult r = run_in(MPS_PROGRAM, dir.path(), {"--source=transparent"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  Budget b{};
  b.json = dir.read("Results/summary.json");
  b.injected = json_number(b.json, "injected");
  b.reflected = json_number(b.json, "reflected");
  b.transmitted = json_number(b.json, "transmitted");
  b.dots = json_number(b.json, "dots");
  b.in_grid = json_number(b.json, "in_grid");
  b.balance = json_number(b.json, "balance");
  return b;
}

const std::string kVacuum = "620 0 1.0 0 0 0 0 0 0 0";
const std::string kSlab =
    "100 0 1.0 0 0 0 0 0 0 0\n400 0 3.5 0 0 0 0 0 0 0\n120 0 1.0 0 0 0 0 0 0 0";

TEST(TransparentSource, LaunchesOneWayInVacuum) {
  for (const char* origin : {"10", "0"}) {  // toward +z, and from the right end toward -z
    SCOPED_TRACE(origin);
    const Budget b = run_budget(kVacuum, origin);
    EXPECT_GT(b.injected, 0.0);
    // Nothing comes back through the plane: the grid's own dispersion is in
    // the incident wave, so the leak is of rounding size.
    const double back = std::string(origin) == "0" ? b.transmitted : b.reflected;
    EXPECT_LT(std::abs(back), 1e-6 * b.injected);
    EXPECT_NEAR(b.balance, 1.0, 1e-6);
    EXPECT_NE(b.json.find("\"status\": \"complete\""), std::string::npos);
    EXPECT_NE(b.json.find("\"source\": \"transparent\""), std::string::npos);
  }
}

// A slab of index 3.5 between vacuum: reflectance and transmittance close,
// R + T + (left in the grid) = 1 within 1e-3, and R is the slab's.
TEST(TransparentSource, BudgetOfALosslessSlabCloses) {
  const Budget b = run_budget(kSlab, "10");
  const double R = b.reflected / b.injected, T = b.transmitted / b.injected;
  EXPECT_NEAR(R + T + b.in_grid / b.injected, 1.0, 1e-3);
  EXPECT_NEAR(b.balance, 1.0, 1e-3);
  EXPECT_EQ(b.dots, 0.0);
  // A 10 fs pulse spans many Fabry-Perot fringes of a 2 um slab: R lies
  // between a single surface's (0.31) and two incoherent surfaces' (0.47).
  EXPECT_GT(R, 0.25);
  EXPECT_LT(R, 0.6);
}

}  // namespace
}  // namespace mps::testing
