"""Named values of an mps1d input file ("execdata.txt"), found by the file's
structure and changed in place.

The program reads the file from top to bottom in a fixed order (README, "The
input file"); this module walks it the same way -- the same records, blank
lines skipped where the program skips them, tables ending at a line that
starts with '#', free-format values split at blanks, TABs and commas -- and
notes where each value stands (line, first and last character).  Changing a
value replaces exactly those characters: everything else of the file (TABs,
comments, line ends, other bytes) is kept as it was.

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
"""
from __future__ import annotations

import math
import re
from dataclasses import dataclass
from pathlib import Path

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
MAX_LAYERS = 500
MAX_MONITORS = 98


class ExecdataError(ValueError):
    """The file cannot be walked, or a name or value cannot be used."""


def known_names_text() -> str:
    return ", ".join(NAMES)


def kind_of(name: str) -> str:
    """The value kind (INT or REAL) of a known name; ExecdataError otherwise."""
    if name in NAMES:
        return NAMES[name][0]
    m = _LAYER_NAME.match(name)
    if m and int(m.group(1)) >= 1:
        return NAMES["layer.J." + m.group(2)][0]
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


# --------------------------------------------------------------------------
# Free-format reading of one line (the program's strict rules).

_BLANKS = " \t"


def _is_blank_text(text: str) -> bool:
    return all(c in " \t\r" for c in text)


def count_tab_fields(text: str) -> int:
    text = text.rstrip(" ")
    return sum(1 for k, c in enumerate(text) if c != "\t" and (k == 0 or text[k - 1] == "\t"))


def _before_hash(text: str) -> str:
    return text.split("#", 1)[0].rstrip(" ")


class _LineEnds(Exception):
    pass


def read_items(line: str, kinds: list[str]) -> list[tuple]:
    """Token spans (start, end, token) of the items of one line, or a tuple
    ('null'|'repeat'|'slash',) where the line gives no token of its own.
    Raises _LineEnds when the line ends before the last item."""
    n = len(line)
    pos = 0
    comma_taken = True
    repeats = 0
    repeat_how = ""
    out: list = []

    def blank(p: int) -> bool:
        c = line[p]
        if c in _BLANKS:
            return True
        return c == "\r" and _is_blank_text(line[p:])

    def ends_value(p: int) -> bool:
        return blank(p) or line[p] in ",;/"

    for i, kind in enumerate(kinds):
        if repeats > 0:
            repeats -= 1
            out.append((repeat_how,))
            continue
        null = False
        while True:
            while pos < n and blank(pos):
                pos += 1
            if pos >= n:
                raise _LineEnds(f"the line ends before value {i + 1} of {len(kinds)}")
            c = line[pos]
            if c == "/":
                out.extend([("slash",)] * (len(kinds) - i))
                return out
            if c not in ",;":
                break
            pos += 1
            if comma_taken:
                null = True
                break
            comma_taken = True
        if null:
            out.append(("null",))
            continue
        # A repeat count r*value or r* (r null values).
        m = re.match(r"\d+\*", line[pos:])
        count = 1
        if m:
            count = int(m.group(0)[:-1])
            if count == 0:
                raise _LineEnds("zero repeat count")
            pos += len(m.group(0))
            if pos >= n or ends_value(pos):
                repeats = count - 1
                repeat_how = "null"
                comma_taken = False
                out.append(("null",))
                continue
        start = pos
        if kind == TEXT and line[pos] in "'\"":
            quote = line[pos]
            pos += 1
            while True:
                if pos >= n:
                    raise _LineEnds("string not closed on its line")
                if line[pos] == quote:
                    if pos + 1 < n and line[pos + 1] == quote:
                        pos += 2
                        continue
                    pos += 1
                    break
                pos += 1
        else:
            while pos < n and not ends_value(pos):
                pos += 1
        token = line[start:pos]
        if count > 1:
            repeats = count - 1
            repeat_how = "repeat"
            out.append(("repeat",))
        else:
            out.append((start, pos, token))
        while pos < n and blank(pos):
            pos += 1
        comma_taken = pos < n and line[pos] in ",;"
        if comma_taken:
            pos += 1
    return out


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
# The walk over the file.

