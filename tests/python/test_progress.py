"""Progress with the time left (the line's text, shown on a terminal only)
and the traces of a run that keeps every N-th step (--trace-every=N)."""
import io
import sys

import numpy as np
import pytest

import mps1d
import runfiles
from conftest import REAL_RUN, run_program
from mps1d import progress
from mps1d.sweep_engines import _run_with_progress


class Terminal(io.StringIO):
    def isatty(self):
        return True


def test_progress_line_shows_the_share_and_the_time_left():
    assert progress.clock(None) == "--:--"
    assert progress.clock(0.2) == "0:00:01"  # rounded up: never 0 with work to go
    assert progress.clock(3725) == "1:02:05"
    assert (progress.progress_line("mps1d", 50000, 200000, 10.0)
            == "mps1d:  25.0 % of 200000 steps, 0:00:30 left")
    assert (progress.progress_line("sweep", 0, 8, 3.0, "cases")
            == "sweep:   0.0 % of 8 cases, --:-- left")
    assert progress.run_steps(30, 10) == (0, 40) and progress.run_steps(35, 10, 20) == (20, 40)


def test_run_program_draws_on_a_terminal_only():
    blocks = "import sys\nfor J in (0, 10):\n    print(f'       Loop from -> {J:12d} Step-> 10')\n" \
             "print('oops', file=sys.stderr)\n"
    cmd = [sys.executable, "-c", blocks]
    quiet, shown = io.StringIO(), Terminal()
    for stream in (quiet, shown):
        done = progress.run_program(cmd, ".", 60, (0, 20), stream)
        assert done.returncode == 0 and done.stdout.count("Loop from") == 2
        assert done.stderr == "oops\n"
    assert quiet.getvalue() == ""
    assert "mps1d:  50.0 % of 20 steps" in shown.getvalue() and " left" in shown.getvalue()
    assert shown.getvalue().endswith("\r\033[K")  # the line is removed at the end
    with pytest.raises(progress.subprocess.TimeoutExpired):
        progress.run_program([sys.executable, "-c", "import time; time.sleep(5)"], ".", 0.2,
                             (0, 20), Terminal())


def test_sweep_progress_counts_the_cases_that_ended(tmp_path):
    ended, running = tmp_path / "a", tmp_path / "b"
    for d in (ended, running):
        d.mkdir()
    (ended / "exit_status").write_text("0\n")
    shown = Terminal()
    _run_with_progress([sys.executable, "-c", "import time; time.sleep(0.3)"], None,
                       [ended, running], shown)
    assert "sweep:  50.0 % of 2 cases" in shown.getvalue()
    quiet = io.StringIO()
    _run_with_progress([sys.executable, "-c", "pass"], None, [ended], quiet)
    assert quiet.getvalue() == ""


def test_traces_of_every_nth_step_keep_their_steps_and_times(tmp_path):
    text = runfiles.execdata_text(**REAL_RUN)
    full = mps1d.load(run_program(tmp_path / "full", text, "--threads=1"))
    for output in ("text", "hdf5"):
        thin = mps1d.load(run_program(tmp_path / output, text, "--threads=1", "--trace-every=7",
                                      f"--output={output}"))
        assert thin.summary["inputs"]["trace_every"] == 7
        for key, trace in full.traces().items():
            kept = thin.traces()[key]
            np.testing.assert_array_equal(kept.step, np.arange(7, 1501, 7))
            # HDF5 times take 1e15 exactly, the text files in single precision.
            np.testing.assert_allclose(kept.time_fs, trace.time_fs[6::7], rtol=2e-8)
            np.testing.assert_allclose(kept.value, trace.value[6::7], rtol=1e-10, atol=1e-11)
        np.testing.assert_allclose(thin.flux().time_fs, full.flux().time_fs, rtol=1e-10)
