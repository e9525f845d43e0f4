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
  BAND_FRACTION = 3 % of its peak.

Accuracy.  The analytic incident spectrum holds: in the microcavity
example run on until the cavity has emptied (4.4 million steps, 14.7 ps,
a weak pulse), R in the stop band is 1 within ±0.25 % down to 1 % of the
incident peak (±0.5 % at 0.1 %).  A pulse of a few cycles is matched less
well: through a bare air/n = 3.5 interface (10 fs, 10 nm cells, the record
past the pulse) 1 − R − T stays within 0.007 of 0 where the incident
density is above 60 % of its peak, 0.011 above 10 % and 0.018 at the 3 %
edge, beyond NORMALISATION.  What limits a spectrum is the length of
the record.  The example as given stops after 220 000 steps (734 fs) with
the cavity still ringing (1–4 % of the injected energy in the grid): the end
records are cut off, their transform is that of the whole field minus the
field still to come, E_rec(ω) = E(ω) − E_rest(ω), and the difference shows
as a ripple of period ≈ λ²/(c·(T − t_r)) (t_r: when the reflected pulse
passes) over the whole band, largest where the incident density is weak:
R from 0.90 to 1.08 and 1 − R − T down to −0.08 over the 1 % band.  Hence:

* the spectral resolution is that of the record, Δω = 2π/T, or
  Δλ = λ²/(c·T) at the pulse wavelength (4.1 nm for the example);
* each density is uncertain by 2·sqrt(dU/dω · dU_rest/dω) + dU_rest/dω
  (|E_rec + E_rest|² against |E_rec|²).  dU_rest/dω is modelled as a
  ring-down on the carrier of the record's last quarter that starts with
  the power the flux record ends with and decays as fast as that power
  empties the energy not yet out (injected − reflected − transmitted); its
  wings, which the cut spreads over the band, depend on the power only.
  Measured against the long run, the example's ripple (2–8 % in the wings)
  reaches at most 1.1 times this bound; it is used times ERROR_MARGIN = 1.5.  The band fraction of 3 % keeps the error at the
  band's edges at the level of its middle (the example's weak-pulse run:
  ≤ 4 % at 3 % of the peak, 5 % at 1 %, 8 % at 0.5 %).

R or T above 1, or 1 − R − T below 0, by no more than that error plus the
0.3 % of the incident normalisation is noise of a cut-off record:
`physical_range` draws it at the limit.  Larger excursions (the strongly
driven dots of the long run give 1 − R − T down to −0.1 at the cavity
line: energy moved between frequencies), and every excursion of a run whose
dots gave the field energy (energy.absorbed < 0, energy.dots in older
summaries: gain), are drawn as computed.

Continuous-wave, turn-on and noise sources (shapes 1, 4 and 5) have no
finite incident spectrum: no spectra for them.

