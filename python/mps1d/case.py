"""A case of mps1d written by name, in physical units.

    from mps1d.case import Case, Pulse
    case = Case(dz="5 nm", block_steps=5000, time="250 fs", transition_energy="1.3 eV")
    case.layer("0.5 um", n=1.0).layer("1 um", n=3.5)
    case.dots("100 nm", n=3.5, populations=(1, 0, 0, 0))      # all dots in level 1
    case.layer("1 um", n=3.5).layer("0.5 um", n=1.0)
    case.pulse = Pulse("sech", fwhm="100 fs", area=2 * math.pi, polarisation="sigma+")
    case.monitors = ["dots"]                                   # the dot layer's middle cell
    case.write("run/rabi")        # execdata.txt, result folders, checked by the program
    run = case.run("run/rabi")    # ... and run: mps1d.load("run/rabi")

Quantities are numbers in SI units (s, m, V/m, C m, m^-3) or texts with a
unit: "50 fs", "0.2 ns", "200 nm", "1.5 um", "1.3 eV", "0.5 meV",
"6.4e-29 C m", "1.33 e nm", "1e18 cm^-3"; a pair (50, "fs") is the same.

What the file cannot hold exactly is rounded, and `case.notes()` says how:
layer lengths become whole cells (the length used is reported), a pulse
delay counts in whole pulse lengths (the program truncates delay/length),
a simulated time becomes whole blocks of `block_steps` steps.

The structure holds at most one dot layer.  The program puts its dots in a
region of the dot layer's thickness centred between the cavity boundaries
(the first and last cavity layer of the file), so the cavity is chosen
around the dot layer: the dot layer with both neighbours when they are
equally thick (the layout of the bundled examples), else the dot layer
alone.  `cavity=(first, last)` (layer names or 1-based rows) overrides it;
a note says when the program's dot region then misses the dot layer.

Pulses: shape "cw", "sech", "gaussian", "turn-on" or "noise"; polarisation
"x", "y", "sigma+" (code 3, the sense that drives the 1-2 transition) or
"sigma-" (code 4, the opposite sense; the field couples to 1-2 only, so it
passes the dots).  `fwhm` is the full width at half maximum of the field
envelope.  For the Gaussian (exp(-(t/tau)^2), tau = FWHM/(2 sqrt(ln 2)))
that is the number the file holds; the secant envelope is
sech(20 (t - T/2)/T) over the pulse length T of the file, whose FWHM is
T acosh(2)/10, so T = 7.59 FWHM is written (give `length=` to set T
itself).  `area` A = p (integral of E dt)/hbar, with p the 1-2 dipole
moment and E the envelope of the circular field that drives 1-2: all of a
sigma+ pulse, half of an x or y pulse (a linear field is two circular ones
of half its amplitude), so a linear pulse of area A has twice the amplitude
of a sigma+ pulse of area A.  The integral of the envelope is
tau sqrt(pi) (Gaussian) or pi T/20 (sech).  A Gaussian's delay is the
time of its peak: the program peaks it m widths tau after step 0 (m = the
whole FWHMs in the delay of its line), so the nearest m is written, and a
note gives the peak's step; a delay under 3 tau cuts off its front,
which a note says.  Other pulses start m whole lengths after step 0.
"""
from __future__ import annotations

import copy
import math
import numbers
import re
import subprocess
from dataclasses import dataclass
from decimal import Decimal
from pathlib import Path

from . import fileio
from . import program as _program
from .execdata import INT, REAL, format_value

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
SHAPES = {"cw": 1, "sech": 2, "gaussian": 3, "turn-on": 4, "noise": 5}
POLARISATIONS = {"x": 1, "y": 2, "sigma+": 3, "sigma-": 4}
BOUNDARIES = {"absorbing": 1, "wall": 2}

# The relaxation times of the bundled examples: L(i, j), the time of the
# transfer from level i to level j (trion recombination 2 -> 1, spin flips
# between the ground states 1, 3 and between the trions 2, 4).
DEFAULT_RELAXATION = {(1, 3): "0.5 ns", (2, 1): "1 ns", (2, 4): "0.2 ns", (3, 1): "0.5 ns",
                      (4, 2): "0.2 ns"}
DEFAULT_LEVELS = (("trans_12", 0), ("split_13", None), ("trans_34", 0), ("split_24", None))
# Transfers i -> j whose times the program needs above zero: trion
# recombination 2 -> 1 and the four spin flips.
CHANNELS = ((2, 1), (1, 3), (3, 1), (2, 4), (4, 2))
MAX_STEPS = 999_999_999_999    # the last step a 12-digit file label holds
MAX_COUNT = 2 ** 31 - 1        # cells, cell numbers and iterations of the file


class CaseError(ValueError):
    """A case that cannot be written as asked, or that the program does not
    read back as it was written; the message says why."""


# --------------------------------------------------------------------------
# Quantities

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
    if positive and not x > 0:
        raise CaseError(f"{what}: {given!r} must be above 0")
    if low is not None and x < low:
        raise CaseError(f"{what}: {given!r} must be {low:g} or more")
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
        raise CaseError(f"{what}: {value!r} must be from {low} to {high}")
    return n


def _steps_of(seconds: float, dt: float, what: str, given) -> float:
    """seconds / dt, the steps a time spans; CaseError when they are more
    than a run can count."""
    steps = seconds / dt
    if not steps <= MAX_STEPS:
        raise CaseError(f"{what}: {given!r} is more than the {MAX_STEPS} steps of "
                        f"{dt:.3g} s a run can count")
    return steps


def _in_unit(value, units: dict, codes: dict, what: str) -> tuple[float, int]:
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


def _show_time(seconds: float) -> str:
    for unit in ("ns", "ps", "fs"):
        if abs(seconds) >= TIME[unit]:
            return f"{seconds / TIME[unit]:.6g} {unit}"
    return f"{seconds:.6g} s"


