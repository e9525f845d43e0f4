"""Parameter sweeps of mps1d: one run per point of a grid of input values,
run locally with GNU parallel or on a cluster as one Slurm job array, then
collected into one table.

Usage (`mps1d-tools sweep ...`; until it is wired in, `scripts/mps1d-sweep ...`
takes the same arguments):

    mps1d-tools sweep TEMPLATE_RUN_FOLDER --set NAME=VALUES [--set ...] --out SWEEP_FOLDER
                      [--engine local|slurm] [--jobs N] [--threads-per-run T] [--zip]
                      [--partition P] [--time T] [--account A] [--source hard|transparent]
                      [--output text|hdf5] [--both-transitions] [--ensemble K,FWHM]
    mps1d-tools sweep status SWEEP_FOLDER [--wait SECONDS] [--json]
    mps1d-tools sweep collect SWEEP_FOLDER [--plot Y] [--x NAME] [--no-plot]
    mps1d-tools sweep names [TEMPLATE_RUN_FOLDER]
    mps1d-tools sweep --case FILE.py:FUNCTION --set PARAMETER=VALUES [--set ...]
                      --out SWEEP_FOLDER [options as above]

--source hard|transparent, --output text|hdf5, --both-transitions and
--ensemble K,FWHM (K spectral classes of the dots over a Gaussian of full
width FWHM meV) are given to every run of the sweep (and to the checks
before it) as the program's options of those names; they belong to the
sweep like its values, so a rerun in the same folder repeats them.

Two names are not in the file but make each point's --ensemble=K,FWHM:
ensemble.classes (K, 1 to 256) and ensemble.fwhm_meV (FWHM [meV]), with a
template folder as with --case (where they are options of the run, not
parameters of the function).  One of them swept alone takes the other from
the sweep's --ensemble K,FWHM (without it the sweep is refused); a swept
name takes the place of its part of the sweep's --ensemble, so with both
swept that one is left unused.  The input checks and the trial step below
take each point's options.

    mps1d-tools sweep runs/echo --set ensemble.fwhm_meV=1,2,4 --ensemble 16,1 --out sweeps/width

TEMPLATE_RUN_FOLDER holds the "execdata.txt" of a run that works (or name
the file itself).  NAME is one of the named inputs of that file (in the
units the file uses; `sweep names` lists them with the template's values):

    pulse.amplitude [V/m], pulse.fwhm and pulse.delay (in the unit codes of
    the pulse line), pulse.wavelength [um], pulse.polarisation, pulse.shape,
    pulse.origin, pulse.noise, dots.density [m^-3], times.scale (scale of the
    population and spin-flip times), dephasing.scale, boundary.left.reflection,
    boundary.right.reflection, run.courant, run.LL, run.Nt,
    run.iteration_limit, run.tolerance, structure.dz [m], layer.J.cells,
    layer.J.index, layer.J.index_end (J: 1-based row of the layer table).

VALUES is a list `1e8,2e8,4e8`, a linear range `1e8:5e8:9` (9 points from
1e8 to 5e8), a logarithmic range `log:1e8:1e10:5`, or `@FILE` (values
separated by blanks, commas or lines; `#` starts a comment).  Several --set
make the Cartesian product of their values (the first --set varies slowest);
with --zip they are paired instead (equal lengths).

What a sweep writes into SWEEP_FOLDER:

    sweep.json            the template, the named inputs and their values,
                          one entry per point with its folder, the engine
                          and every run or submission
    template.execdata.txt a copy of the template
    case-0000/ ...        one folder per point: its execdata.txt (the
                          template with only the named values changed, at
                          their place in their line, everything else byte
                          for byte), case.json, the three result folders the
                          file names, program_options.txt (the program's
                          options of the run, one a line), mps1d.out /
                          mps1d.err (console), `started` and `exit_status`
                          (written by the runner)
    run_case.sh           the runner of one case (both engines use it)
    joblog.txt            GNU parallel's job log (local engine; local-cases.txt
                          lists the cases of the latest local run)
    slurm-job-N.sh, slurm-cases-N.txt, slurm/   submission N (Slurm engine)
    sweep.csv, sweep.h5, sweep-Y-vs-X.png       written by `collect`

Before anything runs, the sweep is checked: unknown names (the known ones
are listed), values that do not parse or do not fit the name (integers),
a template the walk over the file cannot follow, and the program's own
input check of the template and of every point's file (the program reads
and checks the whole input before it looks at its folders; each point is
checked in a scratch folder whose result folders are missing, so an
accepted input ends with the missing-folder report and nothing runs), and
one step of the template run (run.Nt 0, run.LL 1) that must exit 0 (one
for each distinct set of the points' program options).

A point is complete when the summary.json of its results folder says
`"status": "complete"`; a rerun of the same sweep runs only the others
(a failed point again, from empty result folders) and leaves points that
are still queued or running alone.

Engines:
  local (default)  GNU parallel (Debian package `parallel`) runs the cases,
                   N at a time (--jobs, default: cores / T), each with
                   OMP_NUM_THREADS=T (--threads-per-run, default 1), with a
                   progress bar on a terminal (elsewhere a line per finished
                   case) and the job log SWEEP_FOLDER/joblog.txt.  A
                   failed case is recorded (its exit status in the job log
                   and in `sweep status`), the other cases go on; the command
                   then exits 1.
  slurm            writes SWEEP_FOLDER/slurm-job-N.sh and submits it as one
                   job array, one task per point to run:
                   sbatch --array=0-K%N --cpus-per-task=T [--partition P]
                   [--time T] [--account A].  The sweep folder must be on a
                   file system the compute nodes share.

On a cluster (the sweep folder on a shared file system):

    mps1d-tools sweep runs/cavity --set pulse.amplitude=log:1e8:1e10:9 --set pulse.fwhm=50,100 \\
        --out sweeps/amplitude --engine slurm --jobs 16 --threads-per-run 2 --partition normal --time 02:00:00
    mps1d-tools sweep status sweeps/amplitude     # done / running / failed / pending per point

and when it is done, `mps1d-tools sweep collect sweeps/amplitude --plot
energy.transmitted --x pulse.amplitude` writes sweep.csv, sweep.h5 and the
figure.  `collect` makes one row per point: the point's index and folder,
a column per swept name, its state and exit status, and a column per
scalar value of its summary.json (nested objects flattened with dots:
`energy.transmitted`, `peak_populations.rho22.value`, ...; "inputs" left
out).  --plot A/B draws the ratio of two summary values
(energy.transmitted/energy.injected).  Without --plot it draws
peak_populations.rho22.value (or the first summary value) against the
first swept name, one line per value of the other swept names.

Sweeping a Python case: --case FILE.py:FUNCTION (or MODULE:FUNCTION, a
module on the Python path) names a function that returns an mps1d.Case;
each --set names one of its keyword parameters, in the units the function
takes, and each point's execdata.txt is the Case the function returns for
that point (written as Case.write writes it).  The function called with its
defaults is the template (checked and tried for one step).  A parameter
whose default is an integer takes integers.  `sweep names --case
FILE.py:FUNCTION` lists the parameters.  Everything else (engines, status, collect) is as
above.  From Python, give the function itself:

    from mps1d.sweep import run_sweep
    def case(area=3.14, fwhm_fs=100.0): ...        # returns a Case
    run_sweep(None, ["area=1:10:10"], "sweeps/area", case=case, jobs=2)

The program run is $MPS1D when set, else build/mps1d of this repository,
else `mps1d` on the PATH.
"""
from __future__ import annotations

import argparse
import csv
import datetime
import hashlib
import io
import itertools
import json
import math
import os
import re
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

from mps1d import fileio, files
from mps1d import program as program_module
from mps1d.execdata import (Execdata, ExecdataError, check_value,
                            kind_of, known_names_text, parse_real)

SWEEP_FILE = "sweep.json"
CASE_FILE = "case.json"
OPTIONS_FILE = "program_options.txt"  # the program's options of a case, one a line
TEMPLATE_COPY = "template.execdata.txt"
RUNNER = "run_case.sh"
JOBLOG = "joblog.txt"
EXIT_FILE = "exit_status"
STARTED_FILE = "started"
SUMMARY_FILE = files.NAMES["summary"]
CONSOLE_OUT, CONSOLE_ERR = "mps1d.out", "mps1d.err"
STATES = ("done", "running", "failed", "pending")
MAX_POINTS = 10000          # points of a sweep, unless --max-points raises it
MAX_VALUE_FILE = 1 << 20    # bytes of a value file (@FILE)
QUEUED = "in the Slurm queue"
DEFAULT_Y = "peak_populations.rho22.value"


