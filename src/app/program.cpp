#include "app/program.hpp"

#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/check.hpp"
#include "core/errors.hpp"
#include "core/floating_point.hpp"
#include "input/checks.hpp"
#include "input/pulse_warnings.hpp"
#include "output/folder_lock.hpp"
#include "output/setup_files.hpp"
#include "output/traces.hpp"
#include "simulation/time_loop.hpp"

namespace mps {
namespace {

std::string current_folder() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) throw ParameterError("getcwd: error");
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

std::string with_separator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// Reads the input and writes the warnings about it to standard error, also
// when the input is then rejected.
RunInput read_input(const std::string& work_dir, Model model, std::ostream& err, bool folders) {
  std::vector<std::string> warnings;
  auto report = [&] {
    for (const std::string& w : warnings) err << "mps1d: warning: " << w << '\n';
  };
  try {
    RunInput input =
        folders ? prepare_run(work_dir, model, &warnings) : read_case(work_dir, model, &warnings);
    report();
    input.warnings = warnings;
    return input;
  } catch (...) {
    report();
    throw;
  }
}

// The case of `work_dir` read and checked for a run with these options
// (its three folders as well when `folders`).
RunInput checked_input(const std::string& work_dir, Console& console, const RunOptions& options,
                       bool folders = true) {
  RunInput input = read_input(work_dir, options.model, console.err, folders);
  input.params.source = options.source;
  input.params.output = options.output;
  input.params.both_transitions = options.both_transitions;
  input.params.ensemble = options.ensemble;
  input.params.magnetic = options.magnetic;
  input.params.trace_every = options.trace_every;
  check_source(input);
  check_trace_every(input);
  check_memory(input);
  // The pulses are judged with the command line's choices (3<->4 driven).
  for (std::string& w : pulse_warnings(input)) {
    console.err << "mps1d: warning: " << w << '\n';
    input.warnings.push_back(std::move(w));
  }
  return input;
}

}  // namespace

void check_case(const std::string& work_dir, Console& console, const RunOptions& options) {
  if (!options.json) {
    const RunInput input = checked_input(work_dir, console, options);
    print_outline(console.out, input, outline_run(input));
    return;
  }
  // The inputs are printed also when a folder is missing (a case being
  // prepared); the folder's report follows, and the exit status says it.
  const RunInput input = checked_input(work_dir, console, options, false);
  std::string problem;
  try {
    check_run_folders(input.dirs);
  } catch (const std::exception& e) {
    problem = e.what();
  }
  print_check_json(console.out, input, outline_run(input), problem);
  if (!problem.empty()) check_run_folders(input.dirs);
}

void run_simulation(const std::string& work_dir, Console& console, const RunOptions& options) {
  RunInput input = checked_input(work_dir, console, options);
  // Held until the run ends: a second run in these folders is refused.
  const FolderLock results_lock(input.dirs.results_dir, "the results folder");
  const FolderLock statistics_lock(input.dirs.discarded_dir, "the discarded-results folder");
  RunState run = make_run_state(input);
  run.version = options.version;
  // A continued run reads its whole stored state before the first file is
  // written: a missing step or a damaged snapshot leaves every folder as
  // it was.
  if (input.params.J_final != 0) {
    for (std::string& w : restore_run(input, run)) {
      console.err << "mps1d: warning: " << w << '\n';
      input.warnings.push_back(std::move(w));
    }
  }
  write_setup_files(input);
  print_model_line(console.out, options.model);
  if (options.both_transitions) {
    console.out << " Light drives 1<->2 (sigma+) and 3<->4 (sigma-)\n";
  }
  if (options.magnetic.on) {
    const MagneticField& m = options.magnetic;
    console.out << " Magnetic field (" << m.B[0] << ", " << m.B[1] << ", " << m.B[2]
                << ") T, g-factors electron " << m.ge_inplane << " (in plane), " << m.ge_z
                << " (z), hole " << m.gh_inplane << ", " << m.gh_z << '\n';
  }
  if (options.ensemble.broadened()) {
    console.out << " Dots broadened: " << options.ensemble.classes
                << " spectral classes, Gaussian of " << options.ensemble.fwhm_meV << " meV FWHM\n";
  }
  run_time_loop(input, run, console.out, console.err);
}

int run_program(Console& console, const RunOptions& options, const std::string& work_dir) {
  enable_flush_to_zero_all_threads();
  if (!options.check) print_banner(console.out);
  try {
    const std::string folder = with_separator(work_dir.empty() ? current_folder() : work_dir);
    if (options.check) {
      check_case(folder, console, options);
      return kExitOk;
    }
    run_simulation(folder, console, options);
    print_closing_line(console.out);
    return kExitOk;
  } catch (const ParameterError& e) {
    print_parameter_error_report(console.out, e.what(), e.padded());
    if (e.pause()) wait_for_enter(console);
    return kExitInputError;
  } catch (const ReadError& e) {
    print_read_error_report(console.out, e.place(), e.label());
    console.err << "mps1d: " << e.what() << '\n';
    wait_for_enter(console);
    return kExitInputError;
  } catch (const FatalMessage& e) {
    console.out << ' ' << e.what() << '\n';
    return kExitInputError;
  } catch (const IoError& e) {
    console.out.flush();
    console.err << "mps1d: " << e.what() << '\n';
    return kExitIoError;
  } catch (const NonFiniteError& e) {
    console.out.flush();
    console.err << "mps1d: " << e.what() << '\n';
    return kExitNonFinite;
  } catch (const ResourceError& e) {
    console.out.flush();
    console.err << "mps1d: " << e.what() << '\n';
    return kExitInternal;
  } catch (const std::bad_alloc&) {
    console.out.flush();
    console.err << "mps1d: out of memory while allocating the run's arrays\n";
    return kExitInternal;
  }
}

}  // namespace mps
