"""One HDF5 file with every array of a run.

Layout: one group per kind of record; in each group the 1-D coordinate
datasets (`step`, `cell`, `dot_cell`, `wavelength`) are HDF5 dimension
scales attached to the data, so netCDF readers (xarray with h5netcdf) see
dimensions; `time` [fs] and `z` [µm] are auxiliary coordinates named in
the `coordinates` attribute of the data.  Every dataset has `units` and
`long_name`; the inputs are attributes of the root group.

    /structure    cell; z, n
    /snapshots    step x cell: Ex, Ey [E0], Hx, Hy [A/m], u1..u15 (stored w;
                  NaN where a step stores none), u13..u15_physical
    /populations  step x dot_cell: rho11..rho44
    /traces       step x cell (monitor cells): Ex, Ey, rho11..rho44 (NaN
                  where a cell records no such quantity)
    /statistics   step x cell: <quantity>_max, _min, _change per interval
    /flux         step: time, S_left, S_right (when summary.json names one)
    /inputs       layer: the columns of the layer table; row x col (levels
                  1..4): the transition, time and dipole tables

Only the new time level of each snapshot is exported (the J−1 files exist
for continued runs).
"""
import json

import h5py
import numpy as np

from .inputs import LAYER_COLUMNS
from .run import POPULATIONS, QUANTITIES, SNAPSHOT_NAMES, unit_of


def _scale(group, name, values, units, long_name):
    ds = group.create_dataset(name, data=values)
    ds.attrs.update({"units": units, "long_name": long_name})
    ds.make_scale(name)
    return ds


def _data(group, name, values, dims, units, long_name, coordinates=None):
    ds = group.create_dataset(name, data=values, compression="gzip", compression_opts=1)
    ds.attrs.update({"units": units, "long_name": long_name})
    if coordinates:
        ds.attrs["coordinates"] = coordinates
    for axis, dim in enumerate(dims):
        ds.dims[axis].attach_scale(group[dim])
    return ds


def _structure(h5, run):
    g = h5.create_group("structure")
    _scale(g, "cell", run.profile.cells, "1", "cell index (1-based)")
    _data(g, "z", run.profile.z_um, ["cell"], "um", "position of the cell")
    _data(g, "n", run.profile.n, ["cell"], "1", "refractive index", "z")


def _stack(rows, width):
    """Rows as one 2-D array: NaN for an empty row, where a step stores no
    such values (the reader refuses any other row without `width` values)."""
    out = np.full((len(rows), width), np.nan)
    for i, row in enumerate(rows):
        if len(row):
            out[i] = row
    return out


def _snapshots(h5, run, steps):
    g = h5.create_group("snapshots")
    _scale(g, "step", steps, "1", "snapshot step")
    _scale(g, "cell", run.profile.cells, "1", "cell index (1-based)")
    _data(g, "time", steps * run.dt * 1e15, ["step"], "fs", "time of the step")
    for name in SNAPSHOT_NAMES:
        rows = [run.snapshot(J, name) for J in steps]
        _data(g, name, _stack(rows, run.NZ), ["step", "cell"], unit_of(name),
              f"{name} as stored", "time")
    physical = [run.physical_diagonal(J) for J in steps]
    for k, name in enumerate(("u13", "u14", "u15")):
        _data(g, f"{name}_physical", _stack([p[k] for p in physical], run.NZ),
              ["step", "cell"], "1", f"physical {name}", "time")


def _populations(h5, run, steps):
    g = h5.create_group("populations")
    pops = [run.populations(J) for J in steps]
    cells = run.dot_cells()
    _scale(g, "step", steps, "1", "snapshot step")
    _scale(g, "dot_cell", cells, "1", "cell index of the dot region")
    _data(g, "time", steps * run.dt * 1e15, ["step"], "fs", "time of the step")
    _data(g, "z", run.profile.z_um[cells - 1], ["dot_cell"], "um", "position of the cell")
    for name in POPULATIONS:
        _data(g, name, _stack([p.rho[name] for p in pops], len(cells)), ["step", "dot_cell"],
              "1", f"population {name}", "time z")


def _on_common_steps(records, cells, columns):
    """(steps, times, {column: step x cell array}) of per-(cell, quantity)
    records on the union of their steps; `columns` maps output names to
    (quantity, attribute)."""
    steps = np.unique(np.concatenate([r.step for r in records.values()]))
    times = np.full(len(steps), np.nan)
    out = {name: np.full((len(steps), len(cells)), np.nan) for name in columns}
    for (cell, quantity), record in records.items():
        rows = np.searchsorted(steps, record.step)
        times[rows] = record.time_fs
        for name, (q, attribute) in columns.items():
            if q == quantity:
                out[name][rows, cells.index(cell)] = getattr(record, attribute)
    return steps, times, out


def _monitor_group(h5, name, records, columns):
    if not records:
        return
    g = h5.create_group(name)
    cells = sorted({cell for cell, _ in records})
    steps, times, arrays = _on_common_steps(records, cells, columns)
    _scale(g, "step", steps, "1", "step")
    _scale(g, "cell", np.array(cells), "1", "monitor cell")
    _data(g, "time", times, ["step"], "fs", "time of the step")
    for column, values in arrays.items():
        quantity = columns[column][0]
        _data(g, column, values, ["step", "cell"], unit_of(quantity), column, "time")


