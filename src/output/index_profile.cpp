#include "output/index_profile.hpp"

#include <algorithm>

#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace mps {

std::string index_profile_text(const StructureProfile& s, double dz) {
  const std::vector<double> n = refractive_indices(s);
  std::string text;
  text.reserve(static_cast<std::size_t>(std::max(s.NZ, 0)) * 27);
  for (std::int32_t i = 1; i <= s.NZ; ++i) {
    textio::append_F12_5(text, static_cast<double>(i) * dz * 1e6);
    text += "  ";
    textio::append_F12_5(text, n[static_cast<std::size_t>(i)]);
    text += '\n';
  }
  return text;
}

void write_index_profile(const RunDirectories& dirs, const StructureProfile& s, double dz) {
  textio::write_text_file(dirs.results_dir + "n_z.dat", index_profile_text(s, dz));
}

}  // namespace mps
