import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))

import runfiles  # noqa: E402

# The program under test: $MPS1D (scripts/test.sh names the build it made),
# else build/mps1d of the repository.
PROGRAM = Path(os.environ.get("MPS1D", ROOT / "build" / "mps1d"))
QUICKSTART = ROOT / "examples" / "quickstart" / "execdata.txt"


def run_program(folder, text, *options, status=0):
    """Runs the program on `text` as the execdata.txt of a new run folder."""
    if not PROGRAM.is_file():
        pytest.skip(f"{PROGRAM} is not built (MPS_TARGET=mps1d scripts/setup.sh build)")
    for sub in ("Results", "DiscardedResults", "Continue"):
        (folder / sub).mkdir(parents=True)
    (folder / "execdata.txt").write_text(text)
    done = subprocess.run([str(PROGRAM), *options], cwd=folder, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == status, done.stdout + done.stderr
    return folder


@pytest.fixture
def complete_run(tmp_path):
    """A small run folder written by hand (see runfiles.write_complete_run)."""
    return runfiles.write_complete_run(tmp_path / "run")


@pytest.fixture(scope="session")
def quickstart_run(tmp_path_factory):
    """The bundled quickstart, run with one thread."""
    return run_program(tmp_path_factory.mktemp("quickstart") / "text", QUICKSTART.read_text(),
                       "--threads=1")


REAL_RUN = dict(
    layers=((20, 1.0, False), (30, 3.5, False), (20, 3.5, True), (50, 3.5, False),
            (20, 1.0, False)),
    first_cavity=2, last_cavity=4, dz="2.0e-8", LL=500, Nt=1000, monitors=(60, 61, 70, 80, 81),
    fwhm=5, delay=10, amplitude="1.0e9", origin=2)


@pytest.fixture(scope="session")
def real_run(tmp_path_factory):
    """A short run: 140 cells, cavity 21..120, dot layer 51..70 but dot region
    61..80 (centred in the cavity), LL = 500, 1500 steps, monitor cells on
    both edges of the dot region."""
    return run_program(tmp_path_factory.mktemp("real") / "run",
                       runfiles.execdata_text(**REAL_RUN), "--threads=1")
