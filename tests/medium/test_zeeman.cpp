// The Zeeman pairs of the equation table against the Hamiltonian itself:
// H_Z / hbar = (omega_e . sigma)/2 on levels {1, 3} and (omega_h . sigma)/2
// on {2, 4}, du_k/dt = Tr(lambda_k drho/dt) with drho/dt = -i [H_Z/hbar, rho]
// computed with complex 4 x 4 matrices, for arbitrary omega and u.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>

#include "medium/equations.hpp"
#include "medium/pseudospin.hpp"

namespace mps {
namespace {

using Matrix = std::array<std::array<std::complex<double>, 4>, 4>;

Matrix product(const Matrix& a, const Matrix& b) {
  Matrix c{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}

// lambda_1..15 in the program's order, exact surds.
std::array<Matrix, 15> generators() {
  constexpr int pairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  std::array<Matrix, 15> lam{};
  for (int p = 0; p < 6; ++p) {
    const int a = pairs[p][0], b = pairs[p][1];
    lam[p][a][b] = lam[p][b][a] = 1.0;
    lam[p + 6][a][b] = {0.0, -1.0};
    lam[p + 6][b][a] = {0.0, 1.0};
  }
  const double s3 = std::sqrt(3.0), s6 = std::sqrt(6.0);
  lam[12][0][0] = -1.0, lam[12][1][1] = 1.0;
  for (int i = 0; i < 2; ++i) lam[13][i][i] = -1.0 / s3;
  lam[13][2][2] = 2.0 / s3;
  for (int i = 0; i < 3; ++i) lam[14][i][i] = -1.0 / s6;
  lam[14][3][3] = 3.0 / s6;
  return lam;
}

TEST(ZeemanTerms, TablePairsAreTheCommutatorOfTheZeemanHamiltonian) {
  const std::array<double, 6> w = {0.7, -1.3, 0.4, 2.1, 0.9, -0.6};  // e x,y,z; h x,y,z
  std::array<double, 15> u{};
  for (std::size_t k = 0; k < u.size(); ++k) u[k] = 0.1 * static_cast<double>(k % 7) - 0.27;
  const auto lam = generators();
  Matrix rho{}, H{};
  for (int i = 0; i < 4; ++i) rho[i][i] = 0.25;
  for (std::size_t k = 0; k < 15; ++k)
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) rho[i][j] += 0.5 * u[k] * lam[k][i][j];
  // Electron on {1, 3} (indices 0, 2), hole on {2, 4} (1, 3).
  const auto spin = [&H](int up, int down, double x, double y, double z) {
    H[up][down] += 0.5 * std::complex<double>(x, -y);
    H[down][up] += 0.5 * std::complex<double>(x, y);
    H[up][up] += 0.5 * z;
    H[down][down] -= 0.5 * z;
  };
  spin(0, 2, w[0], w[1], w[2]);
  spin(1, 3, w[3], w[4], w[5]);
  const Matrix hr = product(H, rho), rh = product(rho, H);
  Matrix drho{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      drho[i][j] = std::complex<double>(0.0, -1.0) * (hr[i][j] - rh[i][j]);
  std::array<double, 16> table{};  // du_k/dt of the table's pairs, Delta = 0
  for (const equations::ZeemanPair& p : equations::kZeemanPairs) {
    const double c = zeeman_constant(p.k, p.l, 0.0, w);
    table[static_cast<std::size_t>(p.k)] += c * u[static_cast<std::size_t>(p.l - 1)];
    table[static_cast<std::size_t>(p.l)] -= c * u[static_cast<std::size_t>(p.k - 1)];
  }
  for (std::size_t k = 0; k < 15; ++k) {
    std::complex<double> trace = 0.0;
    const Matrix m = product(lam[k], drho);
    for (int i = 0; i < 4; ++i) trace += m[i][i];
    // The table's surds are the model's (single precision widened): 1e-7.
    EXPECT_NEAR(table[k + 1], trace.real(), 1e-7) << "du" << k + 1 << "/dt";
    EXPECT_NEAR(trace.imag(), 0.0, 1e-12);
  }
}

}  // namespace
}  // namespace mps
