// Continued runs against the same runs done in one go, a continuation from
// a block end, and the reports of a continued run whose stored step cannot
// be found or read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>

#include "output/hdf5_file.hpp"
#include "output/restore.hpp"
#include "output/setup_files.hpp"
#include "simulation/run_folder.hpp"
#include "textio/fortran_format.hpp"
#include "textio/gzip.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;
using textio::step_label;

struct RunOptions {
  Model model = Model::corrected;
  bool hdf5 = false;
  Ensemble ensemble{};
  bool both_transitions = false;
  std::string* progress = nullptr;  // the console text, when wanted
};

// The run of `input` in `dir` with the given LL, Nt and J_final, in process.
void run(const ScratchDir& dir, const std::string& input, int LL, int Nt, int J_final,
         const RunOptions& o = {}) {
  std::string text = replace_line(
      input, 47, "steps between two spatial dumps LL " + std::to_string(LL) + " steps");
  text =
      replace_line(text, 49, "continue from stored step J_final " + std::to_string(J_final) + " -");
  dir.write("execdata.txt",
            replace_line(text, 50, "total number of time steps " + std::to_string(Nt) + " -"));
  RunInput in = prepare_run(dir.path(), o.model);
  if (o.hdf5) in.params.output = OutputFormat::hdf5;
  in.params.ensemble = o.ensemble;
  in.params.both_transitions = o.both_transitions;
  RunState arrays = make_run_state(in);
  write_setup_files(in);
  std::ostringstream progress, warnings;
  run_time_loop(in, arrays, progress, warnings);
  EXPECT_EQ(warnings.str(), "");
  if (o.progress != nullptr) *o.progress = progress.str();
}

// Copies the snapshot of step J (files of J and J - 1, the flags and the
// manifest) from the results folder into the continuation folder, as a
// user would.
void copy_snapshot(const ScratchDir& dir, std::int64_t J) {
  for (const std::string& name : files_in(dir.file("Results"))) {
    const bool snapshot = name.find("_z" + step_label(J) + ".dat") != std::string::npos ||
                          name.find("_z" + step_label(J - 1) + ".dat") != std::string::npos;
    if (snapshot || name == "gamma.dat.gz" || name == "manifest_" + step_label(J) + ".txt") {
      fs::copy_file(dir.file("Results/" + name), dir.file("Continue/" + name));
    }
  }
}

// The restored state carries the 12-digit rounding of every stored value,
// about 5e-13 of the largest field, and that error travels with the field:
// a file holding only what a passed pulse left (1e-12 of the amplitude at
// an absorbing end) is held to 1e-15 of the field scale (E0 = 1) instead.
constexpr double kRelativeTolerance = 1e-9;
constexpr double kAbsoluteFloor = 1e-15;

// Output of the run continued at step 2 LL against the run done in one go,
// for every file the two runs write from step 3 LL on: snapshots, block
// traces and statistics.
void expect_restart_follows(const std::string& input, int LL, Model model) {
  ScratchDir whole, parts;
  make_run_folders(whole);
  make_run_folders(parts);
  run(whole, input, LL, 3 * LL, 0, {model});  // blocks 1..4
  run(parts, input, LL, LL, 0, {model});      // blocks 1..2
  copy_snapshot(parts, 2 * LL);
  run(parts, input, LL, 3 * LL, 2 * LL, {model});  // blocks 3 and 4, from the stored step

  const std::string labels[] = {step_label(3 * LL - 1), step_label(3 * LL), step_label(4 * LL - 1),
                                step_label(4 * LL)};
  int files = 0;
  for (const std::string folder : {"Results/", "DiscardedResults/"}) {
    for (const std::string& name : files_in(whole.file(folder))) {
      bool later = false;
      for (const auto& label : labels) later = later || name.find(label) != std::string::npos;
      if (!later || name.starts_with("manifest_")) continue;
      if (!parts.exists(folder + name)) {
        ADD_FAILURE() << "the continued run did not write " << folder << name;
        continue;
      }
      const NumberDifference d =
          number_difference(whole.read_gz(folder + name), parts.read_gz(folder + name), name);
      EXPECT_LT(d.diff, std::max(kRelativeTolerance * d.scale, kAbsoluteFloor))
          << folder << name << ": largest magnitude " << d.scale;
      ++files;
    }
  }
  EXPECT_GT(files, 100);
  EXPECT_EQ(whole.read_gz("Results/gamma.dat.gz"), parts.read_gz("Results/gamma.dat.gz"));
  EXPECT_EQ(files_in(whole.file("DiscardedResults")), files_in(parts.file("DiscardedResults")));
}

