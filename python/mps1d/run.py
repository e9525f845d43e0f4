"""A run's results folder read into numpy arrays."""
import json
import os
from collections import OrderedDict
from dataclasses import dataclass, field
from functools import cached_property
from pathlib import Path

import numpy as np

from . import fileio, files, h5run
from .fortran import parse_column, parse_numbers, parse_table
from .inputs import SQRT3, SQRT6, read_inputs

FS_PER_S = 1e15
SNAPSHOT_CACHE = 64  # snapshot arrays kept in memory per run
QUANTITIES = ("Ex", "Ey", "rho11", "rho22", "rho33", "rho44")
POPULATIONS = ("rho11", "rho22", "rho33", "rho44")
SNAPSHOT_NAMES = ("Ex", "Ey", "Hx", "Hy") + tuple(f"u{k}" for k in range(1, 16))
UNITS = {"Ex": "E0", "Ey": "E0", "Hx": "A/m", "Hy": "A/m", "rho": "1", "u": "1"}


def unit_of(name):
    """Unit of a stored quantity: Ex and Ey in units of the field scale E0."""
    for prefix, unit in UNITS.items():
        if name.startswith(prefix):
            return unit
    return "1"


@dataclass
class Profile:
    """The structure: position of every cell [µm] and its refractive index."""
    z_um: np.ndarray
    n: np.ndarray

    @property
    def cells(self):
        return np.arange(1, len(self.z_um) + 1)


@dataclass
class Trace:
    """One monitor cell's record of one quantity, joined over every block.
    `time_fs` is the file's own column (the solver scales by 1e15 in single
    precision; `step` is exact)."""
    cell: int
    quantity: str
    step: np.ndarray
    time_fs: np.ndarray
    value: np.ndarray

    @property
    def time(self) -> np.ndarray:
        """The time of each value [s] (time_fs * 1e-15)."""
        return self.time_fs * 1e-15


@dataclass
class Statistics:
    """Running statistics of one monitor quantity: per interval the maximum,
    the minimum and the accumulated change; `step` is the interval's last step."""
    cell: int
    quantity: str
    step: np.ndarray
    time_fs: np.ndarray
    maximum: np.ndarray
    minimum: np.ndarray
    change: np.ndarray


@dataclass
class Populations:
    """Populations of the dot cells at one snapshot step."""
    step: int
    cells: np.ndarray
    z_um: np.ndarray
    rho: dict = field(default_factory=dict)  # 'rho11'..'rho44' -> array over cells


@dataclass
class Classes:
    """The spectral classes of the dot cells at one snapshot step of a run
    with broadened dots: class k of every dot cell has the transition
    frequency Delta + offset[k] [rad/s] and holds the share weight[k] of the
    cell's dots, so the populations of a cell are the weighted sums
    rho[name] @ weight."""
    step: int
    cells: np.ndarray
    offset: np.ndarray
    weight: np.ndarray
    fwhm_meV: float
    rho: dict = field(default_factory=dict)  # 'rho11'..'rho44' -> cells x classes
    w: dict = field(default_factory=dict)    # 'u1'..'u15' (stored w) -> cells x classes


@dataclass
class Flux:
    """Poynting flux Ex·Hy − Ey·Hx [W/m²] at the two end cells, one row per step."""
    time_fs: np.ndarray
    left: np.ndarray
    right: np.ndarray


# Step 1 stores the physical u13..u15 (in s13..s15) and leaves the files of
# the stored w13..w15 empty: the only column files without a value per cell.
PHYSICAL_FILES = {"u13": "s13", "u14": "s14", "u15": "s15"}


def stores_none(J, name):
    """Whether the format stores no value of `name` at step J (an empty file)."""
    return int(J) == 1 and name in PHYSICAL_FILES


def populations_from_diagonal(u13, u14, u15):
    """rho11..rho44 from the physical diagonal pseudospin components."""
    return {
        "rho11": (3.0 - 6.0 * u13 - 2.0 * SQRT3 * u14 - SQRT6 * u15) / 12.0,
        "rho22": (3.0 + 6.0 * u13 - 2.0 * SQRT3 * u14 - SQRT6 * u15) / 12.0,
        "rho33": (3.0 + 4.0 * SQRT3 * u14 - SQRT6 * u15) / 12.0,
        "rho44": (1.0 + SQRT6 * u15) / 4.0,
    }


