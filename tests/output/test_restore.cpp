// Continued runs: the level index from point.txt, restoring both time
// levels from a stored snapshot, and the reports for a snapshot that cannot
// be restored.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "core/errors.hpp"
#include "output/hdf5_file.hpp"
#include "output/manifest.hpp"
#include "output/restore.hpp"
#include "output/result_files.hpp"
#include "support/scratch_dir.hpp"
#include "textio/fortran_format.hpp"
#include "textio/gzip.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;
using textio::step_label;

// Only a line as point.txt is written, (I12, 2X, I8, 2X, I8), can name the
// step: anything else would hand the restore a level index nobody wrote.
TEST(Continuation, LevelIndexComesFromTheFirstWellFormedLineOfTheStep) {
  ScratchDir dir;
  const std::string point = dir.file("point.txt");
  dir.write("point.txt",
            "000000001000  00000000  00000001\n"
            "000000002000  00000001  00000000\n"
            "000000002000  00000000  00000001\n");
  EXPECT_EQ(find_level_index(point, 2000), 1);
  EXPECT_EQ(find_level_index(point, 1000), 0);
  try {
    find_level_index(point, 2500);
    FAIL() << "no line names step 2500";
  } catch (const ParameterError& e) {
    EXPECT_STREQ(e.what(), "cant find J_final -> check file point.txt");
    EXPECT_FALSE(e.padded());
  }
  // A missing point.txt is searched as an empty one, and not created.
  EXPECT_THROW(find_level_index(dir.file("missing.txt"), 1000), ParameterError);
  EXPECT_FALSE(dir.exists("missing.txt"));

  const std::string good = "000000002000  00000001  00000000";
  const char* garbage[] = {
      "hello world",
      "",
      "xxxxxxxxxxxx  00000001  00000000",    // a step that is not a number
      "000000002000",                        // the step alone
      "000000002000  00000001",              // one level index
      "000000002000  0000000x  00000000",    // a level that is not a number
      "000000002000  00000001  0000000y",    // nor the other one
      "00000002000  00000001  00000000",     // fields shifted
      "000000002000 000000001  00000000",    // no blanks between fields
      "000000002000  00000001  00000000 x",  // more after the line
      "     2 00 0  00000001  00000000",     // embedded blanks
      "                        00000000",    // blank fields
  };
  for (const char* line : garbage) {
    SCOPED_TRACE(line);
    dir.write("point.txt", std::string(line) + "\n");
    EXPECT_THROW(find_level_index(point, 2000), ParameterError);
    dir.write("point.txt", std::string(line) + "\n" + good + "\n");  // passed over
    EXPECT_EQ(find_level_index(point, 2000), 1);
  }
  // Right-justified with blanks, as (I12) may write the step; a CRLF end.
  for (const std::string& line :
       {std::string("        2000         1         0\n"), good + "\r\n"}) {
    dir.write("point.txt", line);
    EXPECT_EQ(find_level_index(point, 2000), 1) << line;
  }
}

TEST(Continuation, StoredNumberIsOneFiniteNumberInAFortranForm) {
  const std::pair<const char*, double> accepted[] = {
      {"     0.150000000000E+01", 1.5},
      {"    -0.150000000000E+01", -1.5},
      {"     0.100000000000+100", 1e99},
      {"     0.100000000000-100", 1e-101},
      {"     0.000000000000E+00", 0.0},
      {"    -0.150000000000D+01", -1.5},
      {"0.15E+01", 1.5},
      {"     0.494065645841-323", 4.94065645841e-324},
  };
  for (const auto& [text, expected] : accepted) {
    double v = -1.0;
    ASSERT_TRUE(parse_real_field(text, v)) << text;
    EXPECT_EQ(v, expected) << text;
  }
  const char* refused[] = {
      "",
      "                       ",  // a blank field is not 0
      "                    NaN",
      "               Infinity",
      "                   -inf",
      "     0.100000000000E+999",  // beyond the range of a double
      "     0.100000000000+999",
      "    -0.100000000000E+400",
      "     0.1 2345678901E+01",  // an embedded blank
      "     0.150000000000E-",    // cut short
      "     0.150000000000E",
      "     0.150000000000",  // no exponent
      "     0.150000000000 E+01",
      "     0.150000000000E+01 x",
      "     0.150000000000E+01 ",
      "    150000000000000E-13",  // no decimal point
      "                 .E+01",
      "                 0x1p+3",
      "              --0.1E+01",
      "********************",
  };
  for (const char* text : refused) {
    double v = 7.0;
    EXPECT_FALSE(parse_real_field(text, v)) << '"' << text << '"';
    EXPECT_EQ(v, 7.0) << text;
  }
}

