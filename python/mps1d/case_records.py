"""The records a case is built from: a Layer of the structure, the Pulse,
a Boundary at each end, the dot layer's populations as the layer table's
columns 13..15, and the layers of a quarter-wave mirror (bragg)."""
from __future__ import annotations

import math
import re
from dataclasses import dataclass

from .case_quantities import LENGTH, MAX_COUNT, CaseError, real, si, whole

SHAPES = {"cw": 1, "sech": 2, "gaussian": 3, "turn-on": 4, "noise": 5}
POLARISATIONS = {"x": 1, "y": 2, "sigma+": 3, "sigma-": 4}
BOUNDARIES = {"absorbing": 1, "wall": 2}


def populations_to_columns(rho) -> tuple[float, float, float]:
    """Layer-table columns (13, 14, 15) of the populations rho11..rho44: the
    inverse of rho11 = (3 - 6 c13 - 2 c14 - c15)/12, rho22 = (3 + 6 c13 -
    2 c14 - c15)/12, rho33 = (3 + 4 c14 - c15)/12, rho44 = (1 + c15)/4 (the
    columns 14 and 15 are sqrt(3) u14 and sqrt(6) u15)."""
    rho = tuple(float(r) for r in rho)
    if len(rho) != 4 or min(rho) < 0 or abs(sum(rho) - 1.0) > 1e-9:
        raise CaseError(f"populations {rho}: give rho11..rho44, each >= 0, summing to 1")
    r11, r22, r33, r44 = rho
    return r22 - r11, 3.0 * r33 + r44 - 1.0, 4.0 * r44 - 1.0


def columns_to_populations(c) -> tuple[float, float, float, float]:
    c13, c14, c15 = c
    return ((3 - 6 * c13 - 2 * c14 - c15) / 12, (3 + 6 * c13 - 2 * c14 - c15) / 12,
            (3 + 4 * c14 - c15) / 12, (1 + c15) / 4)


def holds_dots(b) -> bool:
    """The medium's test of a cell's equilibrium values: it has dots when
    u13eq < 0 and either u14eq = u15eq = 0 or u14eq != 0 and u15eq < 0."""
    b13, b14, b15 = b
    return b13 < 0 and ((b14 == 0 and b15 == 0) or (b14 != 0 and b15 < 0))


@dataclass
class Layer:
    """One layer: its length (or cells), refractive index, an optional index
    at its right end (graded layer) and, for the dot layer, the start and
    equilibrium values of columns 13..15 (see populations_to_columns)."""
    length: object = None
    n: float = 1.0
    cells: int | None = None
    n_end: float = 0.0
    name: str | None = None
    start: tuple = (0.0, 0.0, 0.0)
    equilibrium: tuple = (0.0, 0.0, 0.0)
    unused: float = 0.0

    @property
    def is_dots(self) -> bool:
        return any(v != 0 or math.isnan(v) for v in self.equilibrium)

    def title(self, row: int | None = None) -> str:
        """How messages name the layer: "layer 3 (spacer)", its 1-based row
        and its name when it has them."""
        number = "" if row is None else f" {row}"
        return f"layer{number} ({self.name})" if self.name else f"layer{number}"

    def cell_count(self, dz: float, notes: list, row: int | None = None) -> int:
        """The whole cells of dz the layer takes (its cells, or its length
        rounded, which a note reports); `row` names it in messages."""
        label = self.title(row)
        if self.cells is not None:
            if self.length is not None:
                raise CaseError(f"{label}: give its length or its cells, not both")
            return whole(self.cells, f"{label} cells", 0, MAX_COUNT)
        if self.length is None:
            raise CaseError(f"{label}: give its length or its cells")
        length = si(self.length, LENGTH, f"{label} length", positive=True)
        if not length / dz <= MAX_COUNT:
            raise CaseError(f"{label} length: {self.length!r} is more than {MAX_COUNT} cells")
        cells = int(round(length / dz))
        if cells < 1:
            raise CaseError(f"{label} length: {self.length!r} is less than half a cell "
                            f"of {dz * 1e9:g} nm")
        if abs(cells * dz - length) > 1e-9 * length:
            notes.append(f"{label}: {length * 1e9:.6g} nm is {cells} cells of {dz * 1e9:g} nm "
                         f"= {cells * dz * 1e9:.6g} nm")
        return cells