class SweepError(Exception):
    """A sweep that cannot be run as asked; the message says why."""


# Names a sweep sets on the program's command line of each run instead of
# in its input file: name -> (kind, description).  Together they make the
# point's --ensemble=K,FWHM.
OPTION_NAMES = {
    "ensemble.classes": ("int", "spectral classes per dot cell, 1 to 256 (K of the "
                                "program's --ensemble=K,FWHM)"),
    "ensemble.fwhm_meV": ("real", "full width of the Gaussian of the spectral classes (FWHM "
                                  "of the program's --ensemble=K,FWHM) [meV]"),
}
ENSEMBLE = "--ensemble="


def file_values(point: dict) -> dict:
    """The values of a point that go into its input file (or to its case
    function): all but the program's options."""
    return {n: v for n, v in point.items() if n not in OPTION_NAMES}


# --------------------------------------------------------------------------
# Values

@dataclass
class Axis:
    name: str
    kind: str
    values: list
    scale: str  # "list", "linear" or "log"
    given: str


def _number(name: str, text: str) -> float:
    try:
        return parse_real(text)
    except ValueError:
        raise SweepError(f"--set {name}: cannot read {text!r} as a number") from None


def _value_file(name: str, path: Path) -> str:
    """The text of a value file: a regular file of at most MAX_VALUE_FILE bytes."""
    try:
        data = fileio.read_bytes(path, MAX_VALUE_FILE)
    except fileio.FileError as e:
        raise SweepError(f"--set {name}: cannot read the value file {e}") from None
    return data.decode("utf-8", errors="replace")


def parse_values(name: str, given: str, kind: str, max_points: int = MAX_POINTS) -> Axis:
    """The values of one --set NAME=VALUES, checked against the name's kind;
    at most `max_points` of them, counted before they are made."""
    given = given.strip()
    if not given:
        raise SweepError(f"--set {name}: no values")
    scale = "list"
    if given.startswith("@"):
        path = Path(given[1:])
        text = _value_file(name, path)
        words = [w for line in text.splitlines() for w in re.split(r"[\s,;]+", line.split("#")[0])
                 if w]
        if not words:
            raise SweepError(f"--set {name}: the value file {path} holds no values")
        _check_count(f"--set {name}={given}", len(words), max_points)
        raw = [_number(name, w) for w in words]
    elif ":" in given:
        parts = given.split(":")
        if parts[0].lower() in ("log", "lin"):
            scale = "log" if parts[0].lower() == "log" else "linear"
            parts = parts[1:]
        else:
            scale = "linear"
        if len(parts) != 3:
            raise SweepError(f"--set {name}={given}: a range is START:STOP:COUNT or "
                             "log:START:STOP:COUNT")
        start, stop = _number(name, parts[0]), _number(name, parts[1])
        try:
            count = int(parts[2])
        except ValueError:
            raise SweepError(f"--set {name}={given}: the point count {parts[2]!r} is not an "
                             "integer") from None
        if count < 1:
            raise SweepError(f"--set {name}={given}: the point count must be at least 1")
        _check_count(f"--set {name}={given}", count, max_points)
        if count == 1 and start != stop:
            raise SweepError(f"--set {name}={given}: one point cannot span {parts[0]}..{parts[1]}")
        if scale == "log":
            if not (start > 0 and stop > 0):
                raise SweepError(f"--set {name}={given}: a logarithmic range needs positive ends")
            a, b = math.log10(start), math.log10(stop)
            raw = [start] + [10 ** (a + (b - a) * k / (count - 1)) for k in range(1, count - 1)] + \
                  ([stop] if count > 1 else [])
        else:
            raw = [start] + [start + (stop - start) * k / (count - 1)
                             for k in range(1, count - 1)] + ([stop] if count > 1 else [])
    else:
        raw = [_number(name, w) for w in re.split(r"\s*,\s*", given) if w != ""]
    values = []
    for v in raw:
        try:
            values.append(check_value(name, kind, v))
        except ExecdataError as e:
            raise SweepError(f"--set {name}={given}: {e}") from None
    if len(set(values)) != len(values):
        raise SweepError(f"--set {name}={given}: a value is repeated ({values})")
    return Axis(name, kind, values, scale, given)


def _check_count(what: str, count: int, max_points: int) -> None:
    if count > max_points:
        raise SweepError(f"{what}: {count} points, more than the limit of {max_points} "
                         "(raise it with --max-points)")


def parse_set(arg: str, template: Execdata, max_points: int = MAX_POINTS) -> Axis:
    if "=" not in arg:
        raise SweepError(f"--set {arg!r}: write NAME=VALUES")
    name, given = arg.split("=", 1)
    name = name.strip()
    if name in OPTION_NAMES:
        return parse_option_values(name, given, max_points)
    try:
        kind_of(name)
    except ExecdataError as e:
        raise SweepError(f"{e}; and the program's options {', '.join(OPTION_NAMES)}") from None
    try:
        template.place(name)
    except ExecdataError as e:
        raise SweepError(str(e)) from None
    return parse_values(name, given, template.place(name).kind, max_points)


def parse_option_values(name: str, given: str, max_points: int = MAX_POINTS) -> Axis:
    """The values of --set ensemble.classes or ensemble.fwhm_meV, each one
    the program takes."""
    axis = parse_values(name, given, OPTION_NAMES[name][0], max_points)
    for v in axis.values:
        try:
            if name == "ensemble.classes":
                program_module.ensemble_option(v, 1.0)
            else:
                program_module.ensemble_option(1, v)
        except ValueError as e:
            raise SweepError(f"--set {name}={given}: {e}") from None
    return axis


def _sweep_ensemble(options) -> tuple[int, float] | None:
    """(K, FWHM) of the sweep's own --ensemble=K,FWHM among the program's
    options, or None."""
    for o in options:
        if o.startswith(ENSEMBLE):
            k, _, fwhm = o[len(ENSEMBLE):].partition(",")
            try:
                return int(k), float(fwhm)
            except ValueError:
                raise SweepError(f"the program option {o!r}: write --ensemble=K,FWHM") from None
    return None


def run_options(names: list[str], points: list[dict], options) -> list[list[str]]:
    """The program's options of each point: the sweep's, whose --ensemble is
    made of the point's ensemble.classes and ensemble.fwhm_meV where they are
    swept (a swept one wins over the sweep's --ensemble K,FWHM, which gives
    the other)."""
    options = list(options)
    swept = [n for n in OPTION_NAMES if n in names]
    if not swept:
        return [options for _ in points]
    given = _sweep_ensemble(options)
    if given is None and len(swept) == 1:
        other = next(n for n in OPTION_NAMES if n not in swept)
        raise SweepError(f"--set {swept[0]} makes each run's --ensemble=K,FWHM, which needs "
                         f"{other} as well: sweep it too (--set {other}=VALUES) or give the "
                         "sweep's --ensemble K,FWHM")
    out = []
    for point in points:
        classes = point.get("ensemble.classes", given[0] if given else None)
        fwhm = point.get("ensemble.fwhm_meV", given[1] if given else None)
        try:
            option = program_module.ensemble_option(classes, fwhm)
        except ValueError as e:
            raise SweepError(f"{_describe(point)}: {e}") from None
        mine = [option if o.startswith(ENSEMBLE) else o for o in options]
        out.append(mine if given else mine + [option])
    return out


def build_points(axes: list[Axis], zipped: bool, max_points: int = MAX_POINTS) -> list[dict]:
    """The points of the sweep, counted before they are made."""
    if not zipped:
        _check_count("the product of the --set values", math.prod(len(a.values) for a in axes),
                     max_points)
    if zipped:
        lengths = {a.name: len(a.values) for a in axes}
        if len(set(lengths.values())) > 1:
            raise SweepError("--zip needs the same number of values for every --set: " +
                             ", ".join(f"{k} {v}" for k, v in lengths.items()))
        combos = list(zip(*(a.values for a in axes))) if axes else [()]
    else:
        combos = list(itertools.product(*(a.values for a in axes)))
    return [dict(zip([a.name for a in axes], combo)) for combo in combos]


