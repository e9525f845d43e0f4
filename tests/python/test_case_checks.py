"""What the case builder says before anything is written: the layer or
pulse a fault is in, the defaults it fills in, its warnings of pulses and
records that give nothing useful, and the quarter-wave mirrors of `bragg`
(checked against the textbook reflectance with a transfer matrix)."""
import math
import warnings

import numpy as np
import pytest

from mps1d.case import Case, CaseError, CaseWarning, Layer, Pulse, bragg


def _case(*layers, pulse=None, **kw):
    c = Case(**({"steps": 1000, "block_steps": 1000, "dephasing": "10 fs"} | kw))
    for length, name in layers:
        c.layer(length, name=name)
    c.pulse = pulse or Pulse("cw", length="10 fs", amplitude=1e8)
    return c


@pytest.mark.parametrize("build, message", [
    (lambda: _case(("50 nm", None), ("-50 nm", "spacer")),
     r"^layer 2 \(spacer\) length: '-50 nm' must be above 0, not negative$"),
    (lambda: _case(("50 nm", None), ("-50 nm", None)),
     r"^layer 2 length: '-50 nm' must be above 0, not negative$"),
    (lambda: _case(("50 nm", None), ("1 nm", "cap")),
     r"^layer 2 \(cap\) length: '1 nm' is less than half a cell of 5 nm$"),
    (lambda: _case(("50 nm", None)).layer(cells=-3),
     r"^layer 2 cells: -3 must be from 0 to \d+, not negative$"),
    (lambda: _case(("50 nm", None)).layer("50 nm", n=-3.5, name="gaas"),
     r"^layer 2 \(gaas\) index n: -3.5 must be above 0, not negative$"),
    (lambda: _case(("50 nm", None)).dots("10 nm", n=-1),
     r"^dot layer 2 \(dots\) index n: -1 must be above 0, not negative$"),
    (lambda: _case(("50 nm", None), pulse=[Pulse("cw", length="10 fs", amplitude=1),
                                           Pulse("cw", length="10 fs", delay="-3 fs",
                                                 amplitude=1)]),
     r"^pulse 2 delay: '-3 fs' must be 0 or more, not negative$"),
    (lambda: _case(("50 nm", None), density=-1), "density: -1 must be 0 or more, not negative"),
    (lambda: _case(("50 nm", None), relaxation={(2, 1): "-1 ns"}),
     r"relaxation time \(2,1\): '-1 ns' must be 0 or more, not negative"),
    (lambda: _case(("50 nm", None), dz="-5 nm"), "dz: '-5 nm' must be above 0, not negative"),
], ids=["named-layer", "unnamed-layer", "thin-layer", "cells", "index", "dot-index",
        "second-pulse", "density", "relaxation", "dz"])
def test_a_fault_names_its_layer_or_pulse_and_says_negative(build, message):
    with pytest.raises(CaseError, match=message):
        build().values()


def test_the_times_that_apply_by_default_are_stated():
    for text in ("(2,1) 1 ns", "(1,3) = (3,1) 0.5 ns", "(2,4) = (4,2) 0.2 ns", "10 fs"):
        assert text in Case.__doc__
    cw = Pulse("cw", length="10 fs", amplitude=1)
    notes = Case(steps=100, pulse=cw).layer("50 nm").notes()
    assert notes == ["relaxation times not given: the bundled examples', trion recombination "
                     "(2,1) 1 ns, spin flips (1,3) = (3,1) 0.5 ns and (2,4) = (4,2) 0.2 ns",
                     "dephasing times not given: 10 fs for every pair of levels"]
    given = Case(steps=100, relaxation="1 ns", dephasing="1 ps", pulse=cw).layer("50 nm")
    assert not any("not given" in n for n in given.notes())


def _dot_case(pulse, steps=2000, **kw):
    """A dot layer in a slab; dt = 8.33910 as, the last step 3000 at 25.0 fs."""
    c = Case(steps=steps, block_steps=1000, relaxation="1 ns", **({"dephasing": "1 fs"} | kw))
    c.layer("50 nm", n=3.5).dots("10 nm", n=3.5).layer("50 nm", n=3.5)
    c.pulse = pulse
    return c


CUT_OFF = ("the record ends {} after pulse 1's peak, less than 3 T2 = 21 fs: its free decay is "
           "cut off")


