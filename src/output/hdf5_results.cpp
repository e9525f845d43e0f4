#include "output/hdf5_results.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "core/errors.hpp"
#include "output/hdf5_file.hpp"
#include "output/result_files.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace mps {

namespace {

using h5::Dataset;
constexpr double kFemtoseconds = 1e15;
constexpr double kMicrometres = 1e6;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const char* const kStoredNames[] = {"u1", "u2",  "u3",  "u4",  "u5",  "u6",  "u7", "u8",
                                    "u9", "u10", "u11", "u12", "u13", "u14", "u15"};
const char* const kKinds[] = {"Ex", "Ey", "rho11", "rho22", "rho33", "rho44"};
const char* const kPhysical[] = {"u13_physical", "u14_physical", "u15_physical"};

// The coordinates of a group: `time` [fs] and `z` [µm] as dimension
// scales, `step` and `cell` (or `dot_cell`) beside them.
void coordinates(h5::Writer& file, hid_t g, std::span<const std::int64_t> steps,
                 std::span<const std::int32_t> cells, const Hdf5Run& run, const char* cell_name) {
  const double dt = run.dt, dz = run.dz;
  std::vector<double> time(steps.size()), z(cells.size());
  std::vector<std::int64_t> index(cells.begin(), cells.end());
  for (std::size_t r = 0; r < steps.size(); ++r) {
    time[r] = static_cast<double>(steps[r]) * dt * kFemtoseconds;
  }
  for (std::size_t k = 0; k < cells.size(); ++k) {
    z[k] = static_cast<double>(cells[k]) * dz * kMicrometres;
  }
  file.scale(g, {"time", {}, "fs", "time of the step"}, time);
  file.scale(g, {"z", {}, "um", "position of the cell"}, z);
  file.write(g, {"step", {steps.size(), 0}, "1", "step", {"time", nullptr}}, steps.data());
  file.write(g, {cell_name, {cells.size(), 0}, "1", "cell index (1-based)", {"z", nullptr}},
             index.data());
}

// The attributes of a magnetic field (written only with one): B [T] and
// the g-factors, in the order of RunRecord::magnetic.
constexpr std::array<const char*, 7> kMagneticAttributes = {"magnetic_field_x_T",
                                                            "magnetic_field_y_T",
                                                            "magnetic_field_z_T",
                                                            "g_electron_inplane",
                                                            "g_electron_z",
                                                            "g_hole_inplane",
                                                            "g_hole_z"};

void common_attributes(h5::Writer& file, const char* format, std::int64_t J, const Hdf5Run& run) {
  const hid_t root = file.root();
  file.attribute(root, "program", "mps1d");
  file.attribute(root, "format", format);
  file.attribute(root, "step", J);
  file.attribute(root, "dt_s", run.dt);
  file.attribute(root, "dz_m", run.dz);
  file.attribute(root, "E0_V_per_m", run.E0);
  file.attribute(root, "model", run.model);
  file.attribute(root, "both_transitions", std::int64_t{run.both_transitions ? 1 : 0});
  file.attribute(root, "classes", std::int64_t{run.ensemble.classes});
  if (run.ensemble.broadened()) file.attribute(root, "fwhm_meV", run.ensemble.fwhm_meV);
  if (run.magnetic.on) {
    const MagneticField& m = run.magnetic;
    for (std::size_t i = 0; i < kMagneticAttributes.size(); ++i) {
      const std::array<double, 7> v = {m.B[0], m.B[1],       m.B[2], m.ge_inplane,
                                       m.ge_z, m.gh_inplane, m.gh_z};
      file.attribute(root, kMagneticAttributes[i], v[i]);
    }
  }
}

// A data set over (time, z) or, for the restart group, over z alone.
Dataset over(const char* name, std::size_t rows, std::size_t cols, const char* units,
             const char* long_name) {
  if (rows == 0) return {name, {cols, 0}, units, long_name, {nullptr, nullptr}, nullptr};
  return {name, {rows, cols}, units, long_name, {"time", "z"}, "step cell"};
}

// Ex, Ey [V/m], Hx, Hy [A/m] and the stored w1..w15 of one level; `rows`
// 1 under /snapshots, 0 (one axis, no scales) under /restart.
void write_level(h5::Writer& file, hid_t g, const SnapshotInput& in, int level, std::size_t rows) {
  const FieldState& f = *in.field;
  const MediumState& m = *in.medium;
  const auto N = static_cast<std::size_t>(f.N);
  const auto l = static_cast<std::size_t>(level);
  for (const auto& [name, values, units] : {std::tuple{"Ex", &f.Ex, "V/m"},
                                            {"Ey", &f.Ey, "V/m"},
                                            {"Hx", &f.Hx, "A/m"},
                                            {"Hy", &f.Hy, "A/m"}}) {
    const hid_t set = file.write(g, over(name, rows, N, units, name), (*values)[l].data() + 1);
    if (units[0] == 'V') file.attribute(set, "E0_V_per_m", in.E0);
  }
  std::vector<double> column(N);
  for (int n = 0; n < 15; ++n) {
    for (std::int32_t k = 1; k <= f.N; ++k) {
      column[static_cast<std::size_t>(k - 1)] =
          m.has_slot(k) ? m.w_slot(level, m.slot_of(k), n) : 0.0;
    }
    file.write(g, over(kStoredNames[n], rows, N, "1", "stored medium value w"), column.data());
  }
}

// The physical u13..u15, the decay factors and, under /populations, the
// populations of the dot cells.
void write_physical(h5::Writer& file, hid_t g, const SnapshotInput& in, const Hdf5Run& run) {
  const MediumState& m = *in.medium;
  const int level = in.field->new_level();
  const auto N = static_cast<std::size_t>(m.N);
  std::array<std::vector<double>, 3> u;
  for (auto& v : u) v.resize(N);
  for (std::int32_t k = 1; k <= m.N; ++k) {
    const Diagonal d = m.physical(level, k);
    const auto c = static_cast<std::size_t>(k - 1);
    u[0][c] = d.u13, u[1][c] = d.u14, u[2][c] = d.u15;
  }
  for (std::size_t n = 0; n < 3; ++n) {
    file.write(g, over(kPhysical[n], 1, N, "1", "physical value u = u_eq + e w"), u[n].data());
  }
  file.write(g,
             {"decay_factors", {1, 15}, "1", "exp(-(J+1/2) dt/T_k), k = 1..15", {"time", nullptr}},
             in.decay->now.data() + 1);

  const std::int32_t z1 = std::max(run.z1, 1), z2 = std::min(run.z2, m.N);
  if (z2 < z1) return;
  std::vector<std::int32_t> cells;
  std::array<std::vector<double>, 4> rho;
  for (std::int32_t k = z1; k <= z2; ++k) {
    cells.push_back(k);
    const Populations p = populations(m.physical(level, k));
    rho[0].push_back(p.rho11);
    rho[1].push_back(p.rho22);
    rho[2].push_back(p.rho33);
    rho[3].push_back(p.rho44);
  }
  const hid_t pg = file.group("populations");
  const std::int64_t J = in.J;
  coordinates(file, pg, {&J, 1}, cells, run, "dot_cell");
  for (std::size_t q = 0; q < 4; ++q) {
    Dataset d = over(kKinds[q + 2], 1, cells.size(), "1", "population of the level");
    d.coordinates = "step dot_cell";
    file.write(pg, d, rho[q].data());
  }
}

// Component n (0..14: w1..w15) of every class of every dot cell at a
// level, (dot cell, class) in row-major order.
std::vector<double> class_values(const MediumState& m, int level, int n) {
  const ClassStates& e = m.classes;
  std::vector<double> v;
  v.reserve(static_cast<std::size_t>(m.dots) * static_cast<std::size_t>(e.classes));
  for (std::int32_t s = 0; s < m.dots; ++s) {
    for (int k = 0; k < e.classes; ++k)
      v.push_back(e.at(level, s, k / kBatchLanes)[n][k % kBatchLanes]);
  }
  return v;
}

// The spectral classes of the dot cells: under /classes their offsets,
// weights, stored values and populations at step J, under /restart the
// stored values at J - 1 and their flags (bits of levels 1..4).
void write_classes(h5::Writer& file, hid_t r, const SnapshotInput& in, const Hdf5Run& run) {
  const MediumState& m = *in.medium;
  const ClassStates& e = m.classes;
  const auto K = static_cast<std::size_t>(e.classes);
  const auto dots = static_cast<std::size_t>(m.dots);
  const hid_t g = file.group("classes");
  file.attribute(g, "fwhm_meV", run.ensemble.fwhm_meV);
  std::vector<std::int64_t> cells(m.cell.begin(), m.cell.begin() + m.dots);
  std::vector<double> offset, weight;
  for (const SpectralClass& c : run.classes) offset.push_back(c.offset), weight.push_back(c.weight);
  file.write(g, {"dot_cell", {dots, 0}, "1", "cell index (1-based) of each row"}, cells.data());
  file.write(g, {"offset", {K, 0}, "rad/s", "transition frequency less Delta"}, offset.data());
  file.write(g, {"weight", {K, 0}, "1", "share of the cell's dots"}, weight.data());
  const int level = in.field->new_level();
  std::array<std::vector<double>, 4> rho;
  const std::vector<double> w13 = class_values(m, level, 12), w14 = class_values(m, level, 13),
                            w15 = class_values(m, level, 14);
  for (std::size_t q = 0; q < w13.size(); ++q) {
    const Diagonal u = physical_diagonal(m.eq_slot(static_cast<std::int32_t>(q / K)), in.decay->now,
                                         {w13[q], w14[q], w15[q]});
    const Populations p = populations(u);
    rho[0].push_back(p.rho11), rho[1].push_back(p.rho22);
    rho[2].push_back(p.rho33), rho[3].push_back(p.rho44);
  }
  for (std::size_t q = 0; q < 4; ++q) {
    file.write(g, {kKinds[q + 2], {dots, K}, "1", "population of the level in each class"},
               rho[q].data());
  }
  for (int n = 0; n < 15; ++n) {
    const std::string name = std::string("class_") + kStoredNames[n];
    file.write(g, {kStoredNames[n], {dots, K}, "1", "stored value w of each class"},
               class_values(m, level, n).data());
    file.write(r, {name.c_str(), {dots, K}, "1", "stored value w of each class"},
               class_values(m, 1 - level, n).data());
  }
  std::vector<std::int8_t> bits;
  for (std::int32_t s = 0; s < m.dots; ++s) {
    for (std::size_t k = 0; k < K; ++k) {
      const std::uint8_t* f = e.flags(s, static_cast<int>(k / kBatchLanes));
      bits.push_back(static_cast<std::int8_t>(f[k % kBatchLanes]));
    }
  }
  file.write(r, {"class_flags", {dots, K}, "1", "population flags of each class, bit k-1: level k"},
             bits.data());
}

void write_snapshot_file(const SnapshotInput& in, const Hdf5Run& run) {
  const FieldState& f = *in.field;
  h5::Writer file(in.folder + result_files::hdf5_snapshot(in.J));
  common_attributes(file, "mps1d snapshot 1", in.J, run);
  file.attribute(file.root(), "level", static_cast<std::int64_t>(f.Jtoggle));
  file.attribute(file.root(), "time_fs", static_cast<double>(in.J) * run.dt * kFemtoseconds);
  file.attribute(file.root(), "NZ", static_cast<std::int64_t>(f.N));
  std::vector<std::int32_t> cells(static_cast<std::size_t>(f.N));
  for (std::int32_t k = 1; k <= f.N; ++k) cells[static_cast<std::size_t>(k - 1)] = k;
  const hid_t g = file.group("snapshots");
  const std::int64_t J = in.J;
  coordinates(file, g, {&J, 1}, cells, run, "cell");
  write_level(file, g, in, f.new_level(), 1);
  write_physical(file, g, in, run);
  const hid_t r = file.group("restart");
  file.attribute(r, "step", in.J - 1);
  write_level(file, r, in, f.old_level(), 0);
  std::vector<std::int8_t> flags;
  flags.reserve(4 * cells.size());
  for (const std::int32_t k : cells) {
    for (const std::int32_t flag : in.medium->flags(k))
      flags.push_back(static_cast<std::int8_t>(flag));
  }
  file.write(r, {"flags", {cells.size(), 4}, "1", "population flags of levels 1..4"}, flags.data());
  if (in.medium->classes.classes > 0) write_classes(file, r, in, run);
  file.commit();
}

// The (R x M) array of quantity `kind` of the monitors over the kept rows;
// NaN for the populations of the first and last monitor, which record the
// fields only.
std::vector<double> monitor_array(const MonitorSamples& s, int kind,
                                  const std::vector<std::int64_t>& rows) {
  std::vector<double> out;
  out.reserve(rows.size() * static_cast<std::size_t>(s.M));
  for (const std::int64_t r : rows) {
    for (std::int32_t k = 1; k <= s.M; ++k) {
      const bool end = k == 1 || k == s.M;
      out.push_back(kind >= 2 && end ? kNaN : s.at(kind, k, r));
    }
  }
  return out;
}

void write_flux(h5::Writer& file, const std::vector<double>& rows) {
  const std::size_t n = rows.size() / 3;
  std::array<std::vector<double>, 3> column;
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t r = 0; r < n; ++r) column[c].push_back(rows[3 * r + c]);
  }
  const hid_t g = file.group("flux");
  file.scale(g, {"time", {}, "fs", "time of the step"}, column[0]);
  const char* what[] = {"Poynting flux toward +z next to the left end",
                        "Poynting flux toward +z next to the right end"};
  const char* names[] = {"S_left", "S_right"};
  for (std::size_t c = 1; c < 3; ++c) {
    file.write(g, {names[c - 1], {n, 0}, "W/m^2", what[c - 1], {"time", nullptr}},
               column[c].data());
  }
}

