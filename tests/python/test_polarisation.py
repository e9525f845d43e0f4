"""Polarisation at a monitor cell: Stokes parameters, azimuth and
ellipticity of synthetic pulses of known rotation and ellipticity, the
band, the time window, the rotation against a reference, Run.polarisation
and `sweep collect --polarisation`."""
import csv
import json
import math

import numpy as np
import pytest

import mps1d
import runfiles
from mps1d import polarisation as pol
from mps1d import sweep_collect
from conftest import PROGRAM

DT_FS = 0.05
T_FS = np.arange(8000) * DT_FS                     # 400 fs
OMEGA = 2 * math.pi * runfiles.C0 / 0.955022e-6    # rad/s
E0 = 2e8


def pulse(centre_fs, fwhm_fs=10.0, omega=OMEGA):
    """(envelope, cos, sin) of a Gaussian on a carrier, on T_FS."""
    tau = fwhm_fs / (2 * math.sqrt(math.log(2)))
    g = np.exp(-((T_FS - centre_fs) / tau) ** 2)
    phase = omega * (T_FS - centre_fs) * 1e-15
    return g, np.cos(phase), np.sin(phase)


def elliptical(theta, chi, centre_fs=100.0, omega=OMEGA, amplitude=E0):
    """Ex, Ey of an ellipse of azimuth theta and ellipticity angle chi
    (chi > 0 turning as the program's sigma+, Ex = cos, Ey = -sin)."""
    g, c, s = pulse(centre_fs, omega=omega)
    major, minor = amplitude * math.cos(chi) * g * c, -amplitude * math.sin(chi) * g * s
    return (major * math.cos(theta) - minor * math.sin(theta),
            major * math.sin(theta) + minor * math.cos(theta))


class TestSyntheticPulses:
    @pytest.mark.parametrize("theta", [0.0, 0.3, -1.2, math.pi / 2])
    def test_linear_pulse_at_a_known_azimuth(self, theta):
        p = pol.polarisation_of(T_FS, *elliptical(theta, 0.0))
        assert p.rotation == pytest.approx(theta, abs=1e-9)
        assert p.ellipticity == pytest.approx(0.0, abs=1e-9)
        np.testing.assert_allclose(p.theta, theta, atol=1e-9)
        np.testing.assert_allclose(p.S3 / p.S0, 0.0, atol=1e-9)
        assert p.degree == pytest.approx(1.0, abs=1e-9)

    @pytest.mark.parametrize("theta,chi", [(0.0, 0.2), (0.7, -0.35), (-0.4, math.pi / 4)])
    def test_elliptical_pulse_of_known_chi(self, theta, chi):
        p = pol.polarisation_of(T_FS, *elliptical(theta, chi))
        assert p.ellipticity == pytest.approx(chi, abs=1e-9)
        np.testing.assert_allclose(p.chi, chi, atol=1e-9)
        if abs(chi) < math.pi / 4:
            assert p.rotation == pytest.approx(theta, abs=1e-9)

    def test_the_programs_sigma_plus_has_positive_s3(self):
        # The source's code 3: Ex = cos(wt), Ey = -sin(wt).
        g, c, s = pulse(100.0)
        p = pol.polarisation_of(T_FS, g * c, -g * s)
        assert p.ellipticity == pytest.approx(math.pi / 4, abs=1e-9)
        # S3 splits as the negative (sigma+) and positive (sigma-) frequencies of
        # Ex + iEy: |E(-w)|^2 = S0 + S3, |E(w)|^2 = S0 - S3.
        ex, ey = elliptical(0.5, 0.3)
        f, s0, _, _, s3 = pol.stokes(T_FS, ex, ey)
        e = np.fft.fft(ex + 1j * ey, 2 * (len(f) - 1))
        scale = (DT_FS * 1e-15) ** 2 / (math.pi * pol.Z0)
        k = np.arange(1, len(f) - 1)
        np.testing.assert_allclose(scale * np.abs(e[-k]) ** 2, (s0 + s3)[k],
                                   rtol=1e-9, atol=1e-12 * s0.max())
        np.testing.assert_allclose(scale * np.abs(e[k]) ** 2, (s0 - s3)[k],
                                   rtol=1e-9, atol=1e-12 * s0.max())

    def test_energy_scale_is_parsevals(self):
        ex, ey = elliptical(0.1, 0.1)
        f, s0, *_ = pol.stokes(T_FS, ex, ey)
        energy = np.sum(ex ** 2 + ey ** 2) * DT_FS * 1e-15 / pol.Z0
        assert np.sum(s0) * 2 * math.pi * (f[1] - f[0]) == pytest.approx(energy, rel=1e-6)


