"""Cases written by name: the files they give, the program's reading of
them, and what a run does with a pulse given by its area."""
import math
import runpy
import warnings
from types import SimpleNamespace

import numpy as np
import pytest

from conftest import PROGRAM, ROOT
from mps1d.case import (Case, CaseError, CaseWarning, Pulse, columns_to_populations,
                        populations_to_columns)
from mps1d.program import check_text

pytestmark = pytest.mark.skipif(not PROGRAM.is_file(), reason=f"{PROGRAM} is not built")


@pytest.fixture(autouse=True)
def program(monkeypatch):
    monkeypatch.setenv("MPS1D", str(PROGRAM))


def example(name):
    """The module examples/NAME.py, as a namespace."""
    return SimpleNamespace(**runpy.run_path(str(ROOT / "examples" / f"{name}.py"), run_name=name))


def values(path):
    report = check_text(path.read_bytes())
    return {k: v["value"] for k, v in report["inputs"].items()}, report["derived"]


@pytest.mark.parametrize("name, ends", [("quickstart", "201.781 fs"),
                                         ("microcavity", "553.676 fs")])
def test_built_and_reread_examples_read_as_the_text_examples(name, ends, tmp_path):
    text = values(ROOT / "examples" / name / "execdata.txt")
    # Both records end long before the dots' free decay (T2 = 10 ps) has
    # fallen: the one warning, the Gaussian peaking 3 widths after step 0.
    short = (f"the record ends {ends} after pulse 1's peak, less than 3 T2 = 30 ps: its free "
             "decay is cut off")
    with pytest.warns(CaseWarning) as caught:
        built = example(name).case().write(tmp_path / "built")
        reread = Case.from_execdata(ROOT / "examples" / name / "execdata.txt").write(
            tmp_path / "re")
    assert (built.values, built.check["derived"]) == text
    assert (reread.values, reread.notes) == (text[0], ["warning: " + short])
    assert [str(w.message) for w in caught] == [short, short]


def test_quickstart_runs_alike_from_text_and_builder(quickstart_run, tmp_path):
    from mps1d import load
    built = example("quickstart").case().run(tmp_path / "built", threads=1)
    ref = load(quickstart_run)
    assert list(built.snapshots()) == list(ref.snapshots()) == [1] + list(range(5000, 35001, 5000))
    assert ref.traces()[(310, "rho22")].value.max() > 0.01     # the pulse has met the dots
    for q in ("Ex", "Ey", "u1", "u13"):
        np.testing.assert_array_equal(built.snapshot(35000, q), ref.snapshot(35000, q))
    for key, trace in ref.traces().items():
        np.testing.assert_array_equal(built.traces()[key].value, trace.value)
    dt = 0.5 * 5e-9 / 299792458.0                              # S dz / c
    np.testing.assert_allclose(trace.time, trace.step * dt, rtol=1e-6)   # seconds


def test_a_written_case_shows_itself_in_one_line(tmp_path):
    case = example("quickstart").case()
    assert repr(case) == "<Case 620 cells of 5 nm, 35000 steps = 291.869 fs, 5 layers, 1 pulse>"
    with pytest.warns(CaseWarning, match="less than 3 T2"):
        written = case.write(tmp_path)
    assert repr(written) == (f"<Written {tmp_path}: 620 cells, 35000 steps = 291.869 fs, "
                             "5 layers, 1 pulse, 2 notes (1 warning)>")


# T2 of 1<->2 (u1, u7: dephasing (1,2), (3,1)) 1 fs, of 3<->4 (u6, u12:
# (2,4), (4,3)) 10 fs: 3<->4's record of 19 fs is cut off, with sigma- light
# and both transitions only.
T2_34 = [[0 if i == j else 10e-15 if (i, j) in ((2, 4), (4, 3)) else 1e-15
          for j in range(1, 5)] for i in range(1, 5)]


