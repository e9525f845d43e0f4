#pragma once
// The manifest of a snapshot, "manifest_<J>.txt": the step, the level index
// its new time level was written with, and the length and CRC-32 of the
// content of each file a continued run reads back.  The restore checks the
// files against it, so a file of another step or level, of another run, or
// changed since, is not taken for the snapshot's own.
//
//   mps1d snapshot manifest
//   step 000000005000
//   level 1
//   Ex_z000000005000.dat 1200 8c1f07aa
//   ...
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mps {

struct ManifestEntry {
  std::string name;  // as written, without ".gz"
  std::uint64_t bytes = 0;
  std::uint32_t crc32 = 0;
};

struct SnapshotManifest {
  std::int64_t J = 0;
  int level = 0;
  std::vector<ManifestEntry> files;  // sorted by name

  // The entry of `name`, or nullptr.
  const ManifestEntry* find(const std::string& name) const;
};

// The entries of a snapshot's files as the output threads finish them.
class ManifestSink {
 public:
  void add(ManifestEntry entry);
  std::vector<ManifestEntry> take();

 private:
  std::mutex mutex_;
  std::vector<ManifestEntry> entries_;
};

std::string manifest_text(const SnapshotManifest& manifest);

// The manifest in `text`, read from `path`; IoError naming the file and line
// for anything not written as manifest_text writes it.
SnapshotManifest parse_manifest(const std::string& path, const std::string& text);

// A CRC-32 as the manifest writes it: eight lower-case hexadecimal digits.
std::string hex32(std::uint32_t v);

// Length and CRC-32 of `content`, as its entry would record them.
ManifestEntry entry_of(const std::string& name, const std::string& content);

}  // namespace mps
