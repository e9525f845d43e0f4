#include "output/traces.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "core/constants.hpp"
#include "core/errors.hpp"
#include "output/result_files.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace mps {

namespace {

constexpr double kFemtoseconds = 999999986991104.0;  // float(1e15)
const char* const kKindNames[] = {"Ex", "Ey", "rho11", "rho22", "rho33", "rho44"};

// File families: the first monitor ("time1_"), the last ("time2_"), and the
// monitors between them (named after their cell).
enum Family { kPoint = 0, kFirst = 1, kLast = 2 };

std::string trace_name(Family family, std::int32_t cell, int kind, const std::string& label) {
  return result_files::trace(family, kKindNames[kind], cell, label);
}

}  // namespace

double trace_time_fs(std::int64_t s, double dt) {
  return static_cast<double>(s) * dt * kFemtoseconds;
}

std::int64_t first_kept_row(std::int64_t Jb, std::int64_t every) { return every - Jb % every; }

std::int64_t kept_steps(std::int64_t after, std::int64_t last, std::int64_t every) {
  return last <= after ? 0 : last / every - after / every;
}

void check_trace_every(const RunInput& in) {
  const RunParameters& p = in.params;
  if (p.trace_every <= 1) return;
  double shortest = p.pulse.wavelength;
  for (const Pulse& q : p.further_pulses) {
    if (q.wavelength > 0.0 && (shortest <= 0.0 || q.wavelength < shortest)) shortest = q.wavelength;
  }
  const double period = shortest / constants::c0;
  const double spacing = static_cast<double>(p.trace_every) * in.structure.dt;
  if (period <= 0.0 || spacing <= period / 4.0) return;
  const auto most = static_cast<long long>(period / 4.0 / in.structure.dt);
  char text[256];
  std::snprintf(text, sizeof text,
                "--trace-every=%lld keeps a sample every %.4g fs, more than a quarter of the "
                "carrier period %.4g fs: the traces would alias; at most %lld here",
                static_cast<long long>(p.trace_every), spacing * 1e15, period * 1e15, most);
  throw FatalMessage(text);
}

FileTasks trace_tasks(const TraceInput& in) {
  const MonitorSamples& b = *in.samples;
  const std::string label = textio::step_label(in.J);
  const std::int64_t d = in.J - in.Jb;
  const std::int32_t M = b.M;

  // The kept rows and their time column, the same for every file of the snapshot.
  auto rows = std::make_shared<std::vector<std::int64_t>>();
  auto times = std::make_shared<std::vector<std::string>>();
  for (std::int64_t r = first_kept_row(in.Jb, in.every); r <= d; r += in.every) {
    std::string t;
    textio::append_E23_12(t, trace_time_fs(in.Jb + r, in.dt));
    t += "  ";
    rows->push_back(r);
    times->push_back(std::move(t));
  }
  FileTasks tasks;
  auto add = [&](Family family, std::int32_t k, int kind) {
    const std::int32_t cell = in.monitor_cells[static_cast<std::size_t>(k - 1)];
    const std::string path = in.folder + trace_name(family, cell, kind, label);
    tasks.paths.push_back(textio::stored_path(path, in.storage));
    tasks.tasks.emplace_back(
        [samples = in.samples, rows, times, path, k, kind, E0 = in.E0, storage = in.storage] {
          const double scale = kind < 2 ? E0 : 1.0;
          std::string text;
          text.reserve(times->size() * 49);
          for (std::size_t n = 0; n < rows->size(); ++n) {
            text += (*times)[n];
            textio::append_E23_12(text, samples->at(kind, k, (*rows)[n]) / scale);
            text += '\n';
          }
          textio::write_text_file(path, text, storage);
        });
  };
  if (M >= 1) {
    add(kFirst, 1, 0);
    add(kFirst, 1, 1);
    add(kLast, M, 0);
    add(kLast, M, 1);
  }
  for (std::int32_t k = 2; k <= M - 1; ++k) {
    for (int kind = 0; kind < 6; ++kind) add(kPoint, k, kind);
  }
  return tasks;
}

std::vector<std::string> write_block_traces(const TraceInput& in) { return trace_tasks(in).run(); }

