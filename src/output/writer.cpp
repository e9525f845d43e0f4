#include "output/writer.hpp"

#include <utility>

#include "core/floating_point.hpp"

namespace mps {

BackgroundWriter::BackgroundWriter(std::size_t bound) : bound_(bound) {
  thread_ = std::thread([this] { run(); });
}

BackgroundWriter::~BackgroundWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundWriter::run() {
  // The writer and its team format numbers like every other thread.
  enable_flush_to_zero_all_threads();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left to write
    Job job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    std::exception_ptr failed;
    // After an error the later jobs are dropped: the run stops with it, and
    // "point.txt" must not list a step after one whose files failed.
    if (!failed_) {
      try {
        job.work();
      } catch (...) {
        failed = std::current_exception();
      }
    }
    lock.lock();
    if (failed) {
      failed_ = true;
      error_ = failed;
    }
    queued_bytes_ -= job.bytes;
    busy_ = false;
    changed_.notify_all();
  }
}

void BackgroundWriter::wait_until_empty(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void BackgroundWriter::rethrow() {
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void BackgroundWriter::submit(std::function<void()> job, std::size_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  rethrow();
  if (bytes > bound_) {
    wait_until_empty(lock);
    rethrow();
    lock.unlock();
    job();
    return;
  }
  changed_.wait(lock, [&] { return queued_bytes_ + bytes <= bound_ || error_; });
  rethrow();
  queue_.push_back({std::move(job), bytes});
  queued_bytes_ += bytes;
  changed_.notify_all();
}

void BackgroundWriter::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  wait_until_empty(lock);
  rethrow();
}

}  // namespace mps
