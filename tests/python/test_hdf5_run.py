"""Run reading the HDF5 results of `mps1d --output=hdf5` (docs/hdf5_output.md)
from a small folder written with h5py."""

import h5py
import numpy as np
import pytest

import mps1d
import runfiles
from conftest import QUICKSTART, run_program
from mps1d.cli import main
from mps1d.export import export
from mps1d.run import SNAPSHOT_NAMES
from runfiles import FACTORS, NZ, label, snapshot_value, trace_value

E0 = 2e8  # the pulse amplitude of runfiles' execdata.txt
MONITORS = np.array([1, 2, 6, NZ - 1])  # the end cells record the fields only
QUANTITIES = ("Ex", "Ey", "rho11", "rho22", "rho33", "rho44")


def group(h5, name, steps, cells, data, index="cell"):
    """A group of time x z data sets with step and `index` along them."""
    g = h5.create_group(name)
    for scale, values in (("time", steps * runfiles.dt() * 1e15), ("z", 0.01 * cells)):
        g.create_dataset(scale, data=values).make_scale(scale)
    g["step"], g[index] = steps, cells
    for key, values in data.items():
        ds = g.create_dataset(key, data=np.atleast_2d(values), fletcher32=True)
        ds.attrs["coordinates"] = f"step {index}"
        if key[0] == "E":
            ds.attrs["E0_V_per_m"] = E0
        ds.dims[0].attach_scale(g["time"])
        ds.dims[1].attach_scale(g["z"])
    return g


def monitor_data(steps, value):
    """{name: steps x monitor cells} of value(cell, quantity, step); E in V/m."""
    return {q: np.array([[np.nan if q[0] == "r" and c in (1, NZ - 1) else
                          value(c, q, s) * (E0 if q[0] == "E" else 1.0) for c in MONITORS]
                         for s in steps]) for q in QUANTITIES}


@pytest.fixture
def hdf5_run(tmp_path):
    """Snapshots at steps 4 and 8; trace blocks 1..4 and 3..8 (overlapping);
    statistics of steps 5..8; the flux in the block end's traces file."""
    run = runfiles.RunFolder(tmp_path / "run")
    run.n_z([1.0] * 4 + [3.5] * 4 + [1.0] * 4)
    run.point([4, 8])
    cells, dots = np.arange(1, NZ + 1), np.arange(5, 9)
    for J in (4, 8):
        with h5py.File(run.results / f"snapshot_{label(J)}.h5", "w") as h5:
            h5.attrs.update(step=J, E0_V_per_m=E0, NZ=NZ)
            names = SNAPSHOT_NAMES + ("u13_physical", "u14_physical", "u15_physical")
            data = {n: snapshot_value(n, J, cells) * (E0 if n[0] == "E" else 1.0) for n in names}
            group(h5, "snapshots", np.array([J]), cells, data)["decay_factors"] = [FACTORS]
            group(h5, "populations", np.array([J]), dots,
                  {f"rho{k}{k}": 0.1 * k + 0.01 * dots for k in range(1, 5)}, "dot_cell")
            h5["restart/flags"] = np.outer(np.isin(cells, dots), [1, 0, 1, J == 8])
    for J, steps in ((4, np.arange(1, 5)), (8, np.arange(3, 9))):
        with h5py.File(run.results / f"traces_{label(J)}.h5", "w") as h5:
            group(h5, "traces", steps, MONITORS, monitor_data(steps, trace_value))
            if J == 8:
                for name, values in (("time", [1, 2]), ("S_left", [3, 4]), ("S_right", [5, 6])):
                    h5[f"flux/{name}"] = np.array(values, dtype=float)
    with h5py.File(run.statistics / f"statistics_{label(8)}.h5", "w") as h5:
        steps = np.arange(5, 9)
        data = {f"{name}_{kind}": values * sign
                for kind, sign in (("max", 1), ("min", -1), ("change", 0))
                for name, values in monitor_data(steps, trace_value).items()}
        group(h5, "statistics", steps, MONITORS, data)
    return mps1d.load(run.root)


def test_snapshot_in_units_of_E0_and_the_physical_diagonal(hdf5_run):
    run = hdf5_run
    np.testing.assert_array_equal(run.snapshots(), [4, 8])
    cells = np.arange(1, NZ + 1)
    np.testing.assert_allclose(run.snapshot(8, "Ex"), snapshot_value("Ex", 8, cells), rtol=1e-15)
    np.testing.assert_array_equal(run.snapshot(4, "u7"), snapshot_value("u7", 4, cells))
    np.testing.assert_array_equal(run.snapshot(8, "s14"), snapshot_value("u14_physical", 8, cells))
    assert run.has_snapshot(8, "Hy") and not run.has_snapshot(6, "Hy")
    np.testing.assert_array_equal(run.decay_factors(4), FACTORS)
    np.testing.assert_array_equal(run.physical_diagonal(8), [
        snapshot_value(f"u{k}_physical", 8, cells) for k in (13, 14, 15)])
    pops = run.populations(4)
    np.testing.assert_array_equal(pops.cells, [5, 6, 7, 8])
    np.testing.assert_allclose(pops.rho["rho33"], [0.35, 0.36, 0.37, 0.38])
    assert list(run.gamma()[6]) == [1, 0, 1, 1]  # the flags of the latest snapshot


