#pragma once
// Progress of a long run on standard error when it is a terminal: percent
// of all steps, steps per second and the time left, one line rewritten.
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace mps {

// The line for `done` of `total` steps after `seconds`: percent, steps per
// second and the estimated time left (H:MM:SS, "--:--" before a rate is
// known), e.g. " mps1d:  25.0 % of 200000 steps, 5000 steps/s, 0:00:30 left".
std::string progress_text(std::int64_t done, std::int64_t total, double seconds);

class Progress {
 public:
  Progress() = default;
  // `stream` is used only when it is standard error on a terminal.
  Progress(std::ostream* stream, std::int64_t first, std::int64_t last);
  // After step J; prints at most twice a second.
  void show(std::int64_t J, std::chrono::steady_clock::time_point start);
  // Removes the line (before anything else is printed on the terminal).
  void clear();

 private:
  std::ostream* out_ = nullptr;
  std::int64_t first_ = 0, last_ = 0;
  std::chrono::steady_clock::time_point shown_{};
  bool visible_ = false;
};

}  // namespace mps