def _traces(h5, run):
    columns = {q: (q, "value") for q in QUANTITIES}
    _monitor_group(h5, "traces", run.traces(), columns)


def _statistics(h5, run):
    columns = {f"{q}_{kind}": (q, attribute) for q in QUANTITIES
               for kind, attribute in (("max", "maximum"), ("min", "minimum"),
                                       ("change", "change"))}
    _monitor_group(h5, "statistics", run.statistics(), columns)


def _flux(h5, run):
    flux = run.flux()
    if flux is None:
        return
    g = h5.create_group("flux")
    _scale(g, "step", np.arange(1, len(flux.time_fs) + 1), "1", "row of the flux file")
    _data(g, "time", flux.time_fs, ["step"], "fs", "time")
    _data(g, "S_left", flux.left, ["step"], "W/m^2", "Poynting flux at the left end", "time")
    _data(g, "S_right", flux.right, ["step"], "W/m^2", "Poynting flux at the right end",
          "time")


def input_attributes(run):
    """The inputs as flat HDF5 attributes (numbers, strings, arrays)."""
    i = run.inputs
    attrs = {"program": "mps1d", "run_folder": str(run.folder), "dz_m": i.dz, "dt_s": i.dt,
             "courant": i.courant, "LL": i.LL, "Nt": i.Nt, "J_final": i.J_final,
             "run_number": i.run_number, "NZ": i.NZ, "E0_V_per_m": i.E0,
             "dipole_density_per_m3": i.dipole_density,
             "transition_energy_J": i.transition_energy_J,
             "monitor_cells": np.array(i.monitor_cells, dtype=np.int64),
             "first_cavity_layer": i.first_cavity, "last_cavity_layer": i.last_cavity,
             "dot_region": np.array(i.dot_region()), "folders": list(i.folders),
             "level_names": [name for name, _, _ in i.levels],
             "level_energies": np.array([e for _, e, _ in i.levels]),
             "level_energy_units": np.array([u for _, _, u in i.levels]),
             "long_time_scale": i.long_time_scale, "dephasing_scale": i.dephasing_scale,
             "pulse_duration_s": i.pulse.duration_s, "pulse_delay_s": i.pulse.delay_s,
             "pulse_wavelength_m": i.pulse.wavelength_m,
             "iteration_limit": i.iteration_limit, "tolerance": i.tolerance}
    attrs.update({f"pulse_{k}": v for k, v in vars(i.pulse).items()})
    attrs.update({f"boundary_{k}": v for k, v in i.boundaries.items()})
    return attrs


LAYER_UNITS = {"cells": "1", "n": "1", "n_end": "1", "unused": "1"}
TABLES = (("transitions", "1", "selected optical transitions"),
          ("long_times", "s", "population and spin-flip times, before scaling"),
          ("dephasing_times", "s", "dephasing times, before scaling"),
          ("dipoles", "C m", "dipole moments"))


def _inputs(h5, run):
    g = h5.create_group("inputs")
    layers = run.inputs.layers
    _scale(g, "layer", np.arange(1, len(layers) + 1), "1", "row of the layer table")
    for k, name in enumerate(LAYER_COLUMNS):
        _data(g, name, layers[:, k], ["layer"], LAYER_UNITS.get(name, "1"),
              f"layer table column {k + 1}")
    _scale(g, "row", np.arange(1, 5), "1", "level (row)")
    _scale(g, "col", np.arange(1, 5), "1", "level (column)")
    for name, units, long_name in TABLES:
        _data(g, name, getattr(run.inputs, name), ["row", "col"], units, long_name)


def _finite_or_nan(value):
    """A summary.json number (or list of them) with null, its value that is not
    finite, as NaN."""
    if isinstance(value, list):
        return np.array([np.nan if v is None else v for v in value], dtype=float)
    return np.nan if value is None else value


def _summary_attributes(summary):
    attrs = {"summary_json": json.dumps(summary)}
    for key, value in (summary.get("energy") or {}).items():
        plain = key in ("balance", "step")  # a ratio and the step of the budget
        attrs[f"energy_{key}" if plain else f"energy_{key}_J_per_m2"] = _finite_or_nan(value)
    for key in ("model", "status", "version", "source"):
        if key in summary:
            attrs[f"summary_{key}"] = summary[key]
    stop = summary.get("stop") or {}  # where and why a stopped run stopped
    for key in ("step", "reason"):
        if stop.get(key) is not None:
            attrs[f"summary_stop_{key}"] = stop[key]
    return attrs


def export(run, path):
    """Writes every array of `run` to the HDF5 file `path`."""
    steps = run.snapshots()
    with h5py.File(path, "w") as h5:
        h5.attrs.update(input_attributes(run))
        if run.summary is not None:
            h5.attrs.update(_summary_attributes(run.summary))
        _inputs(h5, run)
        _structure(h5, run)
        if len(steps):
            _snapshots(h5, run, steps)
            _populations(h5, run, steps)
        _traces(h5, run)
        _statistics(h5, run)
        _flux(h5, run)
