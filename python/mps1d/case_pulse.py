"""The pulse line of a case's file: shape and polarisation codes, the
wavelength, the duration in a coded unit, the delay the program counts in
whole pulse lengths (or Gaussian widths), and the amplitude from a pulse
area; and a Pulse back from a line as read."""
from __future__ import annotations

import math

from .case_quantities import (DELAY_UNITS, DURATION_UNITS, FIELD, FWHM_FACTOR, HBAR, HC, LENGTH,
                              MAX_COUNT, SECH_FWHM_PER_LENGTH, TIME, CaseError, in_unit, real,
                              show_time, si, steps_of, whole)
from .case_records import POLARISATIONS, SHAPES, Pulse
from .execdata import REAL, format_value


def pulse_items(p, dt, transition_J, dipole, notes, cells):
    """The twelve (name, value) of a pulse line."""
    shape = p.code(SHAPES, p.shape, "shape")
    pol = p.code(POLARISATIONS, p.polarisation, "polarisation")
    if p.wavelength is None:
        wavelength_um = HC / transition_J * 1e6
    else:
        wavelength_um = si(p.wavelength, LENGTH, "pulse wavelength", shift=6, positive=True)
    duration, duration_code, T = pulse_length(p, shape, notes)
    steps_of(T, dt, "pulse length", p.length if p.length is not None else p.fwhm)
    delay, delay_code = pulse_delay(p, shape, duration, duration_code, T, dt, notes)
    amplitude = pulse_amplitude(p, shape, pol, T, dipole, notes)  # dipole: (p12, p34)
    origin = 0 if p.origin in (0, "right", None) else whole(p.origin, "pulse origin", 0, cells)
    return (("id", whole(p.id, "pulse id", -MAX_COUNT - 1, MAX_COUNT)), ("shape", shape),
            ("wavelength", wavelength_um), ("fwhm", duration), ("fwhm_unit", duration_code),
            ("unused", whole(p.unused, "pulse unused", -MAX_COUNT - 1, MAX_COUNT)),
            ("amplitude", amplitude), ("polarisation", pol),
            ("noise", real(p.noise, "pulse noise", low=0.0)),
            ("origin", origin), ("delay", delay), ("delay_unit", delay_code))


def pulse_length(p, shape, notes):
    """(number, unit code, seconds) of the pulse line's duration."""
    if p.length is not None and p.fwhm is not None:
        raise CaseError("pulse: give its fwhm or its length, not both")
    if p.length is not None:
        si(p.length, TIME, "pulse length", positive=shape in (2, 3), low=0.0)
        number, code = in_unit(p.length, TIME, DURATION_UNITS, "pulse length")
    elif p.fwhm is not None:
        if shape in (1, 4):
            raise CaseError("pulse: a cw or turn-on pulse has no FWHM; give its length "
                            "(the delay counts in it)")
        fwhm = si(p.fwhm, TIME, "pulse fwhm", positive=True)
        if shape == 2:
            T = fwhm / SECH_FWHM_PER_LENGTH
            number, code = in_unit(T, TIME, DURATION_UNITS, "pulse length")
            notes.append(f"sech pulse of FWHM {p.fwhm}: pulse length T = "
                         f"{number:.6g} {'fs' if code == 0 else 'ps'} "
                         "(envelope sech(20 (t - T/2)/T))")
        else:
            number, code = in_unit(p.fwhm, TIME, DURATION_UNITS, "pulse fwhm")
    else:
        number, code = 0.0, 0
        if shape in (2, 3):
            raise CaseError("pulse: a sech or Gaussian pulse needs its fwhm (or length)")
    return number, code, number * (1e-15, 1e-12)[code]


def pulse_delay(p, shape, duration, duration_code, T, dt, notes):
    """(number, unit code) of the delay such that the program's
    trunc(delay/duration) is the number of whole pulse lengths the
    delay holds."""
    steps_of(si(p.delay, TIME, "pulse delay", low=0.0), dt, "pulse delay", p.delay)
    number, code = in_unit(p.delay, TIME, DELAY_UNITS, "pulse delay")
    if T == 0.0 or p.keep_delay:
        return number, code
    wanted_s = number * (1e-15, 1e-12, 1e-9)[code]
    # The program counts m = trunc(delay / length) whole lengths.  Any
    # other pulse starts m lengths T after step 0; a Gaussian peaks at
    # step m W, W its width tau = FWHM/(2 sqrt(ln 2)) in whole steps, so
    # its delay is the peak time, m the nearest whole number of widths.
    W = int(T / FWHM_FACTOR / dt + 0.5) if shape == 3 else 0
    if shape == 3:
        m = max(0, round(wanted_s / (W * dt)))
    else:
        m = math.floor(wanted_s / T + 1e-9)
    chosen = _delay_of_whole_lengths(p, m, (number, code), duration, duration_code)
    if chosen != (number, code):
        notes.append(f"pulse delay {p.delay} written as {format_value(REAL, chosen[0])} "
                     f"{('fs', 'ps', 'ns')[chosen[1]]} so that it counts as {m} pulse lengths")
    if shape == 3 and m < 3:
        notes.append(f"pulse delay {p.delay}: the Gaussian peaks {m} widths tau = FWHM/"
                     f"(2 sqrt(ln 2)) after step 0, so it starts at exp(-{m * m}) of its "
                     "peak (a delay of 3 widths or more injects all of it)")
    if shape == 3:
        if abs(m * W * dt - wanted_s) > 1e-3 * W * dt:
            notes.append(f"pulse delay {p.delay}: the Gaussian peaks at step {m * W} "
                         f"({show_time(m * W * dt)}), {m} whole widths tau of {W} steps")
    elif abs(m * T - wanted_s) > 1e-9 * T:
        notes.append(f"pulse delay {p.delay} counts as {m} whole pulse lengths of "
                     f"{show_time(T)}: the pulse starts at {show_time(m * T)}")
    return chosen


