#include "output/restore.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <tuple>

#include "core/errors.hpp"
#include "output/hdf5_results.hpp"
#include "output/manifest.hpp"
#include "output/result_files.hpp"
#include "textio/fortran_format.hpp"
#include "textio/gzip.hpp"
#include "textio/list_directed.hpp"
#include "textio/text_file.hpp"

namespace mps {

namespace {

// "PATH", line K: WHAT: "TEXT"
std::string line_message(const std::string& path, std::int64_t k, const char* what,
                         const std::string& text) {
  std::string m = "\"";
  m += path;
  m += "\", line ";
  m += std::to_string(k);
  m += ": ";
  m += what;
  m += ": \"";
  m += text;
  m += '"';
  return m;
}

// The restore reads whole files into memory.  A snapshot file of N cells
// holds N lines of a 23-character value (or of the eight characters of a
// "gamma.dat" line) and a line end: at most 25 bytes with a "\r\n" end,
// 32 with room to spare.  Content beyond N + 1 such lines cannot be a
// sound snapshot of the grid; it is refused as it is read, before a small
// compressed file that expands enormously has cost more memory than that.
constexpr std::size_t kMaxLineBytes = 32;

std::size_t snapshot_size_cap(std::int32_t N) {
  return (static_cast<std::size_t>(N) + 1) * kMaxLineBytes;
}

// "point.txt" gains a 33-byte line per snapshot: two million of them.
constexpr std::size_t kMaxPointBytes = std::size_t{64} << 20;
// A manifest lists about forty files.
constexpr std::size_t kMaxManifestBytes = std::size_t{1} << 20;

// Width of a stored value, E23.12.
constexpr std::size_t kValueWidth = 23;

// The lines of a snapshot file and the file they were read from.
struct SnapshotText {
  std::string path;
  textio::LineCursor lines;
};

// What the files are checked against: the snapshot's manifest, when it has
// one (a snapshot of an earlier version has none).
struct Expected {
  std::string path;  // of the manifest
  std::optional<SnapshotManifest> manifest;
};

std::string checksum_text(std::uint64_t bytes, std::uint32_t crc) {
  std::string text = std::to_string(bytes);
  text.append(" bytes, CRC-32 ").append(hex32(crc));
  return text;
}

// The content of `stored` (read as `name`) must be what the manifest holds
// for `name`.
void verify(const Expected& expected, const std::string& stored, const std::string& name,
            const std::string& content) {
  if (!expected.manifest) return;
  const ManifestEntry* want = expected.manifest->find(name);
  std::string m = "\"";
  m.append(stored).append("\" ");
  if (want == nullptr) {
    m.append("is not listed in \"").append(expected.path).append("\"");
    throw IoError(stored, m);
  }
  const ManifestEntry got = entry_of(name, content);
  if (got.bytes == want->bytes && got.crc32 == want->crc32) return;
  m.append("is not the file the snapshot of step ").append(std::to_string(expected.manifest->J));
  m.append(" wrote: it holds ").append(checksum_text(got.bytes, got.crc32));
  m.append(", \"").append(expected.path).append("\" records ");
  m.append(checksum_text(want->bytes, want->crc32));
  if (name == result_files::kFlags) {
    m.append(
        " (every snapshot rewrites the flags: only the latest one of a folder can be "
        "continued from it)");
  }
  throw IoError(stored, m);
}

// Snapshot file `path` of N cells: "path.gz" when that exists (it must
// then be a sound gzip stream: a damaged one is not passed over in favour
// of an older plain file), else `path` itself; exactly N lines, and the
// content its manifest records.  Nothing is written: the continuation
// folder stays as it is.
SnapshotText read_snapshot_file(const std::string& path, std::int32_t N, const char* needed,
                                const Expected& expected) {
  SnapshotText file;
  const std::string compressed = result_files::compressed(path);
  const bool packed = textio::file_exists(compressed);
  file.path = packed ? compressed : path;
  const std::size_t cap = snapshot_size_cap(N);
  const std::string content =
      packed ? textio::read_gzip(compressed, cap) : textio::read_maybe_gzip(path, cap);
  verify(expected, file.path, result_files::file_name(path), content);
  file.lines = textio::LineCursor::from_text(content);
  const std::size_t count = file.lines.size();
  const auto cells = static_cast<std::size_t>(N);
  if (count != cells) {
    const char* what = count < cells ? "\" ends after " : "\" holds ";
    throw IoError(file.path, "\"" + file.path + what + std::to_string(count) + " lines; " +
                                 std::to_string(N) + " " + needed + " are needed");
  }
  return file;
}

// Number of decimal digits from position p of `text`; p is moved past them.
std::size_t skip_digits(const std::string& text, std::size_t& p) {
  const std::size_t start = p;
  while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p])) != 0) ++p;
  return p - start;
}