// A hand-made snapshot of step 2000 for three cells.  Component c (Ex=1,
// Ey=2, Hx=3, Hy=4, u1..u15 = 11..25), cell k and step offset s (0: step
// 2000, 1: step 1999) give c + k/8 + s/64, exact in 12 digits: a file read
// into the wrong array or level shows.
struct StoredSnapshot {
  static constexpr std::int32_t N = 3;
  static constexpr std::int64_t J_final = 2000;
  ScratchDir dir;
  RestoreInput in;

  StoredSnapshot() {
    dir.make_dir("Results");
    dir.make_dir("Continue");
    in.J_final = J_final;
    in.E0 = 2.0;
    in.results_dir = dir.file("Results/");
    in.continue_dir = dir.file("Continue/");
    // Step 2000 was written on level 1.
    dir.write("Results/point.txt",
              "000000001000  00000000  00000001\n"
              "000000002000  00000001  00000000\n");
    const char* fields[] = {"Ex", "Ey", "Hx", "Hy"};
    for (int c = 1; c <= 4; ++c) write_pair(fields[c - 1], c);
    for (int n = 1; n <= 15; ++n) write_pair(std::string("u").append(std::to_string(n)), 10 + n);
    dir.write("Continue/gamma.dat", "1 0 0 0 \n0 1 0 1 \n1 1 1 1 \n");
  }

  static double value(int component, int cell, int step_offset) {
    return component + cell / 8.0 + step_offset / 64.0;
  }
  static std::string column(int component, int step_offset) {
    std::string text;
    for (int k = 1; k <= N; ++k) {
      textio::append_E23_12(text, value(component, k, step_offset));
      text += '\n';
    }
    return text;
  }
  // Path of a column file in the folder, relative to dir.
  static std::string file(const std::string& stem, int step_offset) {
    return "Continue/" + stem + "_z" + step_label(J_final - step_offset) + ".dat";
  }
  void write_pair(const std::string& stem, int component) const {
    for (int s = 0; s <= 1; ++s) dir.write(file(stem, s), column(component, s));
  }
  void gzip(const std::string& name, const std::string& text) const {
    dir.write("packed.txt", text);
    textio::gzip_file(dir.file("packed.txt"), dir.file(name), 6);
  }

  // The manifest of the files as they stand, as a run writes it, with the
  // values of the run that wrote them when given.
  void write_manifest(int level = 1, std::vector<RunValue> run = {}) const {
    SnapshotManifest manifest{J_final, level, {}, std::move(run)};
    for (const std::string& name : files_in(dir.file("Continue"))) {
      manifest.files.push_back(entry_of(name, dir.read("Continue/" + name)));
    }
    dir.write("Continue/" + result_files::manifest(J_final), manifest_text(manifest));
  }

  std::vector<std::string> restore(FieldState& f, MediumState& m) const {
    f.allocate(N);
    m.allocate(N);
    return restore_snapshot(in, f, m);
  }
};

// The message of a restore expected to fail with an IoError.
std::string restore_failure(const StoredSnapshot& snap) {
  FieldState f;
  MediumState m;
  try {
    snap.restore(f, m);
  } catch (const IoError& e) {
    return e.what();
  }
  ADD_FAILURE() << "the restore did not fail";
  return "";
}

// Every entry of a folder, hidden ones included, with its bytes.
std::map<std::string, std::string> folder_bytes(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& e : fs::directory_iterator(folder)) {
    std::ifstream f(e.path(), std::ios::binary);
    std::ostringstream text;
    text << f.rdbuf();
    entries[e.path().filename().string()] = text.str();
  }
  return entries;
}