// A short pulse, so that it is in flight at the restart and has reached
// the dots by then: fwhm, amplitude, polarisation and delay in fs.
std::string with_pulse(const std::string& example, const std::string& settings) {
  return replace_line(example_input(example), 38, "1 3 0.955022 " + settings + "   # pulse");
}

// The snapshot files keep 12 significant digits, so the continued run
// follows the uninterrupted one to about that precision, not bit for bit.
// Both models: a continued run must follow its own model's uninterrupted run.
class RestartEquivalence : public ::testing::TestWithParam<Model> {};
INSTANTIATE_TEST_SUITE_P(BothModels, RestartEquivalence,
                         ::testing::Values(Model::corrected, Model::legacy));

TEST_P(RestartEquivalence, QuickstartFollowsTheUninterruptedRun) {
  // LL = 1000: at step 2000 the pulse is crossing the dot layer.
  expect_restart_follows(with_pulse("quickstart", "5 0 0 2.0e8 1 0 10 15 0"), 1000, GetParam());
}

TEST_P(RestartEquivalence, MicrocavityFollowsTheUninterruptedRun) {
  // LL = 5000: at step 10000 the pulse is inside the lower mirror and its
  // front has reached the dots in the cavity; circular polarisation.
  expect_restart_follows(with_pulse("microcavity", "10 0 0 1.0e8 3 0 10 30 0"), 5000, GetParam());
}

TEST(ContinuedRun, FromTheFirstBlockEndTakesNoSnapshotBeforeTheNextBlockEnd) {
  constexpr int LL = 20;
  ScratchDir dir;
  make_run_folders(dir);
  const std::string input = example_input("quickstart");
  run(dir, input, LL, 0, 0);  // block 1: snapshots at steps 1 and 20
  copy_snapshot(dir, LL);
  std::string progress;
  run(dir, input, LL, LL, LL, {.progress = &progress});  // block 2 only
  EXPECT_EQ(progress, "       Loop from ->           20 Step->           20\n");
  for (const std::string& name : files_in(dir.file("Results"))) {
    EXPECT_EQ(name.find(step_label(LL + 1)), std::string::npos) << name;
  }
  EXPECT_TRUE(dir.exists("Results/Ex_z" + step_label(2 * LL) + ".dat.gz"));
  EXPECT_EQ(dir.read("Results/point.txt"),
            "000000000001  00000001  00000000\n"
            "000000000020  00000000  00000001\n"
            "000000000040  00000000  00000001\n");
}

