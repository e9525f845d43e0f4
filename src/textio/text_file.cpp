#include "textio/text_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "textio/gzip.hpp"

namespace mps::textio {
namespace {

std::string reason(int err) { return std::strerror(err); }

}  // namespace

namespace {

// The stream of `fd`, opened non-blocking on `path`, once it is known to be
// a regular file: blocking again, truncated first when `truncate`.  The
// descriptor is closed and IoError thrown otherwise (`verb`: "reading" or
// "writing").
std::FILE* regular_stream(int fd, const std::string& path, const char* mode, bool truncate,
                          const char* verb) {
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const int flags = ::fcntl(fd, F_GETFL);
  std::FILE* f = nullptr;
  if (regular && flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
      (!truncate || ::ftruncate(fd, 0) == 0)) {
    f = ::fdopen(fd, mode);
  }
  if (f == nullptr) {
    const int err = errno;
    ::close(fd);
    if (!regular) throw IoError(path, "\"" + path + "\" is not a regular file");
    throw IoError(path, "cannot open \"" + path + "\" for " + verb + ": " + reason(err));
  }
  return f;
}

}  // namespace

std::FILE* open_regular_file(const std::string& path) {
  // Opened without waiting: a FIFO with no writer would block open() itself.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw IoError(path, "cannot open \"" + path + "\" for reading: " + reason(errno));
  return regular_stream(fd, path, "rb", false, "reading");
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

int create_temporary_fd(const std::string& target, std::string& part) {
  // Eight random characters of 62 collide only by design: a few tries do.
  constexpr int kTries = 16;
  int err = EEXIST;
  for (int attempt = 0; attempt < kTries && err == EEXIST; ++attempt) {
    part = temporary_name(target);
    const int fd = ::open(part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) return fd;
    err = errno;
  }
  throw IoError(target, "cannot create \"" + part + "\": " + reason(err));
}

std::FILE* create_temporary(const std::string& target, std::string& part) {
  const int fd = create_temporary_fd(target, part);
  std::FILE* f = ::fdopen(fd, "wb");
  if (f != nullptr) return f;
  const int err = errno;
  ::close(fd);
  ::unlink(part.c_str());
  throw IoError(target, "cannot create \"" + part + "\": " + reason(err));
}

namespace {

// `path` opened for writing without waiting and without following a link:
// a FIFO, a device or a link planted at the name of a result file is
// refused, never written through.  Replacing truncates only once the file
// is known to be a regular file.
std::FILE* open_for_writing(const std::string& path, bool append) {
  const int fd = ::open(
      path.c_str(),
      O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0), 0644);
  if (fd < 0) {
    const int err = errno;
    if (err == ELOOP || err == ENXIO) {
      throw IoError(path, "\"" + path + "\" is not a regular file (a link, a FIFO or a device);" +
                              " result files are written only as regular files");
    }
    throw IoError(path, "cannot open \"" + path + "\" for writing: " + reason(err));
  }
  return regular_stream(fd, path, append ? "ab" : "wb", !append, "writing");
}

}  // namespace

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> files_ending_in(const std::string& folder, const std::string& suffix,
                                         bool hidden) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    throw IoError(folder, "cannot read the folder \"" + folder + "\": " + std::strerror(errno));
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    // As the shell pattern "*.dat": hidden files (and our own temporary
    // ".NAME.part" files) are not taken.
    if ((name.front() == '.') != hidden || !name.ends_with(suffix) || name.size() == suffix.size())
      continue;
    struct stat st {};
    if (::stat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string stored_path(const std::string& path, Storage storage) {
  return storage == Storage::gzip ? path + ".gz" : path;
}

namespace {

// A libdeflate compressor per thread and level, made once: compressing a
// file allocates nothing but its output.
libdeflate_compressor* compressor(int level) {
  struct Compressors {
    std::array<libdeflate_compressor*, 13> at{};
    ~Compressors() {
      for (libdeflate_compressor* c : at) {
        if (c != nullptr) ::libdeflate_free_compressor(c);
      }
    }
  };
  thread_local Compressors compressors;
  auto& c = compressors.at.at(static_cast<std::size_t>(level));
  if (c == nullptr) c = ::libdeflate_alloc_compressor(level);
  if (c == nullptr) throw std::bad_alloc();
  return c;
}

}  // namespace

std::uint32_t crc32(std::uint32_t crc, std::string_view text) {
  return ::libdeflate_crc32(crc, text.data(), text.size());
}

OutputFile::OutputFile(const std::string& path, Mode mode, Storage storage, int level)
    : path_(stored_path(path, storage)) {
  if (storage == Storage::gzip) {
    if (mode != Mode::replace) throw IoError(path_, "a compressed file cannot be appended to");
    if (level < 1 || level > 12) throw IoError(path_, "compression level out of range");
    level_ = level;
    file_ = create_temporary(path_, part_);
    pending_.reserve(kMemberBytes);
    return;
  }
  file_ = open_for_writing(path, mode == Mode::append);
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 18);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      part_(std::move(other.part_)),
      pending_(std::move(other.pending_)),
      level_(other.level_),
      member_written_(other.member_written_),
      bytes_(other.bytes_),
      crc_(other.crc_) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    file_ = std::exchange(other.file_, nullptr);
    path_ = std::move(other.path_);
    part_ = std::move(other.part_);
    pending_ = std::move(other.pending_);
    level_ = other.level_;
    member_written_ = other.member_written_;
    bytes_ = other.bytes_;
    crc_ = other.crc_;
  }
  return *this;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
  if (file_ == nullptr) return;
  std::fclose(std::exchange(file_, nullptr));
  if (level_ != 0) std::remove(part_.c_str());
}