void write_traces_file(const TraceInput& in, const Hdf5Run& run,
                       const std::vector<double>& flux_rows) {
  const MonitorSamples& s = *in.samples;
  h5::Writer file(in.folder + result_files::hdf5_traces(in.J));
  common_attributes(file, "mps1d traces 1", in.J, run);
  file.attribute(file.root(), "first_step", in.Jb + 1);
  if (in.every > 1) file.attribute(file.root(), "trace_every", in.every);
  std::vector<std::int64_t> rows, steps;
  for (std::int64_t r = first_kept_row(in.Jb, in.every); r <= in.J - in.Jb; r += in.every) {
    rows.push_back(r);
    steps.push_back(in.Jb + r);
  }
  const hid_t g = file.group("traces");
  coordinates(file, g, steps, in.monitor_cells, run, "cell");
  const std::size_t R = rows.size();
  for (int kind = 0; kind < 6; ++kind) {
    const std::vector<double> values = monitor_array(s, kind, rows);
    const bool field = kind < 2;
    Dataset d = over(kKinds[kind], std::max<std::size_t>(R, 1), in.monitor_cells.size(),
                     field ? "V/m" : "1", field ? "field" : "population");
    d.shape[0] = R;  // (0 x M) for a block without a kept step (--trace-every)
    const hid_t set = file.write(g, d, values.data());
    if (field) file.attribute(set, "E0_V_per_m", run.E0);
  }
  if (!flux_rows.empty()) write_flux(file, flux_rows);
  file.commit();
}