// HDF5 snapshots keep every value in double precision: a run continued from
// one is the uninterrupted run, bit for bit.
// With spectral classes too: the snapshot file holds every class.  A run
// with classes does not continue from text files, which hold their mean.
TEST(ContinuedRun, FromAnHdf5SnapshotFollowsTheUninterruptedRunExactly) {
  constexpr int LL = 1000;  // at step 2000 the pulse is crossing the dot layer
  const std::string input = with_pulse("quickstart", "5 0 0 2.0e8 1 0 10 15 0");
  for (const Ensemble ensemble : {Ensemble{}, Ensemble{8, 3.0}}) {
    SCOPED_TRACE(ensemble.classes);
    ScratchDir whole, parts;
    make_run_folders(whole);
    make_run_folders(parts);
    const RunOptions hdf5{.hdf5 = true, .ensemble = ensemble};
    run(whole, input, LL, 3 * LL, 0, hdf5);
    run(parts, input, LL, LL, 0, hdf5);
    const std::string stored = "snapshot_" + step_label(2 * LL) + ".h5";
    if (ensemble.broadened()) {
      EXPECT_THROW(run(parts, input, LL, 3 * LL, 2 * LL, hdf5), IoError);
    }
    fs::copy_file(parts.file("Results/" + stored), parts.file("Continue/" + stored));
    run(parts, input, LL, 3 * LL, 2 * LL, hdf5);

    const std::string last = step_label(4 * LL);
    const h5::Reader a(whole.file("Results/snapshot_" + last + ".h5"));
    const h5::Reader b(parts.file("Results/snapshot_" + last + ".h5"));
    const StructureProfile grid = prepare_run(whole.path()).structure;
    const auto N = static_cast<std::size_t>(grid.NZ);
    for (const char* name : {"/snapshots/Ex", "/snapshots/Hy", "/snapshots/u13_physical",
                             "/snapshots/u7", "/restart/Ey", "/restart/u1"}) {
      const h5::Shape shape = name[1] == 's' ? h5::Shape{1, N} : h5::Shape{N, 0};
      EXPECT_EQ(a.doubles(name, shape), b.doubles(name, shape)) << name;
    }
    if (ensemble.broadened()) {
      const auto values = static_cast<std::size_t>(grid.z2 - grid.z1 + 1) * 8;  // dots x classes
      for (const char* name : {"/classes/u7", "/classes/rho22", "/restart/class_u13"}) {
        const h5::Shape shape{values / 8, 8};
        EXPECT_EQ(a.doubles(name, shape), b.doubles(name, shape)) << name;
      }
    }
    const h5::Reader ta(whole.file("Results/traces_" + last + ".h5"));
    const h5::Shape rows{LL, 4};  // the block's steps at the four monitors
    const std::vector<double> rho22 = ta.doubles("/traces/rho22", rows);
    const std::vector<double> continued =
        h5::Reader(parts.file("Results/traces_" + last + ".h5")).doubles("/traces/rho22", rows);
    // Bit for bit, NaN (an end monitor's populations) included.
    EXPECT_EQ(std::memcmp(rho22.data(), continued.data(), rho22.size() * sizeof(double)), 0);
    // The dots between the monitors have been excited (NaN: an end monitor).
    EXPECT_TRUE(std::any_of(rho22.begin(), rho22.end(), [](double r) { return r > 1e-3; }));
  }
}

// A run continued from step 10 (LL = 10) that cannot start: a step that
// point.txt lacks (exit 1 with the parameter report), a snapshot file
// missing or damaged (exit 2 naming it).  The continuation folder is left
// as it was.
TEST(ContinuedRun, UnusableStoredStepIsReportedBeforeAnythingIsTouched) {
  const std::string level = "000000000010  00000000  00000001\n";
  const std::string report =
      "\n cant find J_final -> check file point.txt\n\n Please correct parameter \n";
  struct Case {
    std::string point_txt, damaged;  // damaged: a file of "Continue/" that is not HDF5
    int exit_status;
    std::string named;
  };
  for (const Case& c :
       {Case{"000000000001  00000001  00000000\n", "", 1, report},
        Case{"hello world\n", "", 1, report}, Case{level, "", 2, "Continue/Ex_z000000000010.dat"},
        Case{level, "snapshot_000000000010.h5", 2, "Continue/snapshot_000000000010.h5"}}) {
    SCOPED_TRACE(c.point_txt + c.damaged);
    ScratchDir dir;
    make_run_folders(dir);
    const std::string text =
        replace_line(short_quickstart(), 49, "continue from stored step J_final 10 -");
    dir.write("execdata.txt", replace_line(text, 50, "total number of time steps 10 -"));
    dir.write("Results/point.txt", c.point_txt);
    if (!c.damaged.empty()) dir.write("Continue/" + c.damaged, "not an HDF5 file\n");
    if (c.exit_status == 1) {
      dir.write("Continue/note.txt", "kept\n");
      textio::gzip_file(dir.file("Continue/note.txt"), dir.file("Continue/gamma.dat.gz"), 1);
    }
    const auto before = files_in(dir.file("Continue"));

    const ProgramResult r = run_in(MPS_PROGRAM, dir.path());
    EXPECT_EQ(r.exit_status, c.exit_status);
    if (c.exit_status == 1) {
      EXPECT_TRUE(r.out.ends_with(c.named)) << r.out;
    } else {
      EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    }
    EXPECT_EQ(r.out.find("END OF PROGRAM"), std::string::npos);
    EXPECT_EQ(files_in(dir.file("Continue")), before);
  }
}

