import json
import os
import shutil
import subprocess

import h5py
import numpy as np
import pytest

import mps1d
import runfiles
from conftest import ROOT
from mps1d.cli import main
from mps1d.report import summary_text

SUMMARY = {
    "program": "mps1d", "version": "1.2.0", "model": "corrected", "status": "complete",
    "threads": 2, "wall_time_s": 1.5, "source": "hard",
    "energy": {"injected": 4.0e-3, "reflected": 1.0e-3, "transmitted": 2.0e-3,
               "dots": 4.0e-4, "in_grid": 4.99e-4, "absorbed": 5.0e-4, "dissipated": 1.0e-4,
               "balance": 0.99975},
    "peak_populations": {"rho11": {"value": 0.5, "step": 1, "cell": 301},
                         "rho22": {"value": 0.4189, "step": 15976, "cell": 310},
                         "rho33": {"value": 0.5, "step": 1, "cell": 301},
                         "rho44": {"value": 9.2e-5, "step": 35000, "cell": 310}},
    "lowest_populations": {"rho11": {"value": 0.0812, "step": 15970, "cell": 310},
                           "rho22": {"value": 0.0, "step": 1, "cell": 301},
                           "rho33": {"value": 0.4999, "step": 35000, "cell": 302},
                           "rho44": {"value": 0.0, "step": 1, "cell": 301}},
}
OLD_SUMMARY = dict(SUMMARY, energy={k: v for k, v in SUMMARY["energy"].items()
                                    if k not in ("absorbed", "dissipated")})
del OLD_SUMMARY["lowest_populations"]
REASON = "Ex is NaN at cell 292 after step 30; the run stops, the files of the earlier snapshots are kept"
STOPPED = dict(SUMMARY, status="stopped", stop={"step": 30, "reason": REASON},
               energy=dict(SUMMARY["energy"], injected=None, balance=None,  # null: not finite
                           through_monitor_cells=[1e-10, None]))


def report(complete_run, summary=None):
    """The summary text of the run with `summary` as its summary.json."""
    if summary is not None:
        (complete_run.results / "summary.json").write_text(json.dumps(summary))
    return summary_text(mps1d.load(complete_run.root))


def row(text, first):
    """The fields of the table line that starts with `first`."""
    return next(line.split() for line in text.splitlines() if line.split()[:1] == [first])


class TestSummaryTable:
    def test_energy_budget_and_populations(self, complete_run):
        text = report(complete_run, SUMMARY)
        assert "status: complete" in text and "model: corrected" in text
        assert row(text, "injected") == ["injected", "4.000000e-03", "1.000000"]
        assert row(text, "transmitted") == ["transmitted", "2.000000e-03", "0.500000"]
        assert row(text, "in_grid")[2] == "0.124750"
        assert row(text, "absorbed")[2] == "0.125000" and row(text, "dissipated")[2] == "0.025000"
        assert "(reflected+transmitted+in_grid+dots+dissipated)/injected = 0.999750000" in text
        # Lowest and peak populations with their step, time and cell.
        fields = row(text, "rho11")
        assert fields[:3] + fields[4:7] == ["rho11", "0.081200000", "15970", "310",
                                            "0.500000000", "1"]
        fields = row(text, "rho22")
        assert fields[5:7] + fields[8:] == ["0.418900000", "15976", "310"]
        assert float(fields[7]) == pytest.approx(15976 * runfiles.dt() * 1e15, abs=1e-3)

    def test_older_summary_without_dissipation_or_minima(self, complete_run):
        text = report(complete_run, OLD_SUMMARY)
        assert "(reflected+transmitted+dots+in_grid)/injected = 0.999750000" in text
        assert "absorbed" not in text and " min " not in text
        assert row(text, "rho22")[:3] == ["rho22", "0.418900000", "15976"]

    @pytest.mark.parametrize("summary, first_line", [
        (STOPPED, f"RUN STOPPED after step 30: {REASON}\n"),
        (dict(SUMMARY, status="stopped"), "RUN STOPPED before its end (this summary.json does "
                                          "not say where or why)\n"),
        (dict(SUMMARY, status="running", inputs={"steps_run": 20000}),
         "RUN NOT FINISHED: this summary.json was written at the snapshot of step 20000;")],
        ids=["stopped", "stopped-older-summary", "running"])
    def test_a_run_that_did_not_complete_says_so_first(self, complete_run, summary, first_line):
        assert report(complete_run, summary).startswith(first_line)

    def test_without_summary_the_files_give_the_peaks(self, complete_run):
        text = report(complete_run)
        assert text.startswith("no summary.json in")
        traces, snapshots = text.split("at the snapshots")
        # rho22 of cell 6 grows with the step: its peak is the last step
        expected = runfiles.trace_value(6, "rho22", 12)
        assert row(traces, "rho22")[1:3] == [f"{expected:.9f}", "12"]
        assert row(traces, "rho22")[4] == "6"
        value, step = row(snapshots, "rho11")[1:3]
        assert float(value) == pytest.approx(0.5, abs=1e-5) and step == "1"  # s files: 5 digits


