"""The loader against a short run of the solver itself (skipped when
build/mps1d is not built)."""

import h5py
import numpy as np
import pytest

import mps1d
from conftest import QUICKSTART, run_program
from mps1d.cli import main
from runfiles import TRACE_FS

DOT_MONITOR, NZ = 70, 140
INSIDE, OUTSIDE = (61, 70, 80), (60, 81)


@pytest.fixture(scope="module")
def run(real_run):
    return mps1d.load(real_run)


def test_steps_dot_region_and_traces_of_every_step_once(run):
    np.testing.assert_array_equal(run.snapshots(), [1, 500, 1000, 1500])
    assert run.NZ == NZ and len(run.profile.n) == NZ
    np.testing.assert_array_equal(run.dot_cells(), np.arange(61, 81))
    traces = run.traces()
    assert {(1, "Ex"), (NZ - 1, "Ey"), (DOT_MONITOR, "rho22"), (81, "Ex")} <= set(traces)
    for trace in traces.values():
        np.testing.assert_array_equal(trace.step, np.arange(1, 1501))
        np.testing.assert_allclose(trace.time_fs, trace.step * run.dt * TRACE_FS, rtol=1e-11)
    # Populations are zero where the solver put no dots and sum to 1 where it did.
    for cell in OUTSIDE:
        assert all(np.all(traces[(cell, q)].value == 0.0) for q in mps1d.run.POPULATIONS)
    for cell in INSIDE:
        total = sum(traces[(cell, q)].value for q in mps1d.run.POPULATIONS)
        np.testing.assert_allclose(total, 1.0, atol=1e-12)
    rho22 = traces[(DOT_MONITOR, "rho22")].value  # the pulse reaches the dots
    assert rho22[0] == pytest.approx(0.0, abs=1e-12) and rho22.max() > 1e-3


@pytest.mark.parametrize("J", [1, 500, 1000, 1500])
@pytest.mark.parametrize("cell", INSIDE)
def test_snapshots_agree_with_traces(run, J, cell):
    traces, pops = run.traces(), run.populations(J)
    at = list(pops.cells).index(cell)
    digits = 1e-5 if J == 1 else 1e-10  # step 1: the five-digit s13..s15 files
    for name, values in pops.rho.items():
        assert values[at] == pytest.approx(traces[(cell, name)].value[J - 1], abs=digits)
    for name in ("Ex", "Ey"):
        assert run.snapshot(J, name)[cell - 1] == pytest.approx(
            traces[(cell, name)].value[J - 1], abs=1e-11)


def test_statistics_intervals_match_the_traces(run):
    stats, traces = run.statistics(), run.traces()
    assert set(stats) == set(traces)
    for key, s in stats.items():
        values = traces[key].value
        np.testing.assert_array_equal(s.step, np.arange(1, 1501))  # LL < 2000: every step
        np.testing.assert_allclose(s.maximum, values, atol=1e-12 * max(1.0, abs(values).max()))
        np.testing.assert_allclose(s.change, np.diff(values, prepend=0.0), atol=1e-9)


def test_export_and_figures_of_a_real_run(run, tmp_path):
    from mps1d.export import export
    from mps1d.plots import figures
    from test_plots import assert_labelled

    export(run, tmp_path / "real.h5")
    with h5py.File(tmp_path / "real.h5", "r") as h5:
        cells = list(h5["traces/cell"][()])
        assert cells == [1, 60, 61, 70, 80, 81, NZ - 1]
        np.testing.assert_array_equal(h5["traces/rho22"][:, cells.index(DOT_MONITOR)],
                                      run.traces()[(DOT_MONITOR, "rho22")].value)
        assert h5["snapshots/Ex"].shape == (4, NZ)
        # One flux record per step, the blocks joined in order.
        time = h5["flux/time"][()]
        assert len(time) == run.summary["inputs"]["steps_run"]
        assert np.all(np.diff(time) > 0)
    names = set()
    for name, fig in figures(run):
        assert_labelled(fig)
        names.add(name)
    assert len(names) == 4 + len(cells) + 1 and "zt_profiles_E2.png" in names


def test_tools_on_a_run_stopped_by_a_value_that_is_not_finite(tmp_path, capsys):
    """Population times of 1e-40 s overflow at once: the run stops after step 1
    (exit status 4) with no snapshot listed; the tools say so and end normally."""
    lines = QUICKSTART.read_text().split("\n")
    lines[19], lines[46], lines[49] = ("1.0e-40", "steps between two spatial dumps LL 10 steps",
                                       "total number of time steps 0 -")
    run_program(tmp_path, "\n".join(lines), status=4)
    assert main(["summary", str(tmp_path)]) == 0
    assert capsys.readouterr().out.startswith("RUN STOPPED after step 1: Ex is NaN at cell 301")
    assert main(["export", str(tmp_path), str(tmp_path / "r.h5")]) == 0
    assert main(["plot", str(tmp_path)]) == 0
