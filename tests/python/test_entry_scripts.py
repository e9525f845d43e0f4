"""The example scripts and mps1d-tools under an interpreter without numpy
(Debian's python3 without its site packages): one line naming the
interpreter they need, exit status 2, no traceback."""
import subprocess

import pytest

from conftest import ROOT


@pytest.mark.parametrize("script", ["examples/quickstart.py", "examples/microcavity.py",
                                    "examples/photon_echo/photon_echo.py",
                                    "examples/pump_probe/pump_probe.py", "scripts/mps1d-tools",
                                    "scripts/mps1d-sweep"])
def test_without_numpy_the_scripts_name_the_interpreter_they_need(script, tmp_path):
    done = subprocess.run(["/usr/bin/python3", "-S", str(ROOT / script), str(tmp_path / "run")],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    name = script.rsplit("/", 1)[-1]
    assert (done.returncode, done.stdout) == (2, "")
    assert done.stderr == (f"{name}: /usr/bin/python3 has no numpy: run it with Debian's "
                           "/usr/bin/python3 (packages python3-numpy, python3-matplotlib, "
                           "python3-h5py)\n")
    assert not (tmp_path / "run").exists()
