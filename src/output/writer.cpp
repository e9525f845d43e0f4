#include "output/writer.hpp"

#include <algorithm>
#include <utility>

#include "core/floating_point.hpp"

namespace mps {

BackgroundWriter::BackgroundWriter(std::size_t bound, int threads) : bound_(bound) {
  for (int n = 0; n < std::max(threads, 1); ++n) threads_.emplace_back([this] { worker(); });
}

BackgroundWriter::~BackgroundWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
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
  const bool too_big = job.bytes > bound_;
  help_until(lock, [&] {
    return error_ != nullptr || (too_big ? queue_.empty() : queued_bytes_ + job.bytes <= bound_);
  });
  rethrow();
  queued_bytes_ += job.bytes;
  queue_.push_back({std::move(job)});
  changed_.notify_all();
  if (too_big) {
    // It reads the live arrays: written before the loop goes on.
    help_until(lock, [&] { return queue_.empty(); });
    rethrow();
  }
}

void BackgroundWriter::submit(std::function<void()> work, std::size_t bytes) {
  submit(WriterJob{{}, std::move(work), bytes});
}

void BackgroundWriter::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  help_until(lock, [&] { return queue_.empty(); });
  rethrow();
}

}  // namespace mps
