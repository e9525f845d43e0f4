// The lock of a result folder others can write to: a link planted at the
// name of the lock's private file is never followed, a stale lock's report
// can be pasted into a shell whatever the folder is called, and it shows
// nothing of the lock file but printable characters.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "core/errors.hpp"
#include "input/input_reader.hpp"
#include "output/folder_lock.hpp"
#include "support/scratch_dir.hpp"

namespace mps::testing {
namespace {

TEST(FolderLocks, PrivateFileNeverFollowsAPlantedLink) {
  ScratchDir dir;
  dir.write("victim", "precious\n");
  const std::string pid = std::to_string(::getpid());
  for (const std::string& name : {".mps1d.lock." + pid, std::string(".mps1d.lock.part")}) {
    ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file(name).c_str()), 0);
  }
  { const FolderLock lock(dir.path(), "the results folder"); }
  EXPECT_EQ(dir.read("victim"), "precious\n");
}

// The folder's name holds a quote (and, in the second case, a control
// character); the lock file holds an escape sequence.  The suggested
// command, run by a shell, removes the lock file and nothing else.
TEST(FolderLocks, StaleLockReportQuotesThePathAndShowsOnlyPrintableText) {
  for (const char* name : {"it's; touch pwned", "tab\there"}) {
    const std::string folder = name;
    ScratchDir dir;
    dir.make_dir(folder);
    dir.write(folder + "/" + kLockName, "pid 1 on host \x1b]0;owned\x07\n");
    std::string report;
    try {
      const FolderLock lock(dir.file(folder + "/"), "the results folder");
      FAIL() << "a stale lock was taken";
    } catch (const IoError& e) {
      report = e.what();
    }
    EXPECT_EQ(report.find('\x1b'), std::string::npos) << report;
    EXPECT_EQ(report.find('\x07'), std::string::npos) << report;
    const std::size_t at = report.find("rm -- ");
    ASSERT_NE(at, std::string::npos) << report;
    const ProgramResult rm = run_in("/bin/bash", dir.path(), {"-c", report.substr(at)});
    EXPECT_EQ(rm.exit_status, 0) << rm.err;
    EXPECT_FALSE(dir.exists(folder + "/" + kLockName)) << report;
    EXPECT_FALSE(dir.exists("pwned"));
  }
}

// Files left under any name cannot make a writable folder look read-only.
TEST(FolderLocks, LeftoverProbeFilesDoNotMakeAFolderLookReadOnly) {
  ScratchDir dir;
  for (const char* d : {"r", "d", "c"}) dir.make_dir(d);
  dir.write("r/.mps1d-probe-" + std::to_string(::getpid()), "");
  dir.write("r/.mps1d-probe.part", "");
  EXPECT_NO_THROW(check_run_folders({dir.path(), dir.file("r/"), dir.file("d/"), dir.file("c/")}));
}

}  // namespace
}  // namespace mps::testing