# --------------------------------------------------------------------------
# The program

def find_program() -> str:
    try:
        return program_module.find_program()
    except program_module.ProgramError as e:
        raise SweepError(str(e)) from None


_report = program_module.report_text


def _run_program(program: str, folder: Path, timeout: float,
                 options=()) -> subprocess.CompletedProcess:
    try:
        return subprocess.run([program, *options], cwd=folder, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace", timeout=timeout)
    except subprocess.TimeoutExpired:
        raise SweepError(f"the input check of {folder} did not end within {timeout:.0f} s") from None
    except OSError as e:
        raise SweepError(f"cannot start {program}: {e.strerror}") from None


def check_input(program: str, text: Execdata, label: str, options=()) -> str | None:
    """None when the program's input check (--check) accepts the input,
    else its report."""
    try:
        program_module.check_text(text.to_bytes(), program, options)
    except program_module.RejectedInput as e:
        return f"{label}: {e}"
    except program_module.ProgramError as e:
        raise SweepError(str(e)) from None
    return None


def trial_step(program: str, template: Execdata, options=()) -> None:
    """One step of the template run (run.Nt 0, run.LL 1, a new run) in a
    scratch folder; it must exit 0."""
    edited = template.with_texts({"run.Nt": "0", "run.LL": "1", "run.J_final": "0"})
    with tempfile.TemporaryDirectory(prefix="mps1d-trial-") as tmp:
        folder = Path(tmp)
        edited.write(folder / "execdata.txt")
        for d in result_folders(folder, template):
            d.mkdir(parents=True, exist_ok=True)
        r = _run_program(program, folder, 300, options)
    if r.returncode != 0:
        given = f" with {shlex.join(options)}" if options else ""
        raise SweepError(f"one step of the template run (run.Nt 0, run.LL 1){given} ends with "
                         f"exit status {r.returncode}:\n" + _report(r.stdout, r.stderr))


def check_points(program: str, template: Execdata, cases: list[tuple], options=()) -> None:
    """The program's input check of the template (with `options`) and of
    every distinct case, then one step of the template with each distinct
    set of the cases' options; SweepError names every rejected point.
    A case is (label, file) run with `options`, or (label, file, its own
    options)."""
    problem = check_input(program, template, "the template", options)
    if problem:
        raise SweepError(problem)
    distinct: dict[tuple, tuple[str, Execdata, tuple]] = {}
    for label, ed, *own in cases:
        opts = tuple(own[0]) if own else tuple(options)
        distinct.setdefault((ed.to_bytes(), opts), (label, ed, opts))
    todo = list(distinct.values())
    workers = max(1, min(len(todo), os.cpu_count() or 1))
    with ThreadPoolExecutor(workers) as pool:
        problems = [p for p in pool.map(lambda c: check_input(program, c[1], c[0], c[2]),
                                        todo) if p]
    if problems:
        more = f"\n(and {len(problems) - 5} more)" if len(problems) > 5 else ""
        raise SweepError(f"{len(problems)} of {len(todo)} points are rejected by the program's "
                         "input check; nothing was run:\n" + "\n".join(problems[:5]) + more)
    trials = list(dict.fromkeys(c[2] for c in todo)) or [tuple(options)]
    with ThreadPoolExecutor(max(1, min(len(trials), os.cpu_count() or 1))) as pool:
        list(pool.map(lambda opts: trial_step(program, template, list(opts)), trials))


# --------------------------------------------------------------------------
# Case folders

def result_folders(case_dir: Path, ed: Execdata) -> list[Path]:
    """The three result folders of a case, each inside the case folder."""
    out = []
    for name in ed.folders():
        if os.path.isabs(name):
            raise SweepError(f"the template names the absolute folder {name!r}: every point "
                             "would write into it; give the result folders relative names")
        path = (case_dir / name).resolve()
        if path == case_dir.resolve() or case_dir.resolve() not in path.parents:
            raise SweepError(f"the template's folder {name!r} is not inside the run folder; "
                             "give the result folders names inside it")
        out.append(path)
    return out


def _read_json(path: Path):
    try:
        return json.loads(fileio.read_text(path, errors="strict"))
    except (OSError, ValueError):
        return None


def read_summary(case_dir: Path) -> dict | None:
    try:
        ed = Execdata.read(case_dir / "execdata.txt")
        results = result_folders(case_dir, ed)[0]
    except (OSError, ValueError, SweepError):
        return None
    data = _read_json(results / SUMMARY_FILE)
    return data if isinstance(data, dict) else None


def is_complete(case_dir: Path) -> bool:
    s = read_summary(case_dir)
    return bool(s) and s.get("status") == "complete"


def _write_json(path: Path, data) -> None:
    fileio.write_text(path, json.dumps(data, indent=1) + "\n")


@dataclass
class Plan:
    template_path: Path
    template: Execdata
    axes: list[Axis]
    zipped: bool
    points: list[dict]
    cases: list[Execdata] = field(default_factory=list)
    folders: list[str] = field(default_factory=list)
    case_function: str | None = None   # "FILE.py:FUNCTION" of a sweep of a Python case
    options: list[str] = field(default_factory=list)  # the program's options for every run
    # The program's options of each point: `options`, with --ensemble made
    # of the point's ensemble.classes and ensemble.fwhm_meV where swept.
    case_options: list[list[str]] = field(default_factory=list)

    @property
    def source(self) -> str:
        return self.case_function or str(self.template_path)

    def texts(self, k: int) -> dict:
        """The values of point k as they stand in its file (as given to the
        case function for a Python case)."""
        if self.case_function:
            return {n: repr(v) for n, v in self.points[k].items()}
        return {n: repr(v) if n in OPTION_NAMES else self.cases[k].token(n)
                for n, v in self.points[k].items()}

    def identity(self) -> dict:
        out = {"template_sha256": hashlib.sha256(self.template.to_bytes()).hexdigest(),
               "names": [a.name for a in self.axes],
               "mode": "zip" if self.zipped else "product",
               "values": [[p[a.name] for a in self.axes] for p in self.points]}
        if self.case_function:
            # The function may change between two runs of a sweep: its files
            # are the sweep.
            files_hash = hashlib.sha256(b"".join(c.to_bytes() + b"\0" for c in self.cases))
            out.update(case=self.case_function, cases_sha256=files_hash.hexdigest())
        if self.options:
            out["options"] = self.options
        return out


def template_file(path: str | Path) -> Path:
    path = Path(path)
    f = path / "execdata.txt" if path.is_dir() else path
    if not f.is_file():
        raise SweepError(f"{path}: no execdata.txt there (give the run folder of the template)")
    return f.resolve()


def load_case_function(target):
    """(function, its name) of --case FILE.py:FUNCTION or MODULE:FUNCTION, or
    of a function given as it is."""
    if callable(target):
        module, name = getattr(target, "__module__", "?"), getattr(target, "__qualname__", "?")
        return target, f"{module}:{name}"
    import importlib
    import runpy
    where, sep, name = str(target).rpartition(":")
    if not sep or not where or not name:
        raise SweepError(f"--case {target!r}: write FILE.py:FUNCTION or MODULE:FUNCTION")
    try:
        if where.endswith(".py"):
            path = Path(where).resolve()
            if not path.is_file():
                raise SweepError(f"--case {target!r}: no file {where}")
            namespace = runpy.run_path(str(path), run_name=f"mps1d_case_{path.stem}")
            label = f"{path}:{name}"
        else:
            if "" not in sys.path and os.getcwd() not in sys.path:
                sys.path.insert(0, os.getcwd())
            namespace = vars(importlib.import_module(where))
            label = f"{where}:{name}"
    except SweepError:
        raise
    except Exception as e:  # the user's module: any failure is its message
        raise SweepError(f"--case {target!r}: cannot load it: {type(e).__name__}: {e}") from None
    function = namespace.get(name)
    if not callable(function):
        raise SweepError(f"--case {target!r}: {where} has no function {name!r}")
    return function, label


def case_parameters(function) -> dict:
    """{name: kind} of the keyword parameters of a case function."""
    import inspect
    out = {}
    for p in inspect.signature(function).parameters.values():
        if p.kind in (p.POSITIONAL_OR_KEYWORD, p.KEYWORD_ONLY):
            d = p.default
            out[p.name] = "int" if isinstance(d, int) and not isinstance(d, bool) else "real"
    return out


def _case_text(function, label: str, point: dict) -> Execdata:
    """The file of the Case function(**point), read by the program."""
    where = _describe(point, {n: repr(v) for n, v in point.items()})
    try:
        case = function(**point)
    except Exception as e:  # the user's function: any failure is its message
        raise SweepError(f"{label} at {where}: {type(e).__name__}: {e}") from None
    if not hasattr(case, "execdata_text"):
        raise SweepError(f"{label} returns {type(case).__name__}, not an mps1d Case")
    try:
        return Execdata(case.execdata_text())
    except (ExecdataError, ValueError) as e:  # CaseError is a ValueError
        raise SweepError(f"{label} at {where}: {e}") from None


def plan_case_sweep(case, sets: list[str], zipped: bool, max_points: int = MAX_POINTS) -> Plan:
    """The plan of a sweep of a Python case function (see --case)."""
    function, label = load_case_function(case)
    kinds = case_parameters(function)
    axes = []
    for arg in sets:
        if "=" not in arg:
            raise SweepError(f"--set {arg!r}: write NAME=VALUES")
        name, given = (t.strip() for t in arg.split("=", 1))
        if name in OPTION_NAMES:
            axes.append(parse_option_values(name, given, max_points))
            continue
        if name not in kinds:
            raise SweepError(f"--set {name}: {label} has no parameter {name!r} (it has "
                             f"{', '.join(kinds) or 'none'}; and the program's options "
                             f"{', '.join(OPTION_NAMES)})")
        axes.append(parse_values(name, given, kinds[name], max_points))
    names = [a.name for a in axes]
    for n in set(names):
        if names.count(n) > 1:
            raise SweepError(f"--set {n} is given {names.count(n)} times")
    points = build_points(axes, zipped, max_points)
    template = _case_text(function, label, {})
    plan = Plan(Path(label), template, axes, zipped, points, case_function=label)
    width = max(4, len(str(len(points) - 1)))
    for i, point in enumerate(points):
        ed = _case_text(function, label, file_values(point))
        if ed.value("run.J_final") != 0:
            raise SweepError(f"{label}: a case function makes new runs (its case continues "
                             "from a stored step)")
        plan.cases.append(ed)
        plan.folders.append(f"case-{i:0{width}d}")
    result_folders(Path(tempfile.gettempdir()) / "case", template)
    return plan


def plan_sweep(template: str | Path, sets: list[str], zipped: bool,
               max_points: int = MAX_POINTS, case=None, options=()) -> Plan:
    """The plan of a sweep of a template run folder (or of a case function)
    whose runs take the program's `options`."""
    if case is not None:
        if template is not None:
            raise SweepError("give a template run folder or --case, not both")
        plan = plan_case_sweep(case, sets, zipped, max_points)
    else:
        plan = plan_template_sweep(template, sets, zipped, max_points)
    plan.options = list(options)
    plan.case_options = run_options([a.name for a in plan.axes], plan.points, plan.options)
    return plan


def plan_template_sweep(template: str | Path, sets: list[str], zipped: bool,
                        max_points: int = MAX_POINTS) -> Plan:
    path = template_file(template)
    try:
        ed = Execdata.read(path)
    except ExecdataError as e:
        raise SweepError(f"the template {path} cannot be read: {e}") from None
    axes = [parse_set(s, ed, max_points) for s in sets]
    names = [a.name for a in axes]
    for n in set(names):
        if names.count(n) > 1:
            raise SweepError(f"--set {n} is given {names.count(n)} times")
    points = build_points(axes, zipped, max_points)
    plan = Plan(path, ed, axes, zipped, points)
    width = max(4, len(str(len(points) - 1)))
    for i, point in enumerate(points):
        try:
            plan.cases.append(ed.with_values(file_values(point)))
        except ExecdataError as e:
            raise SweepError(str(e)) from None
        plan.folders.append(f"case-{i:0{width}d}")
    result_folders(Path(tempfile.gettempdir()) / "case", ed)  # relative names inside
    return plan


def _describe(point: dict, texts: dict | None = None) -> str:
    return " ".join(f"{k}={(texts or {}).get(k, v)}" for k, v in point.items()) or "(template)"


def load_sweep(sweep_dir: Path) -> dict:
    data = _read_json(sweep_dir / SWEEP_FILE)
    if not isinstance(data, dict) or "points" not in data:
        raise SweepError(f"{sweep_dir}: not a sweep folder (no readable {SWEEP_FILE})")
    return data


def write_cases(plan: Plan, sweep_dir: Path, engine: str, program: str) -> dict:
    """Creates or checks the sweep folder: sweep.json, the template copy and
    every case folder (execdata.txt, case.json, result folders)."""
    identity = plan.identity()
    existing = None
    if (sweep_dir / SWEEP_FILE).exists():
        existing = load_sweep(sweep_dir)
        if existing.get("identity") != identity:
            raise SweepError(f"{sweep_dir} holds another sweep (other template, names, values "
                             "or --source); give another --out")
    elif sweep_dir.exists() and any(sweep_dir.iterdir()):
        raise SweepError(f"{sweep_dir} exists and is not a sweep folder; give another --out")
    sweep_dir.mkdir(parents=True, exist_ok=True)
    points = []
    for i, (point, ed, folder) in enumerate(zip(plan.points, plan.cases, plan.folders)):
        texts = plan.texts(i)
        points.append({"point": i, "folder": folder, "values": point, "texts": texts,
                       "program_options": plan.case_options[i]})
    data = existing or {"format": 1, "created": _now(), "runs": []}
    data.update({
        "template": plan.source,
        "identity": identity,
        "names": [a.name for a in plan.axes],
        "axes": [{"name": a.name, "kind": a.kind, "scale": a.scale, "given": a.given,
                  "values": a.values} for a in plan.axes],
        "mode": identity["mode"],
        "points": points,
        "engine": engine,
        "program": program,
        "program_options": plan.options,
    })
    fileio.write_bytes(sweep_dir / TEMPLATE_COPY, plan.template.to_bytes())
    for entry, ed in zip(points, plan.cases):
        case_dir = sweep_dir / entry["folder"]
        if case_dir.exists() and is_complete(case_dir):
            continue
        case_dir.mkdir(exist_ok=True)
        ed.write(case_dir / "execdata.txt")
        _write_json(case_dir / CASE_FILE, entry)
        fileio.write_text(case_dir / OPTIONS_FILE,
                          "".join(o + "\n" for o in entry["program_options"]))
        for d in result_folders(case_dir, ed):
            d.mkdir(parents=True, exist_ok=True)
    _write_json(sweep_dir / SWEEP_FILE, data)
    return data


def reset_case(case_dir: Path, template_path: Path) -> None:
    """Empties the result folders of a case that is run (again) and removes
    the runner's files; a continued template run gets its continuation files
    and point.txt again."""
    ed = Execdata.read(case_dir / "execdata.txt")
    folders = result_folders(case_dir, ed)
    for d in folders:
        if d.exists():
            shutil.rmtree(d)
        d.mkdir(parents=True)
    for name in (EXIT_FILE, STARTED_FILE, CONSOLE_OUT, CONSOLE_ERR):
        (case_dir / name).unlink(missing_ok=True)
    if ed.value("run.J_final") != 0:
        template_ed = Execdata.read(template_path)
        src = [template_path.parent / f for f in template_ed.folders()]
        points = files.NAMES["points"]
        if (src[0] / points).is_file():
            shutil.copy2(src[0] / points, folders[0] / points)
        if src[2].is_dir():
            shutil.copytree(src[2], folders[2], dirs_exist_ok=True)


def _now() -> str:
    return datetime.datetime.now().astimezone().replace(microsecond=0).isoformat()


# --------------------------------------------------------------------------
# States

@dataclass
class CaseState:
    point: int
    folder: str
    values: dict
    state: str
    detail: str = ""
    exit_status: int | None = None
    texts: dict = field(default_factory=dict)


def _started_info(case_dir: Path) -> dict:
    info = {}
    try:
        for line in fileio.read_text(case_dir / STARTED_FILE).splitlines():
            k, _, v = line.partition("=")
            info[k.strip()] = v.strip()
    except (OSError, ValueError):
        return {}
    return info


def _pid_alive(pid: str) -> bool:
    try:
        os.kill(int(pid), 0)
        return True
    except (ValueError, ProcessLookupError):
        return False
    except PermissionError:
        return True


def slurm_queue(job_ids: list[str]) -> dict[str, str] | None:
    """'JOB_TASK' -> Slurm state of the live tasks of the given array jobs;
    None when the queue cannot be asked."""
    if not job_ids or not shutil.which("squeue"):
        return None if job_ids else {}
    r = subprocess.run(["squeue", "-h", "-r", "-o", "%F|%K|%T", "-j", ",".join(job_ids)],
                       capture_output=True, text=True)
    if r.returncode != 0:
        return {} if "Invalid job id" in r.stderr else None
    tasks = {}
    for line in r.stdout.split():
        parts = line.split("|")
        if len(parts) == 3:
            tasks[f"{parts[0]}_{parts[1]}"] = parts[2]
    return tasks


def case_states(sweep_dir: Path, data: dict | None = None) -> list[CaseState]:
    data = data or load_sweep(sweep_dir)
    # The queued or running tasks of every Slurm submission, by case folder.
    submissions = [r for r in data.get("runs", []) if r.get("engine") == "slurm" and r.get("job_id")]
    queue = slurm_queue([r["job_id"] for r in submissions]) if submissions else {}
    queued: dict[str, str] = {}
    for r in submissions:
        for task, folder in enumerate(r.get("cases", [])):
            key = f"{r['job_id']}_{task}"
            if queue and key in queue:
                queued[folder] = queue[key]
    here = socket.gethostname()
    states = []
    for entry in data["points"]:
        case_dir = sweep_dir / entry["folder"]
        s = CaseState(entry["point"], entry["folder"], entry["values"], "pending",
                      texts=entry.get("texts", {}))
        summary = read_summary(case_dir)
        exit_text = None
        try:
            exit_text = fileio.read_text(case_dir / EXIT_FILE).strip()
        except (OSError, ValueError):
            pass
        if exit_text is not None:
            try:
                s.exit_status = int(exit_text)
            except ValueError:
                s.exit_status = -1
        if summary and summary.get("status") == "complete":
            s.state = "done"
        elif s.exit_status is not None:
            s.state = "failed"
            s.detail = (f"exit status {s.exit_status}" if s.exit_status != 0 else
                        f"exit status 0 but no complete {SUMMARY_FILE}")
        elif (case_dir / STARTED_FILE).exists():
            info = _started_info(case_dir)
            job = info.get("slurm_job", "")
            if job and queue is not None:
                if queue.get(job) is not None:
                    s.state, s.detail = "running", f"Slurm task {job} on {info.get('host', '?')}"
                else:
                    s.state, s.detail = "failed", f"Slurm task {job} ended without an exit status"
            elif job:
                s.state, s.detail = "running", f"Slurm task {job} (the queue cannot be asked)"
            elif info.get("host") == here and not _pid_alive(info.get("pid", "")):
                s.state, s.detail = "failed", "interrupted (the runner is gone, no exit status)"
            else:
                s.state, s.detail = "running", f"on {info.get('host', '?')}"
        elif entry["folder"] in queued:
            s.detail = f"{QUEUED} ({queued[entry['folder']].lower()})"
        elif submissions and queue is not None and data.get("engine") == "slurm":
            s.detail = "not queued"
        states.append(s)
    return states


def count_states(states: list[CaseState]) -> dict:
    return {k: sum(1 for s in states if s.state == k) for k in STATES}


def status_text(sweep_dir: Path, states: list[CaseState]) -> str:
    c = count_states(states)
    lines = [f"{sweep_dir}: {len(states)} points: " + ", ".join(f"{c[k]} {k}" for k in STATES)]
    width = max((len(s.folder) for s in states), default=4)
    for s in states:
        detail = f"  ({s.detail})" if s.detail else ""
        lines.append(f"  {s.folder:<{width}}  {s.state:<7}  {_describe(s.values, s.texts)}{detail}")
    return "\n".join(lines) + "\n"


# --------------------------------------------------------------------------
# Engines

RUNNER_TEXT = """#!/bin/bash
# Runs one case of an mps1d sweep: run_case.sh CASE_FOLDER
# The program ($MPS1D_SWEEP_PROGRAM) runs in CASE_FOLDER with the options
# of the case (the lines of CASE_FOLDER/program_options.txt) and standard
# input at its end, its console output in mps1d.out and mps1d.err.  The runner
# notes where it runs in CASE_FOLDER/started and the program's exit status
# in CASE_FOLDER/exit_status (143 when the runner is stopped by a signal),
# and exits with that status.
set -u
program=${MPS1D_SWEEP_PROGRAM:?MPS1D_SWEEP_PROGRAM names the program}
cd "$1" || exit 2
rm -f exit_status
task=""
if [ -n "${SLURM_ARRAY_JOB_ID:-}" ]; then task="${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}"; fi
printf 'host=%s\\npid=%s\\nslurm_job=%s\\nthreads=%s\\nstarted=%s\\n' \\
  "$(hostname)" "$$" "$task" "${OMP_NUM_THREADS:-}" "$(date -Is)" > started
options=()
if [ -f program_options.txt ]; then mapfile -t options < program_options.txt; fi
"$program" ${options[@]+"${options[@]}"} </dev/null >mps1d.out 2>mps1d.err &
child=$!
trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; echo 143 > exit_status; exit 143' TERM INT
wait "$child"
rc=$?
echo "$rc" > exit_status.part && mv -f exit_status.part exit_status
echo "${PWD##*/}: exit status $rc"
exit "$rc"
"""


def write_runner(sweep_dir: Path) -> Path:
    """The runner of the cases (each case folder holds its program options)."""
    runner = sweep_dir / RUNNER
    fileio.write_text(runner, RUNNER_TEXT)
    runner.chmod(0o755)
    return runner


def run_local(sweep_dir: Path, folders: list[str], jobs: int, threads: int,
              program: str) -> int:
    """Runs the cases with GNU parallel; the number of failed cases."""
    parallel = shutil.which("parallel")
    if not parallel:
        raise SweepError("the local engine needs GNU parallel: apt-get install parallel")
    runner = write_runner(sweep_dir)
    listing = sweep_dir / "local-cases.txt"
    fileio.write_text(listing, "".join(str(sweep_dir / f) + "\n" for f in folders))
    env = dict(os.environ, OMP_NUM_THREADS=str(threads), MPS1D_SWEEP_PROGRAM=program)
    # The progress bar draws on a terminal; elsewhere each case prints a
    # line when it ends.
    bar = ["--bar"] if sys.stderr.isatty() else []
    # --quote: GNU parallel passes the command's words as they are, never
    # through a shell's reading (a folder name is no command).
    cmd = [parallel, "--will-cite", "--quote", "--jobs", str(jobs), *bar,
           # '+' appends to the job log of an earlier run (a new one gets the header)
           "--joblog", ("+" if (sweep_dir / JOBLOG).exists() else "") + str(sweep_dir / JOBLOG),
           "--arg-file", str(listing),
           "/bin/bash", str(runner), "{}"]
    subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL)
    states = {s.folder: s for s in case_states(sweep_dir)}
    return sum(1 for f in folders if states[f].state != "done")