// Both levels of every array from their own files; a compressed file wins
// over a plain one of the same name, and the folder is left byte for byte
// as it was (nothing is unpacked in place).
TEST(Continuation, BothLevelsOfEveryArrayFromTheirOwnFiles) {
  StoredSnapshot snap;
  for (const std::string stem : {"Ex", "u1", "u15"}) {
    const std::string name = StoredSnapshot::file(stem, 0);
    snap.gzip(name + ".gz", snap.dir.read(name));
    snap.dir.write(name, StoredSnapshot::column(9, 0));
  }
  snap.gzip("Continue/gamma.dat.gz", snap.dir.read("Continue/gamma.dat"));
  snap.dir.write("Continue/gamma.dat", "0 0 0 0 \n0 0 0 0 \n0 0 0 0 \n");
  snap.gzip("Continue/other.dat.gz", "not needed\n");  // a stray file
  const auto before = folder_bytes(snap.in.continue_dir);

  FieldState f;
  MediumState m;
  snap.restore(f, m);
  EXPECT_EQ(f.Jtoggle, 1);
  const auto value = StoredSnapshot::value;
  const std::tuple<const char*, const std::array<std::vector<double>, 2>*, double> fields[] = {
      {"Ex", &f.Ex, 2.0}, {"Ey", &f.Ey, 2.0}, {"Hx", &f.Hx, 1.0}, {"Hy", &f.Hy, 1.0}};
  for (int k = 1; k <= StoredSnapshot::N; ++k) {
    const auto c = static_cast<std::size_t>(k);
    // Step 2000 in level 1, step 1999 in level 0; E scaled by E0 = 2.
    for (int i = 0; i < 4; ++i) {
      const auto& [name, array, scale] = fields[i];
      EXPECT_EQ((*array)[1][c], scale * value(i + 1, k, 0)) << name << " cell " << k;
      EXPECT_EQ((*array)[0][c], scale * value(i + 1, k, 1)) << name << " cell " << k;
    }
    for (int n = 1; n <= 15; ++n) {
      EXPECT_EQ(m.w_at(1, k)[n - 1], value(10 + n, k, 0)) << "u" << n << " cell " << k;
      EXPECT_EQ(m.w_at(0, k)[n - 1], value(10 + n, k, 1)) << "u" << n << " cell " << k;
    }
  }
  EXPECT_EQ(f.Ex[1][0], 0.0);  // cell 0 is not stored
  using Flags = std::array<std::int32_t, 4>;
  EXPECT_EQ(m.flags(1), (Flags{1, 0, 0, 0}));
  EXPECT_EQ(m.flags(2), (Flags{0, 1, 0, 1}));
  EXPECT_EQ(m.flags(3), (Flags{1, 1, 1, 1}));
  EXPECT_EQ(folder_bytes(snap.in.continue_dir), before);

  // A late file damaged: the files read before it are not left unpacked.
  const std::string gamma = "Continue/gamma.dat.gz";
  snap.dir.write(gamma, snap.dir.read(gamma).substr(0, 12));
  const auto damaged = folder_bytes(snap.in.continue_dir);
  EXPECT_NE(restore_failure(snap).find(snap.dir.file(gamma)), std::string::npos);
  EXPECT_EQ(folder_bytes(snap.in.continue_dir), damaged);
}

enum class Change {
  write,
  gzip,
  cut_gzip,
  remove,
  fifo,
  device,
  swap_levels,
  manifest_level,
  manifest_step,
  manifest_name
};

// A snapshot changed after it was stored, and a piece of the refusal ("@"
// stands for the changed file's full path).
struct Damage {
  std::string file;  // relative to the snapshot's folder
  Change change;
  std::string text;  // written, or compressed into `file`
  std::string report;
  bool manifest = false;  // the snapshot has its manifest
};

