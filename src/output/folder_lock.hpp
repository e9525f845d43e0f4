#pragma once
// One run at a time in a result folder.  Two runs writing one folder would
// remove each other's temporary files and interleave "point.txt"; the
// second one is refused before it writes anything.
//
// The lock is the file ".mps1d.lock" in the folder, holding the pid and the
// host of its run, made under a private name and linked into place (so it
// never shows half written) and held with flock() while the run lasts.
// The run removes it when it ends, also when it ends by SIGTERM, SIGINT or
// SIGHUP; a run killed outright leaves it behind, and the next run finds it
// stale (no process holds it) and says how to clear it.
#include <string>

namespace mps {

inline constexpr const char* kLockName = ".mps1d.lock";

class FolderLock {
 public:
  // Takes the lock of `folder` ('/'-terminated) for the run of `role` ("the
  // results folder").  Throws IoError naming the holder when another run
  // holds it, or naming the file and how to remove it when it is stale.
  FolderLock(const std::string& folder, const std::string& role);
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();  // removes the lock file

 private:
  bool try_lock();  // false when the lock file exists already
  std::string path_;
  int fd_ = -1;
  int slot_ = -1;  // in the list the signal handler clears
};

}  // namespace mps