def slurm_script(sweep_dir: Path, n: int, count: int, jobs: int, threads: int, program: str,
                 options: list[str]) -> str:
    cases = sweep_dir / f"slurm-cases-{n}.txt"
    directives = ["--job-name=mps1d-sweep", f"--array=0-{count - 1}%{jobs}",
                  f"--cpus-per-task={threads}", "--ntasks=1",
                  f"--output={sweep_dir / 'slurm' / '%A_%a.out'}", f"--chdir={sweep_dir}"] + options
    return "\n".join([
        "#!/bin/bash",
        *(f"#SBATCH {d}" for d in directives),
        f"# mps1d sweep, submission {n}: task i runs the case folder on line i+1 of",
        f"# {cases}.",
        "set -u",
        f"case_dir=$(sed -n \"$((SLURM_ARRAY_TASK_ID + 1))p\" {shlex.quote(str(cases))})",
        'if [ -z "$case_dir" ]; then echo "no case for task $SLURM_ARRAY_TASK_ID" >&2; exit 2; fi',
        f"export OMP_NUM_THREADS=${{SLURM_CPUS_PER_TASK:-{threads}}}",
        f"export MPS1D_SWEEP_PROGRAM={shlex.quote(program)}",
        f"exec /bin/bash {shlex.quote(str(sweep_dir / RUNNER))} \"$case_dir\"",
        ""])