class _Walk:
    def __init__(self, lines: list[str]):
        self.lines = lines
        self.next = 0
        self.places: dict[str, Place] = {}
        self.layer_rows = 0

    def error(self, line: int | None, what: str, why: str):
        where = f"line {line + 1}" if line is not None else "end of file"
        raise ExecdataError(f"execdata.txt, {where}: cannot read {what}: {why}")

    def at_end(self) -> bool:
        return self.next >= len(self.lines)

    def record(self, what: str, checked: bool = True) -> int | None:
        if self.at_end():
            if checked:
                self.error(None, what, "the file ends here")
            return None
        self.next += 1
        return self.next - 1

    def skip_blank_lines(self) -> bool:
        while not self.at_end() and _is_blank_text(self.lines[self.next]):
            self.next += 1
        return not self.at_end()

    def read(self, kinds, what, names=None):
        self.skip_blank_lines()
        return self.read_row(kinds, what, names)

    def read_row(self, kinds, what, names=None):
        if self.at_end():
            self.error(None, what, "the file ends here")
        index = self.next
        try:
            items = read_items(self.lines[index], kinds)
        except _LineEnds as e:
            self.error(index, what, str(e))
        self.next = index + 1
        for k, name in (names or {}).items():
            item = items[k]
            if len(item) == 3:
                self.places[name] = Place(index, item[0], item[1], item[2], kinds[k])
            else:
                self.places[name] = Place(index, 0, 0, None, kinds[k], item[0])
        return index, items

    def token(self, items, k, index, what) -> str:
        item = items[k]
        if len(item) != 3:
            self.error(index, what, f"value {k + 1} is given as a {item[0]} value")
        return item[2]

    def table(self, kind: str, what: str, label: bool = False):
        while True:
            index = self.record(what)
            text = self.lines[index]
            if text.startswith("#"):
                return
            fields = count_tab_fields(_before_hash(text))
            self.next -= 1
            if fields == 0:
                self.record(what)
                continue
            self.read_row(([TEXT] if label else []) + [kind] * fields, what)

    def folder(self, name: str, what: str):
        index = self.record(what)
        text = self.lines[index].split("#", 1)[0].rstrip(" ")
        self.places[name] = Place(index, 0, len(text), text, TEXT)

    def walk(self):
        self.folder("folder.results", "the results folder")
        self.folder("folder.discarded", "the discarded-results folder")
        self.folder("folder.continue", "the continuation folder")
        self.read([INT], "the number of levels")
        # level table: a heading, then rows up to a line starting with '#'
        self.record("the level table heading")
        while True:
            self.skip_blank_lines()
            index = self.record("a level table row")
            if self.lines[index].startswith("#"):
                break
            self.next -= 1
            self.read([TEXT, REAL, INT], "a level table row")
        self.read([REAL], "the density of resonant dipoles", {0: "dots.density"})
        self.table(INT, "a label table row", label=True)
        self.table(INT, "a row of the transition table")
        self.read([REAL], "the scale factor of the long times", {0: "times.scale"})
        self.table(REAL, "a row of the population and spin-flip times")
        self.read([REAL], "the scale factor of the dephasing times", {0: "dephasing.scale"})
        self.table(REAL, "a row of the dephasing times")
        self.table(REAL, "a row of the dipole moments")
        self.read([INT], "the number of pulses")
        self.read([INT, INT, REAL, REAL, INT, INT, REAL, INT, REAL, INT, REAL, INT],
                  "the pulse line",
                  {1: "pulse.shape", 2: "pulse.wavelength", 3: "pulse.fwhm",
                   6: "pulse.amplitude", 7: "pulse.polarisation", 8: "pulse.noise",
                   9: "pulse.origin", 10: "pulse.delay"})
        self.record("a comment line", checked=False)
        self.record("a comment line", checked=False)
        self.read([INT], "the left boundary code")
        self.read([INT], "the right boundary code")
        self.read([REAL], "the left reflection coefficient", {0: "boundary.left.reflection"})
        self.read([REAL], "the right reflection coefficient", {0: "boundary.right.reflection"})
        self.record("a comment line", checked=False)
        self.read([TEXT] * 2 + [REAL], "the Courant number line", {2: "run.courant"})
        self.read([TEXT] * 6 + [INT], "the LL line", {6: "run.LL"})
        self.read([TEXT] * 2 + [INT], "the run number line")
        self.read([TEXT] * 5 + [INT], "the J_final line", {5: "run.J_final"})
        self.read([TEXT] * 5 + [INT], "the Nt line", {5: "run.Nt"})
        self.read([TEXT] * 2 + [INT], "the iteration limit line", {2: "run.iteration_limit"})
        self.read([TEXT, REAL], "the tolerance line", {1: "run.tolerance"})
        index, items = self.read([INT], "the number of monitor cells")
        token = self.token(items, 0, index, "the number of monitor cells")
        try:
            m = int(token)
        except ValueError:
            self.error(index, "the number of monitor cells", f"not an integer: {token!r}")
        if not 0 <= m <= MAX_MONITORS:
            self.error(index, "the number of monitor cells", f"{m} is outside 0..{MAX_MONITORS}")
        for _ in range(m):
            self.read([INT], "a monitor cell")
        self.record("a comment line", checked=False)
        index, items = self.read([REAL, INT, INT], "the spatial line", {0: "structure.dz"})
        first = self.token(items, 1, index, "the first cavity layer")
        for j in range(1, MAX_LAYERS + 1):
            if not self.skip_blank_lines():
                break
            self.read([INT] + [REAL] * 9, "a layer row",
                      {0: f"layer.{j}.cells", 2: f"layer.{j}.index", 3: f"layer.{j}.index_end"})
            self.layer_rows = j
            if j == 1 and _int_or_none(first) == 1:
                break