def populations_to_columns(rho) -> tuple[float, float, float]:
    """Layer-table columns (13, 14, 15) of the populations rho11..rho44: the
    inverse of rho11 = (3 - 6 c13 - 2 c14 - c15)/12, rho22 = (3 + 6 c13 -
    2 c14 - c15)/12, rho33 = (3 + 4 c14 - c15)/12, rho44 = (1 + c15)/4 (the
    columns 14 and 15 are sqrt(3) u14 and sqrt(6) u15)."""
    rho = tuple(float(r) for r in rho)
    if len(rho) != 4 or min(rho) < 0 or abs(sum(rho) - 1.0) > 1e-9:
        raise CaseError(f"populations {rho}: give rho11..rho44, each >= 0, summing to 1")
    r11, r22, r33, r44 = rho
    return r22 - r11, 3.0 * r33 + r44 - 1.0, 4.0 * r44 - 1.0


def columns_to_populations(c) -> tuple[float, float, float, float]:
    c13, c14, c15 = c
    return ((3 - 6 * c13 - 2 * c14 - c15) / 12, (3 + 6 * c13 - 2 * c14 - c15) / 12,
            (3 + 4 * c14 - c15) / 12, (1 + c15) / 4)


def holds_dots(b) -> bool:
    """The medium's test of a cell's equilibrium values: it has dots when
    u13eq < 0 and either u14eq = u15eq = 0 or u14eq != 0 and u15eq < 0."""
    b13, b14, b15 = b
    return b13 < 0 and ((b14 == 0 and b15 == 0) or (b14 != 0 and b15 < 0))


# --------------------------------------------------------------------------
# Parts of a case

@dataclass
class Layer:
    """One layer: its length (or cells), refractive index, an optional index
    at its right end (graded layer) and, for the dot layer, the start and
    equilibrium values of columns 13..15 (see populations_to_columns)."""
    length: object = None
    n: float = 1.0
    cells: int | None = None
    n_end: float = 0.0
    name: str | None = None
    start: tuple = (0.0, 0.0, 0.0)
    equilibrium: tuple = (0.0, 0.0, 0.0)
    unused: float = 0.0

    @property
    def is_dots(self) -> bool:
        return any(v != 0 or math.isnan(v) for v in self.equilibrium)

    def cell_count(self, dz: float, notes: list) -> int:
        label = f"layer {self.name}" if self.name else "layer"
        if self.cells is not None:
            if self.length is not None:
                raise CaseError(f"layer {self.name or ''}: give its length or its cells, not both")
            return whole(self.cells, f"{label} cells", 0, MAX_COUNT)
        if self.length is None:
            raise CaseError(f"layer {self.name or ''}: give its length or its cells")
        length = si(self.length, LENGTH, f"{label} length", positive=True)
        if not length / dz <= MAX_COUNT:
            raise CaseError(f"{label} length: {self.length!r} is more than {MAX_COUNT} cells")
        cells = int(round(length / dz))
        if cells < 1:
            raise CaseError(f"layer {self.name or ''}: {self.length} is less than half a cell "
                            f"of {dz * 1e9:g} nm")
        if abs(cells * dz - length) > 1e-9 * length:
            notes.append(f"{label}: {length * 1e9:.6g} nm is {cells} cells of {dz * 1e9:g} nm "
                         f"= {cells * dz * 1e9:.6g} nm")
        return cells


@dataclass
class Pulse:
    """The pulse: shape and polarisation by name (or file code), `fwhm` of
    the field envelope or the pulse `length` T, `delay`, and `amplitude`
    [V/m] or `area` [rad].  `wavelength` None: the transition's resonance.
    `origin` 0: injected next to the right end."""
    shape: object = "gaussian"
    fwhm: object = None
    delay: object = 0.0
    amplitude: object = None
    area: float | None = None
    polarisation: object = "x"
    wavelength: object = None
    length: object = None
    origin: int = 0
    noise: float = 0.0
    id: int = 1
    unused: int = 0
    keep_delay: bool = False   # write the delay as given (a file read back as it is)

    def code(self, table, value, what):
        if isinstance(value, int) and not isinstance(value, bool):
            if value not in table.values():
                raise CaseError(f"pulse {what} code {value!r}: one of "
                                f"{', '.join(map(str, table.values()))}")
            return value
        if value not in table:
            raise CaseError(f"pulse {what} {value!r}: one of {', '.join(table)}")
        return table[value]


@dataclass
class Boundary:
    kind: object = "absorbing"     # "absorbing", "wall" or a file code
    reflection: float = 0.0
    word: str = ""

    @classmethod
    def of(cls, given, side):
        if isinstance(given, Boundary):
            found = given
        elif isinstance(given, tuple) and len(given) == 2:
            found = cls(given[0], given[1], f"{side}_boundary")
        else:
            found = cls(given, 0.0, f"{side}_boundary")
        # a reflection coefficient, at most total (a larger one would amplify)
        found.reflection = real(found.reflection, f"{side} reflection coefficient", -1.0, 1.0)
        if not re.fullmatch(r"\S*", found.word or ""):
            raise CaseError(f"{side} boundary word {found.word!r}: one word")
        return found

    def code(self):
        if isinstance(self.kind, int) and not isinstance(self.kind, bool):
            if self.kind not in BOUNDARIES.values():
                raise CaseError(f"boundary code {self.kind!r}: 1 (absorbing) or 2 (wall)")
            return self.kind
        if self.kind not in BOUNDARIES:
            raise CaseError(f"boundary {self.kind!r}: one of {', '.join(BOUNDARIES)}")
        return BOUNDARIES[self.kind]


def _matrix(given, units, what, symmetric_pairs=(), low=None):
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


# --------------------------------------------------------------------------
# The case

@dataclass
class Written:
    """What `Case.write` wrote: the file, the program's report of it (its
    `--check --json`), and the roundings of the case."""
    folder: Path
    check: dict
    notes: list

    @property
    def values(self) -> dict:
        return {k: v["value"] for k, v in self.check["inputs"].items()}