@pytest.mark.parametrize("pulse, kw, expected", [
    (Pulse("gaussian", fwhm="5 fs", delay="6 fs", amplitude=1e8), {}, []),
    (Pulse("gaussian", fwhm="5 fs", delay="30 fs", amplitude=1e8), {},
     ["pulse 1 peaks at 30.0208 fs after the run's last step (step 3000 at 25.0173 fs)"]),
    (Pulse("gaussian", fwhm="5 fs", delay="60 fs", amplitude=1e8), {},
     ["pulse 1 injects nothing"]),
    (Pulse("cw", length="10 fs", delay="40 fs", amplitude=1e8), {}, []),
    (Pulse("sech", length="10 fs", amplitude=0), {}, ["pulse 1 injects nothing"]),
    (Pulse("gaussian", fwhm="5 fs", delay="6 fs", amplitude=1e8, wavelength="1.2 um"), {},
     ["pulse 1 is 20.4 % off the nearest transition (1.2 um against 955.022 nm)"]),
    (Pulse("gaussian", fwhm="5 fs", delay="6 fs", amplitude=1e8), {"dephasing": "7 fs"},
     [CUT_OFF.format("19.0132 fs")]),
    (Pulse("sech", length="10 fs", amplitude=1e8), {"dephasing": "7 fs"},
     [CUT_OFF.format("20.0173 fs")]),
    (Pulse("sech", length="10 fs", amplitude=1e8), {"dephasing": "7 fs", "dephasing_scale": 0.5},
     []),
], ids=["fine", "late-peak", "all-after-the-end", "cw-from-the-first-step", "zero-amplitude",
        "off-resonance", "short-record", "sech-peak", "scaled-T2"])
def test_pulses_that_give_nothing_useful_are_warned_of(pulse, kw, expected):
    case = _dot_case(pulse, **kw)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        notes = case.notes()
    assert [str(w.message) for w in caught if w.category is CaseWarning] == expected
    assert [n for n in notes if n.startswith("warning: ")] == ["warning: " + e for e in expected]


def test_a_pulse_off_the_transition_without_dots_is_no_fault():
    c = _case(("50 nm", None), pulse=Pulse("gaussian", fwhm="5 fs", delay="6 fs", amplitude=1,
                                            wavelength="3 um"))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert not any(n.startswith("warning: ") for n in c.notes())


def test_case_repr_is_one_line():
    c = _dot_case(Pulse("gaussian", fwhm="5 fs", delay="6 fs", amplitude=1e8))
    assert repr(c) == "<Case 22 cells of 5 nm, 3000 steps = 25.0173 fs, 3 layers, 1 pulse>"
    assert repr(Case(steps=None)) == "<Case ? cells, ? steps, 0 layers, 1 pulse>"


def _reflectance(layers, wavelength, n0, ns):
    """Normal-incidence reflectance of `layers` (Layer, lengths in m) between
    a medium n0 and a substrate ns, by characteristic matrices."""
    m = np.eye(2, dtype=complex)
    for layer in layers:
        delta = 2 * math.pi * layer.n * layer.length / wavelength
        m = m @ np.array([[math.cos(delta), 1j * math.sin(delta) / layer.n],
                          [1j * layer.n * math.sin(delta), math.cos(delta)]])
    b, c = m @ np.array([1.0, ns])
    r = (n0 * b - c) / (n0 * b + c)
    return abs(r) ** 2


@pytest.mark.parametrize("pairs, n_high, n_low, low_first, n0, ns, documented", [
    (15, 3.511, 2.984, False, 1.0, 3.511, 0.99137),   # the microcavity's top mirror
    (20, 3.511, 2.984, True, 3.511, 3.511, 0.99404),  # ... and its bottom mirror
    (1, 2.0, 1.5, False, 1.0, 1.5, None),
    (8, 2.3, 1.45, True, 1.0, 1.52, None),
])
def test_bragg_layers_are_quarter_waves_with_the_textbook_reflectance(
        pairs, n_high, n_low, low_first, n0, ns, documented):
    wavelength = 955e-9
    layers = bragg(pairs, n_high, n_low, "955 nm", low_first=low_first, name="m")
    assert len(layers) == 2 * pairs and all(isinstance(l, Layer) for l in layers)
    first, second = (n_low, n_high) if low_first else (n_high, n_low)
    assert [l.n for l in layers] == [first, second] * pairs
    for l in layers:
        assert l.length == pytest.approx(wavelength / (4 * l.n), rel=1e-15)
    assert layers[0].name == f"m 1{'L' if low_first else 'H'}" and layers[-1].name.startswith(
        f"m {pairs}")
    y = (first / second) ** (2 * pairs) * ns / n0
    textbook = ((1 - y) / (1 + y)) ** 2
    assert _reflectance(layers, wavelength, n0, ns) == pytest.approx(textbook, rel=1e-12)
    if documented is not None:
        assert round(textbook, 5) == documented
    # off the design wavelength the mirror reflects less
    assert _reflectance(layers, 1.3 * wavelength, n0, ns) < textbook


def test_case_bragg_appends_the_mirror_and_rounds_it_to_cells():
    c = Case(dz="2 nm", steps=100, pulse=Pulse("cw", length="10 fs", amplitude=1))
    c.layer("100 nm").bragg(2, 3.511, 2.984, "955.022 nm")
    assert [l.n for l in c.layers] == [1.0, 3.511, 2.984, 3.511, 2.984]
    assert [c.values()[f"layer.{k}.cells"] for k in range(2, 6)] == [34, 40, 34, 40]
    with pytest.raises(CaseError, match="bragg n_low: -2.9 must be above 0, not negative"):
        c.bragg(2, 3.5, -2.9, "955 nm")