RunningStatistics::RunningStatistics(const std::vector<std::int32_t>& monitor_cells, double E0)
    : cells_(monitor_cells), E0_(E0) {
  const auto M = static_cast<std::int32_t>(monitor_cells.size());
  if (M >= 1) {
    for (const int family : {kFirst, kLast}) {
      const std::int32_t k = family == kFirst ? 1 : M;
      quantities_.push_back({k, 0, family});
      quantities_.push_back({k, 1, family});
    }
  }
  for (std::int32_t k = 2; k <= M - 1; ++k) {
    for (int kind = 0; kind < 6; ++kind) quantities_.push_back({k, kind, kPoint});
  }
  pending_.resize(quantities_.size());
}

void RunningStatistics::update(const MonitorSamples& b, std::int64_t r) {
  for (Quantity& q : quantities_) {
    const double now = b.at(q.kind, q.monitor, r);
    const double before = b.at(q.kind, q.monitor, r - 1);
    q.max = std::max(q.max, now);
    q.min = std::min(q.min, now);
    q.change = q.change + (now - before);
  }
}

void RunningStatistics::record(const std::string& block_label) {
  block_label_ = block_label;
  for (std::size_t n = 0; n < quantities_.size(); ++n) {
    Quantity& q = quantities_[n];
    const double scale = q.kind < 2 ? E0_ : 1.0;
    pending_[n].insert(pending_[n].end(), {q.max / scale, q.min / scale, q.change / scale});
    q.max = kResetMax;
    q.min = kResetMin;
    q.change = 0.0;
  }
}

std::vector<std::string> RunningStatistics::file_names(const std::string& block_label) const {
  std::vector<std::string> names;
  for (const Quantity& q : quantities_) {
    names.push_back(trace_name(static_cast<Family>(q.family),
                               cells_[static_cast<std::size_t>(q.monitor - 1)], q.kind,
                               block_label));
  }
  return names;
}

StatisticsLines RunningStatistics::take(const std::string& folder) {
  StatisticsLines lines;
  if (block_label_.empty()) return lines;
  const std::vector<std::string> names = file_names(block_label_);
  for (std::size_t n = 0; n < names.size(); ++n) {
    if (pending_[n].empty()) continue;
    lines.paths.push_back(folder + names[n]);
    lines.values.push_back(std::move(pending_[n]));
    lines.quantities.push_back({quantities_[n].monitor, quantities_[n].kind});
    pending_[n].clear();
  }
  return lines;
}

namespace {

// The lines of a statistics file: 0, then the maximum, minimum and change.
std::string statistics_text(const std::vector<double>& values) {
  std::string text;
  text.reserve(values.size() / 3 * 100);
  for (std::size_t k = 0; k + 2 < values.size(); k += 3) {
    for (const double v : {0.0, values[k], values[k + 1], values[k + 2]}) {
      textio::append_E23_12(text, v);
      text += "  ";
    }
    text += '\n';
  }
  return text;
}

}  // namespace

FileTasks statistics_tasks(StatisticsLines lines, textio::Storage storage) {
  auto shared = std::make_shared<StatisticsLines>(std::move(lines));
  FileTasks tasks;
  for (std::size_t n = 0; n < shared->paths.size(); ++n) {
    tasks.paths.push_back(textio::stored_path(shared->paths[n], storage));
    tasks.tasks.emplace_back([shared, n, storage] {
      textio::write_text_file(shared->paths[n], statistics_text(shared->values[n]), storage);
    });
  }
  return tasks;
}

std::vector<std::string> write_statistics(const StatisticsLines& lines, textio::Storage storage) {
  return statistics_tasks(lines, storage).run();
}

std::vector<std::string> RunningStatistics::flush(const std::string& folder,
                                                  textio::Storage storage) {
  return write_statistics(take(folder), storage);
}

std::string write_flux_records(const std::string& folder, std::int64_t J,
                               const std::vector<double>& rows, textio::Storage storage) {
  std::string text;
  text.reserve(rows.size() / 3 * 70);
  for (std::size_t k = 0; k + 2 < rows.size(); k += 3) {
    for (std::size_t c = 0; c < 3; ++c) textio::append_E23_12(text, rows[k + c]);
    text += '\n';
  }
  return textio::write_text_file(folder + result_files::flux(J), text, storage);
}

}  // namespace mps
