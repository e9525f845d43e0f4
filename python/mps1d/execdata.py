"""Named values of an mps1d input file ("execdata.txt"), changed in place.

The program owns the input format: `mps1d --check --json` reads and checks
the file and reports where each value stands (line, column and the token as
written).  Changing a value replaces exactly those characters: everything
else of the file (TABs, comments, line ends, other bytes) is kept as it was.

    from mps1d.execdata import Execdata
    ed = Execdata.read("run/execdata.txt")
    ed.value("pulse.amplitude")                  # 200000000.0
    new = ed.with_values({"pulse.amplitude": 4e8, "layer.3.cells": 24})
    new.write("case/execdata.txt")

Known names (`NAMES`; J is the 1-based row of the layer table), in the
units of the file:

    pulse.wavelength        [um]
    pulse.fwhm              pulse duration (FWHM), in the unit its line names (0 fs, 1 ps)
    pulse.delay             in the unit its line names (0 fs, 1 ps, 2 ns)
    pulse.amplitude         [V/m]
    pulse.polarisation      1 x, 2 y, 3 and 4 circular
    pulse.shape             1 cw, 2 sech, 3 Gaussian, 4 turn-on, 5 noise
    pulse.origin            injection cell (0 = right end)
    pulse.noise             noise scale
    dots.density            density of resonant dipoles [m^-3]
    times.scale             scale factor of the population and spin-flip times
    dephasing.scale         scale factor of the dephasing times
    boundary.left.reflection, boundary.right.reflection
    run.courant             Courant number S
    run.LL                  steps between two snapshots (block length)
    run.Nt                  total number of steps
    run.iteration_limit, run.tolerance   of the implicit medium step
    structure.dz            spatial step [m]
    layer.J.cells           cells of layer row J
    layer.J.index           refractive index of layer row J
    layer.J.index_end       index at its right end (non-zero: graded)
    pulse.N.<name>          the same of pulse line N = 2, 3, ... (pump and probe)
"""
from __future__ import annotations

import math
import re
from dataclasses import dataclass, replace
from pathlib import Path

from . import fileio
from .program import ProgramError, RejectedInput, check_text

INT, REAL, TEXT = "int", "real", "text"

# name -> (kind, description); layer names are templates with J.
NAMES = {
    "pulse.wavelength": (REAL, "pulse wavelength [um]"),
    "pulse.fwhm": (REAL, "pulse duration (FWHM) in the unit code of the pulse line (0 fs, 1 ps)"),
    "pulse.delay": (REAL, "pulse delay in the unit code of the pulse line (0 fs, 1 ps, 2 ns)"),
    "pulse.amplitude": (REAL, "pulse amplitude [V/m]"),
    "pulse.polarisation": (INT, "polarisation (1 x, 2 y, 3 and 4 circular)"),
    "pulse.shape": (INT, "pulse shape (1 cw, 2 sech, 3 Gaussian, 4 turn-on, 5 noise)"),
    "pulse.origin": (INT, "injection cell (0 = right end)"),
    "pulse.noise": (REAL, "noise scale"),
    "dots.density": (REAL, "density of resonant dipoles [m^-3]"),
    "times.scale": (REAL, "scale factor of the population and spin-flip times"),
    "dephasing.scale": (REAL, "scale factor of the dephasing times"),
    "boundary.left.reflection": (REAL, "reflection coefficient of the left end"),
    "boundary.right.reflection": (REAL, "reflection coefficient of the right end"),
    "run.courant": (REAL, "Courant number S"),
    "run.LL": (INT, "steps between two snapshots (block length)"),
    "run.Nt": (INT, "total number of time steps"),
    "run.iteration_limit": (INT, "iteration limit of the implicit medium step"),
    "run.tolerance": (REAL, "tolerance of the implicit medium step"),
    "structure.dz": (REAL, "spatial step dz [m]"),
    "layer.J.cells": (INT, "cells of layer row J (1-based)"),
    "layer.J.index": (REAL, "refractive index n of layer row J"),
    "layer.J.index_end": (REAL, "index at the right end of layer row J (non-zero: graded)"),
}

# Places the walk notes that are not offered for sweeping.
_INTERNAL = {
    "folder.results": TEXT,
    "folder.discarded": TEXT,
    "folder.continue": TEXT,
    "run.J_final": INT,
}

_LAYER_NAME = re.compile(r"^layer\.(\d+)\.(cells|index|index_end)$")
# Pulse lines beyond the first: pulse.N.<name> for N = 2, 3, ...
_PULSE_NAME = re.compile(r"^pulse\.(\d+)\.(\w+)$")


