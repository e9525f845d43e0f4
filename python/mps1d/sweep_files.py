"""The files of a sweep folder: their names, sweep.json, the case folders
(each point's execdata.txt, case.json, program options and result
folders) and what a case's run leaves in them (summary.json)."""
from __future__ import annotations

import datetime
import json
import os
import shutil
from pathlib import Path

from mps1d import fileio, files
from mps1d.execdata import Execdata
from mps1d.sweep_values import SweepError

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


def read_json(path: Path):
    """The JSON of a file, or None when it cannot be read or parsed."""
    try:
        return json.loads(fileio.read_text(path, errors="strict"))
    except (OSError, ValueError):
        return None


def read_summary(case_dir: Path) -> dict | None:
    """The summary.json of a case's results folder, or None."""
    try:
        ed = Execdata.read(case_dir / "execdata.txt")
        results = result_folders(case_dir, ed)[0]
    except (OSError, ValueError, SweepError):
        return None
    data = read_json(results / SUMMARY_FILE)
    return data if isinstance(data, dict) else None


def is_complete(case_dir: Path) -> bool:
    """Whether the summary of a case says its run is complete."""
    s = read_summary(case_dir)
    return bool(s) and s.get("status") == "complete"


def write_json(path: Path, data) -> None:
    """Writes `data` as indented JSON, whole (under a temporary name, renamed)."""
    fileio.write_text(path, json.dumps(data, indent=1) + "\n")


def load_sweep(sweep_dir: Path) -> dict:
    """The sweep.json of a sweep folder; SweepError when there is none."""
    data = read_json(sweep_dir / SWEEP_FILE)
    if not isinstance(data, dict) or "points" not in data:
        raise SweepError(f"{sweep_dir}: not a sweep folder (no readable {SWEEP_FILE})")
    return data


def write_cases(plan, sweep_dir: Path, engine: str, program: str) -> dict:
    """Creates or checks the sweep folder of `plan` (a sweep_plan.Plan, which
    itself uses this module's folders): sweep.json, the template copy and
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
    data = existing or {"format": 1, "created": now(), "runs": []}
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
        write_json(case_dir / CASE_FILE, entry)
        fileio.write_text(case_dir / OPTIONS_FILE,
                          "".join(o + "\n" for o in entry["program_options"]))
        for d in result_folders(case_dir, ed):
            d.mkdir(parents=True, exist_ok=True)
    write_json(sweep_dir / SWEEP_FILE, data)
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


def now() -> str:
    """The local time to the second, ISO 8601 with its offset."""
    return datetime.datetime.now().astimezone().replace(microsecond=0).isoformat()
