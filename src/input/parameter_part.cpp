// The parameter part of the input file, up to the spatial line: the three
// folders, the level, label, transition, time and dipole tables, the
// pulses, the boundaries, the run control and the monitor cells, each
// checked where it is read.
#include "input/parameter_part.hpp"

#include <array>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "input/pulse_timing.hpp"
#include "input/table_rows.hpp"

namespace mps {

using textio::ListItem;
using textio::TextItem;

namespace {

// A unit code of the input: 0..last.
void check_code(std::int32_t code, std::int32_t last, const char* rule) {
  if (code < 0 || code > last)
    throw ParameterError(std::string(rule) + ": " + std::to_string(code));
}

// Unit factor of a level row: 0 eV, 1 meV, 2 ueV; another code keeps the
// factor of the row before.
double unit_factor(std::int32_t code, double previous) {
  switch (code) {
    case 0:
      return 1.0;
    case 1:
      return 0.001;
    case 2:
      return 1e-6;
    default:
      return previous;
  }
}

// A label row: a label and the two levels it names, "spin_up 1<TAB>2" (the
// label shares its field with the first level).
constexpr TableRows kLabelRows{"a label table row", 2};

std::string folder_line(ExecdataReader& reader, const char* what, const char* name) {
  std::string text;
  reader.next_line(text, true, what);
  std::string folder = text_before_hash(text);
  reader.name_line(name, folder);
  if (const char* problem = textio::plain_text_problem(folder)) {
    reader.fail_line(problem, ("the " + std::string(what)).c_str());
  }
  if (folder.empty()) {
    throw ParameterError("Empty folder name in execdata.txt: line of the " + std::string(what));
  }
  return folder + "/";
}

void read_level_table(ExecdataReader& reader, RunParameters& p) {
  reader.set_label(" ");
  reader.skip_line(true, "the level table heading");
  const std::size_t max_rows =
      static_cast<std::size_t>(p.n_levels) * static_cast<std::size_t>(p.n_levels);
  p.levels.assign(max_rows, LevelRow{});
  std::string text;
  double factor = 0.0;
  double first_factor = 0.0;
  // Rows are "name energy unit", whatever separates the three; blank lines
  // between them are skipped.
  for (std::size_t r = 0;; ++r) {
    reader.skip_blank_lines();
    reader.next_line(text, true, "a level table row");
    if (!text.empty() && text[0] == '#') break;
    reader.back_one();
    LevelRow scratch;
    LevelRow& row = r < max_rows ? p.levels[r] : scratch;
    const std::string level = "level." + std::to_string(r + 1);
    reader.read({TextItem{&row.name, 10}, &row.energy, &row.unit}, "a level table row",
                {{0, level + ".name"},
                 {1, level + ".energy", "(" + level + ".unit)"},
                 {2, level + ".unit"}});
    check_code(row.unit, 2, "Level energy unit must be 0 (eV), 1 (meV) or 2 (ueV)");
    factor = unit_factor(row.unit, factor);
    if (r == 0) first_factor = factor;
  }
  // The raw values are compared, before any unit factor.
  if (p.levels[0].energy != p.levels[2].energy) {
    throw ParameterError(" Energy levels need to be degenerate: two coupled two-level systems");
  }
  if (p.levels[1].energy != 0.0) {
    throw ParameterError(" Select zero energy separation between levels 1 and 3");
  }
  using namespace constants;
  p.transition_energy = electron_volt * p.levels[0].energy * first_factor;
  p.detuning = p.transition_energy / hbar;
  p.half_detuning = p.detuning * 0.5;
  p.resonant_wavelength = hc / p.transition_energy;
  p.resonant_frequency = c0 / p.resonant_wavelength;
  p.resonant_period = 1.0 / p.resonant_frequency;
}

// Labels of level pairs: read and named, not used by the run.
void read_label_table(ExecdataReader& reader) {
  std::string text;
  for (int r = 1;; ++r) {
    reader.next_line(text, true, "a label table row");
    if (!text.empty() && text[0] == '#') return;
    std::string label;
    const std::string name = "label." + std::to_string(r);
    read_table_row<std::int32_t>(reader, text, std::span<const std::int32_t>(), kLabelRows, &label,
                                 {{0, name + ".name"}, {1, name + ".1"}, {2, name + ".2"}});
  }
}

void check_transitions(const LevelMatrix<std::int32_t>& t) {
  if (t(1, 2) != 1) throw ParameterError("Select 1->2 and 2->1 transitions");
  if (t(3, 4) != 1) throw ParameterError("Select 3->4 and 4->3 transistions");
  if (t(2, 4) == 1) throw ParameterError("Deselect 2->4 transition");
  if (t(2, 3) == 1) throw ParameterError("Deselect 2->3 transition");
  if (t(1, 3) == 1) throw ParameterError("Deselect 1->3 transition");
  if (t(1, 4) == 1) throw ParameterError("Deselect 1->4 transition");
}

void check_dipoles(const LevelMatrix<double>& d) {
  if (d(1, 2) == 0.0) throw ParameterError("Set dipole moment for 1->2 transition");
  if (d(3, 4) == 0.0) throw ParameterError("Set dipole moment for 3->4 transition");
  if (d(2, 3) != 0.0) throw ParameterError("Set 0.0 dipole moment for 2->3 transition");
  if (d(2, 4) != 0.0) throw ParameterError("Set 0.0 dipole moment for 2->4 transition");
  if (d(1, 3) != 0.0) throw ParameterError("Set 0.0 dipole moment for 1->3 transition");
  if (d(3, 3) != 0.0) throw ParameterError("Set 0.0 dipole moment for 3->3 transition");
  if (d(4, 4) != 0.0) throw ParameterError("Set 0.0 dipole moment for 4->4 transition");
}

void read_time_tables(ExecdataReader& reader, RunParameters& p) {
  reader.set_label(" Scale factor long");
  reader.read({&p.scale_long}, "the scale factor of the long times", {{0, "times.scale"}});
  LevelMatrix<double> transfer;
  read_matrix_table(reader, transfer, "a row of the population and spin-flip times", "times", "s");
  // Population relaxation times of the diagonal components from the
  // transfer times (recombination 2->1, spin flips 1->3, 3->1, 2->4, 4->2)
  // as the legacy equations have them, every channel at half its rate; the
  // corrected model replaces them (read_execdata).
  p.T[13] =
      4.0 / (2.0 / transfer(2, 1) + 1.0 / transfer(1, 3) + 1.0 / transfer(2, 4)) * p.scale_long;
  p.T[14] =
      12.0 / (3.0 / transfer(1, 3) + 1.0 / transfer(2, 4) + 6.0 / transfer(3, 1)) * p.scale_long;
  p.T[15] = 6.0 / (3.0 * (1.0 / transfer(2, 1) + 1.0 / transfer(4, 2)) + 1.0 / transfer(2, 4)) *
            p.scale_long;
  for (int i = 1; i <= kLevels; ++i) {
    for (int j = 1; j <= kLevels; ++j) p.tau(i, j) = p.scale_long * transfer(i, j);
  }

  reader.set_label(" scale factor transf");
  reader.read({&p.scale_transverse}, "the scale factor of the dephasing times",
              {{0, "dephasing.scale"}});
  LevelMatrix<double> dephasing;
  read_matrix_table(reader, dephasing, "a row of the dephasing times", "dephasing", "s");
  // T1..T12: the off-diagonal entries in row order.
  int k = 1;
  for (int i = 1; i <= kLevels; ++i) {
    for (int j = 1; j <= kLevels; ++j) {
      if (i != j) p.T[static_cast<std::size_t>(k++)] = p.scale_transverse * dephasing(i, j);
    }
  }

  read_matrix_table(reader, p.dipole_table, "a row of the dipole moments", "dipole", "C m");
  check_dipoles(p.dipole_table);
  p.dipole = p.dipole_table(1, 2);
}

double duration_unit(std::int32_t code) {
  switch (code) {
    case 0:
      return 1e-15;
    case 1:
      return 1e-12;
    default:
      return 0.0;
  }
}

double delay_unit(std::int32_t code) {
  switch (code) {
    case 0:
      return 1e-15;
    case 1:
      return 1e-12;
    case 2:
      return 1e-9;
    default:
      return 0.0;
  }
}

// The source knows shapes 1..5 and polarisations 1..4; the triangular
// shape (6) has a message of its own.  Checked as the line is read, so a
// run that cannot start writes nothing.
void check_pulse(std::int32_t shape, std::int32_t polarisation) {
  if (shape == 6) throw ParameterError("Formula not available yet for triangular pulse");
  if (shape < 1 || shape > 5) {
    throw ParameterError(
        "Pulse shape must be 1 to 5 (1 cw, 2 sech, 3 Gaussian, 4 turn-on, 5 noise): shape = " +
        std::to_string(shape));
  }
  if (polarisation < 1 || polarisation > 4) {
    throw FatalMessage("Error in pulse polarisation definition");
  }
}

// Boundary types 3 (PML) and 4 (periodic) are not available; the left side
// is reported first.
void check_boundary_side(BoundaryType type, const char* side) {
  if (type == BoundaryType::pml) {
    throw ParameterError(std::string("PML not implemented yet on ") + side + " boundary");
  }
  if (type == BoundaryType::periodic) {
    throw ParameterError(std::string("Periodic BC not implemented yet on ") + side + " boundary");
  }
}

// Names of a pulse line's twelve values: "pulse." for the first pulse,
// "pulse.<n>." for pulse n > 1; the units of the duration and the delay
// are named by their codes (0 fs, 1 ps; 0 fs, 1 ps, 2 ns).
std::vector<InputName> pulse_names(std::int32_t n) {
  std::string head = "pulse.";
  if (n > 1) head.append(std::to_string(n)).append(".");
  const auto named = [&head](const char* tail) { return head + tail; };
  // The unit given by a code: "(<name of the code>)".
  const auto coded = [&head](const char* code) {
    std::string unit = "(";
    return unit.append(head).append(code).append(")");
  };
  return {{0, named("id")},
          {1, named("shape")},
          {2, named("wavelength"), "um"},
          {3, named("fwhm"), coded("fwhm_unit")},
          {4, named("fwhm_unit")},
          {5, named("unused")},
          {6, named("amplitude"), "V/m"},
          {7, named("polarisation")},
          {8, named("noise")},
          {9, named("origin"), "cell"},
          {10, named("delay"), coded("delay_unit")},
          {11, named("delay_unit")}};
}

// One pulse line into `pulse`.
void read_pulse_line(ExecdataReader& reader, Pulse& pulse, std::int32_t n) {
  std::int32_t id = 0, shape = 0, polarisation = 0, unused = 0, duration_code = 0, delay_code = 0;
  double wavelength_um = 0.0, duration = 0.0, delay = 0.0;
  const std::array<ListItem, 12> items = {&id,
                                          &shape,
                                          &wavelength_um,
                                          &duration,
                                          &duration_code,
                                          &unused,
                                          &pulse.amplitude,
                                          &polarisation,
                                          &pulse.noise_amplitude,
                                          &pulse.origin,
                                          &delay,
                                          &delay_code};
  reader.skip_blank_lines();
  reader.read_row(items, n == 1 ? "the pulse line" : "a further pulse line", pulse_names(n));
  check_pulse(shape, polarisation);
  pulse.shape = PulseShape{shape};
  pulse.polarisation = Polarisation{polarisation};
  pulse.wavelength = wavelength_um * 1e-6;
  check_code(duration_code, 1, "Pulse duration unit must be 0 (fs) or 1 (ps)");
  check_code(delay_code, 2, "Pulse delay unit must be 0 (fs), 1 (ps) or 2 (ns)");
  pulse.duration = duration * duration_unit(duration_code);
  pulse.delay = delay * delay_unit(delay_code);
  pulse.frequency = constants::c0 / pulse.wavelength;
  pulse.angular_frequency = pulse.frequency * constants::two_pi;
  pulse.tau = pulse.duration / constants::fwhm_factor;
  if (pulse.duration == 0.0) {
    // The Gaussian and secant envelopes divide by the duration.
    if (pulse.shape == PulseShape::sech || pulse.shape == PulseShape::gaussian) {
      throw ParameterError("Pulse duration must not be zero for pulse shape " +
                           std::to_string(shape) + ": duration = " + number_text(duration) +
                           ", unit code " + std::to_string(duration_code));
    }
    pulse.delay_ratio = 0;
  } else {
    pulse.delay_ratio = checked_trunc(pulse.delay / pulse.duration, "Pulse delay / duration");
  }
}

void read_pulse(ExecdataReader& reader, RunParameters& p) {
  reader.set_label(" num pulses");
  std::int32_t pulses = 0;
  reader.read({&pulses}, "the number of pulses", {{0, "pulses.count"}});
  if (pulses < 1 || pulses > kMaxPulses) {
    throw ParameterError("The number of pulses must be 1 to " + std::to_string(kMaxPulses) +
                         ": num pulses = " + std::to_string(pulses));
  }
  reader.set_label(" Error reading pulse parameters");
  read_pulse_line(reader, p.pulse, 1);
  p.further_pulses.assign(static_cast<std::size_t>(pulses - 1), Pulse{});
  for (std::int32_t n = 2; n <= pulses; ++n) {
    read_pulse_line(reader, p.further_pulses[static_cast<std::size_t>(n - 2)], n);
  }
}

void read_boundaries(ExecdataReader& reader, RunParameters& p) {
  reader.set_label(" ");
  reader.skip_line(false, "a comment line");
  reader.skip_line(false, "a comment line");
  // A code and a word per side: the word is text after the value.
  std::int32_t left = 0, right = 0;
  reader.read({&left}, "the left boundary code", {{0, "boundary.left.type"}});
  reader.read({&right}, "the right boundary code", {{0, "boundary.right.type"}});
  p.bc_left = BoundaryType{left};
  p.bc_right = BoundaryType{right};
  reader.read({&p.refl_left}, "the left reflection coefficient", {{0, "boundary.left.reflection"}});
  reader.read({&p.refl_right}, "the right reflection coefficient",
              {{0, "boundary.right.reflection"}});
  check_boundary_side(p.bc_left, "left");
  check_boundary_side(p.bc_right, "right");
}

void read_run_control(ExecdataReader& reader, RunParameters& p) {
  reader.skip_line(false, "a comment line");
  // The layout's words before a value are counted like values and dropped;
  // other words around the value do as well (read_labelled).
  reader.read_labelled(2, &p.courant, "the Courant number line", {0, "run.courant"});
  reader.read_labelled(6, &p.LL, "the LL line", {0, "run.LL", "steps"});
  std::int32_t run_number = 0;  // read and named, not used
  reader.read_labelled(2, &run_number, "the run number line", {0, "run.number"});
  reader.read_labelled(5, &p.J_final, "the J_final line", {0, "run.J_final", "step"});
  reader.read_labelled(5, &p.Nt, "the Nt line", {0, "run.Nt", "steps"});
  // A run does whole blocks: it ends with the block that holds step Nt.
  std::int64_t last = 0;  // beyond the integers: the step count is refused later
  if (p.LL >= 1 && p.Nt >= p.J_final && p.J_final >= 0 && p.Nt % p.LL != 0 &&
      !__builtin_mul_overflow(p.Nt / p.LL + 1, p.LL, &last)) {
    std::string m = "Nt = ";
    m.append(std::to_string(p.Nt)).append(" is not a multiple of LL = ");
    m.append(std::to_string(p.LL)).append(": the run goes on to step ");
    m.append(std::to_string(last)).append(", the end of its last block");
    reader.warn(m);
  }
  reader.read_labelled(2, &p.iteration_limit, "the iteration limit line",
                       {0, "run.iteration_limit"});
  reader.read_labelled(1, &p.tolerance, "the tolerance line", {0, "run.tolerance"});

  if (!(p.courant > 0.0)) {
    throw ParameterError("Courant number must be positive: " + number_text(p.courant));
  }
  if (p.LL < 1) throw ParameterError("LL must be at least 1: LL = " + number_text(p.LL));
  if (p.Nt < 0) throw ParameterError("Nt must not be negative: Nt = " + number_text(p.Nt));
  if (p.J_final < 0) {
    throw ParameterError("J_final must not be negative: J_final = " + number_text(p.J_final));
  }
  if (p.J_final % p.LL != 0) {
    throw ParameterError("J_final must be a multiple of LL: J_final = " + number_text(p.J_final) +
                         ", LL = " + number_text(p.LL));
  }
}

void read_monitor_cells(ExecdataReader& reader, RunParameters& p) {
  // The count and a word, which is text after the value.
  std::int32_t count = 0;
  reader.read({&count}, "the number of sampling cells", {{0, "monitors.count"}});
  if (count < 0 || count > kMaxUserMonitors) {
    throw ParameterError("Number of sampling cells must be 0.." + std::to_string(kMaxUserMonitors) +
                         ": " + std::to_string(count));
  }
  p.n_monitor = count + 2;
  p.monitor_cells.assign(static_cast<std::size_t>(p.n_monitor), 0);
  for (std::int32_t k = 1; k <= count; ++k) {
    reader.read({&p.monitor_cells[static_cast<std::size_t>(k)]}, "a sampling cell",
                {{0, "monitor." + std::to_string(k), "cell"}});
  }
}

}  // namespace

void read_parameter_part(ExecdataReader& reader, RunDirectories& dirs, RunParameters& p) {
  dirs.results_dir = folder_line(reader, "results folder", "folder.results");
  dirs.discarded_dir = folder_line(reader, "discarded-results folder", "folder.discarded");
  dirs.continue_dir = folder_line(reader, "continuation folder", "folder.continue");

  reader.read({&p.n_levels}, "the number of levels", {{0, "levels.count"}});
  if (p.n_levels != kLevels) {
    throw ParameterError("Number of levels must be 4: n_levels = " + std::to_string(p.n_levels));
  }
  read_level_table(reader, p);

  reader.set_label(" Density atom ");
  reader.read({&p.dipole_density}, "the density of resonant dipoles",
              {{0, "dots.density", "m^-3"}});
  read_label_table(reader);
  LevelMatrix<std::int32_t> transitions;
  read_matrix_table(reader, transitions, "a row of the transition table", "transition", "");
  check_transitions(transitions);

  read_time_tables(reader, p);
  read_pulse(reader, p);
  read_boundaries(reader, p);
  read_run_control(reader, p);
  read_monitor_cells(reader, p);
  reader.skip_line(false, "a comment line");
}

}  // namespace mps