// Edits of a stored HDF5 snapshot through the library, as a careless or
// hostile user could make them.
namespace edit {

void attribute(hid_t file, const char* name, hid_t type, hid_t space, const void* value) {
  if (H5Aexists(file, name) > 0) H5Adelete(file, name);
  const hid_t a = H5Acreate2(file, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
  EXPECT_GE(H5Awrite(a, type, value), 0) << name;
  H5Aclose(a);
  H5Sclose(space);
}

void real(hid_t file, const char* name, double x) {
  attribute(file, name, H5T_NATIVE_DOUBLE, H5Screate(H5S_SCALAR), &x);
}

void integer(hid_t file, const char* name, std::int64_t v) {
  attribute(file, name, H5T_NATIVE_INT64, H5Screate(H5S_SCALAR), &v);
}

void text(hid_t file, const char* name, const char* value) {
  const hid_t type = H5Tcopy(H5T_C_S1);
  H5Tset_size(type, H5T_VARIABLE);
  attribute(file, name, type, H5Screate(H5S_SCALAR), &value);
  H5Tclose(type);
}

void int_array(hid_t file, const char* name, hsize_t n) {
  const std::vector<std::int64_t> v(n, 20);
  attribute(file, name, H5T_NATIVE_INT64, H5Screate_simple(1, &n, nullptr), v.data());
}

std::vector<double> doubles(hid_t file, const char* name) {
  const hid_t set = H5Dopen2(file, name, H5P_DEFAULT);
  const hid_t space = H5Dget_space(set);
  std::vector<double> v(static_cast<std::size_t>(H5Sget_simple_extent_npoints(space)));
  H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
  H5Sclose(space);
  H5Dclose(set);
  return v;
}

// `name` made anew, with `values` as `type` in the shape `dims`.
void dataset(hid_t file, const char* name, hid_t type, const std::vector<hsize_t>& dims,
             const std::vector<double>& values) {
  H5Ldelete(file, name, H5P_DEFAULT);
  const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
  const hid_t set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
  EXPECT_GE(H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), 0);
  H5Dclose(set);
  H5Sclose(space);
}

// Value `at` of the data set `name` set to `x`.
void value(hid_t file, const char* name, std::size_t at, double x) {
  std::vector<double> v = doubles(file, name);
  v[at] = x;
  const hid_t set = H5Dopen2(file, name, H5P_DEFAULT);
  EXPECT_GE(H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()), 0);
  H5Dclose(set);
}

}  // namespace edit

