import math

import numpy as np
import pytest

import runfiles
from conftest import QUICKSTART
from mps1d.inputs import InputError, read_inputs


def inputs_of(tmp_path, text):
    path = tmp_path / "execdata.txt"
    path.write_text(text)
    return read_inputs(path)


def test_quickstart_value_by_value():
    i = read_inputs(QUICKSTART)
    assert (i.courant, i.LL, i.J_final, i.Nt, i.iteration_limit) == (0.5, 5000, 0, 30000, 20)
    assert (i.tolerance, i.dz, i.NZ, i.monitor_cells) == (1e-12, 5e-9, 620, [150, 310])
    assert i.dt == pytest.approx(0.5 * 5e-9 / 299792458.0, rel=1e-15)
    assert i.folders == ("Results", "DiscardedResults", "Continue")
    p = i.pulse
    assert (p.shape, p.polarisation, p.origin, p.duration, p.delay) == (3, 1, 10, 50, 160)
    assert p.amplitude == i.E0 == 2e8 and p.wavelength_m == pytest.approx(0.955022e-6)
    assert p.duration_s == pytest.approx(50e-15) and p.delay_s == pytest.approx(160e-15)
    assert i.levels[0] == ("trans_12", 1.3, 0) and len(i.levels) == 4
    assert i.dipole_density == 1e24 and i.dipoles[0, 1] == 6.4e-29 and i.transitions[2, 3] == 1
    assert i.long_times[1, 0] == 1e-9 and i.dephasing_times[2, 3] == 1e-11
    assert i.layers.shape == (5, 10)
    np.testing.assert_array_equal(i.layers[2], [20, 0, 3.5, 0, -0.5, 0.5, -1, -0.5, 0.5, -1])
    # cavity = layers 2..4 = cells 101..520; 20 dot cells in its middle
    assert (i.cavity_cells(), i.dot_region()) == ((100, 520), (301, 320))
    u13, u14, u15 = i.equilibrium()
    assert len(u13) == 620
    assert (u13[300], u14[300], u15[300]) == pytest.approx(
        (-0.5, 0.5 / math.sqrt(3), -1 / math.sqrt(6)), rel=1e-15)
    assert (u13[299], u14[320]) == (0.0, 0.0)  # cells 300 and 321: no dots


class TestReadingRules:
    def test_hand_written_defaults(self, tmp_path):
        i = inputs_of(tmp_path, runfiles.execdata_text())
        assert i.long_times[1, 0] == 1e-9  # written as 1.0D-9
        assert i.dephasing_scale == 2.0 and i.NZ == 12
        assert i.cavity_cells() == (4, 8) and i.dot_region() == (5, 8)

    def test_commas_slash_comments_and_blank_lines(self, tmp_path):
        text = runfiles.execdata_text().replace(
            "1.0e24                   # density", "1.0e24, 7 / 8 # density")
        text = text.replace("1.0e-8 2 2", "1.0e-8,2,2 / 99")
        text = text.replace("\n1                        # number of pulses",
                            "\n\n\n1   # number of pulses")
        text = text.replace("\n4 0 1.0 0 0 0 0 0 0 0\n", "\n4 0 1.0 0 0 0 0 0 0 0\n\n\n")
        i = inputs_of(tmp_path, text)
        assert i.dipole_density == 1e24 and (i.dz, i.first_cavity, i.last_cavity) == (1e-8, 2, 2)
        assert i.pulse.shape == 3 and i.layers.shape == (3, 10)

    def test_uneven_dot_region(self, tmp_path):
        # cavity cells 5..13 and 4 dot cells: the odd difference 5 is halved
        # toward zero, so the region takes one cell more, 7..11
        layers = ((4, 1.0, False), (3, 3.5, False), (4, 3.5, True), (2, 3.5, False),
                  (3, 1.0, False))
        i = inputs_of(tmp_path, runfiles.execdata_text(layers=layers, last_cavity=4))
        assert (i.cavity_cells(), i.dot_region()) == ((4, 13), (7, 11))

    @pytest.mark.parametrize("cut,message", [
        (lambda t: t.replace("1.0e-8 2 2", "1.0e-8 2"), "spatial line"),
        (lambda t: t.split("# run control")[0], "ends"),
    ], ids=["missing-value", "file-ending-early"])
    def test_bad_file_is_an_error_naming_where(self, tmp_path, cut, message):
        with pytest.raises(InputError, match=message):
            inputs_of(tmp_path, cut(runfiles.execdata_text()))


def test_result_file_names_are_the_programs():
    from mps1d import files
    from mps1d.program import check_text
    case = check_text(QUICKSTART.read_bytes())
    assert case["file_names"] == files.NAMES
    assert case["derived"]["NZ"] == 620 and case["folders"]["problem"]