class TestRotationAgainstAReference:
    def test_a_rotated_copy(self):
        ref = pol.polarisation_of(T_FS, *elliptical(0.25, 0.1))
        turned = pol.polarisation_of(T_FS, *elliptical(0.25 + 0.013, 0.1))
        assert pol.relative_rotation(turned, ref) == pytest.approx(0.013, abs=1e-9)
        assert pol.relative_rotation(ref, turned) == pytest.approx(-0.013, abs=1e-9)

    def test_wrapped_into_a_half_turn(self):
        a = pol.polarisation_of(T_FS, *elliptical(1.4, 0.0))
        b = pol.polarisation_of(T_FS, *elliptical(-1.4, 0.0))
        assert pol.relative_rotation(a, b) == pytest.approx(2.8 - math.pi, abs=1e-9)
        assert pol.wrap_half_turn(math.pi / 2) == pytest.approx(math.pi / 2)
        assert pol.wrap_half_turn(-math.pi / 2) == pytest.approx(math.pi / 2)
        assert pol.wrap_half_turn(3 * math.pi + 0.1) == pytest.approx(0.1)
        assert pol.azimuth(-1.0, -0.0) == pytest.approx(math.pi / 2)


class TestBandAndWindow:
    def test_out_of_band_light_is_ignored(self):
        ex, ey = elliptical(0.3, 0.1)
        g, c, _ = pulse(200.0, omega=2.2 * OMEGA)      # a y line at 2.2 w, 0.6 as strong
        clean = pol.polarisation_of(T_FS, ex, ey)
        p = pol.polarisation_of(T_FS, ex, ey + 0.6 * E0 * g * c)
        assert p.frequency_hz.max() < 1.5 * OMEGA / (2 * math.pi)
        assert p.rotation == pytest.approx(0.3, abs=1e-9)
        assert p.ellipticity == pytest.approx(0.1, abs=1e-9)
        np.testing.assert_array_equal(p.frequency_hz, clean.frequency_hz)
        # A band by wavelength, the same values.
        lo, hi = clean.band_nm
        q = pol.polarisation_of(T_FS, ex, ey + 0.6 * E0 * g * c, band=(lo, hi))
        assert q.rotation == pytest.approx(0.3, abs=1e-9)
        assert q.S0.size == clean.S0.size

    def test_whole_record_mixes_the_lines(self):
        ex, ey = elliptical(0.3, 0.1)
        g, c, _ = pulse(200.0, omega=2.2 * OMEGA)
        p = pol.polarisation_of(T_FS, ex, ey + 0.6 * E0 * g * c, band=(200.0, 5000.0))
        assert abs(p.rotation - 0.3) > 0.1

    def test_the_window_picks_the_probe(self):
        pump = elliptical(0.0, math.pi / 4, centre_fs=80.0, amplitude=10 * E0)
        probe = elliptical(0.52, -0.05, centre_fs=260.0, amplitude=0.1 * E0)
        ex, ey = pump[0] + probe[0], pump[1] + probe[1]
        both = pol.polarisation_of(T_FS, ex, ey)
        assert both.ellipticity > 0.7
        for window in ((180.0, 340.0), (180.0, None)):
            p = pol.polarisation_of(T_FS, ex, ey, window=window)
            assert p.rotation == pytest.approx(0.52, abs=1e-9)
            assert p.ellipticity == pytest.approx(-0.05, abs=1e-9)
            assert p.window_fs == window

    def test_refusals(self):
        ex, ey = elliptical(0.0, 0.0)
        with pytest.raises(pol.NoPolarisation, match="no sample in the window"):
            pol.polarisation_of(T_FS, ex, ey, window=(900, 1000))
        with pytest.raises(pol.NoPolarisation, match="no field"):
            pol.polarisation_of(T_FS, 0 * ex, 0 * ey)
        with pytest.raises(pol.NoPolarisation, match="between"):
            pol.polarisation_of(T_FS, ex, ey, band=(10, 20))


STEPS = 6000


