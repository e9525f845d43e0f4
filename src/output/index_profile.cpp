#include "output/index_profile.hpp"

#include <string>

#include "output/result_files.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace mps {

namespace {

// The line of cell i: z [um] and n.
void append_line(std::string& text, std::int32_t i, double dz, double n) {
  textio::append_F12_5(text, static_cast<double>(i) * dz * 1e6);
  text += "  ";
  textio::append_F12_5(text, n);
  text += '\n';
}

}  // namespace

void write_index_profile(const RunDirectories& dirs, const StructureProfile& s, double dz) {
  // Written in pieces: the text of a long grid is tens of megabytes.
  constexpr std::size_t kPiece = 1 << 16;
  textio::OutputFile file(dirs.results_dir + result_files::kIndexProfile,
                          textio::OutputFile::Mode::replace);
  std::string text;
  text.reserve(kPiece + 64);
  for_each_cell_material(s, [&](std::int32_t i, const CellMaterial& m) {
    append_line(text, i, dz, m.index);
    if (text.size() >= kPiece) {
      file.write(text);
      text.clear();
    }
  });
  file.write(text);
  file.close();
}

}  // namespace mps