void apply(const StoredSnapshot& s, const Damage& d) {
  const std::string path = s.dir.file(d.file);
  const std::string manifest = "Continue/" + result_files::manifest(2000);
  switch (d.change) {
    case Change::write:
      return s.dir.write(d.file, d.text);
    case Change::gzip:
      return s.gzip(d.file, d.text);
    case Change::cut_gzip: {
      s.gzip(d.file, s.dir.read(d.file.substr(0, d.file.size() - 3)));
      const std::string packed = s.dir.read(d.file);
      return s.dir.write(d.file, packed.substr(0, packed.size() - 4));
    }
    case Change::remove:
      fs::remove(path);
      return;
    case Change::fifo:
      fs::remove(path);
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      return;
    case Change::device:
      fs::remove(path);
      return fs::create_symlink("/dev/zero", path);
    case Change::swap_levels: {
      const std::string other = StoredSnapshot::file("Ex", 1), text = s.dir.read(d.file);
      s.dir.write(d.file, s.dir.read(other));
      return s.dir.write(other, text);
    }
    case Change::manifest_level:
      return s.write_manifest(0);
    case Change::manifest_step: {  // another step's manifest renamed with its files
      const std::string text = s.dir.read(manifest);
      return s.dir.write(manifest, text.substr(0, 24) + "step 000000001000" + text.substr(41));
    }
    case Change::manifest_name:
      return fs::rename(s.dir.file(manifest),
                        s.dir.file("Continue/" + result_files::manifest(1000)));
  }
}

std::string expand(const std::string& pattern, const std::string& path) {
  std::string out;
  for (const char c : pattern) {
    if (c == '@')
      out += path;
    else
      out += c;
  }
  return out;
}

// Every refusal names the file (and line and text where there is one) and
// leaves the folder's entries as they were: nothing is unpacked or created.
TEST(Continuation, UnusableSnapshotIsRefusedByFileAndLine) {
  const std::string hx0 = StoredSnapshot::file("Hx", 0), hy0 = StoredSnapshot::file("Hy", 0);
  const std::string ex0 = StoredSnapshot::file("Ex", 0), gamma = "Continue/gamma.dat";
  std::string flood;  // about 700 KB of lines: far beyond three cells
  for (int k = 0; k < 30000; ++k) flood += "     0.000000000000E+00\n";
  const std::string head = split_lines(StoredSnapshot::column(4, 0))[0] + "\n";
  using enum Change;
  std::vector<Damage> cases = {
      {StoredSnapshot::file("u10", 1), remove, "", "@"},
      {hy0, write, head, "\"@\" ends after 1 lines; 3 values are needed"},
      {hx0, write, StoredSnapshot::column(3, 0) + head, "\"@\" holds 4 lines; 3 values are needed"},
      {gamma, write, "1 0 0 0 \n0 1 0 1 \n", "gamma.dat\" ends after 2 lines"},
      {gamma, write, "1 0 0 0 \n0 1 0 1 \n1 1 1 1 \n0 0 0 0 \n",
       "gamma.dat\" holds 4 lines; 3 cells are needed"},
      // A damaged ".gz" is not passed over in favour of the plain file.
      {StoredSnapshot::file("Ex", 1) + ".gz", write, "not a gzip stream", "@"},
      {StoredSnapshot::file("Hy", 1) + ".gz", write, "", "@"},
      {StoredSnapshot::file("u5", 0) + ".gz", cut_gzip, "", "@"},
      {ex0 + ".gz", gzip, flood, "\"@\" is too large"},
      {ex0, write, flood, "\"@\" is too large"},
      // A FIFO would block the restore for ever, a device be read without end.
      {StoredSnapshot::file("u7", 1), fifo, "", "@\" is not a regular file"},
      {"Results/point.txt", fifo, "", "is not a regular file"},
      {"Results/point.txt", device, "", "is not a regular file"},
      // Well-formed files the snapshot did not write, caught by its manifest.
      {ex0, swap_levels, "", "is not the file the snapshot of step 2000 wrote", true},
      {gamma, write, "1 1 1 1 \n1 1 1 1 \n1 1 1 1 \n",
       "only the latest one of a folder can be continued", true},
      {hy0, write, flood.substr(0, 3 * 24), "is not the file", true},
      {"", manifest_level, "",
       "describes step 2000 with level 0, point.txt names step 2000 with level 1", true},
      {"", manifest_step, "", "describes step 1000", true},
      {"", manifest_name, "", "is missing, though the folder holds manifests of other snapshots",
       true},
  };
  // Each stored value is one finite number filling its 23-character line,
  // in field and medium files alike.
  auto bad_line = [](const char* stem, int component, const std::string& line, const char* what) {
    const auto lines = split_lines(StoredSnapshot::column(component, 1));
    return Damage{StoredSnapshot::file(stem, 1), write,
                  lines[0] + "\n" + line + "\n" + lines[2] + "\n",
                  "@\", line 2: " + std::string(what) + ": \"" + line + '"'};
  };
  for (const char* line :
       {"                    NaN", "", "     0.100000000000E+999", "     0.150000000000E+01 x"}) {
    cases.push_back(bad_line("Ey", 2, line, "not a number"));
    cases.push_back(bad_line("u7", 17, line, "not a number"));
  }
  cases.push_back(bad_line("u3", 13, "     0.150000000000E-0", "not 23 characters wide"));
  for (const std::string flags : {"1 9 0 1 ", "1", "", "1 0 0 0", "1 0 0 0 1 ", "10 0 0 ",
                                  "1 0 0 0x", "-1 0 0 0", " 1 0 0 0 ", "1  0 0 0"}) {
    cases.push_back({gamma, write, "1 0 0 0 \n" + flags + "\n1 1 1 1 \n",
                     "gamma.dat\", line 2: bad flags: \"" + flags + '"'});
  }

  for (const Damage& c : cases) {
    SCOPED_TRACE(c.file + ": " + c.report);
    StoredSnapshot snap;
    if (c.manifest) snap.write_manifest();
    apply(snap, c);
    const auto before = files_in(snap.in.continue_dir);
    const std::string message = restore_failure(snap);
    EXPECT_NE(message.find(expand(c.report, snap.dir.file(c.file))), std::string::npos) << message;
    EXPECT_EQ(files_in(snap.in.continue_dir), before);
  }

  StoredSnapshot snap;  // a level index point.txt cannot hold
  snap.dir.write("Results/point.txt", "000000002000  00000002  00000000\n");
  FieldState f;
  MediumState m;
  EXPECT_THROW(snap.restore(f, m), ParameterError);
}

