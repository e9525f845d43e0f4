"""Running a sweep: the plan made and checked, the case folders written,
and the points that are not complete (nor queued or running) handed to an
engine."""
from __future__ import annotations

import os
import shutil
import sys
from pathlib import Path

from mps1d.sweep_checks import check_points, find_program
from mps1d.sweep_engines import run_local, submit_slurm
from mps1d.sweep_files import (JOBLOG, SWEEP_FILE, load_sweep, now, reset_case, write_cases,
                               write_json)
from mps1d.sweep_plan import Plan, plan_sweep
from mps1d.sweep_states import QUEUED, case_states, status_text
from mps1d.sweep_values import MAX_POINTS, SweepError, describe_point


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
    _check_arguments(threads, jobs, max_points, slurm_options, program_options)
    sweep_dir = Path(plain_text(str(Path(out).resolve()), "the sweep folder"))
    plan = plan_sweep(template, sets, zipped, max_points, case=case,
                      options=program_options or [])
    program = find_program()
    names = " x ".join(f"{a.name} ({len(a.values)})" for a in plan.axes) or "the template alone"
    print(f"sweep: {len(plan.points)} points of {names} from {plan.source}", file=stream)

    done, to_run = _points_to_run(plan, sweep_dir, stream)
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

    _check_cases(plan, program, to_run)
    data = write_cases(plan, sweep_dir, engine, program)
    for f in to_run:
        reset_case(sweep_dir / f, plan.template_path)
    if engine == "local":
        return _run_here(sweep_dir, data, to_run, jobs, threads, program, stream)
    jobs = jobs or len(to_run)
    job_id = submit_slurm(sweep_dir, data, to_run, jobs, threads, program, slurm_options or [])
    print(f"sweep: submitted job array {job_id} with {len(to_run)} tasks "
          f"(--array=0-{len(to_run) - 1}%{jobs}, {threads} CPU(s) each); "
          f"follow it with: mps1d-tools sweep status {sweep_dir}", file=stream)
    return 0


def _check_arguments(threads, jobs, max_points, slurm_options, program_options) -> None:
    """The counts at least 1; the options of Slurm and of the program
    without control characters."""
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


def _points_to_run(plan: Plan, sweep_dir: Path, stream) -> tuple[list[str], list[str]]:
    """(complete, to run) case folders, from what an earlier run of the same
    sweep has done; points still queued or running are left alone."""
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
    return done, to_run


def _check_cases(plan: Plan, program: str, to_run: list[str]) -> None:
    """The program's checks of the template and of the cases to run, each
    named by its point."""
    index = {f: k for k, f in enumerate(plan.folders)}

    def label(f):
        k = index[f]
        return f"point {k} ({describe_point(plan.points[k], plan.texts(k))})"

    check_points(program, plan.template, [(label(f), plan.cases[index[f]],
                                            plan.case_options[index[f]]) for f in to_run],
                 plan.options)


def _run_here(sweep_dir: Path, data: dict, to_run: list[str], jobs, threads: int,
              program: str, stream) -> int:
    """Runs the cases with GNU parallel and shows their states; 1 when one
    failed."""
    jobs = jobs or max(1, (os.cpu_count() or 1) // threads)
    data["runs"].append({"engine": "local", "time": now(), "cases": to_run,
                         "threads_per_run": threads, "jobs": jobs, "joblog": JOBLOG})
    write_json(sweep_dir / SWEEP_FILE, data)
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
