"""The values of a case checked as they are given: quantities by number and
unit (converted to SI the way the file's decimal exponent would), whole
numbers, bounded reals and the 4 x 4 tables of the levels, each named in
the CaseError that refuses it; and the constants as the program holds
them."""
from __future__ import annotations

import math
import numbers
import re
from decimal import Decimal

HBAR = 1.054571596e-34         # J s, as the program holds it
HC = 1.986445494922679e-25     # J m
EV = 1.6e-19                   # the program's electron-volt factor
FWHM_FACTOR = 1.6651092767715454   # 2 sqrt(ln 2), the program's single-precision value
SQRT3 = 1.7320507764816284
SQRT6 = 2.4494898319244385
SECH_FWHM_PER_LENGTH = math.acosh(2.0) / 10.0

TIME = {"s": 1.0, "ms": 1e-3, "us": 1e-6, "µs": 1e-6, "ns": 1e-9, "ps": 1e-12, "fs": 1e-15,
        "as": 1e-18}
LENGTH = {"m": 1.0, "mm": 1e-3, "um": 1e-6, "µm": 1e-6, "nm": 1e-9, "pm": 1e-12}
DIPOLE = {"C m": 1.0, "Cm": 1.0, "D": 3.33564095e-30, "e nm": 1.602176634e-28,
          "e m": 1.602176634e-19}
DENSITY = {"m^-3": 1.0, "cm^-3": 1e6}
FIELD = {"V/m": 1.0, "kV/cm": 1e5, "MV/m": 1e6, "MV/cm": 1e8}
ENERGY_UNITS = {"eV": 0, "meV": 1, "ueV": 2, "µeV": 2}    # the level table's unit codes
DURATION_UNITS = {"fs": 0, "ps": 1}                        # the pulse line's codes
DELAY_UNITS = {"fs": 0, "ps": 1, "ns": 2}
MAX_STEPS = 999_999_999_999    # the last step a 12-digit file label holds
MAX_COUNT = 2 ** 31 - 1        # cells, cell numbers and iterations of the file


class CaseError(ValueError):
    """A case that cannot be written as asked, or that the program does not
    read back as it was written; the message says why."""


def quantity(value, units: dict, what: str) -> tuple[float, str | None]:
    """(number, unit) of a quantity given as a number (SI, unit None), a
    text "50 fs" or a pair (50, "fs")."""
    if isinstance(value, str):
        m = re.fullmatch(r"\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*(.*?)\s*", value)
        if not m:
            raise CaseError(f"{what}: {value!r} is not a number with a unit")
        number, unit = float(m.group(1)), m.group(2) or None
    elif isinstance(value, tuple) and len(value) == 2:
        number, unit = float(value[0]), value[1]
    elif isinstance(value, (int, float)) and not isinstance(value, bool):
        number, unit = float(value), None
    else:
        raise CaseError(f"{what}: {value!r} is not a quantity")
    if unit is not None and unit not in units:
        raise CaseError(f"{what}: unknown unit {unit!r} (one of {', '.join(units)})")
    if not math.isfinite(number):
        raise CaseError(f"{what}: {value!r} is not finite")
    return number, unit


def si(value, units: dict, what: str, shift: int = 0, low=None, positive=False) -> float:
    """The quantity in SI units (times 10**shift); a power-of-ten unit moves
    the decimal exponent, so "0.2 ns" is the double nearest 2e-10 (not
    0.2 * 1e-9) and "955 nm" with shift 6 is 0.955 [um].  CaseError naming
    `what` when it is beyond a double, below `low` or, with `positive`, not
    above zero."""
    number, unit = quantity(value, units, what)
    exponent = math.log10(units[unit]) if unit else 0.0
    if exponent == round(exponent):
        x = float(Decimal(repr(number)).scaleb(int(round(exponent)) + shift))
    else:
        x = number * units[unit] * 10.0 ** shift
    if not math.isfinite(x):
        raise CaseError(f"{what}: {value!r} is beyond the range of a double")
    _bounded(x, value, what, low, positive)
    return x


def _bounded(x, given, what, low=None, positive=False, high=None):
    # a negative value where only zero or more makes sense is called so
    negative = ", not negative" if x < 0 and (positive or (low is not None and low >= 0)) else ""
    if positive and not x > 0:
        raise CaseError(f"{what}: {given!r} must be above 0{negative}")
    if low is not None and x < low:
        raise CaseError(f"{what}: {given!r} must be {low:g} or more{negative}")
    if high is not None and x > high:
        raise CaseError(f"{what}: {given!r} must be {high:g} or less")


