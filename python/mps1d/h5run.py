"""The HDF5 results of a run (`mps1d --output=hdf5`), read for `Run`.

One `snapshot_<L>.h5` per snapshot step and one `traces_<L>.h5` per block in
the results folder, one `statistics_<L>.h5` per block in the statistics
folder (L: the step as 12 digits); docs/hdf5_output.md gives the layout.
The values come back as the text files hold them: Ex and Ey divided by the
field scale E0, one array per (cell, quantity) of the monitor records.
h5py is imported only when a file is read.
"""
import math
import re
from contextlib import contextmanager

import numpy as np

from . import files
from .fileio import FileError, open_binary
from .program import MAX_CLASSES

FIELDS = ("Ex", "Ey")
QUANTITIES = ("Ex", "Ey", "rho11", "rho22", "rho33", "rho44")
POPULATIONS = QUANTITIES[2:]
# The text run's files of the physical diagonal (step 1 only) are data sets
# of every HDF5 snapshot.
PHYSICAL = {"s13": "u13_physical", "s14": "u14_physical", "s15": "u15_physical"}


def file_name(kind, J):
    """'snapshot', 'traces' or 'statistics' file of step J."""
    return f"{kind}_{files.label(J)}.h5"


def labelled(listing, kind):
    """{step: path} of the complete files of `kind` in a files.Listing (the
    hidden '.NAME.part' of a file being written does not match)."""
    regex = re.compile(rf"^{kind}_(\d{{{files.LABEL_DIGITS}}})\.h5$")
    return {int(m.group(1)): listing.folder / name
            for name in listing.names if (m := regex.match(name))}


class _File:
    """An open HDF5 file of a run.  Its members are reached through hard
    links only (the program writes no other kind: a soft link may loop, an
    external one opens a file nobody named), and a data set is read only
    once its header shows the shape the run's own inputs give it and a
    number type, so a file claiming a huge data set is refused before
    anything is allocated."""

    def __init__(self, h5, path):
        self.h5, self.path = h5, path

    def error(self, what):
        return FileError(f"{self.path}: {what}")

    def get(self, name, kind="data set"):
        """The group or data set `name` ('snapshots/Ex'), or None when missing."""
        import h5py

        obj = self.h5
        parts = name.split("/")
        for k, part in enumerate(parts):
            reached = "/".join(parts[:k + 1])
            if not isinstance(obj, h5py.Group):
                raise self.error(f"{'/'.join(parts[:k])} is a data set, not a group")
            link = obj.get(part, getlink=True)
            if link is None:
                return None
            if not isinstance(link, h5py.HardLink):
                target = getattr(link, "path", "")
                raise self.error(f"{reached} is a {type(link).__name__} to {target}, "
                                 "not a member the program writes")
            obj = obj[part]
        wanted = h5py.Dataset if kind == "data set" else h5py.Group
        if not isinstance(obj, wanted):
            raise self.error(f"{name} is a {'group' if kind == 'data set' else 'data set'}, "
                             f"not a {kind}")
        return obj

    def has(self, name, kind="data set"):
        return self.get(name, kind) is not None

    def group(self, name):
        g = self.get(name, "group")
        if g is None:
            raise self.error(f"no group {name}")
        return g

    def read(self, name, shape, dtype=float):
        """Data set `name` as an array of `dtype`, checked before it is read
        against `shape`: a tuple of sizes, each an int (exactly) or a pair
        (low, high) of bounds; a 1 x N data set passes for N as well."""
        ds = self.get(name)
        if ds is None:
            raise self.error(f"no data set {name}")
        if ds.dtype.kind not in "fiub" or ds.dtype.names is not None:
            raise self.error(f"{name} holds {ds.dtype}, not numbers")
        got = tuple(ds.shape or ())
        if len(got) == len(shape) + 1 and got[0] == 1:
            got = got[1:]
        if len(got) != len(shape) or not all(
                (n == s) if isinstance(s, int) else (s[0] <= n <= s[1])
                for n, s in zip(got, shape)):
            raise self.error(f"{name} has shape {ds.shape}, expected {_shape_text(shape)}")
        chunk = math.prod(ds.chunks) if ds.chunks else 0
        if chunk > max(math.prod(got), 1 << 20):
            raise self.error(f"{name} is stored in chunks of {chunk} values, larger than "
                             "the data set")
        try:
            return np.asarray(ds[()], dtype=dtype).reshape(got)
        except (OSError, RuntimeError, ValueError) as error:
            raise self.error(f"{name}: {error}") from None

    def scalar(self, obj, name, default=None):
        """A number attribute of a group or data set, `default` when absent."""
        if name not in obj.attrs:
            if default is None:
                raise self.error(f"{obj.name} has no attribute {name}")
            return default
        attr = obj.attrs.get_id(name)
        if attr.shape not in ((), (1,)) or attr.dtype.kind not in "fiu":
            raise self.error(f"attribute {name} of {obj.name} is not a number")
        return float(np.asarray(obj.attrs[name]).ravel()[0])


