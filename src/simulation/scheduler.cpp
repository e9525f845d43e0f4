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
  trial_seconds_ += seconds;
  // The first step after a change of team is not timed: the threads wake
  // up and the caches fill.
  if (count_ == 1) return;
  seconds_ += seconds;
  if ((count_ > kTrialSteps && seconds_ >= kTrialSeconds) ||
      (count_ > 2 && seconds_ >= kSlowTrialSeconds)) {
    end_trial();
  }
}

std::int64_t TeamChooser::keep_steps(std::int64_t factor, int chosen) const {
  // per_step_ holds the sums of two trials' means.
  const double per_step = 0.5 * per_step_[chosen == threads_ ? 0 : 1];
  const auto by_steps = factor * trial_steps_;
  if (!(per_step > 0.0)) return by_steps;
  const double by_time = std::min(static_cast<double>(factor) * trial_seconds_ / per_step, 1e15);
  return by_time > static_cast<double>(by_steps) ? static_cast<std::int64_t>(by_time) : by_steps;
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
  const bool busy = chosen == 1 && slower >= kBusyRatio * faster;
  const bool cold = chosen_ == 0 && !busy;
  team_ = chosen;
  std::int64_t factor = std::min(keep_factor_ * (confirmed ? kClearKeep : 1), kLongestKeep);
  if (cold) {
    chosen_ = -1;  // nothing for the next trials to confirm
    factor = kColdKeep;
  } else {
    chosen_ = chosen;
    keep_factor_ = std::min(2 * keep_factor_, kLongestKeep);
    if (busy) factor = kLongestKeep;
  }
  keep_ = keep_steps(factor, chosen);
  trial_seconds_ = 0.0;
}

}  // namespace mps
