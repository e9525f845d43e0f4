#include "input/structure.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/errors.hpp"

namespace mps {

double graded_index(const Layer& layer, std::int32_t k) {
  const double nA = layer.index;
  const double nB = layer.index_end;
  return static_cast<double>(k) * (nB - nA) / static_cast<double>(layer.cells) + nA;
}

void compute_dot_region(StructureProfile& s) {
  const std::int64_t span = std::llabs(static_cast<std::int64_t>(s.cavity_right) - s.cavity_left);
  const std::int64_t d = span - s.active_cells;
  const std::int64_t h = d / 2;  // truncated toward zero, as d may be negative
  s.z1 = static_cast<std::int32_t>(s.cavity_left + h + 1);
  s.z2 = static_cast<std::int32_t>(s.cavity_right - h);
}

void fill_material_profile(StructureProfile& s, double dz, double dt, Model model) {
  s.dz = dz;
  s.dt = dt;
  s.model = model;
}

CellMaterial cell_material(const StructureProfile& s, const Layer& layer, std::int32_t k) {
  CellMaterial m;
  m.layer = &layer;
  m.index = layer.graded ? graded_index(layer, k) : layer.index;
  // The field coefficients grade n(i) cell by cell, and cH(i) is
  // dt/(mu dz) with mu = mu0 (n(i) / (c / v(i)))^2: a cell is non-magnetic
  // only when v(i) = c / n(i).  The legacy model keeps the left-end
  // velocity for the whole layer, a magnetic layer of mu = mu0 (nA/n(i))^2.
  const bool own_index = layer.graded && s.model == Model::corrected;
  m.phase_velocity = constants::c0 / (own_index ? m.index : layer.index);
  m.local_courant = m.phase_velocity * s.dt / s.dz;
  return m;
}

CellMaterial cell_material(const StructureProfile& s, std::int32_t i) {
  std::int64_t first = 1;
  CellMaterial found;
  for (const Layer& layer : s.layers) {
    const std::int64_t last = std::min<std::int64_t>(first + layer.cells - 1, s.NZ);
    if (first <= i && i <= last) {
      found = cell_material(s, layer, static_cast<std::int32_t>(i - first + 1));
    }
    first += layer.cells;
  }
  return found;
}

namespace {

// The linear grading can land a few ulps beyond an end value through
// rounding alone (1.0 to 3.59 over 13 cells gives 3.5900000000000003 at the
// last cell); only a real excursion is an error.  The rounding scales with
// the larger end value, not with the bound tested: 5.15 down to 1.01 over 31
// cells ends at 1.0099999999999989, five ulps of 1.01 below it.
bool beyond(double value, double bound, double scale, bool above) {
  const double slack = 4.0 * (scale - std::nextafter(scale, 0.0));  // finite up to DBL_MAX
  return above ? value > bound + slack : value < bound - slack;
}

void check_graded_value(const Layer& layer, double n) {
  const double nA = layer.index;
  const double nB = layer.index_end;
  const double scale = std::max(std::fabs(nA), std::fabs(nB));
  if (nB > nA) {
    if (beyond(n, nB, scale, true) || beyond(n, nA, scale, false)) {
      throw ParameterError("1 ERROR -> I1, N_ref, N_vals, N_vals2,I-Jnop,len_vals");
    }
  } else if (beyond(n, nA, scale, true) || beyond(n, nB, scale, false)) {
    throw ParameterError("2 ERROR -> I1, N_ref, N_vals, N_vals2,I-Jnop,len_vals");
  }
}

}  // namespace

std::vector<double> refractive_indices(const StructureProfile& s) {
  std::vector<double> n(static_cast<std::size_t>(std::max(s.NZ, 0)) + 1, 0.0);
  for_each_cell_material(
      s, [&n](std::int32_t i, const CellMaterial& m) { n[static_cast<std::size_t>(i)] = m.index; });
  return n;
}

void check_graded_layers(const StructureProfile& s) {
  std::int64_t first = 1;
  for (const Layer& layer : s.layers) {
    const std::int64_t last = std::min<std::int64_t>(first + layer.cells - 1, s.NZ);
    for (std::int64_t i = first; layer.graded && i <= last; ++i) {
      check_graded_value(layer, graded_index(layer, static_cast<std::int32_t>(i - first + 1)));
    }
    first += layer.cells;
  }
}

}  // namespace mps
