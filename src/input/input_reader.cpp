// The whole input file: the parameter part and the layer table read, the
// units of the named values resolved from their codes, and the values
// derived from them (T13..T15 of the model, dot region, dt, monitor cells,
// material profile), then the checks of the whole case.
#include "input/input_reader.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/relaxation.hpp"
#include "input/checks.hpp"

namespace mps {

namespace {

// Dot layers none of whose cells lies in the dot region z1..z2 (a region
// of the first dot layer's thickness centred in the cavity): their dots
// take no part in the run.
void warn_idle_dot_layers(const StructureProfile& s, const std::string& path,
                          std::vector<std::string>& warnings) {
  std::int64_t first = 1;
  for (std::size_t j = 0; j < s.layers.size(); ++j) {
    const Layer& l = s.layers[j];
    const std::int64_t last = first + l.cells - 1;
    if (l.is_dot_layer() && l.cells > 0 && (last < s.z1 || first > s.z2)) {
      warnings.push_back(path + ": layer " + std::to_string(j + 1) +
                         " holds dots, but none of its cells " + std::to_string(first) + ".." +
                         std::to_string(last) + " lies in the dot region " + std::to_string(s.z1) +
                         ".." + std::to_string(s.z2) +
                         " centred in the cavity: its dots take no part");
    }
    first += l.cells;
  }
}

// A unit "(name)" is given by the code `name`: 0 eV / fs, 1 meV / ps, ...
void resolve_code_units(std::vector<NamedInput>& named) {
  for (NamedInput& n : named) {
    if (n.unit.size() < 3 || n.unit.front() != '(') continue;
    const std::string code_name = n.unit.substr(1, n.unit.size() - 2);
    const bool energy = n.name.ends_with(".energy");
    const bool duration = code_name == "pulse.fwhm_unit";
    for (const NamedInput& c : named) {
      if (c.name != code_name) continue;
      const std::int64_t code = std::get<std::int64_t>(c.value);
      static constexpr std::array<const char*, 3> kEnergy = {"eV", "meV", "ueV"};
      static constexpr std::array<const char*, 3> kTime = {"fs", "ps", "ns"};
      const auto& units = energy ? kEnergy : kTime;
      const std::int64_t last = duration ? 1 : 2;
      n.unit = code >= 0 && code <= last ? units[static_cast<std::size_t>(code)] : "";
    }
  }
}

}  // namespace

RunInput read_execdata(const std::string& work_dir, const std::string& path, std::string_view text,
                       Model model, std::vector<std::string>* warnings) {
  RunInput in;
  in.dirs.work_dir = work_dir;
  in.dirs.results_dir = work_dir + "Results/";
  in.dirs.discarded_dir = work_dir + "DiscardedResults/";
  in.dirs.continue_dir = work_dir + "Continue/";

  ExecdataReader reader(path, text, warnings);
  read_parameter_part(reader, in.dirs, in.params);
  read_layer_table(reader, in.params, in.structure);
  in.named = reader.take_named();
  resolve_code_units(in.named);

  RunParameters& p = in.params;
  StructureProfile& s = in.structure;
  p.model = model;
  if (model == Model::corrected) {
    // Every channel at its configured rate: T13..T15 of the rate equations.
    const std::array<double, 3> diagonal = population_times(transfer_channels(p.tau));
    std::copy(diagonal.begin(), diagonal.end(), p.T.begin() + 13);
  }
  compute_dot_region(s);
  if (warnings != nullptr) warn_idle_dot_layers(s, path, *warnings);
  p.monitor_cells.front() = 1;
  p.monitor_cells.back() = s.NZ - 1;
  s.dt = p.courant * s.dz / constants::c0;
  check_values(in);
  fill_material_profile(s, s.dz, s.dt, model);
  return in;
}

}  // namespace mps
