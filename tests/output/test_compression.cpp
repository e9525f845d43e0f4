// In-place compression of result folders: the streams must be standard gzip
// (checked with the system's gzip), only ".dat" files directly inside the
// folder are taken, older copies are replaced, and a file that cannot be
// replaced is reported while the original stays.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "output/compression.hpp"
#include "support/scratch_dir.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;

// Decompressed by the system's tool.
std::string system_gunzip(const std::string& path) {
  std::FILE* pipe = ::popen(("gzip -d -c '" + path + "' 2>/dev/null").c_str(), "r");
  std::string text;
  char buffer[1 << 14];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0) << path;
  return text;
}

// A snapshot-like column, larger than the writer's buffers.
std::string column(int lines, double seed) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    textio::append_E23_12(text, std::sin(seed * i) * 1e-3);
    text += '\n';
  }
  return text;
}

struct ThreadCount {
  int saved = omp_get_max_threads();
  ~ThreadCount() { omp_set_num_threads(saved); }
};

TEST(Compression, DatFilesBecomeStandardGzipAndNothingElseIsTouched) {
  ThreadCount guard;
  omp_set_num_threads(2);
  ScratchDir dir;
  std::map<std::string, std::string> dat = {
      {"big.dat", column(20000, 0.37)}, {"empty.dat", ""}, {"gamma.dat", "1 0 1 0 \n"}};
  for (int n = 0; n < 8; ++n) dat["u" + std::to_string(n) + "_z.dat"] = column(500, n + 1.0);
  for (const auto& [name, text] : dat) dir.write(name, text);
  dir.write("old.txt", "0 0 0 0 \n");  // an older snapshot's flags, compressed
  textio::gzip_file(dir.file("old.txt"), dir.file("gamma.dat.gz"), 6);
  const std::map<std::string, std::string> plain = {
      {"point.txt", "000000000001  00000001  00000000\n"},
      {"param.txt", "echo\n"},
      {"n_z.dat.txt", "x\n"}};
  for (const auto& [name, text] : plain) dir.write(name, text);
  dir.make_dir("sub.dat");  // a folder, not a file
  dir.write("sub.dat/inner.dat", "inside\n");

  const CompressionReport report = compress_dat_files(dir.path());
  EXPECT_TRUE(report.failures.empty());
  std::vector<std::string> expected_paths;
  std::set<std::string> expected_names = {"sub.dat"};
  for (const auto& [name, text] : dat) {
    expected_paths.push_back(dir.file(name));
    expected_names.insert(name + ".gz");
    EXPECT_EQ(system_gunzip(dir.file(name + ".gz")), text) << name;
  }
  for (const auto& [name, text] : plain) {
    expected_names.insert(name);
    EXPECT_EQ(dir.read(name), text) << name;
  }
  EXPECT_EQ(report.compressed, expected_paths);
  EXPECT_EQ(files_in(dir.path()), expected_names);  // no plain or temporary file left
  EXPECT_EQ(dir.read("sub.dat/inner.dat"), "inside\n");

  // Nothing new: nothing done, the compressed files stay as they are.
  const std::string before = dir.read("big.dat.gz");
  EXPECT_TRUE(compress_dat_files(dir.path()).compressed.empty());
  EXPECT_EQ(dir.read("big.dat.gz"), before);
}

TEST(Compression, AFileThatCannotBeReplacedStaysPlainAndIsReported) {
  ScratchDir dir;
  dir.write("x.dat", "kept\n");
  dir.make_dir("x.dat.gz");  // the rename into place fails
  dir.write("y.dat", "packed\n");
  const CompressionReport report = compress_dat_files(dir.path());
  EXPECT_EQ(report.compressed, std::vector<std::string>{dir.file("y.dat")});
  ASSERT_EQ(report.failures.size(), 1u);
  EXPECT_NE(report.failures[0].find(dir.file("x.dat")), std::string::npos) << report.failures[0];
  EXPECT_EQ(dir.read("x.dat"), "kept\n");
  EXPECT_EQ(files_in(dir.path()), (std::set<std::string>{"x.dat", "x.dat.gz", "y.dat.gz"}));
  EXPECT_THROW(textio::gzip_file(dir.file("missing.dat"), dir.file("missing.dat.gz"), 1), IoError);
}

}  // namespace
}  // namespace mps::testing
