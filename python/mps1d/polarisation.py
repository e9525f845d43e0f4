"""Polarisation of the light at a monitor cell: Stokes parameters, azimuth
and ellipticity per frequency and over a pulse's band.

Method:

* The record of a monitor cell (Ex, Ey, times E0 in V/m) is transformed as
  in ``spectra``: one-sided, an FFT zero-padded to PAD times the record
  length (a power of 2), with numpy's sign,
  Ex(ω) = Σ Ex(t) e^{−iωt} dt, ω ≥ 0.
* Stokes parameters per frequency, scaled like the energy density dU/dω
  [J s/m²] (1/(π·Z0) times the squared transforms):
  S0 = |Ex|² + |Ey|², S1 = |Ex|² − |Ey|², S2 = 2 Re(Ex* Ey),
  S3 = 2 Im(Ex* Ey).
* Azimuth θ = ½ atan2(S2, S1) in (−π/2, π/2]: the angle of the ellipse's
  major axis from x towards y (the program's axes).  Ellipticity angle
  χ = ½ asin(S3/S0) in [−π/4, π/4]: tan χ is the ratio of the axes, signed
  by the sense of turning.
* Helicity: S3 > 0 is the program's σ+ (polarisation code 3, the light
  that drives 1↔2), χ = +π/4 for a pure σ+ pulse.  The program's σ+ source
  is Ex = cos ωt, Ey = −sin ωt (src/field/pulse_source.cpp), whose
  transform at +ω has Ey(ω) = i·Ex(ω), so S3 = +S0.  This is the same split
  as the negative and positive frequencies of Ex + iEy (docs/both_transitions.md):
  |(Ex + iEy)(−ω)|² = |Ex|² + |Ey|² + 2 Im(Ex* Ey) ∝ S0 + S3 is the σ+ part,
  |(Ex + iEy)(+ω)|² ∝ S0 − S3 the σ− part.  The sign
  is fixed by the sense of turning in time, whichever way the light runs.
  (With the transform sign e^{+iωt} S3 would change sign; the one here is
  numpy's.)
* Over a pulse's band: the Stokes parameters summed over the frequencies
  around the peak of S0 where S0 is at least `band` (BAND_FRACTION, 3 %)
  of the peak (the run of neighbouring frequencies holding the peak; or over
  a wavelength range (λ1, λ2) in nm), which weights each frequency by its energy; the
  integrated ``rotation`` = ½ atan2(ΣS2, ΣS1) and ``ellipticity`` =
  ½ asin(ΣS3/ΣS0).  ``degree`` = |(ΣS1, ΣS2, ΣS3)|/ΣS0 is below 1 when the
  polarisation changes across the band.
* A time window [t0, t1] (fs) keeps only the record's samples inside it
  (zero elsewhere) before the transform: it picks a probe out of a record
  that also holds a pump earlier or later.  It must hold the whole probe
  (a cut pulse adds a ringing to its spectrum); t1 = None is the record's
  end, which follows a probe at any delay after a fixed pump.

Use: ``mps1d.load(RUN).polarisation(cell=None, window=None, band=None)``
(the transmitted end by default) or ``polarisation_of(time_fs, ex, ey)``;
``relative_rotation(p, reference)`` is Δθ = θ − θ_ref wrapped into
(−π/2, π/2].
"""
import math
from dataclasses import dataclass

import numpy as np

from .inputs import C0
from .spectra import BAND_FRACTION, PAD, Z0, source_on_the_left


class NoPolarisation(ValueError):
    """A record whose polarisation cannot be had; the message says why."""


@dataclass
class Polarisation:
    """Polarisation of a record.  Arrays, one value per frequency of the
    band, by rising frequency: ``frequency_hz``, ``wavelength_nm``, the Stokes
    parameters ``S0``..``S3`` [J s/m² for fields in V/m], ``theta`` and
    ``chi`` [rad].  Over the band: ``rotation``, ``ellipticity`` [rad],
    ``degree`` [1]; ``band_nm`` (shortest, longest λ), ``window_fs``."""
    frequency_hz: np.ndarray
    S0: np.ndarray
    S1: np.ndarray
    S2: np.ndarray
    S3: np.ndarray
    window_fs: tuple = (None, None)

    @property
    def wavelength_nm(self):
        return C0 / self.frequency_hz * 1e9

    @property
    def theta(self):
        return azimuth(self.S1, self.S2)

    @property
    def chi(self):
        return ellipticity_angle(self.S0, self.S3)

    def totals(self):
        """(ΣS0, ΣS1, ΣS2, ΣS3) over the band."""
        return tuple(float(np.sum(s)) for s in (self.S0, self.S1, self.S2, self.S3))

    @property
    def rotation(self):
        _, s1, s2, _ = self.totals()
        return float(azimuth(s1, s2))

    @property
    def ellipticity(self):
        s0, _, _, s3 = self.totals()
        return float(ellipticity_angle(s0, s3))

    @property
    def degree(self):
        s0, s1, s2, s3 = self.totals()
        return math.sqrt(s1 * s1 + s2 * s2 + s3 * s3) / s0 if s0 > 0 else math.nan

    @property
    def band_nm(self):
        lam = self.wavelength_nm
        return (float(lam.min()), float(lam.max())) if lam.size else (math.nan, math.nan)


def azimuth(s1, s2):
    """θ = ½ atan2(S2, S1) [rad], in (−π/2, π/2] (−π/2 of S2 = −0 made π/2)."""
    return wrap_half_turn(0.5 * np.arctan2(s2, s1))


