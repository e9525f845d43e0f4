"""The spin pump-probe example: a matched reference and a record long enough
for each delay, and the rate equations it compares dT/T with."""
import sys
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "examples" / "pump_probe"))

import pump_probe  # noqa: E402


def _ps(text):
    number, unit = text.split()
    return float(number) * {"fs": 1e-3, "ps": 1.0, "ns": 1e3}[unit]


@pytest.mark.filterwarnings("ignore:pulse 1 injects nothing")
@pytest.mark.parametrize("delay", pump_probe.DELAYS_PS)
def test_each_delay_has_its_own_reference_and_a_record_past_the_probes_free_decay(delay):
    pumped, alone = pump_probe.case(delay, 1), pump_probe.case(delay, 0)
    changed = [(a, b) for a, b in zip(pumped.execdata_text().splitlines(),
                                      alone.execdata_text().splitlines()) if a != b]
    assert len(changed) == 1, changed                   # the pump's line, nothing else
    assert pumped.pulses[0].polarisation == "sigma+" and alone.pulses[0].area == 0
    probe = _ps(pumped.pulses[1].delay)
    assert _ps(pumped.time) - probe >= 5 * _ps(pumped.dephasing)


def test_dT_over_T_of_each_delay_against_its_own_reference():
    # References that differ from delay to delay, as a cut-off record makes them.
    transmitted = {(1.0, 0.0): 100.0, (1.0, 1.0): 101.0, (4.0, 0.0): 90.0, (4.0, 1.0): 90.9}
    points = pump_probe.differential(transmitted)
    assert [d for d, _ in points] == [1.0, 4.0]
    assert [v for _, v in points] == pytest.approx([0.01, 0.01])
    with pytest.raises(ValueError, match="no run with pump area 0"):
        pump_probe.differential({(2.0, 1.0): 1.0, (1.0, 0.0): 1.0})


def test_rate_equations_of_the_bleaching_peak_after_the_trion_spin_flip():
    # Levels 2 and 4 even out at 2/tf, trions recombine at 1/tr, and 3 - 1
    # relaxes at 2/ts: rho44 - (rho33 - 1/2) in closed form.
    tf, tr, ts = 2.0, 50.0, 1000.0
    t = np.array([0.2, 1.0, 2.0, 3.3, 4.0, 8.0, 45.0])
    a, b = 1 / tr + 2 / tf, 2 / ts
    total, split = 0.5 * np.exp(-t / tr), 0.5 * np.exp(-a * t)
    ground_split = 0.5 * np.exp(-b * t) - 0.5 / tr * (np.exp(-a * t) - np.exp(-b * t)) / (b - a)
    rho44, rho33 = (total - split) / 2, (-total + ground_split) / 2
    bleaching = pump_probe.bleaching(t)
    assert bleaching == pytest.approx(rho44 - rho33, rel=1e-9)
    assert 1.04 < bleaching[4] / bleaching[2] < 1.07      # still rising from 2 to 4 ps
    assert bleaching[3] > max(bleaching[2], bleaching[4])  # largest near 3.3 ps
    assert bleaching[6] < 0                                # spin-down electrons left behind

