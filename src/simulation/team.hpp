#pragma once
// How many threads the steps of a run use, chosen from how fast they go.
//
// A team pays a fork and a barrier per step; a step of few cells costs less
// than that, and a thread that another process has descheduled holds the
// whole team at every barrier.  So the steps run on the whole team and on
// one thread in turn, each for a trial long enough to span the scheduler's
// time slices; the faster keeps the steps for about fifty times as long,
// and the trial is made again: a run follows a machine whose load changes,
// and never runs far slower than on one thread.  Results do not depend on
// the choice: every cell is computed the same way whichever thread takes it.
#include <cstdint>

namespace mps {

class TeamChooser {
 public:
  // `threads`: the most a step may use; `worth_trying`: whether the step is
  // large enough for a team to be worth a trial at all.
  TeamChooser(int threads, bool worth_trying);

  // The threads of the next step.
  int team() const { return team_; }
  // The last step took `seconds` on team() threads.
  void record(double seconds);

  static constexpr int kTrialSteps = 8;            // timed steps of a trial, at least
  static constexpr double kTrialSeconds = 0.02;    // and its time, at least
  static constexpr std::int64_t kKeepFactor = 48;  // steps kept per step of the trials

 private:
  void next_phase();
  enum class Phase { all, one, keep };
  int threads_;
  int team_ = 1;
  Phase phase_ = Phase::keep;
  std::int64_t count_ = 0;  // steps of the phase so far
  double seconds_ = 0.0;    // their timed seconds
  double per_step_all_ = 0.0;
  std::int64_t trial_steps_ = 0;  // of both trials
  std::int64_t keep_ = 0;         // steps left of the kept choice
};

}  // namespace mps