@pytest.mark.parametrize("pulses, dephasing, both, count", [
    ([Pulse("gaussian", fwhm="5 fs", delay="30 fs", amplitude=1e8)], "1 fs", False, 1),
    ([Pulse("gaussian", fwhm="5 fs", delay="6 fs", amplitude=1e8, wavelength="1.2 um"),
      Pulse("sech", length="10 fs", amplitude=0)], "1 fs", False, 2),
    ([Pulse("sech", length="10 fs", amplitude=1e8)], "7 fs", False, 1),
    ([Pulse("gaussian", fwhm="5 fs", delay="6 fs", amplitude=1e8, polarisation="sigma-")],
     T2_34, True, 1),
    ([Pulse("gaussian", fwhm="5 fs", delay="6 fs", amplitude=1e8, polarisation="sigma-")],
     T2_34, False, 0),
], ids=["late", "far-off-and-nothing", "short-record", "sigma-minus-both", "sigma-minus"])
def test_the_builder_warns_as_the_program(pulses, dephasing, both, count, tmp_path):
    case = Case(steps=2000, block_steps=1000, relaxation="1 ns", dephasing=dephasing,
                pulse=pulses)
    case.layer("50 nm", n=3.5).dots("10 nm", n=3.5).layer("50 nm", n=3.5)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", CaseWarning)
        written = case.write(tmp_path, both_transitions=both)
    assert written.warnings == written.check["warnings"]
    assert len(written.warnings) == count


def test_populations_and_columns():
    assert populations_to_columns((0.5, 0, 0.5, 0)) == (-0.5, 0.5, -1.0)   # the examples' row
    for rho in ((1, 0, 0, 0), (0.1, 0.2, 0.3, 0.4), (0, 0, 0, 1)):
        assert columns_to_populations(populations_to_columns(rho)) == pytest.approx(rho)
    with pytest.raises(CaseError, match="summing to 1"):
        populations_to_columns((0.5, 0.5, 0.5, 0))
    with pytest.raises(CaseError, match="holding dots"):   # inverted: the medium sees no dots
        Case(steps=0).dots("10 nm", populations=(0, 1, 0, 0))


class TestRounding:
    def base(self, **kw):
        c = Case(dz="5 nm", block_steps=100, steps=100, **kw)
        c.layer("52 nm").layer("20 nm", name="spacer").dots("33 nm", n=3.5).layer("20 nm")
        return c.layer("50 nm")

    def test_lengths_become_cells_and_the_dot_region_is_the_dot_layer(self, tmp_path):
        c = self.base()
        c.pulse = Pulse("gaussian", fwhm="20 fs", delay="60 fs", amplitude=1e8)
        c.monitors = ["dots", "0.1 um"]
        w = c.write(tmp_path)
        v, d = w.values, w.check["derived"]
        assert [v[f"layer.{k}.cells"] for k in range(1, 6)] == [10, 4, 7, 4, 10]
        assert "layer 1: 52 nm is 10 cells of 5 nm = 50 nm" in w.notes
        assert (v["structure.first_cavity"], v["structure.last_cavity"]) == (2, 4)
        assert (d["z1"], d["z2"]) == (15, 21) and d["monitor_cells"][1:3] == [18, 20]

    def test_uneven_neighbours_make_the_dot_layer_the_cavity(self, tmp_path):
        c = self.base()
        c.layers[3].length = "30 nm"
        c.pulse = Pulse("cw", length="100 fs", amplitude=1e8)
        w = c.write(tmp_path)
        assert (w.values["structure.first_cavity"], w.values["structure.last_cavity"]) == (3, 3)
        assert (w.check["derived"]["z1"], w.check["derived"]["z2"]) == (15, 21)

    @pytest.mark.parametrize("fwhm, delay", [("0.1 ps", "0.3 ps"), ("50 fs", "1 ps"),
                                             ("30 fs", "100 fs")])
    def test_a_gaussian_peaks_at_its_delay(self, tmp_path, fwhm, delay):
        c = self.base()
        c.pulse = Pulse("gaussian", fwhm=fwhm, delay=delay, amplitude=1e8)
        w = c.write(tmp_path)
        v, dt = w.values, w.check["derived"]["dt"]
        unit = ((1e-15, 1e-12)[v["pulse.fwhm_unit"]], (1e-15, 1e-12, 1e-9)[v["pulse.delay_unit"]])
        fwhm_s = v["pulse.fwhm"] * unit[0]
        m = math.trunc(v["pulse.delay"] * unit[1] / fwhm_s)   # as the program counts
        W = int(fwhm_s / 1.6651092767715454 / dt + 0.5)
        wanted = float(delay.split()[0]) * {"fs": 1e-15, "ps": 1e-12}[delay.split()[1]]
        assert abs(m * W * dt - wanted) <= 0.5 * W * dt

    def test_time_is_whole_blocks_and_two_dot_layers_are_refused(self):
        c = self.base(courant=0.5)
        c.steps, c.time = None, "1 fs"     # dt = 8.34e-3 fs: 120 steps, two blocks of 100
        c.pulse = Pulse("cw", amplitude=1.0)
        assert c.values()["run.Nt"] == 100
        with pytest.raises(CaseError, match="one dot layer"):
            c.dots("10 nm").values()


