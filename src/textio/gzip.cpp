#include "textio/gzip.hpp"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/errors.hpp"

namespace mps::textio {

std::string temporary_name(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::size_t at = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, at) + "." + target.substr(at) + ".part";
}

void gzip_file(const std::string& plain, const std::string& compressed, int level) {
  std::FILE* in = std::fopen(plain.c_str(), "rb");
  if (in == nullptr) throw IoError(plain, "cannot open \"" + plain + "\": " + std::strerror(errno));
  const std::string part = temporary_name(compressed);
  const std::string mode = "wb" + std::to_string(level);
  gzFile out = ::gzopen(part.c_str(), mode.c_str());
  if (out == nullptr) {
    const int err = errno;
    std::fclose(in);
    throw IoError(compressed, "cannot create \"" + part + "\": " + std::strerror(err));
  }
  ::gzbuffer(out, 1 << 17);
  std::vector<char> buffer(1 << 17);
  bool ok = true;
  std::size_t n = 0;
  while (ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
    ok = ::gzwrite(out, buffer.data(), static_cast<unsigned>(n)) == static_cast<int>(n);
  }
  ok = ok && std::ferror(in) == 0;
  std::fclose(in);
  ok = (::gzclose(out) == Z_OK) && ok;
  if (!ok) {
    std::remove(part.c_str());
    throw IoError(compressed, "cannot write \"" + compressed + "\"");
  }
  if (std::rename(part.c_str(), compressed.c_str()) != 0) {
    const int err = errno;
    std::remove(part.c_str());
    throw IoError(compressed, "cannot write \"" + compressed + "\": " + std::strerror(err));
  }
  if (std::remove(plain.c_str()) != 0) {
    throw IoError(plain,
                  "cannot remove \"" + plain + "\" after compressing it: " + std::strerror(errno));
  }
}

void gunzip_file(const std::string& compressed, const std::string& plain) {
  gzFile in = ::gzopen(compressed.c_str(), "rb");
  if (in == nullptr) throw IoError(compressed, "cannot open \"" + compressed + "\"");
  const std::string part = temporary_name(plain);
  std::FILE* out = std::fopen(part.c_str(), "wb");
  if (out == nullptr) {
    const int err = errno;
    ::gzclose(in);
    throw IoError(plain, "cannot create \"" + part + "\": " + std::strerror(err));
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

}  // namespace mps::textio