def submit_slurm(sweep_dir: Path, data: dict, folders: list[str], jobs: int, threads: int,
                 program: str, options: list[str]) -> str:
    sbatch = shutil.which("sbatch")
    if not sbatch:
        raise SweepError("the slurm engine needs sbatch on the PATH (Slurm's client commands)")
    write_runner(sweep_dir)
    (sweep_dir / "slurm").mkdir(exist_ok=True)
    n = 1 + sum(1 for r in data.get("runs", []) if r.get("engine") == "slurm")
    fileio.write_text(sweep_dir / f"slurm-cases-{n}.txt",
                      "".join(str(sweep_dir / f) + "\n" for f in folders))
    script = sweep_dir / f"slurm-job-{n}.sh"
    fileio.write_text(script, slurm_script(sweep_dir, n, len(folders), jobs, threads, program,
                                           options))
    script.chmod(0o755)
    cmd = [sbatch, "--parsable", f"--array=0-{len(folders) - 1}%{jobs}",
           f"--cpus-per-task={threads}", *options, str(script)]
    r = subprocess.run(cmd, capture_output=True, text=True, cwd=sweep_dir)
    if r.returncode != 0:
        raise SweepError(f"sbatch refused the job array (exit status {r.returncode}): "
                         f"{(r.stderr or r.stdout).strip()}\n  command: {shlex.join(cmd)}")
    job_id = r.stdout.strip().split(";")[0]
    if not job_id.isdigit():
        raise SweepError(f"sbatch answered {r.stdout.strip()!r}, not a job id")
    data["runs"].append({"engine": "slurm", "submission": n, "job_id": job_id, "time": _now(),
                         "command": shlex.join(cmd), "script": script.name, "cases": folders,
                         "threads_per_run": threads, "jobs": jobs})
    _write_json(sweep_dir / SWEEP_FILE, data)
    return job_id


