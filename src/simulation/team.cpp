#include "simulation/team.hpp"

namespace mps {

TeamChooser::TeamChooser(int threads, bool worth_trying) : threads_(threads) {
  if (threads_ > 1 && worth_trying) {
    phase_ = Phase::all;
    team_ = threads_;
  } else {
    keep_ = -1;  // one thread for good
  }
}

void TeamChooser::record(double seconds) {
  ++count_;
  if (phase_ == Phase::keep) {
    if (keep_ > 0 && --keep_ == 0) next_phase();
    return;
  }
  // The first step after a change of team is not timed: the threads wake
  // up and the caches fill.
  if (count_ == 1) return;
  seconds_ += seconds;
  if (count_ > kTrialSteps && seconds_ >= kTrialSeconds) next_phase();
}

void TeamChooser::next_phase() {
  const double per_step = count_ > 1 ? seconds_ / static_cast<double>(count_ - 1) : 0.0;
  trial_steps_ += count_;
  count_ = 0;
  seconds_ = 0.0;
  if (phase_ == Phase::all) {
    per_step_all_ = per_step;
    phase_ = Phase::one;
    team_ = 1;
  } else if (phase_ == Phase::one) {
    phase_ = Phase::keep;
    team_ = per_step_all_ < per_step ? threads_ : 1;
    keep_ = kKeepFactor * trial_steps_;
  } else {
    phase_ = Phase::all;
    team_ = threads_;
    trial_steps_ = 0;
  }
}

}  // namespace mps
