#pragma once
// Test helpers: a temporary folder removed at the end of the test, and a
// way to run the program in a folder as a user would.
#include <set>
#include <string>
#include <vector>

namespace mps::testing {

class ScratchDir {
 public:
  // A new folder inside `parent`; empty: the system's temporary folder.
  explicit ScratchDir(const std::string& parent = {});
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }  // ends in '/'
  std::string file(const std::string& name) const { return path_ + name; }
  void make_dir(const std::string& name) const;
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;
  // Content of a gzip-compressed file, decompressed.
  std::string read_gz(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

struct ProgramResult {
  int exit_status = -1;    // 128 + signal number when a signal ended the program
  bool timed_out = false;  // killed after the time limit
  std::string out;
  std::string err;
};

// Bounds of one run; zero means no bound.
struct RunLimits {
  double timeout_seconds = 0.0;          // then SIGKILL, and `timed_out` is set
  unsigned long long address_space = 0;  // RLIMIT_AS of the program, in bytes
};

// Runs `program` with `args` in `folder`, standard input from /dev/null;
// waits for it (at most the time limit) and returns its exit status and output.
ProgramResult run_in(const std::string& program, const std::string& folder,
                     const std::vector<std::string>& args = {}, const RunLimits& limits = {});

// Content of a file, decompressed when it is a gzip stream (plain files
// pass through); empty when it cannot be opened.
std::string read_any(const std::string& path);

// Names of the entries directly inside a folder.
std::set<std::string> files_in(const std::string& folder);

// Lines of a text (without their line ends).
std::vector<std::string> split_lines(const std::string& text);

// Text of an example input file.
std::string example_input(const std::string& name);

// The quickstart input cut down to one short block (LL = 10, Nt = 0), for
// tests of the set-up and of the console.
std::string short_quickstart();

// Replaces the 1-based line `number` of `text` by `line`.
std::string replace_line(const std::string& text, int number, const std::string& line);

}  // namespace mps::testing
