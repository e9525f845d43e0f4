"""The builder's warnings of pulses that cannot do their part, in the
program's words and by its rules (the program prints the same sentences as
a run starts, in summary.json and in `--check`):

- "pulse N injects nothing": amplitude 0 (for noise: noise scale 0), or a
  Gaussian or secant whose field stays below a millionth of its peak until
  the run ends;
- "pulse N peaks at T after the run's last step (step S at T_END)": the
  run stops after whole blocks, at step (Nt/LL + 1) LL;
- with dots in the case (a dot layer with cells in the dot region, a
  density above 0), "pulse N is X % off the nearest transition (LAMBDA
  against LAMBDA_TRANSITION)": the carrier frequency more than 20 % from
  that of 1<->2 (and, with --both-transitions, of 3<->4 at level 3's
  energy);
- and else "the record ends Y after pulse N's peak, less than 3 T2 = Z:
  its free decay is cut off", T2 that of the coherence of the nearest
  transition: the harmonic mean of the dephasing times of its two
  components (u1, u7 for 1<->2; u6, u12 for 3<->4).
"""
from __future__ import annotations

import math
import warnings
from dataclasses import dataclass

from .case_pulse import pulse_times
from .case_quantities import EV, FWHM_FACTOR, HC, show_time

C0 = 299792458.0
# A carrier further than this (relative, in frequency) drives no transition.
FAR_FROM_TRANSITION = 0.2
# Dephasing times the record should go on for after a pulse's peak.
DECAY_TIMES = 3.0
# Where a pulse's field envelope first reaches this part of its peak, it
# starts to inject.
FRONT = 1e-6
LEVEL_UNITS = {0: 1.0, 1: 1e-3, 2: 1e-6}
LENGTH_UNITS = (("m", 1.0), ("mm", 1e-3), ("um", 1e-6), ("nm", 1e-9))


class CaseWarning(UserWarning):
    """A case the program runs but whose result is likely not what was
    meant (a pulse after the run's last step or injecting nothing, far from
    the dots' transitions, a record too short for the dots' free decay);
    the text is the program's warning, and the builder's notes hold it
    after "warning: "."""


@dataclass(frozen=True)
class Transition:
    frequency: float   # [Hz]
    T2: float          # dephasing time of its coherence [s]


def show_length(metres: float) -> str:
    """A length in the largest of m, mm, um, nm it fills, to six digits."""
    for unit, size in LENGTH_UNITS:
        if abs(metres) >= size:
            return f"{metres / size:.6g} {unit}"
    return f"{metres:.6g} m"


def coherence_time(Ta: float, Tb: float) -> float:
    """The T2 of a coherence whose two components dephase in Ta and Tb:
    its amplitude decays at the mean of their rates."""
    return 2.0 / (1.0 / Ta + 1.0 / Tb)


def transitions(levels, deph, dephasing_scale, both_transitions) -> list:
    """The dots' transitions: 1<->2 at level 1's energy, and with
    `both_transitions` 3<->4 at level 3's in its own row's unit.  T1..T12
    are the off-diagonal dephasing times in row order, scaled."""
    T = [None] + [dephasing_scale * deph[i][j] for i in range(4) for j in range(4) if i != j]

    def frequency(row):
        return C0 * EV * row[1] * LEVEL_UNITS.get(row[2], 0.0) / HC

    out = [Transition(C0 / (HC / (EV * levels[0][1] * LEVEL_UNITS[levels[0][2]])),
                      coherence_time(T[1], T[7]))]
    if both_transitions:
        out.append(Transition(frequency(levels[2]), coherence_time(T[6], T[12])))
    return out


def has_dots(dot_cells, region, density) -> bool:
    """Whether the dot layer's cells (first, last) meet the program's dot
    region (z1, z2), with a density above 0."""
    if dot_cells is None or region is None or not density > 0:
        return False
    return dot_cells[1] >= region[0] and dot_cells[0] <= region[1]


def _front(shape, peak, v, dt):
    """When the envelope of a Gaussian (exp(-x^2), x in widths W from its
    centre) or a secant (1/cosh(10 s), s in half lengths from its middle)
    first reaches FRONT of its peak; None for the other shapes."""
    T = v["fwhm"] * (1e-15, 1e-12)[v["fwhm_unit"]]
    if shape == 3:
        W = int(T / FWHM_FACTOR / dt + 0.5)
        return peak - math.sqrt(-math.log(FRONT)) * W * dt
    if shape == 2:
        return peak - math.acosh(1.0 / FRONT) / 10.0 * (T / 2.0)
    return None


def _injects_nothing(v, peak, dt, end) -> bool:
    if v["shape"] == 5:
        return v["noise"] == 0
    front = _front(v["shape"], peak, v, dt)
    return v["amplitude"] == 0 or (front is not None and front > end)


def _nearest(ts, frequency, polarisation) -> Transition:
    """The transition nearest the carrier; of two as near, 3<->4 for sigma-
    light (code 4), which drives it."""
    if len(ts) == 1 or ts[1].frequency == 0.0:
        return ts[0]
    d0, d1 = abs(frequency - ts[0].frequency), abs(frequency - ts[1].frequency)
    return ts[1] if d1 < d0 or (d1 == d0 and polarisation == 4) else ts[0]


def _pulse_warnings(n, v, dt, last_step, ts) -> list:
    end = last_step * dt
    peak = pulse_times(v, dt)[1]
    if _injects_nothing(v, peak, dt, end):
        return [f"pulse {n} injects nothing"]
    out = []
    if peak is not None and peak > end:
        out.append(f"pulse {n} peaks at {show_time(peak)} after the run's last step "
                   f"(step {last_step} at {show_time(end)})")
    if not ts or v["shape"] == 5:
        return out
    wavelength = v["wavelength"] * 1e-6
    frequency = C0 / wavelength
    t = _nearest(ts, frequency, v["polarisation"])
    off = abs(frequency - t.frequency) / t.frequency
    if off > FAR_FROM_TRANSITION:
        out.append(f"pulse {n} is {100.0 * off:.3g} % off the nearest transition "
                   f"({show_length(wavelength)} against {show_length(C0 / t.frequency)})")
        return out   # it hardly drives the dots: their decay after it is no concern
    if peak is not None and 0.0 <= end - peak < DECAY_TIMES * t.T2:
        out.append(f"the record ends {show_time(end - peak)} after pulse {n}'s peak, less than "
                   f"3 T2 = {show_time(DECAY_TIMES * t.T2)}: its free decay is cut off")
    return out


def pulse_warnings(pulses, dt, last_step, ts) -> list:
    """The program's warnings of the pulses, pulse 1 first: `pulses` the
    pulse lines' items, `last_step` the step the run stops at, `ts` the
    dots' transitions (empty without dots)."""
    return [text for n, items in enumerate(pulses, 1)
            for text in _pulse_warnings(n, dict(items), dt, last_step, ts)]


def warn(notes, texts, stacklevel) -> None:
    """Adds each text to `notes` after "warning: " and warns of it as a
    CaseWarning, naming the line `stacklevel` frames above the caller."""
    for text in texts:
        notes.append("warning: " + text)
        warnings.warn(text, CaseWarning, stacklevel=stacklevel + 1)
