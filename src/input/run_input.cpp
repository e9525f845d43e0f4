// The input of a run as found in its working folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "input/input_reader.hpp"
#include "textio/text_file.hpp"

namespace mps {
namespace {

// The input file is a few kilobytes; anything near this is not one.
constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;

// Folder lines of the input may be relative to the working folder.
std::string resolve(const std::string& work_dir, const std::string& folder) {
  return folder.front() == '/' ? folder : work_dir + folder;
}

// Whether a file can be made in `folder`: a probe file is created and
// removed (access() would answer for the permission bits alone, and root
// passes them even where no file can be made, as in /proc).
// The probe's name is fresh at each try (".mps1d-probe.XXXXXXXX.part"):
// a file left or planted under any name cannot make the folder look
// read-only.
bool can_create_file_in(const std::string& folder) {
  std::string probe;
  int fd = -1;
  try {
    fd = textio::create_temporary_fd(folder + "/mps1d-probe", probe);
  } catch (const IoError&) {
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

// A folder of the run: it must exist and be a folder, and the two the run
// writes into must be writable.  Returns its identity (device, inode).
std::pair<dev_t, ino_t> check_folder(const std::string& folder, const char* role, bool written) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw IoError(folder, std::string("the ") + role + " \"" + folder + "\" does not exist");
  }
  if (!S_ISDIR(st.st_mode)) {
    throw IoError(folder, std::string("the ") + role + " \"" + folder + "\" is not a folder");
  }
  if (written && !can_create_file_in(path)) {
    throw IoError(folder, std::string("the ") + role + " \"" + folder + "\" is not writable");
  }
  return {st.st_dev, st.st_ino};
}

}  // namespace

// All three folders, before anything is written.  The statistics would
// overwrite the block traces of the same names in one folder.
void check_run_folders(const RunDirectories& d) {
  const auto results = check_folder(d.results_dir, "results folder", true);
  const auto discarded = check_folder(d.discarded_dir, "discarded-results folder", true);
  check_folder(d.continue_dir, "continuation folder", false);
  if (results == discarded) {
    throw ParameterError("The results folder and the discarded-results folder must differ: " +
                         d.results_dir + " and " + d.discarded_dir);
  }
}

RunInput read_case(const std::string& work_dir, Model model, std::vector<std::string>* warnings) {
  const std::string path = work_dir + kInputName;
  std::string text;
  try {
    text = textio::read_text_file(path, kMaxInputBytes);
  } catch (const IoError& e) {
    throw ReadError(path, "", e.what());
  }
  if (text.empty()) throw ReadError(path + ": empty", "", path + ": the file is empty");
  RunInput input = read_execdata(work_dir, path, text, model, warnings);
  input.dirs.results_dir = resolve(work_dir, input.dirs.results_dir);
  input.dirs.discarded_dir = resolve(work_dir, input.dirs.discarded_dir);
  input.dirs.continue_dir = resolve(work_dir, input.dirs.continue_dir);
  return input;
}

RunInput prepare_run(const std::string& work_dir, Model model, std::vector<std::string>* warnings) {
  RunInput input = read_case(work_dir, model, warnings);
  check_run_folders(input.dirs);
  return input;
}

}  // namespace mps
