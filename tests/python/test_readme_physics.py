"""Numbers the manual (docs/) states about the physics, against what the code does."""
import re
import sys
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "examples" / "pump_probe"))

import pump_probe  # noqa: E402



def _section(doc, title, next_title):
    text = (ROOT / "docs" / doc).read_text()
    return text[text.index(title):text.index(next_title)]


def test_readme_states_the_bleaching_still_rising_from_2_to_4_ps():
    section = _section("both_transitions.md", "## Spin pump–probe", "## The terms it adds")
    rows = dict((float(d), float(v)) for d, v in
                re.findall(r"delay +([\d.]+) ps.*?dT/T = ([+-][\d.e-]+)", section))
    assert 1.04 < rows[4] / rows[2] < 1.08
    assert set(pump_probe.DELAYS_PS) <= set(rows)
    assert rows[3] > rows[2] and rows[8] < rows[4]


def test_readme_states_when_the_spectral_classes_rephase():
    # src/core/spectral_classes.hpp: offsets (k - (K - 1)/2) h, h = 4 FWHM / (K - 1),
    # FWHM [meV] turned into rad/s with the program's constants.
    constants = (ROOT / "src" / "core" / "constants.hpp").read_text()
    hbar, ev = (float(re.search(rf"double {name} = ([\d.e+-]+);", constants).group(1))
                for name in ("hbar", "electron_volt"))
    section = _section("inhomogeneous_broadening.md", "# Inhomogeneous broadening", "- The text result files")
    stated, classes, fwhm = re.search(r"([\d.]+) ps for (\d+) classes over ([\d.]+) meV",
                                      " ".join(section.split())).groups()
    classes, width = int(classes), float(fwhm) * 1e-3 * ev / hbar
    h = 4 * width / (classes - 1)
    offsets = (np.arange(classes) - (classes - 1) / 2) * h
    sigma = width / (2 * np.sqrt(2 * np.log(2)))
    weights = np.exp(-0.5 * (offsets / sigma) ** 2)
    t = np.arange(1e-12, 20e-12, 1e-15)
    mean = np.abs(np.exp(1j * np.outer(t, offsets)) @ weights) / weights.sum()
    rising = np.argmax(mean > 0.5)                       # the first revival's front
    first = t[rising + np.argmax(mean[rising:rising + 1000])]
    assert abs(first - 2 * np.pi / h) < 2e-15
    assert abs(float(stated) * 1e-12 - first) < 0.006e-12
