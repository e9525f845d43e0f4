#pragma once
// "param.txt": the run's parameters, grid values and derived constants, one
// value and its comment per line, written into every results folder.
#include <string>

#include "input/input_reader.hpp"

namespace mps {

// The 54 lines of the echo.  `input_path` is the full path of the input file.
std::string parameter_echo(const RunInput& input, const std::string& input_path);

void write_parameter_echo(const RunInput& input, const std::string& input_path);

}  // namespace mps
