#pragma once
// Console texts of the run: banner, closing line, the two reports that end a
// run on bad input, and the pause after a report.
#include <iosfwd>
#include <string>

#include "core/run_parameters.hpp"

namespace mps {

struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

void print_banner(std::ostream& out);
void print_closing_line(std::ostream& out);
// Which equations the run solves, once the input has been accepted.
void print_model_line(std::ostream& out, Model model);
// Empty line, the message in a 100-character field, empty line,
// "Please correct parameter ".
void print_parameter_error_report(std::ostream& out, const std::string& message,
                                  bool padded = true);
// "Error in file " with the file, the line and what was read there, and
// the section's label in brackets when it has one.
void print_read_error_report(std::ostream& out, const std::string& place, const std::string& label);
// Waits for Enter on the console; the end of the input continues at once.
void wait_for_enter(Console& console);

}  // namespace mps
