"""Parameter sweeps: the input-file editor, value lists and ranges, the checks
before a sweep runs, a local sweep with GNU parallel and a Slurm job array on
a single-node cluster started for the test."""
import csv
import json
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from conftest import PROGRAM, QUICKSTART, ROOT, run_program
from mps1d.execdata import Execdata, ExecdataError, format_value, parse_real
from mps1d.sweep import SweepError, build_points, parse_values

SWEEP = ROOT / "scripts" / "mps1d-sweep"
CLUSTER = ROOT / "scripts" / "slurm_test_cluster.sh"
MICROCAVITY = ROOT / "examples" / "microcavity" / "execdata.txt"


@pytest.fixture(scope="session")
def program():
    if not PROGRAM.is_file():
        pytest.skip(f"{PROGRAM} is not built")
    return PROGRAM


@pytest.fixture(scope="session")
def parallel():
    if not shutil.which("parallel"):
        if os.geteuid() != 0:
            pytest.skip("GNU parallel is missing (apt-get install parallel)")
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "update", "-qq"], check=True, env=env)
        subprocess.run(["apt-get", "install", "-y", "-qq", "parallel"], check=True, env=env)
    return shutil.which("parallel")


def sweep_env(**extra):
    env = {k: v for k, v in os.environ.items() if k not in ("MPS1D", "SLURM_CONF")}
    return {**env, "MPS1D": str(PROGRAM), **extra}


def sweep(*args, env=None, cwd=None):
    return subprocess.run([str(SWEEP), *map(str, args)], capture_output=True, text=True,
                          env=env or sweep_env(), timeout=300, stdin=subprocess.DEVNULL, cwd=cwd)


def short_quickstart(folder: Path) -> Path:
    """The quickstart with 4000 steps of a 10 fs pulse that reaches the dots."""
    text = QUICKSTART.read_text().replace("LL 5000", "LL 4000").replace("steps 30000", "steps 3999")
    text = text.replace(" 50 0 0 2.0e8 1 0 10 160 0 ", " 10 0 0 2.0e8 1 0 10 20 0 ")
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "execdata.txt").write_text(text)
    return folder


def script(path: Path, body: str) -> Path:
    path.write_text("#!/bin/sh\n" + body)
    path.chmod(0o755)
    return path


def rejection(text: bytes, folder: Path) -> str:
    """The program's report on an input file (empty when it accepts it)."""
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "execdata.txt").write_bytes(text)
    r = subprocess.run([str(PROGRAM)], cwd=folder, stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=60)
    # The result folders are missing: an accepted input ends with exit 2.
    return "" if r.returncode == 2 else r.stdout + r.stderr


