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
  switch (phase_) {
    case Phase::all:
    case Phase::one: {
      // The first step after a change of team is not timed: the threads
      // wake up and the caches fill.
      if (count_ > 1) (phase_ == Phase::all ? all_ : one_) += seconds;
      if (count_ > kTrialSteps) next_phase();
      break;
    }
    case Phase::keep:
      if (keep_ > 0 && --keep_ == 0) next_phase();
      break;
  }
}

void TeamChooser::next_phase() {
  count_ = 0;
  if (phase_ == Phase::all) {
    phase_ = Phase::one;
    team_ = 1;
  } else if (phase_ == Phase::one) {
    phase_ = Phase::keep;
    team_ = all_ < one_ ? threads_ : 1;
    keep_ = static_cast<std::int64_t>(kKeepFactor) * kTrialSteps;
  } else {
    phase_ = Phase::all;
    team_ = threads_;
    all_ = one_ = 0.0;
  }
}

}  // namespace mps
