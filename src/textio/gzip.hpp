#pragma once
// gzip streams of single files, in-process (written by libdeflate, read by
// zlib).  The result is written
// under a hidden temporary name in the target's folder, closed, and renamed
// into place before the source is removed, so a crash or a full disk never
// leaves neither.  A file can also be read into memory, decompressed, with
// nothing written at all.
#include <cstddef>
#include <string>

namespace mps::textio {

// A fresh hidden name beside `target` (".NAME.XXXXXXXX.part", eight
// random letters and digits), different at each call: a name no one can
// plant a link at beforehand.  Whoever creates it must do so exclusively.
std::string temporary_name(const std::string& target);

// Replaces `plain` by `compressed`, a name ending in ".gz" (level 1 fast
// .. 12 small).  Throws IoError naming the file on failure; `plain` then
// stays as it was.
void gzip_file(const std::string& plain, const std::string& compressed, int level);

// Replaces `compressed` by its content `plain`.  A damaged or non-gzip
// stream throws IoError and leaves both as they were.
void gunzip_file(const std::string& compressed, const std::string& plain);

// Content of `path`, decompressed when the file is a gzip stream (one or
// more members), as it is otherwise.  Content beyond `max_bytes` is an
// error: the reading stops there, so a small stream that expands enormously
// costs no more memory than the cap.  Throws IoError naming the file when it
// cannot be read, when its stream is damaged or cut short, or when it is
// too large.  Nothing is written.
std::string read_maybe_gzip(const std::string& path, std::size_t max_bytes);

// As read_maybe_gzip for a file that must be a gzip stream: an empty file,
// or one without the gzip header, throws IoError as well.
std::string read_gzip(const std::string& path, std::size_t max_bytes);

}  // namespace mps::textio