def _delay_of_whole_lengths(p, m, given, duration, duration_code):
    """(number, unit code) of a delay the program counts as m whole pulse
    lengths: the delay as given, else m lengths in each unit, else the first
    of those nudged up by a few units in the last place."""
    dfac = (1e-15, 1e-12, 1e-9)
    durfac = (1e-15, 1e-12)[duration_code]

    def ratio(x, c):
        return math.trunc((x * dfac[c]) / (duration * durfac))

    candidates = [given]
    for c in (duration_code, 0, 1, 2):
        candidates.append((float(f"{m * duration * durfac / dfac[c]:.15g}"), c))
    chosen = next(((x, c) for x, c in candidates if ratio(x, c) == m), None)
    for x, c in candidates[1:] if chosen is None else ():
        for _ in range(8):
            x = math.nextafter(x, math.inf)
            if ratio(x, c) == m:
                chosen = (x, c)
                break
        if chosen:
            break
    if chosen is None:
        raise CaseError(f"pulse delay {p.delay}: no delay the file can hold gives {m} "
                        "whole pulse lengths")
    return chosen


def pulse_amplitude(p, shape, pol, T, dipole, notes):
    """The amplitude [V/m], given or from the pulse area A = p int(E dt)/hbar,
    E the envelope of the circular field that turns with the dipole it
    drives: all of a sigma+ pulse (1-2, p12) or a sigma- pulse (3-4, p34,
    driven with mps1d --both-transitions), half of a linear one (a linear
    field is two counter-rotating circular fields of half its amplitude)."""
    if (p.amplitude is None) == (p.area is None):
        raise CaseError("pulse: give its amplitude or its area, one of them")
    if p.amplitude is not None:
        return si(p.amplitude, FIELD, "pulse amplitude")
    area = real(p.area, "pulse area")
    if shape == 2:
        integral = math.pi * T / 20.0
    elif shape == 3:
        integral = T / FWHM_FACTOR * math.sqrt(math.pi)
    else:
        raise CaseError("pulse area: only a sech or Gaussian pulse has one")
    share = {1: 0.5, 2: 0.5, 3: 1.0, 4: 1.0}.get(pol)
    if share is None:
        raise CaseError("pulse area: a pulse of this polarisation has none")
    p12, p34 = dipole
    moment = p34 if pol == 4 else p12
    if moment == 0:
        raise CaseError(f"pulse area: the dipole moment ({'3,4' if pol == 4 else '1,2'}) is "
                        "0, so no amplitude gives an area")
    amplitude = area * HBAR / (moment * integral * share)
    if not math.isfinite(amplitude):
        raise CaseError(f"pulse area: {p.area!r} needs an amplitude beyond a double")
    notes.append(f"pulse area {area:.6g} rad: amplitude {amplitude:.6g} V/m" +
                 (" (a linear field drives 1-2 with half its amplitude)" if share < 1 else
                  " (on 3-4, which sigma- light drives with mps1d --both-transitions)"
                  if pol == 4 else ""))
    return amplitude


def pulse_times(v, dt):
    """(start, peak) [s] of a pulse line's values `v` as the program times
    them: it counts m = trunc(delay/duration) whole durations T; a Gaussian
    is on from step 0 and peaks at step m W (W its width tau in whole
    steps), a cw, turn-on or sech pulse starts at step m trunc(T/dt) and a
    sech peaks T/2 later.  `peak` is None for pulses without one (cw,
    turn-on, noise)."""
    T = v["fwhm"] * (1e-15, 1e-12)[v["fwhm_unit"]]
    delay = v["delay"] * (1e-15, 1e-12, 1e-9)[v["delay_unit"]]
    m = math.trunc(delay / T) if T else 0
    shape = v["shape"]
    if shape == 3:
        return 0.0, m * int(T / FWHM_FACTOR / dt + 0.5) * dt
    if shape in (1, 2, 4):
        start = m * int(T / dt) * dt
        return start, start + T / 2 if shape == 2 else None
    return 0.0, None


def pulse_of_line(p, path) -> Pulse:
    """The builder's Pulse of a pulse line as read (inputs.Pulse)."""
    dunit, delunit = ("fs", "ps")[p.duration_unit] if p.duration_unit in (0, 1) else None, \
        ("fs", "ps", "ns")[p.delay_unit] if p.delay_unit in (0, 1, 2) else None
    if dunit is None or delunit is None:
        raise CaseError(f"{path}: pulse unit codes {p.duration_unit}, {p.delay_unit} "
                        "hold no time")
    return Pulse(shape=p.shape, length=(p.duration, dunit), delay=(p.delay, delunit),
                 amplitude=p.amplitude, polarisation=p.polarisation,
                 wavelength=(p.wavelength_um, "um"), origin=p.origin, noise=p.noise,
                 id=p.id, unused=p.unused, keep_delay=True)
