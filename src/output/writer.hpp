#pragma once
// The output's threads: the one way result files are written off the
// calling thread.  The time loop hands each snapshot to a BackgroundWriter
// and goes on computing while the files are formatted, compressed and
// flushed; a caller that wants a set of files written before it goes on
// uses run_tasks(), which runs them through a writer of its own.  (OpenMP
// is for the cell loops of a step, never for output.)
//
// Threads.  Tasks and close steps run on the writer's threads and on the
// thread that calls submit() or finish() (the loop's): where that thread
// would wait (the queue full, a job that borrows, the end of the run) it
// takes tasks itself, so the output's work is shared by every thread the
// run has.  submit(), finish() and the destructor are for one thread, the
// writer's owner.
//
// What a task may touch: only what it owns or share-owns (captured by
// value: copies, shared_ptr<const T> to immutable copies) and the files it
// writes, which no other task of its job writes.  It must not read the
// run's live state, which the loop changes meanwhile, with one exception
// made explicit: a job with `borrows` set (pointers from borrow()) is
// finished before submit() returns.  A close step may also write what only
// close steps write (files shared by all jobs, such as "point.txt", and a
// stream or record handed to it): close steps run one at a time, in job
// order.  Anything a task or close step refers to without owning it (a
// stream, the run's input) must outlive the writer: declare the writer
// after it, so the destructor has finished every job first.
//
// Order.  Jobs run one after the other in the order they were submitted: a
// job's tasks start only once the job before it has closed, so files shared
// by all snapshots ("gamma.dat") are written in step order, and "point.txt"
// lists a step only after its files are on the disk.
//
// Memory.  The jobs queued hold at most the bound's bytes of copies
// (WriterJob::bytes); submit() waits, helping, until a job fits.  A job
// larger than the whole bound waits for the queue to empty and is finished
// before submit() returns, so a run never holds more than one bound's worth
// of copies or one job's.
//
// Errors.  A task's or close step's exception is kept and thrown on the
// owner's thread at its next submit() or finish(); the job does not close
// (its step is not listed), its remaining tasks and the later jobs are
// dropped, and nothing more is written.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mps {

// A piece of output work: writes files of its own from data it owns.
using Task = std::function<void()>;

// `live` behind a pointer that owns nothing (an aliasing pointer with no
// owner), for the tasks of a job that sets WriterJob::borrows, or of
// run_tasks(): both are finished before the call returns, so the caller's
// object outlives every task that reads it.  Everywhere else tasks
// share-own copies.
template <typename T>
std::shared_ptr<const T> borrow(const T& live) {
  return std::shared_ptr<const T>(std::shared_ptr<const T>(), &live);
}

struct WriterJob {
  std::vector<Task> tasks;  // may run at once, in any order, on any of the threads
  Task close;               // after every task, before the next job; may be empty
  std::size_t bytes = 0;    // of the copies the tasks share-own, held until the job closes
  bool borrows = false;     // the tasks read the caller's live data: done before submit() returns
};

class BackgroundWriter {
 public:
  // Bytes of copies the queue may hold [bytes].
  static constexpr std::size_t kDefaultBound = std::size_t{32} << 20;

  // `threads` writer threads besides the owner's (0: the owner's alone, at
  // submit() and finish()).
  explicit BackgroundWriter(std::size_t bound = kDefaultBound, int threads = 1);
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;
  // Writes what is queued, helping, then stops the threads; an error is
  // dropped here (call finish() to see it).
  ~BackgroundWriter();

  std::size_t bound() const { return bound_; }
  // Queues `job`; throws the error of an earlier one.
  void submit(WriterJob job);
  // A job of one piece of work.
  void submit(Task work, std::size_t bytes);
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
  std::mutex mutex_;  // guards everything below; never held while a task or close step runs
  std::condition_variable changed_;
  std::deque<Queued> queue_;
  std::size_t queued_bytes_ = 0;
  bool stopping_ = false;
  bool failed_ = false;  // a task failed: its job and the later ones are dropped
  std::exception_ptr error_;
  std::vector<std::thread> threads_;
};

// Runs `tasks` over `threads` threads (the caller's and threads - 1 more; 0:
// as many as the run has) and returns once every one has run; the first
// error is thrown then, and tasks not yet started when it happened are
// skipped.  Tasks may borrow() the caller's data.
void run_tasks(std::vector<Task> tasks, int threads = 0);

}  // namespace mps
