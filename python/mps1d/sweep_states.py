"""The states of a sweep's points (done, running, failed, pending), read
from the case folders and, for Slurm submissions, from the queue."""
from __future__ import annotations

import os
import shutil
import socket
import subprocess
from dataclasses import dataclass, field
from pathlib import Path

from mps1d import fileio
from mps1d.sweep_files import EXIT_FILE, STARTED_FILE, SUMMARY_FILE, load_sweep, read_summary
from mps1d.sweep_values import describe_point

STATES = ("done", "running", "failed", "pending")
QUEUED = "in the Slurm queue"   # the detail of a pending point that Slurm holds


@dataclass
class CaseState:
    """Where one point of a sweep stands, as `sweep status` shows it."""
    point: int
    folder: str
    values: dict
    state: str
    detail: str = ""
    exit_status: int | None = None
    texts: dict = field(default_factory=dict)


def _started_info(case_dir: Path) -> dict:
    """The key=value lines the runner wrote into the case's `started`."""
    info = {}
    try:
        for line in fileio.read_text(case_dir / STARTED_FILE).splitlines():
            k, _, v = line.partition("=")
            info[k.strip()] = v.strip()
    except (OSError, ValueError):
        return {}
    return info


def _pid_alive(pid: str) -> bool:
    """Whether the process `pid` of this host still exists."""
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
    """The state of every point of a sweep: done, running, failed or pending
    (with what the Slurm queue says of it)."""
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
        s = _case_state(sweep_dir / entry["folder"], entry, queue, here)
        if s.state == "pending":
            if entry["folder"] in queued:
                s.detail = f"{QUEUED} ({queued[entry['folder']].lower()})"
            elif submissions and queue is not None and data.get("engine") == "slurm":
                s.detail = "not queued"
        states.append(s)
    return states


def _case_state(case_dir: Path, entry: dict, queue: dict | None, here: str) -> CaseState:
    """The state of one case from its files: complete summary, exit status,
    or the runner's `started` note (with the queue, or the runner's process
    on this host)."""
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
    return s


def count_states(states: list[CaseState]) -> dict:
    """The number of points in each state."""
    return {k: sum(1 for s in states if s.state == k) for k in STATES}


def status_text(sweep_dir: Path, states: list[CaseState]) -> str:
    """The text of `sweep status`: the counts, then a line per point."""
    c = count_states(states)
    lines = [f"{sweep_dir}: {len(states)} points: " + ", ".join(f"{c[k]} {k}" for k in STATES)]
    width = max((len(s.folder) for s in states), default=4)
    for s in states:
        detail = f"  ({s.detail})" if s.detail else ""
        lines.append(f"  {s.folder:<{width}}  {s.state:<7}  {describe_point(s.values, s.texts)}{detail}")
    return "\n".join(lines) + "\n"
