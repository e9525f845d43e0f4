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

// Whether the chooser keeps one thread for exactly `steps` steps and then
// tries the team again.
bool keeps_one_thread(TeamChooser& c, std::int64_t steps) {
  bool kept = true;
  for (std::int64_t s = 0; s < steps; ++s) {
    kept = kept && c.team() == 1;
    c.record(1e-3);
  }
  return kept && c.team() == 2;
}

TEST(TeamChooser, KeepsTheFasterTeamAndTriesAgain) {
  TeamChooser loaded(2, true);
  // A descheduled thread holds the team of two at every barrier; each
  // trial spans the scheduler's slices.
  const auto twice = [](int team) { return team == 2 ? 2e-3 : 1e-3; };
  // The first trials, cold, are kept as long as they took and confirm
  // nothing; the next as usual; a choice made again, and clearly, four
  // times as long as the doubled keep.
  std::int64_t steps = run_trials(loaded, twice);
  EXPECT_TRUE(keeps_one_thread(loaded, TeamChooser::kColdKeep * steps));
  steps = run_trials(loaded, twice);
  EXPECT_TRUE(keeps_one_thread(loaded, TeamChooser::kFirstKeep * steps));
  steps = run_trials(loaded, twice);
  EXPECT_TRUE(
      keeps_one_thread(loaded, 2 * TeamChooser::kFirstKeep * TeamChooser::kClearKeep * steps));
  run_trials(loaded, [](int team) { return team == 2 ? 0.6e-3 : 1e-3; });
  EXPECT_EQ(loaded.team(), 2);  // the load has gone

  // A team ten times as slow from the start (a busy machine): the first
  // trials are kept as long as later ones.
  TeamChooser busy(2, true);
  steps = run_trials(busy, [](int team) { return team == 2 ? 1e-2 : 1e-3; });
  EXPECT_TRUE(keeps_one_thread(busy, TeamChooser::kFirstKeep * steps));

  TeamChooser small(2, false), alone(1, true);
  for (int s = 0; s < 1000; ++s) small.record(1e-6), alone.record(1e-6);
  EXPECT_EQ(small.team(), 1);
  EXPECT_EQ(alone.team(), 1);
}

}  // namespace
}  // namespace mps::testing
