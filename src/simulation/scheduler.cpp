#include "simulation/scheduler.hpp"

#include <omp.h>

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

void DotBlockShare::reset(std::int32_t blocks) {
  block_cost.assign(static_cast<std::size_t>(blocks), 1);
}

namespace {

// The threads' speeds updated from the last step; true once every thread
// has one.
bool update_speeds(DotBlockShare& s, int parts) {
  const auto n = static_cast<std::size_t>(parts);
  if (s.speed.size() != n) {
    s.speed.assign(n, 0.0);
    s.seconds.assign(n, 0.0);
    s.cost.assign(n, 0);
  }
  bool known = true;
  constexpr double kept = 1.0 - DotBlockShare::kSpeedWeight;
  for (std::size_t t = 0; t < n; ++t) {
    if (s.cost[t] > 0 && s.seconds[t] > 0.0) {
      const double v = static_cast<double>(s.cost[t]) / s.seconds[t];
      s.speed[t] = s.speed[t] > 0.0 ? kept * s.speed[t] + DotBlockShare::kSpeedWeight * v : v;
    }
    known = known && s.speed[t] > 0.0;
  }
  return known;
}

}  // namespace

// Run p gets a cost (the last step's evaluations plus the loading and
// storing of a block) in proportion to thread p's speed (equal shares
// until every thread has one).
void DotBlockShare::share(int parts) {
  const bool known = update_speeds(*this, parts);
  const auto weight = [&](std::size_t p) { return known ? speed[p] : 1.0; };
  double total = 0.0;
  for (const std::int32_t c : block_cost) total += static_cast<double>(c + kBlockOverhead);
  double weights = 0.0;
  for (std::size_t p = 0; p < static_cast<std::size_t>(parts); ++p) weights += weight(p);
  first.assign(static_cast<std::size_t>(parts) + 1, static_cast<std::int32_t>(block_cost.size()));
  first[0] = 0;
  std::fill(cost.begin(), cost.end(), 0);
  std::fill(seconds.begin(), seconds.end(), 0.0);
  std::size_t p = 0;
  double sum = 0.0, target = total * weight(0) / weights;
  for (std::size_t n = 0; n < block_cost.size(); ++n) {
    if (sum >= target && p + 1 < static_cast<std::size_t>(parts)) {
      first[++p] = static_cast<std::int32_t>(n);
      target += total * weight(p) / weights;
    }
    sum += static_cast<double>(block_cost[n] + kBlockOverhead);
  }
  claim.resize(static_cast<std::size_t>(parts));
  for (std::size_t q = 0; q < claim.size(); ++q) {
    claim[q].next.store(first[q], std::memory_order_relaxed);
  }
}

namespace {

// A thread's dot blocks of a step: the blocks of run p it can claim, with
// what they cost.
class BlockWork {
 public:
  BlockWork(const MediumSweep& sweep, DotBlockShare& share) : sweep_(sweep), share_(share) {}

  // The blocks of run p no other thread has taken; with `alone`, all of
  // them without claiming.
  void take_part(std::size_t p, bool alone) {
    const std::int32_t end = share_.first[p + 1];
    std::atomic<std::int32_t>& next = share_.claim[p].next;
    const std::int32_t chunk = alone ? end : DotBlockShare::kHelpBlocks;
    for (;;) {
      const std::int32_t from = next.fetch_add(chunk, std::memory_order_relaxed);
      if (from >= end) return;
      take_blocks(from, std::min(from + chunk, end));
    }
  }
  std::int64_t evaluations() const { return evaluations_; }
  std::int64_t cost() const { return cost_; }

 private:
  void take_blocks(std::int32_t from, std::int32_t to) {
    for (std::int32_t n = from; n < to; ++n) {
      const BlockEffort effort = advance_dot_block(sweep_, n, scratch_);
      share_.block_cost[static_cast<std::size_t>(n)] = effort.cost;
      evaluations_ += effort.evaluations;
      cost_ += effort.cost + DotBlockShare::kBlockOverhead;
    }
  }

  const MediumSweep& sweep_;
  DotBlockShare& share_;
  DotScratch scratch_;
  std::int64_t evaluations_ = 0, cost_ = 0;
};

}  // namespace

// A batch costs 1 to 20 evaluations per lane, and the cost moves with the
// light: hence runs by cost, and the helping.
std::int64_t advance_medium_in_team(const MediumSweep& sweep, DotBlockShare& share,
                                    const OverlapTask& overlap) {
  const auto passive = static_cast<std::int64_t>(sweep.m.passive_slots.size());
#pragma omp for schedule(static) nowait
  for (std::int64_t n = 0; n < passive; ++n) {
    carry_passive_cell(sweep, sweep.m.passive_slots[static_cast<std::size_t>(n)]);
  }
  // Run p to thread p; a team smaller than the share (as OpenMP may give)
  // takes the runs round.  Then every thread helps with the runs left.
  const auto threads = static_cast<std::size_t>(omp_get_num_threads());
  const auto thread = static_cast<std::size_t>(omp_get_thread_num());
  const std::size_t parts = share.first.size() - 1;
  BlockWork work(sweep, share);
  const bool timed = parts > 1;  // a thread's speed counts only beside another's
  const double started = timed ? omp_get_wtime() : 0.0;
  if ((parts - 1) % threads == thread && overlap) overlap();
  const bool alone = threads == 1;
  for (std::size_t p = thread; p < parts; p += threads) work.take_part(p, alone);
  for (std::size_t q = 1; q < parts; ++q) work.take_part((thread + q) % parts, alone);
  if (timed && thread < parts) {
    share.seconds[thread] = omp_get_wtime() - started;
    share.cost[thread] = work.cost();
  }
  return work.evaluations();
}

}  // namespace mps
