#include "textio/text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "textio/gzip.hpp"

namespace mps::textio {
namespace {

std::string reason(int err) { return std::strerror(err); }

}  // namespace

std::FILE* open_regular_file(const std::string& path) {
  // Opened without waiting: a FIFO with no writer would block open() itself.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw IoError(path, "cannot open \"" + path + "\" for reading: " + reason(errno));
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const int flags = ::fcntl(fd, F_GETFL);
  std::FILE* f = nullptr;
  if (regular && flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
    f = ::fdopen(fd, "rb");
  }
  if (f == nullptr) {
    const int err = errno;
    ::close(fd);
    if (!regular) throw IoError(path, "\"" + path + "\" is not a regular file");
    throw IoError(path, "cannot open \"" + path + "\" for reading: " + reason(err));
  }
  return f;
}

std::string read_text_file(const std::string& path, std::size_t max_bytes) {
  std::FILE* f = open_regular_file(path);
  std::string content;
  char buffer[1 << 16];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    if (n > max_bytes - content.size()) {
      std::fclose(f);
      throw IoError(path, "\"" + path + "\" is too large: its content exceeds the limit of " +
                              std::to_string(max_bytes) + " bytes");
    }
    content.append(buffer, n);
  }
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

std::string stored_path(const std::string& path, Storage storage) {
  return storage == Storage::gzip ? path + ".gz" : path;
}

OutputFile::OutputFile(const std::string& path, Mode mode, Storage storage)
    : path_(stored_path(path, storage)) {
  if (storage == Storage::gzip) {
    if (mode != Mode::replace) throw IoError(path_, "a compressed file cannot be appended to");
    part_ = temporary_name(path_);
    const std::string gz_mode = "wb" + std::to_string(kResultLevel);
    gz_ = ::gzopen(part_.c_str(), gz_mode.c_str());
    if (gz_ == nullptr) {
      throw IoError(path_, "cannot create \"" + part_ + "\": " + reason(errno));
    }
    return;
  }
  file_ = std::fopen(path.c_str(), mode == Mode::replace ? "wb" : "ab");
  if (file_ == nullptr) {
    throw IoError(path, "cannot open \"" + path + "\" for writing: " + reason(errno));
  }
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 18);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      gz_(std::exchange(other.gz_, nullptr)),
      path_(std::move(other.path_)),
      part_(std::move(other.part_)),
      bytes_(other.bytes_),
      crc_(other.crc_) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    file_ = std::exchange(other.file_, nullptr);
    gz_ = std::exchange(other.gz_, nullptr);
    path_ = std::move(other.path_);
    part_ = std::move(other.part_);
    bytes_ = other.bytes_;
    crc_ = other.crc_;
  }
  return *this;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
  if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
  if (gz_ != nullptr) {
    ::gzclose(std::exchange(gz_, nullptr));
    std::remove(part_.c_str());
  }
}

void OutputFile::write(std::string_view text) {
  if (text.empty()) return;
  crc_ = static_cast<std::uint32_t>(
      ::crc32_z(crc_, reinterpret_cast<const Bytef*>(text.data()), text.size()));
  bytes_ += text.size();
  if (gz_ != nullptr) {
    // gzwrite takes an unsigned count: pieces of at most 1 GiB.
    for (std::size_t at = 0; at < text.size(); at += std::size_t{1} << 30) {
      const auto n = static_cast<unsigned>(std::min(text.size() - at, std::size_t{1} << 30));
      if (::gzwrite(gz_, text.data() + at, n) != static_cast<int>(n)) {
        throw IoError(path_, "cannot write \"" + path_ + "\": " + reason(errno));
      }
    }
    return;
  }
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
    throw IoError(path_, "cannot write \"" + path_ + "\": " + reason(errno));
  }
}

void OutputFile::close() {
  if (gz_ != nullptr) {
    const int status = ::gzclose(std::exchange(gz_, nullptr));
    const int err = errno;
    if (status != Z_OK || std::rename(part_.c_str(), path_.c_str()) != 0) {
      const int rename_err = errno;
      std::remove(part_.c_str());
      throw IoError(path_,
                    "cannot write \"" + path_ + "\": " + reason(status != Z_OK ? err : rename_err));
    }
    return;
  }
  if (file_ == nullptr) return;
  std::FILE* f = std::exchange(file_, nullptr);
  const bool flush_failed = std::fflush(f) != 0;
  const int err = errno;
  const bool close_failed = std::fclose(f) != 0;
  if (flush_failed || close_failed) {
    throw IoError(path_, "cannot write \"" + path_ + "\": " + reason(flush_failed ? err : errno));
  }
}

std::string write_text_file(const std::string& path, std::string_view content, Storage storage) {
  OutputFile file(path, OutputFile::Mode::replace, storage);
  file.write(content);
  file.close();
  return file.path();
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