// A snapshot of an earlier version, without a manifest, is restored with a
// warning; with its manifest, silently.
TEST(Continuation, SnapshotWithoutManifestIsRestoredWithAWarning) {
  StoredSnapshot snap;
  FieldState f;
  MediumState m;
  const auto warnings = snap.restore(f, m);
  ASSERT_EQ(warnings.size(), 1U);
  EXPECT_NE(warnings[0].find("has no manifest"), std::string::npos) << warnings[0];
  snap.write_manifest();
  EXPECT_TRUE(snap.restore(f, m).empty());
}

// A snapshot written in a magnetic field is continued in the same field
// only: another field (or g-factor) or none is refused.
TEST(Continuation, ARunInAnotherMagneticFieldIsRefused) {
  RunRecord written;
  written.dz = 2e-9, written.dt = 4e-18;
  written.magnetic_field = true;
  written.magnetic = {1.0, 0.0, 0.0, -0.5, -0.6, 0.2, 1.0};
  const std::pair<std::function<void(RunRecord&)>, std::string> cases[] = {
      {[](RunRecord&) {}, ""},
      {[](RunRecord& r) { r.magnetic[0] = 2.0; },
       "magnetic_field 1 0 0 -0.5 -0.6 0.2 1, this run has 2 0 0"},
      {[](RunRecord& r) { r.magnetic[6] = 1.5; }, "this run has 1 0 0 -0.5 -0.6 0.2 1.5"},
      {[](RunRecord& r) { r.magnetic_field = false; },
       "magnetic_field 1 0 0 -0.5 -0.6 0.2 1, this run has none"},
  };
  for (const auto& [change, report] : cases) {
    SCOPED_TRACE(report);
    StoredSnapshot snap;
    snap.write_manifest(1, run_values(written));
    snap.in.run = written;
    change(snap.in.run);
    if (report.empty()) {
      FieldState f;
      MediumState m;
      EXPECT_NO_THROW(snap.restore(f, m));
    } else {
      const std::string message = restore_failure(snap);
      EXPECT_NE(message.find(report), std::string::npos) << message;
    }
  }
}

