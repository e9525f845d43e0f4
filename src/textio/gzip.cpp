#include "textio/gzip.hpp"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <string_view>
#include <vector>

#include "core/errors.hpp"
#include "textio/text_file.hpp"

namespace mps::textio {

std::string temporary_name(const std::string& target) {
  static constexpr std::string_view kLetters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string tag(8, ' ');
  for (char& c : tag) c = kLetters[random() % kLetters.size()];
  const std::size_t slash = target.rfind('/');
  const std::size_t at = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, at) + "." + target.substr(at) + "." + tag + ".part";
}

void gzip_file(const std::string& plain, const std::string& compressed, int level) {
  if (!compressed.ends_with(".gz")) {
    throw IoError(compressed, "\"" + compressed + "\": a compressed file's name ends in .gz");
  }
  {
    std::FILE* in = open_regular_file(plain);
    try {
      OutputFile out(compressed.substr(0, compressed.size() - 3), OutputFile::Mode::replace,
                     Storage::gzip, level);
      std::vector<char> buffer(1 << 17);
      std::size_t n = 0;
      while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        out.write(std::string_view(buffer.data(), n));
      }
      if (std::ferror(in) != 0) {
        throw IoError(plain, "cannot read \"" + plain + "\": " + std::strerror(errno));
      }
      out.close();  // renamed into place
    } catch (...) {
      std::fclose(in);
      throw;
    }
    std::fclose(in);
  }
  if (std::remove(plain.c_str()) != 0) {
    throw IoError(plain,
                  "cannot remove \"" + plain + "\" after compressing it: " + std::strerror(errno));
  }
}

void gunzip_file(const std::string& compressed, const std::string& plain) {
  std::FILE* source = open_regular_file(compressed);  // never a FIFO that blocks
  const int fd = ::dup(::fileno(source));
  std::fclose(source);
  gzFile in = fd < 0 ? nullptr : ::gzdopen(fd, "rb");
  if (in == nullptr) {
    if (fd >= 0) ::close(fd);
    throw IoError(compressed, "cannot open \"" + compressed + "\"");
  }
  std::string part;
  std::FILE* out = nullptr;
  try {
    out = create_temporary(plain, part);
  } catch (...) {
    ::gzclose(in);
    throw;
  }
  std::vector<char> buffer(1 << 17);
  bool ok = true;
  int n = 0;
  while (ok && (n = ::gzread(in, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
    // zlib passes data without a gzip header through unchanged; such a file
    // is not ours to rename.
    ok = ::gzdirect(in) == 0 && std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), out) ==
                                    static_cast<std::size_t>(n);
  }
  ok = ok && n == 0;  // a negative count is a damaged stream
  ok = (std::fclose(out) == 0) && ok;
  // A stream cut short reads as a clean end of file; only the close tells.
  ok = (::gzclose(in) == Z_OK) && ok;
  if (!ok || std::rename(part.c_str(), plain.c_str()) != 0) {
    std::remove(part.c_str());
    throw IoError(plain, "cannot decompress \"" + compressed + "\"");
  }
  if (std::remove(compressed.c_str()) != 0) {
    throw IoError(compressed, "cannot remove \"" + compressed + "\": " + std::strerror(errno));
  }
}

namespace {

// A file opened for reading, closed when the reading ends either way.
class InputFile {
 public:
  explicit InputFile(const std::string& path) : path_(path), f_(open_regular_file(path)) {}
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { std::fclose(f_); }

  // Up to `size` bytes; 0 at the end of the file.
  std::size_t read(void* buffer, std::size_t size) {
    const std::size_t n = std::fread(buffer, 1, size, f_);
    if (n == 0 && std::ferror(f_) != 0) {
      throw IoError(path_, "cannot read \"" + path_ + "\": " + std::strerror(errno));
    }
    return n;
  }
  // True when the file starts with the two bytes of a gzip header; the
  // reading then starts again from the beginning.
  bool starts_as_gzip() {
    unsigned char magic[2] = {0, 0};
    const std::size_t n = read(magic, 2);
    std::rewind(f_);
    return n == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
  }

 private:
  std::string path_;
  std::FILE* f_;
};

IoError too_large(const std::string& path, std::size_t max_bytes) {
  return IoError(path, "\"" + path + "\" is too large: its content exceeds the limit of " +
                           std::to_string(max_bytes) + " bytes");
}

IoError damaged(const std::string& path) {
  return IoError(path,
                 "cannot decompress \"" + path + "\": the gzip stream is damaged or cut short");
}

std::string read_plain(InputFile& in, const std::string& path, std::size_t max_bytes) {
  std::string text;
  std::vector<char> buffer(1 << 16);
  std::size_t n = 0;
  while ((n = in.read(buffer.data(), buffer.size())) > 0) {
    if (n > max_bytes - text.size()) throw too_large(path, max_bytes);
    text.append(buffer.data(), n);
  }
  return text;
}

// An inflate state for gzip members only, ended however the reading ends.
struct GzipInflater {
  z_stream z{};
  GzipInflater() {
    if (::inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;
  ~GzipInflater() { ::inflateEnd(&z); }
};

// The gzip members of `in`, one after the other, into at most `max_bytes`:
// the output is never given room beyond one byte past the cap.
std::string inflate_members(InputFile& in, const std::string& path, std::size_t max_bytes) {
  GzipInflater inflater;
  z_stream& z = inflater.z;
  std::vector<unsigned char> input(1 << 16);
  std::string text;
  bool member_ended = false;
  for (;;) {
    if (z.avail_in == 0) {
      const std::size_t n = in.read(input.data(), input.size());
      if (n == 0) break;
      z.next_in = input.data();
      z.avail_in = static_cast<uInt>(n);
    }
    if (member_ended) {  // more input: the next member follows
      ::inflateReset(&z);
      member_ended = false;
    }
    const std::size_t old = text.size();
    // Room for one byte past the cap at most, to tell a stream that ends
    // at the cap from one that goes beyond it.
    const std::size_t room = std::min<std::size_t>(max_bytes - old, (1 << 16) - 1) + 1;
    text.resize(old + room);
    z.next_out = reinterpret_cast<Bytef*>(text.data() + old);
    z.avail_out = static_cast<uInt>(room);
    const int rc = ::inflate(&z, Z_NO_FLUSH);
    text.resize(old + room - z.avail_out);
    if (rc == Z_STREAM_END) {
      member_ended = true;
    } else if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0)) {
      throw damaged(path);
    }
    if (text.size() > max_bytes) throw too_large(path, max_bytes);
  }
  if (!member_ended) throw damaged(path);
  return text;
}

}  // namespace

std::string read_maybe_gzip(const std::string& path, std::size_t max_bytes) {
  InputFile in(path);
  if (in.starts_as_gzip()) return inflate_members(in, path, max_bytes);
  return read_plain(in, path, max_bytes);
}

std::string read_gzip(const std::string& path, std::size_t max_bytes) {
  InputFile in(path);
  if (!in.starts_as_gzip()) {
    throw IoError(path, "cannot decompress \"" + path + "\": not a gzip stream");
  }
  return inflate_members(in, path, max_bytes);
}

}  // namespace mps::textio
