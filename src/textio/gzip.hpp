#pragma once
// gzip streams of single files (zlib, in-process).  The result is written
// under a hidden temporary name in the target's folder, closed, and renamed
// into place before the source is removed, so a crash or a full disk never
// leaves neither.
#include <string>

namespace mps::textio {

// Hidden temporary name beside `target` (".NAME.part").
std::string temporary_name(const std::string& target);

// Replaces `plain` by `compressed` (zlib level 1 fast .. 9 small).  Throws
// IoError naming the file on failure; `plain` then stays as it was.
void gzip_file(const std::string& plain, const std::string& compressed, int level);

// Replaces `compressed` by its content `plain`.  A damaged or non-gzip
// stream throws IoError and leaves both as they were.
void gunzip_file(const std::string& compressed, const std::string& plain);

}  // namespace mps::textio
