#include "simulation/time_loop.hpp"

#include <algorithm>
#include <iomanip>
#include <ostream>

#include "field/boundaries.hpp"
#include "field/field_update.hpp"
#include "field/max_ex.hpp"
#include "field/pulse_source.hpp"
#include "medium/medium_update.hpp"
#include "output/compression.hpp"
#include "output/restore.hpp"
#include "output/snapshot.hpp"
#include "output/traces.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace mps {

BlockPlan plan_blocks(std::int64_t Nt, std::int64_t LL, std::int64_t J_final) {
  BlockPlan plan;
  plan.first_block = J_final / LL + 1;
  plan.first_start = J_final;
  plan.blocks = (Nt + LL - J_final) / LL;
  return plan;
}

void allocate_run_arrays(const RunInput& in, RunArrays& a) {
  const StructureProfile& s = in.structure;
  a.field.allocate(s.NZ);
  a.medium.allocate(s.NZ);
  a.medium.u13eq = s.diag_b13;
  a.medium.u14eq = s.diag_b14;
  a.medium.u15eq = s.diag_b15;
  a.monitors.allocate(in.params.n_monitor, in.params.LL);
}

namespace {

// Working values of the loop that live across steps and blocks.
struct LoopState {
  std::int64_t block = 1;  // b
  std::int64_t Jb = 0;     // block start
  double max_variable = 0.0;
  PulseSource source;
  BoundarySettings boundaries;
  MediumParameters medium;
  MediumStep step;               // coefficients of the step being computed
  std::int64_t evaluations = 0;  // right-hand-side evaluations of the dot cells
  RunningStatistics statistics;
  std::int64_t statistics_interval = 1;  // trace rows between two statistics lines
  std::string block_label;               // label of b LL, names the statistics files
  std::ostream* warnings = nullptr;
};

// Compresses the ".dat" files of a folder; a file that cannot be compressed
// stays plain and is reported, and the run goes on.
void compress_folder(const std::string& folder, std::ostream& warnings) {
  const CompressionReport report = compress_dat_files(folder);
  for (const std::string& failure : report.failures) {
    warnings << "mps1d: warning: " << failure << "; the plain file is kept\n";
  }
}

// Row 0 of a block holds the samples of the step before its first step:
// the last row of the previous block.
void carry_last_row(MonitorBuffers& b) {
  const std::int64_t last = b.rows - 1;
  for (std::int32_t k = 0; k <= b.M; ++k) {
    for (auto* v : {&b.ex, &b.ey, &b.rho11, &b.rho22, &b.rho33, &b.rho44}) {
      (*v)[b.at(k, 0)] = (*v)[b.at(k, last)];
    }
  }
  b.max_ex[0] = b.max_ex[static_cast<std::size_t>(last)];
}

// Start of a fresh run: the population flags from the start values (set A)
// inside the dot region z1..z2, 0 elsewhere.
void initial_flags(const StructureProfile& s, MediumState& m) {
  for (std::int32_t i = 1; i <= s.NZ; ++i) {
    const auto c = static_cast<std::size_t>(i);
    if (s.z1 <= i && i <= s.z2) {
      const Populations p = populations(s.diag_a13[c], s.diag_a14[c], s.diag_a15[c]);
      m.occ[c] = {p.rho11 > 0.0, p.rho22 > 0.0, p.rho33 > 0.0, p.rho44 > 0.0};
    } else {
      m.occ[c] = {0, 0, 0, 0};
    }
  }
}

// Stored diagonal components at level 0 of a fresh run: start minus
// equilibrium values.
void initial_medium(const StructureProfile& s, MediumState& m) {
  for (std::int32_t i = 0; i <= s.NZ; ++i) {
    const auto c = static_cast<std::size_t>(i);
    double* w = m.w_at(0, i);
    w[12] = s.diag_a13[c] - s.diag_b13[c];
    w[13] = s.diag_a14[c] - s.diag_b14[c];
    w[14] = s.diag_a15[c] - s.diag_b15[c];
  }
}

void sample_monitors(const RunInput& in, const FieldState& f, const MediumState& m,
                     MonitorBuffers& b, std::int64_t r) {
  const int nw = f.new_level();
  const auto& cells = in.params.monitor_cells;
  for (std::int32_t k = 1; k <= b.M; ++k) {
    const std::int32_t cell = cells[static_cast<std::size_t>(k - 1)];
    const auto c = static_cast<std::size_t>(cell);
    const std::size_t at = b.at(k, r);
    b.ex[at] = f.Ex[static_cast<std::size_t>(nw)][c];
    b.ey[at] = f.Ey[static_cast<std::size_t>(nw)][c];
    Populations p;
    if (in.structure.z1 <= cell && cell <= in.structure.z2) {
      p = populations(m.u13[static_cast<std::size_t>(nw)][c],
                      m.u14[static_cast<std::size_t>(nw)][c],
                      m.u15[static_cast<std::size_t>(nw)][c]);
    }
    b.rho11[at] = p.rho11;
    b.rho22[at] = p.rho22;
    b.rho33[at] = p.rho33;
    b.rho44[at] = p.rho44;
  }
}

// One normal step J.  Levels (new = Jtoggle after the flip):
//   before: E, H, w at old = step J-1;  new = step J-2 (overwritten)
//   H update:      H_new from H_old, E_old
//   E and medium:  E_new, w_new from E_old, w_old and H_new
//   source, ends:  E_new at the injection cell and at cells 1, N
//   after:  new = step J, old = step J-1
void normal_step(const RunInput& in, RunArrays& a, LoopState& st, std::int64_t J) {
  const RunParameters& p = in.params;
  FieldState& f = a.field;
  const std::int64_t r = J - st.Jb;

  f.Jtoggle = 1 - f.Jtoggle;
  prepare_medium_step(st.medium, J, p.dt, st.step);

  update_H(f, a.coeffs);

  st.evaluations += ILOOP(f, a.medium, a.coeffs, st.medium, st.step);

  apply_pulse_source(st.source, f, J, p.dt);
  apply_boundaries(f, st.boundaries);

  sample_monitors(in, f, a.medium, a.monitors, r);
  st.max_variable = MAXEX(f, f.new_level(), f.N);
  a.monitors.max_ex[static_cast<std::size_t>(r)] = st.max_variable;
  st.statistics.update(a.monitors, r);
  if (r % st.statistics_interval == 0) st.statistics.record(st.block_label);

  if (is_snapshot_step(J, p.LL, st.block, st.Jb)) {
    SnapshotInput snap;
    snap.J = J;
    snap.Jb = st.Jb;
    snap.field = &f;
    snap.medium = &a.medium;
    snap.decay = &st.step.decay;
    snap.max_buffer = &a.monitors.max_ex;
    snap.E0 = p.field_scale();
    snap.folder = in.dirs.results_dir;
    RESULTJ(snap, st.max_variable);

    TraceInput traces;
    traces.J = J;
    traces.Jb = st.Jb;
    traces.dt = p.dt;
    traces.E0 = p.field_scale();
    traces.monitor_cells = &p.monitor_cells;
    traces.buffers = &a.monitors;
    traces.folder = in.dirs.results_dir;
    RESULTI(traces);
    compress_folder(in.dirs.results_dir, *st.warnings);
  }
}

// First step of a continued run: the stored state of step J = J_final is
// restored instead of computed, and row 0 of the block's buffers gets the
// monitor values of that step, so the statistics go on as if the run had
// never stopped.
void restore_step(const RunInput& in, RunArrays& a, LoopState& st, std::int64_t J) {
  const RunParameters& p = in.params;
  RestoreInput restore;
  restore.J_final = J;
  restore.E0 = p.field_scale();
  restore.results_dir = in.dirs.results_dir;
  restore.continue_dir = in.dirs.continue_dir;
  READ_FILES(restore, a.field, a.medium);
  classify_cells(a.medium, in.structure.cavity_left, in.structure.cavity_right);

  // Physical diagonal components of both restored levels.
  const DecayFactors decay = decay_factors(J, p.dt, p.T);
  MediumState& m = a.medium;
  for (int l = 0; l < 2; ++l) {
    const bool newest = l == a.field.Jtoggle;
    const auto& e = newest ? decay.now : decay.previous;
    const auto level = static_cast<std::size_t>(l);
    for (std::int32_t i = 0; i <= m.N; ++i) {
      const auto c = static_cast<std::size_t>(i);
      const double* w = m.w_at(l, i);
      m.u13[level][c] = m.u13eq[c] + e[13] * w[12];
      m.u14[level][c] = m.u14eq[c] + e[14] * w[13];
      m.u15[level][c] = m.u15eq[c] + e[15] * w[14];
    }
  }
  sample_monitors(in, a.field, a.medium, a.monitors, J - st.Jb);
}

// Start of a block: coefficients, injection cell, the statistics label,
// row 0 of the buffers, the start values of a new run, "point.txt" (created
// empty when missing) and the cell kinds.
void start_block(const RunInput& in, RunArrays& a, LoopState& st, bool follows_a_block,
                 bool continuing) {
  const RunParameters& p = in.params;
  const StructureProfile& s = in.structure;
  compute_field_profile(s, p.dz, p.dt, a.coeffs);
  st.source.injection_cell = st.source.origin_cell;
  st.block_label = textio::step_label(st.block * p.LL);
  if (follows_a_block) carry_last_row(a.monitors);
  if (st.Jb == 0) initial_medium(s, a.medium);
  if (!continuing) textio::append_text_file(in.dirs.results_dir + "point.txt", "");
  classify_cells(a.medium, s.cavity_left, s.cavity_right);
}

}  // namespace

