// The threads of the steps follow how fast the steps go on each team.
#include <gtest/gtest.h>

#include <cstdint>

#include "simulation/scheduler.hpp"

namespace mps::testing {
namespace {

// The trials' steps and seconds, each step timed by `seconds(team)`: a trial
// lasts kTrialSteps timed steps and kTrialSeconds, or two and kSlowTrialSeconds.
struct Trials {
  std::int64_t steps = 0;
  double seconds = 0.0;
};
template <typename Time>
Trials run_trials(TeamChooser& c, Time seconds) {
  Trials all;
  for (int trial = 0; trial < TeamChooser::kTrials; ++trial) {
    double timed = 0.0;
    for (int n = 1;; ++n) {
      const double t = seconds(c.team());
      c.record(t);
      ++all.steps;
      all.seconds += t;
      if (n > 1) timed += t;
      if ((n > TeamChooser::kTrialSteps && timed >= TeamChooser::kTrialSeconds) ||
          (n > 2 && timed >= TeamChooser::kSlowTrialSeconds)) {
        break;
      }
    }
  }
  return all;
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

// Times of powers of two, so the trials' seconds over a step's are exact.
constexpr double kOne = 1.0 / 1024;  // a step on one thread [s]

// Steps of one thread as long as `factor` times the trials.
std::int64_t keep_of(std::int64_t factor, const Trials& t) {
  return static_cast<std::int64_t>(static_cast<double>(factor) * t.seconds / kOne);
}

TEST(TeamChooser, KeepsTheFasterTeamAndTriesAgain) {
  // A descheduled thread holds the team of two at every barrier.  One
  // thread is kept for the trials' time (in its own steps) times: 1 after
  // the cold first trials, then kFirstKeep, and a choice made again, and
  // clearly, kClearKeep times the doubled keep.
  TeamChooser loaded(2, true);
  const auto twice = [](int team) { return team == 2 ? 2 * kOne : kOne; };
  Trials t = run_trials(loaded, twice);
  EXPECT_GT(keep_of(1, t), t.steps);
  EXPECT_TRUE(keeps_one_thread(loaded, keep_of(TeamChooser::kColdKeep, t)));
  t = run_trials(loaded, twice);
  EXPECT_TRUE(keeps_one_thread(loaded, keep_of(TeamChooser::kFirstKeep, t)));
  t = run_trials(loaded, twice);
  EXPECT_TRUE(
      keeps_one_thread(loaded, keep_of(2 * TeamChooser::kFirstKeep * TeamChooser::kClearKeep, t)));
  run_trials(loaded, [](int team) { return team == 2 ? 0.6e-3 : 1e-3; });
  EXPECT_EQ(loaded.team(), 2);  // the load has gone

  // A team sixteen times as slow (a busy machine): two timed steps per
  // trial, and one thread kept kLongestKeep times as long at once.
  TeamChooser busy(2, true);
  t = run_trials(busy, [](int team) { return team == 2 ? 16 * kOne : kOne; });
  EXPECT_EQ(t.steps, 3 + 7 + 3 + 7);
  EXPECT_TRUE(keeps_one_thread(busy, keep_of(TeamChooser::kLongestKeep, t)));

  TeamChooser small(2, false), alone(1, true);
  for (int s = 0; s < 1000; ++s) small.record(1e-6), alone.record(1e-6);
  EXPECT_EQ(small.team(), 1);
  EXPECT_EQ(alone.team(), 1);
}

}  // namespace
}  // namespace mps::testing