def real(value, what: str, low=None, high=None, positive=False) -> float:
    """A finite number (not a bool) within the bounds; CaseError naming `what`."""
    if isinstance(value, bool):
        raise CaseError(f"{what}: {value!r} is not a number")
    try:
        x = float(value)
    except (TypeError, ValueError):
        raise CaseError(f"{what}: {value!r} is not a number") from None
    if not math.isfinite(x):
        raise CaseError(f"{what}: {value!r} is not finite")
    _bounded(x, value, what, low, positive, high)
    return x


def whole(value, what: str, low: int, high: int) -> int:
    """A whole number from `low` to `high` (an int, a float without a
    fraction, or its text); CaseError naming `what`."""
    if isinstance(value, str):
        try:
            value = int(value.strip())
        except ValueError:
            raise CaseError(f"{what}: {value!r} is not a whole number") from None
    if isinstance(value, bool) or not (isinstance(value, numbers.Integral) or (
            isinstance(value, float) and value.is_integer())):
        raise CaseError(f"{what}: {value!r} is not a whole number")
    n = int(value)
    if not low <= n <= high:
        negative = ", not negative" if n < 0 <= low else ""
        raise CaseError(f"{what}: {value!r} must be from {low} to {high}{negative}")
    return n


def steps_of(seconds: float, dt: float, what: str, given) -> float:
    """seconds / dt, the steps a time spans; CaseError when they are more
    than a run can count."""
    steps = seconds / dt
    if not steps <= MAX_STEPS:
        raise CaseError(f"{what}: {given!r} is more than the {MAX_STEPS} steps of "
                        f"{dt:.3g} s a run can count")
    return steps


def in_unit(value, units: dict, codes: dict, what: str) -> tuple[float, int]:
    """(number, code) of a time for the pulse line: as given when its unit has
    a code, else in the largest coded unit that keeps the number >= 1."""
    number, unit = quantity(value, units, what)
    if unit in codes:
        return number, codes[unit]
    seconds = si(value, units, what)
    best = min(codes, key=lambda u: TIME[u])
    for u in sorted(codes, key=lambda u: TIME[u]):
        if abs(seconds) >= TIME[u]:
            best = u
    return float(f"{seconds / TIME[best]:.15g}"), codes[best]


def show_time(seconds: float) -> str:
    """A time in the largest of ns, ps, fs it fills, for notes."""
    for unit in ("ns", "ps", "fs"):
        if abs(seconds) >= TIME[unit]:
            return f"{seconds / TIME[unit]:.6g} {unit}"
    return f"{seconds:.6g} s"


def level_table(given, units, what, symmetric_pairs=(), low=None):
    """4 x 4 list of SI numbers from {(i, j): quantity} (1-based), a single
    quantity (every off-diagonal entry) or a 4 x 4 nested sequence; each
    `low` or more."""
    out = [[0.0] * 4 for _ in range(4)]
    if isinstance(given, dict):
        for key, v in given.items():
            if not (isinstance(key, tuple) and len(key) == 2 and all(
                    isinstance(k, int) and 1 <= k <= 4 for k in key)):
                raise CaseError(f"{what} {key!r}: give levels (i, j), each from 1 to 4")
            i, j = key
            out[i - 1][j - 1] = si(v, units, f"{what} ({i},{j})", low=low)
    elif isinstance(given, (list, tuple)) and len(given) == 4 and not isinstance(given[1], str):
        if not all(isinstance(row, (list, tuple)) and len(row) == 4 for row in given):
            raise CaseError(f"{what}: give 4 rows of 4 values")
        out = [[si(v, units, f"{what} ({i},{j})", low=low) for j, v in enumerate(row, 1)]
               for i, row in enumerate(given, 1)]
    else:
        v = si(given, units, what, low=low)
        pairs = symmetric_pairs or [(i, j) for i in range(4) for j in range(4) if i != j]
        for i, j in pairs:
            out[i][j] = v
    return out


# Transfers i -> j whose times the program needs above zero: trion
# recombination 2 -> 1 and the four spin flips.
CHANNELS = ((2, 1), (1, 3), (3, 1), (2, 4), (4, 2))


def check_times(long, deph, scales):
    """The relaxation and dephasing times as the program needs them: each
    transfer channel and every dephasing time above zero, and finite once
    scaled."""
    for i, j in CHANNELS:
        if not long[i - 1][j - 1] > 0:
            raise CaseError(f"relaxation time ({i},{j}): {long[i - 1][j - 1]!r} s, must be "
                            "above 0")
    for i in range(4):
        for j in range(4):
            if i != j and not deph[i][j] > 0:
                raise CaseError(f"dephasing time ({i + 1},{j + 1}): {deph[i][j]!r} s, must be "
                                "above 0")
    for table, scale, what in ((long, scales[0], "relaxation"), (deph, scales[1], "dephasing")):
        if not math.isfinite(max(map(max, table)) * scale):
            raise CaseError(f"{what}_scale: {scale!r} makes a {what} time beyond a double")