// An integer field as (In) writes it: leading blanks, an optional sign and
// at least one digit, nothing else.
bool parse_int_field(std::string_view field, std::int64_t& value) {
  const std::size_t start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) return false;
  const std::string text(field.substr(start));
  std::size_t p = text[0] == '+' || text[0] == '-' ? 1 : 0;
  if (skip_digits(text, p) == 0 || p != text.size()) return false;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0) return false;
  value = v;
  return true;
}

// A line of point.txt as written, (I12, 2X, I8, 2X, I8): the step and the
// level indices of the two time levels.  False for any other line.
bool parse_point_line(const std::string& line, std::int64_t& step, std::int64_t& level) {
  if (line.size() != 32 || line.compare(12, 2, "  ") != 0 || line.compare(22, 2, "  ") != 0) {
    return false;
  }
  const std::string_view text(line);
  std::int64_t other = 0;
  return parse_int_field(text.substr(0, 12), step) && parse_int_field(text.substr(14, 8), level) &&
         parse_int_field(text.substr(24, 8), other);
}

// The N values of a one-column snapshot file, cells 1..N.
void read_column(const std::string& path, std::int32_t N, double scale, std::vector<double>& out,
                 const Expected& expected) {
  const SnapshotText file = read_snapshot_file(path, N, "values", expected);
  for (std::int32_t k = 1; k <= N; ++k) {
    const std::string& line = file.lines.line(static_cast<std::size_t>(k - 1));
    double v = 0.0;
    if (!parse_real_field(line, v)) {
      throw IoError(file.path, line_message(file.path, k, "not a number", line));
    }
    // A number cut short, or one with more after it, does not fill the field.
    if (line.size() != kValueWidth) {
      throw IoError(file.path, line_message(file.path, k, "not 23 characters wide", line));
    }
    out[static_cast<std::size_t>(k)] = v * scale;
  }
}

// The four population flags of a "gamma.dat" line, (4(I1,1X)): "1 0 1 1 ".
bool parse_flags(const std::string& line, std::array<std::int32_t, 4>& flags) {
  if (line.size() != 8) return false;
  for (std::size_t q = 0; q < 4; ++q) {
    const char digit = line[2 * q];
    if ((digit != '0' && digit != '1') || line[2 * q + 1] != ' ') return false;
  }
  for (std::size_t q = 0; q < 4; ++q) flags[q] = line[2 * q] - '0';
  return true;
}

void read_flags(const std::string& path, std::int32_t N, MediumState& m, const Expected& expected) {
  const SnapshotText file = read_snapshot_file(path, N, "cells", expected);
  for (std::int32_t k = 1; k <= N; ++k) {
    const std::string& line = file.lines.line(static_cast<std::size_t>(k - 1));
    std::array<std::int32_t, 4> flags{};
    if (!parse_flags(line, flags)) {
      throw IoError(file.path, line_message(file.path, k, "bad flags", line));
    }
    m.set_flags(k, flags);
  }
}

// Stored value w_n of cells 1..N at a level from its column file.  Only
// the cells that hold dots or some value keep the medium's values: a value
// other than +0 gives its cell a slot, +0 is written where there is one.
void read_stored_column(const std::string& path, int level, int n, std::vector<double>& column,
                        MediumState& m, const Expected& expected) {
  read_column(path, m.N, 1.0, column, expected);
  for (std::int32_t k = 1; k <= m.N; ++k)
    m.set_w(level, k, n - 1, column[static_cast<std::size_t>(k)]);
}

// Whether `folder` holds the manifest of any snapshot.
bool holds_manifests(const std::string& folder) {
  const std::vector<std::string> names = textio::files_ending_in(folder, ".txt");
  return std::any_of(names.begin(), names.end(),
                     [](const std::string& n) { return n.starts_with("manifest_"); });
}

// The manifest of step J_final in the continuation folder, which must name
// that step and the level point.txt gives.  Without one the snapshot is
// restored unchecked, with a warning, when it comes from an earlier
// version: a folder whose other snapshots have manifests did not.
Expected expected_files(const RestoreInput& in, int level, std::vector<std::string>& warnings) {
  Expected e;
  e.path = in.continue_dir + result_files::manifest(in.J_final);
  std::string m = "\"";
  m.append(e.path).append("\" ");
  if (!textio::file_exists(e.path)) {
    if (holds_manifests(in.continue_dir)) {
      m.append("is missing, though the folder holds manifests of other snapshots");
      throw IoError(e.path, m);
    }
    std::string w = "the snapshot of step ";
    w.append(std::to_string(in.J_final)).append(" has no manifest (");
    w.append(e.path).append("); it is restored without checking its files");
    warnings.push_back(w);
    return e;
  }
  e.manifest = parse_manifest(e.path, textio::read_text_file(e.path, kMaxManifestBytes));
  if (e.manifest->J != in.J_final || e.manifest->level != level) {
    m.append("describes step ").append(std::to_string(e.manifest->J)).append(" with level ");
    m.append(std::to_string(e.manifest->level)).append(", point.txt names step ");
    m.append(std::to_string(in.J_final)).append(" with level ").append(std::to_string(level));
    throw IoError(e.path, m);
  }
  check_same_run(e.path, e.manifest->run, run_values(in.run));
  return e;
}

