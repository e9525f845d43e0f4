#!/usr/bin/python3
"""The pseudospin equations of the four-level dot, derived symbolically.

rho = I/4 + 1/2 sum_k u_k lambda_k with the generators in the program's
order: lambda_1..6 the symmetric and lambda_7..12 the antisymmetric
off-diagonal ones of the pairs (12), (13), (14), (23), (24), (34), and
lambda_13..15 = diag(-1, 1, 0, 0), diag(-1, -1, 2, 0)/sqrt3,
diag(-1, -1, -1, 3)/sqrt6.  From i hbar drho/dt = [H, rho],
du_k/dt = Tr(lambda_k drho/dt).

H0 = diag(0, W, 0, W) (levels 2 and 4 one transition energy W = hbar Delta
above 1 and 3); sigma+ light drives 1<->2 through
H12 = -(p12/2)(Ex lambda_1 + Ey lambda_7), sigma- light drives 3<->4
through H34 = -(p34/2)(Ex lambda_6 - Ey lambda_12) (element (3,4) is
-(p34/2)(Ex + i Ey): resonant for polarisation code 4).  R stands for
p/hbar of the pair.

The script checks that H0 and H12 give the terms the medium's equation
table has (medium/equations.hpp), then prints the terms H34 adds.  Needs
Debian's python3-sympy.
"""
import sys

import sympy as sp

PAIRS = [(0, 1), (0, 2), (0, 3), (1, 2), (1, 3), (2, 3)]


def generators():
    lam = []
    for a, b in PAIRS:
        m = sp.zeros(4)
        m[a, b] = m[b, a] = 1
        lam.append(m)
    for a, b in PAIRS:
        m = sp.zeros(4)
        m[a, b], m[b, a] = -sp.I, sp.I
        lam.append(m)
    lam += [sp.diag(-1, 1, 0, 0), sp.diag(-1, -1, 2, 0) / sp.sqrt(3),
            sp.diag(-1, -1, -1, 3) / sp.sqrt(6)]
    return lam


LAM = generators()
U = sp.symbols("u1:16")
EX, EY, DELTA, R = sp.symbols("Ex Ey Delta R")
RHO = sp.eye(4) / 4 + sum((U[k] * LAM[k] for k in range(15)), sp.zeros(4)) / 2


def rates(H):
    """du_k/dt, k = 1..15, for the Hamiltonian H / hbar."""
    drho = -sp.I * (H * RHO - RHO * H)
    return [sp.expand(sp.simplify((LAM[k] * drho).trace())) for k in range(15)]


def table_rates():
    """The precession and 1<->2 terms of the equation table, as rates of u."""
    u = {k + 1: U[k] for k in range(15)}
    half = R / 2
    r = {k: 0 for k in range(1, 16)}
    r[1] += DELTA * u[7] + R * EY * u[13]
    r[2] += half * EX * u[10] + half * EY * u[4]
    r[3] += DELTA * u[9] + half * EX * u[11] + half * EY * u[5]
    r[4] += -DELTA * u[10] - half * EY * u[2] + half * EX * u[8]
    r[5] += -half * EY * u[3] + half * EX * u[9]
    r[6] += DELTA * u[12]
    r[7] += -DELTA * u[1] - R * EX * u[13]
    r[8] += -half * EX * u[4] + half * EY * u[10]
    r[9] += -DELTA * u[3] - half * EX * u[5] + half * EY * u[11]
    r[10] += DELTA * u[4] - half * EX * u[2] - half * EY * u[8]
    r[11] += -half * EX * u[3] - half * EY * u[9]
    r[12] += -DELTA * u[6]
    r[13] += -R * EY * u[1] + R * EX * u[7]
    return [sp.expand(r[k]) for k in range(1, 16)]


def main():
    H0 = sp.diag(0, DELTA, 0, DELTA)
    H12 = -R / 2 * (EX * LAM[0] + EY * LAM[6])
    derived = [a + b for a, b in zip(rates(H0), rates(H12))]
    wrong = [k + 1 for k in range(15) if sp.expand(derived[k] - table_rates()[k]) != 0]
    if wrong:
        print(f"the table differs from the derivation in du/dt of u{wrong}")
        return 1
    print("H0 and sigma+ on 1<->2: the table's terms, every one")
    H34 = -R / 2 * (EX * LAM[5] - EY * LAM[11])
    print("sigma- on 3<->4 (R = p34/hbar) adds:")
    for k, rate in enumerate(rates(H34), 1):
        if rate != 0:
            print(f"  du{k}/dt += {rate}")
    rho44 = sp.Rational(1, 4) + sp.sqrt(6) * U[14] / 4
    drho44 = sum(sp.diff(rho44, U[k]) * r for k, r in enumerate(rates(H34)))
    print(f"  so d(rho44)/dt = {sp.simplify(drho44)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
