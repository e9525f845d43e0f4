"""Spectra as data: Run.spectra(), `mps1d-tools spectra` (table, CSV), the
spectrum plot's range and log scale, `sweep collect --spectra`, and a bare
air/semiconductor interface run by the program against Fresnel."""
import csv
import json
import re
import subprocess
import sys

import numpy as np
import pytest

import mps1d
import runfiles
from conftest import ROOT, run_program
from mps1d import cli, plots, sweep_collect
from mps1d.spectra import COLUMNS, NORMALISATION, NoSpectra
from mps1d.spectra_table import parse_range, read_csv
from test_plots import R_AMPLITUDE, T_AMPLITUDE, assert_labelled, write_spectral_run

R0, T0 = R_AMPLITUDE ** 2, T_AMPLITUDE ** 2   # what the hand-made run's end cells see


@pytest.fixture
def spectral(tmp_path):
    return write_spectral_run(tmp_path / "run", 3, 10)


def tools(capsys, *args):
    """(exit status, stdout, stderr) of mps1d-tools ARGS."""
    status = cli.main([str(a) for a in args])
    out, err = capsys.readouterr()
    return status, out, err


def one_line_error(status, err, *words):
    assert status == 2 and len(err.strip().splitlines()) == 1 and "Traceback" not in err
    for word in words:
        assert word in err


def set_summary(run, **changes):
    path = run.results_dir / "summary.json"
    path.write_text(json.dumps({**json.loads(path.read_text()), **changes}))
    return mps1d.load(run.folder)


class TestRunSpectra:
    def test_arrays_band_and_errors(self, spectral):
        s = spectral.spectra()
        n = s.wavelength_nm.size
        assert n > 10 and all(getattr(s, a).shape == (n,) for a in
                              ("R", "T", "absorbed", "R_error", "T_error", "incident"))
        assert np.all(np.diff(s.wavelength_nm) > 0)
        np.testing.assert_allclose(s.R, R0, rtol=2e-3)
        np.testing.assert_allclose(s.T, T0, rtol=2e-3)
        np.testing.assert_allclose(s.absorbed, 1 - R0 - T0, atol=3e-3)
        # The record ends after the pulse: the error is the normalisation's.
        np.testing.assert_allclose(s.R_error, NORMALISATION, atol=1e-4)
        assert s.band_nm == (s.wavelength_nm[0], s.wavelength_nm[-1])
        assert s.band_nm[0] < 955.022 < s.band_nm[1]

    @pytest.mark.parametrize("change,reason", [
        (dict(source="hard"), "hard source"),
        (dict(flux={}), "no flux records"),
        (dict(energy={}), "no injected energy")])
    def test_runs_without_spectra_are_refused_by_name(self, spectral, change, reason):
        run = set_summary(spectral, **change)
        with pytest.raises(NoSpectra, match=reason) as refused:
            run.spectra()
        assert str(run.folder) in str(refused.value)
        assert isinstance(refused.value, ValueError) and plots.plot_spectra(run) is None

    def test_a_continuous_wave_has_no_spectrum(self, tmp_path):
        run = write_spectral_run(tmp_path / "cw", 1, 10)
        with pytest.raises(NoSpectra, match="no finite incident spectrum"):
            run.spectra()