// Statistics lines of a block as (S x M) arrays per quantity and measure:
// [3 kind + 0..2] the maximum, minimum and change, NaN where a monitor
// records no such quantity; fields back in V/m.
std::vector<std::vector<double>> statistics_arrays(const StatisticsLines& lines, std::size_t S,
                                                   std::size_t M, double E0) {
  std::vector<std::vector<double>> out(18, std::vector<double>(S * M, kNaN));
  for (std::size_t n = 0; n < lines.values.size(); ++n) {
    const auto [k, kind] = lines.quantities[n];
    const double scale = kind < 2 ? E0 : 1.0;
    const std::vector<double>& v = lines.values[n];
    for (std::size_t line = 0; line < S && 3 * line + 2 < v.size(); ++line) {
      for (std::size_t m = 0; m < 3; ++m) {
        out[3 * static_cast<std::size_t>(kind) + m][line * M + static_cast<std::size_t>(k - 1)] =
            v[3 * line + m] * scale;
      }
    }
  }
  return out;
}

void write_statistics_file(const StatisticsLines& lines, const std::string& path, std::int64_t J,
                           const std::vector<std::int32_t>& cells, const Hdf5Run& run) {
  const std::size_t S = lines.values.empty() ? 0 : lines.values[0].size() / 3;
  h5::Writer file(path);
  common_attributes(file, "mps1d statistics 1", J, run);
  std::vector<std::int64_t> steps;
  for (std::size_t i = 1; i <= S; ++i) {
    steps.push_back(J - run.LL + run.statistics_interval * static_cast<std::int64_t>(i));
  }
  const hid_t g = file.group("statistics");
  coordinates(file, g, steps, cells, run, "cell");
  const std::vector<std::vector<double>> arrays = statistics_arrays(lines, S, cells.size(), run.E0);
  const char* measures[] = {"_max", "_min", "_change"};
  for (std::size_t a = 0; a < arrays.size(); ++a) {
    const std::string name = std::string(kKinds[a / 3]) + measures[a % 3];
    const bool field = a < 6;
    file.write(g, over(name.c_str(), S, cells.size(), field ? "V/m" : "1", "over the interval"),
               arrays[a].data());
  }
  file.commit();
}

}  // namespace

