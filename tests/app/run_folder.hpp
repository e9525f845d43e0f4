#pragma once
// A case folder as a user lays it out: execdata.txt and the three result
// folders; the program run in it with no arguments but `args`.
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch_dir.hpp"

namespace mps::testing {

inline const std::string kBanner =
    "     \n"
    "          SOLUTION OF MAXWELL- PSEUDOSPIN EQUATIONS IN 1D+Time\n"
    "             \n"
    "                   REVISION 5 7.11.2020\n"
    "     \n"
    "                        Enjoy :-) \n"
    "  \n";

// A report line as the console pads it: 100 characters.
inline std::string field100(const std::string& text) {
  return text + std::string(100 - text.size(), ' ');
}

// `text` with the 1-based lines of `edits` replaced.
inline std::string with_lines(std::string text,
                              const std::vector<std::pair<int, std::string>>& edits) {
  for (const auto& [line, replacement] : edits) text = replace_line(text, line, replacement);
  return text;
}

struct RunFolder {
  static constexpr const char* kFolders[] = {"Results", "DiscardedResults", "Continue"};
  ScratchDir dir;
  explicit RunFolder(const std::string& input) {
    for (const char* d : kFolders) dir.make_dir(d);
    dir.write("execdata.txt", input);
  }
  ProgramResult run(const std::vector<std::string>& args = {}) const {
    return run_in(MPS_PROGRAM, dir.path(), args);
  }
  // Every file of the three folders, as "Folder/name".
  std::set<std::string> written() const {
    std::set<std::string> all;
    for (const char* d : kFolders) {
      for (const std::string& name : files_in(dir.file(d))) all.insert(std::string(d) + "/" + name);
    }
    return all;
  }
};

}  // namespace mps::testing
