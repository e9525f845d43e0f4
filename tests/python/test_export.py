import json
import re

import h5py
import numpy as np
import pytest

import mps1d
from mps1d.cli import main
from mps1d.export import export
from runfiles import NZ, SNAPSHOTS, e_field, label


@pytest.fixture
def exported(complete_run, tmp_path):
    summary = {"program": "mps1d", "model": "corrected", "status": "complete",
               "energy": {"injected": 2.0, "reflected": 0.5, "transmitted": 1.0, "dots": 0.25,
                          "in_grid": 0.125, "absorbed": 0.375, "dissipated": 0.125,
                          "balance": 1.0},
               "flux": {"file": "flux.dat"}}
    (complete_run.results / "summary.json").write_text(json.dumps(summary))
    complete_run.write("flux.dat", ["0.1 -1.0 2.0", "0.2 -3.0 4.0"], gz=False)
    run = mps1d.load(complete_run.root)
    path = tmp_path / "run.h5"
    export(run, path)
    with h5py.File(path, "r") as h5:
        yield run, h5


def column(h5, group, name, cell):
    cells = list(h5[group]["cell"][()])
    return h5[group][name][:, cells.index(cell)]


class TestContents:
    def test_inputs_as_root_attributes(self, exported):
        run, h5 = exported
        attrs = h5.attrs
        assert attrs["dz_m"] == run.inputs.dz and attrs["dt_s"] == run.dt
        assert (attrs["LL"], attrs["NZ"], attrs["pulse_shape"]) == (4, NZ, 3)
        assert list(attrs["monitor_cells"]) == [6, 2] and list(attrs["dot_region"]) == [5, 8]
        assert attrs["E0_V_per_m"] == 2e8 and attrs["energy_balance"] == 1.0
        assert attrs["energy_absorbed_J_per_m2"] == 0.375
        assert attrs["energy_dissipated_J_per_m2"] == 0.125
        assert json.loads(attrs["summary_json"])["status"] == "complete"
        np.testing.assert_array_equal(h5["inputs/b14"], [0.0, 0.5, 0.0])
        assert h5["inputs/long_times"][1, 0] == 1e-9

    def test_structure_snapshots_and_populations(self, exported):
        run, h5 = exported
        np.testing.assert_array_equal(h5["structure/n"], run.profile.n)
        np.testing.assert_array_equal(h5["snapshots/step"], SNAPSHOTS)
        for k, J in enumerate(SNAPSHOTS):  # E in V/m
            np.testing.assert_array_equal(h5["snapshots/Ex"][k], run.snapshot(J, "Ex") * run.E0)
            np.testing.assert_array_equal(h5["snapshots/u15_physical"][k],
                                          run.physical_diagonal(J)[2])
        assert np.all(np.isnan(h5["snapshots/u13"][0]))  # step 1 stores no w13
        np.testing.assert_allclose(h5["snapshots/time"], np.array(SNAPSHOTS) * run.dt * 1e15)
        np.testing.assert_array_equal(h5["snapshots/decay_factors"][1], run.decay_factors(4))
        assert h5["snapshots/Ey"].attrs["units"] == "V/m"
        assert h5["snapshots/Ey"].attrs["E0_V_per_m"] == run.E0
        np.testing.assert_array_equal(h5["populations/dot_cell"], [5, 6, 7, 8])
        for k, J in enumerate(SNAPSHOTS):
            np.testing.assert_array_equal(h5["populations/rho22"][k],
                                          run.populations(J).rho["rho22"])

    def test_traces_statistics_and_flux(self, exported):
        run, h5 = exported
        np.testing.assert_array_equal(h5["traces/cell"], [1, 2, 6, NZ - 1])
        np.testing.assert_array_equal(h5["traces/step"], np.arange(1, 13))
        np.testing.assert_array_equal(h5["traces/time"], run.traces()[(6, "Ex")].time_fs)
        for (cell, quantity), trace in run.traces().items():
            scale = run.E0 if quantity in ("Ex", "Ey") else 1.0
            np.testing.assert_array_equal(column(h5, "traces", quantity, cell), trace.value * scale)
        assert np.all(np.isnan(column(h5, "traces", "rho11", 1)))  # end cells record E only
        stats = run.statistics()[(6, "Ey")]
        np.testing.assert_array_equal(column(h5, "statistics", "Ey_min", 6),
                                      stats.minimum * run.E0)
        np.testing.assert_allclose(h5["statistics/time"], stats.time_fs)
        np.testing.assert_array_equal(h5["flux/S_right"], [2.0, 4.0])
        assert h5["flux/S_right"].attrs["units"] == "W/m^2"


