#include "output/writer.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/floating_point.hpp"
#include "core/parallel.hpp"

namespace mps {

BackgroundWriter::BackgroundWriter(std::size_t bound, int threads) : bound_(bound) {
  for (int n = 0; n < threads; ++n) threads_.emplace_back([this] { worker(); });
}

BackgroundWriter::~BackgroundWriter() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    help_until(lock, [this] { return queue_.empty(); });  // tasks and closings throw nothing
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void BackgroundWriter::run_task(std::unique_lock<std::mutex>& lock, Queued& head) {
  const std::size_t n = head.next++;
  ++head.running;
  lock.unlock();
  std::exception_ptr failed;
  try {
    head.job.tasks[n]();
  } catch (...) {
    failed = std::current_exception();
  }
  lock.lock();
  --head.running;  // the deque's front stays in place while a task of it runs
  if (failed && !failed_) {
    failed_ = true;
    error_ = failed;
  }
  changed_.notify_all();
}

void BackgroundWriter::close_head(std::unique_lock<std::mutex>& lock) {
  Queued& head = queue_.front();
  head.closing = true;
  std::exception_ptr failed;
  if (!failed_ && head.job.close) {
    lock.unlock();
    try {
      head.job.close();
    } catch (...) {
      failed = std::current_exception();
    }
    lock.lock();
  }
  if (failed && !failed_) {
    failed_ = true;
    error_ = failed;
  }
  queued_bytes_ -= head.job.bytes;
  queue_.pop_front();
  changed_.notify_all();
}

// One piece of work of the front job, if there is one: a task, or its
// closing once every task is done.  After an error the job's remaining
// tasks are skipped and it is dropped without closing.
bool BackgroundWriter::work_once(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) return false;
  Queued& head = queue_.front();
  if (head.closing) return false;
  if (failed_) head.next = head.job.tasks.size();
  if (head.next < head.job.tasks.size()) {
    run_task(lock, head);
    return true;
  }
  if (head.running > 0) return false;
  close_head(lock);
  return true;
}

void BackgroundWriter::worker() {
  enable_flush_to_zero();  // the writers format numbers like every other thread
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (work_once(lock)) continue;
    if (stopping_ && queue_.empty()) return;
    changed_.wait(lock);
  }
}

void BackgroundWriter::help_until(std::unique_lock<std::mutex>& lock,
                                  const std::function<bool()>& done) {
  while (!done()) {
    if (!work_once(lock)) changed_.wait(lock);
  }
}

void BackgroundWriter::rethrow() {
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void BackgroundWriter::submit(WriterJob job) {
  std::unique_lock<std::mutex> lock(mutex_);
  rethrow();
  if (failed_) return;  // reported already; nothing more is written
  const bool blocking = job.borrows || job.bytes > bound_;
  help_until(lock, [&] {
    return error_ != nullptr || (blocking ? queue_.empty() : queued_bytes_ + job.bytes <= bound_);
  });
  rethrow();
  queued_bytes_ += job.bytes;
  queue_.push_back({std::move(job)});
  changed_.notify_all();
  if (blocking) {
    // It reads the live arrays, or holds more than the bound: done before
    // the loop goes on.
    help_until(lock, [&] { return queue_.empty(); });
    rethrow();
  }
}

void BackgroundWriter::submit(Task work, std::size_t bytes) {
  submit(WriterJob{{}, std::move(work), bytes, false});
}

void BackgroundWriter::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  help_until(lock, [&] { return queue_.empty(); });
  rethrow();
}

void run_tasks(std::vector<Task> tasks, int threads) {
  if (threads <= 0) threads = run_threads();
  // The caller is one of the threads; no more than there are tasks.
  const std::size_t used =
      std::clamp<std::size_t>(tasks.size(), 1, static_cast<std::size_t>(threads));
  BackgroundWriter writer(std::numeric_limits<std::size_t>::max(), static_cast<int>(used) - 1);
  writer.submit(WriterJob{std::move(tasks), {}, 0, true});
  writer.finish();
}

}  // namespace mps
