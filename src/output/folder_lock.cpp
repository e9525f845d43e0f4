#include "output/folder_lock.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "core/errors.hpp"
#include "textio/text_file.hpp"

namespace mps {
namespace {

// Lock files a signal handler removes: a run holds two (results and
// statistics folders).  The paths live in their FolderLock; a slot is
// cleared before its lock goes away.
std::array<std::atomic<const char*>, 4> g_lock_files{};

extern "C" void remove_locks_and_end(int signal) {
  for (auto& path : g_lock_files) {
    const char* p = path.load();
    if (p != nullptr) ::unlink(p);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

int register_lock_file(const char* path) {
  static const bool handlers = [] {
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
      struct sigaction action {};
      action.sa_handler = remove_locks_and_end;
      sigemptyset(&action.sa_mask);
      ::sigaction(s, &action, nullptr);
    }
    return true;
  }();
  (void)handlers;
  for (std::size_t i = 0; i < g_lock_files.size(); ++i) {
    const char* empty = nullptr;
    if (g_lock_files[i].compare_exchange_strong(empty, path)) return static_cast<int>(i);
  }
  return -1;
}

std::string host_name() {
  const long longest = ::sysconf(_SC_HOST_NAME_MAX);
  std::vector<char> name(static_cast<std::size_t>(longest > 0 ? longest : 255) + 1, '\0');
  if (::gethostname(name.data(), name.size() - 1) != 0) return "unknown";
  return name.data();
}

// What the lock file says of its holder ("pid 123 on host node7"), read up
// to a bound.
std::string holder_of(int fd) {
  std::string text(512, '\0');
  const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  // The file may hold anything: only printable ASCII reaches the console,
  // so no escape sequence of a crafted file can act on the terminal.
  for (char& c : text) {
    if (c < ' ' || c > '~') c = c == '\n' ? ' ' : '?';
  }
  return text.empty() ? "an unknown process" : text;
}

// `path` quoted for a POSIX shell, safe to paste: '...' with each quote as
// '\'' ; a path with bytes that are not printable ASCII is written $'...'
// with those bytes as \xHH (bash, zsh and ksh read it), so no control
// character reaches the console either.
std::string shell_quoted(const std::string& path) {
  const bool plain =
      std::all_of(path.begin(), path.end(), [](char c) { return c >= ' ' && c <= '~'; });
  std::string q = plain ? "'" : "$'";
  for (const char c : path) {
    if (c == '\'') {
      q += plain ? "'\\''" : "\\'";
    } else if (!plain && c == '\\') {
      q += "\\\\";
    } else if (c >= ' ' && c <= '~') {
      q += c;
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      const auto byte = static_cast<unsigned char>(c);
      q.append("\\x").append(1, kHex[byte >> 4]).append(1, kHex[byte & 15]);
    }
  }
  return q + "'";
}

IoError cannot_lock(const std::string& path, int err) {
  std::string m = "cannot make the lock file \"";
  m.append(path).append("\": ").append(std::strerror(err));
  return IoError(path, m);
}

// The lock already there: held by a live run, or left by one that was
// killed.  Returns when it has gone meanwhile (its run just ended).
void refuse(const std::string& path, const std::string& role, const std::string& folder) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return;
  if (fd < 0) throw cannot_lock(path, errno);
  const std::string holder = holder_of(fd);
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
  ::close(fd);
  std::string m = role;
  m.append(" \"").append(folder).append("\" ");
  if (held) {
    m.append("is in use by the run of ").append(holder).append(" (lock file \"");
    m.append(path).append("\"); let it finish or stop it first");
  } else {
    m.append("holds a stale lock \"").append(path).append("\" of ").append(holder);
    m.append(", which no process holds any more (a run that was killed); if no run uses the ");
    m.append("folder, remove the file: rm -- ").append(shell_quoted(path));
  }
  throw IoError(path, m);
}

}  // namespace

FolderLock::FolderLock(const std::string& folder, const std::string& role)
    : path_(folder + kLockName) {
  for (int attempt = 0; attempt < 3 && fd_ < 0; ++attempt) {
    if (!try_lock()) refuse(path_, role, folder);
  }
  if (fd_ < 0) throw cannot_lock(path_, EEXIST);
  slot_ = register_lock_file(path_.c_str());
}

bool FolderLock::try_lock() {
  // The private file is new and ours alone: a link planted in a shared
  // folder is never opened, let alone truncated.
  std::string mine;
  const int fd = textio::create_temporary_fd(path_, mine);
  std::string text = "pid ";
  text.append(std::to_string(::getpid())).append(" on host ").append(host_name()).append("\n");
  const bool written = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                       ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  // link() fails when the name exists: only one run can put its file there.
  const int linked = written ? ::link(mine.c_str(), path_.c_str()) : -1;
  const int err = errno;
  ::unlink(mine.c_str());
  if (linked == 0) {
    fd_ = fd;
    return true;
  }
  ::close(fd);
  if (written && err == EEXIST) return false;
  throw cannot_lock(path_, err);
}

FolderLock::~FolderLock() {
  if (slot_ >= 0) g_lock_files[static_cast<std::size_t>(slot_)].store(nullptr);
  ::unlink(path_.c_str());
  ::close(fd_);
}

}  // namespace mps
