#pragma once
// Whole-file text input and buffered text output with typed errors.
//
// Every result file is written completely and closed before the caller goes
// on, plain or compressed as it is written; a failure to create, write or close a file raises
// IoError naming the file and the system's reason, so no file is silently left short.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.hpp"

namespace mps::textio {

// `path` opened for reading when it is a regular file (links followed).  A
// FIFO, a device or a folder is refused with IoError before anything is
// read, so no read of a file the run trusts can block or go on without end.
std::FILE* open_regular_file(const std::string& path);

// Whole content of a regular file; IoError when it cannot be read or holds
// more than `max_bytes`.
std::string read_text_file(const std::string& path, std::size_t max_bytes);

bool is_directory(const std::string& path);

// A new file under a fresh temporary_name() beside `target`, created
// exclusively and never through a link (a name that exists is passed over
// for another), opened for writing; its name in `part`.  IoError naming
// `target` when no such file can be made.
std::FILE* create_temporary(const std::string& target, std::string& part);
// The same as a descriptor open for reading and writing.
int create_temporary_fd(const std::string& target, std::string& part);

// Regular files directly inside `folder` ('/'-terminated) whose names end
// in `suffix` (and are longer), sorted; hidden ones alone when `hidden`,
// else none of them.  IoError when the folder cannot be read.
std::vector<std::string> files_ending_in(const std::string& folder, const std::string& suffix,
                                         bool hidden = false);
bool file_exists(const std::string& path);

// How a result file is stored: as written, or compressed as it is
// written, a standard gzip stream under the name with ".gz" appended.
enum class Storage { plain, gzip };

// The name the content of `path` is stored under.
std::string stored_path(const std::string& path, Storage storage);

// Compression level of result files: level 1 compresses the E23.12
// columns almost as well as the default 6 at a fraction of the time.
inline constexpr int kResultLevel = 1;

// CRC-32 of `text` continuing `crc` (0 to start), as a gzip trailer holds it.
std::uint32_t crc32(std::uint32_t crc, std::string_view text);

// A file opened for writing ("create or replace") or appending, with a
// large buffer.  close() reports a failed flush; the destructor closes
// quietly when an exception is already on its way.  A compressed file
// (replace only) is written under a hidden temporary name and renamed into
// place by close(), so its name never holds a partial stream; the
// destructor of one not closed removes the temporary file.  Its content is
// compressed in pieces of kMemberBytes, each a gzip member of its own (a
// standard gzip stream: readers go on from one member to the next).
class OutputFile {
 public:
  enum class Mode { replace, append };
  static constexpr std::size_t kMemberBytes = std::size_t{1} << 18;

  OutputFile() = default;
  // `path` as given; stored_path(path, storage) is the file made.
  OutputFile(const std::string& path, Mode mode, Storage storage = Storage::plain,
             int level = kResultLevel);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  ~OutputFile();

  void write(std::string_view text);
  void close();
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }  // the file made
  // The content written so far: its length and CRC-32 (as a gzip trailer
  // holds it), before any compression.
  std::uint64_t bytes() const { return bytes_; }
  std::uint32_t crc32() const { return crc_; }

 private:
  void discard() noexcept;
  void put(std::string_view bytes);  // to the file as it is
  void compress_member();            // `pending_` as one gzip member
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string part_;     // of a compressed file: the temporary name written
  std::string pending_;  // of a compressed file: content not yet compressed
  int level_ = 0;        // 0: plain
  bool member_written_ = false;
  std::uint64_t bytes_ = 0;
  std::uint32_t crc_ = 0;
};

// Create or replace `path` with `content`; returns the name of the file
// made (stored_path).
std::string write_text_file(const std::string& path, std::string_view content,
                            Storage storage = Storage::plain);
// Replace `path` by a file holding `content`, written under a temporary
// name and renamed into place: readers see the old file or the new one,
// never a part, and a link at `path` is replaced, never written through.
void replace_file(const std::string& path, std::string_view content);
// Append `content` to `path`, creating it when absent.
void append_text_file(const std::string& path, std::string_view content);

// The same, and the file is on the disk when it returns (fsync).
void append_text_file_durably(const std::string& path, std::string_view content);

// Every file written so far on the file system of `folder`, and the
// folder's entries, are on the disk when it returns (syncfs: one call for
// all of a snapshot's files, where an fsync per file would cost a journal
// commit each).
void sync_folder(const std::string& folder);

}  // namespace mps::textio
