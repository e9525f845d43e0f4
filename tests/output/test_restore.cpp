// Continued runs: the level index from point.txt, restoring both time
// levels from a stored snapshot, and the reports for a snapshot that cannot
// be restored.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "core/errors.hpp"
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

TEST(Continuation, LevelIndexOfTheFirstMatchingLine) {
  ScratchDir dir;
  dir.write("point.txt",
            "000000001000  00000000  00000001\n"
            "000000002000  00000001  00000000\n"
            "000000002000  00000000  00000001\n");
  EXPECT_EQ(find_level_index(dir.file("point.txt"), 2000), 1);
  EXPECT_EQ(find_level_index(dir.file("point.txt"), 1000), 0);
  // A line whose step cannot be read is passed over.
  dir.write("bad.txt", "xxxxxxxxxxxx  00000001  00000000\n000000002000  00000001  00000000\n");
  EXPECT_EQ(find_level_index(dir.file("bad.txt"), 2000), 1);
  try {
    find_level_index(dir.file("point.txt"), 2500);
    FAIL() << "no line names step 2500";
  } catch (const ParameterError& e) {
    EXPECT_STREQ(e.what(), "cant find J_final -> check file point.txt");
    EXPECT_FALSE(e.padded());
  }
  // A missing point.txt is searched as an empty one, and not created.
  EXPECT_THROW(find_level_index(dir.file("missing.txt"), 1000), ParameterError);
  EXPECT_FALSE(dir.exists("missing.txt"));
}

// Only a line as point.txt is written, (I12, 2X, I8, 2X, I8), can name the
// step: anything else would hand the restore a level index nobody wrote.
TEST(Continuation, PointTxtLinesNotAsWrittenNeverNameTheStep) {
  ScratchDir dir;
  const std::string good = "000000002000  00000001  00000000";
  const char* garbage[] = {
      "hello world",
      "",
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
    dir.write("point.txt", std::string(line) + "\n");
    try {
      find_level_index(dir.file("point.txt"), 2000);
      ADD_FAILURE() << "\"" << line << "\" was taken for step 2000";
    } catch (const ParameterError& e) {
      EXPECT_STREQ(e.what(), "cant find J_final -> check file point.txt") << line;
    }
    // Before a well-formed line, it is passed over.
    dir.write("point.txt", std::string(line) + "\n" + good + "\n");
    EXPECT_EQ(find_level_index(dir.file("point.txt"), 2000), 1) << line;
  }
  // Right-justified with blanks, as (I12) may write the step, is a step.
  dir.write("point.txt", "        2000         1         0\n");
  EXPECT_EQ(find_level_index(dir.file("point.txt"), 2000), 1);
  dir.write("point.txt", "000000002000  00000001  00000000\r\n");
  EXPECT_EQ(find_level_index(dir.file("point.txt"), 2000), 1);
}

TEST(Continuation, StoredNumberForms) {
  const std::pair<const char*, double> cases[] = {
      {"     0.150000000000E+01", 1.5},
      {"    -0.150000000000E+01", -1.5},
      {"     0.100000000000+100", 1e99},
      {"     0.100000000000-100", 1e-101},
      {"     0.000000000000E+00", 0.0},
      {"    -0.150000000000D+01", -1.5},
      {"0.15E+01", 1.5},
      {"     0.494065645841-323", 4.94065645841e-324},
  };
  for (const auto& [text, expected] : cases) {
    double v = -1.0;
    ASSERT_TRUE(parse_real_field(text, v)) << text;
    EXPECT_EQ(v, expected) << text;
  }
}