def write_polarised_run(root, theta, chi=0.0, cell=6):
    """A run whose monitor cell `cell` and transmitted end (cell 11) record
    a pulse of azimuth theta, ellipticity chi (cell 1: x light)."""
    folder = runfiles.RunFolder(root, LL=STEPS, Nt=STEPS)
    dt = runfiles.dt(folder.settings)
    steps = np.arange(1, STEPS + 1)
    times = steps * dt * 1e15
    tau = 10 / (2 * math.sqrt(math.log(2)))
    g = np.exp(-((times - 60) / tau) ** 2)
    c, s = np.cos(OMEGA * times * 1e-15), np.sin(OMEGA * times * 1e-15)
    major, minor = math.cos(chi) * g * c, -math.sin(chi) * g * s
    ex = major * math.cos(theta) - minor * math.sin(theta)
    ey = major * math.sin(theta) + minor * math.cos(theta)
    stems = {"time1": (g * c, 0 * g), "time2": (ex, ey),
             f"time_Ex_z{runfiles.label(cell)}": ex, f"time_Ey_z{runfiles.label(cell)}": ey}
    for stem, values in stems.items():
        if stem.startswith("time_"):
            folder.trace_file(stem, STEPS, zip(times * runfiles.TRACE_FS / 1e15, values))
        else:
            for q, v in zip(("Ex", "Ey"), values):
                folder.trace_file(f"{stem}_{q}", STEPS, zip(times * runfiles.TRACE_FS / 1e15, v))
    (folder.results / "summary.json").write_text(json.dumps({"program": "mps1d"}))
    return mps1d.load(root)


class TestRunAndSweep:
    def test_run_polarisation_of_a_cell_and_the_far_end(self, tmp_path):
        run = write_polarised_run(tmp_path / "run", 0.4, 0.15)
        for cell in (6, None, 11):
            p = run.polarisation(cell=cell)
            assert p.rotation == pytest.approx(0.4, abs=1e-6)
            assert p.ellipticity == pytest.approx(0.15, abs=1e-6)
        assert run.polarisation(cell=1).rotation == pytest.approx(0.0, abs=1e-9)
        with pytest.raises(ValueError, match="no Ex and Ey record of cell 3"):
            run.polarisation(cell=3)

    def test_sweep_collect_adds_rotation_and_ellipticity(self, tmp_path, monkeypatch):
        sweep, points = tmp_path / "sweep", []
        for i, theta in enumerate((0.1, 0.2, 0.35)):
            write_polarised_run(sweep / f"case-{i:04d}", theta, chi=-0.1 * i)
            points.append({"point": i, "folder": f"case-{i:04d}", "values": {"delay": i}})
        (sweep / "sweep.json").write_text(json.dumps({"names": ["delay"], "points": points}))
        monkeypatch.setattr(sweep_collect, "read_summary", lambda case: {"program": "mps1d"})
        monkeypatch.setattr(sweep_collect, "case_states", lambda d, data=None: [
            type("S", (), {"folder": p["folder"], "state": "done", "exit_status": 0})()
            for p in points])
        from mps1d.sweep_cli import main
        assert main(["collect", str(sweep), "--no-plot", "--polarisation", "6",
                     "--polarisation-window", "0:"]) == 0
        with open(sweep / "sweep.csv", newline="") as f:
            rows = list(csv.DictReader(f))
        np.testing.assert_allclose([float(r["polarisation.rotation"]) for r in rows],
                                   (0.1, 0.2, 0.35), atol=1e-6)
        np.testing.assert_allclose([float(r["polarisation.ellipticity"]) for r in rows],
                                   (0.0, -0.1, -0.2), atol=1e-6)

    def test_the_command_parses_the_option(self, capsys):
        from mps1d.sweep_cli import main
        assert main(["status", "/nowhere", "--polarisation", "6"]) == 2
        assert "sweep status takes no --polarisation" in capsys.readouterr().err
        assert main(["collect", "/nowhere", "--polarisation", "six"]) == 2
        assert "give a monitor cell number or 'end'" in capsys.readouterr().err
        assert main(["collect", "/nowhere", "--polarisation-window", "0:10"]) == 2
        assert "goes with --polarisation CELL" in capsys.readouterr().err


@pytest.mark.parametrize("polarisation,theta,chi", [
    ("x", 0.0, 0.0), ("y", math.pi / 2, 0.0), ("sigma+", None, math.pi / 4),
    ("sigma-", None, -math.pi / 4)])
def test_the_programs_pulses_at_the_far_end(tmp_path, polarisation, theta, chi):
    """Pulses of each code through vacuum: sigma+ (code 3) has chi = +pi/4."""
    if not PROGRAM.is_file():
        pytest.skip(f"{PROGRAM} is not built")
    c = mps1d.Case(dz="10 nm", block_steps=20000, time="120 fs", density=1e18,
                   dephasing="10 ps")
    c.layer("600 nm")
    c.pulse = mps1d.Pulse("gaussian", fwhm="10 fs", delay="30 fs", area=0.1,
                          polarisation=polarisation, origin=5)
    p = c.run(tmp_path, threads=1, source="transparent").polarisation()
    assert p.ellipticity == pytest.approx(chi, abs=1e-6)
    assert p.degree == pytest.approx(1.0, abs=1e-6)
    if theta is not None:
        assert p.rotation == pytest.approx(theta, abs=1e-6)
