#include "input/checks.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "input/pulse_timing.hpp"
#include "input/structure.hpp"

namespace mps {
namespace {

std::string text(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

// "The NAME must ...: NAME = VALUE UNIT", with the first letter raised.
[[noreturn]] void reject(const std::string& name, const char* rule, double value,
                         const char* unit) {
  std::string m = "The ";
  m += name;
  m += rule;
  m += name;
  m += " = ";
  m += text(value);
  m += unit;
  if (m.compare(4, 1, "T") == 0 || m.compare(4, 3, "tau") == 0) m.erase(0, 4);
  throw ParameterError(m);
}

void finite(double value, const std::string& name) {
  if (!std::isfinite(value)) reject(name, " must be a finite number: ", value, "");
}

void positive(double value, const std::string& name, const char* unit) {
  finite(value, name);
  if (!(value > 0.0)) reject(name, " must be positive: ", value, unit);
}

// "T3", "tau(2,1)": names of table entries, built by appending (string
// sums of this shape trip a false -Wrestrict of GCC 12).
std::string entry_name(const char* table, int i, int j = 0) {
  std::string name = table;
  if (j == 0) {
    name += std::to_string(i);
    return name;
  }
  name += '(';
  name += std::to_string(i);
  name += ',';
  name += std::to_string(j);
  name += ')';
  return name;
}

// Times the model divides by: T1..T15 and the five transfer times.
void check_times(const RunParameters& p) {
  for (int k = 1; k <= kComponents; ++k) {
    // T13..T15 come from the transfer times.
    positive(p.T[static_cast<std::size_t>(k)], entry_name("T", k),
             k > 12 ? " s (from the transfer times)" : " s");
  }
  const std::pair<int, int> used[] = {{2, 1}, {1, 3}, {3, 1}, {2, 4}, {4, 2}};
  for (const auto& [i, j] : used) positive(p.tau(i, j), entry_name("tau", i, j), " s");
}

// Every pulse of the run with the word its messages name it by: "pulse",
// then "pulse 2", "pulse 3", ...
std::vector<std::pair<const Pulse*, std::string>> named_pulses(const RunParameters& p) {
  std::vector<std::pair<const Pulse*, std::string>> out{{&p.pulse, "pulse"}};
  for (std::size_t n = 0; n < p.further_pulses.size(); ++n) {
    out.emplace_back(&p.further_pulses[n], "pulse " + std::to_string(n + 2));
  }
  return out;
}

// Every real of the tables and the pulse line (unused ones too: a NaN or an
// infinity there is a damaged file).
void check_finite_values(const RunParameters& p) {
  for (std::size_t r = 0; r < p.levels.size(); ++r) {
    finite(p.levels[r].energy, "energy of level row " + std::to_string(r + 1));
  }
  for (int i = 1; i <= kLevels; ++i) {
    for (int j = 1; j <= kLevels; ++j) {
      finite(p.tau(i, j), entry_name("tau", i, j));
      finite(p.dipole_table(i, j), entry_name("dipole", i, j));
    }
  }
  finite(p.scale_long, "scale factor of the long times");
  finite(p.scale_transverse, "scale factor of the dephasing times");
  for (const auto& [q, word] : named_pulses(p)) {
    const std::string of = word == "pulse" ? "" : " of " + word;
    finite(q->amplitude, word + " amplitude");
    finite(q->duration, word + " duration");
    finite(q->delay, word + " delay");
    finite(q->noise_amplitude, "noise scale" + of);
  }
  finite(p.refl_left, "left reflection coefficient");
  finite(p.refl_right, "right reflection coefficient");
  finite(p.tolerance, "tolerance");
}

// The largest value an F12.5 field prints.
constexpr double kLargestIndex = 1e6;

void check_layers(const RunParameters& p, const StructureProfile& s) {
  std::vector<Layer> rows = s.layers;  // and those beyond the grid, checked alike
  rows.insert(rows.end(), s.rows_beyond.begin(), s.rows_beyond.end());
  for (std::size_t j = 0; j < rows.size(); ++j) {
    const Layer& l = rows[j];
    const std::string row = " of layer " + std::to_string(j + 1);
    for (const double v : {l.unused, l.a13, l.a14, l.a15, l.b13, l.b14, l.b15}) {
      finite(v, "values" + row);
    }
    positive(l.index, "index" + row, "");
    if (l.graded) positive(l.index_end, "right-end index" + row, "");
    // n_z.dat writes n in an F12.5 field: a larger index would print as asterisks.
    for (const double n : {l.index, l.index_end}) {
      if (n >= kLargestIndex)
        reject("index" + row, " must be below 1e6 (n_z.dat's field): ", n, "");
    }
  }
  // ... and the position z [um] in one as well.
  const double length_um = static_cast<double>(s.NZ) * s.dz * 1e6;
  if (!(length_um < kLargestIndex)) {
    reject("length of the structure", " must be below 1 m (n_z.dat's field): ", length_um, " um");
  }
  // The leapfrog scheme is stable for a local Courant number S / n <= 1.
  const std::vector<double> n = refractive_indices(s);
  for (std::size_t i = 1; i < n.size(); ++i) {
    if (p.courant / n[i] > 1.0) {
      throw ParameterError(
          "The Courant number S / n must not exceed 1 (the stability limit): S = " +
          text(p.courant) + ", n = " + text(n[i]) + " at cell " + std::to_string(i));
    }
  }
}

}  // namespace

namespace {

// Codes the solver knows.  Pulse shapes, polarisations and the boundary
// types 3 and 4 are checked as their lines are read.
void check_codes(const RunParameters& p) {
  for (const auto& [type, side] : {std::pair{p.bc_left, "left"}, {p.bc_right, "right"}}) {
    if (type != BoundaryType::absorbing && type != BoundaryType::wall) {
      throw ParameterError(std::string("Boundary type of the ") + side +
                           " end must be 1 (absorbing) or 2 (conducting wall): " +
                           std::to_string(static_cast<std::int32_t>(type)));
    }
  }
}

// The noise adds 440 sqrt(-2 sigma ln r1) cos(2 pi r2) with r1 >= 2^-53 to
// the field: the root needs sigma >= 0, and the field energy of the largest
// draw, its square, must stay finite.
void check_noise(const Pulse& q, const std::string& word) {
  if (q.shape != PulseShape::noise) return;
  const std::string name = word == "pulse" ? "noise scale" : "noise scale of " + word;
  if (q.noise_amplitude < 0.0) reject(name, " must not be negative: ", q.noise_amplitude, "");
  const double largest_draw_squared = 440.0 * 440.0 * 2.0 * 53.0 * std::log(2.0);
  if (!std::isfinite(largest_draw_squared * q.noise_amplitude)) {
    reject(name, " must keep the square of the largest noise draw finite: ", q.noise_amplitude, "");
  }
}

// Frequencies derived from finite inputs that can still overflow: the
// transition's W / hbar and each pulse's carrier.
void check_frequencies(const RunParameters& p) {
  if (!std::isfinite(p.detuning)) {
    reject("energy of level 1",
           " must give a finite transition frequency W / hbar: ", p.transition_energy, " J");
  }
  for (const auto& [q, word] : named_pulses(p)) {
    if (!std::isfinite(q->angular_frequency)) {
      reject(word + " wavelength", " must give a finite angular frequency: ", q->wavelength, " m");
    }
  }
}

void check_optics(const RunParameters& p) {
  positive(p.resonant_wavelength, "resonant wavelength (from the energy of level 1)", " m");
  for (const auto& [q, word] : named_pulses(p)) {
    positive(q->wavelength, word + " wavelength", " m");
    check_noise(*q, word);
    if (q->duration < 0.0) {
      throw ParameterError("The " + word + " duration must not be negative: " + text(q->duration) +
                           " s");
    }
  }
  finite(p.dipole_density, "density of resonant dipoles");
  if (p.dipole_density < 0.0) {
    throw ParameterError("The density of resonant dipoles must not be negative: Nd = " +
                         text(p.dipole_density) + " m^-3");
  }
  if (p.courant > 1.0) {
    throw ParameterError(
        "The Courant number must not exceed 1 (the stability limit of the 1D "
        "scheme): S = " +
        text(p.courant));
  }
  check_frequencies(p);
}

// Step labels have 12 digits, and the last step of the run is
// (Nt / LL + 1) LL; J_final must lie within the run.
void check_steps(const RunParameters& p) {
  constexpr std::int64_t kLastLabel = 999999999999;
  if (p.Nt > kLastLabel - p.LL) {
    throw ParameterError("The run must end by step 999999999999 (12-digit file labels): Nt = " +
                         std::to_string(p.Nt) + ", LL = " + std::to_string(p.LL));
  }
  if (p.J_final > p.Nt) {
    throw ParameterError("J_final must not lie beyond the run's last block: J_final = " +
                         std::to_string(p.J_final) + ", Nt = " + std::to_string(p.Nt));
  }
}

// Memory the system has for this run [bytes]: MemAvailable, else the
// physical memory.
double available_memory() {
  std::ifstream info("/proc/meminfo");
  std::string key;
  double kb = 0.0;
  while (info >> key >> kb) {
    if (key == "MemAvailable:") return kb * 1024.0;
    info.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return static_cast<double>(::sysconf(_SC_PHYS_PAGES)) *
         static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// Pulses of one origin add up there, but a circular secant pulse, which
// holds the field at its origin once it has passed, takes its origin alone.
void check_shared_origins(const RunParameters& p) {
  const auto pulses = named_pulses(p);
  for (const auto& [q, word] : pulses) {
    if (q->shape != PulseShape::sech || !q->circular()) continue;
    for (const auto& [other, other_word] : pulses) {
      if (other != q && other->origin == q->origin) {
        std::string m = "The circular secant ";
        m.append(word).append(" holds the field at its origin ");
        m.append(std::to_string(q->origin)).append(" once it has passed; ");
        m.append(other_word).append(" must start elsewhere");
        throw ParameterError(m);
      }
    }
  }
}

// Cells the input names lie on the grid; the pulses' step counts fit.
void check_positions(const RunParameters& p, const StructureProfile& s) {
  for (std::int32_t k = 1; k <= p.user_monitors(); ++k) {
    const std::int32_t cell = p.monitor_cells[static_cast<std::size_t>(k)];
    if (cell < 1 || cell > s.NZ) {
      throw ParameterError("Sampling cell " + std::to_string(k) + " outside 1..NZ: " +
                           std::to_string(cell) + " (NZ = " + std::to_string(s.NZ) + ")");
    }
  }
  for (const auto& [q, word] : named_pulses(p)) {
    if (q->origin < 0 || q->origin > s.NZ) {
      std::string what = word;
      what[0] = 'P';
      throw ParameterError(what + " origin outside 0..NZ: " + std::to_string(q->origin) +
                           " (NZ = " + std::to_string(s.NZ) + ")");
    }
    // The pulse source turns its times into step counts every step; they
    // must be representable.
    pulse_steps(*q, s.dt);
  }
  check_shared_origins(p);
}

}  // namespace

void check_values(const RunInput& in) {
  const RunParameters& p = in.params;
  check_positions(p, in.structure);
  check_graded_layers(in.structure);
  check_codes(p);
  check_finite_values(p);
  check_times(p);
  check_optics(p);
  check_layers(p, in.structure);
  check_steps(p);
}

void check_source(const RunInput& in) {
  if (in.params.source != SourceKind::transparent) return;
  const Pulse& q = in.params.pulse;
  for (const auto& [pulse, word] : named_pulses(in.params)) {
    if (pulse->shape == PulseShape::noise) {
      throw ParameterError("The transparent source launches pulses (shapes 1 to 4), not noise");
    }
    if (pulse->origin != q.origin) {
      throw ParameterError(
          "The transparent source launches every pulse through one plane: " + word + " starts at " +
          std::to_string(pulse->origin) + ", the first pulse at " + std::to_string(q.origin));
    }
  }
  if ((q.origin != 0 && q.origin < 3) || in.structure.NZ < 8) {
    throw ParameterError(
        "The transparent source needs its origin cell at 3 or beyond (or 0) "
        "and at least 8 cells: origin = " +
        std::to_string(q.origin));
  }
}

double memory_estimate(const RunInput& in) {
  // Per cell: E and H at two levels and the field coefficients (11
  // doubles), the medium's slot index and flags (5 bytes) and, while a
  // continued run reads a snapshot file, its text and lines (about 90
  // bytes) and one column of values (8).  Per cell of a layer with start or
  // equilibrium values: its medium slot (stored values at two levels,
  // equilibrium and physical diagonals: 41 doubles, and its cell and kind).
  const double per_cell = 11 * 8 + 5 + 90 + 8;
  const double per_medium_cell = 41 * 8 + 5;
  // Per dot cell of a broadened run: each class's stored values at two
  // levels and its flags, the classes padded to a multiple of 8.
  const int classes = in.params.ensemble.broadened() ? (in.params.ensemble.classes + 7) / 8 * 8 : 0;
  const double per_dot_cell = classes * (2 * 16 * 8 + 1);
  double medium_cells = 0.0, dot_cells = 0.0;
  for (const Layer& l : in.structure.layers) {
    const bool values = l.a13 != 0.0 || l.a14 != 0.0 || l.a15 != 0.0 || l.is_dot_layer();
    if (values) medium_cells += static_cast<double>(l.cells);
    if (l.is_dot_layer()) dot_cells += static_cast<double>(l.cells);
  }
  const double cells = static_cast<double>(in.structure.NZ) + 1.0;
  // Monitor buffers: seven quantities per monitor and step of a block.
  const double rows = static_cast<double>(in.params.LL) + 1.0;
  const double monitors = static_cast<double>(in.params.n_monitor) + 1.0;
  return cells * per_cell + medium_cells * per_medium_cell + dot_cells * per_dot_cell +
         7.0 * 8.0 * monitors * rows;
}

void check_memory(const RunInput& in) {
  const double need = memory_estimate(in);
  const double have = available_memory();
  if (need > have) {
    const auto gb = [](double bytes) { return text(std::round(bytes / 1e7) / 100.0) + " GB"; };
    throw ResourceError("the run needs about " + gb(need) + " of memory (" +
                        std::to_string(in.structure.NZ) +
                        " cells, LL = " + std::to_string(in.params.LL) + "), but " + gb(have) +
                        " are available; shorten LL or the structure");
  }
}

}  // namespace mps
