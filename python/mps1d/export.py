"""One HDF5 file with every array of a run, in the layout of the files
`mps1d --output=hdf5` writes itself (docs/hdf5_output.md).

Layout: one group per kind of record; in each group `time` [fs] and `z`
[µm] are HDF5 dimension scales attached to the data, so netCDF readers
(xarray with h5netcdf) see dimensions; `step`, `cell` and `dot_cell`
(1-based) are auxiliary coordinates along them, named in the `coordinates`
attribute of the data.  A time that cannot be a dimension (NaN somewhere,
or not increasing) trades places with `step` (or `row` in /flux).  Every
dataset has `units` and `long_name`; the inputs are attributes of the root
group.  Ex and Ey are in V/m, the field scale E0 the attribute
`E0_V_per_m` of the root and of each of them.

    /structure    z: cell, n
    /snapshots    time x z: Ex, Ey [V/m], Hx, Hy [A/m], u1..u15 (stored w;
                  NaN where a step stores none), u13..u15_physical;
                  time x component: decay_factors e_1..e_15
    /populations  time x z (dot cells): rho11..rho44
    /traces       time x z (monitor cells): Ex, Ey [V/m], rho11..rho44 (NaN
                  where a cell records no such quantity)
    /statistics   time x z: <quantity>_max, _min, _change per interval
    /flux         time: S_left, S_right (when the run records the flux)
    /inputs       layer: the columns of the layer table; row x col (levels
                  1..4): the transition, time and dipole tables

Only the new time level of each snapshot is exported (the J−1 level exists
for continued runs).
"""
import json

import h5py
import numpy as np

from .fileio import write_hdf5
from .inputs import LAYER_COLUMNS
from .run import FS_PER_S, POPULATIONS, QUANTITIES, SNAPSHOT_NAMES, unit_of

FIELDS = ("Ex", "Ey")


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


def _quantity(group, name, quantity, values, dims, long_name, coordinates, E0):
    """A data set of `quantity`: Ex and Ey (stored in units of E0) in V/m."""
    if quantity not in FIELDS:
        return _data(group, name, values, dims, unit_of(quantity), long_name, coordinates)
    ds = _data(group, name, values * E0, dims, "V/m", long_name, coordinates)
    ds.attrs["E0_V_per_m"] = E0
    return ds


def _axis(group, coordinate, index, keep_index=True):
    """One dimension of a group from two 1-D coordinates, each given as
    (name, values, units, long_name): `coordinate` (time or z) is the
    dimension scale and `index` (step, cell) an auxiliary coordinate along
    it.  A coordinate that is not finite and strictly increasing (a time
    missing as NaN) cannot be a scale: there the index is the scale and the
    coordinate the auxiliary one.  Returns (scale name, auxiliary names)."""
    values = np.asarray(coordinate[1], dtype=float)
    if np.all(np.isfinite(values)) and np.all(np.diff(values) > 0):
        if not keep_index:
            _scale(group, *coordinate)
            return coordinate[0], ""
    else:
        coordinate, index = index, coordinate
    _scale(group, *coordinate)
    _data(group, index[0], index[1], [coordinate[0]], *index[2:])
    return coordinate[0], index[0]


def _time_axis(group, steps, times, long_name="time of the step"):
    return _axis(group, ("time", times, "fs", long_name), ("step", steps, "1", "step"))


def _z_axis(group, run, cells, index="cell", long_name="cell index (1-based)"):
    cells = np.asarray(cells)
    return _axis(group, ("z", run.profile.z_um[cells - 1], "um", "position of the cell"),
                 (index, cells, "1", long_name))


def _structure(h5, run):
    g = h5.create_group("structure")
    z, cell = _z_axis(g, run, run.profile.cells)
    _data(g, "n", run.profile.n, [z], "1", "refractive index", cell)


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
    time, step = _time_axis(g, steps, steps * run.dt * FS_PER_S)
    z, cell = _z_axis(g, run, run.profile.cells)
    for name in SNAPSHOT_NAMES:
        rows = [run.snapshot(J, name) for J in steps]
        _quantity(g, name, name, _stack(rows, run.NZ), [time, z], f"{name} as stored",
                  f"{step} {cell}", run.E0)
    physical = [run.physical_diagonal(J) for J in steps]
    for k, name in enumerate(("u13", "u14", "u15")):
        _data(g, f"{name}_physical", _stack([p[k] for p in physical], run.NZ),
              [time, z], "1", f"physical {name}", f"{step} {cell}")
    _scale(g, "component", np.arange(1, 16), "1", "pseudospin component k")
    _data(g, "decay_factors", np.array([run.decay_factors(J) for J in steps]),
          [time, "component"], "1", "exp(-(J+1/2) dt/T_k) of the stored w_k", step)


