#include "output/setup_files.hpp"

#include "output/index_profile.hpp"
#include "output/param_echo.hpp"
#include "textio/text_file.hpp"

namespace mps {

void write_setup_files(const RunInput& input) {
  if (!textio::is_directory(input.dirs.results_dir)) {
    throw IoError(input.dirs.results_dir,
                  "the results folder \"" + input.dirs.results_dir + "\" does not exist");
  }
  write_index_profile(input.dirs, input.structure, input.structure.dz);
  write_parameter_echo(input, input.dirs.work_dir + kInputName);
}

}  // namespace mps
