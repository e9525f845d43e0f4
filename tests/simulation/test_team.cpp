// The threads of the steps follow how fast the steps go on each team.
#include <gtest/gtest.h>

#include <cstdint>

#include "simulation/team.hpp"

namespace mps::testing {
namespace {

// The steps of the trials, a team's timed by `seconds(team)`: each trial
// lasts kTrialSteps timed steps and kTrialSeconds at least.
template <typename Time>
std::int64_t run_trials(TeamChooser& c, Time seconds) {
  std::int64_t steps = 0;
  for (int trial = 0; trial < TeamChooser::kTrials; ++trial) {
    double timed = 0.0;
    for (int n = 1;; ++n) {
      const double t = seconds(c.team());
      c.record(t);
      ++steps;
      if (n > 1) timed += t;
      if (n > TeamChooser::kTrialSteps && timed >= TeamChooser::kTrialSeconds) break;
    }
  }
  return steps;
}

TEST(TeamChooser, KeepsTheFasterTeamAndTriesAgain) {
  TeamChooser loaded(2, true);
  // A descheduled thread holds the team of two at every barrier; each
  // trial spans the scheduler's slices.
  const std::int64_t steps = run_trials(loaded, [](int team) { return team == 2 ? 2e-3 : 1e-3; });
  EXPECT_EQ(loaded.team(), 1);
  for (std::int64_t s = 1; s < TeamChooser::kFirstKeep * steps; ++s) loaded.record(1e-3);
  EXPECT_EQ(loaded.team(), 1);
  loaded.record(1e-3);
  EXPECT_EQ(loaded.team(), 2);  // the next trial
  // The same choice again, and clearly: kept four times as long as the
  // doubled keep.
  const std::int64_t second = run_trials(loaded, [](int team) { return team == 2 ? 2e-3 : 1e-3; });
  EXPECT_EQ(loaded.team(), 1);
  const std::int64_t keep = 2 * TeamChooser::kFirstKeep * TeamChooser::kClearKeep * second;
  for (std::int64_t s = 1; s < keep; ++s) loaded.record(1e-3);
  EXPECT_EQ(loaded.team(), 1);
  loaded.record(1e-3);
  EXPECT_EQ(loaded.team(), 2);
  run_trials(loaded, [](int team) { return team == 2 ? 0.6e-3 : 1e-3; });
  EXPECT_EQ(loaded.team(), 2);  // the load has gone

  TeamChooser small(2, false), alone(1, true);
  for (int s = 0; s < 1000; ++s) small.record(1e-6), alone.record(1e-6);
  EXPECT_EQ(small.team(), 1);
  EXPECT_EQ(alone.team(), 1);
}

}  // namespace
}  // namespace mps::testing
