"""The values of a sweep: the --set NAME=VALUES lists and ranges, checked
against the kind of their name, the points they make (product or zip), and
the program options (each run's --ensemble=K,FWHM) a point may set.

The usage of the whole sweep is in the description of mps1d.sweep."""
from __future__ import annotations

import itertools
import math
import re
from dataclasses import dataclass
from pathlib import Path

from mps1d import fileio
from mps1d import program as program_module
from mps1d.execdata import Execdata, ExecdataError, check_value, kind_of, parse_real

MAX_POINTS = 10000          # points of a sweep, unless --max-points raises it
MAX_VALUE_FILE = 1 << 20    # bytes of a value file (@FILE)


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


@dataclass
class Axis:
    """The values of one swept name, as given and as read."""
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
        raw = _listed_in_file(name, given, max_points)
    elif ":" in given:
        scale, raw = _range_values(name, given, max_points)
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


def _listed_in_file(name: str, given: str, max_points: int) -> list[float]:
    """The numbers of a value file @FILE: separated by blanks, commas or
    lines, `#` starting a comment."""
    path = Path(given[1:])
    text = _value_file(name, path)
    words = [w for line in text.splitlines() for w in re.split(r"[\s,;]+", line.split("#")[0])
             if w]
    if not words:
        raise SweepError(f"--set {name}: the value file {path} holds no values")
    _check_count(f"--set {name}={given}", len(words), max_points)
    return [_number(name, w) for w in words]


def _range_values(name: str, given: str, max_points: int) -> tuple[str, list[float]]:
    """(scale, numbers) of a range START:STOP:COUNT (or lin:..., log:...),
    its ends exactly as given."""
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
    return scale, raw


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
            raise SweepError(f"{describe_point(point)}: {e}") from None
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


def describe_point(point: dict, texts: dict | None = None) -> str:
    """NAME=VALUE of each swept name of a point (its texts where given)."""
    return " ".join(f"{k}={(texts or {}).get(k, v)}" for k, v in point.items()) or "(template)"
