"""The checks of a sweep before anything runs: the program's input check
(--check) of the template and of every point's file, and one step of the
template run for each distinct set of the points' program options."""
from __future__ import annotations

import os
import shlex
import subprocess
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from mps1d import program as program_module
from mps1d.execdata import Execdata
from mps1d.sweep_files import result_folders
from mps1d.sweep_values import SweepError


def find_program() -> str:
    """The program the sweep runs ($MPS1D, build/mps1d, mps1d on the PATH)."""
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
