#include "output/manifest.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "core/errors.hpp"
#include "textio/fortran_format.hpp"
#include "textio/list_directed.hpp"
#include "textio/text_file.hpp"

namespace mps {
namespace {

constexpr const char* kHeading = "mps1d snapshot manifest";

template <typename T>
bool parse_number(std::string_view text, T& value, int base = 10) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value, base);
  return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

// "KEY VALUE" with a whole-number value.
template <typename T>
bool keyed_number(const std::string& line, std::string_view key, T& value) {
  return line.size() > key.size() + 1 && line.compare(0, key.size(), key) == 0 &&
         line[key.size()] == ' ' &&
         parse_number(std::string_view(line).substr(key.size() + 1), value);
}

bool parse_entry(const std::string& line, ManifestEntry& e) {
  const std::size_t a = line.find(' ');
  const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
  if (b == std::string::npos || a == 0) return false;
  const std::string_view text(line);
  e.name = line.substr(0, a);
  return parse_number(text.substr(a + 1, b - a - 1), e.bytes) && line.size() - b - 1 == 8 &&
         parse_number(text.substr(b + 1), e.crc32, 16);
}

// "run KEY VALUE": a recorded value of the run.
bool parse_run_value(const std::string& line, RunValue& v) {
  if (!line.starts_with("run ")) return false;
  const std::size_t key = 4, end = line.find(' ', key);
  if (end == std::string::npos || end == key || end + 1 == line.size()) return false;
  v.key = line.substr(key, end - key);
  v.value = line.substr(end + 1);
  return true;
}

std::string shortest(double x) {
  std::array<char, 32> text{};
  const auto r = std::to_chars(text.data(), text.data() + text.size(), x);
  return {text.data(), r.ptr};
}

IoError bad_line(const std::string& path, std::size_t line, const std::string& text) {
  std::string m = "\"";
  m.append(path).append("\", line ").append(std::to_string(line));
  m.append(": not a line of a snapshot manifest: \"").append(text).append("\"");
  return IoError(path, m);
}

}  // namespace

std::string hex32(std::uint32_t v) {
  std::string text(8, '0');
  for (std::size_t i = 0; i < 8; ++i) text[7 - i] = "0123456789abcdef"[(v >> (4 * i)) & 0xF];
  return text;
}

const ManifestEntry* SnapshotManifest::find(const std::string& name) const {
  const auto it =
      std::lower_bound(files.begin(), files.end(), name,
                       [](const ManifestEntry& e, const std::string& n) { return e.name < n; });
  return it != files.end() && it->name == name ? &*it : nullptr;
}

void ManifestSink::add(ManifestEntry entry) {
  const std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(std::move(entry));
}

std::vector<ManifestEntry> ManifestSink::take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(entries_, {});
}

std::vector<RunValue> run_values(const RunRecord& run) {
  std::vector<RunValue> v = {
      {"model", run.model},
      {"both_transitions", run.both_transitions ? "1" : "0"},
      {"dz_m", shortest(run.dz)},
      {"dt_s", shortest(run.dt)},
      {"E0_V_per_m", shortest(run.E0)},
      {"classes", std::to_string(std::max<std::size_t>(run.classes.size(), 1))}};
  for (std::size_t k = 0; k < run.classes.size(); ++k) {
    v.push_back({"class_" + std::to_string(k + 1),
                 shortest(run.classes[k].offset) + " " + shortest(run.classes[k].weight)});
  }
  if (run.magnetic_field) {
    std::string text;
    for (const double x : run.magnetic) text.append(text.empty() ? "" : " ").append(shortest(x));
    v.push_back({"magnetic_field", text});
  }
  return v;
}

void check_same_run(const std::string& path, const std::vector<RunValue>& stored,
                    const std::vector<RunValue>& now) {
  // A snapshot that records its run (an earlier version's records
  // nothing) and no magnetic field was written without one.
  std::vector<RunValue> recorded = stored;
  const auto has_key = [](const std::vector<RunValue>& v, const std::string& key) {
    return std::any_of(v.begin(), v.end(), [&](const RunValue& x) { return x.key == key; });
  };
  if (!stored.empty() && !has_key(stored, "magnetic_field") && has_key(now, "magnetic_field")) {
    recorded.push_back({"magnetic_field", "none"});
  }
  for (const RunValue& s : recorded) {
    const auto it =
        std::find_if(now.begin(), now.end(), [&](const RunValue& n) { return n.key == s.key; });
    const std::string value = it == now.end() ? "none" : it->value;
    if (value == s.value) continue;
    std::string m = "\"";
    m.append(path).append("\" was written by a run with ").append(s.key).append(" ");
    m.append(s.value).append(", this run has ").append(value);
    m.append(
        ": a continued run keeps the model, equations, dz, dt, field scale E0 (the first "
        "pulse's amplitude) and spectral classes of the run it continues");
    throw IoError(path, m);
  }
}

std::string manifest_text(const SnapshotManifest& manifest) {
  std::vector<ManifestEntry> files = manifest.files;
  std::sort(files.begin(), files.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.name < b.name; });
  std::string text(kHeading);
  text.append("\nstep ").append(textio::step_label(manifest.J));
  text.append("\nlevel ").append(std::to_string(manifest.level)).append("\n");
  for (const RunValue& v : manifest.run) text.append("run ").append(v.key + " " + v.value + "\n");
  for (const ManifestEntry& e : files) {
    text.append(e.name).append(" ").append(std::to_string(e.bytes)).append(" ");
    text.append(hex32(e.crc32)).append("\n");
  }
  return text;
}

SnapshotManifest parse_manifest(const std::string& path, const std::string& text) {
  const textio::LineCursor lines = textio::LineCursor::from_text(text);
  SnapshotManifest m;
  if (lines.size() < 3 || lines.line(0) != kHeading) {
    throw IoError(path, "\"" + path + "\" is not a snapshot manifest");
  }
  if (!keyed_number(lines.line(1), "step", m.J)) throw bad_line(path, 2, lines.line(1));
  if (!keyed_number(lines.line(2), "level", m.level)) throw bad_line(path, 3, lines.line(2));
  std::size_t n = 3;
  for (RunValue v; n < lines.size() && parse_run_value(lines.line(n), v); ++n) m.run.push_back(v);
  for (; n < lines.size(); ++n) {
    ManifestEntry e;
    if (!parse_entry(lines.line(n), e)) throw bad_line(path, n + 1, lines.line(n));
    m.files.push_back(std::move(e));
  }
  std::sort(m.files.begin(), m.files.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.name < b.name; });
  return m;
}

ManifestEntry entry_of(const std::string& name, const std::string& content) {
  return {name, content.size(), textio::crc32(0, content)};
}

}  // namespace mps
