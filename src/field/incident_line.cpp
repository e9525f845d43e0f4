#include "field/incident_line.hpp"

#include <cmath>

#include "field/boundaries.hpp"

namespace mps {

IncidentLine make_incident_line(const PulseSource& source, const FieldCoefficients& coeffs,
                                double dt) {
  IncidentLine line;
  line.toward_plus_z = source.pulse.origin != 0;
  // The scattered-field side needs cells of its own before the absorbing
  // end, whose update reads the cell next to it: a pulse from the right end
  // enters three cells inside it.
  const auto N = static_cast<std::int32_t>(coeffs.cE.size()) - 1;
  line.plane = line.toward_plus_z ? source.injection_cell : N - 3;
  const auto o = static_cast<std::size_t>(line.plane);
  line.cE = coeffs.cE[o];
  line.cH = coeffs.cH[o];
  line.dt = dt;
  // Courant number of the line's cells: c dt / (n dz) = sqrt(dt cE cH).
  const double s = std::sqrt(dt * line.cE * line.cH);
  line.k_end = absorbing_coefficient(s, 0.0);
  const auto n = static_cast<std::size_t>(IncidentLine::kCells) + 1;
  for (auto* v : {&line.ex, &line.ey, &line.hx, &line.hy, &line.ex_before, &line.ey_before}) {
    v->assign(n, 0.0);
  }
  return line;
}

HCorrection plane_correction(const IncidentLine& line, const FieldCoefficients& k) {
  const auto o = static_cast<std::size_t>(line.plane);
  const auto at = static_cast<std::size_t>(IncidentLine::kLag);
  // h - d is h + (-d) exactly, so every correction is an addition.
  if (line.toward_plus_z) {
    return {line.plane - 1, -(k.cH[o - 1] * line.ey[at]), k.cH[o - 1] * line.ex[at]};
  }
  return {line.plane, k.cH[o] * line.ey[at], -(k.cH[o] * line.ex[at])};
}

namespace {

// One leapfrog step of the line: H from E, E from H, the pulse imposed at
// cell 0 (the hard source, which launches one way from the line's end),
// the far end open.
void advance_line(IncidentLine& l, const PulseSource& source, std::span<const PulseSource> further,
                  std::int64_t J) {
  const std::size_t last = l.ex.size() - 1;
  l.ex_before = l.ex;
  l.ey_before = l.ey;
  for (std::size_t i = 0; i < last; ++i) {
    l.hx[i] = l.hx[i] + l.cH * (l.ey[i + 1] - l.ey[i]);
    l.hy[i] = l.hy[i] - l.cH * (l.ex[i + 1] - l.ex[i]);
  }
  for (std::size_t i = 1; i < last; ++i) {
    l.ex[i] = l.ex[i] - l.dt * l.cE * (l.hy[i] - l.hy[i - 1]);
    l.ey[i] = l.ey[i] + l.dt * l.cE * (l.hx[i] - l.hx[i - 1]);
  }
  const FieldPair v = pulses_value(source, further, J, l.dt, {l.ex_before[0], l.ey_before[0]});
  l.ex[0] = v.ex;
  l.ey[0] = v.ey;
  l.ex[last] = l.ex_before[last - 1] + l.k_end * (l.ex_before[last] - l.ex[last - 1]);
  l.ey[last] = l.ey_before[last - 1] + l.k_end * (l.ey_before[last] - l.ey[last - 1]);
}

}  // namespace

void advance_and_correct_E(IncidentLine& line, const PulseSource& source,
                           std::span<const PulseSource> further, FieldState& f, std::int64_t J) {
  advance_line(line, source, further, J);
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto o = static_cast<std::size_t>(line.plane);
  const auto at = static_cast<std::size_t>(IncidentLine::kLag);
  // H of the incident wave half a cell toward the scattered side: for the
  // wave running toward -z the line is the mirror image, and H changes sign.
  const double hy = line.hy[at - 1];
  const double hx = line.hx[at - 1];
  // Toward -z, Hy_inc(o) = -hy and the correction's sign turns as well.
  const double step = line.dt * line.cE;
  f.Ex[nw][o] += step * hy;
  f.Ey[nw][o] -= step * hx;
  // Energy of the incident wave through the plane in this step: its
  // Poynting flux, H at J - 1/2 and E averaged over J - 1 and J.
  const double ex = 0.5 * (line.ex_before[at] + line.ex[at]);
  const double ey = 0.5 * (line.ey_before[at] + line.ey[at]);
  line.injected_last = line.dt * (hy * ex - hx * ey);
  line.injected += line.injected_last;
}

}  // namespace mps