// The manifest records the run that wrote the snapshot; the restore
// compares what it records with the run, and a manifest of an earlier
// version, recording nothing, is compared in nothing.
TEST(Continuation, ManifestRecordsTheRunAndARunOfOtherValuesIsRefused) {
  RunRecord written{"corrected", false, 2e-9, 4e-18, 2.0, {{-1e12, 0.25}, {1e12, 0.75}}};
  const SnapshotManifest stored{2000, 1, {{"Ex_z.dat", 5, 0xabcdef01}}, run_values(written)};
  const SnapshotManifest back = parse_manifest("m.txt", manifest_text(stored));
  EXPECT_EQ(back.run, stored.run);
  EXPECT_EQ(back.files.size(), 1U);

  written.classes.clear();
  const std::pair<std::function<void(RunRecord&)>, std::string> cases[] = {
      {[](RunRecord&) {}, ""},
      {[](RunRecord& r) { r.model = "legacy"; }, "model corrected, this run has legacy"},
      {[](RunRecord& r) { r.both_transitions = true; }, "both_transitions 0, this run has 1"},
      {[](RunRecord& r) { r.dz = 1e-9; }, "dz_m 2e-09, this run has 1e-09"},
      {[](RunRecord& r) { r.dt = 4.5e-18; }, "dt_s 4e-18, this run has 4.5e-18"},
      {[](RunRecord& r) { r.E0 = 3.0; }, "E0_V_per_m 2, this run has 3"},
      {[](RunRecord& r) {
         r.classes = {{-1e12, 0.5}, {1e12, 0.5}};
       },
       "classes 1, this run has 2"},
      {[](RunRecord& r) {
         r.magnetic_field = true;
         r.magnetic = {0.0, 0.0, 1.0, -0.5, -0.6, 0.2, 1.0};
       },
       "magnetic_field none, this run has 0 0 1 -0.5 -0.6 0.2 1"},
  };
  for (const auto& [change, report] : cases) {
    SCOPED_TRACE(report);
    for (const bool recorded : {true, false}) {
      StoredSnapshot snap;
      snap.write_manifest(1, recorded ? run_values(written) : std::vector<RunValue>{});
      snap.in.run = written;
      change(snap.in.run);
      if (report.empty() || !recorded) {
        FieldState f;
        MediumState m;
        EXPECT_NO_THROW(snap.restore(f, m));
      } else {
        const std::string message = restore_failure(snap);
        EXPECT_NE(message.find(report), std::string::npos) << message;
        EXPECT_NE(message.find(snap.dir.file("Continue/manifest_000000002000.txt")),
                  std::string::npos);
      }
    }
  }
}

// A FIFO named like an HDF5 snapshot is refused without waiting for a
// writer; a helper opens the writing end whenever someone reads, so a
// reader that opened it would fail instead of blocking the test.
TEST(Hdf5File, ReaderRefusesAnythingButARegularFile) {
  ScratchDir dir;
  const std::string fifo = dir.file("snapshot_000000002000.h5");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    while (!done) {
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    try {
      const h5::Reader file(path);
      ADD_FAILURE() << path << " was opened";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find('"' + path + "\" is not a regular file"),
                std::string::npos)
          << e.what();
    }
  }
  done = true;
  writer.join();
}

// The temporary file is created exclusively: a link planted at its name
// is not followed (its target keeps its bytes), another name is taken, and
// the finished file replaces only the name it is renamed to.
std::string planted_name(const std::string& target) {
  static int calls = 0;
  return ++calls % 2 == 1 ? target + ".planted" : target + ".fresh";
}

TEST(Hdf5File, WriterDoesNotWriteThroughALinkAtItsTemporaryName) {
  ScratchDir dir;
  dir.write("victim.txt", "precious\n");
  const std::string target = dir.file("snapshot.h5");
  fs::create_symlink(dir.file("victim.txt"), target + ".planted");
  {
    h5::Writer file(target, planted_name);
    file.attribute(file.root(), "step", std::int64_t{7});
    file.commit();
  }
  EXPECT_EQ(dir.read("victim.txt"), "precious\n");
  EXPECT_TRUE(fs::is_symlink(target + ".planted"));
  EXPECT_FALSE(fs::exists(target + ".fresh"));
  EXPECT_EQ(h5::Reader(target).int_attribute("step"), 7);
}

}  // namespace
}  // namespace mps::testing
