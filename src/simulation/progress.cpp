#include "simulation/progress.hpp"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace mps {

std::string progress_text(std::int64_t done, std::int64_t total, double seconds) {
  const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  char left[32] = "--:--";
  if (rate > 0.0) {
    // Whole seconds, rounded up: a run never shows 0:00:00 with steps to go.
    const auto s = static_cast<long long>(static_cast<double>(total - done) / rate + 0.999);
    std::snprintf(left, sizeof left, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  }
  const double percent =
      total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0;
  char line[160];
  std::snprintf(line, sizeof line, " mps1d: %5.1f %% of %lld steps, %.0f steps/s, %s left", percent,
                static_cast<long long>(total), rate, left);
  return line;
}

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
  *out_ << '\r' << progress_text(J - first_, last_ - first_, seconds) << "   " << std::flush;
  visible_ = true;
}

void Progress::clear() {
  if (!visible_) return;
  // Back to the line's start and erase to its end, however long it was.
  *out_ << "\r\033[K" << std::flush;
  visible_ = false;
}

}  // namespace mps