// Whether anything is at `path`, a dangling link included: the HDF5 reader
// then says what it is, rather than the text restore missing its files.
bool entry_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool parse_real_field(std::string_view field, double& value) {
  const std::size_t start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) return false;
  std::string t(field.substr(start));
  std::size_t p = t[0] == '+' || t[0] == '-' ? 1 : 0;
  std::size_t digits = skip_digits(t, p);
  if (p == t.size() || t[p] != '.') return false;
  ++p;
  digits += skip_digits(t, p);
  if (digits == 0 || p == t.size()) return false;
  if (t[p] == 'E' || t[p] == 'e' || t[p] == 'D' || t[p] == 'd') {
    t[p++] = 'E';
    if (p < t.size() && (t[p] == '+' || t[p] == '-')) ++p;
  } else if (t[p] == '+' || t[p] == '-') {
    t.insert(p, 1, 'E');  // an exponent beyond two digits, without its letter
    p += 2;
  } else {
    return false;
  }
  if (skip_digits(t, p) == 0 || p != t.size()) return false;
  const double v = std::strtod(t.c_str(), nullptr);
  if (!std::isfinite(v)) return false;  // beyond the range of a double
  value = v;
  return true;
}

int find_level_index(const std::string& point_file, std::int64_t J_final) {
  const std::string text =
      textio::file_exists(point_file) ? textio::read_text_file(point_file, kMaxPointBytes) : "";
  const textio::LineCursor lines = textio::LineCursor::from_text(text);
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::int64_t step = 0;
    std::int64_t level = 0;
    // Lines not as point.txt is written cannot name the step.
    if (parse_point_line(lines.line(n), step, level) && step == J_final) {
      return static_cast<int>(level);  // at most eight digits
    }
  }
  throw ParameterError("cant find J_final -> check file point.txt", true, false);
}

std::vector<std::string> restore_snapshot(const RestoreInput& in, FieldState& f, MediumState& m) {
  const int level = find_level_index(in.results_dir + result_files::kPoints, in.J_final);
  if (level != 0 && level != 1) {
    throw ParameterError("Level index of J_final in point.txt must be 0 or 1: " +
                         std::to_string(level));
  }
  // A snapshot written as HDF5 is one file, with its step, level and
  // checksums in it.
  const std::string hdf5 = in.continue_dir + result_files::hdf5_snapshot(in.J_final);
  if (entry_exists(hdf5)) {
    restore_hdf5_snapshot(hdf5, in.J_final, level, in.run, f, m);
    return {};
  }
  if (m.classes.classes > 0) {
    throw IoError(hdf5,
                  "a run with spectral classes (--ensemble) continues from an HDF5 "
                  "snapshot, which holds every class: \"" +
                      hdf5 + "\" is missing (the text files hold only their mean)");
  }
  std::vector<std::string> warnings;
  const Expected expected = expected_files(in, level, warnings);
  f.Jtoggle = level;

  const std::int64_t now = in.J_final;
  const std::int64_t before = in.J_final - 1;
  const auto nw = static_cast<std::size_t>(level);
  const auto od = static_cast<std::size_t>(1 - level);
  const std::string& dir = in.continue_dir;
  const std::int32_t N = f.N;
  using result_files::column;
  for (const auto& [name, scale, values] : {std::tuple{"Ex", in.E0, &f.Ex},
                                            {"Ey", in.E0, &f.Ey},
                                            {"Hx", 1.0, &f.Hx},
                                            {"Hy", 1.0, &f.Hy}}) {
    read_column(dir + column(name, now), N, scale, (*values)[nw], expected);
    read_column(dir + column(name, before), N, scale, (*values)[od], expected);
  }
  // One column of all cells at a time, whatever few of them are kept.
  std::vector<double> values(static_cast<std::size_t>(N) + 1, 0.0);
  for (int n = 1; n <= 15; ++n) {
    std::string u("u");
    u += std::to_string(n);
    read_stored_column(dir + column(u, before), 1 - level, n, values, m, expected);
    read_stored_column(dir + column(u, now), level, n, values, m, expected);
  }
  read_flags(dir + result_files::kFlags, N, m, expected);
  return warnings;
}

}  // namespace mps
