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

A static magnetic field adds the Zeeman terms H_Z / hbar =
(omega_e . sigma)/2 on the electron pair {1, 3} and (omega_h . sigma)/2 on
the trion pair {2, 4}, omega = muB g B / hbar (sigma_z = +1 on levels 1
and 2; sigma_x, sigma_y: lambda2, lambda8 on {1, 3} and lambda5, lambda11
on {2, 4}).

The script checks that H0 and H12 give the terms the medium's equation
table has (medium/equations.hpp), then prints the terms H34 adds, then
checks the Zeeman pairs of the table (kZeemanPairs) against H_Z and prints
the terms they add.  Needs Debian's python3-sympy.
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
# Larmor frequencies muB g B / hbar of the electron and the hole.
WEX, WEY, WEZ, WHX, WHY, WHZ = sp.symbols("w_ex w_ey w_ez w_hx w_hy w_hz")
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


def zeeman_hamiltonian():
    """H_Z / hbar on the pairs {1, 3} and {2, 4}."""
    sz_e = sp.diag(1, 0, -1, 0)
    sz_h = sp.diag(0, 1, 0, -1)
    return (WEX * LAM[1] + WEY * LAM[7] + WEZ * sz_e
            + WHX * LAM[4] + WHY * LAM[10] + WHZ * sz_h) / 2


# The table's Zeeman pairs (k, l, c): du_k/dt = c u_l, du_l/dt = -c u_k,
# with the precession pairs' Delta left out (it is H0's).
H, R3, R3_6, R6_3 = sp.Rational(1, 2), sp.sqrt(3) / 2, sp.sqrt(3) / 6, sp.sqrt(6) / 3
ZEEMAN_PAIRS = [
    (1, 10, H * WEX), (1, 4, -H * WEY), (2, 13, -H * WEY), (2, 14, -R3 * WEY),
    (3, 12, -H * WEX), (3, 6, -H * WEY), (4, 7, -H * WEX), (6, 9, -H * WEX),
    (7, 10, H * WEY), (8, 13, H * WEX), (8, 14, R3 * WEX), (9, 12, -H * WEY),
    (1, 9, H * WHX), (1, 3, -H * WHY), (3, 7, H * WHX), (4, 12, H * WHX),
    (4, 6, -H * WHY), (5, 13, H * WHY), (5, 14, -R3_6 * WHY), (5, 15, -R6_3 * WHY),
    (6, 10, -H * WHX), (7, 9, -H * WHY), (10, 12, H * WHY), (11, 13, -H * WHX),
    (11, 14, R3_6 * WHX), (11, 15, R6_3 * WHX),
    (2, 8, -WEZ), (5, 11, -WHZ),
    (1, 7, (WHZ - WEZ) / 2), (3, 9, -(WEZ + WHZ) / 2), (4, 10, -(WEZ + WHZ) / 2),
    (6, 12, (WEZ - WHZ) / 2),
]


def zeeman(derived):
    """Checks the table's Zeeman pairs against H_Z; prints what they add."""
    table = [0] * 15
    for k, l, c in ZEEMAN_PAIRS:
        table[k - 1] += c * U[l - 1]
        table[l - 1] -= c * U[k - 1]
    zr = rates(zeeman_hamiltonian())
    wrong = [k + 1 for k in range(15) if sp.expand(zr[k] - table[k]) != 0]
    if wrong:
        print(f"the Zeeman pairs differ from the derivation in du/dt of u{wrong}")
        return 1
    print("a magnetic field (w = muB g B / hbar) adds, as the table's Zeeman pairs:")
    for k, rate in enumerate(zr, 1):
        if rate != 0:
            print(f"  du{k}/dt += {rate}")
    levels = sp.diag(0, DELTA, 0, DELTA) + zeeman_hamiltonian().subs(
        {WEX: 0, WEY: 0, WHX: 0, WHY: 0})
    e = [levels[i, i] for i in range(4)]
    print(f"  along z: E2 - E1 = hbar ({sp.simplify(e[1] - e[0])}) (sigma+), "
          f"E4 - E3 = hbar ({sp.simplify(e[3] - e[2])}) (sigma-),")
    print(f"  lines apart by (E2 - E1) - (E4 - E3) = hbar ({sp.simplify(e[1] - e[0] - e[3] + e[2])})")
    return 0


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
    return zeeman(derived)


if __name__ == "__main__":
    sys.exit(main())
