"""The input file `execdata.txt` of a run, and what follows from it.

The file is read top to bottom in the order the solver reads it: folder
lines, level table, dipole density, label table, transition table, the time
tables, dipole moments, pulse, boundaries, run control, monitor cells and
the layer table.  Values are free-format (blanks, TABs or commas; `/` ends a
line's values; text after the values a line needs is ignored).  The checks
belong to the solver: this reader only takes the values out.
"""
import math
import re
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from .fortran import parse_number

C0 = 299792458.0  # speed of light [m/s]
SQRT3 = math.sqrt(3.0)
SQRT6 = math.sqrt(6.0)
MAX_LAYERS = 500
LAYER_COLUMNS = ("cells", "unused", "n", "n_end", "a13", "a14", "a15", "b13", "b14", "b15")

# Position of the value among the words of each run-control line.
_RUN_CONTROL = (("courant", 2, float), ("LL", 6, int), ("run_number", 2, int),
                ("J_final", 5, int), ("Nt", 5, int), ("iteration_limit", 2, int),
                ("tolerance", 1, float))
_DURATION_UNIT = {0: 1e-15, 1: 1e-12}
_DELAY_UNIT = {0: 1e-15, 1: 1e-12, 2: 1e-9}
_ENERGY_UNIT = {0: 1.0, 1: 1e-3, 2: 1e-6}


class InputError(ValueError):
    """A line of execdata.txt that does not hold what its place needs."""


@dataclass
class Pulse:
    """The pulse line, as written (wavelength in µm, times in their units)."""
    id: int
    shape: int           # 1 cw, 2 sech, 3 Gaussian, 4 turn-on, 5 noise
    wavelength_um: float
    duration: float
    duration_unit: int   # 0 fs, 1 ps
    unused: float
    amplitude: float     # V/m
    polarisation: int    # 1 x, 2 y, 3 and 4 circular
    noise: float
    origin: int          # 0 = right end
    delay: float
    delay_unit: int      # 0 fs, 1 ps, 2 ns

    @property
    def duration_s(self):
        return self.duration * _DURATION_UNIT.get(self.duration_unit, 0.0)

    @property
    def delay_s(self):
        return self.delay * _DELAY_UNIT.get(self.delay_unit, 0.0)

    @property
    def wavelength_m(self):
        return self.wavelength_um * 1e-6


@dataclass
class Inputs:
    """Everything execdata.txt holds, plus the grid quantities derived from it."""
    path: Path
    folders: tuple                # results, statistics, continuation (as written)
    levels: list                  # (name, energy, unit code)
    dipole_density: float         # m^-3
    labels: list                  # (label, values)
    transitions: np.ndarray       # 4 x 4
    long_time_scale: float
    long_times: np.ndarray        # 4 x 4 [s], before scaling
    dephasing_scale: float
    dephasing_times: np.ndarray   # 4 x 4 [s], before scaling
    dipoles: np.ndarray           # 4 x 4 [C m]
    pulse: Pulse
    boundaries: dict
    courant: float
    LL: int
    run_number: int
    J_final: int
    Nt: int
    iteration_limit: int
    tolerance: float
    monitor_cells: list           # the user's cells, as listed
    dz: float                     # m
    first_cavity: int
    last_cavity: int
    layers: np.ndarray = field(repr=False)  # rows x 10, columns LAYER_COLUMNS

    @property
    def dt(self):
        """Time step [s]: S dz / c."""
        return self.courant * self.dz / C0

    @property
    def NZ(self):
        return int(self.layers[:, 0].sum()) if len(self.layers) else 0

    @property
    def E0(self):
        """Field scale of Ex and Ey in the result files [V/m]."""
        return self.pulse.amplitude if self.pulse.amplitude != 0.0 else 1.0

    @property
    def transition_energy_J(self):
        name, energy, unit = self.levels[0]
        return 1.602176634e-19 * energy * _ENERGY_UNIT.get(unit, 1.0)

    def folder(self, which):
        """Absolute path of the 'results', 'statistics' or 'continuation' folder."""
        index = ("results", "statistics", "continuation").index(which)
        return self.path.parent / self.folders[index]

    def cavity_cells(self):
        """(last cell before the cavity, last cell of the cavity), as the solver
        counts them."""
        return _cavity_cells(self.layers, self.first_cavity, self.last_cavity)

    def dot_region(self):
        """(z1, z2): the first and last dot cell (1-based), a region of the
        first dot layer's thickness centred in the cavity."""
        left, right = self.cavity_cells()
        d = abs(right - left) - _active_cells(self.layers, self.first_cavity)
        h = int(d / 2)  # truncated toward zero: d may be negative
        return left + h + 1, right - h

    def per_cell(self, column):
        """One layer-table column spread over the cells 1..NZ (index 0 = cell 1)."""
        j = LAYER_COLUMNS.index(column)
        counts = self.layers[:, 0].astype(int)
        return np.repeat(self.layers[:, j], counts)

    def equilibrium(self):
        """(u13eq, u14eq, u15eq) of every cell: columns b13, b14/sqrt3, b15/sqrt6."""
        return (self.per_cell("b13"), self.per_cell("b14") / SQRT3,
                self.per_cell("b15") / SQRT6)


def _cavity_cells(layers, first, last):
    total, left, right = 0, None, None
    for j, cells in enumerate(layers[:, 0].astype(int), 1):
        if j == 1 and first == 1:
            return 1, cells
        if j == first:
            left = total
        if j == last + 1:
            right = total
        total += cells
    return (0 if left is None else left), (total if right is None else right)


