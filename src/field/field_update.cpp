#include "field/field_update.hpp"

#include <algorithm>
#include <array>
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
  k.runs = coefficient_runs(k);
}

namespace {

// The coefficient of each cell from its array, or one number for a run of
// cells that share it (the same value, so the same result, with one
// memory stream less).
struct PerCell {
  const double* __restrict c;
  double operator()(std::int32_t i) const { return c[i]; }
};
struct Uniform {
  double c;
  double operator()(std::int32_t /*i*/) const { return c; }
};

// H of the cells first..last (update_fields_in_team has the formulas), in
// place: E still holds the old level there and at last + 1.
template <typename Coefficient>
void h_cells(FieldState& f, Coefficient cH, std::int32_t first, std::int32_t last) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const double* __restrict ex = f.Ex[nw].data();
  const double* __restrict ey = f.Ey[nw].data();
  double* __restrict hx = f.Hx[nw].data();
  double* __restrict hy = f.Hy[nw].data();
#pragma omp simd
  for (std::int32_t i = first; i <= last; ++i) {
    hx[i] = hx[i] + cH(i) * (ey[i + 1] - ey[i]);
    hy[i] = hy[i] - cH(i) * (ex[i + 1] - ex[i]);
  }
}

// E of the cells first..last in place (formulas there too); returns the
// largest |Ex_new| among them when `counted` (-inf when not or none), NaN
// passed over.  The flush and the maximum are selects, so the loop
// vectorises with the maximum as a lane-wise reduction (exact: max is
// associative).
template <typename Coefficient>
double e_cells(FieldState& f, Coefficient cE, double dt, std::int32_t first, std::int32_t last,
               bool counted) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const double* __restrict hx = f.Hx[nw].data();
  const double* __restrict hy = f.Hy[nw].data();
  double* __restrict ex = f.Ex[nw].data();
  double* __restrict ey = f.Ey[nw].data();
  const double floor = counted ? 0.0 : std::numeric_limits<double>::infinity();
  double m = -std::numeric_limits<double>::infinity();
#pragma omp simd reduction(max : m)
  for (std::int32_t i = first; i <= last; ++i) {
    const double curl_y = (hx[i] - hx[i - 1]) * cE(i);
    const double curl_x = (hy[i] - hy[i - 1]) * cE(i);
    const double x = ex[i] + dt * -curl_x;
    const double y = ey[i] + dt * curl_y;
    const double x_stored = std::fabs(x) < kFlushBelow ? 0.0 : x;
    ex[i] = x_stored;
    ey[i] = std::fabs(y) < kFlushBelow ? 0.0 : y;
    // Cells not counted compare as -inf (|x| - inf), NaN stays NaN.
    const double a = std::fabs(x_stored) - floor;
    m = a > m ? a : m;
  }
  return m;
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

std::vector<CoefficientRun> coefficient_runs(const FieldCoefficients& k) {
  std::vector<CoefficientRun> runs;
  const auto n = static_cast<std::int32_t>(std::min(k.cE.size(), k.cH.size()));
  // Positive coefficients: equal values have equal bits.
  auto same = [&](std::int32_t i, std::int32_t j) {
    const auto a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(j);
    return k.cE[a] == k.cE[b] && k.cH[a] == k.cH[b];
  };
  for (std::int32_t i = 1; i < n;) {
    std::int32_t j = i;
    while (j + 1 < n && same(i, j + 1)) ++j;
    const bool uniform = j - i + 1 >= CoefficientRun::kMinUniform;
    if (!uniform && !runs.empty() && !runs.back().uniform) {
      runs.back().last = j;  // cells of their own coefficients join the run before
    } else {
      runs.push_back({i, j, uniform});
    }
    i = j + 1;
  }
  return runs;
}