def read_csv(path: Path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def summary_of(case: Path):
    return json.loads((case / "Results" / "summary.json").read_text())


def flat(summary: dict, prefix=""):
    out = {}
    for k, v in summary.items():
        if not prefix and k in ("status", "inputs"):
            continue
        if isinstance(v, dict):
            out.update(flat(v, prefix + k + "."))
        elif not isinstance(v, list):
            out[prefix + k] = v
    return out


def case_folders(sweep_dir: Path):
    return sorted(p for p in sweep_dir.iterdir() if p.name.startswith("case-"))


def joblog_rows(sweep_dir: Path):
    lines = (sweep_dir / "joblog.txt").read_text().splitlines()
    return [dict(zip(lines[0].split("\t"), l.split("\t"))) for l in lines[1:]
            if not l.startswith("Seq")]


# --------------------------------------------------------------------------
# The input file: every named value is found where the program reads it.

# An unusable value for each name and the program's report on it.
REJECTED = [
    ("pulse.wavelength", "-1", "pulse wavelength must be positive"),
    ("pulse.fwhm", "-1", "pulse duration must not be negative"),
    ("pulse.delay", "Infinity", "Pulse delay / duration"),
    ("pulse.amplitude", "Infinity", "pulse amplitude must be a finite number"),
    ("pulse.polarisation", "9", "Error in pulse polarisation definition"),
    ("pulse.shape", "9", "Pulse shape must be 1 to 5"),
    ("pulse.origin", "99999", "Pulse origin outside 0..NZ: 99999"),
    ("pulse.noise", "Infinity", "noise scale must be a finite number"),
    ("dots.density", "-1", "density of resonant dipoles must not be negative"),
    ("times.scale", "0", "T13 must be positive"),
    ("dephasing.scale", "-1", "T1 must be positive"),
    ("boundary.left.reflection", "Infinity", "left reflection coefficient must be a finite"),
    ("boundary.right.reflection", "Infinity", "right reflection coefficient must be a finite"),
    ("run.courant", "2", "Courant number must not exceed 1"),
    ("run.LL", "0", "LL must be at least 1"),
    ("run.Nt", "-1", "Nt must not be negative"),
    ("run.iteration_limit", "1.5", "cannot read the iteration limit line"),
    ("run.tolerance", "Infinity", "tolerance must be a finite number"),
    ("structure.dz", "-1", "dz must be positive"),
    ("layer.3.cells", "-5", "Negative cell count in layer 3"),
    ("layer.4.index", "-1", "index of layer 4 must be positive"),
    ("layer.2.index_end", "-2", "right-end index of layer 2 must be positive"),
]


class TestInputFile:
    @pytest.mark.parametrize("name,bad,report", REJECTED, ids=[r[0] for r in REJECTED])
    def test_edit_lands_in_the_value_the_program_reads(self, program, tmp_path, name, bad,
                                                        report):
        ed = Execdata.read(QUICKSTART).with_texts({name: bad})
        assert report in rejection(ed.to_bytes(), tmp_path)

    def test_layer_rows_are_counted_like_the_program(self, program, tmp_path):
        ed = Execdata.read(MICROCAVITY)
        assert rejection(ed.to_bytes(), tmp_path / "as-is") == ""
        assert ed.layer_rows == 75 and ed.value("layer.75.cells") == 200
        assert (ed.value("layer.33.cells"), ed.value("layer.33.index")) == (10, 3.511)
        report = rejection(ed.with_texts({"layer.33.cells": "-7"}).to_bytes(), tmp_path / "bad")
        assert "Negative cell count in layer 33" in report
        with pytest.raises(ExecdataError, match="75 rows"):
            ed.place("layer.76.cells")

    def test_edits_keep_every_other_byte(self, program, tmp_path):
        text = QUICKSTART.read_text()
        assert rejection(text.encode(), tmp_path) == ""
        new = Execdata.read(QUICKSTART).with_values({"pulse.amplitude": 4e8, "pulse.delay": 1e-5,
                                                     "layer.3.cells": 24, "run.Nt": 100})
        old_lines, new_lines = text.split("\n"), new.to_bytes().decode().split("\n")
        assert len(old_lines) == len(new_lines)
        assert {k for k, (a, b) in enumerate(zip(old_lines, new_lines)) if a != b} == {37, 49, 59}
        # Pulse fields 7 (amplitude) and 11 (delay) changed; separators and comment kept.
        assert new_lines[37] == old_lines[37].replace(" 2.0e8 1 0 10 160 ", " 4e8 1 0 10 1e-5 ")
        assert new_lines[49] == "total number of time steps 100 -"
        assert new_lines[59] == "24 0 3.5 0 -0.5 0.5 -1 -0.5 0.5 -1"

    def test_free_format_lines_crlf_and_repeat_counts(self, program, tmp_path):
        """Commas, D exponents, blank lines before value lines, CRLF line
        ends and repeat counts, as the program reads them."""
        text = QUICKSTART.read_text()
        text = text.replace("1 3 0.955022 50 0 0 2.0e8 1 0 10 160 0 ",
                            "1, 3,0.955022 , 50;0 0 2.0D8,1 0 10 160 0 ")
        text = text.replace("1.0e24                   #", "\n\n  1.0d24   #")
        text = text.replace("200 0 3.5 0 0 0 0 0 0 0\n20 ", "200 0 3.5 7*0\n20 ")
        text = text.replace("Courant number 0.5 S", "'Courant number' S 0.5")
        data = text.replace("\n", "\r\n").encode()
        ed = Execdata.from_bytes(data)
        assert rejection(data, tmp_path / "restyled") == ""
        assert [ed.value(n) for n in ("pulse.amplitude", "pulse.fwhm", "dots.density",
                                      "layer.2.index", "run.courant")] == [2e8, 50, 1e24, 3.5, 0.5]
        new = ed.with_values({"pulse.amplitude": 4e8, "pulse.fwhm": 20}).to_bytes()
        assert new == data.replace(b" 50;0 0 2.0D8,", b" 20;0 0 4e8,")
        report = rejection(ed.with_texts({"pulse.fwhm": "-3"}).to_bytes(), tmp_path / "b")
        assert "pulse duration must not be negative: -3" in report
        report = rejection(ed.with_values({"run.courant": 1.5}).to_bytes(), tmp_path / "c")
        assert "Courant number must not exceed 1" in report
        with pytest.raises(ExecdataError, match="repeat"):
            ed.with_values({"layer.2.index_end": 2.0})

    @pytest.mark.parametrize("value", [2e8, 1e-29, 0.955022, 3.0000000001e8, -4.5e-12, 123456.5,
                                       1e6, 5e-4, 7.0])
    def test_written_reals_read_back_exactly(self, value):
        assert parse_real(format_value("real", value)) == value


# --------------------------------------------------------------------------
# Values of --set

class TestValues:
    def test_lists_ranges_and_files(self, tmp_path):
        assert parse_values("pulse.amplitude", "1e8, 2e8,4D8", "real").values == [1e8, 2e8, 4e8]
        lin = parse_values("pulse.amplitude", "1e8:5e8:9", "real")
        assert lin.scale == "linear" and len(lin.values) == 9
        assert (lin.values[0], lin.values[4], lin.values[-1]) == (1e8, 3e8, 5e8)
        log = parse_values("dots.density", "log:1e22:1e26:5", "real")
        assert log.scale == "log" and (log.values[0], log.values[-1]) == (1e22, 1e26)
        assert log.values[2] == pytest.approx(1e24, rel=1e-12)
        assert parse_values("layer.3.cells", "10:30:3", "int").values == [10, 20, 30]
        f = tmp_path / "values.txt"
        f.write_text("# cells\n10 12\n14,16  # more\n")
        assert parse_values("layer.3.cells", f"@{f}", "int").values == [10, 12, 14, 16]

    @pytest.mark.parametrize("name,given,kind,message", [
        ("pulse.amplitude", "1e8,abc", "real", "cannot read 'abc'"),
        ("run.Nt", "100:200:4", "int", "takes integers"),
        ("run.Nt", "1000.5", "int", "takes integers"),
        ("pulse.amplitude", "1e8:2e8", "real", "START:STOP:COUNT"),
        ("pulse.amplitude", "log:0:1e8:3", "real", "positive ends"),
        ("pulse.amplitude", "1:2:0", "real", "at least 1"),
        ("pulse.amplitude", "1,1", "real", "repeated"),
        ("pulse.amplitude", "@/nonexistent/values", "real", "cannot read the value file"),
    ])
    def test_bad_values(self, name, given, kind, message):
        with pytest.raises(SweepError, match=re.escape(message)):
            parse_values(name, given, kind)

    def test_product_varies_the_first_slowest_and_zip_pairs(self):
        a = parse_values("pulse.amplitude", "1,2", "real")
        b = parse_values("layer.3.cells", "10,20,30", "int")
        assert [tuple(p.values()) for p in build_points([a, b], zipped=False)] == [
            (1, 10), (1, 20), (1, 30), (2, 10), (2, 20), (2, 30)]
        with pytest.raises(SweepError, match="same number of values"):
            build_points([a, b], zipped=True)
        c = parse_values("run.Nt", "5,6", "int")
        assert [tuple(p.values()) for p in build_points([a, c], zipped=True)] == [(1, 5), (2, 6)]

    def test_values_and_units_of_a_ratio(self):
        from mps1d.sweep import quantity, quantity_label
        rows = [{"energy.transmitted": 1.0, "energy.injected": 4.0},
                {"energy.transmitted": 1.0, "energy.injected": 0.0}, {"energy.injected": 2.0}]
        assert [quantity(r, "energy.transmitted/energy.injected") for r in rows] == \
            [0.25, None, None]
        assert quantity_label("energy.transmitted/energy.injected") == \
            "energy.transmitted / energy.injected [1]"
        assert quantity_label("energy.injected/wall_time_s") == \
            "energy.injected / wall_time_s [J/m^2 / s]"

    def test_the_names_users_import_stay_in_mps1d_sweep(self):
        """The README, scripts/mps1d-sweep and mps1d-tools reach the sweep
        through mps1d.sweep, whichever of its modules holds a name."""
        import mps1d.sweep as sweep_module
        for name in ("run_sweep", "collect", "main", "add_sweep_parser", "sweep_main",
                     "configure_parser", "plan_sweep", "case_states", "status_text",
                     "load_sweep", "parse_set", "check_points"):
            assert callable(getattr(sweep_module, name)), name
        assert issubclass(sweep_module.SweepError, Exception)
        assert sweep_module.MAX_POINTS == 10000 and sweep_module.SWEEP_FILE == "sweep.json"
        assert set(sweep_module.__all__) <= set(vars(sweep_module))


# --------------------------------------------------------------------------
# Sweeps that cannot run fail before anything runs.

class TestBadSweeps:
    @pytest.mark.parametrize("sets,message", [
        (["pulse.amplitud=1e8"], "unknown input name 'pulse.amplitud'; known names: "
                                 "pulse.wavelength, pulse.fwhm"),
        (["pulse.amplitude=1e8,2x8"], "cannot read '2x8' as a number"),
        (["layer.9.cells=20"], "the layer table has 5 rows"),
        (["pulse.polarisation=1,7"], "point 1 (pulse.polarisation=7): the program rejects the "
                                     "input (exit status 1):\nError in pulse polarisation"),
        (["run.courant=0.5,0.9", "layer.2.index=3.5,0.8"],
         "point 3 (run.courant=0.9 layer.2.index=0.8)"),
        # Counted before they are made: nothing grows without bound.
        (["pulse.amplitude=@/dev/zero"], "/dev/zero is not a regular file"),
        (["pulse.amplitude=1e8:2e8:100000000"], "100000000 points, more than the limit of 10000"),
        (["pulse.amplitude=1:3000:3000", "run.Nt=1:3000:3000"],
         "the product of the --set values: 9000000 points"),
        # A width without a number of classes (and no sweep-wide --ensemble).
        (["ensemble.fwhm_meV=1,2"], "--set ensemble.fwhm_meV makes each run's "
                                    "--ensemble=K,FWHM, which needs ensemble.classes as well"),
    ], ids=["unknown-name", "bad-number", "missing-layer-row", "rejected-polarisation",
            "unstable-point", "endless-file", "huge-range", "huge-product", "half-an-ensemble"])
    def test_rejected_with_a_message_and_nothing_written(self, program, tmp_path, sets, message):
        template = short_quickstart(tmp_path / "template")
        args = [template]
        for s in sets:
            args += ["--set", s]
        r = sweep(*args, "--out", tmp_path / "sweep")
        assert r.returncode == 2, r.stdout + r.stderr
        assert message in r.stderr
        assert not (tmp_path / "sweep").exists()

    def test_names_reach_no_shell(self, program, tmp_path):
        """A ';' in a folder name runs nothing; a newline (which would split the
        case listing or a job script line) is refused, as in a Slurm option."""
        template = short_quickstart(tmp_path / "template")
        out = tmp_path / "out;touch PWNED;x"
        r = sweep(template, "--set", "pulse.amplitude=1e8", "--out", out, "--jobs", "1",
                  cwd=tmp_path)
        assert r.returncode == 0, r.stdout + r.stderr
        assert not list(tmp_path.rglob("PWNED"))
        assert (out / "case-0000" / "exit_status").read_text().strip() == "0"
        for args in (["--out", tmp_path / "a\nb"],
                     ["--out", tmp_path / "c", "--engine", "slurm", "--partition", "p\n#SBATCH x"]):
            r = sweep(template, "--set", "pulse.amplitude=1e8", *args)
            assert r.returncode == 2 and "control character" in r.stderr, r.stderr

    def test_template_that_is_not_a_valid_run(self, program, tmp_path):
        template = short_quickstart(tmp_path / "template")
        f = template / "execdata.txt"
        f.write_text(f.read_text().replace("Courant number 0.5", "Courant number 1.5"))
        r = sweep(template, "--set", "pulse.amplitude=1e8", "--out", tmp_path / "sweep")
        assert r.returncode == 2
        assert "cannot be read: the program rejects the input" in r.stderr
        assert "Courant number must not exceed 1" in r.stderr

    def test_a_reader_that_has_gone_ends_the_listing_quietly(self, program):
        read_end, write_end = os.pipe()
        os.close(read_end)  # as `sweep names ... | head` once head has read enough
        r = subprocess.run([str(SWEEP), "names", str(QUICKSTART.parent)], stdout=write_end,
                           stderr=subprocess.PIPE, text=True, env=sweep_env(), timeout=60)
        os.close(write_end)
        assert r.returncode == 141 and r.stderr == ""


# --------------------------------------------------------------------------
# A local sweep with GNU parallel

class TestLocalSweep:
    def test_two_by_two_collect_and_rerun(self, program, parallel, tmp_path):
        template = short_quickstart(tmp_path / "template")
        out = tmp_path / "sweep"
        sets = ["--set", "pulse.amplitude=1e8,4e8", "--set", "layer.3.cells=20:24:2"]
        r = sweep(template, *sets, "--out", out, "--jobs", "2")
        assert r.returncode == 0, r.stdout + r.stderr
        cases = case_folders(out)
        assert [c.name for c in cases] == [f"case-000{k}" for k in range(4)]

        # Each case's file is the template with the two values edited.
        expected = [("1e8", "20"), ("1e8", "24"), ("4e8", "20"), ("4e8", "24")]
        ed = Execdata.read(template / "execdata.txt")
        for case, (amplitude, cells) in zip(cases, expected):
            assert (case / "execdata.txt").read_bytes() == ed.with_texts(
                {"pulse.amplitude": amplitude, "layer.3.cells": cells}).to_bytes()
            assert summary_of(case)["status"] == "complete"

        assert "4 points: 4 done, 0 running, 0 failed, 0 pending" in sweep("status", out).stdout
        meta = json.loads((out / "sweep.json").read_text())
        assert meta["names"] == ["pulse.amplitude", "layer.3.cells"]
        assert meta["engine"] == "local" and meta["template"] == str(template / "execdata.txt")
        assert meta["points"][1]["values"] == {"pulse.amplitude": 1e8, "layer.3.cells": 24}
        assert [r["Exitval"] for r in joblog_rows(out)] == ["0"] * 4

        # The collected table: a row per point, the swept values, the summary flattened.
        c = sweep("collect", out)
        assert c.returncode == 0, c.stderr
        rows = read_csv(out / "sweep.csv")
        assert len(rows) == 4
        for row, case, (amplitude, cells) in zip(rows, cases, expected):
            assert row["folder"] == case.name and row["state"] == "done"
            assert float(row["pulse.amplitude"]) == float(amplitude)
            assert int(row["layer.3.cells"]) == int(cells)
            summary = flat(summary_of(case))
            assert "peak_populations.rho22.value" in summary and "energy.in_grid" in summary
            for key, value in summary.items():
                text = row[key]
                expected_text = "" if value is None else str(value)  # null ("stop") left empty
                assert (float(text) == value) if isinstance(value, float) else \
                    text == expected_text
        # A stronger pulse excites more dots.
        rho22 = [float(r["peak_populations.rho22.value"]) for r in rows]
        assert rho22[2] > rho22[0] and rho22[3] > rho22[1]
        import h5py
        with h5py.File(out / "sweep.h5") as h5:
            assert list(h5["pulse.amplitude"][()]) == [1e8, 1e8, 4e8, 4e8]
            assert list(h5["peak_populations.rho22.value"][()]) == rho22
        png = out / "sweep-peak_populations.rho22.value-vs-pulse.amplitude.png"
        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

        # A rerun runs nothing: the program is only asked to --check the template.
        stamps = [(c / "Results" / "summary.json").stat().st_mtime_ns for c in cases]
        check_only = script(tmp_path / "check-only",
                            f'[ "$1" = --check ] && exec "{program}" "$@"\nexit 1\n')
        again = sweep(template, *sets, "--out", out, env=sweep_env(MPS1D=str(check_only)))
        assert again.returncode == 0, again.stderr
        assert "4 of 4 points complete; nothing to run" in again.stdout
        assert len(joblog_rows(out)) == 4
        assert stamps == [(c / "Results" / "summary.json").stat().st_mtime_ns for c in cases]
        other = sweep(template, "--set", "pulse.amplitude=1e8,5e8", "--out", out)
        assert other.returncode == 2 and "holds another sweep" in other.stderr

    def test_sweep_of_a_python_case(self, program, parallel, tmp_path, monkeypatch):
        """--case MODULE:FUNCTION: each point's file is the Case the function
        returns for it; unknown parameters are refused."""
        (tmp_path / "slab.py").write_text(
            "import sys\nsys.path.insert(0, %r)\n" % str(ROOT / "python") +
            "from mps1d.case import Case, Pulse\n"
            "def case(area=3.14, cells=20):\n"
            "    c = Case(dz='10 nm', block_steps=2000, steps=2000, density=1e20)\n"
            "    c.layer('200 nm').dots(cells=cells, populations=(1, 0, 0, 0)).layer('200 nm')\n"
            "    c.pulse = Pulse('sech', fwhm='10 fs', area=area, polarisation='sigma+', origin=5)\n"
            "    c.monitors = ['dots']\n"
            "    return c\n")
        out = tmp_path / "sweep"
        r = sweep("--case", "slab:case", "--set", "area=3.14159,6.28318", "--set", "cells=2,4",
                  "--out", out, "--jobs", "2", cwd=tmp_path)
        assert r.returncode == 0, r.stdout + r.stderr
        monkeypatch.syspath_prepend(str(tmp_path))
        import slab
        points = [(3.14159, 2), (3.14159, 4), (6.28318, 2), (6.28318, 4)]
        for case, (area, cells) in zip(case_folders(out), points, strict=True):
            text = slab.case(area=area, cells=cells).execdata_text()
            assert (case / "execdata.txt").read_text() == text
            assert summary_of(case)["status"] == "complete"
        meta = json.loads((out / "sweep.json").read_text())
        assert meta["template"] == "slab:case" and meta["names"] == ["area", "cells"]
        bad = sweep("--case", "slab:case", "--set", "amplitude=1e8", "--out", tmp_path / "b",
                    cwd=tmp_path)
        assert bad.returncode == 2 and "has no parameter 'amplitude'" in bad.stderr

    def test_failed_case_is_recorded_and_rerun_alone(self, program, parallel, tmp_path):
        template = short_quickstart(tmp_path / "template")
        # Fails the run (not the input check, which has no result folders) at amplitude 4e8.
        failing = script(tmp_path / "failing-mps1d",
                         "if [ -d Results ] && grep -q ' 4e8 ' execdata.txt; then\n"
                         "  echo 'injected failure' >&2; exit 4\nfi\n"
                         f'exec {program} "$@"\n')
        out = tmp_path / "sweep"
        args = [template, "--set", "pulse.amplitude=1e8,2e8,4e8", "--out", out]
        r = sweep(*args, "--threads-per-run", "2", env=sweep_env(MPS1D=str(failing)))
        assert r.returncode == 1, r.stdout + r.stderr
        assert "threads=2" in (out / "case-0000" / "started").read_text()
        assert "1 of 3 cases failed" in r.stdout
        log = {Path(row["Command"].split()[-1]).name: row["Exitval"] for row in joblog_rows(out)}
        assert log == {"case-0000": "0", "case-0001": "0", "case-0002": "4"}
        states = {c["folder"]: (c["state"], c["exit_status"])
                  for c in json.loads(sweep("status", out, "--json").stdout)["cases"]}
        assert states == {"case-0000": ("done", 0), "case-0001": ("done", 0),
                          "case-0002": ("failed", 4)}
        assert "injected failure" in (out / "case-0002" / "mps1d.err").read_text()

        r = sweep(*args)
        assert r.returncode == 0, r.stdout + r.stderr
        assert "2 points complete; running the other 1" in r.stdout
        assert [Path(row["Command"].split()[-1]).name for row in joblog_rows(out)][3:] == \
            ["case-0002"]
        assert "3 points: 3 done" in sweep("status", out).stdout

    def test_source_reaches_every_run_and_a_ratio_is_drawn(self, program, parallel, tmp_path):
        template = short_quickstart(tmp_path / "template")
        out = tmp_path / "sweep"
        args = [template, "--set", "pulse.amplitude=1e8,4e8", "--out", out]
        r = sweep(*args, "--source", "transparent")
        assert r.returncode == 0, r.stdout + r.stderr
        # The source belongs to the sweep: a rerun without it is another sweep.
        assert "holds another sweep" in sweep(*args).stderr
        c = sweep("collect", out, "--plot", "energy.transmitted/energy.injected")
        assert c.returncode == 0, c.stderr
        assert (out / "sweep-energy.transmitted-over-energy.injected-vs-pulse.amplitude.png"
                ).is_file()
        assert [row["source"] for row in read_csv(out / "sweep.csv")] == ["transparent"] * 2
        bad = sweep("collect", out, "--plot", "energy.transmitted/energy.nothing")
        assert bad.returncode == 2 and "(energy.nothing): not a numeric summary" in bad.stderr

    def test_ensemble_width_is_each_runs_option(self, program, parallel, tmp_path):
        """ensemble.fwhm_meV is no value of the file: each point runs with its
        own --ensemble, the classes from the sweep's --ensemble."""
        template = short_quickstart(tmp_path / "template")
        out = tmp_path / "sweep"
        r = sweep(template, "--set", "ensemble.fwhm_meV=1.5,3", "--ensemble", "4,1",
                  "--out", out, "--jobs", "2")
        assert r.returncode == 0, r.stdout + r.stderr
        for case, fwhm in zip(case_folders(out), (1.5, 3), strict=True):
            assert (case / "execdata.txt").read_bytes() == \
                (template / "execdata.txt").read_bytes()
            ensemble = summary_of(case)["inputs"]["ensemble"]
            assert (ensemble["classes"], ensemble["fwhm_meV"]) == (4, fwhm)
        assert sweep("collect", out, "--no-plot").returncode == 0
        assert [float(row["ensemble.fwhm_meV"]) for row in read_csv(out / "sweep.csv")] == \
            [1.5, 3]

    def test_status_through_a_tools_parser(self, tmp_path, capsys):
        """`sweep` plugs into an argparse parser whose subcommands carry their
        function as args.action (as mps1d-tools does)."""
        import argparse
        from mps1d.sweep import add_sweep_parser
        out = tmp_path / "sweep"
        out.mkdir()
        (out / "sweep.json").write_text(json.dumps({"names": ["run.Nt"], "runs": [], "points": [
            {"point": 0, "folder": "case-0000", "values": {"run.Nt": 10}, "texts": {}}]}))
        parser = argparse.ArgumentParser(prog="mps1d-tools")
        add_sweep_parser(parser.add_subparsers(dest="command", required=True))
        args = parser.parse_args(["sweep", "status", str(out), "--json"])
        assert args.action(args) == 0
        assert json.loads(capsys.readouterr().out)["counts"]["pending"] == 1
        args = parser.parse_args(["sweep", "collect", str(out), "--set", "run.Nt=1"])
        assert args.action(args) == 2
        assert "sweep collect takes no --set" in capsys.readouterr().err

    def test_continued_run_as_template(self, program, parallel, tmp_path):
        """Each case of a template that continues an earlier run gets the
        continuation snapshot and starts from its step."""
        template = short_quickstart(tmp_path / "template")
        run_program(template, (template / "execdata.txt").read_text())
        results = template / "Results"
        for f in [*results.glob("*_z000000004000.dat.gz"), *results.glob("*_z000000003999.dat.gz"),
                  results / "gamma.dat.gz"]:
            shutil.copy(f, template / "Continue")
        f = template / "execdata.txt"
        f.write_text(f.read_text().replace("J_final 0", "J_final 4000")
                     .replace("steps 3999", "steps 7999"))
        out = tmp_path / "sweep"
        r = sweep(template, "--set", "dephasing.scale=1,2", "--out", out)
        assert r.returncode == 0, r.stdout + r.stderr
        for case in case_folders(out):
            console = (case / "mps1d.out").read_text()
            assert re.search(r"Loop from ->\s+4000 ", console) and \
                not re.search(r"Loop from ->\s+0 ", console)
            assert len(list((case / "Continue").iterdir())) == 39


# --------------------------------------------------------------------------
# A Slurm job array on a single-node cluster on localhost

def wait_for(out: Path, env, timeout: float):
    deadline = time.monotonic() + timeout
    while True:
        counts = json.loads(sweep("status", out, "--json", env=env).stdout)["counts"]
        if counts["done"] + counts["failed"] == sum(counts.values()):
            return counts
        if time.monotonic() > deadline:
            squeue = subprocess.run(["squeue"], capture_output=True, text=True, env=env)
            pytest.fail(f"the job array did not end within {timeout} s: {counts}\n"
                        f"{squeue.stdout}{squeue.stderr}")
        time.sleep(1)


def test_slurm_job_array_matches_the_local_engine(program, parallel, tmp_path, capsys):
    start = subprocess.run([str(CLUSTER), "start"], capture_output=True, text=True, timeout=900)
    if start.returncode == 77:
        reason = "no Slurm test cluster on this machine: " + start.stderr.strip()
        with capsys.disabled():
            print("\nSKIP " + reason)
        pytest.skip(reason)
    assert start.returncode == 0, start.stdout + start.stderr
    info = dict(line.split("=", 1) for line in start.stdout.split() if "=" in line)
    cluster = Path(info["SLURM_TEST_DIR"])
    pids = {name: int((cluster / f).read_text()) for name, f in (
        ("slurmd", "slurmd.pid"), ("slurmctld", "slurmctld.pid"), ("munged", "munge/munged.pid"))}
    try:
        env = sweep_env(SLURM_CONF=info["SLURM_CONF"])
        template = short_quickstart(tmp_path / "template")
        sets = ["--set", "pulse.amplitude=1e8,2e8,4e8"]
        slurm = tmp_path / "slurm"
        r = sweep(template, *sets, "--out", slurm, "--engine", "slurm", "--jobs", "2",
                  "--partition", "debug", "--time", "00:05:00", env=env)
        assert r.returncode == 0, r.stdout + r.stderr
        assert "submitted job array" in r.stdout
        job = (slurm / "slurm-job-1.sh").read_text()
        for line in ("--array=0-2%2", "--cpus-per-task=1", "--partition=debug",
                     "--time=00:05:00"):
            assert f"#SBATCH {line}" in job

        assert wait_for(slurm, env, 180) == {"done": 3, "running": 0, "failed": 0, "pending": 0}
        for case in case_folders(slurm):
            assert (case / "exit_status").read_text().strip() == "0"
            assert re.search(r"slurm_job=\d+_\d", (case / "started").read_text())
        assert len(list((slurm / "slurm").glob("*_*.out"))) == 3

        again = sweep(template, *sets, "--out", slurm, "--engine", "slurm", env=env)
        assert "nothing to run" in again.stdout
        assert not (slurm / "slurm-job-2.sh").exists()

        local = sweep(template, *sets, "--out", tmp_path / "local", env=env)
        assert local.returncode == 0, local.stdout + local.stderr
        rows = {}
        for folder in ("slurm", "local"):
            c = sweep("collect", tmp_path / folder, "--no-plot", env=env)
            assert c.returncode == 0, c.stderr
            rows[folder] = read_csv(tmp_path / folder / "sweep.csv")
            for row in rows[folder]:
                del row["wall_time_s"]
        assert len(rows["slurm"]) == 3 and "peak_populations.rho22.value" in rows["slurm"][0]
        differ = [{k: (a.get(k), b.get(k)) for k in a.keys() | b.keys() if a.get(k) != b.get(k)}
                  for a, b in zip(rows["slurm"], rows["local"])]
        assert rows["slurm"] == rows["local"], differ
    finally:
        stop = subprocess.run([str(CLUSTER), "stop", str(cluster)], capture_output=True,
                              text=True, timeout=120)
        assert stop.returncode == 0, stop.stderr
    for name, pid in pids.items():
        comm = Path(f"/proc/{pid}/comm")
        assert not comm.exists() or comm.read_text().strip() != name, f"{name} still runs"
    shutil.rmtree(cluster, ignore_errors=True)