def keep_last_per_step(step, *columns):
    """Sorts by step and keeps one sample per step (the last one given)."""
    reverse = step[::-1]
    unique, first_in_reverse = np.unique(reverse, return_index=True)
    index = len(step) - 1 - first_in_reverse
    return (unique, *(c[index] for c in columns))


def find_run_folder(folder):
    """The folder holding execdata.txt: `folder` itself, or its parent when
    `folder` is a results folder."""
    folder = Path(folder).resolve()
    for candidate in (folder, folder.parent):
        if (candidate / "execdata.txt").is_file():
            return candidate
    raise FileNotFoundError(f"no execdata.txt in {folder} or its parent: not a run folder")


def load(folder):
    """The run of `folder` (the folder holding execdata.txt, or its results folder)."""
    return Run(folder)


class Run:
    """The inputs and results of one run; files are read when first asked for."""

    def __init__(self, folder):
        self.folder = find_run_folder(folder)
        self.inputs = read_inputs(self.folder / "execdata.txt")
        self.results_dir = self.inputs.folder("results")
        self.statistics_dir = self.inputs.folder("statistics")
        if not self.results_dir.is_dir():
            raise FileNotFoundError(f"{self.results_dir}: the results folder of "
                                    f"{self.folder / 'execdata.txt'} does not exist")
        self._cache = {}
        self._snapshots = OrderedDict()

    def own_paths(self):
        """(folders, files) no tool may write into or over: the run's three
        folders (results, statistics, continuation) and its input file."""
        return ([self.results_dir, self.statistics_dir, self.inputs.folder("continuation")],
                [self.folder / "execdata.txt"])

    def __repr__(self):
        return f"Run({str(self.folder)!r})"

    # --- grid and scales ----------------------------------------------------
    @property
    def dt(self):
        return self.inputs.dt

    @property
    def E0(self):
        return self.inputs.E0

    @property
    def NZ(self):
        return self.inputs.NZ

    @cached_property
    def summary(self):
        """summary.json of the results folder as a dict, or None when absent."""
        path = self.results_dir / files.NAMES["summary"]
        if not os.path.lexists(path):
            return None
        try:
            return json.loads(fileio.read_text(path, errors="strict"))
        except ValueError as error:
            raise fileio.FileError(f"{path}: not JSON ({error})") from None

    @cached_property
    def _results(self):
        return files.Listing(self.results_dir)

    @cached_property
    def _statistics(self):
        return files.Listing(self.statistics_dir)

    def _hdf5(self, J):
        """snapshot_<L>.h5 of step J, or None where the step is in text files.
        A name that is there but no regular file (a dangling link, a FIFO)
        is returned too: reading it says what it is."""
        path = self.results_dir / h5run.file_name("snapshot", J)
        return path if os.path.lexists(path) else None

    @cached_property
    def is_hdf5(self):
        """Whether the run wrote HDF5 files (`--output=hdf5`)."""
        return (self.summary or {}).get("output") == "hdf5" or any(
            h5run.labelled(self._results, kind) for kind in ("snapshot", "traces"))

    def _missing(self, J, text_name):
        """The error of step J without the file that holds `text_name`."""
        if self.is_hdf5:
            return FileNotFoundError(f"{self.results_dir / h5run.file_name('snapshot', J)}: no "
                                     f"such file, and step {J} is listed in point.txt")
        return FileNotFoundError(f"neither {text_name} nor {text_name}.gz in "
                                 f"{self.results_dir}: step {J} has no "
                                 f"{text_name.split('_z')[0]}")

    @cached_property
    def block_rows(self):
        """The most steps one file of monitor records can hold: a block (the
        run holds one in memory), or the whole run when shorter."""
        return min(2 * self.inputs.LL, self.inputs.Nt) + 1

    @cached_property
    def profile(self):
        table = parse_table(files.read_named(self.results_dir, files.NAMES["index_profile"]), 2,
                            files.NAMES["index_profile"])
        return Profile(z_um=table[:, 0], n=table[:, 1])

    # --- snapshots ------------------------------------------------------------
    def snapshots(self):
        """The snapshot steps, from point.txt (or, without it, the stmp and
        snapshot_<L>.h5 files)."""
        point = self.results_dir / files.NAMES["points"]
        if os.path.lexists(point):
            steps = [int(line[:12]) for line in fileio.read_text(point).splitlines()
                     if len(line) >= 12 and line[:12].isdigit()]
        else:
            steps = [key[0] for key in self._results.labelled(files.stem_pattern("stamp", ()))]
            steps += list(h5run.labelled(self._results, "snapshot"))
        return np.unique(np.array(steps, dtype=np.int64))

    def snapshot(self, J, name):
        """The values of `name` ('Ex', 'Hy', 'u7', 's13', ...) at step J, one per
        cell as stored (Ex and Ey in units of E0); empty only where the step
        stores none (stores_none).  A step with a snapshot_<L>.h5 is read from
        it, 's13'..'s15' being its u13_physical..u15_physical.  A missing or
        unreadable file, or one without a value per cell, is an error naming it."""
        key = (int(J), name)
        if key not in self._snapshots:
            self._snapshots[key] = self._read_column(*key)
            if len(self._snapshots) > SNAPSHOT_CACHE:
                self._snapshots.popitem(last=False)
        return self._snapshots[key]

    def _read_column(self, J, name):
        hdf5 = self._hdf5(J)
        if hdf5 is not None:
            return h5run.snapshot(hdf5, name, self.NZ, self.E0)
        file_name = files.name("column", name, J)
        path = files.find(self.results_dir, file_name)
        if path is None:
            raise self._missing(J, file_name)
        values = parse_column(files.read_text(path), str(path))
        if values.size == self.NZ or (values.size == 0 and stores_none(J, name)):
            return values
        raise ValueError(f"{path}: {values.size} values, expected one per cell ({self.NZ})")

    def has_snapshot(self, J, name):
        hdf5 = self._hdf5(J)
        if hdf5 is not None:
            return h5run.has(hdf5, name)
        return files.find(self.results_dir, files.name("column", name, J)) is not None

    def decay_factors(self, J):
        """The 15 factors exp(−(J+½)·dt/T_k) of stmp<J>.dat."""
        hdf5 = self._hdf5(J)
        if hdf5 is not None:
            return h5run.decay_factors(hdf5)
        path = files.find(self.results_dir, files.name("stamp", J=J))
        if path is None:
            raise self._missing(J, files.name("stamp", J=J))
        fields = files.read_text(path).split()
        try:
            factors = parse_numbers(" ".join(fields[3:18]))
        except ValueError as error:
            raise ValueError(f"{path}: {error}") from None
        if factors.size != 15:
            raise ValueError(f"{path}: {factors.size} decay factors, expected 15")
        return factors

    def physical_diagonal(self, J):
        """(u13, u14, u15) of every cell at step J: u_k = u_k,eq + e_k·w_k, or
        the s13..s15 files where the step stores the physical values (every
        HDF5 snapshot does)."""
        if self._hdf5(J) is not None:
            return tuple(self.snapshot(J, f"s{k}") for k in (13, 14, 15))
        stored = [self.snapshot(J, f"u{k}") for k in (13, 14, 15)]
        if any(w.size == 0 for w in stored):
            return tuple(self.snapshot(J, PHYSICAL_FILES[f"u{k}"]) for k in (13, 14, 15))
        decay = self.decay_factors(J)[12:15]
        return tuple(eq + e * w for eq, e, w in zip(self.inputs.equilibrium(), decay, stored))

    def dot_cells(self):
        """The cells z1..z2 of the dot region that lie on the grid."""
        z1, z2 = self.inputs.dot_region()
        return np.arange(max(z1, 1), min(z2, self.NZ) + 1)

    def populations(self, J):
        """rho11..rho44 of every dot cell at snapshot step J."""
        hdf5 = self._hdf5(J)
        if hdf5 is not None:
            cells, z, rho = h5run.populations(hdf5, self.NZ)
            return Populations(step=int(J), cells=cells, z_um=z, rho=rho)
        cells = self.dot_cells()
        u = [component[cells - 1] for component in self.physical_diagonal(J)]
        z = self.profile.z_um[cells - 1]
        return Populations(step=int(J), cells=cells, z_um=z, rho=populations_from_diagonal(*u))

    def classes(self, J):
        """The spectral classes of the dot cells at snapshot step J (Classes),
        or None where the step holds none: dots alike, or a text snapshot
        (only the HDF5 snapshots store the classes)."""
        hdf5 = self._hdf5(J)
        found = h5run.classes(hdf5, self.NZ) if hdf5 is not None else None
        return Classes(int(J), *found) if found is not None else None

    def gamma(self):
        """The population flags of the latest snapshot (cells x 4), or None."""
        path = files.find(self.results_dir, files.NAMES["flags"])
        if path is None:
            snapshots = h5run.labelled(self._results, "snapshot")
            return h5run.flags(snapshots[max(snapshots)], self.NZ) if snapshots else None
        return parse_table(files.read_text(path), 4, files.NAMES["flags"]).astype(np.int8)

    # --- monitor traces and statistics ----------------------------------------
    def _trace_files(self, listing):
        """{(cell, quantity): {block-end step: path}} of a folder's trace names."""
        found = {}
        fields, all_ = ("Ex", "Ey"), ("Ex", "Ey", "rho11", "rho22", "rho33", "rho44")
        sources = ((files.stem_pattern("trace_first", fields), lambda g: 1),
                   (files.stem_pattern("trace_last", fields), lambda g: self.NZ - 1),
                   (files.stem_pattern("trace_cell", all_), lambda g: int(g[1])))
        for pattern, cell_of in sources:
            for (*groups, step), path in listing.labelled(pattern).items():
                found.setdefault((cell_of(groups), groups[0]), {})[step] = path
        return found

    def traces(self):
        """{(cell, quantity): Trace} of every monitor cell, joined over blocks
        (text files and traces_<L>.h5 alike): one sample per step (per N-th
        step of a run with --trace-every=N), time in fs as written."""
        if "traces" not in self._cache:
            every = int(((self.summary or {}).get("inputs") or {}).get("trace_every", 1))
            text = {key: [_text_trace(end, path, every) for end, path in blocks.items()]
                    for key, blocks in self._trace_files(self._results).items()}
            hdf5 = h5run.trace_chunks(h5run.labelled(self._results, "traces"), self.E0,
                                      self.NZ, self.block_rows)
            self._cache["traces"] = {key: Trace(*key, *_join(chunks))
                                     for key, chunks in _merged(text, hdf5).items()}
        return self._cache["traces"]

    def statistics(self):
        """{(cell, quantity): Statistics} of the discarded-results folder
        (text files and statistics_<L>.h5 alike)."""
        if "statistics" not in self._cache:
            LL = self.inputs.LL
            interval = max(LL // 2000, 1)
            text = {key: [_text_statistics(end, path, LL, interval, self.dt)
                          for end, path in blocks.items()]
                    for key, blocks in self._trace_files(self._statistics).items()}
            hdf5 = h5run.statistics_chunks(h5run.labelled(self._statistics, "statistics"),
                                           self.E0, self.NZ, self.block_rows)
            self._cache["statistics"] = {key: Statistics(*key, *_join(chunks))
                                         for key, chunks in _merged(text, hdf5).items()}
        return self._cache["statistics"]

    def monitor_cells(self):
        return sorted({cell for cell, _ in self.traces()})

    # --- spectra ------------------------------------------------------------------
    def spectra(self):
        """R(λ), T(λ), 1 − R − T and their error bounds over the band of the
        incident pulse (mps1d.spectra.Spectra: wavelength_nm, R, T, absorbed,
        R_error, T_error, band_nm, resolution_nm).  A run without them (the
        hard source, no flux records, a pulse without a finite spectrum) is a
        ValueError (spectra.NoSpectra) that names it and says why."""
        if "spectra" not in self._cache:
            from .spectra import spectra
            self._cache["spectra"] = spectra(self)
        return self._cache["spectra"]

    def polarisation(self, cell=None, window=None, band=None):
        """Stokes parameters, azimuth θ and ellipticity χ of a monitor cell's
        light (the transmitted end by default) per frequency and over the band
        (mps1d.polarisation.Polarisation: rotation, ellipticity); `window`
        (t0, t1) in fs picks a pulse out of the record, `band` a fraction of
        the peak or a (λ1, λ2) range in nm.  NoPolarisation (a ValueError)
        without a record."""
        from .polarisation import run_polarisation
        return run_polarisation(self, cell, window, band)

    # --- flux records -----------------------------------------------------------
    def flux(self):
        """The flux records summary.json names (one file, or one per block
        joined in order), then the /flux of the traces_<L>.h5 files, or None."""
        named = (self.summary or {}).get("flux") or {}
        names = named.get("files") or ([named["file"]] if named.get("file") else [])
        tables = []
        for name in names:
            path = files.find(self.results_dir, name)
            if path is None or path.suffix == ".h5":  # HDF5 flux: read below
                continue
            text = "\n".join(line for line in files.read_text(path).splitlines()
                             if not line.lstrip().startswith("#"))
            tables.append(parse_table(text, 3, name))
        tables += h5run.flux_tables(h5run.labelled(self._results, "traces"), self.block_rows)
        if not tables:
            return None
        table = np.concatenate(tables)
        return Flux(time_fs=table[:, 0], left=table[:, 1], right=table[:, 2])


# A block of a monitor record is a chunk (block end, step, time_fs, *columns);
# a record joins its chunks in the order of the blocks.

def _text_trace(end, path, every=1):
    """A block trace ending at step `end`: its lines are the steps up to
    `end` that are multiples of `every` (--trace-every), the last ones."""
    table = parse_table(files.read_text(path), 2, path.name)
    last = end - end % every
    step = last - every * np.arange(len(table) - 1, -1, -1, dtype=np.int64)
    return end, step, table[:, 0], table[:, 1]


def _text_statistics(end, path, LL, interval, dt):
    """A statistics file: one row per interval of `interval` steps from the
    block's start, columns (unused, maximum, minimum, change)."""
    table = parse_table(files.read_text(path), 4, path.name)
    step = end - LL + interval * np.arange(1, len(table) + 1, dtype=np.int64)
    return end, step, step * dt * FS_PER_S, table[:, 1], table[:, 2], table[:, 3]


def _merged(text, hdf5):
    """{(cell, quantity): chunks} of the text and the HDF5 records."""
    out = {key: list(chunks) for key, chunks in text.items()}
    for key, chunks in hdf5.items():
        out.setdefault(key, []).extend(chunks)
    return out


def _join(chunks):
    """(step, time_fs, *columns) of the chunks in block order, one sample per step."""
    chunks = sorted(chunks, key=lambda chunk: chunk[0])
    return keep_last_per_step(*(np.concatenate(parts) for parts in list(zip(*chunks))[1:]))


def _better(best, name, values, step_of, cell_of):
    """Keeps in best[name] the largest of `values` as (value, step, cell)."""
    if values.size == 0 or np.all(np.isnan(values)):
        return
    k = int(np.nanargmax(values))
    if name not in best or values[k] > best[name][0]:
        best[name] = (float(values[k]), int(step_of(k)), int(cell_of(k)))


def peak_populations(run):
    """Largest populations as {'traces': {rho: (value, step, cell)},
    'snapshots': {...}}: over every step of the monitor cells, and over every
    dot cell at the snapshot steps."""
    traces, snapshots = {}, {}
    for (cell, quantity), trace in run.traces().items():
        if quantity in POPULATIONS:
            _better(traces, quantity, trace.value, lambda k: trace.step[k], lambda k: cell)
    for J in run.snapshots():
        pops = run.populations(J)
        for name, values in pops.rho.items():
            _better(snapshots, name, values, lambda k: J, lambda k: pops.cells[k])
    return {"traces": traces, "snapshots": snapshots}