@pytest.mark.parametrize("shape, polarisation, area, rho22", [
    ("sech", "sigma+", math.pi, 1.0), ("sech", "sigma+", 2 * math.pi, 0.0),
    ("gaussian", "x", math.pi, 1.0)])
def test_pulse_area_turns_the_dots(tmp_path, shape, polarisation, area, rho22):
    """Thin, dilute dots in vacuum: a pi pulse inverts them, a 2 pi pulse
    gives them back (T1, T2 far longer than the run)."""
    c = Case(dz="10 nm", block_steps=4000, time="100 fs", density=1e18, dephasing="10 ps")
    c.layer("200 nm").dots("20 nm", populations=(1, 0, 0, 0)).layer("200 nm")
    c.pulse = Pulse(shape, fwhm="10 fs", delay="30 fs", area=area, polarisation=polarisation,
                    origin=5)
    c.monitors = ["dots"]
    run = c.run(tmp_path, threads=1)
    assert run.traces()[(21, "rho22")].value[-1] == pytest.approx(rho22, abs=0.01)
    with pytest.raises(CaseError, match="not empty"):
        c.run(tmp_path)


def test_a_rejected_case_raises_with_the_programs_message(tmp_path):
    c = Case(steps=100, block_steps=100, dipole={(1, 2): 6.4e-29, (2, 1): 6.4e-29})
    c.layer("50 nm").dots("10 nm").layer("50 nm")
    c.pulse = Pulse("gaussian", fwhm="10 fs", amplitude=1e8)
    with pytest.raises(CaseError, match="3->4"):
        c.write(tmp_path)


def test_pump_and_probe_are_two_pulse_lines_named_by_number(tmp_path):
    from mps1d.execdata import Execdata
    case = example("quickstart").case()
    case.pulse = [case.pulse, Pulse("gaussian", fwhm="30 fs", delay="400 fs", amplitude=1e8,
                                    polarisation="sigma-", origin=10)]
    written = case.write(tmp_path / "pp")  # checked through the program's reading
    assert written.values["pulses.count"] == 2 and written.values["pulse.2.polarisation"] == 4
    assert len(Case.from_execdata(tmp_path / "pp" / "execdata.txt").pulses) == 2
    edited = Execdata.read(tmp_path / "pp" / "execdata.txt").with_values({"pulse.2.delay": 300})
    assert edited.value("pulse.2.delay") == 300 and "pulse.2.delay" in edited.names()


def test_broadened_dots_are_the_weighted_mean_of_their_classes(tmp_path):
    """Case.run(ensemble=(K, FWHM)): every HDF5 snapshot holds the K classes
    of each dot cell, offsets symmetric out to 2 FWHM, weights summing to 1,
    and the cell's populations are the weighted sums of its classes'."""
    from mps1d.case import EV, HBAR
    from mps1d.export import input_attributes
    from mps1d.report import summary_text
    with pytest.raises(CaseError, match="spectral classes"):
        example("quickstart").case().run(tmp_path / "refused", ensemble=(0, 2.0))
    run = example("quickstart").case(steps=15000).run(tmp_path / "run", threads=1,
                                                      output="hdf5", ensemble=(6, 2.0))
    for J in run.snapshots():
        classes, mean = run.classes(J), run.populations(J)
        np.testing.assert_array_equal(classes.cells, mean.cells)
        assert classes.rho["rho22"].shape == classes.w["u1"].shape == (mean.cells.size, 6)
        assert classes.weight.sum() == pytest.approx(1.0, abs=1e-15)
        np.testing.assert_allclose(classes.offset, -classes.offset[::-1], rtol=1e-12)
        assert classes.offset[-1] == pytest.approx(2 * 2.0e-3 * EV / HBAR, rel=1e-9)
        for name, rho in mean.rho.items():
            np.testing.assert_allclose(classes.rho[name] @ classes.weight, rho, rtol=0, atol=1e-12)
    assert np.ptp(classes.rho["rho22"], axis=1).min() > 1e-3    # the pulse told them apart
    assert "ensemble: 6 spectral classes per dot cell, Gaussian of 2 meV" in summary_text(run)
    assert (input_attributes(run)["classes"], input_attributes(run)["fwhm_meV"]) == (6, 2.0)