class TestLayout:
    def test_every_dataset_has_units_and_attached_dimensions(self, exported):
        _, h5 = exported
        datasets = []
        h5.visititems(lambda name, obj: datasets.append(obj)
                      if isinstance(obj, h5py.Dataset) else None)
        for ds in datasets:
            if h5py.h5ds.is_scale(ds.id):
                continue
            assert "units" in ds.attrs, ds.name
            for axis in ds.dims:
                scales = list(axis.values())
                assert len(scales) == 1, f"{ds.name}: no dimension scale"
                assert scales[0].parent == ds.parent

    def test_time_and_z_are_the_dimensions_step_and_cell_auxiliary(self, exported):
        _, h5 = exported
        assert [axis.keys() for axis in h5["traces/Ex"].dims] == [["time"], ["z"]]
        assert h5["traces/Ex"].attrs["coordinates"] == "step cell"
        assert h5["traces/step"].dims[0].keys() == ["time"]
        assert h5["populations/rho22"].attrs["coordinates"] == "step dot_cell"
        assert h5["flux/S_left"].dims[0].keys() == ["time"]

    def test_a_time_that_is_not_finite_is_not_a_dimension(self, complete_run, tmp_path):
        complete_run.trace_file(f"time_Ex_z{label(6)}", 8, [(float("nan"), 1.0)] * 4)
        (complete_run.results / "summary.json").write_text('{"flux": {"file": "flux.dat"}}')
        complete_run.write("flux.dat", ["0.1 -1.0 2.0", "NaN -3.0 4.0"], gz=False)
        export(mps1d.load(complete_run.root), tmp_path / "nan.h5")
        with h5py.File(tmp_path / "nan.h5", "r") as h5:
            # the other cells give the traces their time; the flux has none at row 2
            assert np.all(np.isfinite(h5["traces/time"]))
            assert h5["traces/Ex"].dims[0].keys() == ["time"]
            assert h5["flux/S_left"].dims[0].keys() == ["row"]
            assert h5["flux/S_left"].attrs["coordinates"] == "time"
            assert h5["flux/time"].dims[0].keys() == ["row"]

    def test_run_without_summary(self, complete_run, tmp_path):
        export(mps1d.load(complete_run.root), tmp_path / "plain.h5")
        with h5py.File(tmp_path / "plain.h5", "r") as h5:
            assert "flux" not in h5 and "summary_json" not in h5.attrs
            assert "traces" in h5


EX4 = "Results/Ex_z000000000004.dat"
DAMAGES = {  # a file of a listed step that cannot be read, and what names it
    "empty-gz": (lambda run: (run.root / f"{EX4}.gz").write_bytes(b""),
                 rf"{EX4}\.gz: empty file"),
    "cut-short": (lambda run: run.column("Ex_z000000000004.dat", [1.0] * 5),
                  rf"{EX4}\.gz: 5 values, expected one per cell \(12\)"),
    "missing": (lambda run: (run.root / f"{EX4}.gz").unlink(), r"Ex_z000000000004\.dat\.gz in"),
    "not-a-number": (lambda run: run.write("u7_z000000000008.dat", [e_field(1.0)] * 2 + ["x"]),
                     r"u7_z000000000008\.dat\.gz, line 3: not one number: 'x'"),
    "stamp-cut-short": (lambda run: run.write("stmp000000000008.dat", ["000000000008 1 0 0.9"]),
                        r"stmp000000000008\.dat\.gz: 1 decay factors, expected 15"),
}


@pytest.mark.parametrize("damage", DAMAGES.values(), ids=DAMAGES.keys())
def test_an_unreadable_snapshot_is_an_error_naming_it(complete_run, tmp_path, capsys, damage):
    """Not a row of NaN: those stand only where a step stores no values."""
    spoil, message = damage
    spoil(complete_run)
    assert main(["export", str(complete_run.root), str(tmp_path / "r.h5")]) == 2
    assert re.search(message, capsys.readouterr().err)
