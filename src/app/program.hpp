#pragma once
// The run sequence: working folder, input file, checks, grid and material
// profile, the set-up files "n_z.dat" and "param.txt", then the time loop.
#include <iosfwd>
#include <string>

#include "app/console.hpp"
#include "input/input_reader.hpp"

namespace mps {

// Choices made on the command line.
struct RunOptions {
  Model model = Model::corrected;  // --legacy-model selects Model::legacy
};

// Reads and checks "execdata.txt" of the working folder `work_dir`
// ('/'-terminated) and derives everything the run needs.  Writes nothing.
RunInput prepare_run(const std::string& work_dir, Model model = Model::corrected);

// Writes "n_z.dat" and "param.txt" into the results folder.
void write_setup_files(const RunInput& input);

// The driver of one run in `work_dir`: reads the input, writes the set-up
// files and runs the time loop.  Errors propagate as typed exceptions.
void READGEOM(const std::string& work_dir, Console& console, const RunOptions& options);

// The whole program: floating-point set-up, banner, READGEOM, closing line;
// every error becomes its console report and a non-zero exit status.
// `work_dir` empty means: ask the system for the working folder.
int run_program(Console& console, const RunOptions& options = {}, const std::string& work_dir = {});

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInputError = 1;  // rejected or unreadable input
inline constexpr int kExitIoError = 2;     // a file that cannot be written or read
inline constexpr int kExitInternal = 3;    // out of memory and other failures
inline constexpr int kExitUsage = 64;      // an unknown command-line argument

}  // namespace mps