# --------------------------------------------------------------------------
# The run command

def plain_text(text: str, what: str) -> str:
    """`text` when it holds no control character (a newline would split the
    case listing or a line of a job script); SweepError otherwise."""
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in text):
        raise SweepError(f"{what} {text!r} holds a control character; choose another")
    return text


def run_sweep(template, sets, out, engine="local", jobs=None, threads=1, zipped=False,
              slurm_options=None, stream=None, max_points=MAX_POINTS, case=None,
              program_options=None) -> int:
    """Runs (local) or submits (slurm) the points of a sweep that are not
    complete; 0 when all ran or were submitted, 1 when a case failed.
    `case`: a function returning an mps1d.Case (or "FILE.py:FUNCTION"),
    swept over its keyword parameters instead of a template's names."""
    stream = stream or sys.stdout
    if threads < 1:
        raise SweepError("--threads-per-run must be at least 1")
    if jobs is not None and jobs < 1:
        raise SweepError("--jobs must be at least 1")
    if max_points < 1:
        raise SweepError("--max-points must be at least 1")
    for option in slurm_options or []:
        plain_text(option, "the Slurm option")
    for option in program_options or []:
        plain_text(option, "the program option")
    sweep_dir = Path(plain_text(str(Path(out).resolve()), "the sweep folder"))
    plan = plan_sweep(template, sets, zipped, max_points, case=case,
                      options=program_options or [])
    program = find_program()
    names = " x ".join(f"{a.name} ({len(a.values)})" for a in plan.axes) or "the template alone"
    print(f"sweep: {len(plan.points)} points of {names} from {plan.source}", file=stream)

    # What an earlier run of the same sweep has done.
    if (sweep_dir / SWEEP_FILE).exists():
        old = load_sweep(sweep_dir)
        if old.get("identity") != plan.identity():
            raise SweepError(f"{sweep_dir} holds another sweep (other template, names, values "
                             "or --source); give another --out")
        states = {s.folder: s for s in case_states(sweep_dir, old)}
    elif sweep_dir.exists() and (not sweep_dir.is_dir() or any(sweep_dir.iterdir())):
        raise SweepError(f"{sweep_dir} exists and is not a sweep folder; give another --out")
    else:
        states = {}
    busy = [f for f, s in states.items() if s.state == "running" or
            (s.state == "pending" and s.detail.startswith(QUEUED))]
    done = [f for f, s in states.items() if s.state == "done"]
    to_run = [f for f in plan.folders if f not in done and f not in busy]
    if busy:
        print(f"sweep: {len(busy)} points are still queued or running; left alone", file=stream)
    if not to_run:
        print(f"sweep: {len(done)} of {len(plan.points)} points complete; nothing to run",
              file=stream)
        return 0 if len(done) == len(plan.points) else 1
    if done:
        print(f"sweep: {len(done)} points complete; running the other {len(to_run)}",
              file=stream)
    if engine == "local" and not shutil.which("parallel"):
        raise SweepError("the local engine needs GNU parallel: apt-get install parallel")
    if engine == "slurm" and not shutil.which("sbatch"):
        raise SweepError("the slurm engine needs sbatch on the PATH (Slurm's client commands)")

    index = {f: k for k, f in enumerate(plan.folders)}

    def label(f):
        k = index[f]
        return f"point {k} ({_describe(plan.points[k], plan.texts(k))})"

    check_points(program, plan.template, [(label(f), plan.cases[index[f]],
                                            plan.case_options[index[f]]) for f in to_run],
                 plan.options)
    data = write_cases(plan, sweep_dir, engine, program)
    for f in to_run:
        reset_case(sweep_dir / f, plan.template_path)

    if engine == "local":
        jobs = jobs or max(1, (os.cpu_count() or 1) // threads)
        data["runs"].append({"engine": "local", "time": _now(), "cases": to_run,
                             "threads_per_run": threads, "jobs": jobs, "joblog": JOBLOG})
        _write_json(sweep_dir / SWEEP_FILE, data)
        print(f"sweep: running {len(to_run)} cases with GNU parallel, {jobs} at a time, "
              f"{threads} thread(s) each; job log {sweep_dir / JOBLOG}", file=stream)
        stream.flush()
        failed = run_local(sweep_dir, to_run, jobs, threads, program)
        states = case_states(sweep_dir)
        stream.write(status_text(sweep_dir, states))
        if failed:
            print(f"sweep: {failed} of {len(to_run)} cases failed (see `sweep status` and "
                  f"{JOBLOG})", file=stream)
            return 1
        return 0
    jobs = jobs or len(to_run)
    job_id = submit_slurm(sweep_dir, data, to_run, jobs, threads, program, slurm_options or [])
    print(f"sweep: submitted job array {job_id} with {len(to_run)} tasks "
          f"(--array=0-{len(to_run) - 1}%{jobs}, {threads} CPU(s) each); "
          f"follow it with: mps1d-tools sweep status {sweep_dir}", file=stream)
    return 0


# --------------------------------------------------------------------------
# collect

def flatten(obj, prefix="") -> dict:
    out = {}
    for k, v in obj.items():
        key = f"{prefix}{k}"
        if not prefix and k in ("status", "inputs"):
            continue
        if isinstance(v, dict):
            out.update(flatten(v, key + "."))
        elif isinstance(v, (int, float, str, bool)) or v is None:
            out[key] = v
    return out


def collect_rows(sweep_dir: Path) -> tuple[list[str], list[dict], dict]:
    data = load_sweep(sweep_dir)
    names = data.get("names", [])
    states = {s.folder: s for s in case_states(sweep_dir, data)}
    rows, summary_columns = [], []
    for entry in data["points"]:
        s = states[entry["folder"]]
        row = {"point": entry["point"], "folder": entry["folder"], **entry["values"],
               "state": s.state, "exit_status": s.exit_status}
        summary = read_summary(sweep_dir / entry["folder"]) if s.state == "done" else None
        for k, v in flatten(summary or {}).items():
            if k in row:
                k = "summary." + k
            if k not in summary_columns:
                summary_columns.append(k)
            row[k] = v
        rows.append(row)
    columns = ["point", "folder", *names, "state", "exit_status", *summary_columns]
    return columns, rows, data


def _csv_text(v) -> str:
    if v is None:
        return ""
    if isinstance(v, float):
        return repr(v)
    return str(v)


def write_csv(path: Path, columns: list[str], rows: list[dict]) -> None:
    text = io.StringIO(newline="")
    w = csv.writer(text)
    w.writerow(columns)
    for row in rows:
        w.writerow([_csv_text(row.get(c)) for c in columns])
    fileio.write_text(path, text.getvalue())


def write_h5(path: Path, columns: list[str], rows: list[dict], data: dict) -> None:
    fileio.write_hdf5(path, lambda f: _fill_h5(f, columns, rows, data))


def _fill_h5(f, columns: list[str], rows: list[dict], data: dict) -> None:
    import h5py
    import numpy as np
    f.attrs["columns"] = json.dumps(columns)
    f.attrs["sweep"] = json.dumps({k: v for k, v in data.items() if k != "points"})
    for c in columns:
        values = [row.get(c) for row in rows]
        present = [v for v in values if v is not None]
        if present and all(isinstance(v, bool) for v in present):
            arr = np.array([-1 if v is None else int(v) for v in values], dtype=np.int8)
        elif present and all(isinstance(v, int) and not isinstance(v, bool) for v in present) \
                and len(present) == len(values):
            arr = np.array(values, dtype=np.int64)
        elif present and all(isinstance(v, (int, float)) and not isinstance(v, bool)
                             for v in present):
            arr = np.array([math.nan if v is None else float(v) for v in values])
        else:
            arr = np.array(["" if v is None else str(v) for v in values],
                           dtype=h5py.string_dtype())
        f.create_dataset(c, data=arr)


def _numeric(rows, column) -> bool:
    vals = [r.get(column) for r in rows if r.get(column) is not None]
    return bool(vals) and all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in vals)


