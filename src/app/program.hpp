#pragma once
// The program around a run: floating-point set-up, banner, the run, the
// closing line, and the one place where errors become console reports and
// exit statuses.
#include <iosfwd>
#include <string>

#include "app/console.hpp"
#include "input/input_reader.hpp"

namespace mps {

// Choices made on the command line.
struct RunOptions {
  Model model = Model::corrected;            // --legacy-model selects Model::legacy
  SourceKind source = SourceKind::hard;      // --source=transparent
  OutputFormat output = OutputFormat::text;  // --output=hdf5
  bool both_transitions = false;             // --both-transitions
  Ensemble ensemble;                         // --ensemble=K,FWHM
  MagneticField magnetic;                    // --magnetic-field=BX,BY,BZ, --g-factors=...
  std::int64_t trace_every = 1;              // --trace-every=N
  std::string version = "unknown";           // of the build, for "summary.json"
  bool check = false;                        // --check: validate and outline the run, write nothing
  bool json = false;                         // --check --json: the outline and the inputs as JSON
};

// One run in `work_dir` ('/'-terminated): reads and checks the input,
// writes the set-up files, names the model and runs the time loop.  Errors
// propagate as typed exceptions.
void run_simulation(const std::string& work_dir, Console& console, const RunOptions& options);

// --check: reads and checks the case as run_simulation does (its memory
// too) and prints the outline of the run; writes nothing.
void check_case(const std::string& work_dir, Console& console, const RunOptions& options);

// The whole program: floating-point set-up, banner, run_simulation, closing line
// (with --check: check_case alone);
// every error becomes its console report and a non-zero exit status.
// `work_dir` empty means: ask the system for the working folder.
int run_program(Console& console, const RunOptions& options = {}, const std::string& work_dir = {});

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInputError = 1;  // rejected or unreadable input
inline constexpr int kExitIoError = 2;     // a file that cannot be written or read
inline constexpr int kExitInternal = 3;    // out of memory, or a run too large for it
inline constexpr int kExitNonFinite = 4;   // a NaN or infinity appeared during the run
inline constexpr int kExitUsage = 64;      // an unknown command-line argument

}  // namespace mps
