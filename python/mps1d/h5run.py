"""The HDF5 results of a run (`mps1d --output=hdf5`), read for `Run`.

One `snapshot_<L>.h5` per snapshot step and one `traces_<L>.h5` per block in
the results folder, one `statistics_<L>.h5` per block in the statistics
folder (L: the step as 12 digits); docs/hdf5_output.md gives the layout.
The values come back as the text files hold them: Ex and Ey divided by the
field scale E0, one array per (cell, quantity) of the monitor records.
h5py is imported only when a file is read.
"""
import re
from contextlib import contextmanager

import numpy as np

from . import files

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


@contextmanager
def reading(path):
    """The open file; an unreadable file (damaged, failed checksum) or a
    missing data set is a ValueError naming the file."""
    import h5py

    try:
        with h5py.File(path, "r") as h5:
            yield h5
    except (OSError, KeyError) as error:
        raise ValueError(f"{path}: {error}") from None


def _field_scale(h5, ds, E0):
    """E0 [V/m] of a data set in V/m: its own attribute, the file's, else `E0`."""
    return float(ds.attrs.get("E0_V_per_m", h5.attrs.get("E0_V_per_m", E0)))


def _read(h5, ds, quantity, E0):
    """A data set as the text run stores it (Ex and Ey in units of E0)."""
    values = np.asarray(ds[()], dtype=float)
    if quantity in FIELDS:
        values = values / _field_scale(h5, ds, E0)
    return values


def has(path, name):
    with reading(path) as h5:
        return PHYSICAL.get(name, name) in h5["snapshots"]


def snapshot(path, name, NZ, E0):
    """`name` ('Ex', 'u7', 's13' = 'u13_physical', ...) of every cell."""
    with reading(path) as h5:
        values = _read(h5, h5["snapshots"][PHYSICAL.get(name, name)], name, E0).ravel()
    if values.size != NZ:
        raise ValueError(f"{path}: snapshots/{name} has {values.size} values, "
                         f"expected one per cell ({NZ})")
    return values


def decay_factors(path):
    with reading(path) as h5:
        factors = np.asarray(h5["snapshots/decay_factors"][()], dtype=float).ravel()
    if factors.size != 15:
        raise ValueError(f"{path}: {factors.size} decay factors, expected 15")
    return factors


def populations(path):
    """(dot cells, their z [µm], {rho: values}) of a snapshot."""
    with reading(path) as h5:
        g = h5["populations"]
        rho = {name: np.asarray(g[name][()], dtype=float).ravel()
               for name in QUANTITIES[2:]}
        return g["dot_cell"][()].astype(np.int64), g["z"][()].astype(float), rho


def classes(path):
    """(dot cells, offset [rad/s], weight, FWHM [meV], {rho: cells x K},
    {u: cells x K}) of the spectral classes of a snapshot, or None when it
    has none (dots alike)."""
    with reading(path) as h5:
        if "classes" not in h5:
            return None
        g = h5["classes"]
        rho = {name: np.asarray(g[name][()], dtype=float) for name in POPULATIONS}
        w = {f"u{k}": np.asarray(g[f"u{k}"][()], dtype=float) for k in range(1, 16)}
        return (g["dot_cell"][()].astype(np.int64), g["offset"][()].astype(float),
                g["weight"][()].astype(float), float(g.attrs["fwhm_meV"]), rho, w)


def flags(path):
    with reading(path) as h5:
        return np.asarray(h5["restart/flags"][()]).astype(np.int8)


def _monitor_chunks(paths, group, columns, E0):
    """{(cell, quantity): [(block end, step, time_fs, *columns)]} of the
    group of each file; `columns` maps a quantity to its data set names.
    A (cell, quantity) NaN in every file is one the cell does not record."""
    chunks = {}
    for end, path in sorted(paths.items()):
        with reading(path) as h5:
            g = h5[group]
            step, time = g["step"][()].astype(np.int64), g["time"][()].astype(float)
            cells = g["cell"][()].astype(np.int64)
            for quantity, names in columns.items():
                if names[0] not in g:
                    continue
                tables = [_read(h5, g[name], quantity, E0) for name in names]
                for k, cell in enumerate(cells):
                    chunks.setdefault((int(cell), quantity), []).append(
                        (end, step, time, *(t[:, k] for t in tables)))
    return {key: parts for key, parts in chunks.items()
            if not all(np.all(np.isnan(c)) for part in parts for c in part[3:])}


def trace_chunks(paths, E0):
    """Chunks of `/traces`: (block end, step, time_fs, value)."""
    return _monitor_chunks(paths, "traces", {q: (q,) for q in QUANTITIES}, E0)


def statistics_chunks(paths, E0):
    """Chunks of `/statistics`: (block end, step, time_fs, maximum, minimum, change)."""
    columns = {q: (f"{q}_max", f"{q}_min", f"{q}_change") for q in QUANTITIES}
    return _monitor_chunks(paths, "statistics", columns, E0)


def flux_tables(paths):
    """[(time_fs, S_left, S_right) table] of the `/flux` of each file holding one."""
    tables = []
    for _, path in sorted(paths.items()):
        with reading(path) as h5:
            if "flux" in h5:
                g = h5["flux"]
                tables.append(np.column_stack([g[name][()].astype(float)
                                               for name in ("time", "S_left", "S_right")]))
    return tables