def quantity(row: dict, y: str):
    """The value of a summary column in a row, or of a ratio A/B of two
    (None where either is missing or B is 0)."""
    if y in row or "/" not in y:
        return row.get(y)
    a, b = (row.get(part) for part in y.split("/", 1))
    if a is None or b is None or b == 0:
        return None
    return a / b


def quantity_label(y: str) -> str:
    """axis_label of a summary value, or of a ratio with the units divided."""
    if "/" not in y:
        return axis_label(y)
    a, b = (axis_label(part).rsplit(" [", 1) for part in y.split("/", 1))
    unit = "1]" if a[1] == b[1] else f"{a[1][:-1]} / {b[1]}"
    return f"{a[0]} / {b[0]} [{unit}"


def plot_choice(columns, rows, data, y: str | None, x: str | None) -> tuple[str, str]:
    """The summary value (y) and the swept input (x) of a figure, checked."""
    names = data.get("names", [])
    if not names:
        raise SweepError("the sweep has no swept input to plot against")
    x = x or names[0]
    if x not in names:
        raise SweepError(f"--x {x}: not a swept input of this sweep ({', '.join(names)})")
    summary_columns = columns[columns.index("exit_status") + 1:]
    numeric = [c for c in summary_columns if _numeric(rows, c)]
    if y is None:
        if not numeric:
            raise SweepError("no complete point with a numeric summary value to plot")
        y = DEFAULT_Y if DEFAULT_Y in numeric else numeric[0]
    # A/B: the ratio of two summary values (a column's own name comes first).
    parts = [y] if y in columns or "/" not in y else y.split("/", 1)
    for part in parts:
        if part not in numeric:
            what = "" if part == y else f" ({part})"
            raise SweepError(f"--plot {y}{what}: not a numeric summary value of this sweep; "
                             f"known: {', '.join(numeric) or '(none: no complete point)'}")
    return y, x


def plot_column(sweep_dir: Path, columns, rows, data, y: str | None, x: str | None) -> Path:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    y, x = plot_choice(columns, rows, data, y, x)
    names = data.get("names", [])
    others = [n for n in names if n != x]
    groups: dict[tuple, list] = {}
    for r in rows:
        if quantity(r, y) is None:
            continue
        groups.setdefault(tuple(r[n] for n in others), []).append((r[x], quantity(r, y)))
    fig, ax = plt.subplots(figsize=(6.4, 4.4))
    for key, pts in groups.items():
        pts.sort()
        label = ", ".join(f"{n}={v:g}" for n, v in zip(others, key)) or None
        ax.plot([p[0] for p in pts], [p[1] for p in pts], "o-", label=label)
    scale = {a["name"]: a.get("scale") for a in data.get("axes", [])}
    if scale.get(x) == "log":
        ax.set_xscale("log")
    ax.set_xlabel(axis_label(x))
    ax.set_ylabel(quantity_label(y))
    ax.ticklabel_format(axis="y", useOffset=False)
    ax.set_title(f"{sweep_dir.name}: {y} against {x}", fontsize=10)
    ax.grid(True, alpha=0.3)
    if len(groups) > 1:
        ax.legend(fontsize=8)
    fig.tight_layout()
    name = f"{y.replace('/', '-over-')}-vs-{x}"
    out = sweep_dir / ("sweep-" + re.sub(r"[^A-Za-z0-9_.-]", "_", name) + ".png")
    try:
        with fileio.replacing(out) as stream:
            fig.savefig(stream, dpi=110, format="png")
    finally:
        plt.close(fig)
    return out


def collect(sweep_dir: str | Path, plots=None, x=None, draw=True, stream=None) -> dict:
    """sweep.csv, sweep.h5 and the figures of a sweep folder."""
    stream = stream or sys.stdout
    sweep_dir = Path(sweep_dir).resolve()
    columns, rows, data = collect_rows(sweep_dir)
    done = sum(1 for r in rows if r["state"] == "done")
    if draw and done:
        for y in plots or [None]:
            plot_choice(columns, rows, data, y, x)
    write_csv(sweep_dir / "sweep.csv", columns, rows)
    write_h5(sweep_dir / "sweep.h5", columns, rows, data)
    written = {"csv": sweep_dir / "sweep.csv", "h5": sweep_dir / "sweep.h5", "png": []}
    print(f"collect: {len(rows)} points ({done} complete) into {written['csv']} and "
          f"{written['h5']}", file=stream)
    if draw and done:
        for y in plots or [None]:
            png = plot_column(sweep_dir, columns, rows, data, y, x)
            written["png"].append(png)
            print(f"collect: figure {png}", file=stream)
    elif draw:
        print("collect: no complete point yet; no figure", file=stream)
    return written


# --------------------------------------------------------------------------
# Command line

