#include "medium/rhs.hpp"

namespace mps {

void pseudospin_rhs(const StepCoefficients& step, const CellCoefficients& c, const CellVector& old,
                    const CellVector& now, CellVector& rate) {
  const CouplingMatrix& F = step.F;
  const CouplingMatrix& B = step.B;
  StoredValues S;  // S(k) = w_k(old) + w_k(now), k = 1..15
  for (int k = 1; k <= 15; ++k) S(k) = old.w(k) + now.w(k);
  const double SX = old.ex + now.ex;
  const double SY = old.ey + now.ey;
  const auto s = [&S](int k) { return S(k); };

  rate.ex = -c.curlX + 0.5 * c.gX * SY + 0.5 * c.aX1 * s(1) + 0.5 * c.aX7 * s(7) +
            0.25 * c.aX13 * SY * s(13);
  rate.ey = c.curlY + 0.5 * c.gY * SX + 0.5 * c.aY1 * s(1) + 0.5 * c.aY7 * s(7) +
            0.25 * c.aY13 * SX * s(13);

  StoredValues& d = rate.w;
  d(1) = 0.5 * c.s1 * SY + 0.5 * F(1, 7) * s(7) + 0.25 * F(1, 13) * SY * s(13);
  d(2) = 0.25 * F(2, 10) * SX * s(10) + 0.25 * F(2, 4) * SY * s(4);
  d(3) = 0.5 * F(3, 9) * s(9) + 0.25 * F(3, 11) * SX * s(11) + 0.25 * F(3, 5) * SY * s(5);
  d(4) = 0.5 * F(4, 10) * s(10) + 0.25 * B(2, 4) * SY * s(2) + 0.25 * F(4, 8) * SX * s(8);
  d(5) = 0.25 * B(3, 5) * SY * s(3) + 0.25 * F(5, 9) * SX * s(9);
  d(6) = 0.5 * F(6, 12) * s(12);
  d(7) = 0.5 * B(1, 7) * s(1) + 0.5 * c.s7 * SX + 0.25 * F(7, 13) * SX * s(13);
  d(8) = 0.25 * B(4, 8) * SX * s(4) + 0.25 * F(8, 10) * SY * s(10);
  d(9) = 0.5 * B(3, 9) * s(3) + 0.25 * B(5, 9) * SX * s(5) + 0.25 * F(9, 11) * SY * s(11);
  d(10) = 0.5 * B(4, 10) * s(4) + 0.25 * B(2, 10) * SX * s(2) + 0.25 * B(8, 10) * SY * s(8);
  d(11) = 0.25 * B(3, 11) * SX * s(3) + 0.25 * B(9, 11) * SY * s(9);
  d(12) = 0.5 * B(6, 12) * s(6);
  d(13) = c.pop.s13 + 0.5 * c.pop.F13_14 * s(14) + 0.5 * c.pop.F13_15 * s(15) +
          0.25 * B(1, 13) * SY * s(1) + 0.25 * B(7, 13) * SX * s(7);
  d(14) = c.pop.s14 + 0.5 * c.pop.B13_14 * s(13) + 0.5 * c.pop.F14_15 * s(15);
  d(15) = c.pop.s15 + 0.5 * c.pop.B13_15 * s(13) + 0.5 * c.pop.B14_15 * s(14);
  if (c.pop.diagonal) {  // a cell relaxing at rates other than the step's
    d(13) = d(13) + 0.5 * c.pop.D13 * s(13);
    d(14) = d(14) + 0.5 * c.pop.D14 * s(14);
    d(15) = d(15) + 0.5 * c.pop.D15 * s(15);
  }
  d(16) = 0.0;
}

}  // namespace mps
