// The threads of the steps follow how fast the steps go on each team.
#include <gtest/gtest.h>

#include "simulation/team.hpp"

namespace mps::testing {
namespace {

// Steps until the trials are over, each timed by `seconds(team)`.
template <typename Time>
void run_trials(TeamChooser& c, Time seconds) {
  for (int s = 0; s < 2 * (TeamChooser::kTrialSteps + 1); ++s) c.record(seconds(c.team()));
}

TEST(TeamChooser, KeepsTheFasterTeamAndTriesAgain) {
  TeamChooser loaded(2, true);
  // A descheduled thread holds the team of two at every barrier.
  run_trials(loaded, [](int team) { return team == 2 ? 2e-3 : 1e-3; });
  EXPECT_EQ(loaded.team(), 1);
  for (int s = 0; s < TeamChooser::kKeepFactor * TeamChooser::kTrialSteps; ++s) {
    loaded.record(1e-3);
  }
  EXPECT_EQ(loaded.team(), 2);  // the next trial
  run_trials(loaded, [](int team) { return team == 2 ? 0.6e-3 : 1e-3; });
  EXPECT_EQ(loaded.team(), 2);  // the load has gone

  TeamChooser small(2, false), alone(1, true);
  for (int s = 0; s < 1000; ++s) small.record(1e-6), alone.record(1e-6);
  EXPECT_EQ(small.team(), 1);
  EXPECT_EQ(alone.team(), 1);
}

}  // namespace
}  // namespace mps::testing