def test_traces_statistics_and_flux_joined_over_blocks(hdf5_run):
    traces = hdf5_run.traces()
    assert (1, "rho11") not in traces and (NZ - 1, "rho44") not in traces
    assert len(traces) == 2 * 2 + 2 * 6 and hdf5_run.monitor_cells() == list(MONITORS)
    for (cell, quantity), trace in traces.items():
        np.testing.assert_array_equal(trace.step, np.arange(1, 9))
        np.testing.assert_allclose(trace.value, trace_value(cell, quantity, trace.step),
                                   rtol=1e-15)
    np.testing.assert_allclose(traces[(6, "Ey")].time_fs, np.arange(1, 9) * hdf5_run.dt * 1e15)
    stats = hdf5_run.statistics()
    assert set(stats) == set(traces)
    ex = stats[(2, "Ex")]
    np.testing.assert_array_equal(ex.step, [5, 6, 7, 8])
    np.testing.assert_allclose(ex.minimum, -trace_value(2, "Ex", ex.step), rtol=1e-15)
    np.testing.assert_array_equal(hdf5_run.flux().right, [5.0, 6.0])


def test_tools_read_the_hdf5_run(hdf5_run, tmp_path, capsys):
    export(hdf5_run, tmp_path / "run.h5")
    native = hdf5_run.results_dir / f"snapshot_{label(8)}.h5"
    with h5py.File(tmp_path / "run.h5", "r") as h5, h5py.File(native, "r") as native:
        np.testing.assert_allclose(h5["snapshots/Ex"][1], native["snapshots/Ex"][0], rtol=1e-15)
        np.testing.assert_array_equal(h5["traces/cell"], MONITORS)
        np.testing.assert_array_equal(h5["flux/S_left"], [3.0, 4.0])
    assert main(["summary", str(hdf5_run.folder)]) == 0
    assert "rho22" in capsys.readouterr().out


def _twelve_digits(values):
    """Values rounded to the twelve significant digits of the text files."""
    return np.array([float(f"{v:.11e}") for v in np.ravel(values)])


def test_text_and_hdf5_runs_of_the_quickstart_hold_the_same_arrays(quickstart_run, tmp_path):
    """The HDF5 run holds the text run's values unrounded: rounded to the text
    files' twelve digits they are those of the text files, value by value
    (within 5e-12 relative); the populations the tools derive from the
    text digits (through the decay factors) agree to 1e-10."""
    text = mps1d.load(quickstart_run)
    hdf5 = mps1d.load(run_program(tmp_path, QUICKSTART.read_text(), "--threads=1", "--output=hdf5"))
    assert not list(text.results_dir.glob("*.h5")) and list(hdf5.results_dir.glob("snapshot_*.h5"))
    steps = text.snapshots()
    np.testing.assert_array_equal(steps, hdf5.snapshots())
    for J in steps:
        for name in SNAPSHOT_NAMES:
            a = text.snapshot(J, name)
            if a.size:  # the stored w13..w15 of step 1 are in the HDF5 file only
                np.testing.assert_array_equal(_twelve_digits(hdf5.snapshot(J, name)), a,
                                              err_msg=f"{name} at {J}")
        # Step 1's text populations come from the five-digit s13..s15 files.
        digits = 1e-5 if J == 1 else 1e-10
        for name, rho in text.populations(J).rho.items():
            np.testing.assert_allclose(hdf5.populations(J).rho[name], rho, rtol=0, atol=digits)
    assert text.traces().keys() == hdf5.traces().keys()
    for key, trace in text.traces().items():
        np.testing.assert_array_equal(hdf5.traces()[key].step, trace.step)
        np.testing.assert_array_equal(_twelve_digits(hdf5.traces()[key].value), trace.value)
    for key, stats in text.statistics().items():
        for field in ("maximum", "minimum", "change"):
            np.testing.assert_allclose(getattr(hdf5.statistics()[key], field),
                                       getattr(stats, field), rtol=1e-11, atol=1e-300)
    np.testing.assert_array_equal(_twelve_digits(hdf5.flux().right), text.flux().right)
