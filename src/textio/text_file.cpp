#include "textio/text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace mps::textio {
namespace {

std::string reason(int err) { return std::strerror(err); }

}  // namespace

std::string read_text_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    throw IoError(path, "cannot open \"" + path + "\" for reading: " + reason(errno));
  }
  std::string content;
  char buffer[1 << 16];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) throw IoError(path, "cannot read \"" + path + "\": " + reason(err));
  return content;
}

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

OutputFile::OutputFile(const std::string& path, Mode mode) : path_(path) {
  file_ = std::fopen(path.c_str(), mode == Mode::replace ? "wb" : "ab");
  if (file_ == nullptr) {
    throw IoError(path, "cannot open \"" + path + "\" for writing: " + reason(errno));
  }
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 18);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), path_(std::move(other.path_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    if (file_ != nullptr) std::fclose(file_);
    file_ = std::exchange(other.file_, nullptr);
    path_ = std::move(other.path_);
  }
  return *this;
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void OutputFile::write(std::string_view text) {
  if (text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
    throw IoError(path_, "cannot write \"" + path_ + "\": " + reason(errno));
  }
}

void OutputFile::close() {
  if (file_ == nullptr) return;
  std::FILE* f = std::exchange(file_, nullptr);
  const bool flush_failed = std::fflush(f) != 0;
  const int err = errno;
  const bool close_failed = std::fclose(f) != 0;
  if (flush_failed || close_failed) {
    throw IoError(path_, "cannot write \"" + path_ + "\": " + reason(flush_failed ? err : errno));
  }
}

void write_text_file(const std::string& path, std::string_view content) {
  OutputFile file(path, OutputFile::Mode::replace);
  file.write(content);
  file.close();
}

void append_text_file(const std::string& path, std::string_view content) {
  OutputFile file(path, OutputFile::Mode::append);
  file.write(content);
  file.close();
}

void sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw IoError(folder, "cannot open \"" + folder + "\": " + std::strerror(errno));
  const int status = ::syncfs(fd);
  const int err = errno;
  ::close(fd);
  if (status != 0) throw IoError(folder, "cannot flush \"" + folder + "\": " + std::strerror(err));
}

void append_text_file_durably(const std::string& path, std::string_view content) {
  append_text_file(path, content);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    throw IoError(path, "cannot flush \"" + path + "\": " + std::strerror(err));
  }
  ::close(fd);
}

}  // namespace mps::textio