def ellipticity_angle(s0, s3):
    """χ = ½ asin(S3/S0) [rad] (0 where S0 is 0); positive for σ+."""
    s0, s3 = np.asarray(s0, dtype=float), np.asarray(s3, dtype=float)
    ratio = np.divide(s3, s0, out=np.zeros(np.broadcast(s0, s3).shape), where=s0 > 0)
    return 0.5 * np.arcsin(np.clip(ratio, -1.0, 1.0))


def wrap_half_turn(angle):
    """An azimuth difference wrapped into (−π/2, π/2] (θ and θ + π are the
    same ellipse)."""
    return math.pi / 2 - np.mod(math.pi / 2 - np.asarray(angle, dtype=float), math.pi)


def relative_rotation(polarisation, reference):
    """Δθ = θ − θ_ref [rad] of the integrated rotations, wrapped into
    (−π/2, π/2]; either argument a Polarisation or a number (θ)."""
    def angle(p):
        return p.rotation if isinstance(p, Polarisation) else float(p)
    return float(wrap_half_turn(angle(polarisation) - angle(reference)))


def stokes(time_fs, ex, ey, window=None):
    """(frequency [Hz], S0, S1, S2, S3) of a record over every frequency
    ω ≥ 0 of its zero-padded transform; `window` (t0, t1) in fs (None
    for an open end) keeps the samples inside it."""
    t = np.asarray(time_fs, dtype=float) * 1e-15
    ex, ey = np.asarray(ex, dtype=float), np.asarray(ey, dtype=float)
    if t.size < 2 or ex.shape != t.shape or ey.shape != t.shape:
        raise NoPolarisation(f"a record of {t.size} times, {ex.size} Ex and {ey.size} Ey "
                             "values (two or more of each, as many as times)")
    if window is not None:
        t0, t1 = window
        inside = (t >= (-math.inf if t0 is None else t0 * 1e-15)) & \
                 (t <= (math.inf if t1 is None else t1 * 1e-15))
        if not inside.any():
            raise NoPolarisation(f"no sample in the window {t0} to {t1} fs (the record runs "
                                 f"from {t[0] * 1e15:g} to {t[-1] * 1e15:g} fs)")
        ex, ey = np.where(inside, ex, 0.0), np.where(inside, ey, 0.0)
    dt = t[1] - t[0]
    nfft = 1 << int(math.ceil(math.log2(t.size * PAD)))
    fx, fy = np.fft.rfft(ex, nfft), np.fft.rfft(ey, nfft)
    scale = dt * dt / (math.pi * Z0)
    cross = np.conj(fx) * fy
    px, py = np.abs(fx) ** 2, np.abs(fy) ** 2
    return (np.fft.rfftfreq(nfft, dt), scale * (px + py), scale * (px - py),
            2 * scale * cross.real, 2 * scale * cross.imag)


def band_of(frequency, s0, band=None):
    """Mask of the band: S0 at least a fraction (band None: BAND_FRACTION,
    or a number) of its peak, or a (shortest, longest) wavelength range [nm]."""
    positive = frequency > 0
    if band is None or np.isscalar(band):
        fraction = BAND_FRACTION if band is None else float(band)
        if not 0 < fraction <= 1:
            raise NoPolarisation(f"band fraction {band}: give one in (0, 1]")
        peak = s0[positive].max() if positive.any() else 0.0
        if not peak > 0:
            raise NoPolarisation("the record holds no field")
        return _around_peak(positive & (s0 >= fraction * peak), s0, positive)
    low, high = sorted(float(b) for b in band)
    lam = np.full(frequency.shape, math.inf)
    lam[positive] = C0 / frequency[positive] * 1e9
    mask = (lam >= low) & (lam <= high)
    if not mask.any():
        raise NoPolarisation(f"no frequency of the record between {low:g} and {high:g} nm")
    return mask


def _around_peak(above, s0, positive):
    """The run of neighbouring frequencies of `above` that holds the peak of
    S0 (a separate line elsewhere, as strong as the fraction, is left out)."""
    k = int(np.argmax(np.where(positive, s0, -np.inf)))
    low, high = k, k
    while low > 0 and above[low - 1]:
        low -= 1
    while high < above.size - 1 and above[high + 1]:
        high += 1
    mask = np.zeros_like(above)
    mask[low:high + 1] = True
    return mask


def polarisation_of(time_fs, ex, ey, window=None, band=None):
    """Polarisation of a record (times in fs, fields in V/m) over its band."""
    frequency, *s = stokes(time_fs, ex, ey, window)
    keep = band_of(frequency, s[0], band)
    if not np.sum(s[0][keep]) > 0:
        raise NoPolarisation("no field in the band")
    window_fs = tuple(window) if window is not None else (None, None)
    return Polarisation(frequency[keep], *(a[keep] for a in s), window_fs=window_fs)


def transmitted_end(run):
    """The end cell away from the source (cell NZ−1 for a source in the
    left half, else cell 1)."""
    return run.NZ - 1 if source_on_the_left(run) else 1


def run_polarisation(run, cell=None, window=None, band=None):
    """Polarisation of a monitor cell's record of `run` (the transmitted
    end by default); NoPolarisation naming the run when it has no record."""
    from .spectra import _end_record

    cell = transmitted_end(run) if cell is None else int(cell)
    traces = run.traces()
    if (cell, "Ex") not in traces or (cell, "Ey") not in traces:
        known = sorted({c for c, q in traces if q == "Ex"})
        raise NoPolarisation(f"{run.folder}: no Ex and Ey record of cell {cell} (recorded: "
                             f"{', '.join(map(str, known)) or 'none'})")
    t, ex, ey = _end_record(run, cell)
    try:
        return polarisation_of(t * 1e15, ex, ey, window, band)
    except NoPolarisation as e:
        raise NoPolarisation(f"{run.folder}: cell {cell}: {e}") from None
