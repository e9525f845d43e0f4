import json
import math
import re
from dataclasses import replace

import numpy as np
import pytest
from matplotlib.figure import Figure

import mps1d
import runfiles
from mps1d import plots
from mps1d.spectra import BAND_FRACTION, Z0, Spectra, compute_spectra, physical_range

UNIT = re.compile(r"\(.+\)$")


def assert_labelled(fig):
    """Every visible axis carries a label ending in its unit, '(...)'."""
    assert isinstance(fig, Figure) and fig.axes
    for ax in fig.axes:
        colorbar = hasattr(ax, "_colorbar")
        pairs = [(ax.yaxis, ax.get_ylabel())] + ([] if colorbar else [(ax.xaxis, ax.get_xlabel())])
        for axis, text in pairs:
            if axis.get_visible():
                assert UNIT.search(text), f"axis label without a unit: {text!r}"


@pytest.fixture
def run(complete_run):
    return mps1d.load(complete_run.root)


class TestFigures:
    def test_snapshot_structure_field_and_populations(self, run):
        fig = plots.plot_snapshot(run, 4)
        assert_labelled(fig)
        top = fig.axes[0]
        np.testing.assert_array_equal(top.lines[0].get_ydata(), run.profile.n)
        field = fig.axes[2].lines[0].get_ydata()  # the twin axis of |E|
        np.testing.assert_allclose(field, np.hypot(run.snapshot(4, "Ex"), run.snapshot(4, "Ey")))
        assert len(fig.axes[1].lines) == 4  # rho11..rho44 over the dot cells

    def test_traces_of_a_dot_monitor(self, run):
        fig = plots.plot_traces(run, 6)
        assert_labelled(fig)
        envelopes, carrier, pops = fig.axes
        assert len(pops.lines) == 4
        np.testing.assert_array_equal(envelopes.lines[0].get_xdata(),
                                      run.traces()[(6, "Ex")].time_fs)
        # The carrier panel holds the record itself, a few periods around the peak.
        t = carrier.lines[0].get_xdata()
        assert 0 < np.ptp(t) <= plots.ZOOM_PERIODS * plots.carrier_period_fs(run)
        trace = run.traces()[(6, "Ex")]
        np.testing.assert_array_equal(carrier.lines[0].get_ydata(),
                                      trace.value[np.isin(trace.time_fs, t)])

    @pytest.mark.parametrize("cell", [1, 2])  # an end cell; a monitor outside the dots
    def test_no_population_panel_outside_the_dots(self, run, cell):
        fig = plots.plot_traces(run, cell)
        assert_labelled(fig)
        assert len(fig.axes) == 2

    @pytest.mark.parametrize("cells,snapshots,source", [
        (4, 99, "traces"), (5, 4, "snapshots"), (5, 5, "too few")])
    def test_zt_map_from_traces_snapshots_or_neither(self, run, monkeypatch, cells, snapshots,
                                                     source):
        # The run has traces at 4 cells (1, 2, 6, 11) and 4 snapshots.
        monkeypatch.setattr(plots, "MIN_MAP_CELLS", cells)
        monkeypatch.setattr(plots, "MIN_MAP_SNAPSHOTS", snapshots)
        assert plots.zt_map_source(run) == source
        fig = plots.plot_zt_map(run)
        assert_labelled(fig)
        ax = fig.axes[0]
        if source == "too few":
            assert not ax.collections and len(ax.lines) == len(runfiles.SNAPSHOTS)
            assert "too few for a z–t map" in ax.get_title()
            return
        values = ax.collections[0].get_array().reshape(-1, 4 if source == "traces" else runfiles.NZ)
        if source == "snapshots":
            assert "every 4 steps" in ax.get_title()  # the snapshots 1, 4, 8, 12
            J, cell = 8, 3
            expected = (runfiles.snapshot_value("Ex", J, cell) ** 2
                        + runfiles.snapshot_value("Ey", J, cell) ** 2)
            assert values[2, cell - 1] == pytest.approx(expected)
        else:
            # Rows average |E|² over whole bins of steps: all 12 steps in one here.
            steps = np.arange(1, 13)
            expected = np.mean([(runfiles.trace_value(2, "Ex", s) ** 2
                                 + runfiles.trace_value(2, "Ey", s) ** 2) for s in steps])
            assert values.shape == (1, 4) and values[0, 1] == pytest.approx(expected)
            assert "traces at 4 monitor cells" in ax.get_title()

    def test_envelope_of_a_pulse_and_of_a_record_cut_off(self):
        t = np.arange(20000) * 0.01  # 320 samples per period of 3.2
        gaussian = np.exp(-((t - 100) / 30) ** 2)
        np.testing.assert_allclose(plots.envelope(gaussian * np.cos(2 * np.pi * t / 3.2 + 0.3),
                                                  320), gaussian, atol=2e-3)
        # Circular polarisation: |E| does not oscillate; the envelope is |E|
        # half a period ahead at most.
        circular = np.hypot(gaussian * np.cos(2 * np.pi * t / 3.2),
                            gaussian * np.sin(2 * np.pi * t / 3.2))
        np.testing.assert_allclose(plots.envelope(circular, 320), gaussian, atol=0.05)
        # A carrier on at both ends of the record, at any phase.
        for phase in np.linspace(0, 2 * np.pi, 8):
            np.testing.assert_allclose(plots.envelope(np.sin(2 * np.pi * t / 3.2 + phase), 320),
                                       1, atol=1e-3)


