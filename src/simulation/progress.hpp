#pragma once
// Progress of a long run on standard error when it is a terminal: percent
// of all steps, steps per second and the time left, one line rewritten.
#include <chrono>
#include <cstdint>
#include <iosfwd>

namespace mps {

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