Use: ``mps1d.load(RUN).spectra()`` (or ``spectra(run)``) returns a Spectra
with the arrays ``wavelength_nm``, ``R``, ``T``, ``absorbed``, ``R_error``,
``T_error`` and the band ``band_nm`` they hold over, and raises NoSpectra (a
ValueError naming the run and why) for a run without them;
``compute_spectra(run)`` returns None instead.
"""
import math
from dataclasses import dataclass, replace

import numpy as np

from .inputs import C0

Z0 = 376.730313412  # impedance of free space [Ω]
BAND_FRACTION = 3e-2
NORMALISATION = 3e-3  # accuracy of the analytic incident spectrum in the band
PAD = 4  # zero padding of the FFT: the record length times PAD, to a power of 2
END_SHARE = 0.05  # the end of the flux record whose power starts the ring-down
CARRIER_SHARE = 0.25  # the end of the field record that gives the ring-down's carrier
ERROR_MARGIN = 1.5  # on the ring-down bound, which the example's ripple reached 1.1 times


@dataclass
class Spectra:
    """Reflectance and transmittance of a run, as computed (not clipped).

    Arrays, one value per frequency of the record's transform, ordered by
    wavelength:

    * ``wavelength_nm`` — vacuum wavelength λ [nm];
    * ``R``, ``T`` — reflected and transmitted energy over the incident
      energy at λ [1]; ``absorbed`` = 1 − R − T [1] (taken up by the dots
      or the structure, or still in the grid when the record ends);
    * ``R_error``, ``T_error`` — bound on the error of R and T [1]: the
      field still to come after the record ends (ERROR_MARGIN times the
      ring-down bound, see the module's notes) plus the NORMALISATION of
      the analytic incident spectrum; ``absorbed_error`` = R_error + T_error;
    * ``incident`` — dU/dω of the incident pulse [J/m² per rad/s].

    The values hold over ``band_nm`` = (shortest, longest λ), where the
    incident density is at least ``band_fraction`` (BAND_FRACTION) of its
    peak; outside it there are no values.  ``resolution_nm`` is λ²/(c·T) of
    the record length T at the pulse wavelength: features narrower than
    that are not resolved.  ``energies`` [J/m²]: injected, reflected and
    transmitted of the whole record.  ``gain``: the dots gave the field
    energy, so R + T above 1 may be real.  ``physical_range`` gives the
    curves as drawn (excursions past 0 or 1 within the error at the limit).
    ``within(low_nm, high_nm)`` is the part inside a wavelength range.
    """
    wavelength_nm: np.ndarray
    reflectance: np.ndarray
    transmittance: np.ndarray
    incident: np.ndarray        # dU/dω of the incident pulse [J/m² per rad/s]
    energies: dict              # J/m²: injected, reflected, transmitted
    resolution_nm: float = math.nan  # λ²/(c·T) of the record length T
    error_R: np.ndarray = None  # bound on the error of R from the cut-off record
    error_T: np.ndarray = None
    gain: bool = False          # the dots gave energy to the field
    band_fraction: float = BAND_FRACTION

    @property
    def R(self):
        return self.reflectance

    @property
    def T(self):
        return self.transmittance

    @property
    def absorbed(self):
        return 1.0 - self.reflectance - self.transmittance

    def _total_error(self, error):
        return NORMALISATION + (np.zeros_like(self.reflectance) if error is None else error)

    @property
    def R_error(self):
        return self._total_error(self.error_R)

    @property
    def T_error(self):
        return self._total_error(self.error_T)

    @property
    def absorbed_error(self):
        return self.R_error + self.T_error

    @property
    def band_nm(self):
        """(shortest, longest) wavelength [nm] of the values."""
        lam = self.wavelength_nm
        return (float(lam[0]), float(lam[-1])) if lam.size else (math.nan, math.nan)

    def within(self, low_nm, high_nm):
        """The spectra at the wavelengths from low_nm to high_nm (inclusive)."""
        keep = (self.wavelength_nm >= low_nm) & (self.wavelength_nm <= high_nm)
        cut = (lambda a: None if a is None else a[keep])
        return replace(self, wavelength_nm=self.wavelength_nm[keep],
                       reflectance=self.reflectance[keep],
                       transmittance=self.transmittance[keep], incident=self.incident[keep],
                       error_R=cut(self.error_R), error_T=cut(self.error_T))

    def columns(self):
        """{column name with its unit: array} of the table the tools write."""
        return {name: values for name, values in zip(COLUMNS, (
            self.wavelength_nm, self.R, self.T, self.absorbed, self.R_error, self.T_error))}


# The columns of a spectrum table (the CSV of `mps1d-tools spectra`, a sweep's
# spectra): name [unit].
COLUMNS = ("wavelength [nm]", "R [1]", "T [1]", "absorbed [1]", "R_error [1]", "T_error [1]")


class NoSpectra(ValueError):
    """A run whose spectra cannot be had; the message says why."""


@dataclass
class Drawn:
    """R, T and 1 − R − T as drawn: excursions out of [0, 1] within their
    error moved to the limit (none for a run with gain)."""
    reflectance: np.ndarray
    transmittance: np.ndarray
    absorbed: np.ndarray
    clipped: int                # points moved
    beyond: bool                # an excursion larger than its error is left


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
    """(t [s], Ex, Ey [V/m]) of an end cell on the grid of its kept steps
    (every step, or every N-th of a run with --trace-every=N; a missing
    block is bridged linearly)."""
    traces = run.traces()
    ex, ey = traces[(cell, "Ex")], traces[(cell, "Ey")]
    stride = int(np.min(np.diff(ex.step))) if len(ex.step) > 1 else 1
    steps = np.arange(ex.step[0], ex.step[-1] + 1, stride)
    return (steps * run.dt, np.interp(steps, ex.step, ex.value) * run.E0,
            np.interp(steps, ey.step, ey.value) * run.E0)


def _scaled(density, omega, energy):
    total = np.trapz(density, omega)
    return density * (energy / total) if total > 0 else density * 0.0


def _carrier(ex, ey, dt):
    """ω [rad/s] of the strongest line of the last CARRIER_SHARE of a record."""
    n = max(int(len(ex) * CARRIER_SHARE), 8)
    window = np.hanning(n)
    power = sum(np.abs(np.fft.rfft(f[-n:] * window, 8 * n)) ** 2 for f in (ex, ey))
    return 2.0 * math.pi * np.fft.rfftfreq(8 * n, dt)[int(np.argmax(power))]


def remainder_density(omega, power, carrier, rate):
    """dU/dω of a ring-down that starts with `power` [W/m²] on `carrier` and
    whose amplitude decays at `rate` [1/s]: a Lorentzian (its wings, which the
    cut of the record puts over the whole band, do not depend on the rate)."""
    return power / (2.0 * math.pi) / (rate ** 2 + (omega - carrier) ** 2)


def _end_powers(flux, from_left):
    """Mean power [W/m²] leaving through the (source, far) ends over the last
    END_SHARE of the flux record."""
    t = flux.time_fs
    last = t >= t[-1] - END_SHARE * (t[-1] - t[0])
    left = float(np.mean(np.maximum(-flux.left[last], 0.0)))
    right = float(np.mean(np.maximum(flux.right[last], 0.0)))
    return (left, right) if from_left else (right, left)


def _error(density, rest, incident):
    """Bound on the error of density/incident from the field still to come."""
    return ERROR_MARGIN * (2.0 * np.sqrt(density * rest) + rest) / incident


def _gain(summary):
    """True when the dots gave the field more energy than they took."""
    energy = (summary or {}).get("energy") or {}
    work = energy.get("absorbed", energy.get("dots"))
    return work is not None and work < 0


def _clip(values, tolerance, low=0.0, high=1.0):
    out = values.copy()
    out[(values > high) & (values <= high + tolerance)] = high
    out[(values < low) & (values >= low - tolerance)] = low
    return out


def physical_range(spectra):
    """The curves to draw (see the module's notes on accuracy)."""
    R, T = spectra.reflectance, spectra.transmittance
    A = 1.0 - R - T
    if spectra.gain:
        return Drawn(R, T, A, clipped=0, beyond=False)
    zero = np.zeros_like(R)
    error_R = NORMALISATION + (spectra.error_R if spectra.error_R is not None else zero)
    error_T = NORMALISATION + (spectra.error_T if spectra.error_T is not None else zero)
    drawn = [_clip(R, error_R), _clip(T, error_T), _clip(A, error_R + error_T)]
    clipped = int(sum(np.count_nonzero(d != v) for d, v in zip(drawn, (R, T, A))))
    beyond = any(np.any((d < 0.0) | (d > 1.0)) for d in drawn)
    return Drawn(*drawn, clipped=clipped, beyond=beyond)


def compute_spectra(run):
    """R(λ), T(λ) of `run` (Spectra), or None when it has none (see spectra)."""
    try:
        return spectra(run)
    except NoSpectra:
        return None


def spectra(run):
    """R(λ), T(λ) of `run` (Spectra).  NoSpectra (a ValueError naming the
    run and the reason) for a run that has none: its pulse came from the
    hard source (which reflects the light that comes back, so reflectance
    is not measurable), or it lacks flux records, end-cell traces or the
    injected energy, or its pulse shape has no finite spectrum."""
    def refuse(reason):
        return NoSpectra(f"{run.folder}: no spectra: {reason}")

    source = (run.summary or {}).get("source")
    if run.summary is None:
        raise refuse("no summary.json in the results (a run that has not finished)")
    if source == "hard":
        raise refuse("the pulse came from the hard source, which reflects the light "
                      "coming back; run with --source=transparent")
    flux, injected = run.flux(), injected_energy(run.summary)
    traces = run.traces()
    from_left = source_on_the_left(run)
    ends = (1, run.NZ - 1) if from_left else (run.NZ - 1, 1)
    if flux is None:
        raise refuse("no flux records (run with --source=transparent)")
    if not injected:
        raise refuse("summary.json holds no injected energy")
    missing = [c for c in ends if (c, "Ex") not in traces]
    if missing:
        raise refuse(f"no Ex trace of the end cell {missing[0]}")
    pulse = run.inputs.pulse
    if incident_shape(np.zeros(1), pulse) is None:
        raise refuse(f"pulse shape {pulse.shape} of duration {pulse.duration_s:g} s has no "
                     "finite incident spectrum (a Gaussian or secant pulse has)")
    t, ex_r, ey_r = _end_record(run, ends[0])
    _, ex_t, ey_t = _end_record(run, ends[1])
    nfft = 1 << int(math.ceil(math.log2(max(len(t), 2) * PAD)))
    omega, reflected = energy_density(t, ex_r, ey_r, nfft)
    _, transmitted = energy_density(t, ex_t, ey_t, nfft)
    shape = incident_shape(omega, run.inputs.pulse)
    e_r, e_t = flux_energy(flux, from_left)
    incident = _scaled(shape, omega, injected)
    band = (incident >= BAND_FRACTION * incident.max()) & (omega > 0)
    reflected = _scaled(reflected, omega, e_r)[band]
    transmitted = _scaled(transmitted, omega, e_t)[band]
    # The field still to come after the record: the energy not yet out,
    # leaving at the power the flux record ends with.
    p_r, p_t = _end_powers(flux, from_left)
    remaining = max(injected - e_r - e_t, 0.0)
    spacing = t[1] - t[0] if len(t) > 1 else run.dt  # N dt with --trace-every=N
    record = len(t) * spacing
    rate = max((p_r + p_t) / (2.0 * remaining) if remaining > 0 else 0.0, math.pi / record)
    w = omega[band]
    rest_r = remainder_density(w, p_r, _carrier(ex_r, ey_r, spacing), rate)
    rest_t = remainder_density(w, p_t, _carrier(ex_t, ey_t, spacing), rate)
    inc = incident[band]
    wavelength = 2.0 * math.pi * C0 / w * 1e9
    order = np.argsort(wavelength)
    centre = run.inputs.pulse.wavelength_m
    return Spectra(wavelength_nm=wavelength[order], reflectance=(reflected / inc)[order],
                   transmittance=(transmitted / inc)[order], incident=inc[order],
                   energies={"injected": injected, "reflected": e_r, "transmitted": e_t},
                   resolution_nm=centre ** 2 / (C0 * record) * 1e9,
                   error_R=_error(reflected, rest_r, inc)[order],
                   error_T=_error(transmitted, rest_t, inc)[order],
                   gain=_gain(run.summary))