def _int_or_none(token: str):
    try:
        return int(token)
    except ValueError:
        return None


# --------------------------------------------------------------------------

class Execdata:
    """The text of an input file and the places of its named values."""

    def __init__(self, text: str, path: str | Path | None = None):
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
        walk = _Walk(self._lines)
        walk.walk()
        self.places = walk.places
        self.layer_rows = walk.layer_rows

    @classmethod
    def read(cls, path: str | Path) -> "Execdata":
        path = Path(path)
        return cls(path.read_bytes().decode("latin-1"), path)

    @classmethod
    def from_bytes(cls, data: bytes) -> "Execdata":
        return cls(data.decode("latin-1"))

    def to_bytes(self) -> bytes:
        return self.text.encode("latin-1")

    def write(self, path: str | Path) -> None:
        Path(path).write_bytes(self.to_bytes())

    def names(self) -> list[str]:
        """The known names this file has, layer rows expanded."""
        out = [n for n in NAMES if not n.startswith("layer.J.")]
        for j in range(1, self.layer_rows + 1):
            out += [f"layer.{j}.cells", f"layer.{j}.index", f"layer.{j}.index_end"]
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
                f"{name}: line {place.line + 1} gives this value as a {place.how} value "
                "(a repeat count, comma or '/'); write it out to change it")
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
        """A copy with the given names' tokens replaced by the given texts."""
        lines = list(self._lines)
        by_line: dict[int, list[tuple[Place, str]]] = {}
        for name, text in texts.items():
            place = self.place(name) if name not in _INTERNAL else self.places[name]
            by_line.setdefault(place.line, []).append((place, text))
        for index, edits in by_line.items():
            line = lines[index]
            for place, text in sorted(edits, key=lambda e: -e[0].start):
                line = line[:place.start] + text + line[place.end:]
            lines[index] = line
        return Execdata("".join(l + e for l, e in zip(lines, self._ends)), self.path)

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