FileTasks hdf5_snapshot_tasks(const SnapshotInput& in, const std::shared_ptr<const Hdf5Run>& run) {
  FileTasks t;
  t.paths.push_back(in.folder + result_files::hdf5_snapshot(in.J));
  t.tasks.emplace_back([in, run] { write_snapshot_file(in, *run); });
  return t;
}

}  // namespace mps

namespace mps {

FileTasks hdf5_trace_tasks(const TraceInput& in, const std::shared_ptr<const Hdf5Run>& run,
                           std::vector<double> flux_rows) {
  FileTasks t;
  t.paths.push_back(in.folder + result_files::hdf5_traces(in.J));
  t.tasks.emplace_back(
      [in, run, flux = std::move(flux_rows)] { write_traces_file(in, *run, flux); });
  return t;
}

FileTasks hdf5_statistics_tasks(StatisticsLines lines, const std::string& folder, std::int64_t J,
                                const std::vector<std::int32_t>& monitor_cells,
                                const std::shared_ptr<const Hdf5Run>& run) {
  FileTasks t;
  const std::string path = folder + result_files::hdf5_statistics(J);
  t.paths.push_back(path);
  t.tasks.emplace_back([lines = std::move(lines), path, J, monitor_cells, run] {
    write_statistics_file(lines, path, J, monitor_cells, *run);
  });
  return t;
}

}  // namespace mps

