"""Reflection and transmission spectra of a run with a transparent source.

Method:

* The reflected and transmitted fields are the monitor traces of the two
  end cells (cell 1 and cell NZ−1, Ex and Ey, times E0): the end on the
  source's side sees the reflection (a source in the right half of the
  grid, or origin 0 = the right end, sends the pulse leftwards).  Their spectral
  energy density per unit area is dU/dω = (|Ex(ω)|² + |Ey(ω)|²)/(π·Z0)
  with Ex(ω) = ∫ Ex(t) e^{iωt} dt (one-sided, from an FFT with zero
  padding); by Parseval it integrates to ∫ E²/Z0 dt.
* The flux records fix the absolute scale: each density is scaled so that
  it integrates to the energy the flux file carries out through its end
  (∫ max(−S_left, 0) dt on the left, ∫ max(S_right, 0) dt on the right).
  That also takes care of an end cell whose index is not 1.
* The incident field is not recorded.  Its spectrum follows from the pulse
  line: a Gaussian envelope exp(−(t/τ)²) with τ = FWHM/(2√ln2), or a
  secant envelope sech(20·t/d), on a carrier of the pulse wavelength; the
  analytic transform is scaled to the injected energy of summary.json.
* R(λ) and T(λ) are the ratios of the reflected and transmitted densities to
  the incident one, shown where the incident density is at least
  BAND_FRACTION of its peak (outside the pulse's band the ratio is noise).

Continuous-wave, turn-on and noise sources (shapes 1, 4 and 5) have no
finite incident spectrum: no spectra for them.
"""
import math
from dataclasses import dataclass

import numpy as np

from .inputs import C0

Z0 = 376.730313412  # impedance of free space [Ω]
BAND_FRACTION = 1e-2
PAD = 4  # zero padding of the FFT: the record length times PAD, to a power of 2


@dataclass
class Spectra:
    wavelength_nm: np.ndarray
    reflectance: np.ndarray
    transmittance: np.ndarray
    incident: np.ndarray        # dU/dω of the incident pulse [J/m² per rad/s]
    energies: dict              # J/m²: injected, reflected, transmitted


def energy_density(time_s, ex, ey, nfft):
    """(ω [rad/s], dU/dω [J s/m²]) of a field record in vacuum."""
    dt = time_s[1] - time_s[0]
    power = np.abs(np.fft.rfft(ex, nfft)) ** 2 + np.abs(np.fft.rfft(ey, nfft)) ** 2
    omega = 2.0 * math.pi * np.fft.rfftfreq(nfft, dt)
    return omega, power * dt * dt / (math.pi * Z0)


def incident_shape(omega, pulse):
    """|E(ω)|² of the pulse line's envelope on its carrier, up to a factor;
    None for shapes without a finite spectrum."""
    w0 = 2.0 * math.pi * C0 / pulse.wavelength_m
    d = pulse.duration_s
    if pulse.shape not in (2, 3) or not d > 0:
        return None
    line = _gaussian_line if pulse.shape == 3 else _secant_line
    return (line(omega - w0, d) + line(omega + w0, d)) ** 2


def _gaussian_line(w, fwhm):
    """Transform of exp(−(t/τ)²), τ = fwhm/(2√ln2), over its peak value."""
    tau = fwhm / (2.0 * math.sqrt(math.log(2.0)))
    return np.exp(-((w * tau) ** 2) / 4.0)


def _secant_line(w, duration):
    """Transform of sech(20·t/duration), over its peak value."""
    x = np.clip(math.pi * w * duration / 40.0, -700.0, 700.0)
    return 1.0 / np.cosh(x)


def flux_energy(flux, from_left=True):
    """(reflected, transmitted) energy per area [J/m²]: what leaves through
    the source's end and through the far end."""
    t = flux.time_fs * 1e-15
    out_left = float(np.trapz(np.maximum(-flux.left, 0.0), t))
    out_right = float(np.trapz(np.maximum(flux.right, 0.0), t))
    return (out_left, out_right) if from_left else (out_right, out_left)


def source_on_the_left(run):
    """True when the pulse starts in the left half of the grid."""
    origin = run.inputs.pulse.origin
    return 0 < origin <= run.NZ // 2


def injected_energy(summary):
    energy = (summary or {}).get("energy") or {}
    if energy.get("injected"):
        return float(energy["injected"])
    pulse = ((summary or {}).get("inputs") or {}).get("pulse") or {}
    value = pulse.get("energy_J_per_m2")
    return float(value) if value else None


def _end_record(run, cell):
    """(t [s], Ex, Ey [V/m]) of an end cell on the full step grid (a missing
    block is bridged linearly)."""
    traces = run.traces()
    ex, ey = traces[(cell, "Ex")], traces[(cell, "Ey")]
    steps = np.arange(ex.step[0], ex.step[-1] + 1)
    return (steps * run.dt, np.interp(steps, ex.step, ex.value) * run.E0,
            np.interp(steps, ey.step, ey.value) * run.E0)


def _scaled(density, omega, energy):
    total = np.trapz(density, omega)
    return density * (energy / total) if total > 0 else density * 0.0


def compute_spectra(run):
    """R(λ), T(λ) of `run`, or None when the run has no flux records, no
    end-cell traces, no injected energy or no finite incident spectrum, or
    when its pulse came from the hard source (which reflects the light that
    comes back, so reflectance is not measurable)."""
    if (run.summary or {}).get("source") == "hard":
        return None
    flux, injected = run.flux(), injected_energy(run.summary)
    traces = run.traces()
    from_left = source_on_the_left(run)
    ends = (1, run.NZ - 1) if from_left else (run.NZ - 1, 1)
    if flux is None or not injected or any((c, "Ex") not in traces for c in ends):
        return None
    t, ex_r, ey_r = _end_record(run, ends[0])
    _, ex_t, ey_t = _end_record(run, ends[1])
    nfft = 1 << int(math.ceil(math.log2(max(len(t), 2) * PAD)))
    omega, reflected = energy_density(t, ex_r, ey_r, nfft)
    _, transmitted = energy_density(t, ex_t, ey_t, nfft)
    shape = incident_shape(omega, run.inputs.pulse)
    if shape is None:
        return None
    e_r, e_t = flux_energy(flux, from_left)
    incident = _scaled(shape, omega, injected)
    band = (incident >= BAND_FRACTION * incident.max()) & (omega > 0)
    R = _scaled(reflected, omega, e_r)[band] / incident[band]
    T = _scaled(transmitted, omega, e_t)[band] / incident[band]
    wavelength = 2.0 * math.pi * C0 / omega[band] * 1e9
    order = np.argsort(wavelength)
    return Spectra(wavelength_nm=wavelength[order], reflectance=R[order],
                   transmittance=T[order], incident=incident[band][order],
                   energies={"injected": injected, "reflected": e_r, "transmitted": e_t})