TEST(Continuation, TextThatIsNotOneFiniteNumberIsRefused) {
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

// A hand-made snapshot of step 2000 for three cells.  Every file holds its
// own values, so a file read into the wrong array or level shows:
// component c (Ex=1, Ey=2, Hx=3, Hy=4, u1..u15 = 11..25), cell k and step
// offset s (0 for step 2000, 1 for step 1999) give c + k/8 + s/64, which
// the 12-digit fields hold exactly.
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
    for (int n = 1; n <= 15; ++n) write_pair(std::string(1, 'u').append(std::to_string(n)), 10 + n);
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
  static std::string file(const std::string& stem, int step_offset) {
    return stem + "_z" + step_label(J_final - step_offset) + ".dat";
  }
  void write_pair(const std::string& stem, int component) const {
    for (int s = 0; s <= 1; ++s) dir.write("Continue/" + file(stem, s), column(component, s));
  }

  // The manifest of the files as they stand, as a run writes it.
  void write_manifest(int level = 1) const {
    SnapshotManifest manifest{J_final, level, {}};
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

TEST(Continuation, BothLevelsOfEveryArrayFromTheirOwnFiles) {
  StoredSnapshot snap;
  // A compressed file wins over a plain one of the same name.
  const std::string ex = "Continue/" + StoredSnapshot::file("Ex", 0);
  snap.dir.write("newer.txt", snap.dir.read(ex));
  snap.dir.write(ex, StoredSnapshot::column(9, 0));
  textio::gzip_file(snap.dir.file("newer.txt"), snap.dir.file(ex + ".gz"), 1);

  FieldState f;
  MediumState m;
  snap.restore(f, m);
  EXPECT_EQ(f.Jtoggle, 1);
  const auto value = StoredSnapshot::value;
  for (int k = 1; k <= StoredSnapshot::N; ++k) {
    const auto c = static_cast<std::size_t>(k);
    // Step 2000 in level 1, step 1999 in level 0; E scaled by E0 = 2.
    EXPECT_EQ(f.Ex[1][c], 2.0 * value(1, k, 0)) << k;
    EXPECT_EQ(f.Ex[0][c], 2.0 * value(1, k, 1)) << k;
    EXPECT_EQ(f.Ey[1][c], 2.0 * value(2, k, 0)) << k;
    EXPECT_EQ(f.Ey[0][c], 2.0 * value(2, k, 1)) << k;
    EXPECT_EQ(f.Hx[1][c], value(3, k, 0)) << k;
    EXPECT_EQ(f.Hx[0][c], value(3, k, 1)) << k;
    EXPECT_EQ(f.Hy[1][c], value(4, k, 0)) << k;
    EXPECT_EQ(f.Hy[0][c], value(4, k, 1)) << k;
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
  // Nothing is decompressed in place: both copies stay.
  EXPECT_TRUE(snap.dir.exists(ex + ".gz"));
  EXPECT_EQ(snap.dir.read(ex), StoredSnapshot::column(9, 0));
}

// The message of a restore expected to fail.
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

TEST(Continuation, UnusableFilesAreReportedByNameAndLineAndNothingIsCreated) {
  {
    StoredSnapshot snap;
    const std::string u10 = "Continue/" + StoredSnapshot::file("u10", 1);
    fs::remove(snap.dir.file(u10));
    const auto before = files_in(snap.dir.file("Continue"));
    EXPECT_NE(restore_failure(snap).find(snap.dir.file(u10)), std::string::npos);
    EXPECT_EQ(files_in(snap.dir.file("Continue")), before);
  }
  {
    StoredSnapshot snap;
    const std::string hy = "Continue/" + StoredSnapshot::file("Hy", 0);
    snap.dir.write(hy, split_lines(StoredSnapshot::column(4, 0))[0] + "\n");
    const std::string message = restore_failure(snap);
    EXPECT_NE(message.find(snap.dir.file(hy)), std::string::npos) << message;
    EXPECT_NE(message.find("ends after 1 lines; 3 values are needed"), std::string::npos)
        << message;
  }
  {
    StoredSnapshot snap;
    const std::string u3 = "Continue/" + StoredSnapshot::file("u3", 0);
    snap.dir.write(u3, "     0.100000000000E+01\n     0.1000x0000000E+01\n" +
                           split_lines(StoredSnapshot::column(13, 0))[2] + "\n");
    const std::string message = restore_failure(snap);
    EXPECT_NE(message.find(snap.dir.file(u3) + "\", line 2: not a number"), std::string::npos)
        << message;
  }
  {
    StoredSnapshot snap;
    snap.dir.write("Continue/gamma.dat", "1 0 0 0 \n0 1 0 1 \n");
    EXPECT_NE(restore_failure(snap).find("gamma.dat\" ends after 2 lines"), std::string::npos);
    snap.dir.write("Continue/gamma.dat", "1 0 0 0 \n0 1 x 1 \n1 1 1 1 \n");
    EXPECT_NE(restore_failure(snap).find("gamma.dat\", line 2: bad flag"), std::string::npos);
  }
  {
    // A damaged compressed file is not passed over in favour of an older
    // plain file of the same name.
    StoredSnapshot snap;
    const std::string ex = "Continue/" + StoredSnapshot::file("Ex", 1);
    snap.dir.write(ex + ".gz", "not a gzip stream");
    EXPECT_NE(restore_failure(snap).find(snap.dir.file(ex + ".gz")), std::string::npos);
    EXPECT_TRUE(snap.dir.exists(ex + ".gz"));
  }
  {
    StoredSnapshot snap;
    snap.dir.write("Results/point.txt", "000000002000  00000002  00000000\n");
    FieldState f;
    MediumState m;
    EXPECT_THROW(snap.restore(f, m), ParameterError);
  }
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

// One line of a stored column replaced, the message of the restore that
// must refuse it: it names the file, the line and the text.
void expect_line_refused(const std::string& stem, int component, const std::string& line) {
  StoredSnapshot snap;
  const std::string name = "Continue/" + StoredSnapshot::file(stem, 1);
  auto lines = split_lines(StoredSnapshot::column(component, 1));
  lines[1] = line;
  snap.dir.write(name, lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
  const std::string message = restore_failure(snap);
  EXPECT_NE(message.find(snap.dir.file(name) + "\", line 2: "), std::string::npos) << message;
  EXPECT_NE(message.find('"' + line + '"'), std::string::npos) << message;
}

TEST(Continuation, EveryStoredValueIsOneFiniteNumberFillingItsLine) {
  const char* refused[] = {
      "                    NaN",
      "               Infinity",
      "     0.100000000000E+999",
      "                       ",
      "",
      "     0.150000000000E-0",
      "     0.1 2345678901E+01",
      "     0.150000000000E+01 x",
      "     0.150000000000E+01 ",
  };
  for (const char* line : refused) {
    expect_line_refused("Ey", 2, line);
    expect_line_refused("u7", 17, line);
  }
  // A column of another grid's length is not this grid's snapshot.
  StoredSnapshot snap;
  const std::string hx = "Continue/" + StoredSnapshot::file("Hx", 0);
  snap.dir.write(hx, StoredSnapshot::column(3, 0) + "     0.100000000000E+01\n");
  const std::string message = restore_failure(snap);
  EXPECT_NE(message.find(snap.dir.file(hx) + "\" holds 4 lines; 3 values are needed"),
            std::string::npos)
      << message;
}

TEST(Continuation, PopulationFlagsAreFourZerosOrOnesPerCell) {
  const char* refused[] = {"1 9 0 1 ", "1",        "",         "1 0 0 0",   "1 0 0 0 1 ",
                           "10 0 0 ",  "1 0 0 0x", "-1 0 0 0", " 1 0 0 0 ", "1  0 0 0"};
  for (const char* line : refused) {
    StoredSnapshot snap;
    snap.dir.write("Continue/gamma.dat", "1 0 0 0 \n" + std::string(line) + "\n1 1 1 1 \n");
    const std::string message = restore_failure(snap);
    EXPECT_NE(message.find("gamma.dat\", line 2: bad flags: \"" + std::string(line) + '"'),
              std::string::npos)
        << message;
  }
  StoredSnapshot snap;
  snap.dir.write("Continue/gamma.dat", "1 0 0 0 \n0 1 0 1 \n1 1 1 1 \n0 0 0 0 \n");
  EXPECT_NE(restore_failure(snap).find("gamma.dat\" holds 4 lines; 3 cells are needed"),
            std::string::npos);
}

TEST(Continuation, CompressedFilesAreReadInMemoryWithinWhatTheGridCanHold) {
  {
    // An empty ".gz" stops the restore; the good plain file beside it stays.
    StoredSnapshot snap;
    const std::string hy = "Continue/" + StoredSnapshot::file("Hy", 1);
    snap.dir.write(hy + ".gz", "");
    const std::string message = restore_failure(snap);
    EXPECT_NE(message.find(snap.dir.file(hy + ".gz")), std::string::npos) << message;
    EXPECT_EQ(snap.dir.read(hy), StoredSnapshot::column(4, 1));
  }
  {
    // A stream cut short is not taken for a shorter file.
    StoredSnapshot snap;
    const std::string u5 = "Continue/" + StoredSnapshot::file("u5", 0);
    textio::gzip_file(snap.dir.file(u5), snap.dir.file(u5 + ".gz"), 6);
    const std::string packed = snap.dir.read(u5 + ".gz");
    snap.dir.write(u5 + ".gz", packed.substr(0, packed.size() - 4));
    EXPECT_NE(restore_failure(snap).find(snap.dir.file(u5 + ".gz")), std::string::npos);
  }
  {
    // About 700 KB of lines in a small stream: far beyond three cells.
    StoredSnapshot snap;
    const std::string ex = "Continue/" + StoredSnapshot::file("Ex", 0);
    std::string flood;
    for (int k = 0; k < 30000; ++k) flood += "     0.000000000000E+00\n";
    snap.dir.write("flood.txt", flood);
    textio::gzip_file(snap.dir.file("flood.txt"), snap.dir.file(ex + ".gz"), 9);
    const std::string message = restore_failure(snap);
    EXPECT_NE(message.find(snap.dir.file(ex + ".gz") + "\" is too large"), std::string::npos)
        << message;
    EXPECT_FALSE(snap.dir.exists(ex + ".part"));
    // So is a plain file of that size.
    fs::remove(snap.dir.file(ex + ".gz"));
    snap.dir.write(ex, flood);
    EXPECT_NE(restore_failure(snap).find(snap.dir.file(ex) + "\" is too large"), std::string::npos);
  }
}

TEST(Continuation, ContinueFolderIsLeftByteForByteAsItWas) {
  StoredSnapshot snap;
  // Some files compressed, gamma.dat among them, and a plain copy beside
  // one of them; a stray ".gz" the restore does not need.
  for (const std::string stem : {"Ex", "u1", "u15"}) {
    const std::string name = "Continue/" + StoredSnapshot::file(stem, 0);
    snap.dir.write("copy.txt", snap.dir.read(name));
    textio::gzip_file(snap.dir.file("copy.txt"), snap.dir.file(name + ".gz"), 1);
  }
  textio::gzip_file(snap.dir.file("Continue/gamma.dat"), snap.dir.file("Continue/gamma.dat.gz"), 1);
  snap.dir.write("other.txt", "not needed\n");
  textio::gzip_file(snap.dir.file("other.txt"), snap.dir.file("Continue/other.dat.gz"), 1);
  const auto before = folder_bytes(snap.in.continue_dir);

  FieldState f;
  MediumState m;
  snap.restore(f, m);
  EXPECT_EQ(m.flags(3), (std::array<std::int32_t, 4>{1, 1, 1, 1}));
  EXPECT_EQ(folder_bytes(snap.in.continue_dir), before);

  // A late file damaged: the files read before it are not left unpacked.
  const std::string gamma = "Continue/gamma.dat.gz";
  snap.dir.write(gamma, snap.dir.read(gamma).substr(0, 12));
  const auto damaged = folder_bytes(snap.in.continue_dir);
  EXPECT_NE(restore_failure(snap).find(snap.dir.file(gamma)), std::string::npos);
  EXPECT_EQ(folder_bytes(snap.in.continue_dir), damaged);
}

// Well-formed files that are not the snapshot's own: those of the other
// level or another step, a flags file of a later snapshot, zeroed fields.
TEST(Continuation, ManifestRefusesFilesTheSnapshotDidNotWrite) {
  FieldState f;
  MediumState m;
  {
    StoredSnapshot snap;  // written by an earlier version: restored, with a warning
    const auto warnings = snap.restore(f, m);
    ASSERT_EQ(warnings.size(), 1U);
    EXPECT_NE(warnings[0].find("has no manifest"), std::string::npos) << warnings[0];
    snap.write_manifest();
    EXPECT_TRUE(snap.restore(f, m).empty());
  }
  const std::string ex0 = "Continue/" + StoredSnapshot::file("Ex", 0);
  const std::string ex1 = "Continue/" + StoredSnapshot::file("Ex", 1);
  auto refused = [](const std::function<void(StoredSnapshot&)>& change, const std::string& what) {
    StoredSnapshot snap;
    snap.write_manifest();
    change(snap);
    const std::string message = restore_failure(snap);
    EXPECT_NE(message.find(what), std::string::npos) << message;
  };
  refused(
      [&](StoredSnapshot& s) {  // the two time levels swapped
        const std::string text = s.dir.read(ex0);
        s.dir.write(ex0, s.dir.read(ex1));
        s.dir.write(ex1, text);
      },
      "is not the file the snapshot of step 2000 wrote");
  refused(
      [](StoredSnapshot& s) {
        s.dir.write("Continue/gamma.dat", "1 1 1 1 \n1 1 1 1 \n1 1 1 1 \n");
      },
      "only the latest one of a folder can be continued");
  refused(
      [](StoredSnapshot& s) {
        std::string zeros;
        for (int k = 0; k < StoredSnapshot::N; ++k) zeros += "     0.000000000000E+00\n";
        s.dir.write("Continue/" + StoredSnapshot::file("Hy", 0), zeros);
      },
      "is not the file");
  refused([](StoredSnapshot& s) { s.write_manifest(0); },  // point.txt gives level 1
          "describes step 2000 with level 0, point.txt names step 2000 with level 1");
  refused(
      [](StoredSnapshot& s) {  // another step's manifest renamed with its files
        const std::string name = "Continue/" + result_files::manifest(2000);
        const std::string text = s.dir.read(name);
        s.dir.write(name, text.substr(0, 24) + "step 000000001000" + text.substr(41));
      },
      "describes step 1000");
  refused(
      [](StoredSnapshot& s) {
        fs::rename(s.dir.file("Continue/" + result_files::manifest(2000)),
                   s.dir.file("Continue/" + result_files::manifest(1000)));
      },
      "is missing, though the folder holds manifests of other snapshots");
}

// A FIFO would block the restore for ever, a device would be read without
// end: only regular files are opened.
TEST(Continuation, OnlyRegularFilesAreRead) {
  {
    StoredSnapshot snap;
    const std::string u7 = snap.dir.file("Continue/" + StoredSnapshot::file("u7", 1));
    fs::remove(u7);
    ASSERT_EQ(::mkfifo(u7.c_str(), 0600), 0);
    EXPECT_NE(restore_failure(snap).find(u7 + "\" is not a regular file"), std::string::npos);
  }
  for (const bool fifo : {true, false}) {
    StoredSnapshot snap;
    const std::string point = snap.dir.file("Results/point.txt");
    fs::remove(point);
    if (fifo) {
      ASSERT_EQ(::mkfifo(point.c_str(), 0600), 0);
    } else {
      fs::create_symlink("/dev/zero", point);
    }
    EXPECT_NE(restore_failure(snap).find("is not a regular file"), std::string::npos);
  }
}

}  // namespace
}  // namespace mps::testing