// A continued run whose HDF5 snapshot is not what the run wrote, or comes
// from a run with other equations, grid, field scale or classes: refused
// (IoError, exit status 2) naming the file and what differs, before
// anything is restored into the run or written.
TEST(ContinuedRun, Hdf5SnapshotNotOfThisRunIsRefusedNamingWhatDiffers) {
  constexpr int LL = 10;
  const std::string input = example_input("quickstart");
  const RunOptions classes{.hdf5 = true, .ensemble = Ensemble{8, 3.0}};
  ScratchDir dir;
  make_run_folders(dir);
  run(dir, input, LL, 0, 0, classes);  // snapshots at steps 1 and 10
  const std::string name = "snapshot_" + step_label(LL) + ".h5";
  const std::string stored = dir.file("Continue/" + name);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::string points = dir.read("Results/point.txt");
  struct Case {
    std::function<void(hid_t)> change;
    std::string report;
  };
  const Case cases[] = {
      {[](hid_t f) { edit::int_array(f, "step", 64); }, "the attribute step is not one integer"},
      {[](hid_t f) { edit::text(f, "dz_m", "1e-9"); }, "the attribute dz_m is not one real"},
      {[](hid_t f) { edit::real(f, "level", 1.0); }, "the attribute level is not one integer"},
      {[](hid_t f) {
         const std::vector<double> v = edit::doubles(f, "/restart/Ex");
         edit::dataset(f, "/restart/Ex", H5T_NATIVE_DOUBLE, {1, v.size()}, v);
       },
       "/restart/Ex has the shape [1 x "},
      {[](hid_t f) {
         const std::vector<double> v = edit::doubles(f, "/snapshots/Hy");
         edit::dataset(f, "/snapshots/Hy", H5T_NATIVE_DOUBLE, {v.size()}, v);
       },
       "/snapshots/Hy has the shape ["},
      {[](hid_t f) {
         const std::vector<double> v = edit::doubles(f, "/restart/flags");
         edit::dataset(f, "/restart/flags", H5T_NATIVE_DOUBLE, {v.size() / 4, 4}, v);
       },
       "/restart/flags holds real numbers, integers are needed"},
      {[](hid_t f) {
         H5Ldelete(f, "/restart/Hx", H5P_DEFAULT);
         H5Gclose(H5Gcreate2(f, "/restart/Hx", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
       },
       "/restart/Hx is not a data set"},
      {[](hid_t f) {
         H5Ldelete(f, "/restart/Hy", H5P_DEFAULT);
         H5Lcreate_soft("/restart/Hy", f, "/restart/Hy", H5P_DEFAULT, H5P_DEFAULT);
       },
       "/restart/Hy is a soft or external link"},
      // Values no run holds: refused as the text restore refuses them.
      {[=](hid_t f) { edit::value(f, "/snapshots/Ex", 5, nan); },
       "/snapshots/Ex, row 1, column 6: not a finite number"},
      {[=](hid_t f) { edit::value(f, "/restart/u3", 2, -inf); },
       "/restart/u3, row 3: not a finite number"},
      {[=](hid_t f) { edit::value(f, "/restart/class_u14", 9, nan); },
       "/restart/class_u14, row 2, column 2: not a finite number"},
      {[](hid_t f) { edit::value(f, "/restart/class_flags", 0, -1.0); },  // 255
       "/restart/class_flags, row 1, column 1: the flags are not bits of levels 1..4: -1"},
      {[](hid_t f) { edit::value(f, "/restart/flags", 1, 7.0); }, "the flags are not 0 or 1: 7"},
      // Another run's snapshot.
      {[](hid_t f) { edit::text(f, "model", "legacy"); }, "model legacy, this run has corrected"},
      {[](hid_t f) { edit::integer(f, "both_transitions", 1); },
       "both_transitions 1, this run has 0"},
      {[](hid_t f) { edit::real(f, "dz_m", 1e-9); }, "dz_m 1e-09, this run has "},
      {[](hid_t f) { edit::real(f, "dt_s", 1e-18); }, "dt_s 1e-18, this run has "},
      {[](hid_t f) { edit::real(f, "E0_V_per_m", 3.0); }, "E0_V_per_m 3, this run has "},
      {[](hid_t f) { edit::value(f, "/classes/weight", 0, 0.5); }, "class_1 "},
      // Written in a magnetic field, continued without one.
      {[](hid_t f) {
         const char* names[] = {"magnetic_field_x_T",
                                "magnetic_field_y_T",
                                "magnetic_field_z_T",
                                "g_electron_inplane",
                                "g_electron_z",
                                "g_hole_inplane",
                                "g_hole_z"};
         const double values[] = {1.0, 0.0, 0.0, -0.5, -0.6, 0.2, 1.0};
         for (int k = 0; k < 7; ++k) edit::real(f, names[k], values[k]);
       },
       "magnetic_field 1 0 0 -0.5 -0.6 0.2 1, this run has none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    fs::copy_file(dir.file("Results/" + name), stored, fs::copy_options::overwrite_existing);
    const hid_t file = H5Fopen(stored.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    c.change(file);
    H5Fclose(file);
    try {
      run(dir, input, LL, 2 * LL, LL, classes);
      ADD_FAILURE() << "the continued run started";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + stored + "\""), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.report), std::string::npos) << e.what();
    }
    EXPECT_EQ(dir.read("Results/point.txt"), points);
    EXPECT_FALSE(dir.exists("Results/traces_" + step_label(2 * LL) + ".h5"));
  }
}

// The same refusals for another run's options set as a user would: another
// model, both transitions, or another class width.
TEST(ContinuedRun, Hdf5SnapshotOfOtherOptionsIsRefused) {
  constexpr int LL = 10;
  const std::string input = example_input("quickstart");
  const RunOptions written{.hdf5 = true, .ensemble = Ensemble{8, 3.0}};
  ScratchDir dir;
  make_run_folders(dir);
  run(dir, input, LL, 0, 0, written);
  const std::string name = "snapshot_" + step_label(LL) + ".h5";
  fs::copy_file(dir.file("Results/" + name), dir.file("Continue/" + name));
  const std::pair<RunOptions, std::string> cases[] = {
      {{.model = Model::legacy, .hdf5 = true, .ensemble = Ensemble{8, 3.0}}, "model corrected"},
      {{.hdf5 = true, .ensemble = Ensemble{8, 3.0}, .both_transitions = true},
       "both_transitions 0, this run has 1"},
      {{.hdf5 = true, .ensemble = Ensemble{8, 2.0}}, "class_1 "},
  };
  for (const auto& [options, report] : cases) {
    SCOPED_TRACE(report);
    try {
      run(dir, input, LL, 2 * LL, LL, options);
      ADD_FAILURE() << "the continued run started";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find(report), std::string::npos) << e.what();
    }
  }
}