def configure_parser(p: argparse.ArgumentParser) -> argparse.ArgumentParser:
    p.formatter_class = argparse.RawDescriptionHelpFormatter
    p.description = ("Run a parameter sweep of mps1d, follow it, collect its results.\n\n"
                     "  sweep TEMPLATE_RUN_FOLDER --set NAME=VALUES [--set ...] --out SWEEP_FOLDER "
                     "[--source hard|transparent] [--output text|hdf5] [--both-transitions] "
                     "[--ensemble K,FWHM]\n"
                     "  sweep status SWEEP_FOLDER\n"
                     "  sweep collect SWEEP_FOLDER [--plot Y|A/B] [--x NAME]\n"
                     "  sweep names [TEMPLATE_RUN_FOLDER]\n"
                     "  sweep --case FILE.py:FUNCTION --set PARAMETER=VALUES [--set ...] "
                     "--out SWEEP_FOLDER")
    p.epilog = ("NAME: " + known_names_text() + " (J: 1-based layer row); " +
                ", ".join(OPTION_NAMES) + ": each point's --ensemble=K,FWHM (also with --case).\n"
                "VALUES: a,b,c | START:STOP:COUNT | log:START:STOP:COUNT | @FILE.\n"
                "The program: $MPS1D, else build/mps1d of the repository, else mps1d on the PATH.")
    p.add_argument("target", nargs="?", metavar="TEMPLATE_RUN_FOLDER|status|collect|names")
    p.add_argument("folder", nargs="?", metavar="SWEEP_FOLDER",
                   help="the sweep folder (status, collect) or the template (names)")
    g = p.add_argument_group("running a sweep")
    g.add_argument("--set", action="append", default=[], metavar="NAME=VALUES", dest="sets",
                   help="a named input and its values; repeat for more inputs")
    g.add_argument("--out", metavar="SWEEP_FOLDER", help="the folder of the sweep")
    g.add_argument("--case", metavar="FILE.py:FUNCTION",
                   help="sweep the mps1d.Case a Python function returns, over its keyword "
                        "parameters (instead of a template folder)")
    g.add_argument("--engine", choices=("local", "slurm"), default="local")
    g.add_argument("--jobs", type=int, metavar="N",
                   help="runs at a time (local: default cores / T; slurm: the array's %%N)")
    g.add_argument("--threads-per-run", type=int, default=1, metavar="T",
                   help="OpenMP threads (and Slurm CPUs) per run (default 1)")
    g.add_argument("--zip", action="store_true", help="pair the values instead of the product")
    g.add_argument("--max-points", type=int, default=MAX_POINTS, metavar="N",
                   help=f"refuse a sweep of more than N points (default {MAX_POINTS})")
    g.add_argument("--partition", help="Slurm partition")
    g.add_argument("--time", help="Slurm time limit per task")
    g.add_argument("--account", help="Slurm account")
    g.add_argument("--source", choices=("hard", "transparent"),
                   help="the program's --source for every run (default: the program's, hard)")
    g.add_argument("--output", choices=("text", "hdf5"),
                   help="the program's --output for every run (default: text)")
    g.add_argument("--both-transitions", action="store_true",
                   help="the program's --both-transitions for every run")
    g.add_argument("--ensemble", type=_ensemble, metavar="K,FWHM",
                   help="the program's --ensemble=K,FWHM for every run: K spectral classes "
                        "(1 to 256) over a Gaussian of FWHM meV; a swept ensemble.classes or "
                        "ensemble.fwhm_meV takes the place of its part")
    g = p.add_argument_group("status")
    g.add_argument("--wait", type=float, metavar="SECONDS",
                   help="wait up to SECONDS until no point is queued or running "
                        "(exit status 3 if some still are)")
    g.add_argument("--json", action="store_true", help="the states as JSON")
    g = p.add_argument_group("collect")
    g.add_argument("--plot", action="append", metavar="Y",
                   help=f"summary value to draw (default {DEFAULT_Y}), or the ratio of two, "
                        "A/B (energy.transmitted/energy.injected); repeatable")
    g.add_argument("--x", metavar="NAME", help="swept input on the x axis (default the first)")
    g.add_argument("--no-plot", action="store_true", help="write the tables only")
    p.set_defaults(action=sweep_main)
    return p


def _ensemble(text: str) -> str:
    """The program's option of the sweep's `--ensemble K,FWHM`."""
    k, _, fwhm = text.partition(",")
    try:
        classes, width = int(k), float(fwhm)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r}: give K,FWHM (K spectral classes, "
                                         "their full width in meV)") from None
    try:
        return program_module.ensemble_option(classes, width)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)) from None


def axis_label(name: str) -> str:
    """A swept input or a summary value with its unit."""
    from .execdata import NAMES
    known = NAMES.get(name) or OPTION_NAMES.get(name)
    if known is not None and "[" in known[1]:
        return f"{name} [{known[1].split('[')[-1]}"
    if name.startswith("energy.") and name not in ("energy.balance", "energy.step"):
        return f"{name} [J/m^2]"
    if name.endswith("wall_time_s"):
        return f"{name} [s]"
    return f"{name} [1]"


def add_sweep_parser(subparsers) -> argparse.ArgumentParser:
    """Adds the `sweep` subcommand to an argparse subparsers object; its
    action (args.action) is sweep_main."""
    return configure_parser(subparsers.add_parser(
        "sweep", help="parameter sweeps: run (local or Slurm), status, collect"))


def _reject(args, allowed: set[str], what: str) -> None:
    given = {"sets": bool(args.sets), "out": args.out is not None, "zip": args.zip,
             "jobs": args.jobs is not None, "engine": args.engine != "local",
             "threads_per_run": args.threads_per_run != 1, "partition": args.partition is not None,
             "time": args.time is not None, "account": args.account is not None,
             "wait": args.wait is not None, "json": args.json, "plot": bool(args.plot),
             "x": args.x is not None, "no_plot": args.no_plot,
             "max_points": args.max_points != MAX_POINTS, "case": args.case is not None,
             "source": args.source is not None, "output": args.output is not None,
             "both_transitions": args.both_transitions, "ensemble": args.ensemble is not None}
    wrong = [k for k, v in given.items() if v and k not in allowed]
    if wrong:
        opts = ", ".join("--" + ("set" if k == "sets" else k.replace("_", "-")) for k in wrong)
        raise SweepError(f"{what} takes no {opts}")


def _status(args) -> int:
    sweep_dir = Path(args.folder).resolve()
    deadline = time.monotonic() + (args.wait or 0)
    while True:
        states = case_states(sweep_dir)
        c = count_states(states)
        if args.wait is None or (c["running"] == 0 and not any(
                s.state == "pending" and s.detail.startswith(QUEUED) for s in states)):
            break
        if time.monotonic() >= deadline:
            break
        time.sleep(min(2.0, max(0.1, deadline - time.monotonic())))
    if args.json:
        print(json.dumps({"folder": str(sweep_dir), "counts": c,
                          "cases": [vars(s) for s in states]}, indent=1))
    else:
        sys.stdout.write(status_text(sweep_dir, states))
    if args.wait is not None and (c["running"] or any(
            s.state == "pending" and s.detail.startswith(QUEUED) for s in states)):
        return 3
    return 0


def _names(args) -> int:
    if args.case:
        import inspect
        function, label = load_case_function(args.case)
        kinds = case_parameters(function)
        for p in inspect.signature(function).parameters.values():
            if p.name in kinds:
                default = "" if p.default is p.empty else repr(p.default)
                print(f"{p.name:<28} {kinds[p.name]:<5} {default}")
    elif args.folder:
        ed = Execdata.read(template_file(args.folder))
        for n in ed.names():
            try:
                print(f"{n:<28} {ed.token(n)}")
            except ExecdataError as e:
                print(f"{n:<28} ({e})")
    else:
        from mps1d.execdata import NAMES
        for n, (kind, text) in NAMES.items():
            print(f"{n:<28} {kind:<5} {text}")
    # Not in the file: each run's --ensemble=K,FWHM.
    for n, (kind, text) in OPTION_NAMES.items():
        print(f"{n:<28} {kind:<5} {text}")
    return 0


def sweep_main(args) -> int:
    try:
        if args.target == "status" and args.folder:
            _reject(args, {"wait", "json"}, "sweep status")
            return _status(args)
        if args.target == "collect" and args.folder:
            _reject(args, {"plot", "x", "no_plot"}, "sweep collect")
            collect(args.folder, args.plot, args.x, draw=not args.no_plot)
            return 0
        if args.target == "names" and not args.sets:
            _reject(args, {"case"}, "sweep names")
            return _names(args)
        if args.folder:
            raise SweepError(f"unexpected argument {args.folder!r} (a sweep takes one template "
                             "folder; status and collect take a sweep folder)")
        _reject(args, {"sets", "out", "zip", "jobs", "engine", "threads_per_run", "partition",
                       "time", "account", "max_points", "case", "source", "output",
                 "both_transitions", "ensemble"},
                "running a sweep")
        if (args.target is None) == (args.case is None):
            raise SweepError("give a template run folder or --case FILE.py:FUNCTION (one of them)")
        if not args.out:
            raise SweepError("give the sweep folder with --out SWEEP_FOLDER")
        options = [f"--{k}={v}" for k, v in (("partition", args.partition), ("time", args.time),
                                               ("account", args.account)) if v]
        if options and args.engine != "slurm":
            raise SweepError("--partition, --time and --account are for --engine slurm")
        return run_sweep(args.target, args.sets, args.out, args.engine, args.jobs,
                         args.threads_per_run, args.zip, options, max_points=args.max_points,
                         case=args.case,
                         program_options=[f"--{k}={v}" for k, v in (("source", args.source),
                                                                    ("output", args.output)) if v]
                         + (["--both-transitions"] if args.both_transitions else [])
                         + ([args.ensemble] if args.ensemble else []))
    except (SweepError, ExecdataError, fileio.FileError) as e:
        print(f"mps1d sweep: error: {e}", file=sys.stderr)
        return 2


def main(argv=None) -> int:
    parser = configure_parser(argparse.ArgumentParser(prog="mps1d-sweep"))
    args = parser.parse_args(argv)
    return program_module.quiet_on_closed_pipe(args.action, args)


if __name__ == "__main__":
    sys.exit(main())