void VCSELSUB(const RunInput& in, RunArrays& a, std::ostream& progress, std::ostream& warnings) {
  const RunParameters& p = in.params;
  const StructureProfile& s = in.structure;
  const BlockPlan plan = plan_blocks(p.Nt, p.LL, p.J_final);
  if (plan.blocks < 1) return;

  LoopState st;
  st.block = plan.first_block;
  st.Jb = plan.first_start;
  st.source = make_pulse_source(p, s.NZ, s.cavity_left, s.cavity_right);
  st.boundaries =
      boundary_settings(p, s.local_courant[1], s.local_courant[static_cast<std::size_t>(s.NZ)]);
  st.medium = medium_parameters(p, s);
  st.warnings = &warnings;
  // A block shorter than 2000 steps would give an interval of 0: every
  // step gets its statistics line then.
  st.statistics_interval = std::max<std::int64_t>(p.LL / 2000, 1);
  st.statistics = RunningStatistics(p.monitor_cells, p.field_scale());
  for (const std::string* folder : {&in.dirs.results_dir, &in.dirs.discarded_dir}) {
    if (!textio::is_directory(*folder)) {
      throw textio::IoError(*folder, "the folder \"" + *folder + "\" does not exist");
    }
  }
  initial_flags(s, a.medium);
  // The level toggle is set once: with an odd LL a block ends on level 1,
  // and the next block must go on flipping from there.
  a.field.Jtoggle = 0;

  bool continuing = p.J_final != 0;
  for (std::int64_t left = plan.blocks; left > 0; --left) {
    progress << ' ' << "      Loop from -> " << std::setw(12) << st.Jb << " Step-> "
             << std::setw(12) << p.LL << '\n'
             << std::flush;
    start_block(in, a, st, st.block > plan.first_block, continuing);

    const std::int64_t block_end = st.block * p.LL;
    std::int64_t J = st.Jb + 1;
    if (continuing) {
      restore_step(in, a, st, st.Jb);
      continuing = false;
    }
    for (; J <= block_end; ++J) {
      normal_step(in, a, st, J);
    }
    st.statistics.flush(in.dirs.discarded_dir);
    compress_folder(in.dirs.discarded_dir, warnings);
    st.block += 1;
    st.Jb += p.LL;
  }
}

}  // namespace mps
