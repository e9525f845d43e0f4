#include "simulation/team.hpp"

#include <algorithm>

namespace mps {

TeamChooser::TeamChooser(int threads, bool worth_trying) : threads_(threads) {
  if (threads_ > 1 && worth_trying) {
    team_ = threads_;
  } else {
    trial_ = kTrials;
    keep_ = -1;  // one thread for good
  }
}

void TeamChooser::record(double seconds) {
  ++count_;
  if (trial_ == kTrials) {
    if (keep_ > 0 && --keep_ == 0) {
      trial_ = 0;
      team_ = threads_;
      per_step_[0] = per_step_[1] = 0.0;
      trial_steps_ = count_ = 0;
    }
    return;
  }
  // The first step after a change of team is not timed: the threads wake
  // up and the caches fill.
  if (count_ == 1) return;
  seconds_ += seconds;
  if (count_ > kTrialSteps && seconds_ >= kTrialSeconds) end_trial();
}

void TeamChooser::end_trial() {
  per_step_[trial_ % 2] += seconds_ / static_cast<double>(count_ - 1);
  trial_steps_ += count_;
  count_ = 0;
  seconds_ = 0.0;
  if (++trial_ < kTrials) {
    team_ = trial_ % 2 == 0 ? threads_ : 1;
    return;
  }
  const int chosen = per_step_[0] < per_step_[1] ? threads_ : 1;
  // A trial costs what the slower team loses: a choice made again, and
  // clearly, is kept longer.
  const double faster = std::min(per_step_[0], per_step_[1]);
  const double slower = std::max(per_step_[0], per_step_[1]);
  const bool confirmed = chosen == chosen_ && kClearRatio * faster <= slower;
  // The first trials run as the run starts up (its first files are
  // written, the caches fill): a time slice lost then can turn them, so
  // their choice is kept only as long as they took, unless the other team
  // was ten times as slow (a busy machine, whose trials cost dear).
  const bool cold = chosen_ == 0 && slower < kBusyRatio * faster;
  team_ = chosen;
  if (cold) {
    chosen_ = -1;  // nothing for the next trials to confirm
    keep_ = kColdKeep * trial_steps_;
    return;
  }
  chosen_ = chosen;
  keep_ = std::min(keep_factor_ * (confirmed ? kClearKeep : 1), kLongestKeep) * trial_steps_;
  keep_factor_ = std::min(2 * keep_factor_, kLongestKeep);
}

}  // namespace mps