def tools(*args):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    return subprocess.run([str(ROOT / "scripts" / "mps1d-tools"), *map(str, args)],
                          capture_output=True, text=True, env=env, cwd="/", timeout=120)


class TestCommandLine:
    def test_summary_and_export_from_a_clean_environment(self, complete_run, tmp_path):
        done = tools("summary", complete_run.root)
        assert done.returncode == 0, done.stderr
        assert "no summary.json" in done.stdout and "rho22" in done.stdout
        done = tools("export", complete_run.root, tmp_path / "r.h5")
        assert done.returncode == 0, done.stderr
        with h5py.File(tmp_path / "r.h5", "r") as h5:
            assert h5["traces/Ex"].shape == (12, 4)

    def test_plot_into_a_folder(self, complete_run, tmp_path):
        done = tools("plot", complete_run.root, "--out", tmp_path / "png")
        assert done.returncode == 0, done.stderr
        paths = sorted((tmp_path / "png").glob("*.png"))
        assert sorted(done.stdout.split()) == [str(p) for p in paths]
        names = {p.name for p in paths}
        assert {"snapshot_000000000004.png", "trace_cell000006.png", "zt_profiles_E2.png"} <= names
        assert len(names) == len(runfiles.SNAPSHOTS) + 4 + 1  # no spectra: no flux records
        assert all(p.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" for p in paths)

    def test_damaged_file_and_missing_results_folder_are_named(self, complete_run):
        results = complete_run.root / "Results"
        for damaged in results.glob("*.gz"):
            damaged.write_bytes(damaged.read_bytes()[:-12])  # every stream cut short
        done = tools("summary", complete_run.root)
        assert done.returncode == 2, done.stdout + done.stderr
        assert ".gz: damaged or cut-short compressed file" in done.stderr, done.stderr
        shutil.rmtree(results)
        done = tools("summary", complete_run.root)
        assert done.returncode == 2 and "results folder" in done.stderr, done.stderr

    def test_stopped_run_with_values_that_are_not_finite(self, complete_run, tmp_path, capsys):
        (complete_run.results / "summary.json").write_text(json.dumps(STOPPED))
        assert main(["summary", str(complete_run.root)]) == 0
        text = capsys.readouterr().out
        assert row(text, "injected")[1:] == ["not", "finite", "-"]
        assert ")/injected = not finite\n" in text
        assert main(["export", str(complete_run.root), str(tmp_path / "r.h5")]) == 0
        with h5py.File(tmp_path / "r.h5", "r") as h5:
            assert (h5.attrs["summary_stop_step"], h5.attrs["summary_stop_reason"]) == (30, REASON)
            assert np.isnan(h5.attrs["energy_balance"])
            assert np.isnan(h5.attrs["energy_through_monitor_cells_J_per_m2"][1])
