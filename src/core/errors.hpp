#pragma once
// Typed errors raised where a problem is found; the entry point turns each
// into its console report and a non-zero exit status.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace mps {

// A rejected value: ends the run with the parameter error report
// (message in a 100-character field, "Please correct parameter ", pause).
// `pause` is false for the few rejections that end without waiting.
class ParameterError : public std::runtime_error {
 public:
  explicit ParameterError(const std::string& message, bool pause = true, bool padded = true)
      : std::runtime_error(message), pause_(pause), padded_(padded) {}
  bool pause() const { return pause_; }
  // False for the one report whose message line is not a 100-character field.
  bool padded() const { return padded_; }

 private:
  bool pause_;
  bool padded_;
};

// A rejection that prints its one line and ends at once, without the
// parameter report layout and without waiting (invalid polarisation).
class FatalMessage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A line of the input file that cannot be read, or an input that ends early:
// ends the run with the read error report, which names the current error
// label.  `detail` says where and what, for the standard-error line.
class ReadError : public std::runtime_error {
 public:
  // `place`: the file, the line and what was being read there; `label`:
  // the section's label, when it has one; `detail`: the whole story.
  ReadError(std::string place, std::string label, std::string detail)
      : std::runtime_error(detail), place_(std::move(place)), label_(std::move(label)) {}
  const std::string& place() const { return place_; }
  const std::string& label() const { return label_; }

 private:
  std::string place_;
  std::string label_;
};

// A file or folder that cannot be read or written: names the path and the
// system's reason.
class IoError : public std::runtime_error {
 public:
  IoError(std::string path, const std::string& what)
      : std::runtime_error(what), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The run needs more than the machine has (memory): exit status 3.
class ResourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A field or medium value that is no longer finite during the run: the run
// stops at the next snapshot, keeps what it wrote, exit status 4.
class NonFiniteError : public std::runtime_error {
 public:
  NonFiniteError(const std::string& message, std::int64_t step)
      : std::runtime_error(message), step_(step) {}
  std::int64_t step() const { return step_; }  // the last step computed

 private:
  std::int64_t step_;
};

}  // namespace mps