# --- spectra: a run whose end cells see r and t times the incident pulse ----

STEPS, T0_FS = 4000, 30.0
R_AMPLITUDE, T_AMPLITUDE = 0.3, 0.8


def incident(shape, t_s, fwhm_s, wavelength_m):
    x = t_s - T0_FS * 1e-15
    if shape == 3:
        envelope = np.exp(-((x * 2 * math.sqrt(math.log(2)) / fwhm_s) ** 2))
    else:
        envelope = 1 / np.cosh(20 * x / fwhm_s)
    return envelope * np.cos(2 * math.pi * runfiles.C0 / wavelength_m * x)


def write_spectral_run(root, shape, fwhm_fs, origin=2):
    """Cell 1 records R_AMPLITUDE, cell NZ−1 T_AMPLITUDE times the pulse (the
    other way round for a source at the right end)."""
    folder = runfiles.RunFolder(root, LL=STEPS, Nt=STEPS, shape=shape, fwhm=fwhm_fs,
                                origin=origin)
    dt, E0 = runfiles.dt(folder.settings), 2e8
    steps = np.arange(1, STEPS + 1)
    field = E0 * incident(shape, steps * dt, fwhm_fs * 1e-15, 0.955022e-6)
    times = steps * dt * runfiles.TRACE_FS
    left, right = (R_AMPLITUDE, T_AMPLITUDE) if origin == 2 else (T_AMPLITUDE, R_AMPLITUDE)
    for stem, amplitude in (("time1", left), ("time2", right)):
        folder.trace_file(f"{stem}_Ex", STEPS, zip(times, amplitude * field / E0))
        folder.trace_file(f"{stem}_Ey", STEPS, zip(times, 0 * field))
    folder.write("flux.dat", [f"{t:.12e} {-(left * e) ** 2 / Z0:.12e} "
                              f"{(right * e) ** 2 / Z0:.12e}" for t, e in zip(times, field)],
                 gz=False)
    injected = float(np.trapz(field ** 2 / Z0, steps * dt))
    summary = {"program": "mps1d", "source": "transparent", "flux": {"file": "flux.dat"},
               "energy": {"injected": injected}}
    (folder.results / "summary.json").write_text(json.dumps(summary))
    return mps1d.load(root)


class TestSpectra:
    @pytest.mark.parametrize("shape,fwhm_fs,origin", [(3, 10, 2), (2, 40, 2), (3, 10, 0)])
    def test_constant_reflection_and_transmission(self, tmp_path, shape, fwhm_fs, origin):
        spectra = compute_spectra(write_spectral_run(tmp_path, shape, fwhm_fs, origin))
        assert spectra.wavelength_nm.min() < 955.022 < spectra.wavelength_nm.max()
        np.testing.assert_allclose(spectra.reflectance, R_AMPLITUDE ** 2, rtol=2e-3)
        np.testing.assert_allclose(spectra.transmittance, T_AMPLITUDE ** 2, rtol=2e-3)
        assert spectra.energies["reflected"] == pytest.approx(
            R_AMPLITUDE ** 2 * spectra.energies["injected"], rel=1e-6)

    def test_a_shorter_pulse_has_a_wider_band(self, tmp_path):
        short = compute_spectra(write_spectral_run(tmp_path / "a", 3, 5)).wavelength_nm
        long = compute_spectra(write_spectral_run(tmp_path / "b", 3, 20)).wavelength_nm
        assert np.ptp(short) > 3 * np.ptp(long)

    def test_figure_band_resolution_and_clipping_within_the_error(self, tmp_path):
        run = write_spectral_run(tmp_path, 3, 10)
        fig = plots.plot_spectra(run)
        assert_labelled(fig)
        np.testing.assert_allclose(fig.axes[0].lines[0].get_ydata(), R_AMPLITUDE ** 2, rtol=2e-3)
        spectra = compute_spectra(run)
        assert spectra.incident.min() >= BAND_FRACTION * spectra.incident.max()
        record = STEPS * run.dt
        assert spectra.resolution_nm == pytest.approx(0.955022e-6 ** 2 / (runfiles.C0 * record)
                                                      * 1e9)
        assert spectra.error_R.max() < 1e-4  # the record ends after the pulse
        # Past 0 or 1 within the error (0.05 and 0, each plus the normalisation's
        # 0.003): drawn at the limit; beyond it, or with gain: as computed.
        noisy = Spectra(wavelength_nm=np.arange(3.0), incident=np.ones(3), energies={},
                        reflectance=np.array([1.04, 1.2, 0.3]),
                        transmittance=np.array([0.0, 0.0, 0.75]),
                        error_R=np.full(3, 0.05), error_T=np.zeros(3))
        drawn = physical_range(noisy)
        np.testing.assert_array_equal(drawn.reflectance, [1.0, 1.2, 0.3])
        np.testing.assert_allclose(drawn.absorbed, [0.0, -0.2, 0.0], atol=1e-12)
        assert (drawn.clipped, drawn.beyond) == (3, True)
        gain = physical_range(replace(noisy, gain=True))
        assert gain.clipped == 0 and gain.reflectance[0] == 1.04

    def test_no_spectra_without_flux_records(self, run):
        assert compute_spectra(run) is None and plots.plot_spectra(run) is None
