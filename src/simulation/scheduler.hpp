#pragma once
// How the cells of a step are shared among threads, and when a team is
// used at all.  The whole policy:
//
//   A step forks a team only when it is large enough to pay for the fork
//   and the barriers (kMinCellsToFork grid cells or kMinMediumCellsToFork
//   medium cells); otherwise it runs on the calling thread and the output
//   threads take the idle cores.  A step that may fork is timed now and
//   then on the whole team and on one thread (TeamChooser's trials), and
//   the faster is kept for a while, so a thread that another process keeps
//   from its core never makes the run slower than one thread.  In a team,
//   the field's cells are cut into equal consecutive shares; the dot blocks
//   are cut into consecutive runs whose foreseen cost (each block's cost in
//   the last step) follows each thread's measured speed, and a thread that
//   finishes its run helps with the runs left, kHelpBlocks blocks at a
//   time.  A serial task of the run's own (the budget's sum) overlaps the
//   dot blocks on the last run's thread, which the split then gives less.
//
// Results never depend on any of it: every cell is computed the same way
// whichever thread takes it.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "medium/medium_update.hpp"

namespace mps {

// Streaming loops over fewer cells than this run on the calling thread: a
// fork and barrier cost more than the work itself.
inline constexpr std::int32_t kMinCellsToFork = 20000;
// The same for the medium update, whose cells cost far more each.
inline constexpr std::int64_t kMinMediumCellsToFork = 64;

// Whether the steps of a grid of cells 0..N with `medium_cells` passive and
// dot cells may fork a team.
inline bool team_pays(std::int32_t N, std::size_t medium_cells) {
  return static_cast<std::int64_t>(N) - 1 >= kMinCellsToFork ||
         static_cast<std::int64_t>(medium_cells) >= kMinMediumCellsToFork;
}

// The output threads of a run of `threads` threads: one beside steps that
// fork (the loop's thread joins them where it would wait), else one on each
// core the steps leave idle.
inline int output_threads(bool steps_fork, int threads) {
  return steps_fork ? 1 : std::max(threads - 1, 1);
}

// Chooses the threads of each step from how fast the steps go.
//
// Trials: the steps run on the whole team and on one thread in turn, in
// kTrials interleaved trials (a change of the machine's speed meanwhile
// hits both alike), each at least kTrialSteps timed steps and
// kTrialSeconds long, enough to span the operating system's time slices.
// Keep: the faster is kept for a multiple of the time the trials took (so
// a trial's loss stays a small share of the run), counted in the kept
// team's steps.  The multiple is kColdKeep after the first trials (made as
// the run starts up, cold), then kFirstKeep, doubled after each trial up
// to kLongestKeep, and kClearKeep times that when the same choice is made
// again and clearly (by kClearRatio).
// Busy machine: when the team is kBusyRatio times as slow as one thread,
// one thread is kept for kLongestKeep at once, and a trial of such slow
// steps ends after two timed steps and kSlowTrialSeconds.
class TeamChooser {
 public:
  // `threads`: the most a step may use; `worth_trying`: whether the step is
  // large enough for a team to be worth a trial at all (team_pays).
  TeamChooser(int threads, bool worth_trying);

  // The threads of the next step.
  int team() const { return team_; }
  // Whether record() wants the steps' times (not once the team is one
  // thread for good).
  bool timed() const { return keep_ != -1; }
  // The last step took `seconds` on team() threads.
  void record(double seconds);

  static constexpr int kTrials = 4;                  // team, one thread, team, one
  static constexpr int kTrialSteps = 4;              // enough steps to average a trial
  static constexpr double kTrialSeconds = 0.005;     // a few of the scheduler's time slices
  static constexpr double kSlowTrialSeconds = 0.01;  // a slow trial needs no more steps
  static constexpr std::int64_t kColdKeep = 1;       // cold trials can be turned by a lost slice
  static constexpr std::int64_t kFirstKeep = 4;      // a trial then costs a fifth of the time
  static constexpr std::int64_t kLongestKeep = 48;   // a load that changes is still followed
  static constexpr std::int64_t kClearKeep = 4;      // a confirmed choice needs fewer trials
  static constexpr double kClearRatio = 1.25;        // the slower's time to the faster's: clear
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

// The next block of a run of dot blocks that no thread has taken yet.
// Alone in its cache line: the owner takes its blocks without the others'
// stores in the way.
struct alignas(64) BlockClaim {
  std::atomic<std::int32_t> next{0};
  BlockClaim() = default;
  BlockClaim(const BlockClaim& other) : next(other.next.load(std::memory_order_relaxed)) {}
  BlockClaim& operator=(const BlockClaim& other) {
    next.store(other.next.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
  }
};

// How the threads of a team share the dot blocks of a step: thread t takes
// blocks [first[t], first[t + 1]) and, once done, helps the others with
// theirs.  The runs change little from step to step, so a thread finds its
// cells' values in its own cache.
struct DotBlockShare {
  // A block's loads and stores, in evaluations of its cost.
  static constexpr std::int64_t kBlockOverhead = 2;
  // Blocks a helper claims at once: few, so that the owner is rarely
  // held up, more than one, so that claims are rare.
  static constexpr std::int32_t kHelpBlocks = 2;
  // Weight of a step's measured speed in a thread's smoothed speed (about
  // four steps' memory): enough to follow a change of load within a trial.
  static constexpr double kSpeedWeight = 0.25;

  std::vector<std::int32_t> block_cost;  // [block] its cost in the last step
  std::vector<std::int32_t> first;       // [thread] its run's first block; [threads]: the end
  std::vector<BlockClaim> claim;         // [thread] the next unclaimed block of its run
  std::vector<std::int64_t> cost;        // [thread] the cost of the blocks it took in the step
  std::vector<double> seconds;           // [thread] the time they took
  std::vector<double> speed;             // [thread] cost per second; 0 until measured

  // A layout of `blocks` dot blocks (after classify): every block costs 1.
  void reset(std::int32_t blocks);
  // Cuts the blocks into runs for `threads` threads, before the team
  // starts (so the team needs no barrier for it).
  void share(int threads);
};

// A serial task that overlaps the medium's update (the sum of the last
// step's work terms, whose order is fixed): the thread of the last run does
// it before its blocks, and its time counts as that thread's, so the next
// split gives that thread fewer blocks.
using OverlapTask = std::function<void()>;

// The medium of every passive and dot cell over one step, and `overlap`
// unless empty.  Called by every thread of a parallel region, which share
// the cells as `share` has it (share() for as many threads); outside a
// region all on the caller.  Returns this thread's right-hand-side
// evaluations.
std::int64_t advance_medium_in_team(const MediumSweep& sweep, DotBlockShare& share,
                                    const OverlapTask& overlap = {});

}  // namespace mps