class ExecdataError(ValueError):
    """The file cannot be walked, or a name or value cannot be used."""


def known_names_text() -> str:
    return ", ".join(NAMES)


def _kind_or_none(name: str):
    try:
        return kind_of(name)
    except ExecdataError:
        return None


def _json_kind(value) -> str:
    return TEXT if isinstance(value, str) else INT if isinstance(value, int) else REAL


def kind_of(name: str) -> str:
    """The value kind (INT or REAL) of a known name; ExecdataError otherwise."""
    if name in NAMES:
        return NAMES[name][0]
    m = _LAYER_NAME.match(name)
    if m and int(m.group(1)) >= 1:
        return NAMES["layer.J." + m.group(2)][0]
    m = _PULSE_NAME.match(name)
    if m and int(m.group(1)) >= 2 and "pulse." + m.group(2) in NAMES:
        return NAMES["pulse." + m.group(2)][0]
    raise ExecdataError(f"unknown input name {name!r}; known names: {known_names_text()}")


@dataclass(frozen=True)
class Place:
    """Where a value stands: 0-based line, [start, end) in the line's text
    (without its line end); `token` is None when the line gives the value
    as a null value, a repeat count or not at all (after a '/')."""
    line: int
    start: int
    end: int
    token: str | None
    kind: str
    how: str = ""  # why token is None


def parse_real(token: str) -> float:
    """A real as the program reads it (D, d, Q exponents; '1.0+5')."""
    t = token.strip()
    m = re.fullmatch(r"([+-]?)(\d*\.?\d*)(?:([eEdDqQ])?([+-]?\d+))?", t)
    if m and any(ch.isdigit() for ch in m.group(2)) and (m.group(4) is None or m.group(3) or
                                                          m.group(4)[0] in "+-"):
        text = m.group(1) + m.group(2) + ("e" + m.group(4) if m.group(4) is not None else "")
        return float(text)
    low = t.lower().lstrip("+-")
    if low in ("inf", "infinity"):
        return -math.inf if t.startswith("-") else math.inf
    if low.startswith("nan"):
        return math.nan
    raise ValueError(f"not a number: {token!r}")


def format_value(kind: str, value) -> str:
    """Text of a value as the program reads it back unchanged: integers in
    decimal; reals in the shortest form that gives back the same double,
    plain between 1e-3 and 1e6, else with an exponent ('2e8', '1.5e-10')."""
    if kind == INT:
        return str(int(value))
    x = float(value)
    if not math.isfinite(x):
        raise ExecdataError(f"not a finite number: {value!r}")
    if x == 0.0:
        return "0"
    if 1e-3 <= abs(x) < 1e6:
        text = repr(x)
        return text[:-2] if text.endswith(".0") else text
    for digits in range(1, 18):
        mantissa, exponent = f"{x:.{digits - 1}e}".split("e")
        if float(f"{mantissa}e{exponent}") == x:
            break
    if "." in mantissa:
        mantissa = mantissa.rstrip("0").rstrip(".")
    return f"{mantissa}e{int(exponent)}"


# --------------------------------------------------------------------------