def _active_cells(layers, first):
    """Cells of the first dot layer; without one, of the layer after the first
    cavity layer (0 when there is none)."""
    for row in layers:
        if not np.all(row[7:10] == 0.0):
            return int(row[0])
    return int(layers[first, 0]) if 0 <= first < len(layers) else 0


class _Lines:
    """A cursor over the lines of the file, with the solver's reading rules."""

    def __init__(self, text, path):
        self.lines = text.splitlines()
        self.index = 0
        self.path = path

    def record(self, what):
        if self.index >= len(self.lines):
            raise InputError(f"{self.path}: the file ends where {what} should follow")
        self.index += 1
        return self.lines[self.index - 1]

    def at_end(self):
        self.skip_blank()
        return self.index >= len(self.lines)

    def skip_blank(self):
        while self.index < len(self.lines) and not self.lines[self.index].strip():
            self.index += 1

    def tokens(self, count, what):
        """The first `count` values of the next non-blank line, as text."""
        self.skip_blank()
        line = self.record(what)
        found = free_format(line)
        if len(found) < count:
            raise InputError(f"{self.path}, line {self.index}: cannot read {what} from {line!r}")
        return found[:count]

    def numbers(self, count, what):
        try:
            return [parse_number(t) for t in self.tokens(count, what)]
        except ValueError as error:
            raise InputError(f"{self.path}, line {self.index}: {what}: {error}") from None

    def table(self, what):
        """The rows up to the line that starts with '#', as token lists."""
        rows = []
        while True:
            self.skip_blank()
            line = self.record(what)
            if line.startswith("#"):
                return rows
            rows.append(free_format(line))


def free_format(line):
    """The value fields of a line: text before '#' and '/', split at blanks,
    TABs and commas."""
    text = re.split(r"[#/]", line, maxsplit=1)[0]
    return [t for t in re.split(r"[\s,]+", text) if t]


def _matrix(rows):
    m = np.zeros((4, 4))
    for r, row in enumerate(rows[:4]):
        values = [parse_number(t) for t in row[:4]]
        m[r, :len(values)] = values
    return m


def _folder_line(lines, what):
    text = lines.record(what).split("#", 1)[0].rstrip(" \r")
    if not text:
        raise InputError(f"{lines.path}: empty folder name on the line of the {what}")
    return text


def _pulse(lines):
    values = lines.numbers(12, "the pulse line")
    ints = {0, 1, 4, 7, 9, 11}
    return Pulse(*[int(v) if k in ints else v for k, v in enumerate(values)])


def _boundaries(lines):
    lines.record("a comment line")
    lines.record("a comment line")
    left, right, refl_left, refl_right = (lines.numbers(1, what)[0] for what in
                                          ("the left boundary code", "the right boundary code",
                                           "the left reflection coefficient",
                                           "the right reflection coefficient"))
    return {"left": int(left), "right": int(right), "reflection_left": refl_left,
            "reflection_right": refl_right}


def _run_control(lines):
    lines.record("the run-control heading")
    values = {}
    for name, position, kind in _RUN_CONTROL:
        token = lines.tokens(position + 1, f"the {name} line")[position]
        values[name] = kind(parse_number(token))
    return values


def _layer_rows(lines, first_cavity):
    rows = []
    while len(rows) < MAX_LAYERS and not lines.at_end():
        rows.append(lines.numbers(10, "a layer row"))
        if len(rows) == 1 and first_cavity == 1:
            break  # the solver's table is that one row
    return np.array(rows, dtype=float).reshape(len(rows), 10)


def read_inputs(path):
    """Parses execdata.txt at `path` into an Inputs."""
    path = Path(path)
    lines = _Lines(path.read_text(encoding="latin-1"), path)
    folders = tuple(_folder_line(lines, what) for what in
                    ("results folder", "statistics folder", "continuation folder"))
    lines.numbers(1, "the number of levels")
    lines.record("the level table heading")
    levels = [(row[0], parse_number(row[1]), int(parse_number(row[2])))
              for row in lines.table("a level row")]
    dipole_density = lines.numbers(1, "the dipole density")[0]
    labels = [(row[0], [int(parse_number(t)) for t in row[1:]])
              for row in lines.table("a label row")]
    transitions = _matrix(lines.table("a transition row"))
    long_scale = lines.numbers(1, "the scale of the long times")[0]
    long_times = _matrix(lines.table("a row of the long times"))
    dephasing_scale = lines.numbers(1, "the scale of the dephasing times")[0]
    dephasing = _matrix(lines.table("a row of the dephasing times"))
    dipoles = _matrix(lines.table("a row of the dipole moments"))
    lines.numbers(1, "the number of pulses")
    pulse = _pulse(lines)
    boundaries = _boundaries(lines)
    control = _run_control(lines)
    count = int(lines.numbers(1, "the number of monitor cells")[0])
    monitors = [int(lines.numbers(1, "a monitor cell")[0]) for _ in range(count)]
    lines.record("the structure heading")
    dz, first, last = lines.numbers(3, "the spatial line")
    layers = _layer_rows(lines, int(first))
    return Inputs(path=path, folders=folders, levels=levels, dipole_density=dipole_density,
                  labels=labels, transitions=transitions, long_time_scale=long_scale,
                  long_times=long_times, dephasing_scale=dephasing_scale,
                  dephasing_times=dephasing, dipoles=dipoles, pulse=pulse,
                  boundaries=boundaries, monitor_cells=monitors, dz=dz,
                  first_cavity=int(first), last_cavity=int(last), layers=layers, **control)
