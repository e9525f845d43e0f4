#include "simulation/progress.hpp"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace mps {

Progress::Progress(std::ostream* stream, std::int64_t first, std::int64_t last)
    : first_(first), last_(last) {
  if (stream == &std::cerr && ::isatty(STDERR_FILENO) != 0) out_ = stream;
}

void Progress::show(std::int64_t J, std::chrono::steady_clock::time_point start) {
  if (out_ == nullptr || (J & 63) != 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - shown_ < std::chrono::milliseconds(500)) return;
  shown_ = now;
  const double seconds = std::chrono::duration<double>(now - start).count();
  const double done = static_cast<double>(J - first_);
  const double rate = seconds > 0.0 ? done / seconds : 0.0;
  const double left = rate > 0.0 ? static_cast<double>(last_ - J) / rate : 0.0;
  char line[128];
  std::snprintf(
      line, sizeof line, "\r mps1d: %5.1f %% of %lld steps, %.0f steps/s, %d:%02d left   ",
      100.0 * done / static_cast<double>(last_ - first_), static_cast<long long>(last_ - first_),
      rate, static_cast<int>(left) / 60, static_cast<int>(left) % 60);
  *out_ << line << std::flush;
  visible_ = true;
}

void Progress::clear() {
  if (!visible_) return;
  // Back to the line's start and erase to its end, however long it was.
  *out_ << "\r\033[K" << std::flush;
  visible_ = false;
}

}  // namespace mps
