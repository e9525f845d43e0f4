#pragma once
// Background threads that write the result files, so the time loop goes on
// computing while a snapshot is formatted, compressed and flushed.
//
// A job is a set of tasks (one file or a few each) that may run at once, in
// any order, and a closing step run after all of them (flush to the disk,
// the step's line in "point.txt").  Jobs run one after the other in the
// order they were submitted: a job's tasks start only once the job before
// it has closed, so files shared by all snapshots ("gamma.dat") are written
// in step order, and "point.txt" lists a step only after its files.
//
// The queue is bounded by the bytes the jobs hold.  Where the loop would
// wait (the queue full, the end of the run) it takes tasks itself, so the
// output's work is shared by every thread the run has.  A job larger than
// the whole bound (a snapshot of a very large grid, written from the live
// arrays) is written before submit() returns, so a run never holds more
// than one bound's worth of copies.  A task's exception is kept and thrown
// on the loop's thread at its next submit() or at finish(); the job does
// not close, and later jobs are dropped.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace mps {

struct WriterJob {
  std::vector<std::function<void()>> tasks;  // may run at once, in any order
  std::function<void()> close;               // after every task; may be empty
  std::size_t bytes = 0;                     // of copies the job holds
};

class BackgroundWriter {
 public:
  // Bytes of copies the queue may hold [bytes].
  static constexpr std::size_t kDefaultBound = std::size_t{32} << 20;

  explicit BackgroundWriter(std::size_t bound = kDefaultBound, int threads = 1);
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;
  // Writes what is queued, then stops the threads; an error is dropped here
  // (call finish() to see it).
  ~BackgroundWriter();

  // Queues `job`; throws the error of an earlier one.
  void submit(WriterJob job);
  // A job of one piece of work.
  void submit(std::function<void()> work, std::size_t bytes);
  // Waits until every job has closed, taking tasks meanwhile; throws the
  // first error of one.
  void finish();

 private:
  struct Queued {
    WriterJob job;
    std::size_t next = 0;     // first task not yet taken
    std::size_t running = 0;  // tasks taken and not yet done
    bool closing = false;
  };
  bool work_once(std::unique_lock<std::mutex>& lock);
  void run_task(std::unique_lock<std::mutex>& lock, Queued& head);
  void close_head(std::unique_lock<std::mutex>& lock);
  void help_until(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done);
  void worker();
  void rethrow();

  std::size_t bound_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Queued> queue_;
  std::size_t queued_bytes_ = 0;
  bool stopping_ = false;
  bool failed_ = false;  // a task failed: its job and the later ones are dropped
  std::exception_ptr error_;
  std::vector<std::thread> threads_;
};

}  // namespace mps
