#pragma once
// How many threads the steps of a run use, chosen from how fast they go.
//
// A team pays a fork and a barrier per step; a step of few cells costs less
// than that, and a thread that another process (or the run's own output
// threads) keeps from its core holds the whole team at every barrier.  So
// the steps run on the whole team and on one thread in turn, in four
// interleaved trials long enough to span the scheduler's time slices (a
// change of the machine's speed meanwhile hits both alike); the faster
// keeps the steps for a while, counted in the time the trials took (at
// the kept team's speed, so a trial's loss stays a share of the keep
// however slow the other team was): as long as the trials took after the
// first trials (made as the run starts up, cold), then four times as long,
// twice as long after each trial up to 48 times (the same choice made
// again and clearly, the other team 1.25 times as slow or slower, four
// times as long as that, up to 48 times), and the trials are made again;
// a team ten times as slow (a busy machine, whose trials cost dear) is
// left for 48 times as long at once, and a trial of such slow steps ends
// after two timed steps.  A run follows a machine whose load changes and
// never runs far slower than on one thread, and a run whose team is
// clearly faster spends about a fiftieth of its steps on trials.  Results
// do not depend on the choice: every cell is computed the same way
// whichever thread takes it.
#include <cstdint>

namespace mps {

class TeamChooser {
 public:
  // `threads`: the most a step may use; `worth_trying`: whether the step is
  // large enough for a team to be worth a trial at all.
  TeamChooser(int threads, bool worth_trying);

  // The threads of the next step.
  int team() const { return team_; }
  // Whether record() wants the steps' times (not once the team is one
  // thread for good).
  bool timed() const { return keep_ != -1; }
  // The last step took `seconds` on team() threads.
  void record(double seconds);

  static constexpr int kTrials = 4;                  // whole team, one thread, team, one
  static constexpr int kTrialSteps = 4;              // timed steps of a trial, at least
  static constexpr double kTrialSeconds = 0.005;     // and its time, at least
  static constexpr double kSlowTrialSeconds = 0.01;  // or two timed steps and this time
  static constexpr std::int64_t kColdKeep = 1;       // trials' lengths kept, first trials
  static constexpr std::int64_t kFirstKeep = 4;      // then at first
  static constexpr std::int64_t kLongestKeep = 48;   // and at most
  static constexpr std::int64_t kClearKeep = 4;      // times that for a confirmed choice
  static constexpr double kClearRatio = 1.25;        // the slower's time to the faster's
  static constexpr double kBusyRatio = 10.0;         // the same on a busy machine

 private:
  void end_trial();
  // `factor` times as long as the trials took, in steps of the team
  // `chosen`: their seconds over its time per step, or their steps if more.
  std::int64_t keep_steps(std::int64_t factor, int chosen) const;
  int threads_;
  int team_ = 1;
  int trial_ = 0;               // 0..kTrials-1 while trying; kTrials: keeping
  std::int64_t count_ = 0;      // steps of the trial so far
  double seconds_ = 0.0;        // their timed seconds
  double trial_seconds_ = 0.0;  // all seconds of the trials so far
  double per_step_[2] = {};     // sums of the trials' seconds per step: team, one
  std::int64_t trial_steps_ = 0;
  std::int64_t keep_factor_ = kFirstKeep;
  std::int64_t keep_ = 0;  // steps left of the kept choice (-1: for good)
  int chosen_ = 0;         // the team the last trials chose (0: none yet, -1: cold)
};

}  // namespace mps
