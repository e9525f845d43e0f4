#include "app/console.hpp"

#include <unistd.h>

#include <iostream>
#include <ostream>

#include "textio/fortran_format.hpp"

namespace mps {
namespace {

// Console lines are free-format records: one leading blank, then the text.
void line(std::ostream& out, const std::string& text) { out << ' ' << text << '\n'; }

std::string field100(const std::string& text) {
  std::string s;
  textio::append_A(s, text, 100);
  return s;
}

}  // namespace

void print_banner(std::ostream& out) {
  line(out, "    ");
  line(out, "         SOLUTION OF MAXWELL- PSEUDOSPIN EQUATIONS IN 1D+Time");
  line(out, "            ");
  line(out, "                  REVISION 5 7.11.2020");
  line(out, "    ");
  line(out, "                       Enjoy :-) ");
  line(out, " ");
  out.flush();
}

void print_closing_line(std::ostream& out) {
  line(out, "   END OF PROGRAM ! ");
  out.flush();
}

void print_model_line(std::ostream& out, Model model) {
  if (model == Model::legacy) {
    line(out,
         "Model: legacy (--legacy-model), polarisation current, graded layers and "
         "relaxation rates as in earlier versions");
  } else {
    line(out,
         "Model: energy-conserving light-dot coupling, non-magnetic graded layers, "
         "relaxation at the configured times");
  }
  out.flush();
}

void print_parameter_error_report(std::ostream& out, const std::string& message, bool padded) {
  out << '\n';
  line(out, padded ? field100(message) : message);
  out << '\n';
  line(out, "Please correct parameter ");
  out.flush();
}

void print_read_error_report(std::ostream& out, const std::string& place,
                             const std::string& label) {
  std::string text = "Error in file ";
  text += place;
  const std::size_t first = label.find_first_not_of(' ');
  if (first != std::string::npos) {
    text += " (";
    text += label.substr(first, label.find_last_not_of(' ') - first + 1);
    text += ')';
  }
  line(out, text);
  out.flush();
}

void wait_for_enter(Console& console) {
  if (&console.in == &std::cin && ::isatty(STDIN_FILENO) != 0) {
    console.err << "(press Enter to finish)" << std::endl;
  }
  std::string ignored;
  std::getline(console.in, ignored);
}

}  // namespace mps
