#include "app/program.hpp"

#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <new>
#include <vector>

#include "core/errors.hpp"
#include "core/floating_point.hpp"
#include "output/param_echo.hpp"
#include "simulation/time_loop.hpp"
#include "textio/text_file.hpp"

namespace mps {
namespace {

constexpr const char* kInputName = "execdata.txt";

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

// Folder lines of the input may be relative to the working folder.
std::string resolve(const std::string& work_dir, const std::string& folder) {
  return folder.front() == '/' ? folder : work_dir + folder;
}

}  // namespace

RunInput prepare_run(const std::string& work_dir, Model model) {
  const std::string path = work_dir + kInputName;
  std::string text;
  try {
    text = textio::read_text_file(path);
  } catch (const textio::IoError& e) {
    throw ReadError("", e.what());
  }
  if (text.empty()) throw ReadError("", path + ": the file is empty");
  RunInput input = read_execdata(work_dir, path, text, model);
  input.dirs.results_dir = resolve(work_dir, input.dirs.results_dir);
  input.dirs.discarded_dir = resolve(work_dir, input.dirs.discarded_dir);
  input.dirs.continue_dir = resolve(work_dir, input.dirs.continue_dir);
  return input;
}

void write_setup_files(const RunInput& input) {
  if (!textio::is_directory(input.dirs.results_dir)) {
    throw textio::IoError(input.dirs.results_dir,
                          "the results folder \"" + input.dirs.results_dir + "\" does not exist");
  }
  RESULTEPS(input.dirs, input.structure, input.params.dz);
  write_parameter_echo(input, input.dirs.work_dir + kInputName);
}

void READGEOM(const std::string& work_dir, Console& console, const RunOptions& options) {
  const RunInput input = prepare_run(work_dir, options.model);
  RunArrays arrays;
  allocate_run_arrays(input, arrays);
  write_setup_files(input);
  print_model_line(console.out, options.model);
  VCSELSUB(input, arrays, console.out, console.err);
}

int run_program(Console& console, const RunOptions& options, const std::string& work_dir) {
  enable_flush_to_zero_all_threads();
  print_banner(console.out);
  try {
    READGEOM(with_separator(work_dir.empty() ? current_folder() : work_dir), console, options);
    print_closing_line(console.out);
    return kExitOk;
  } catch (const ParameterError& e) {
    print_parameter_error_report(console.out, e.what(), e.padded());
    if (e.pause()) wait_for_enter(console);
    return kExitInputError;
  } catch (const ReadError& e) {
    print_read_error_report(console.out, e.label());
    console.err << "mps1d: " << e.what() << '\n';
    wait_for_enter(console);
    return kExitInputError;
  } catch (const FatalMessage& e) {
    console.out << ' ' << e.what() << '\n';
    return kExitInputError;
  } catch (const textio::IoError& e) {
    console.out.flush();
    console.err << "mps1d: " << e.what() << '\n';
    return kExitIoError;
  } catch (const std::bad_alloc&) {
    console.out.flush();
    console.err << "mps1d: out of memory while allocating the run's arrays\n";
    return kExitInternal;
  }
}

}  // namespace mps