void OutputFile::put(std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    throw IoError(path_, "cannot write \"" + path_ + "\": " + reason(errno));
  }
}

void OutputFile::compress_member() {
  libdeflate_compressor* c = compressor(level_);
  thread_local std::string packed;
  packed.resize(::libdeflate_gzip_compress_bound(c, pending_.size()));
  const std::size_t n =
      ::libdeflate_gzip_compress(c, pending_.data(), pending_.size(), packed.data(), packed.size());
  if (n == 0) throw IoError(path_, "cannot compress \"" + path_ + "\"");
  put(std::string_view(packed.data(), n));
  pending_.clear();
  member_written_ = true;
}

void OutputFile::write(std::string_view text) {
  if (text.empty()) return;
  crc_ = textio::crc32(crc_, text);
  bytes_ += text.size();
  if (level_ == 0) {
    put(text);
    return;
  }
  while (!text.empty()) {
    const std::size_t n = std::min(text.size(), kMemberBytes - pending_.size());
    pending_.append(text.substr(0, n));
    text.remove_prefix(n);
    if (pending_.size() == kMemberBytes) compress_member();
  }
}

void OutputFile::close() {
  if (file_ == nullptr) return;
  // An empty file is one empty member: a gzip stream has at least one.
  if (level_ != 0 && (!pending_.empty() || !member_written_)) compress_member();
  std::FILE* f = std::exchange(file_, nullptr);
  const bool flush_failed = std::fflush(f) != 0;
  const int err = errno;
  const bool close_failed = std::fclose(f) != 0;
  const int close_err = errno;
  if (flush_failed || close_failed) {
    if (level_ != 0) std::remove(part_.c_str());
    throw IoError(path_,
                  "cannot write \"" + path_ + "\": " + reason(flush_failed ? err : close_err));
  }
  if (level_ != 0 && std::rename(part_.c_str(), path_.c_str()) != 0) {
    const int rename_err = errno;
    std::remove(part_.c_str());
    throw IoError(path_, "cannot write \"" + path_ + "\": " + reason(rename_err));
  }
}

std::string write_text_file(const std::string& path, std::string_view content, Storage storage) {
  OutputFile file(path, OutputFile::Mode::replace, storage);
  file.write(content);
  file.close();
  return file.path();
}

void replace_file(const std::string& path, std::string_view content) {
  std::string part;
  std::FILE* f = create_temporary(path, part);
  const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  const int err = errno;
  const bool closed = std::fclose(f) == 0;
  const int close_err = errno;
  if (written && closed && std::rename(part.c_str(), path.c_str()) == 0) return;
  const int rename_err = errno;
  ::unlink(part.c_str());
  throw IoError(path, "cannot write \"" + path + "\": " +
                          reason(!written  ? err
                                 : !closed ? close_err
                                           : rename_err));
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
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    throw IoError(path, "cannot flush \"" + path + "\": " + std::strerror(err));
  }
  ::close(fd);
}

}  // namespace mps::textio