@dataclass
class Pulse:
    """The pulse: shape and polarisation by name (or file code), `fwhm` of
    the field envelope or the pulse `length` T, `delay`, and `amplitude`
    [V/m] or `area` [rad].  `wavelength` None: the transition's resonance.
    `origin` 0: injected next to the right end."""
    shape: object = "gaussian"
    fwhm: object = None
    delay: object = 0.0
    amplitude: object = None
    area: float | None = None
    polarisation: object = "x"
    wavelength: object = None
    length: object = None
    origin: int = 0
    noise: float = 0.0
    id: int = 1
    unused: int = 0
    keep_delay: bool = False   # write the delay as given (a file read back as it is)

    def code(self, table, value, what):
        if isinstance(value, int) and not isinstance(value, bool):
            if value not in table.values():
                raise CaseError(f"pulse {what} code {value!r}: one of "
                                f"{', '.join(map(str, table.values()))}")
            return value
        if value not in table:
            raise CaseError(f"pulse {what} {value!r}: one of {', '.join(table)}")
        return table[value]


@dataclass
class Boundary:
    kind: object = "absorbing"     # "absorbing", "wall" or a file code
    reflection: float = 0.0
    word: str = ""

    @classmethod
    def of(cls, given, side):
        if isinstance(given, Boundary):
            found = given
        elif isinstance(given, tuple) and len(given) == 2:
            found = cls(given[0], given[1], f"{side}_boundary")
        else:
            found = cls(given, 0.0, f"{side}_boundary")
        # a reflection coefficient, at most total (a larger one would amplify)
        found.reflection = real(found.reflection, f"{side} reflection coefficient", -1.0, 1.0)
        if not re.fullmatch(r"\S*", found.word or ""):
            raise CaseError(f"{side} boundary word {found.word!r}: one word")
        return found

    def code(self):
        if isinstance(self.kind, int) and not isinstance(self.kind, bool):
            if self.kind not in BOUNDARIES.values():
                raise CaseError(f"boundary code {self.kind!r}: 1 (absorbing) or 2 (wall)")
            return self.kind
        if self.kind not in BOUNDARIES:
            raise CaseError(f"boundary {self.kind!r}: one of {', '.join(BOUNDARIES)}")
        return BOUNDARIES[self.kind]


def bragg(pairs, n_high, n_low, wavelength, *, low_first=False, name=None) -> list:
    """The layers of a quarter-wave mirror: `pairs` pairs of indices
    (n_high, n_low), the high index first unless `low_first`, each layer
    lambda/(4 n) thick for the vacuum wavelength `wavelength` (a length:
    "955 nm", 0.955e-6, ...).  `name` names the layers NAME 1H, NAME 1L,
    NAME 2H, ...  `Case.bragg` appends them to a case.

    At `wavelength` and normal incidence, N pairs from a medium of index n0
    onto a substrate of index n_s, n1 the index of the layer facing n0 and
    n2 the other, reflect
        R = ((1 - (n1/n2)^(2N) n_s/n0) / (1 + (n1/n2)^(2N) n_s/n0))^2
    (each pair turns the admittance Y behind it into (n1/n2)^2 Y).  The
    microcavity example's mirrors of GaAs and AlAs (3.511, 2.984): 15 pairs,
    high first, from air onto the GaAs spacer reflect 0.99137; 20 pairs, low
    first, from the spacer onto a GaAs substrate 0.99404.  The file's
    lengths are whole cells, so a case's layers hold the quarter to half a
    cell (a note gives each length used)."""
    pairs = whole(pairs, "bragg pairs", 1, MAX_COUNT)
    high = real(n_high, "bragg n_high", positive=True)
    low = real(n_low, "bragg n_low", positive=True)
    lam = si(wavelength, LENGTH, "bragg wavelength", positive=True)
    order = ((low, "L"), (high, "H")) if low_first else ((high, "H"), (low, "L"))
    return [Layer(lam / (4 * n), n, name=None if name is None else f"{name} {k}{tag}")
            for k in range(1, pairs + 1) for n, tag in order]