class Case:
    """A run of mps1d by name and unit (see the module's description)."""

    def __init__(self, *, dz="5 nm", courant=0.5, block_steps=5000, steps=None, time=None,
                 transition_energy="1.3 eV", levels=None, density=1e24,
                 relaxation=None, relaxation_scale=1.0, dephasing="10 fs", dephasing_scale=1.0,
                 dipole=6.4e-29, left="absorbing", right="absorbing", monitors=(), pulse=None,
                 layers=(), cavity=None, folders=("Results", "DiscardedResults", "Continue"),
                 iteration_limit=20, tolerance=1e-12, run_number=0, continue_from=0,
                 labels=(("spin_up", (1, 2)), ("spin_dn", (3, 4))), transitions=None):
        self.dz, self.courant, self.block_steps = dz, courant, block_steps
        self.steps, self.time = steps, time
        self.transition_energy, self.levels = transition_energy, levels
        self.density = density
        self.relaxation = DEFAULT_RELAXATION if relaxation is None else relaxation
        self.relaxation_scale, self.dephasing, self.dephasing_scale = (
            relaxation_scale, dephasing, dephasing_scale)
        self.dipole = dipole
        self.left, self.right = left, right
        self.monitors = list(monitors)
        # One Pulse, or several (pump and probe): they add up where they start.
        if pulse is None:
            pulse = Pulse()
        self.pulses = [pulse] if isinstance(pulse, Pulse) else list(pulse)
        if not self.pulses:
            raise CaseError("pulse: give at least one")
        self.layers = [copy.copy(l) for l in layers]
        self.cavity = cavity
        self.folders = tuple(folders)
        self.iteration_limit, self.tolerance = iteration_limit, tolerance
        self.run_number, self.continue_from = run_number, continue_from
        self.labels = labels
        self.transitions = transitions or [[0, 1, 0, 0], [1, 0, 0, 0], [0, 0, 0, 1], [0, 0, 1, 0]]

    @property
    def pulse(self):
        """The first pulse (its amplitude is the field scale E0)."""
        return self.pulses[0]

    @pulse.setter
    def pulse(self, value):
        """A Pulse replaces the first; a list of them replaces every pulse."""
        if isinstance(value, Pulse):
            self.pulses[0] = value
        else:
            self.pulses = list(value)

    # -- structure ---------------------------------------------------------

    def layer(self, length=None, n=1.0, *, cells=None, n_end=0.0, name=None) -> "Case":
        """Appends a layer without dots (n_end: graded towards that index)."""
        self.layers.append(Layer(length, real(n, "layer index n", positive=True), cells,
                                 real(n_end, "layer n_end", low=0.0), name))
        return self

    def dots(self, length=None, n=1.0, *, populations=(0.5, 0.0, 0.5, 0.0), equilibrium=None,
             cells=None, name="dots") -> "Case":
        """Appends the dot layer: its start populations rho11..rho44 and the
        equilibrium they relax to (default: the start populations)."""
        start = populations_to_columns(populations)
        eq = start if equilibrium is None else populations_to_columns(equilibrium)
        if not holds_dots((eq[0], eq[1] / SQRT3, eq[2] / SQRT6)):
            raise CaseError(f"equilibrium populations {equilibrium or populations}: the medium "
                            "counts a cell as holding dots only when its equilibrium has "
                            "rho22 < rho11 and either rho33 = rho44 = 1/4 or rho44 < 1/4 "
                            "with 3 rho33 + rho44 != 1")
        self.layers.append(Layer(length, real(n, "dot layer index n", positive=True), cells, 0.0,
                                 name, start, eq))
        return self

    # -- building the file -------------------------------------------------

    def _layer_row(self, ref, rows) -> int:
        if isinstance(ref, int):
            if not 1 <= ref <= len(rows):
                raise CaseError(f"cavity layer {ref}: the structure has {len(rows)} layers")
            return ref
        for k, layer in enumerate(self.layers, 1):
            if layer.name == ref:
                return k
        raise CaseError(f"cavity layer {ref!r}: no layer of that name")

    def _build(self):
        """(text, expected values by name, notes, dot cells or None)."""
        notes = []
        dz, dt, LL, Nt = self._steps(notes)
        levels, transition_J = self._levels()
        long = _matrix(self.relaxation, TIME, "relaxation time", low=0.0)
        deph = _matrix(self.dephasing, TIME, "dephasing time", low=0.0)
        scales = (real(self.relaxation_scale, "relaxation_scale", positive=True),
                  real(self.dephasing_scale, "dephasing_scale", positive=True))
        _check_times(long, deph, scales)
        dip = _matrix(self.dipole, DIPOLE, "dipole moment", ((0, 1), (1, 0), (2, 3), (3, 2)))
        density = si(self.density, DENSITY, "density", low=0.0)
        self._check_run(LL, Nt)

        rows = self.layers
        cells, starts, dot_cells, first, last = self._structure(dz, notes)
        monitors = [self._monitor_cell(m, dz, cells, starts) for m in self.monitors]

        if not all(isinstance(p, Pulse) for p in self.pulses):
            raise CaseError(f"pulse: give Pulse objects, not {self.pulses!r}")
        pulses = [self._pulse_items(p, dt, transition_J, (dip[0][1], dip[2][3]), notes,
                                    starts[-1]) for p in self.pulses]

        bl, br = Boundary.of(self.left, "left"), Boundary.of(self.right, "right")

        v = {}
        v["folder.results"], v["folder.discarded"], v["folder.continue"] = self.folders
        v["levels.count"] = 4
        for k, (name, energy, unit) in enumerate(levels, 1):
            v[f"level.{k}.name"], v[f"level.{k}.energy"], v[f"level.{k}.unit"] = name, energy, unit
        v["dots.density"] = density
        for k, (label, values) in enumerate(self.labels, 1):
            v[f"label.{k}.name"] = label
            for j, x in enumerate(values, 1):
                v[f"label.{k}.{j}"] = int(x)
        for prefix, m in (("transition", self.transitions), ("times", long),
                          ("dephasing", deph), ("dipole", dip)):
            for i in range(4):
                for j in range(4):
                    v[f"{prefix}.{i + 1}.{j + 1}"] = m[i][j]
        v["times.scale"], v["dephasing.scale"] = scales
        v["pulses.count"] = len(pulses)
        for n, items in enumerate(pulses, 1):
            for name, x in items:
                v[("pulse." if n == 1 else f"pulse.{n}.") + name] = x
        v["boundary.left.type"], v["boundary.right.type"] = bl.code(), br.code()
        v["boundary.left.reflection"] = float(bl.reflection)
        v["boundary.right.reflection"] = float(br.reflection)
        run = (("courant", float(self.courant)), ("LL", LL), ("number", int(self.run_number)),
               ("J_final", int(self.continue_from)), ("Nt", Nt),
               ("iteration_limit", int(self.iteration_limit)),
               ("tolerance", float(self.tolerance)))  # checked by _steps and _check_run
        for name, x in run:
            v["run." + name] = x
        v["monitors.count"] = len(monitors)
        for k, c in enumerate(monitors, 1):
            v[f"monitor.{k}"] = c
        v["structure.dz"], v["structure.first_cavity"], v["structure.last_cavity"] = dz, first, last
        for k, (layer, c) in enumerate(zip(rows, cells), 1):
            for name, x in zip(("cells", "unused", "index", "index_end", "a13", "a14", "a15",
                                "b13", "b14", "b15"),
                               (c, layer.unused, layer.n, layer.n_end, *layer.start,
                                *layer.equilibrium)):
                v[f"layer.{k}.{name}"] = x if name == "cells" else float(x)

        return _text(v, bl, br, pulses, run, rows, cells), v, notes, dot_cells

    def _check_run(self, LL, Nt):
        """The run control and the folders, each named when it cannot be written."""
        whole(self.run_number, "run_number", -MAX_COUNT - 1, MAX_COUNT)
        J = whole(self.continue_from, "continue_from", 0, Nt)
        if J % LL:
            raise CaseError(f"continue_from: {self.continue_from!r} is not a whole number of "
                            f"blocks of {LL} steps")
        whole(self.iteration_limit, "iteration_limit", 1, MAX_COUNT)
        real(self.tolerance, "tolerance", positive=True)
        if not (isinstance(self.folders, tuple) and len(self.folders) == 3):
            raise CaseError(f"folders: {self.folders!r}: give three folder names")
        for f in self.folders:
            # a folder line holds the text before a '#', on one line
            if not isinstance(f, str) or not f.strip() or f != f.strip() or "#" in f \
                    or any(ord(ch) < 32 for ch in f):
                raise CaseError(f"folder {f!r}: a name without '#', control characters or "
                                "blanks around it")
        for name, values in self.labels:
            if not re.fullmatch(r"\S+", str(name)):
                raise CaseError(f"label {name!r}: one word")
            for x in values:
                whole(x, f"label {name} level", 1, 4)
        if not (len(self.transitions) == 4 and all(len(row) == 4 for row in self.transitions)):
            raise CaseError("transitions: give 4 rows of 4 values")
        for row in self.transitions:
            for x in row:
                whole(x, "transitions entry", 0, 1)

    def _pulse_items(self, p, dt, transition_J, dipole, notes, cells):
        """The twelve (name, value) of a pulse line."""
        shape = p.code(SHAPES, p.shape, "shape")
        pol = p.code(POLARISATIONS, p.polarisation, "polarisation")
        if p.wavelength is None:
            wavelength_um = HC / transition_J * 1e6
        else:
            wavelength_um = si(p.wavelength, LENGTH, "pulse wavelength", shift=6, positive=True)
        duration, duration_code, T = self._pulse_length(p, shape, notes)
        _steps_of(T, dt, "pulse length", p.length if p.length is not None else p.fwhm)
        delay, delay_code = self._delay(p, shape, duration, duration_code, T, dt, notes)
        amplitude = self._amplitude(p, shape, pol, T, dipole, notes)  # dipole: (p12, p34)
        origin = 0 if p.origin in (0, "right", None) else whole(p.origin, "pulse origin", 0, cells)
        return (("id", whole(p.id, "pulse id", -MAX_COUNT - 1, MAX_COUNT)), ("shape", shape),
                ("wavelength", wavelength_um), ("fwhm", duration), ("fwhm_unit", duration_code),
                ("unused", whole(p.unused, "pulse unused", -MAX_COUNT - 1, MAX_COUNT)),
                ("amplitude", amplitude), ("polarisation", pol),
                ("noise", real(p.noise, "pulse noise", low=0.0)),
                ("origin", origin), ("delay", delay), ("delay_unit", delay_code))

    def _steps(self, notes):
        """dz [m], dt [s], the block length and the total steps."""
        dz = si(self.dz, LENGTH, "dz", positive=True)
        # the leapfrog scheme is stable for S <= 1 (and S/n <= 1, which the program checks)
        dt = real(self.courant, "courant", positive=True, high=1.0) * dz / 299792458.0
        LL = whole(self.block_steps, "block_steps", 1, MAX_STEPS)
        if (self.steps is None) == (self.time is None):
            raise CaseError("give the total steps (steps=) or the simulated time (time=), "
                            "one of them")
        if self.steps is not None:
            Nt = whole(self.steps, "steps", 0, MAX_STEPS)
        else:
            wanted = si(self.time, TIME, "time", positive=True)
            blocks = max(1, math.ceil(_steps_of(wanted, dt, "time", self.time) / LL - 1e-9))
            Nt = (blocks - 1) * LL
            if Nt > MAX_STEPS:
                raise CaseError(f"time: {self.time!r} is more than the {MAX_STEPS} steps a "
                                "run can count")
            notes.append(f"time {self.time}: {blocks} blocks of {LL} steps of "
                         f"{dt * 1e15:.6g} fs = {_show_time(blocks * LL * dt)} (Nt {Nt})")
        return dz, dt, LL, Nt

    def _levels(self):
        """The level rows and the transition energy [J]."""
        # rows 1 and 3 the transition, 2 and 4 zero
        if self.levels is not None:
            if len(self.levels) != 4 or not all(len(row) == 3 for row in self.levels):
                raise CaseError("levels: give four rows (name, energy, unit code)")
            levels = [(n, real(e, f"level {n} energy"), whole(u, f"level {n} unit", 0, 2))
                      for n, e, u in self.levels]
            real(levels[0][1], "levels: the transition energy (level 1)", positive=True)
        else:
            energy, unit = quantity(self.transition_energy, {u: 1.0 for u in ENERGY_UNITS},
                                    "transition energy")
            if unit is None:
                raise CaseError("transition energy: give its unit (eV, meV or ueV)")
            real(energy, "transition energy", positive=True)
            code = ENERGY_UNITS[unit]
            levels = [(n, energy if z is not None else 0.0, code) for n, z in DEFAULT_LEVELS]
        transition_J = EV * levels[0][1] * {0: 1.0, 1: 1e-3, 2: 1e-6}.get(levels[0][2], 0.0)

        return levels, transition_J

    def _structure(self, dz, notes):
        """Cells per layer row, the cells before each row (and in all), the
        dot layer's cells (or None) and the first and last cavity layer."""
        if not self.layers:
            raise CaseError("the structure has no layers")
        for k, l in enumerate(self.layers, 1):
            if not isinstance(l, Layer):
                raise CaseError(f"layer {k}: {l!r} is not a Layer")
            label = f"layer {l.name or k}"
            real(l.n, f"{label} index n", positive=True)
            real(l.n_end, f"{label} n_end", low=0.0)   # 0: not graded
            real(l.unused, f"{label} unused column")
            for what, values in (("start", l.start), ("equilibrium", l.equilibrium)):
                if len(values) != 3:
                    raise CaseError(f"{label} {what}: give the three columns 13..15")
                for x in values:
                    real(x, f"{label} {what} column")
        cells = [l.cell_count(dz, notes) for l in self.layers]
        rows = self.layers
        dot_rows = [k for k, l in enumerate(rows, 1) if l.is_dots]
        if len(dot_rows) > 1:
            raise CaseError(f"layers {dot_rows} hold dots: the program's dot region holds the "
                            "first dot layer's cells only, so a case has one dot layer")
        starts = [sum(cells[:k]) for k in range(len(cells) + 1)]  # S(0..L)
        dot_cells = None
        if dot_rows:
            k = dot_rows[0]
            dot_cells = (starts[k - 1] + 1, starts[k])
            if k == 1 and len(rows) > 1:
                raise CaseError("the dot layer is the first layer: put a layer before it "
                                "(a cavity starting at the first layer is that layer alone)")
        if self.cavity is not None:
            first, last = (self._layer_row(r, rows) for r in self.cavity)
        elif dot_rows:
            k = dot_rows[0]
            wide = 2 < k < len(rows) and cells[k - 2] == cells[k]
            first, last = (k - 1, k + 1) if wide else (k, k)
        else:
            first = last = min(2, len(rows))
        if dot_rows:
            left_cell = starts[first - 1]
            right_cell = starts[last] if last < len(rows) else starts[-1]
            d = abs(right_cell - left_cell) - cells[dot_rows[0] - 1]
            z1, z2 = left_cell + int(d / 2) + 1, right_cell - int(d / 2)
            if (z1, z2) != dot_cells:
                notes.append(f"cavity layers {first}..{last}: the program puts the dots in cells "
                             f"{z1}..{z2}, the dot layer is cells {dot_cells[0]}..{dot_cells[1]}")
        return cells, starts, dot_cells, first, last

    def _monitor_cell(self, m, dz, cells, starts) -> int:
        if isinstance(m, int) and not isinstance(m, bool):
            return whole(m, "monitor cell", 1, starts[-1])
        for k, layer in enumerate(self.layers, 1):
            if layer.name is not None and layer.name == m:
                return starts[k - 1] + (cells[k - 1] + 1) // 2
        z = si(m, LENGTH, f"monitor {m!r} (a cell, a position or a layer name)", low=0.0)
        if z > starts[-1] * dz:
            raise CaseError(f"monitor {m!r}: beyond the structure's {starts[-1] * dz:g} m")
        return max(1, math.ceil(z / dz - 1e-9))

    @staticmethod
    def _pulse_length(p, shape, notes):
        """(number, unit code, seconds) of the pulse line's duration."""
        if p.length is not None and p.fwhm is not None:
            raise CaseError("pulse: give its fwhm or its length, not both")
        if p.length is not None:
            si(p.length, TIME, "pulse length", positive=shape in (2, 3), low=0.0)
            number, code = _in_unit(p.length, TIME, DURATION_UNITS, "pulse length")
        elif p.fwhm is not None:
            if shape in (1, 4):
                raise CaseError("pulse: a cw or turn-on pulse has no FWHM; give its length "
                                "(the delay counts in it)")
            fwhm = si(p.fwhm, TIME, "pulse fwhm", positive=True)
            if shape == 2:
                T = fwhm / SECH_FWHM_PER_LENGTH
                number, code = _in_unit(T, TIME, DURATION_UNITS, "pulse length")
                notes.append(f"sech pulse of FWHM {p.fwhm}: pulse length T = "
                             f"{number:.6g} {'fs' if code == 0 else 'ps'} "
                             "(envelope sech(20 (t - T/2)/T))")
            else:
                number, code = _in_unit(p.fwhm, TIME, DURATION_UNITS, "pulse fwhm")
        else:
            number, code = 0.0, 0
            if shape in (2, 3):
                raise CaseError("pulse: a sech or Gaussian pulse needs its fwhm (or length)")
        return number, code, number * (1e-15, 1e-12)[code]

    @staticmethod
    def _delay(p, shape, duration, duration_code, T, dt, notes):
        """(number, unit code) of the delay such that the program's
        trunc(delay/duration) is the number of whole pulse lengths the
        delay holds."""
        _steps_of(si(p.delay, TIME, "pulse delay", low=0.0), dt, "pulse delay", p.delay)
        number, code = _in_unit(p.delay, TIME, DELAY_UNITS, "pulse delay")
        if T == 0.0 or p.keep_delay:
            return number, code
        dfac = (1e-15, 1e-12, 1e-9)
        durfac = (1e-15, 1e-12)[duration_code]
        wanted_s = number * dfac[code]
        # The program counts m = trunc(delay / length) whole lengths.  Any
        # other pulse starts m lengths T after step 0; a Gaussian peaks at
        # step m W, W its width tau = FWHM/(2 sqrt(ln 2)) in whole steps, so
        # its delay is the peak time, m the nearest whole number of widths.
        W = int(T / FWHM_FACTOR / dt + 0.5) if shape == 3 else 0
        if shape == 3:
            m = max(0, round(wanted_s / (W * dt)))
        else:
            m = math.floor(wanted_s / T + 1e-9)

        def ratio(x, c):
            return math.trunc((x * dfac[c]) / (duration * durfac))

        candidates = [(number, code)]
        for c in (duration_code, 0, 1, 2):
            candidates.append((float(f"{m * duration * durfac / dfac[c]:.15g}"), c))
        # The delay as given, else m lengths in each unit, else the first of
        # those nudged up by a few units in the last place.
        chosen = next(((x, c) for x, c in candidates if ratio(x, c) == m), None)
        for x, c in candidates[1:] if chosen is None else ():
            for _ in range(8):
                x = math.nextafter(x, math.inf)
                if ratio(x, c) == m:
                    chosen = (x, c)
                    break
            if chosen:
                break
        if chosen is None:
            raise CaseError(f"pulse delay {p.delay}: no delay the file can hold gives {m} "
                            "whole pulse lengths")
        if chosen != (number, code):
            notes.append(f"pulse delay {p.delay} written as {format_value(REAL, chosen[0])} "
                         f"{('fs', 'ps', 'ns')[chosen[1]]} so that it counts as {m} pulse lengths")
        if shape == 3 and m < 3:
            notes.append(f"pulse delay {p.delay}: the Gaussian peaks {m} widths tau = FWHM/"
                         f"(2 sqrt(ln 2)) after step 0, so it starts at exp(-{m * m}) of its "
                         "peak (a delay of 3 widths or more injects all of it)")
        if shape == 3:
            if abs(m * W * dt - wanted_s) > 1e-3 * W * dt:
                notes.append(f"pulse delay {p.delay}: the Gaussian peaks at step {m * W} "
                             f"({_show_time(m * W * dt)}), {m} whole widths tau of {W} steps")
        elif abs(m * T - wanted_s) > 1e-9 * T:
            notes.append(f"pulse delay {p.delay} counts as {m} whole pulse lengths of "
                         f"{_show_time(T)}: the pulse starts at {_show_time(m * T)}")
        return chosen

    @staticmethod
    def _amplitude(p, shape, pol, T, dipole, notes):
        """The amplitude [V/m], given or from the pulse area A = p int(E dt)/hbar,
        E the envelope of the circular field that turns with the dipole it
        drives: all of a sigma+ pulse (1-2, p12) or a sigma- pulse (3-4, p34,
        driven with mps1d --both-transitions), half of a linear one (a linear
        field is two counter-rotating circular fields of half its amplitude)."""
        if (p.amplitude is None) == (p.area is None):
            raise CaseError("pulse: give its amplitude or its area, one of them")
        if p.amplitude is not None:
            return si(p.amplitude, FIELD, "pulse amplitude")
        area = real(p.area, "pulse area")
        if shape == 2:
            integral = math.pi * T / 20.0
        elif shape == 3:
            integral = T / FWHM_FACTOR * math.sqrt(math.pi)
        else:
            raise CaseError("pulse area: only a sech or Gaussian pulse has one")
        share = {1: 0.5, 2: 0.5, 3: 1.0, 4: 1.0}.get(pol)
        if share is None:
            raise CaseError("pulse area: a pulse of this polarisation has none")
        p12, p34 = dipole
        moment = p34 if pol == 4 else p12
        if moment == 0:
            raise CaseError(f"pulse area: the dipole moment ({'3,4' if pol == 4 else '1,2'}) is "
                            "0, so no amplitude gives an area")
        amplitude = area * HBAR / (moment * integral * share)
        if not math.isfinite(amplitude):
            raise CaseError(f"pulse area: {p.area!r} needs an amplitude beyond a double")
        notes.append(f"pulse area {area:.6g} rad: amplitude {amplitude:.6g} V/m" +
                     (" (a linear field drives 1-2 with half its amplitude)" if share < 1 else
                      " (on 3-4, which sigma- light drives with mps1d --both-transitions)"
                      if pol == 4 else ""))
        return amplitude

    # -- what is offered -----------------------------------------------------

    def execdata_text(self) -> str:
        return self._build()[0]

    def values(self) -> dict:
        """Every value of the file by the program's names, as the case writes them."""
        return self._build()[1]

    def notes(self) -> list:
        """The roundings and choices made in writing the file, as sentences."""
        return _counted(self._build()[2])

    def write(self, folder) -> Written:
        """Writes folder/execdata.txt and its three result folders, has the
        program read and check it (`--check --json`), and makes sure it reads
        every value as the case wrote it; CaseError when not."""
        text, expected, notes, dot_cells = self._build()
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        fileio.write_text(folder / "execdata.txt", text)
        for name in self.folders:
            (folder / name).mkdir(parents=True, exist_ok=True)
        check = check_folder(folder)
        got = {k: item["value"] for k, item in check["inputs"].items()}
        wrong = [f"{k}: written {expected.get(k, '(nothing)')!r}, read {got.get(k, '(nothing)')!r}"
                 for k in sorted(set(expected) | set(got)) if not _same(expected.get(k),
                                                                        got.get(k))]
        if wrong:
            raise CaseError(f"{folder}/execdata.txt is read with other values than written:\n"
                            + "\n".join(wrong[:20]))
        derived = check["derived"]
        if dot_cells and self.cavity is None and (derived["z1"], derived["z2"]) != dot_cells:
            raise CaseError(f"the program puts the dots in cells {derived['z1']}..{derived['z2']}, "
                            f"the dot layer is cells {dot_cells[0]}..{dot_cells[1]}")
        return Written(folder, check, _counted(notes))

    def run(self, folder, threads=None, legacy_model=False, source=None, output=None,
            both_transitions=False, ensemble=None, overwrite=False, timeout=None):
        """Writes the case into `folder`, runs the program there and returns
        mps1d.load(folder).  `source` ('hard', 'transparent') and `output`
        ('text', 'hdf5') are the program's options of those names.
        `ensemble` (K, FWHM [meV]) broadens the dots into K spectral classes
        per dot cell over a Gaussian of that full width (the program's
        --ensemble=K,FWHM; K from 1 to 256, K = 1 leaves the dots alike); the
        HDF5 snapshots of such a run hold every class (Run.classes).  Result
        folders that are not empty are an error unless `overwrite` (then they
        are emptied first)."""
        ensemble_option = None
        if ensemble is not None:
            if not isinstance(ensemble, (tuple, list)) or len(ensemble) != 2:
                raise CaseError(f"ensemble {ensemble!r}: give (K, FWHM), K spectral classes "
                                "and their full width in meV")
            try:
                ensemble_option = _program.ensemble_option(*ensemble)
            except ValueError as e:
                raise CaseError(f"ensemble {tuple(ensemble)!r}: {e}") from None
        folder = Path(folder)
        for name in self.folders:
            d = folder / name
            if d.is_dir() and any(d.iterdir()):
                if not overwrite:
                    raise CaseError(f"{d} is not empty: run elsewhere or pass overwrite=True")
                for f in d.iterdir():
                    if f.is_file() or f.is_symlink():
                        f.unlink()
        self.write(folder)
        options = []
        if threads is not None:
            options.append(f"--threads={int(threads)}")
        if legacy_model:
            options.append("--legacy-model")
        if both_transitions:
            options.append("--both-transitions")
        if ensemble_option:
            options.append(ensemble_option)
        if source is not None:
            if source not in ("hard", "transparent"):
                raise CaseError(f"source {source!r}: 'hard' or 'transparent'")
            options.append(f"--source={source}")
        if output is not None:
            if output not in ("text", "hdf5"):
                raise CaseError(f"output {output!r}: 'text' or 'hdf5'")
            options.append(f"--output={output}")
        program = _program.find_program()
        try:
            r = subprocess.run([program, *options, str(folder.resolve())], cwd=folder,
                               stdin=subprocess.DEVNULL, capture_output=True, text=True,
                               errors="replace", timeout=timeout)
        except OSError as e:
            raise CaseError(f"cannot start {program}: {e.strerror}") from None
        fileio.write_text(folder / "mps1d.out", r.stdout)
        fileio.write_text(folder / "mps1d.err", r.stderr)
        if r.returncode != 0:
            raise CaseError(f"{program} ends with exit status {r.returncode} in {folder}:\n"
                            + _program.report_text(r.stdout, r.stderr))
        from .run import load
        return load(folder)

    @classmethod
    def from_execdata(cls, path) -> "Case":
        """The case of an existing file, value for value: writing it gives a
        file the program reads to the same values."""
        from .inputs import read_inputs
        i = read_inputs(path)
        pulses = [_pulse_of(p, path) for p in [i.pulse, *i.further_pulses]]
        layers = [Layer(None, float(r[2]), int(r[0]), float(r[3]), None, tuple(map(float, r[4:7])),
                        tuple(map(float, r[7:10])), float(r[1])) for r in i.layers]
        b = i.boundaries
        tables = [[[float(x) for x in row] for row in m] for m in (i.long_times, i.dephasing_times,
                                                                 i.dipoles)]
        return cls(dz=i.dz, courant=i.courant, block_steps=i.LL, steps=i.Nt, levels=i.levels,
                   density=i.dipole_density, relaxation=tables[0],
                   relaxation_scale=i.long_time_scale, dephasing=tables[1],
                   dephasing_scale=i.dephasing_scale, dipole=tables[2],
                   left=Boundary(b["left"], b["reflection_left"], "left_boundary"),
                   right=Boundary(b["right"], b["reflection_right"], "right_boundary"),
                   monitors=list(i.monitor_cells), pulse=pulses, layers=layers,
                   cavity=(i.first_cavity, i.last_cavity), folders=i.folders,
                   iteration_limit=i.iteration_limit, tolerance=i.tolerance,
                   run_number=i.run_number, continue_from=i.J_final,
                   labels=[(name, tuple(values)) for name, values in i.labels],
                   transitions=[[int(x) for x in row] for row in i.transitions])


