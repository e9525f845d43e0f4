#pragma once
// In-place gzip compression of result folders.
//
// Every regular file directly inside the folder whose name ends in ".dat" is
// replaced by NAME.dat.gz holding a standard gzip stream of it (an older
// NAME.dat.gz is overwritten).  The compressed copy is written under a
// temporary name, closed and renamed into place before the plain file is
// removed, so a crash or a full disk never leaves neither.  A file that
// cannot be compressed stays plain and is reported; the run goes on.
#include <memory>
#include <string>
#include <vector>

#include "output/writer.hpp"
#include "textio/gzip.hpp"
#include "textio/text_file.hpp"

namespace mps {

// zlib level of the result files.
inline constexpr int kDefaultLevel = textio::kResultLevel;

struct CompressionReport {
  std::vector<std::string> compressed;  // paths of the plain files replaced
  std::vector<std::string> failures;    // one message per file left as it was
};

// The compression of plain files as tasks, one a file, for a writer's job
// or run_tasks(); report() once they have all run (in the job's close step,
// or after run_tasks returns).  The tasks share-own the list and an outcome
// slot a file, each writing its own slot only.
class CompressionTasks {
 public:
  explicit CompressionTasks(std::vector<std::string> paths, int level = kDefaultLevel);
  std::vector<Task> tasks() const;
  CompressionReport report() const;

 private:
  struct Outcome {
    std::vector<std::string> paths;
    std::vector<std::string> errors;  // [n]: empty when paths[n] was compressed
    int level = kDefaultLevel;
  };
  std::shared_ptr<Outcome> outcome_;
};

// Compresses the given plain files; files are independent and shared out
// over the threads (run_tasks).  `level` is the zlib level (1 fast .. 9
// small).
CompressionReport compress_files(const std::vector<std::string>& paths, int level = kDefaultLevel);

// Paths of the plain "*.dat" files of `folder` ('/'-terminated).
std::vector<std::string> plain_dat_files(const std::string& folder);

// Compresses "*.dat" of `folder`.
CompressionReport compress_dat_files(const std::string& folder, int level = kDefaultLevel);

// Removes the hidden temporary files (".NAME.part") a stopped compression
// left in `folder`; returns their paths.
std::vector<std::string> remove_stale_temporaries(const std::string& folder);

}  // namespace mps