namespace mps {

namespace {

// The data set `name` of that shape, every value finite: a NaN or an
// infinity restored would be computed on and written before the run
// stopped, blamed on the run.
std::vector<double> finite_values(const h5::Reader& file, const std::string& name,
                                  h5::Shape shape) {
  std::vector<double> v = file.doubles(name.c_str(), shape);
  const auto bad = std::find_if(v.begin(), v.end(), [](double x) { return !std::isfinite(x); });
  if (bad == v.end()) return v;
  const auto at = static_cast<std::size_t>(bad - v.begin());
  const std::size_t columns = std::max<std::size_t>(shape[1], 1);
  std::string m = "\"" + file.path() + "\": " + name + ", row " + std::to_string(at / columns + 1);
  if (shape[1] != 0) m += ", column " + std::to_string(at % columns + 1);
  m += ": not a finite number: " + std::to_string(*bad);
  throw IoError(file.path(), m);
}

// Both levels of Ex, Ey, Hx, Hy from /snapshots (step J, one row) and
// /restart (J - 1, one axis).
void restore_fields(const h5::Reader& file, int level, FieldState& f) {
  const auto N = static_cast<std::size_t>(f.N);
  for (const auto& [name, values] :
       {std::pair{"Ex", &f.Ex}, {"Ey", &f.Ey}, {"Hx", &f.Hx}, {"Hy", &f.Hy}}) {
    const std::vector<double> now = finite_values(file, std::string("/snapshots/") + name, {1, N});
    const std::vector<double> before = finite_values(file, std::string("/restart/") + name, {N, 0});
    std::copy(now.begin(), now.end(), (*values)[static_cast<std::size_t>(level)].begin() + 1);
    std::copy(before.begin(), before.end(),
              (*values)[static_cast<std::size_t>(1 - level)].begin() + 1);
  }
}

void restore_medium(const h5::Reader& file, int level, MediumState& m) {
  const auto N = static_cast<std::size_t>(m.N);
  for (int n = 0; n < 15; ++n) {
    for (const auto& [group, l, shape] : {std::tuple{"/restart/", 1 - level, h5::Shape{N, 0}},
                                          {"/snapshots/", level, h5::Shape{1, N}}}) {
      const std::vector<double> v =
          finite_values(file, std::string(group) + kStoredNames[n], shape);
      for (std::int32_t k = 1; k <= m.N; ++k) m.set_w(l, k, n, v[static_cast<std::size_t>(k - 1)]);
    }
  }
  const std::vector<std::int8_t> flags = file.bytes("/restart/flags", {N, 4});
  for (std::int32_t k = 1; k <= m.N; ++k) {
    PopulationFlags p{};
    for (std::size_t q = 0; q < 4; ++q) {
      const std::int8_t b = flags[4 * static_cast<std::size_t>(k - 1) + q];
      if (b != 0 && b != 1) {
        throw IoError(file.path(), "\"" + file.path() + "\": /restart/flags, cell " +
                                       std::to_string(k) +
                                       ": the flags are not 0 or 1: " + std::to_string(b));
      }
      p[q] = b == 1 ? 1 : 0;
    }
    m.set_flags(k, p);
  }
}

// The classes' flags from /restart/class_flags: bits of levels 1..4, so
// 0..15; anything else is not what the run wrote.
void restore_class_flags(const h5::Reader& file, MediumState& m) {
  ClassStates& e = m.classes;
  const auto K = static_cast<std::size_t>(e.classes);
  const std::vector<std::int8_t> bits =
      file.bytes("/restart/class_flags", {static_cast<std::size_t>(m.dots), K});
  for (std::size_t r = 0; r < bits.size(); ++r) {
    if (bits[r] < 0 || bits[r] > 15) {
      throw IoError(file.path(),
                    "\"" + file.path() + "\": /restart/class_flags, row " +
                        std::to_string(r / K + 1) + ", column " + std::to_string(r % K + 1) +
                        ": the flags are not bits of levels 1..4: " + std::to_string(bits[r]));
    }
    const auto k = static_cast<int>(r % K);
    e.flags(static_cast<std::int32_t>(r / K), k / kBatchLanes)[k % kBatchLanes] =
        static_cast<std::uint8_t>(bits[r]);
  }
}

// The classes of the dot cells from /classes (step J) and /restart
// (J - 1), into m.classes as readied for the run (whose count the file's
// matches: check_run).
void restore_classes(const h5::Reader& file, int level, MediumState& m) {
  ClassStates& e = m.classes;
  if (e.classes == 0) return;
  const auto dots = static_cast<std::size_t>(m.dots);
  const auto K = static_cast<std::size_t>(e.classes);
  const std::vector<std::int64_t> cells = file.integers("/classes/dot_cell", {dots, 0});
  for (std::size_t s = 0; s < dots; ++s) {
    if (cells[s] != m.cell[s]) {
      throw IoError(file.path(), "\"" + file.path() + "\": its dot cells are not the run's");
    }
  }
  for (int n = 0; n < 15; ++n) {
    const std::string name = kStoredNames[n];
    for (const auto& [path, l] :
         {std::pair{"/classes/" + name, level}, {"/restart/class_" + name, 1 - level}}) {
      const std::vector<double> v = finite_values(file, path, {dots, K});
      for (std::size_t r = 0; r < v.size(); ++r) {
        const auto s = static_cast<std::int32_t>(r / K);
        const auto k = static_cast<int>(r % K);
        e.at(l, s, k / kBatchLanes)[n][k % kBatchLanes] = v[r];
      }
    }
  }
  restore_class_flags(file, m);
}

// The run that wrote the file, as its attributes and /classes record it;
// its class count must be the run's (`classes`) before any class is read.
RunRecord stored_run(const h5::Reader& file, std::size_t classes) {
  RunRecord r;
  r.model = file.text_attribute("model");
  const std::int64_t both = file.int_attribute("both_transitions");
  if (both != 0 && both != 1) {
    throw IoError(file.path(), "\"" + file.path() + "\": the attribute both_transitions is " +
                                   std::to_string(both) + ", not 0 or 1");
  }
  r.both_transitions = both == 1;
  r.dz = file.real_attribute("dz_m");
  r.dt = file.real_attribute("dt_s");
  r.E0 = file.real_attribute("E0_V_per_m");
  r.magnetic_field = file.has_attribute(kMagneticAttributes[0]);
  for (std::size_t i = 0; r.magnetic_field && i < r.magnetic.size(); ++i) {
    r.magnetic[i] = file.real_attribute(kMagneticAttributes[i]);
  }
  const std::int64_t stored = file.int_attribute("classes");
  const std::size_t now = std::max<std::size_t>(classes, 1);
  if (stored != static_cast<std::int64_t>(now) || file.has("/classes") != (classes > 0)) {
    throw IoError(file.path(), "\"" + file.path() + "\" holds " + std::to_string(stored) +
                                   " spectral classes per dot cell, the run " +
                                   std::to_string(now) +
                                   "; continue with the --ensemble of the run that wrote it");
  }
  if (classes == 0) return r;
  const std::vector<double> offset = finite_values(file, "/classes/offset", {classes, 0});
  const std::vector<double> weight = finite_values(file, "/classes/weight", {classes, 0});
  for (std::size_t k = 0; k < classes; ++k) r.classes.push_back({offset[k], weight[k]});
  return r;
}

}  // namespace

void restore_hdf5_snapshot(const std::string& path, std::int64_t J, int level, const RunRecord& run,
                           FieldState& f, MediumState& m) {
  const h5::Reader file(path);
  const std::int64_t step = file.int_attribute("step");
  const std::int64_t stored_level = file.int_attribute("level");
  if (step != J || stored_level != level || file.int_attribute("NZ") != f.N) {
    throw IoError(path, "\"" + path + "\" holds step " + std::to_string(step) + " with level " +
                            std::to_string(stored_level) + " on " +
                            std::to_string(file.int_attribute("NZ")) +
                            " cells; point.txt names step " + std::to_string(J) + " with level " +
                            std::to_string(level) + " on " + std::to_string(f.N));
  }
  const auto classes = static_cast<std::size_t>(m.classes.classes);
  check_same_run(path, run_values(stored_run(file, classes)), run_values(run));
  f.Jtoggle = level;
  restore_fields(file, level, f);
  restore_medium(file, level, m);
  restore_classes(file, level, m);
}

}  // namespace mps