def _check_times(long, deph, scales):
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


def _pulse_of(p, path) -> Pulse:
    """The builder's Pulse of a pulse line as read (inputs.Pulse)."""
    dunit, delunit = ("fs", "ps")[p.duration_unit] if p.duration_unit in (0, 1) else None, \
        ("fs", "ps", "ns")[p.delay_unit] if p.delay_unit in (0, 1, 2) else None
    if dunit is None or delunit is None:
        raise CaseError(f"{path}: pulse unit codes {p.duration_unit}, {p.delay_unit} "
                        "hold no time")
    return Pulse(shape=p.shape, length=(p.duration, dunit), delay=(p.delay, delunit),
                 amplitude=p.amplitude, polarisation=p.polarisation,
                 wavelength=(p.wavelength_um, "um"), origin=p.origin, noise=p.noise,
                 id=p.id, unused=p.unused, keep_delay=True)


def _counted(notes) -> list:
    """The notes once each, in order, repeated ones with their count."""
    counts = {}
    for n in notes:
        counts[n] = counts.get(n, 0) + 1
    return [n if k == 1 else f"{n} ({k} times)" for n, k in counts.items()]


def _same(a, b) -> bool:
    if isinstance(a, float) or isinstance(b, float):
        return a is not None and b is not None and float(a) == float(b)
    return a == b