// A text snapshot records its run in its manifest: a continuation with
// another first-pulse amplitude (E0, the scale of the stored fields) is
// refused instead of rescaling the field; further pulses may change.
TEST(ContinuedRun, TextSnapshotOfAnotherFieldScaleIsRefused) {
  constexpr int LL = 10;
  ScratchDir dir;
  make_run_folders(dir);
  run(dir, with_pulse("quickstart", "5 0 0 2.0e8 1 0 10 15 0"), LL, 0, 0);
  copy_snapshot(dir, LL);
  try {
    run(dir, with_pulse("quickstart", "5 0 0 1.0e8 1 0 10 15 0"), LL, 2 * LL, LL);
    ADD_FAILURE() << "the continued run started";
  } catch (const IoError& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find("manifest_" + step_label(LL) + ".txt\""), std::string::npos) << m;
    EXPECT_NE(m.find("E0_V_per_m 2e+08, this run has 1e+08"), std::string::npos) << m;
  }
}

// A dangling "snapshot_*.h5" link is reported as what it is, not as a text
// snapshot missing its files.
TEST(ContinuedRun, DanglingHdf5SnapshotLinkIsNamed) {
  constexpr int LL = 10;
  ScratchDir dir;
  make_run_folders(dir);
  run(dir, example_input("quickstart"), LL, 0, 0);
  copy_snapshot(dir, LL);
  const std::string link = dir.file("Continue/snapshot_" + step_label(LL) + ".h5");
  fs::create_symlink(dir.file("gone.h5"), link);
  try {
    run(dir, example_input("quickstart"), LL, 2 * LL, LL);
    ADD_FAILURE() << "the continued run started";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + link + "\" is a link to a missing file"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace mps::testing