def _shape_text(shape):
    return " x ".join(str(s) if isinstance(s, int) else f"{s[0]}..{s[1]}" for s in shape)


@contextmanager
def reading(path):
    """The open file (a _File); a file that is not a regular file or not
    HDF5, or is damaged (a failed checksum), is a FileError naming it."""
    import h5py

    stream = open_binary(path)
    try:
        with h5py.File(stream, "r") as h5:
            yield _File(h5, path)
    except (OSError, KeyError, RuntimeError) as error:
        raise FileError(f"{path}: {error}") from None
    finally:
        stream.close()


def _read(f, name, quantity, E0, shape):
    """A data set as the text run stores it (Ex and Ey in units of E0): E0
    [V/m] its own attribute, the file's, else `E0`."""
    values = f.read(name, shape)
    if quantity in FIELDS:
        values = values / f.scalar(f.get(name), "E0_V_per_m", f.scalar(f.h5, "E0_V_per_m", E0))
    return values


def has(path, name):
    with reading(path) as f:
        return f.has(f"snapshots/{PHYSICAL.get(name, name)}")


def snapshot(path, name, NZ, E0):
    """`name` ('Ex', 'u7', 's13' = 'u13_physical', ...) of every cell."""
    with reading(path) as f:
        return _read(f, f"snapshots/{PHYSICAL.get(name, name)}", name, E0, (NZ,))


def decay_factors(path):
    with reading(path) as f:
        return f.read("snapshots/decay_factors", (15,))


def populations(path, NZ):
    """(dot cells, their z [µm], {rho: values}) of a snapshot."""
    with reading(path) as f:
        cells = f.read("populations/dot_cell", ((0, NZ),), np.int64)
        D = (cells.size,)
        rho = {name: f.read(f"populations/{name}", D) for name in POPULATIONS}
        return cells, f.read("populations/z", D), rho


def classes(path, NZ):
    """(dot cells, offset [rad/s], weight, FWHM [meV], {rho: cells x K},
    {u: cells x K}) of the spectral classes of a snapshot, or None when it
    has none (dots alike)."""
    with reading(path) as f:
        if not f.has("classes", "group"):
            return None
        cells = f.read("classes/dot_cell", ((0, NZ),), np.int64)
        offset = f.read("classes/offset", ((1, MAX_CLASSES),))
        table = (cells.size, offset.size)
        rho = {name: f.read(f"classes/{name}", table) for name in POPULATIONS}
        w = {f"u{k}": f.read(f"classes/u{k}", table) for k in range(1, 16)}
        return (cells, offset, f.read("classes/weight", (offset.size,)),
                f.scalar(f.group("classes"), "fwhm_meV"), rho, w)


def flags(path, NZ):
    with reading(path) as f:
        return f.read("restart/flags", (NZ, 4), np.int64).astype(np.int8)


def _monitor_chunks(paths, group, columns, E0, NZ, rows):
    """{(cell, quantity): [(block end, step, time_fs, *columns)]} of the
    group of each file; `columns` maps a quantity to its data set names.
    A file holds at most `rows` steps of at most NZ cells.  A (cell,
    quantity) NaN in every file is one the cell does not record."""
    chunks = {}
    for end, path in sorted(paths.items()):
        with reading(path) as f:
            f.group(group)
            step = f.read(f"{group}/step", ((0, rows),), np.int64)
            time = f.read(f"{group}/time", step.shape)
            cells = f.read(f"{group}/cell", ((0, NZ),), np.int64)
            table = (step.size, cells.size)
            for quantity, names in columns.items():
                if not f.has(f"{group}/{names[0]}"):
                    continue
                tables = [_read(f, f"{group}/{name}", quantity, E0, table) for name in names]
                for k, cell in enumerate(cells):
                    chunks.setdefault((int(cell), quantity), []).append(
                        (end, step, time, *(t[:, k] for t in tables)))
    return {key: parts for key, parts in chunks.items()
            if not all(np.all(np.isnan(c)) for part in parts for c in part[3:])}


def trace_chunks(paths, E0, NZ, rows):
    """Chunks of `/traces`: (block end, step, time_fs, value)."""
    return _monitor_chunks(paths, "traces", {q: (q,) for q in QUANTITIES}, E0, NZ, rows)


def statistics_chunks(paths, E0, NZ, rows):
    """Chunks of `/statistics`: (block end, step, time_fs, maximum, minimum, change)."""
    columns = {q: (f"{q}_max", f"{q}_min", f"{q}_change") for q in QUANTITIES}
    return _monitor_chunks(paths, "statistics", columns, E0, NZ, rows)


def flux_tables(paths, rows):
    """[(time_fs, S_left, S_right) table] of the `/flux` of each file holding
    one (at most `rows` rows)."""
    tables = []
    for _, path in sorted(paths.items()):
        with reading(path) as f:
            if f.has("flux", "group"):
                time = f.read("flux/time", ((0, rows),))
                tables.append(np.column_stack([time] + [f.read(f"flux/{name}", time.shape)
                                                        for name in ("S_left", "S_right")]))
    return tables