def check_folder(folder) -> dict:
    """The program's `--check --json` report of the case in `folder`."""
    program = _program.find_program()
    try:
        r, report = _program.run_check(program, folder, timeout=120)
    except _program.ProgramError as e:
        raise CaseError(str(e)) from None
    if r.returncode == 0 and isinstance(report, dict) and "inputs" in report:
        return report
    if isinstance(report, dict) and "inputs" in report:
        problem = report.get("folders", {}).get("problem") or r.stderr.strip()
        raise CaseError(f"the program reads {folder}/execdata.txt but cannot run it: {problem}")
    raise CaseError(f"the program rejects {folder}/execdata.txt (exit status {r.returncode}):\n"
                    + _program.report_text(r.stdout, r.stderr))


def _num(x, kind=REAL) -> str:
    return format_value(kind, x)


def _line(value: str, comment: str) -> str:
    """A one-value line with its comment, as the examples align them."""
    return f"{value:<24} # {comment}"


def _text(v, bl, br, pulses, run, rows, cells) -> str:
    """The file, in the layout of the bundled examples (TAB-separated tables)."""
    def row(prefix, i):
        return "\t".join(_num(v[f"{prefix}.{i}.{j}"], INT if prefix == "transition" else REAL)
                         for j in range(1, 5))

    out = [_line(v["folder.results"], "folder for snapshots, block traces, param.txt and n_z.dat"),
           _line(v["folder.discarded"], "folder for the running statistics"),
           _line(v["folder.continue"], "folder a continued run restores its snapshot from"),
           _line("4", "number of levels"),
           "name\tenergy\tunit (0 eV, 1 meV, 2 ueV)"]
    for k in range(1, 5):
        out.append(f"{v[f'level.{k}.name']} {_num(v[f'level.{k}.energy'])} "
                   f"{v[f'level.{k}.unit']}")
    out += ["# end of level table",
            _line(_num(v["dots.density"]), "density of resonant dipoles [m^-3]")]
    k = 1
    while f"label.{k}.name" in v:
        values = [str(v[f"label.{k}.{j}"]) for j in range(1, 5) if f"label.{k}.{j}" in v]
        out.append(f"{v[f'label.{k}.name']} " + "\t".join(values))
        k += 1
    out.append("# end of label table; transition table follows (1 = transition selected)")
    out += [row("transition", i) for i in range(1, 5)]
    out += ["# end of transition table",
            _line(_num(v["times.scale"]), "scale factor of the population and spin-flip times")]
    out += [row("times", i) for i in range(1, 5)]
    out += ["# end of population and spin-flip times [s] (row i, column j: transfer i -> j)",
            _line(_num(v["dephasing.scale"]), "scale factor of the dephasing times")]
    out += [row("dephasing", i) for i in range(1, 5)]
    out.append("# end of dephasing times [s]; dipole moments [C m] follow")
    out += [row("dipole", i) for i in range(1, 5)]
    out += ["# end of dipole moments", _line(str(len(pulses)), "number of pulses")]
    kinds = {"id": INT, "shape": INT, "fwhm_unit": INT, "unused": INT, "polarisation": INT,
             "origin": INT, "delay_unit": INT}
    for k, items in enumerate(pulses):
        out.append(" ".join(_num(x, kinds.get(n, REAL)) for n, x in items) +
                   ("   # id shape wavelength[um] fwhm unit(0 fs,1 ps) - amplitude[V/m] "
                    "polarisation noise origin delay unit(0 fs,1 ps,2 ns)" if k == 0 else ""))
    out += ["# boundary conditions: 1 absorbing with reflection coefficient, 2 conducting wall",
            "# code and a word per side, then the reflection coefficients",
            f"{bl.code()} {bl.word or 'left_boundary'}",
            f"{br.code()} {br.word or 'right_boundary'}",
            _line(_num(bl.reflection), "reflection coefficient, left"),
            _line(_num(br.reflection), "reflection coefficient, right"),
            "# run control"]
    r = dict(run)
    out += [f"Courant number {_num(r['courant'])} S",
            f"steps between two spatial dumps LL {r['LL']} steps",
            f"run number {r['number']} -",
            f"continue from stored step J_final {r['J_final']} -",
            f"total number of time steps {r['Nt']} -",
            f"iteration limit {r['iteration_limit']} -",
            f"tolerance {_num(r['tolerance'])} -",
            f"{v['monitors.count']} monitor_cells"]
    out += [str(v[f"monitor.{k}"]) for k in range(1, v["monitors.count"] + 1)]
    out += ["# spatial step [m], first and last cavity layer; then one row per layer:",
            f"{_num(v['structure.dz'])} {v['structure.first_cavity']} {v['structure.last_cavity']}"]
    for k, layer in enumerate(rows, 1):
        values = "\t".join(_num(v[f"layer.{k}.{c}"], INT if c == "cells" else REAL)
                           for c in ("cells", "unused", "index", "index_end", "a13", "a14", "a15",
                                     "b13", "b14", "b15"))
        comment = "cells - n n_end a13 a14 a15 b13 b14 b15" if k == 1 else ""
        if layer.name:
            comment = f"{layer.name}: {comment}" if comment else layer.name
        out.append(values + (f"\t# {comment}" if comment else ""))
    return "\n".join(out) + "\n"
