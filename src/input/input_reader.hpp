#pragma once
// Reading "execdata.txt": the run folders, the level, label, transition,
// time and dipole tables, the pulse, the boundaries, the run control, the
// monitor cells and the layer table, each checked where it is read.
#include <cstdint>
#include <initializer_list>
#include <string>

#include "core/run_parameters.hpp"
#include "input/structure.hpp"
#include "textio/list_directed.hpp"

namespace mps {

// The input file with its read position and the current error label: the
// label names the section a read error is reported for (" Density atom ",
// " num pulses", ...), and the position gives the line for the detail line.
class ExecdataReader {
 public:
  ExecdataReader(std::string path, std::string_view text);

  void set_label(std::string label) { label_ = std::move(label); }
  const std::string& label() const { return label_; }
  const std::string& path() const { return path_; }

  // Whole-line read.  `checked`: the end of the file is a read error;
  // otherwise it gives false and an empty text.
  bool record(std::string& text, bool checked, const char* what);
  // Free-format read of `items`.  `checked`: a failure is a read error;
  // otherwise the items keep what they had and reading goes on.
  textio::ListReadResult read(std::initializer_list<textio::ListItem> items, bool checked,
                              const char* what);
  textio::ListReadResult read(std::span<const textio::ListItem> items, bool checked,
                              const char* what);
  void back_one() { cursor_.back_one(); }
  void skip_line(bool checked, const char* what);

  [[noreturn]] void fail(const textio::ListReadResult& result, const char* what) const;

 private:
  std::string path_;
  textio::LineCursor cursor_;
  std::string label_;
};

// The text of a line before its first '#', trailing blanks removed.
std::string text_before_hash(const std::string& line);

// Everything the input file describes, checked and with every derived value
// (constants, grid, dot region, dt, monitor cells, per-cell profile).
struct RunInput {
  RunDirectories dirs;
  RunParameters params;
  StructureProfile structure;
};

// Parameter part, up to the line before the spatial line.
void read_parameter_part(ExecdataReader& reader, RunDirectories& dirs, RunParameters& params);
// Spatial line and layer table.
void read_layer_table(ExecdataReader& reader, RunParameters& params, StructureProfile& structure);
// Reads and checks the whole file; `work_dir` is the working folder ('/'-terminated).
RunInput read_execdata(const std::string& work_dir, const std::string& path, std::string_view text,
                       Model model = Model::corrected);

// Name of the input file in the working folder.
inline constexpr const char* kInputName = "execdata.txt";

// Reads and checks "execdata.txt" of the working folder `work_dir`
// ('/'-terminated) and derives everything the run needs; folder lines
// relative to the working folder are made absolute.  Writes nothing.
RunInput prepare_run(const std::string& work_dir, Model model = Model::corrected);

}  // namespace mps
