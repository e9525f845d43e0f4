#include "field/field_update.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/parallel.hpp"

namespace mps {

void compute_field_profile(const StructureProfile& s, double dz, double dt, FieldCoefficients& k) {
  const auto n_cells = static_cast<std::size_t>(s.NZ) + 1;
  k.eps_r.assign(n_cells, 0.0);
  k.cE.assign(n_cells, 0.0);
  k.cH.assign(n_cells, 0.0);
  const double eps0 = constants::eps0;
  for_each_cell_material(s, [&](std::int32_t i, const CellMaterial& m) {
    const auto c = static_cast<std::size_t>(i);
    const double n2 = m.index * m.index;
    const double v = m.phase_velocity;
    k.eps_r[c] = n2;
    k.cE[c] = 1.0 / (dz * eps0 * n2);
    k.cH[c] = dt / (dz / (n2 * eps0 * v * v));
  });
}

namespace {

// The H update of cell i (see update_H), for the cell loops.
auto h_update(FieldState& f, const FieldCoefficients& k) {
  const int nw = f.new_level();
  const int od = f.old_level();
  const double* __restrict ex = f.Ex[od].data();
  const double* __restrict ey = f.Ey[od].data();
  const double* __restrict hx_old = f.Hx[od].data();
  const double* __restrict hy_old = f.Hy[od].data();
  double* __restrict hx = f.Hx[nw].data();
  double* __restrict hy = f.Hy[nw].data();
  const double* __restrict cH = k.cH.data();
  return [=](std::int32_t i) {
    hx[i] = hx_old[i] + cH[i] * (ey[i + 1] - ey[i]);
    hy[i] = hy_old[i] - cH[i] * (ex[i + 1] - ex[i]);
  };
}

// H(N) = H(N-1): the curl of E at the last cell is zero.
void copy_last_H(FieldState& f) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto N = static_cast<std::size_t>(f.N);
  if (N >= 2) {
    f.Hx[nw][N] = f.Hx[nw][N - 1];
    f.Hy[nw][N] = f.Hy[nw][N - 1];
  }
}

}  // namespace

void update_H(FieldState& f, const FieldCoefficients& k) {
  for_each_cell_simd(1, f.N - 1, kMinCellsToFork, h_update(f, k));
  copy_last_H(f);
}

namespace {

// E of the cells first..last as update_E describes; returns the largest
// |Ex_new| among them when `counted` (-inf when not or none), NaN passed
// over.  The flush and the maximum are selects, so the loop vectorises
// with the maximum as a lane-wise reduction (exact: max is associative).
double e_update(FieldState& f, const FieldCoefficients& k, double dt, std::int32_t first,
                std::int32_t last, bool counted) {
  const int nw = f.new_level();
  const int od = f.old_level();
  const double* __restrict ex_old = f.Ex[od].data();
  const double* __restrict ey_old = f.Ey[od].data();
  const double* __restrict hx = f.Hx[nw].data();
  const double* __restrict hy = f.Hy[nw].data();
  double* __restrict ex = f.Ex[nw].data();
  double* __restrict ey = f.Ey[nw].data();
  const double* __restrict cE = k.cE.data();
  const double floor = counted ? 0.0 : std::numeric_limits<double>::infinity();
  double m = -std::numeric_limits<double>::infinity();
#pragma omp simd reduction(max : m)
  for (std::int32_t i = first; i <= last; ++i) {
    const double curl_y = (hx[i] - hx[i - 1]) * cE[i];
    const double curl_x = (hy[i] - hy[i - 1]) * cE[i];
    const double x = ex_old[i] + dt * -curl_x;
    const double y = ey_old[i] + dt * curl_y;
    const double x_stored = std::fabs(x) < 1e-120 ? 0.0 : x;
    ex[i] = x_stored;
    ey[i] = std::fabs(y) < 1e-120 ? 0.0 : y;
    // Cells not counted compare as -inf (|x| - inf), NaN stays NaN.
    const double a = std::fabs(x_stored) - floor;
    m = a > m ? a : m;
  }
  return m;
}

}  // namespace

void update_E(FieldState& f, const FieldCoefficients& k, double dt) {
  const std::int32_t last = f.N - 1;
  if (static_cast<std::int64_t>(last) >= kMinCellsToFork) {
#pragma omp parallel
    {
      const CellSpan share = thread_share(1, last);
      e_update(f, k, dt, share.first, share.last, false);
    }
  } else {
    e_update(f, k, dt, 1, last, false);
  }
}

namespace {

// Cells per tile: the tile's H and E arrays stay in the first-level cache
// between its H and its E update.
constexpr std::int32_t kTile = 512;

// H of the cells first..last, with the correction when its cell is among them.
void h_tile(FieldState& f, const FieldCoefficients& k, std::int32_t first, std::int32_t last,
            const HCorrection& fix) {
  const auto h = h_update(f, k);
#pragma omp simd
  for (std::int32_t i = first; i <= last; ++i) h(i);
  if (first <= fix.cell && fix.cell <= last) {
    const auto nw = static_cast<std::size_t>(f.new_level());
    const auto c = static_cast<std::size_t>(fix.cell);
    f.Hy[nw][c] += fix.dhy;
    f.Hx[nw][c] += fix.dhx;
  }
}

// E of the cells of the runs within first..last; their largest counted |Ex|.
double e_within(FieldState& f, const FieldCoefficients& k, double dt,
                const std::vector<CellRun>& runs, std::size_t& cursor, std::int32_t first,
                std::int32_t last) {
  double m = -std::numeric_limits<double>::infinity();
  while (cursor < runs.size() && runs[cursor].last < first) ++cursor;
  for (std::size_t r = cursor; r < runs.size() && runs[r].first <= last; ++r) {
    const double a = e_update(f, k, dt, std::max(first, runs[r].first),
                              std::min(last, runs[r].last), runs[r].counted);
    m = a > m ? a : m;
  }
  return m;
}

}  // namespace

double update_fields_in_team(FieldState& f, const FieldCoefficients& k, double dt,
                             const std::vector<CellRun>& runs, const HCorrection& fix) {
  const CellSpan share = thread_share(1, f.N - 1);
  // E of the share's first cell needs H of the cell before it, which the
  // thread before this one updates: it waits for the barrier.
  const std::int32_t own_first = share.first == 1 ? 1 : share.first + 1;
  double m = -std::numeric_limits<double>::infinity();
  std::size_t cursor = 0;
  for (std::int32_t a = share.first; a <= share.last; a += kTile) {
    const std::int32_t b = std::min(share.last, a + kTile - 1);
    h_tile(f, k, a, b, fix);
    const double t = e_within(f, k, dt, runs, cursor, std::max(a, own_first), b);
    m = t > m ? t : m;
  }
  if (share.last == f.N - 1) copy_last_H(f);
#pragma omp barrier
  if (own_first != share.first && share.first <= share.last) {
    std::size_t from_start = 0;
    const double t = e_within(f, k, dt, runs, from_start, share.first, share.first);
    m = t > m ? t : m;
  }
  return m;
}

}  // namespace mps