class TestCommand:
    def test_table_is_every_kth_point_of_the_range(self, spectral, capsys):
        s = spectral.spectra()
        status, out, _ = tools(capsys, "spectra", spectral.folder, "--range", "900:1000",
                               "--rows", 4)
        assert status == 0
        rows = np.array([[float(v) for v in line.split()] for line in out.splitlines()
                         if line and line[0] != "#" and not line.lstrip().startswith("wave")])
        inside = s.within(900, 1000)
        k = int(re.search(r"every (\d+)\w\w point of (\d+)", out).group(1))
        assert len(rows) <= 4 and k == -(-inside.wavelength_nm.size // 4)
        np.testing.assert_allclose(rows[:, 0], inside.wavelength_nm[::k], atol=1e-4)
        np.testing.assert_allclose(rows[:, 1:3], np.c_[inside.R, inside.T][::k], atol=1e-6)
        assert np.all((rows[:, 0] >= 900) & (rows[:, 0] <= 1000))

    def test_csv_round_trip_of_every_point_in_range(self, spectral, tmp_path, capsys):
        out = tmp_path / "R.csv"
        assert tools(capsys, "spectra", spectral.folder, "--csv", out, "--range", "900:")[0] == 0
        with open(out, newline="") as f:
            assert tuple(next(csv.reader(f))) == COLUMNS
        table, s = read_csv(out), spectral.spectra().within(900, np.inf)
        for name, values in s.columns().items():
            np.testing.assert_array_equal(table[name], values)  # full precision

    @pytest.mark.parametrize("args,words", [
        (["--range", "1000:900"], ["--range 1000:900"]),
        (["--range", "10:20"], ["no spectrum in 10:20 nm"]),
        (["--csv", "{results}/R.csv"], ["inside the run's folder"])])
    def test_bad_requests_are_one_line_errors(self, spectral, capsys, args, words):
        args = [a.format(results=spectral.results_dir) for a in args]
        one_line_error(*tools(capsys, "spectra", spectral.folder, *args)[::2], *words)
        assert not (spectral.results_dir / "R.csv").exists()

    def test_a_hard_source_run_is_refused(self, spectral, capsys):
        set_summary(spectral, source="hard")
        one_line_error(*tools(capsys, "spectra", spectral.folder)[::2], "hard source")

    def test_range_parsing(self):
        assert parse_range("940:970") == (940, 970) and parse_range(":970") == (0, 970)
        assert parse_range("940:") == (940, np.inf)
        for bad in ("940", "a:b", "-1:5", "nan:5"):
            with pytest.raises(ValueError, match="--range"):
                parse_range(bad)


class TestPlot:
    def test_range_and_log_scale(self, spectral):
        fig = plots.plot_spectra(spectral, (900, 1000), log=True)
        assert_labelled(fig)
        ax = fig.axes[0]
        assert ax.get_yscale() == "log"
        lam = ax.lines[0].get_xdata()
        assert lam.min() >= 900 and lam.max() <= 1000
        np.testing.assert_allclose(ax.lines[0].get_ydata(), R0, rtol=2e-3)
        with pytest.raises(ValueError, match="no spectrum"):
            plots.plot_spectra(spectral, (10, 20))

    def test_options_on_a_run_without_spectra_write_nothing(self, complete_run, tmp_path,
                                                            capsys):
        out = tmp_path / "png"
        one_line_error(*tools(capsys, "plot", complete_run.root, "--log", "--out", out)[::2],
                       "no spectra")
        assert not out.exists()


def hand_made_sweep(root, monkeypatch):
    """A sweep folder of three points: two runs with spectra (pulses of 10
    and 20 fs), one with the hard source; the program's reading of the case
    files replaced by the summaries themselves."""
    points = []
    for i, fwhm in enumerate((10, 20, 30)):
        run = write_spectral_run(root / f"case-{i:04d}", 3, fwhm)
        set_summary(run, status="complete", **({"source": "hard"} if i == 2 else {}))
        points.append({"point": i, "folder": f"case-{i:04d}", "values": {"pulse.fwhm": fwhm}})
    (root / "sweep.json").write_text(json.dumps({"names": ["pulse.fwhm"], "points": points}))
    monkeypatch.setattr(sweep_collect, "read_summary",
                        lambda case: json.loads((case / "Results" / "summary.json").read_text()))
    monkeypatch.setattr(sweep_collect, "case_states", lambda d, data=None: [
        type("S", (), {"folder": p["folder"], "state": "done", "exit_status": 0})()
        for p in points])
    return root


class TestSweepCollect:
    def test_spectra_of_every_point_in_one_table(self, tmp_path, monkeypatch, capsys):
        import h5py

        sweep = hand_made_sweep(tmp_path / "sweep", monkeypatch)
        written = sweep_collect.collect(sweep, draw=False, spectra=True)
        err = capsys.readouterr().out
        assert "point 2:" in err and "hard source" in err
        with open(written["spectra_csv"], newline="") as f:
            rows = list(csv.reader(f))
        assert tuple(rows[0]) == ("point", "pulse.fwhm", *COLUMNS)
        table = np.array(rows[1:], dtype=float)
        assert set(table[:, 0]) == {0, 1}
        with h5py.File(written["spectra_h5"]) as h5:
            assert sorted(h5) == ["point_0000", "point_0001"]
            for point in (0, 1):
                mine = table[table[:, 0] == point]
                s = mps1d.load(sweep / f"case-{point:04d}").spectra()
                np.testing.assert_array_equal(mine[:, 2], s.wavelength_nm)
                np.testing.assert_array_equal(mine[:, 3], s.R)
                assert np.all(mine[:, 1] == (10, 20)[point])
                np.testing.assert_array_equal(h5[f"point_{point:04d}/T"][()], s.T)
                assert h5[f"point_{point:04d}"].attrs["band_nm"][0] == s.band_nm[0]
        # A longer pulse, a narrower band.
        assert np.ptp(table[table[:, 0] == 1, 2]) < np.ptp(table[table[:, 0] == 0, 2]) / 1.5

    def test_a_sweep_without_spectra_is_refused(self, tmp_path, monkeypatch, capsys):
        sweep = hand_made_sweep(tmp_path / "sweep", monkeypatch)
        for i in (0, 1):
            set_summary(mps1d.load(sweep / f"case-{i:04d}"), source="hard")
        with pytest.raises(sweep_collect.SweepError, match="none of the 3 complete points"):
            sweep_collect.collect(sweep, draw=False, spectra=True)
        assert not (sweep / "sweep.csv").exists() and not (sweep / "spectra.csv").exists()

    def test_the_command_takes_spectra_for_collect_only(self, capsys):
        from mps1d.sweep_cli import main
        assert main(["status", "/nowhere", "--spectra"]) == 2
        assert "sweep status takes no --spectra" in capsys.readouterr().err


# A bare interface: air, then n = 3.5 long enough that the right end's echo
# comes back after the record ends (so the record holds one reflection).
INTERFACE = dict(layers=((200, 1.0, False), (10, 3.5, False), (400, 3.5, False)),
                 first_cavity=2, last_cavity=2, dz="1.0e-8", LL=6000, Nt=6000, monitors=(100,),
                 fwhm=10, delay=20, amplitude="1.0e8", origin=5)
FRESNEL = ((3.5 - 1) / (3.5 + 1)) ** 2


def test_bare_interface_reflects_the_fresnel_fraction_and_loses_nothing(tmp_path):
    folder = run_program(tmp_path / "interface", runfiles.execdata_text(**INTERFACE),
                         "--source=transparent", "--threads=1")
    s = mps1d.load(folder).spectra()
    e = s.energies
    assert (e["reflected"] + e["transmitted"]) / e["injected"] == pytest.approx(1, abs=1e-3)
    # Over the band: R within 0.01 of Fresnel (the grid's interface and
    # dispersion), 1 − R − T within 0.02 of 0 (the analytic incident
    # spectrum of a 3-cycle pulse, worst at the band's edges).
    assert np.abs(s.R - FRESNEL).max() < 0.01
    assert np.abs(s.absorbed).max() < 0.02
    central = s.incident >= 0.6 * s.incident.max()
    assert np.abs(s.absorbed[central]).max() < 0.01


def test_tools_script_prints_the_table(spectral):
    done = subprocess.run([sys.executable, str(ROOT / "scripts" / "mps1d-tools"), "spectra",
                           str(spectral.folder), "--rows", "5"], capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == 0 and done.stdout.count("\n") <= 5 + 6
