#include "support/scratch_dir.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mps::testing {

namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

ScratchDir::ScratchDir(const std::string& parent) {
  const fs::path root = parent.empty() ? fs::temp_directory_path() : fs::path(parent);
  std::string pattern = (root / "mps1d-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Write-protected folders made by a test must not block the clean-up.
  for (auto& entry : fs::recursive_directory_iterator(path_, ec)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

void ScratchDir::make_dir(const std::string& name) const { fs::create_directories(path_ + name); }

void ScratchDir::write(const std::string& name, const std::string& text) const {
  std::ofstream f(path_ + name, std::ios::binary);
  f << text;
}

std::string ScratchDir::read(const std::string& name) const { return slurp(path_ + name); }

std::string ScratchDir::read_gz(const std::string& name) const { return read_any(path_ + name); }

std::string read_any(const std::string& path) {
  std::string text;
  gzFile f = ::gzopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buffer[1 << 15];
  int n = 0;
  while ((n = ::gzread(f, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  ::gzclose(f);
  return text;
}

bool ScratchDir::exists(const std::string& name) const { return fs::exists(path_ + name); }

namespace {

// In the child: working folder, standard streams, limits, then the program.
[[noreturn]] void exec_child(const std::string& folder, const std::string& out_path,
                             const std::string& err_path, std::vector<char*>& argv,
                             const RunLimits& limits) {
  if (::chdir(folder.c_str()) != 0) ::_exit(127);
  const int in = ::open("/dev/null", O_RDONLY);
  const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  if (limits.address_space > 0) {
    const rlimit bound{limits.address_space, limits.address_space};
    ::setrlimit(RLIMIT_AS, &bound);
  }
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

// Waits for the child; past the time limit (if any) it is killed.  Polls
// every 2 ms: the runs are short, and a signal-based wait would interfere
// with the test framework's own handlers.
int wait_child(pid_t pid, double timeout_seconds, bool& timed_out) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  int status = 0;
  timed_out = false;
  while (true) {
    const pid_t done = ::waitpid(pid, &status, timeout_seconds > 0.0 ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    if (timeout_seconds > 0.0 && !timed_out && elapsed.count() > timeout_seconds) {
      ::kill(pid, SIGKILL);
      timed_out = true;
    }
    ::usleep(2000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProgramResult run_in(const std::string& program, const std::string& folder,
                     const std::vector<std::string>& args, const RunLimits& limits) {
  const std::string out_path = folder + ".stdout.txt";
  const std::string err_path = folder + ".stderr.txt";
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) exec_child(folder, out_path, err_path, argv, limits);
  ProgramResult r;
  r.exit_status = wait_child(pid, limits.timeout_seconds, r.timed_out);
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  fs::remove(out_path);
  fs::remove(err_path);
  return r;
}

std::set<std::string> files_in(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string example_input(const std::string& name) {
  std::ifstream f(std::string(MPS_EXAMPLES) + "/" + name + "/execdata.txt", std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string short_quickstart() {
  std::string text =
      replace_line(example_input("quickstart"), 47, "steps between two spatial dumps LL 10 steps");
  return replace_line(text, 50, "total number of time steps 0 -");
}

std::string replace_line(const std::string& text, int number, const std::string& line) {
  std::vector<std::string> lines = split_lines(text);
  lines.at(static_cast<std::size_t>(number - 1)) = line;
  std::string joined;
  for (const auto& l : lines) joined += l + '\n';
  return joined;
}

}  // namespace mps::testing