namespace {

// Cells per tile: the tile's H and E arrays stay in the first-level cache
// between its H and its E update.
constexpr std::int32_t kTile = 512;

// fn(a, b, run) for the part a..b of every run (sorted, disjoint) within
// first..last; `cursor` moves past the runs before first.
template <typename Run, typename Fn>
void for_each_part(const std::vector<Run>& runs, std::size_t& cursor, std::int32_t first,
                   std::int32_t last, Fn fn) {
  while (cursor < runs.size() && runs[cursor].last < first) ++cursor;
  for (std::size_t r = cursor; r < runs.size() && runs[r].first <= last; ++r) {
    fn(std::max(first, runs[r].first), std::min(last, runs[r].last), runs[r]);
  }
}

// A thread's sweep: the runs it walks, with their cursors.
struct Sweep {
  FieldState& f;
  const FieldCoefficients& k;
  double dt;
  const std::vector<CellRun>& e_runs;
  const std::vector<CoefficientRun>& c_runs;
  std::size_t e_cursor = 0, c_cursor = 0;
};

// H of the cells first..last, with the correction when its cell is among them.
void h_tile(Sweep& s, std::int32_t first, std::int32_t last, const HCorrection& fix) {
  for_each_part(s.c_runs, s.c_cursor, first, last,
                [&](std::int32_t a, std::int32_t b, const CoefficientRun& run) {
                  if (run.uniform) {
                    h_cells(s.f, Uniform{s.k.cH[static_cast<std::size_t>(a)]}, a, b);
                  } else {
                    h_cells(s.f, PerCell{s.k.cH.data()}, a, b);
                  }
                });
  if (first <= fix.cell && fix.cell <= last) {
    const auto nw = static_cast<std::size_t>(s.f.new_level());
    const auto c = static_cast<std::size_t>(fix.cell);
    s.f.Hy[nw][c] += fix.dhy;
    s.f.Hx[nw][c] += fix.dhx;
  }
}

// E of the cells of the E runs within first..last; their largest counted |Ex|.
double e_tile(Sweep& s, std::int32_t first, std::int32_t last) {
  double m = -std::numeric_limits<double>::infinity();
  for_each_part(
      s.e_runs, s.e_cursor, first, last, [&](std::int32_t a, std::int32_t b, const CellRun& cells) {
        std::size_t cursor = s.c_cursor;
        for_each_part(
            s.c_runs, cursor, a, b, [&](std::int32_t p, std::int32_t q, const CoefficientRun& run) {
              const double t =
                  run.uniform ? e_cells(s.f, Uniform{s.k.cE[static_cast<std::size_t>(p)]}, s.dt, p,
                                        q, cells.counted)
                              : e_cells(s.f, PerCell{s.k.cE.data()}, s.dt, p, q, cells.counted);
              m = t > m ? t : m;
            });
      });
  return m;
}

}  // namespace

void ready_new_level(FieldState& f, const std::vector<CellSpan>& kept, bool whole_old_level) {
  const auto nw = static_cast<std::size_t>(f.new_level());
  const auto od = static_cast<std::size_t>(f.old_level());
  if (whole_old_level) {
    for (auto* a : {&f.Ex, &f.Ey, &f.Hx, &f.Hy}) {
      std::copy((*a)[od].begin(), (*a)[od].end(), (*a)[nw].begin());
    }
    return;
  }
  // The spans are a few cells each: one loop over the four fields.
  std::array<double*, 4> to = {f.Ex[nw].data(), f.Ey[nw].data(), f.Hx[nw].data(), f.Hy[nw].data()};
  const std::array<const double*, 4> from = {f.Ex[od].data(), f.Ey[od].data(), f.Hx[od].data(),
                                             f.Hy[od].data()};
  for (const CellSpan& c : kept) {
    for (std::int32_t i = c.first; i <= c.last; ++i) {
      for (std::size_t q = 0; q < 4; ++q) to[q][i] = from[q][i];
    }
  }
  for (auto* a : {&f.Ex, &f.Ey, &f.Hx, &f.Hy}) (*a)[nw].swap((*a)[od]);
}

double update_fields_in_team(FieldState& f, const FieldCoefficients& k, double dt,
                             const std::vector<CellRun>& runs, const HCorrection& fix) {
  const CellSpan share = thread_share(1, f.N - 1);
  Sweep s{f, k, dt, runs, k.runs};
  // E of the share's first cell needs H of the cell before it, which the
  // thread before this one updates: it waits for the barrier.
  const std::int32_t own_first = share.first == 1 ? 1 : share.first + 1;
  double m = -std::numeric_limits<double>::infinity();
  for (std::int32_t a = share.first; a <= share.last; a += kTile) {
    const std::int32_t b = std::min(share.last, a + kTile - 1);
    h_tile(s, a, b, fix);
    const double t = e_tile(s, std::max(a, own_first), b);
    m = t > m ? t : m;
  }
  if (share.last == f.N - 1) copy_last_H(f);
#pragma omp barrier
  if (own_first != share.first && share.first <= share.last) {
    s.e_cursor = s.c_cursor = 0;
    const double t = e_tile(s, share.first, share.first);
    m = t > m ? t : m;
  }
  return m;
}

}  // namespace mps