class Execdata:
    """The text of an input file and the places of its named values."""

    def __init__(self, text: str, path: str | Path | None = None, places=None):
        # latin-1 maps every byte to one character and back: the file is
        # written back byte for byte.
        self.text = text
        self.path = Path(path) if path is not None else None
        chunks = text.split("\n")
        self._lines: list[str] = []
        self._ends: list[str] = []
        for k, chunk in enumerate(chunks):
            last = k == len(chunks) - 1
            if last and chunk == "":
                break
            cr = chunk.endswith("\r")
            self._lines.append(chunk[:-1] if cr else chunk)
            self._ends.append(("\r" if cr else "") + ("" if last else "\n"))
        self.places = places if places is not None else self._places_from_program()
        self.layer_rows = sum(1 for n in self.places if n.startswith("layer.") and
                              n.endswith(".cells"))
        self.pulse_lines = 1 + sum(1 for n in self.places if _PULSE_NAME.match(n) and
                                   n.endswith(".shape"))

    def _places_from_program(self) -> dict:
        try:
            case = check_text(self.to_bytes())
        except (RejectedInput, ProgramError) as e:
            raise ExecdataError(str(e)) from None
        places = {}
        for name, item in case["inputs"].items():
            kind = _INTERNAL.get(name) or _kind_or_none(name) or _json_kind(item["value"])
            line = item["line"] - 1
            if item["column"] is None:
                places[name] = Place(line, 0, 0, None, kind, "repeat count, null")
            else:
                start = item["column"] - 1
                places[name] = Place(line, start, start + len(item["text"]), item["text"], kind)
        return places

    @classmethod
    def read(cls, path: str | Path) -> "Execdata":
        path = Path(path)
        return cls(fileio.read_bytes(path).decode("latin-1"), path)

    @classmethod
    def from_bytes(cls, data: bytes) -> "Execdata":
        return cls(data.decode("latin-1"))

    def to_bytes(self) -> bytes:
        return self.text.encode("latin-1")

    def write(self, path: str | Path) -> None:
        fileio.write_bytes(path, self.to_bytes())

    def names(self) -> list[str]:
        """The known names this file has, layer rows expanded."""
        out = [n for n in NAMES if not n.startswith("layer.J.")]
        for j in range(1, self.layer_rows + 1):
            out += [f"layer.{j}.cells", f"layer.{j}.index", f"layer.{j}.index_end"]
        pulses = [n for n in NAMES if n.startswith("pulse.")]
        for n in range(2, self.pulse_lines + 1):
            out += [f"pulse.{n}.{p[6:]}" for p in pulses]
        return out

    def place(self, name: str) -> Place:
        if name not in _INTERNAL:
            kind_of(name)  # unknown names
        m = _LAYER_NAME.match(name)
        if m and int(m.group(1)) > self.layer_rows:
            raise ExecdataError(f"{name}: the layer table has {self.layer_rows} rows")
        place = self.places.get(name)
        if place is None:
            raise ExecdataError(f"{name}: not found in the input file")
        if place.token is None:
            raise ExecdataError(
                f"{name}: line {place.line + 1} gives this value without a token of its own "
                "(a repeat count, a comma or a '/'); write it out to change it")
        return place

    def token(self, name: str) -> str:
        return self.place(name).token

    def value(self, name: str):
        place = self.place(name)
        if place.kind == INT:
            return int(place.token)
        if place.kind == REAL:
            return parse_real(place.token)
        return place.token

    def folders(self) -> tuple[str, str, str]:
        """Results, discarded-results and continuation folder as written."""
        return tuple(self.places[k].token for k in
                     ("folder.results", "folder.discarded", "folder.continue"))

    def with_texts(self, texts: dict[str, str]) -> "Execdata":
        """A copy with the given names' tokens replaced by the given texts;
        the places after an edit on its line move with it."""
        lines = list(self._lines)
        places = dict(self.places)
        by_line: dict[int, list[tuple[str, str]]] = {}
        for name, text in texts.items():
            place = self.place(name) if name not in _INTERNAL else self.places[name]
            by_line.setdefault(place.line, []).append((name, text))
        for index, edits in by_line.items():
            line = lines[index]
            for name, text in sorted(edits, key=lambda e: -self.places[e[0]].start):
                old = self.places[name]
                line = line[:old.start] + text + line[old.end:]
                shift = len(text) - (old.end - old.start)
                for other, p in places.items():
                    if p.line == index and p.token is not None and p.start >= old.end and \
                            other != name:
                        places[other] = replace(p, start=p.start + shift, end=p.end + shift)
                places[name] = replace(old, end=old.start + len(text), token=text)
            lines[index] = line
        return Execdata("".join(l + e for l, e in zip(lines, self._ends)), self.path, places)

    def with_values(self, values: dict) -> "Execdata":
        """A copy with the named values changed (checked against each
        name's kind: integers for INT names, finite numbers for REAL)."""
        texts = {}
        for name, value in values.items():
            kind = self.place(name).kind if name not in _INTERNAL else _INTERNAL[name]
            texts[name] = format_value(kind, check_value(name, kind, value))
        return self.with_texts(texts)


def check_value(name: str, kind: str, value):
    """The value as int (INT) or float (REAL); ExecdataError when it is not one."""
    if kind == INT:
        if isinstance(value, str):
            try:
                value = int(value.strip())
            except ValueError:
                value = _real_or_error(name, value)
        if isinstance(value, float):
            if not value.is_integer():
                raise ExecdataError(f"{name} takes integers: {value!r} is not one")
            value = int(value)
        return int(value)
    if kind == REAL:
        if isinstance(value, str):
            value = _real_or_error(name, value)
        value = float(value)
        if not math.isfinite(value):
            raise ExecdataError(f"{name}: {value!r} is not a finite number")
        return value
    return value


def _real_or_error(name: str, text: str) -> float:
    try:
        return parse_real(text)
    except ValueError:
        raise ExecdataError(f"{name}: cannot read {text!r} as a number") from None