def _case(pulse=None, **kw):
    c = Case(**({"steps": 100, "block_steps": 100} | kw))
    c.layer("50 nm").dots("10 nm").layer("50 nm")
    c.pulse = pulse or Pulse("cw", amplitude=1e8)
    return c


@pytest.mark.parametrize("build, message", [
    (lambda: _case(steps=None, time="1e300 s"), "time: '1e300 s' is more than"),
    (lambda: _case(steps=None, time="-20 fs"), "time: '-20 fs' must be above 0"),
    (lambda: _case(Pulse(fwhm="10 fs", delay="1e300 s", amplitude=1)), "pulse delay: '1e300 s'"),
    (lambda: _case(Pulse("cw", delay="-1 fs", amplitude=1)), "pulse delay: '-1 fs' must be 0"),
    (lambda: _case(Pulse(fwhm="10 fs", area=math.inf)), "pulse area: inf is not finite"),
    (lambda: _case(Pulse(fwhm="10 fs", area=1), dipole=0), r"dipole moment \(1,2\) is 0"),
    (lambda: _case(Pulse("cw", amplitude="1e305 MV/cm")), "pulse amplitude: .* beyond"),
    (lambda: _case(Pulse("cw", amplitude=1, noise=math.nan)), "pulse noise: nan"),
    (lambda: _case(Pulse("cw", amplitude=1, origin=10 ** 9)), "pulse origin: 1000000000"),
    (lambda: _case(steps=2.5), "steps: 2.5 is not a whole number"),
    (lambda: _case(block_steps=math.nan), "block_steps: nan"),
    (lambda: _case(courant=1.5), "courant: 1.5 must be 1 or less"),
    (lambda: _case(density=-1), "density: -1 must be 0 or more"),
    (lambda: _case(dephasing="0 fs"), r"dephasing time \(1,2\): 0.0 s, must be above 0"),
    (lambda: _case(relaxation_scale=math.inf), "relaxation_scale: inf is not finite"),
    (lambda: _case(tolerance=0), "tolerance: 0 must be above 0"),
    (lambda: _case(left=("absorbing", 2.0)), "left reflection coefficient: 2.0"),
    (lambda: _case(monitors=["1e300 m"]), "monitor '1e300 m': beyond the structure"),
    (lambda: _case(continue_from=50), "continue_from: 50 is not a whole number of blocks"),
    (lambda: Case(steps=1).layer("50 nm", n=math.nan), "layer 1 index n: nan is not finite"),
], ids=["huge-time", "negative-time", "huge-delay", "negative-delay", "infinite-area",
        "area-without-dipole", "huge-amplitude", "nan-noise", "origin", "fractional-steps",
        "nan-block", "courant", "density", "zero-dephasing", "scale", "tolerance", "reflection",
        "monitor", "continue-from", "nan-index"])
def test_builder_inputs_are_checked_and_named(build, message):
    with pytest.raises(CaseError, match=message):
        build().values()


def test_the_names_users_import_stay_in_mps1d_case():
    """The examples and users' scripts build cases through mps1d.case and
    mps1d, whichever of its modules holds a name."""
    import mps1d
    from mps1d import case
    for name in ("Case", "Pulse", "Layer", "Boundary", "CaseError", "Written", "check_folder",
                 "populations_to_columns", "columns_to_populations", "holds_dots", "quantity",
                 "si", "real", "whole"):
        assert hasattr(case, name), name
    assert (mps1d.Case, mps1d.Pulse, mps1d.Layer, mps1d.Boundary, mps1d.CaseError) == \
        (case.Case, case.Pulse, case.Layer, case.Boundary, case.CaseError)
    assert case.TIME["fs"] == 1e-15 and case.HBAR == 1.054571596e-34 and case.EV == 1.6e-19
    assert set(case.__all__) <= set(vars(case))
