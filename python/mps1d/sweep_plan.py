"""The plan of a sweep: the template (a run folder's execdata.txt, or the
Case a Python function returns with its defaults), its swept names, and
each point's file and folder."""
from __future__ import annotations

import hashlib
import os
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path

from mps1d.execdata import Execdata, ExecdataError
from mps1d.sweep_files import result_folders
from mps1d.sweep_values import (MAX_POINTS, OPTION_NAMES, Axis, SweepError, build_points,
                                describe_point, file_values, parse_option_values, parse_set,
                                parse_values, run_options)


@dataclass
class Plan:
    """What a sweep runs: the template, the swept names and their points, and
    for each point its file, folder and program options."""
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
        """What makes two runs of a sweep the same sweep (kept in sweep.json)."""
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
    """The execdata.txt of a template run folder (or the file itself)."""
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
    where = describe_point(point, {n: repr(v) for n, v in point.items()})
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
    """The plan of a sweep of the named inputs of a template run folder."""
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
