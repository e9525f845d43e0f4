#pragma once
// A background thread that writes the result files, so the time loop goes
// on computing while a snapshot is formatted, compressed and flushed.
//
// Jobs run one after the other in the order they were submitted, so the
// order of the files on disk (and "point.txt" last for each step) is the
// order the loop would have written them in.  The queue is bounded by the
// bytes the jobs hold: the loop waits when it is full, and a job larger than
// the whole bound (a snapshot of a very large grid) runs on the calling
// thread after the queue has drained, so a run never holds more than one
// bound's worth of copies.  A job's exception is kept and thrown on the
// loop's thread at its next submit() or at finish().
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace mps {

class BackgroundWriter {
 public:
  // Bytes of copies the queue may hold [bytes].
  static constexpr std::size_t kDefaultBound = std::size_t{32} << 20;

  explicit BackgroundWriter(std::size_t bound = kDefaultBound);
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;
  // Writes what is queued, then stops the thread; an error is dropped here
  // (call finish() to see it).
  ~BackgroundWriter();

  // Queues `job`, which holds `bytes` of data; throws the error of an
  // earlier job.
  void submit(std::function<void()> job, std::size_t bytes);
  // Waits until every job has run; throws the first error of one.
  void finish();

 private:
  struct Job {
    std::function<void()> work;
    std::size_t bytes = 0;
  };
  void run();
  void wait_until_empty(std::unique_lock<std::mutex>& lock);
  void rethrow();

  std::size_t bound_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> queue_;
  std::size_t queued_bytes_ = 0;
  bool busy_ = false;
  bool stopping_ = false;
  bool failed_ = false;  // a job failed: the later ones are dropped
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace mps