def _populations(h5, run, steps):
    g = h5.create_group("populations")
    pops = [run.populations(J) for J in steps]
    cells = run.dot_cells()
    time, step = _time_axis(g, steps, steps * run.dt * FS_PER_S)
    z, cell = _z_axis(g, run, cells, "dot_cell", "cell index of the dot region")
    for name in POPULATIONS:
        _data(g, name, _stack([p.rho[name] for p in pops], len(cells)), [time, z],
              "1", f"population {name}", f"{step} {cell}")


def _on_common_steps(records, cells, columns):
    """(steps, times, {column: step x cell array}) of per-(cell, quantity)
    records on the union of their steps (a time NaN only where no record
    gives one); `columns` maps output names to (quantity, attribute)."""
    steps = np.unique(np.concatenate([r.step for r in records.values()]))
    times = np.full(len(steps), np.nan)
    out = {name: np.full((len(steps), len(cells)), np.nan) for name in columns}
    for (cell, quantity), record in records.items():
        rows = np.searchsorted(steps, record.step)
        known = np.isfinite(record.time_fs)  # a time any record gives
        times[rows[known]] = record.time_fs[known]
        for name, (q, attribute) in columns.items():
            if q == quantity:
                out[name][rows, cells.index(cell)] = getattr(record, attribute)
    return steps, times, out


def _monitor_group(h5, run, name, records, columns):
    if not records:
        return
    g = h5.create_group(name)
    cells = sorted({cell for cell, _ in records})
    steps, times, arrays = _on_common_steps(records, cells, columns)
    time, step = _time_axis(g, steps, times)
    z, cell = _z_axis(g, run, cells, long_name="monitor cell")
    for column, values in arrays.items():
        _quantity(g, column, columns[column][0], values, [time, z], column, f"{step} {cell}",
                  run.E0)


def _traces(h5, run):
    columns = {q: (q, "value") for q in QUANTITIES}
    _monitor_group(h5, run, "traces", run.traces(), columns)


def _statistics(h5, run):
    columns = {f"{q}_{kind}": (q, attribute) for q in QUANTITIES
               for kind, attribute in (("max", "maximum"), ("min", "minimum"),
                                       ("change", "change"))}
    _monitor_group(h5, run, "statistics", run.statistics(), columns)


def _flux(h5, run):
    flux = run.flux()
    if flux is None:
        return
    g = h5.create_group("flux")
    time, row = _axis(g, ("time", flux.time_fs, "fs", "time"),
                      ("row", np.arange(1, len(flux.time_fs) + 1), "1", "row of the flux record"),
                      keep_index=False)
    _data(g, "S_left", flux.left, [time], "W/m^2", "Poynting flux at the left end", row)
    _data(g, "S_right", flux.right, [time], "W/m^2", "Poynting flux at the right end", row)


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
    attrs["pulse_count"] = 1 + len(i.further_pulses)
    for n, q in enumerate(i.further_pulses, 2):  # pulse lines 2..N
        attrs.update({f"pulse{n}_{k}": v for k, v in vars(q).items()})
    attrs.update({f"boundary_{k}": v for k, v in i.boundaries.items()})
    attrs.update(_ensemble_attributes(run))
    return attrs


def _ensemble_attributes(run):
    """`classes` and, for broadened dots, `fwhm_meV`, as the program's HDF5
    files hold them: from summary.json (which names the ensemble only when
    the dots are broadened), else from the classes of the last snapshot;
    nothing when neither tells."""
    if run.summary is not None:
        ensemble = (run.summary.get("inputs") or {}).get("ensemble")
        if not ensemble:
            return {"classes": 1}
        return {"classes": int(ensemble["classes"]), "fwhm_meV": float(ensemble["fwhm_meV"])}
    steps = run.snapshots()
    found = run.classes(steps[-1]) if len(steps) else None
    if found is None:
        return {}
    return {"classes": len(found.weight), "fwhm_meV": found.fwhm_meV}


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
    """Writes every array of `run` to the HDF5 file `path`: under a temporary
    name, renamed to `path` once complete, so an export that fails leaves an
    earlier file of that name as it was.  A `path` inside the run's folders,
    or its execdata.txt, is refused before anything is read."""
    folders, files = run.own_paths()
    write_hdf5(path, lambda h5: _fill(h5, run), folders, files)


def _fill(h5, run):
    steps = run.snapshots()
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
