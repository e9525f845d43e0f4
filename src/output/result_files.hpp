#pragma once
// The names of the result files, in one place.  A step label is J as 12
// digits ("000000005000"); a compressed file has ".gz" appended.  The
// patterns are listed by `mps1d --check --json` for the tools that read the
// files.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/fortran_format.hpp"

namespace mps::result_files {

inline constexpr const char* kIndexProfile = "n_z.dat";     // refractive index per cell
inline constexpr const char* kParameters = "param.txt";     // the run's parameters
inline constexpr const char* kPoints = "point.txt";         // snapshot steps and level indices
inline constexpr const char* kSummary = "summary.json";     // budget and run summary
inline constexpr const char* kFlags = "gamma.dat";          // population flags per cell
inline constexpr const char* kFieldMaximum = "Ex_max.dat";  // field maximum per step

// Name patterns of the labelled files: {Q} a quantity, {J} a step label,
// {Z} a cell label.
struct NamePattern {
  const char* what;
  const char* pattern;
};
inline constexpr std::array<NamePattern, 13> kPatterns = {{
    {"index_profile", kIndexProfile},
    {"parameters", kParameters},
    {"points", kPoints},
    {"summary", kSummary},
    {"flags", kFlags},
    {"field_maximum", kFieldMaximum},
    {"column", "{Q}_z{J}.dat"},
    {"stamp", "stmp{J}.dat"},
    {"manifest", "manifest_{J}.txt"},
    {"flux", "flux_{J}.dat"},
    {"trace_first", "time1_{Q}_{J}.dat"},
    {"trace_last", "time2_{Q}_{J}.dat"},
    {"trace_cell", "time_{Q}_z{Z}_{J}.dat"},
}};

// Name of a labelled file: head, the label of J, tail (built by appending:
// GCC 12 warns falsely about chains of + on strings here).
inline std::string labelled(std::string_view head, std::int64_t J, std::string_view tail) {
  std::string name(head);
  name.append(textio::step_label(J)).append(tail);
  return name;
}

// Snapshot column of quantity Q ("Ex", "Hy", "u7") at step J.
inline std::string column(std::string_view quantity, std::int64_t J) {
  std::string head(quantity);
  head.append("_z");
  return labelled(head, J, ".dat");
}
inline std::string stamp(std::int64_t J) { return labelled("stmp", J, ".dat"); }
inline std::string manifest(std::int64_t J) { return labelled("manifest_", J, ".txt"); }
inline std::string flux(std::int64_t J) { return labelled("flux_", J, ".dat"); }
// The HDF5 files of a snapshot step and a block end (--output=hdf5).
inline std::string hdf5_snapshot(std::int64_t J) { return labelled("snapshot_", J, ".h5"); }
inline std::string hdf5_traces(std::int64_t J) { return labelled("traces_", J, ".h5"); }
inline std::string hdf5_statistics(std::int64_t J) { return labelled("statistics_", J, ".h5"); }

// A file's name as it is stored once compressed, and back.
inline std::string compressed(std::string_view name) {
  std::string stored(name);
  stored.append(".gz");
  return stored;
}
inline std::string uncompressed(std::string_view name) {
  if (name.ends_with(".gz")) name.remove_suffix(3);
  return std::string(name);
}
// The name of the file at `path`, without its folder.
inline std::string file_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Trace of quantity Q of the block labelled `label` (the label of its last
// step): at the first or last monitor (`end` 1 or 2), or at monitor cell Z
// (`end` 0).
inline std::string trace(int end, std::string_view quantity, std::int32_t cell,
                         std::string_view label) {
  std::string name("time");
  if (end != 0) name.append(std::to_string(end));
  name.append("_").append(quantity).append("_");
  if (end == 0) name.append("z").append(textio::step_label(cell)).append("_");
  name.append(label).append(".dat");
  return name;
}

}  // namespace mps::result_files
