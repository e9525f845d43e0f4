#pragma once
// Whole-file text input and buffered text output with typed errors.
//
// Every result file is written completely and closed before the caller goes
// on; a failure to create, write or close a file raises IoError naming the
// file and the system's reason, so no file is silently left short.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/errors.hpp"

namespace mps::textio {

// Whole content of a file; throws IoError when it cannot be read.
std::string read_text_file(const std::string& path);

bool is_directory(const std::string& path);
bool file_exists(const std::string& path);

// A file opened for writing ("create or replace") or appending, with a
// large buffer.  close() reports a failed flush; the destructor closes
// quietly when an exception is already on its way.
class OutputFile {
 public:
  enum class Mode { replace, append };
  OutputFile() = default;
  OutputFile(const std::string& path, Mode mode);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  ~OutputFile();

  void write(std::string_view text);
  void close();
  bool is_open() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

// Create or replace `path` with `content`.
void write_text_file(const std::string& path, std::string_view content);
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
