"""The input file `execdata.txt` of a run, and what follows from it.

The program reads and checks the file (`mps1d --check --json`) and reports
every value by name with the grid quantities derived from it; this module
puts them into an `Inputs`.
"""
import math
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from . import fileio
from .program import ProgramError, RejectedInput, check_text

C0 = 299792458.0  # speed of light [m/s]
SQRT3 = math.sqrt(3.0)
SQRT6 = math.sqrt(6.0)
LAYER_COLUMNS = ("cells", "unused", "n", "n_end", "a13", "a14", "a15", "b13", "b14", "b15")
# The program's names of the layer columns ("layer.3.index").
_LAYER_NAMES = ("cells", "unused", "index", "index_end", "a13", "a14", "a15", "b13", "b14", "b15")
_PULSE_NAMES = ("id", "shape", "wavelength", "fwhm", "fwhm_unit", "unused", "amplitude",
                "polarisation", "noise", "origin", "delay", "delay_unit")
_RUN_NAMES = {"courant": "run.courant", "LL": "run.LL", "run_number": "run.number",
              "J_final": "run.J_final", "Nt": "run.Nt", "iteration_limit": "run.iteration_limit",
              "tolerance": "run.tolerance"}
_DURATION_UNIT = {0: 1e-15, 1: 1e-12}
_DELAY_UNIT = {0: 1e-15, 1: 1e-12, 2: 1e-9}
_ENERGY_UNIT = {0: 1.0, 1: 1e-3, 2: 1e-6}


class InputError(ValueError):
    """An input file the program rejects (the message is its report)."""


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
    pulse: Pulse                  # the first pulse line (its amplitude is E0)
    further_pulses: list          # Pulse of lines 2..N
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
    derived: dict = field(default_factory=dict, repr=False)  # the program's derived values

    @property
    def dt(self):
        """Time step [s]: S dz / c."""
        return self.courant * self.dz / C0

    @property
    def NZ(self):
        return self.derived["NZ"]

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
        return self.derived["cavity_first"] - 1, self.derived["cavity_last"]

    def dot_region(self):
        """(z1, z2): the first and last dot cell (1-based), a region of the
        first dot layer's thickness centred in the cavity."""
        return self.derived["z1"], self.derived["z2"]

    def per_cell(self, column):
        """One layer-table column spread over the cells 1..NZ (index 0 = cell 1)."""
        j = LAYER_COLUMNS.index(column)
        counts = self.layers[:, 0].astype(int)
        return np.repeat(self.layers[:, j], counts)

    def equilibrium(self):
        """(u13eq, u14eq, u15eq) of every cell: columns b13, b14/sqrt3, b15/sqrt6."""
        return (self.per_cell("b13"), self.per_cell("b14") / SQRT3,
                self.per_cell("b15") / SQRT6)


def _matrix(values, prefix):
    return np.array([[values[f"{prefix}.{i}.{j}"] for j in range(1, 5)] for i in range(1, 5)],
                    dtype=float)


def _numbered(values, prefix, suffix=""):
    """values[prefix.1 suffix], values[prefix.2 suffix], ... while they exist."""
    out, k = [], 1
    while f"{prefix}.{k}{suffix}" in values:
        out.append(values[f"{prefix}.{k}{suffix}"])
        k += 1
    return out


def inputs_from_case(path, case):
    """An Inputs from the program's `--check --json` report of the file at `path`."""
    v = {name: item["value"] for name, item in case["inputs"].items()}
    levels = [(v[f"level.{k}.name"], float(v[f"level.{k}.energy"]), v[f"level.{k}.unit"])
              for k in range(1, len(_numbered(v, "level", ".name")) + 1)]
    labels = [(v[f"label.{k}.name"], [v[n] for n in (f"label.{k}.1", f"label.{k}.2") if n in v])
              for k in range(1, len(_numbered(v, "label", ".name")) + 1)]
    rows = case["derived"]["layer_rows"]  # the structure's rows (not those beyond the grid)
    layers = np.array([[v[f"layer.{j}.{c}"] for c in _LAYER_NAMES] for j in range(1, rows + 1)],
                      dtype=float).reshape(rows, 10)
    pulse = Pulse(*[v["pulse." + n] for n in _PULSE_NAMES])
    further = [Pulse(*[v[f"pulse.{k}.{n}"] for n in _PULSE_NAMES])
               for k in range(2, int(v.get("pulses.count", 1)) + 1)]
    boundaries = {"left": v["boundary.left.type"], "right": v["boundary.right.type"],
                  "reflection_left": v["boundary.left.reflection"],
                  "reflection_right": v["boundary.right.reflection"]}
    return Inputs(path=Path(path), folders=tuple(v["folder." + n] for n in
                                                   ("results", "discarded", "continue")),
                  levels=levels, dipole_density=float(v["dots.density"]), labels=labels,
                  transitions=_matrix(v, "transition"), long_time_scale=float(v["times.scale"]),
                  long_times=_matrix(v, "times"), dephasing_scale=float(v["dephasing.scale"]),
                  dephasing_times=_matrix(v, "dephasing"), dipoles=_matrix(v, "dipole"),
                  pulse=pulse, further_pulses=further, boundaries=boundaries, monitor_cells=_numbered(v, "monitor"),
                  dz=float(v["structure.dz"]), first_cavity=v["structure.first_cavity"],
                  last_cavity=v["structure.last_cavity"], layers=layers, derived=case["derived"],
                  **{k: v[n] for k, n in _RUN_NAMES.items()})


def read_inputs(path):
    """execdata.txt at `path`, read and checked by the program, as an Inputs;
    InputError with the program's report when it rejects the file."""
    path = Path(path)
    try:
        case = check_text(fileio.read_bytes(path))
    except RejectedInput as e:
        raise InputError(f"{path}: {e}") from None
    except ProgramError as e:
        raise InputError(f"{path}: cannot read the input: {e}") from None
    return inputs_from_case(path, case)
