// Golden outputs: short runs of both examples and of a graded layer with
// dots, in both models, against result files committed under
// tests/data/golden/.  Every number must agree to 1e-12 of the largest
// magnitude of its file; every other word exactly; and the run must write
// the same set of files.  The committed files are those of the run's last
// snapshot and last block and the unnumbered ones ("n_z.dat", "param.txt",
// "point.txt", "gamma.dat", "Ex_max.dat"); the restart and thread-count
// tests guard the rest.
//
// To accept new outputs on purpose: MPS_UPDATE_GOLDEN=1 ctest -R Golden,
// then review the change of tests/data/golden/ before committing it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "simulation/run_folder.hpp"
#include "textio/fortran_format.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;

const std::string kGolden = std::string(MPS_TEST_DATA) + "/golden/";
const char* const kFolders[] = {"Results", "DiscardedResults"};

std::vector<std::string> case_arguments(const std::string& name) {
  std::vector<std::string> args;
  std::istringstream words(read_any(kGolden + name + "/args"));
  for (std::string w; words >> w;) args.push_back(w);
  return args;
}

// Text of a result file, decompressed; "param.txt" without its first line,
// which holds the path of the input file.
std::string content(const std::string& path) {
  std::string text = read_any(path);
  if (path.ends_with("param.txt")) text.erase(0, text.find('\n') + 1);
  return text;
}

// Files of the last snapshot and block, and the unnumbered ones; not
// summary.json (wall time, threads) nor the manifests (checksums of the
// last digits, checked by the restore tests).
// True when the name holds a 12-digit step label.
bool has_step_label(const std::string& file) {
  int run = 0;
  for (const char c : file) {
    run = std::isdigit(static_cast<unsigned char>(c)) != 0 ? run + 1 : 0;
    if (run == 12) return true;
  }
  return false;
}

bool kept(const std::string& file, const std::string& label, const std::string& before) {
  if (file == "summary.json" || file.starts_with("manifest_")) return false;
  return file.find(label) != std::string::npos || file.find(before) != std::string::npos ||
         !has_step_label(file);
}

std::string listing(const std::set<std::string>& names) {
  std::string text;
  for (const auto& n : names) text += n + '\n';
  return text;
}

void update_golden(const std::string& name, const ScratchDir& run) {
  // The last snapshot's label begins the last line of point.txt.
  const std::string label = split_lines(run.read("Results/point.txt")).back().substr(0, 12);
  const std::string before = textio::step_label(std::stoll(label) - 1);
  for (const char* folder : kFolders) {
    const std::string target = kGolden + name + "/" + folder + "/";
    fs::remove_all(target);
    fs::create_directories(target);
    const auto names = files_in(run.file(folder));
    std::ofstream(kGolden + name + "/" + folder + ".list") << listing(names);
    for (const auto& file : names) {
      if (kept(file, label, before))
        fs::copy_file(run.file(std::string(folder) + "/" + file), target + file);
    }
  }
}

class GoldenOutput : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenOutput, RunReproducesTheCommittedFiles) {
  const std::string name = GetParam();
  ScratchDir run;
  make_run_folders(run);
  run.write("execdata.txt", read_any(kGolden + name + "/execdata.txt"));
  const ProgramResult r = run_in(MPS_PROGRAM, run.path(), case_arguments(name));
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  if (std::getenv("MPS_UPDATE_GOLDEN") != nullptr) {
    update_golden(name, run);
    GTEST_SKIP() << "golden files of " << name << " rewritten";
  }
  for (const char* folder : kFolders) {
    EXPECT_EQ(listing(files_in(run.file(folder))),
              read_any(kGolden + name + "/" + folder + ".list"))
        << folder;
    const auto expected = files_in(kGolden + name + "/" + folder);
    EXPECT_GT(expected.size(), 5u);
    for (const auto& file : expected) {
      const std::string path = std::string(folder) + "/" + file;
      // 1e-12: the files hold 12 significant digits; a change of the order
      // of operations may move the last one.
      const NumberDifference d = number_difference(content(kGolden + name + "/" + path),
                                                   content(run.file(path)), name + "/" + path);
      EXPECT_LE(d.diff, 1e-12 * d.scale) << path << ": largest magnitude " << d.scale;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenOutput,
                         ::testing::Values("quickstart", "microcavity", "graded_dots",
                                           "graded_dots_legacy"));

}  // namespace
}  // namespace mps::testing
