// Cost of compressing the result folders.
//
//  1. The quickstart run as it is (7 blocks of 5000 steps, 620 cells):
//     total time of run_time_loop, and the time compress_dat_files takes on the
//     same files (the run's output, unpacked again), at the run's level.
//  2. Compression time and ratio at zlib levels 1 and 6 on 1 and 2 threads,
//     for the quickstart run's output and for a large snapshot folder of
//     41 columns of 10^5 cells (E23.12 values).
//
// A plain program: each timing is the best of three, wall-clock time.
//   bench_results [--quick]   (--quick: a short run and 10^4 cells)
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "input/input_reader.hpp"
#include "output/compression.hpp"
#include "simulation/time_loop.hpp"
#include "support/unpack.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Files = std::map<std::string, std::string>;  // name -> plain content

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string make_temp_dir() {
  std::string pattern = (fs::temp_directory_path() / "mps1d-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern + "/";
}

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::size_t total_size(const Files& files) {
  std::size_t n = 0;
  for (const auto& [name, text] : files) n += text.size();
  return n;
}

// The quickstart run in a fresh folder; returns its wall time and leaves
// the unpacked ".dat" files of both result folders in `output`.
double run_quickstart(bool quick, Files& output) {
  const std::string dir = make_temp_dir();
  for (const char* d : {"Results", "DiscardedResults", "Continue"}) fs::create_directory(dir + d);
  std::string text = slurp(std::string(MPS_EXAMPLES) + "/quickstart/execdata.txt");
  if (quick) {
    const std::string from = "total number of time steps 30000 -";
    text.replace(text.find(from), from.size(), "total number of time steps 5000 -");
  }
  mps::textio::write_text_file(dir + "execdata.txt", text);

  const mps::RunInput in = mps::prepare_run(dir);
  mps::RunState run = mps::make_run_state(in);
  std::ostringstream progress;
  const auto t0 = Clock::now();
  mps::run_time_loop(in, run, progress, std::cerr);
  const double elapsed = seconds_since(t0);

  for (const std::string* folder : {&in.dirs.results_dir, &in.dirs.discarded_dir}) {
    mps::testing::decompress_gz_files(*folder);
    for (const auto& e : fs::directory_iterator(*folder)) {
      const std::string name = e.path().filename().string();
      if (e.path().extension() == ".dat")
        output[(folder == &in.dirs.results_dir ? "R_" : "D_") + name] = slurp(e.path());
    }
  }
  fs::remove_all(dir);
  return elapsed;
}

// 41 snapshot columns of `cells` values: fields as waves over the whole
// line, medium values nonzero in a tenth of it, as in a layered structure
// with a thin dot region.
Files synthetic_snapshot(int cells) {
  Files files;
  for (int c = 0; c < 41; ++c) {
    std::string text;
    text.reserve(static_cast<std::size_t>(cells) * 24);
    const bool field = c < 8;
    for (int i = 0; i < cells; ++i) {
      double v = 0.0;
      if (field) {
        v = std::sin(0.0123 * i + c) * std::exp(-1e-5 * i) * 3.7e-2;
      } else if (i > cells * 45 / 100 && i < cells * 55 / 100) {
        v = 0.25 + 1e-3 * std::cos(0.071 * i + c);
      }
      mps::textio::append_E23_12(text, v);
      text += '\n';
    }
    files["col" + std::to_string(c) + "_z000000005000.dat"] = std::move(text);
  }
  return files;
}

struct Figures {
  double seconds = 0.0;
  std::size_t compressed_bytes = 0;
};

// Best of three: write the plain files, compress them, measure the result.
Figures time_compression(const Files& files, int level, int threads) {
  omp_set_num_threads(threads);
  const std::string dir = make_temp_dir();
  Figures best;
  best.seconds = 1e99;
  for (int rep = 0; rep < 3; ++rep) {
    for (const auto& [name, text] : files) mps::textio::write_text_file(dir + name, text);
    ::sync();
    const auto t0 = Clock::now();
    const mps::CompressionReport report = mps::compress_dat_files(dir, level);
    const double t = seconds_since(t0);
    if (!report.failures.empty()) throw std::runtime_error(report.failures.front());
    std::size_t bytes = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
      bytes += static_cast<std::size_t>(e.file_size());
      fs::remove(e.path());
    }
    if (t < best.seconds) best = {t, bytes};
  }
  fs::remove_all(dir);
  return best;
}

void print_row(const char* data, std::size_t files, std::size_t bytes, int level, int threads,
               const Figures& f) {
  std::printf("| %-28s | %5zu | %8.1f | %5d | %7d | %9.1f | %8.1f | %6.2f |\n", data, files,
              static_cast<double>(bytes) / 1e6, level, threads, f.seconds * 1e3,
              static_cast<double>(bytes) / 1e6 / f.seconds,
              static_cast<double>(bytes) / static_cast<double>(f.compressed_bytes));
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  const int saved_threads = omp_get_max_threads();

  Files run_output;
  const double run_seconds = run_quickstart(quick, run_output);
  omp_set_num_threads(saved_threads);
  const Figures in_run = time_compression(run_output, mps::kDefaultLevel, saved_threads);
  std::printf("Quickstart run (%s): %zu result files, %.1f MB plain\n",
              quick ? "5000 steps" : "35000 steps", run_output.size(),
              static_cast<double>(total_size(run_output)) / 1e6);
  std::printf("  whole run (run_time_loop, %d threads): %.3f s\n", saved_threads, run_seconds);
  std::printf("  compressing the same files at level %d: %.3f s = %.1f %% of the run\n\n",
              mps::kDefaultLevel, in_run.seconds, 100.0 * in_run.seconds / run_seconds);

  const int cells = quick ? 10000 : 100000;
  const Files snapshot = synthetic_snapshot(cells);
  const std::string big = "41 columns x " + std::to_string(cells) + " cells";
  std::printf("| %-28s | %5s | %8s | %5s | %7s | %9s | %8s | %6s |\n", "files", "count", "MB",
              "level", "threads", "time [ms]", "MB/s", "ratio");
  std::printf(
      "|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(30, '-').c_str(), std::string(7, '-').c_str(),
      std::string(10, '-').c_str(), std::string(7, '-').c_str(), std::string(9, '-').c_str(),
      std::string(11, '-').c_str(), std::string(10, '-').c_str(), std::string(8, '-').c_str());
  for (const Files* set : {static_cast<const Files*>(&run_output), &snapshot}) {
    for (const int level : {1, 6}) {
      for (const int threads : {1, 2}) {
        print_row(set == &run_output ? "quickstart run output" : big.c_str(), set->size(),
                  total_size(*set), level, threads, time_compression(*set, level, threads));
      }
    }
  }
  omp_set_num_threads(saved_threads);
  return 0;
}
