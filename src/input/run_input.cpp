// The input of a run as found in its working folder.
#include "input/input_reader.hpp"
#include "textio/text_file.hpp"

namespace mps {
namespace {

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
  } catch (const IoError& e) {
    throw ReadError("", e.what());
  }
  if (text.empty()) throw ReadError("", path + ": the file is empty");
  RunInput input = read_execdata(work_dir, path, text, model);
  input.dirs.results_dir = resolve(work_dir, input.dirs.results_dir);
  input.dirs.discarded_dir = resolve(work_dir, input.dirs.discarded_dir);
  input.dirs.continue_dir = resolve(work_dir, input.dirs.continue_dir);
  return input;
}

}  // namespace mps
