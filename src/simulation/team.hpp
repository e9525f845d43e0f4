#pragma once
// How many threads the steps of a run use, chosen from how fast they go.
//
// A team pays a fork and a barrier per step; a step of few cells costs less
// than that, and a thread that another process has descheduled holds the
// whole team at every barrier.  So the steps run on one thread and on the
// whole team in turn for a few steps each, the faster keeps them for a
// while (about fifty times as long), and the trial is made again: a run
// follows a machine whose load changes, and never runs far slower than on
// one thread.  Results do not depend on the choice: every cell is computed
// the same way whichever thread takes it.
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

  static constexpr int kTrialSteps = 8;   // timed steps of each trial
  static constexpr int kKeepFactor = 48;  // steps kept per trial step

 private:
  void next_phase();
  enum class Phase { all, one, keep };
  int threads_;
  int team_ = 1;
  Phase phase_ = Phase::keep;
  int count_ = 0;                 // steps of the phase so far
  double all_ = 0.0, one_ = 0.0;  // timed seconds of each trial
  std::int64_t keep_ = 0;         // steps left of the kept choice
};

}  // namespace mps
