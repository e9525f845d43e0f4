#pragma once
// Reading "execdata.txt": the whole case from the file's text or from the
// working folder, checked and with everything the run derives from it.  The
// reader, the parameter part and the layer table have headers of their own,
// included here.
#include <string>
#include <string_view>
#include <vector>

#include "core/run_parameters.hpp"
#include "input/execdata_reader.hpp"
#include "input/layer_table.hpp"
#include "input/parameter_part.hpp"
#include "input/structure.hpp"

namespace mps {

// Everything the input file describes, checked and with every derived value
// (constants, grid, dot region, dt, monitor cells, per-cell profile).
struct RunInput {
  RunDirectories dirs;
  RunParameters params;
  StructureProfile structure;
  std::vector<NamedInput> named;      // every value of the file, in file order
  std::vector<std::string> warnings;  // about the file, as the console showed them
};

// Reads and checks the whole file; `work_dir` is the working folder
// ('/'-terminated).  Warnings about the file are added to `warnings` when it
// is given, as they are found, so they are kept when the file is rejected.
RunInput read_execdata(const std::string& work_dir, const std::string& path, std::string_view text,
                       Model model = Model::corrected,
                       std::vector<std::string>* warnings = nullptr);

// Name of the input file in the working folder.
inline constexpr const char* kInputName = "execdata.txt";

// Reads and checks "execdata.txt" of the working folder `work_dir`
// ('/'-terminated) and derives everything the run needs; folder lines
// relative to the working folder are made absolute.  Writes nothing;
// warnings as for read_execdata.
RunInput prepare_run(const std::string& work_dir, Model model = Model::corrected,
                     std::vector<std::string>* warnings = nullptr);
// The same without looking at the three folders.
RunInput read_case(const std::string& work_dir, Model model = Model::corrected,
                   std::vector<std::string>* warnings = nullptr);
// The folders must exist and be folders, the results and discarded-results
// folders writable and distinct (IoError, ParameterError).
void check_run_folders(const RunDirectories& dirs);

}  // namespace mps
