"""A case of mps1d written by name, in physical units.

    from mps1d.case import Case, Pulse
    case = Case(dz="5 nm", block_steps=5000, time="250 fs", transition_energy="1.3 eV")
    case.layer("0.5 um", n=1.0).layer("1 um", n=3.5)
    case.dots("100 nm", n=3.5, populations=(1, 0, 0, 0))      # all dots in level 1
    case.layer("1 um", n=3.5).layer("0.5 um", n=1.0)
    case.pulse = Pulse("sech", fwhm="100 fs", area=2 * math.pi, polarisation="sigma+")
    case.monitors = ["dots"]                                   # the dot layer's middle cell
    case.write("run/rabi")        # execdata.txt, result folders, checked by the program
    run = case.run("run/rabi")    # ... and run: mps1d.load("run/rabi")

Quantities are numbers in SI units (s, m, V/m, C m, m^-3) or texts with a
unit: "50 fs", "0.2 ns", "200 nm", "1.5 um", "1.3 eV", "0.5 meV",
"6.4e-29 C m", "1.33 e nm", "1e18 cm^-3"; a pair (50, "fs") is the same.

What the file cannot hold exactly is rounded, and `case.notes()` says how:
layer lengths become whole cells (the length used is reported), a pulse
delay counts in whole pulse lengths (the program truncates delay/length),
a simulated time becomes whole blocks of `block_steps` steps.

The structure holds at most one dot layer.  The program puts its dots in a
region of the dot layer's thickness centred between the cavity boundaries
(the first and last cavity layer of the file), so the cavity is chosen
around the dot layer: the dot layer with both neighbours when they are
equally thick (the layout of the bundled examples), else the dot layer
alone.  `cavity=(first, last)` (layer names or 1-based rows) overrides it;
a note says when the program's dot region then misses the dot layer.

Pulses: shape "cw", "sech", "gaussian", "turn-on" or "noise"; polarisation
"x", "y", "sigma+" (code 3, the sense that drives the 1-2 transition) or
"sigma-" (code 4, the opposite sense; the field couples to 1-2 only, so it
passes the dots).  `fwhm` is the full width at half maximum of the field
envelope.  For the Gaussian (exp(-(t/tau)^2), tau = FWHM/(2 sqrt(ln 2)))
that is the number the file holds; the secant envelope is
sech(20 (t - T/2)/T) over the pulse length T of the file, whose FWHM is
T acosh(2)/10, so T = 7.59 FWHM is written (give `length=` to set T
itself).  `area` A = p (integral of E dt)/hbar, with p the 1-2 dipole
moment and E the envelope of the circular field that drives 1-2: all of a
sigma+ pulse, half of an x or y pulse (a linear field is two circular ones
of half its amplitude), so a linear pulse of area A has twice the amplitude
of a sigma+ pulse of area A.  The integral of the envelope is
tau sqrt(pi) (Gaussian) or pi T/20 (sech).  A Gaussian's delay is the
time of its peak: the program peaks it m widths tau after step 0 (m = the
whole FWHMs in the delay of its line), so the nearest m is written, and a
note gives the peak's step; a delay under 3 tau cuts off its front,
which a note says.  Other pulses start m whole lengths after step 0.

This module assembles and writes the case; the quantities, units and
value checks are in ``case_quantities``, Layer, Pulse and Boundary in
``case_records``, the pulse line's arithmetic in ``case_pulse``, the
file's values and text in ``case_file``, the warnings of pulses in
``case_warnings`` and the program's check and run options in
``case_program`` (their names are importable from here as well).
"""
from __future__ import annotations

import copy
import math
import re
from dataclasses import dataclass
from pathlib import Path

from . import fileio, progress
from . import program as _program
from .case_file import cell_values, end_values, pulse_values, render_execdata, table_values
from .case_program import check_folder, ensemble_option, run_options, same_value
from .case_pulse import pulse_items, pulse_of_line
from .case_quantities import (CHANNELS, DELAY_UNITS, DENSITY, DIPOLE, DURATION_UNITS,
                              ENERGY_UNITS, EV, FIELD, FWHM_FACTOR, HBAR, HC, LENGTH, MAX_COUNT,
                              MAX_STEPS, SECH_FWHM_PER_LENGTH, SQRT3, SQRT6, TIME, CaseError,
                              check_times, level_table, quantity, real, show_time, si, steps_of,
                              whole)
from .case_records import (BOUNDARIES, POLARISATIONS, SHAPES, Boundary, Layer, Pulse, bragg,
                           columns_to_populations, holds_dots, populations_to_columns)
from .case_warnings import CaseWarning, has_dots, pulse_warnings, transitions, warn

__all__ = [
    "BOUNDARIES", "Boundary", "CHANNELS", "Case", "CaseError", "CaseWarning", "DEFAULT_DEPHASING",
    "DEFAULT_LEVELS", "DEFAULT_RELAXATION", "DELAY_UNITS", "DENSITY", "DIPOLE", "DURATION_UNITS",
    "ENERGY_UNITS",
    "EV", "FIELD", "FWHM_FACTOR", "HBAR", "HC", "LENGTH", "Layer", "MAX_COUNT", "MAX_STEPS",
    "POLARISATIONS", "Pulse", "SECH_FWHM_PER_LENGTH", "SHAPES", "SQRT3", "SQRT6", "TIME",
    "Written", "check_folder", "columns_to_populations", "holds_dots", "populations_to_columns",
    "bragg", "quantity", "real", "si", "whole",
]

# The relaxation times of the bundled examples: L(i, j), the time of the
# transfer from level i to level j (trion recombination 2 -> 1, spin flips
# between the ground states 1, 3 and between the trions 2, 4).
DEFAULT_RELAXATION = {(1, 3): "0.5 ns", (2, 1): "1 ns", (2, 4): "0.2 ns", (3, 1): "0.5 ns",
                      (4, 2): "0.2 ns"}
# The dephasing time of every pair of levels when none is given.
DEFAULT_DEPHASING = "10 fs"
DEFAULT_LEVELS = (("trans_12", 0), ("split_13", None), ("trans_34", 0), ("split_24", None))



@dataclass
class Written:
    """What `Case.write` wrote: the file, the program's report of it (its
    `--check --json`), and the roundings of the case and its warnings."""
    folder: Path
    check: dict
    notes: list

    @property
    def values(self) -> dict:
        return {k: v["value"] for k, v in self.check["inputs"].items()}

    @property
    def warnings(self) -> list:
        """The notes that warn (without their "warning: ")."""
        return [n[len("warning: "):] for n in self.notes if n.startswith("warning: ")]

    def __repr__(self) -> str:
        v = self.values
        layers = sum(1 for k in v if k.startswith("layer.") and k.endswith(".cells"))
        cells = sum(v[f"layer.{k}.cells"] for k in range(1, layers + 1))
        LL, Nt = v["run.LL"], v["run.Nt"]
        dt = v["run.courant"] * v["structure.dz"] / 299792458.0
        last = (Nt // LL + 1) * LL if LL else Nt
        return (f"<Written {self.folder}: {cells} cells, {last} steps = "
                f"{show_time(last * dt)}, {_count(layers, 'layer')}, "
                f"{_count(v['pulses.count'], 'pulse')}, {_count(len(self.notes), 'note')} "
                f"({_count(len(self.warnings), 'warning')})>")


class Case:
    """A run of mps1d by name and unit (see the module's description).

    What applies when it is not given:

    relaxation  the bundled examples' times, L(i, j) the transfer from level
                i to level j: trion recombination (2,1) 1 ns, spin flips
                between the ground states (1,3) = (3,1) 0.5 ns and between
                the trions (2,4) = (4,2) 0.2 ns (DEFAULT_RELAXATION)
    dephasing   10 fs for every pair of levels (DEFAULT_DEPHASING); a T2
                shorter than the pulse breaks the coherent turn a pulse
                area gives, so give the material's (e.g. "10 ps")
    dz 5 nm, courant 0.5, block_steps 5000, transition_energy 1.3 eV,
    density 1e24 m^-3, dipole 6.4e-29 C m, both ends absorbing.  The
    pulse has no default: give one (Pulse(...)) or several.

    The notes (`notes()`, `Written.notes`) say when the default relaxation
    or dephasing times apply, and hold the program's warnings of the pulses
    (as CaseWarning too; see ``case_warnings``): a pulse that peaks after
    the run's last step or injects nothing, one more than 20 % off the
    nearest transition of the dots in frequency, and a record that ends
    less than 3 T2 after a pulse's peak (T2 that of the coherence the pulse
    drives).  3<->4 counts with --both-transitions: notes(both_transitions=
    True), write(..., both_transitions=True) and run(..., both_transitions=
    True) warn as that run does.
    """

    def __init__(self, *, dz="5 nm", courant=0.5, block_steps=5000, steps=None, time=None,
                 transition_energy="1.3 eV", levels=None, density=1e24,
                 relaxation=None, relaxation_scale=1.0, dephasing=None, dephasing_scale=1.0,
                 dipole=6.4e-29, left="absorbing", right="absorbing", monitors=(), pulse=None,
                 layers=(), cavity=None, folders=("Results", "DiscardedResults", "Continue"),
                 iteration_limit=20, tolerance=1e-12, run_number=0, continue_from=0,
                 labels=(("spin_up", (1, 2)), ("spin_dn", (3, 4))), transitions=None):
        self.dz, self.courant, self.block_steps = dz, courant, block_steps
        self.steps, self.time = steps, time
        self.transition_energy, self.levels = transition_energy, levels
        self.density = density
        self.relaxation = DEFAULT_RELAXATION if relaxation is None else relaxation
        self.relaxation_scale, self.dephasing_scale = relaxation_scale, dephasing_scale
        self.dephasing = DEFAULT_DEPHASING if dephasing is None else dephasing
        self.dipole = dipole
        self.left, self.right = left, right
        self.monitors = list(monitors)
        # One Pulse, or several (pump and probe): they add up where they start.
        if pulse is None:
            pulse = Pulse()
        self.pulses = [pulse] if isinstance(pulse, Pulse) else list(pulse)
        if not self.pulses:
            raise CaseError("pulse: give at least one")
        self.layers = [copy.copy(l) for l in layers]
        self.cavity = cavity
        self.folders = tuple(folders)
        self.iteration_limit, self.tolerance = iteration_limit, tolerance
        self.run_number, self.continue_from = run_number, continue_from
        self.labels = labels
        self.transitions = transitions or [[0, 1, 0, 0], [1, 0, 0, 0], [0, 0, 0, 1], [0, 0, 1, 0]]

    @property
    def pulse(self):
        """The first pulse (its amplitude is the field scale E0)."""
        return self.pulses[0]

    @pulse.setter
    def pulse(self, value):
        """A Pulse replaces the first; a list of them replaces every pulse."""
        if isinstance(value, Pulse):
            self.pulses[0] = value
        else:
            self.pulses = list(value)

    # -- structure ---------------------------------------------------------

    def layer(self, length=None, n=1.0, *, cells=None, n_end=0.0, name=None) -> "Case":
        """Appends a layer without dots (n_end: graded towards that index)."""
        label = Layer(name=name).title(len(self.layers) + 1)
        self.layers.append(Layer(length, real(n, f"{label} index n", positive=True), cells,
                                 real(n_end, f"{label} n_end", low=0.0), name))
        return self

    def bragg(self, pairs, n_high, n_low, wavelength, *, low_first=False, name=None) -> "Case":
        """Appends a quarter-wave mirror: `pairs` pairs of layers of index
        `n_high` and `n_low`, each a quarter of `wavelength` (in vacuum)
        thick inside, lambda/(4 n); the high index first unless `low_first`.
        See the module's `bragg`, which returns the layers."""
        self.layers.extend(bragg(pairs, n_high, n_low, wavelength, low_first=low_first,
                                 name=name))
        return self

    def dots(self, length=None, n=1.0, *, populations=(0.5, 0.0, 0.5, 0.0), equilibrium=None,
             cells=None, name="dots") -> "Case":
        """Appends the dot layer: its start populations rho11..rho44 and the
        equilibrium they relax to (default: the start populations)."""
        start = populations_to_columns(populations)
        eq = start if equilibrium is None else populations_to_columns(equilibrium)
        if not holds_dots((eq[0], eq[1] / SQRT3, eq[2] / SQRT6)):
            raise CaseError(f"equilibrium populations {equilibrium or populations}: the medium "
                            "counts a cell as holding dots only when its equilibrium has "
                            "rho22 < rho11 and either rho33 = rho44 = 1/4 or rho44 < 1/4 "
                            "with 3 rho33 + rho44 != 1")
        label = Layer(name=name).title(len(self.layers) + 1)
        self.layers.append(Layer(length, real(n, f"dot {label} index n", positive=True), cells,
                                 0.0, name, start, eq))
        return self

    # -- building the file -------------------------------------------------

    def _layer_row(self, ref, rows) -> int:
        if isinstance(ref, int):
            if not 1 <= ref <= len(rows):
                raise CaseError(f"cavity layer {ref}: the structure has {len(rows)} layers")
            return ref
        for k, layer in enumerate(self.layers, 1):
            if layer.name == ref:
                return k
        raise CaseError(f"cavity layer {ref!r}: no layer of that name")

    def _build(self, stacklevel=3, both_transitions=False):
        """(text, expected values by name, notes, dot cells or None); the
        warnings (of a run with or without --both-transitions) name the line
        `stacklevel` frames up (the user's)."""
        notes = []
        dz, dt, LL, Nt = self._steps(notes)
        levels, transition_J = self._levels()
        (long, deph, dip), scales = self._tables()
        density = si(self.density, DENSITY, "density", low=0.0)
        self._check_run(LL, Nt)

        rows = self.layers
        cells, starts, dot_cells, first, last, region = self._structure(dz, notes)
        monitors = [self._monitor_cell(m, dz, cells, starts) for m in self.monitors]

        if not all(isinstance(p, Pulse) for p in self.pulses):
            raise CaseError(f"pulse: give Pulse objects, not {self.pulses!r}")
        pulses = []
        for n, p in enumerate(self.pulses, 1):
            try:
                pulses.append(pulse_items(p, dt, transition_J, (dip[0][1], dip[2][3]), notes,
                                          starts[-1]))
            except CaseError as e:   # of several pulses, say which
                if len(self.pulses) == 1:
                    raise
                text = str(e)
                raise CaseError(f"pulse {n} {text[6:]}" if text.startswith("pulse ")
                                else f"pulse {n}: {text}") from None
        notes += self._default_notes()
        ts = transitions(levels, deph, scales[1], both_transitions) \
            if has_dots(dot_cells, region, density) else []
        warn(notes, pulse_warnings(pulses, dt, (Nt // LL + 1) * LL, ts), stacklevel)

        bl, br = Boundary.of(self.left, "left"), Boundary.of(self.right, "right")
        run = (("courant", float(self.courant)), ("LL", LL), ("number", int(self.run_number)),
               ("J_final", int(self.continue_from)), ("Nt", Nt),
               ("iteration_limit", int(self.iteration_limit)),
               ("tolerance", float(self.tolerance)))  # checked by _steps and _check_run

        v = self._level_values(levels, density)
        v.update(table_values((self.transitions, long, deph, dip), scales))
        v.update(pulse_values(pulses))
        v.update(end_values(bl, br))
        v.update(("run." + name, x) for name, x in run)
        v.update(cell_values(monitors, (dz, first, last), rows, cells))
        return render_execdata(v, bl, br, pulses, run, rows), v, notes, dot_cells

    def _default_notes(self) -> list:
        """Which relaxation and dephasing times apply without being given."""
        out = []
        if self.relaxation is DEFAULT_RELAXATION:
            out.append("relaxation times not given: the bundled examples', trion recombination "
                       "(2,1) 1 ns, spin flips (1,3) = (3,1) 0.5 ns and (2,4) = (4,2) 0.2 ns")
        if self.dephasing is DEFAULT_DEPHASING:
            out.append(f"dephasing times not given: {DEFAULT_DEPHASING} for every pair of levels")
        return out

    def _tables(self):
        """((relaxation, dephasing, dipole) tables, (relaxation_scale,
        dephasing_scale)), in SI units, checked."""
        long = level_table(self.relaxation, TIME, "relaxation time", low=0.0)
        deph = level_table(self.dephasing, TIME, "dephasing time", low=0.0)
        scales = (real(self.relaxation_scale, "relaxation_scale", positive=True),
                  real(self.dephasing_scale, "dephasing_scale", positive=True))
        check_times(long, deph, scales)
        dip = level_table(self.dipole, DIPOLE, "dipole moment", ((0, 1), (1, 0), (2, 3), (3, 2)))
        return (long, deph, dip), scales

    def _level_values(self, levels, density) -> dict:
        """The folders, the level table, the dipole density and the labels by name."""
        v = {}
        v["folder.results"], v["folder.discarded"], v["folder.continue"] = self.folders
        v["levels.count"] = 4
        for k, (name, energy, unit) in enumerate(levels, 1):
            v[f"level.{k}.name"], v[f"level.{k}.energy"], v[f"level.{k}.unit"] = name, energy, unit
        v["dots.density"] = density
        for k, (label, values) in enumerate(self.labels, 1):
            v[f"label.{k}.name"] = label
            for j, x in enumerate(values, 1):
                v[f"label.{k}.{j}"] = int(x)
        return v

    def _check_run(self, LL, Nt):
        """The run control and the folders, each named when it cannot be written."""
        whole(self.run_number, "run_number", -MAX_COUNT - 1, MAX_COUNT)
        J = whole(self.continue_from, "continue_from", 0, Nt)
        if J % LL:
            raise CaseError(f"continue_from: {self.continue_from!r} is not a whole number of "
                            f"blocks of {LL} steps")
        whole(self.iteration_limit, "iteration_limit", 1, MAX_COUNT)
        real(self.tolerance, "tolerance", positive=True)
        if not (isinstance(self.folders, tuple) and len(self.folders) == 3):
            raise CaseError(f"folders: {self.folders!r}: give three folder names")
        for f in self.folders:
            # a folder line holds the text before a '#', on one line
            if not isinstance(f, str) or not f.strip() or f != f.strip() or "#" in f \
                    or any(ord(ch) < 32 for ch in f):
                raise CaseError(f"folder {f!r}: a name without '#', control characters or "
                                "blanks around it")
        for name, values in self.labels:
            if not re.fullmatch(r"\S+", str(name)):
                raise CaseError(f"label {name!r}: one word")
            for x in values:
                whole(x, f"label {name} level", 1, 4)
        if not (len(self.transitions) == 4 and all(len(row) == 4 for row in self.transitions)):
            raise CaseError("transitions: give 4 rows of 4 values")
        for row in self.transitions:
            for x in row:
                whole(x, "transitions entry", 0, 1)


    def _steps(self, notes):
        """dz [m], dt [s], the block length and the total steps."""
        dz = si(self.dz, LENGTH, "dz", positive=True)
        # the leapfrog scheme is stable for S <= 1 (and S/n <= 1, which the program checks)
        dt = real(self.courant, "courant", positive=True, high=1.0) * dz / 299792458.0
        LL = whole(self.block_steps, "block_steps", 1, MAX_STEPS)
        if (self.steps is None) == (self.time is None):
            raise CaseError("give the total steps (steps=) or the simulated time (time=), "
                            "one of them")
        if self.steps is not None:
            Nt = whole(self.steps, "steps", 0, MAX_STEPS)
        else:
            wanted = si(self.time, TIME, "time", positive=True)
            blocks = max(1, math.ceil(steps_of(wanted, dt, "time", self.time) / LL - 1e-9))
            Nt = (blocks - 1) * LL
            if Nt > MAX_STEPS:
                raise CaseError(f"time: {self.time!r} is more than the {MAX_STEPS} steps a "
                                "run can count")
            notes.append(f"time {self.time}: {blocks} blocks of {LL} steps of "
                         f"{dt * 1e15:.6g} fs = {show_time(blocks * LL * dt)} (Nt {Nt})")
        return dz, dt, LL, Nt

    def _levels(self):
        """The level rows and the transition energy [J]."""
        # rows 1 and 3 the transition, 2 and 4 zero
        if self.levels is not None:
            if len(self.levels) != 4 or not all(len(row) == 3 for row in self.levels):
                raise CaseError("levels: give four rows (name, energy, unit code)")
            levels = [(n, real(e, f"level {n} energy"), whole(u, f"level {n} unit", 0, 2))
                      for n, e, u in self.levels]
            real(levels[0][1], "levels: the transition energy (level 1)", positive=True)
        else:
            energy, unit = quantity(self.transition_energy, {u: 1.0 for u in ENERGY_UNITS},
                                    "transition energy")
            if unit is None:
                raise CaseError("transition energy: give its unit (eV, meV or ueV)")
            real(energy, "transition energy", positive=True)
            code = ENERGY_UNITS[unit]
            levels = [(n, energy if z is not None else 0.0, code) for n, z in DEFAULT_LEVELS]
        transition_J = EV * levels[0][1] * {0: 1.0, 1: 1e-3, 2: 1e-6}.get(levels[0][2], 0.0)

        return levels, transition_J

    def _structure(self, dz, notes):
        """Cells per layer row, the cells before each row (and in all), the
        dot layer's cells (or None), the first and last cavity layer and the
        program's dot region (z1, z2) (or None)."""
        if not self.layers:
            raise CaseError("the structure has no layers")
        for k, l in enumerate(self.layers, 1):
            if not isinstance(l, Layer):
                raise CaseError(f"layer {k}: {l!r} is not a Layer")
            label = l.title(k)
            real(l.n, f"{label} index n", positive=True)
            real(l.n_end, f"{label} n_end", low=0.0)   # 0: not graded
            real(l.unused, f"{label} unused column")
            for what, values in (("start", l.start), ("equilibrium", l.equilibrium)):
                if len(values) != 3:
                    raise CaseError(f"{label} {what}: give the three columns 13..15")
                for x in values:
                    real(x, f"{label} {what} column")
        cells = [l.cell_count(dz, notes, k) for k, l in enumerate(self.layers, 1)]
        rows = self.layers
        dot_rows = [k for k, l in enumerate(rows, 1) if l.is_dots]
        if len(dot_rows) > 1:
            raise CaseError(f"layers {dot_rows} hold dots: the program's dot region holds the "
                            "first dot layer's cells only, so a case has one dot layer")
        starts = [sum(cells[:k]) for k in range(len(cells) + 1)]  # S(0..L)
        dot_cells = region = None
        if dot_rows:
            k = dot_rows[0]
            dot_cells = (starts[k - 1] + 1, starts[k])
            if k == 1 and len(rows) > 1:
                raise CaseError("the dot layer is the first layer: put a layer before it "
                                "(a cavity starting at the first layer is that layer alone)")
        if self.cavity is not None:
            first, last = (self._layer_row(r, rows) for r in self.cavity)
        elif dot_rows:
            k = dot_rows[0]
            wide = 2 < k < len(rows) and cells[k - 2] == cells[k]
            first, last = (k - 1, k + 1) if wide else (k, k)
        else:
            first = last = min(2, len(rows))
        if dot_rows:
            left_cell = starts[first - 1]
            right_cell = starts[last] if last < len(rows) else starts[-1]
            d = abs(right_cell - left_cell) - cells[dot_rows[0] - 1]
            region = z1, z2 = left_cell + int(d / 2) + 1, right_cell - int(d / 2)
            if region != dot_cells:
                notes.append(f"cavity layers {first}..{last}: the program puts the dots in cells "
                             f"{z1}..{z2}, the dot layer is cells {dot_cells[0]}..{dot_cells[1]}")
        return cells, starts, dot_cells, first, last, region

    def _monitor_cell(self, m, dz, cells, starts) -> int:
        if isinstance(m, int) and not isinstance(m, bool):
            return whole(m, "monitor cell", 1, starts[-1])
        for k, layer in enumerate(self.layers, 1):
            if layer.name is not None and layer.name == m:
                return starts[k - 1] + (cells[k - 1] + 1) // 2
        z = si(m, LENGTH, f"monitor {m!r} (a cell, a position or a layer name)", low=0.0)
        if z > starts[-1] * dz:
            raise CaseError(f"monitor {m!r}: beyond the structure's {starts[-1] * dz:g} m")
        return max(1, math.ceil(z / dz - 1e-9))

    # -- what is offered -----------------------------------------------------

    def __repr__(self) -> str:
        """One line: cells, steps and time, layers and pulses (a "?" for what
        cannot be worked out yet; `values()` says why)."""
        try:
            dz, dt, LL, Nt = self._steps([])
            last = (Nt // LL + 1) * LL
            run = f"{last} steps = {show_time(last * dt)}"
        except CaseError:
            dz, run = None, "? steps"
        try:
            cells = f"{sum(l.cell_count(dz, [], k) for k, l in enumerate(self.layers, 1))} " \
                    f"cells of {dz * 1e9:g} nm"
        except (CaseError, TypeError, AttributeError):
            cells = "? cells"
        return (f"<Case {cells}, {run}, {_count(len(self.layers), 'layer')}, "
                f"{_count(len(self.pulses), 'pulse')}>")

    def execdata_text(self) -> str:
        return self._build()[0]

    def values(self) -> dict:
        """Every value of the file by the program's names, as the case writes them."""
        return self._build()[1]

    def notes(self, both_transitions=False) -> list:
        """The roundings and choices made in writing the file, as sentences,
        and the program's warnings of a run (with --both-transitions when
        `both_transitions`)."""
        return _counted(self._build(both_transitions=both_transitions)[2])

    def write(self, folder, both_transitions=False) -> Written:
        """Writes folder/execdata.txt and its three result folders, has the
        program read and check it (`--check --json`, with --both-transitions
        when `both_transitions`, as the warnings are), and makes sure it
        reads every value as the case wrote it; CaseError when not."""
        return self._write(folder, both_transitions)

    def _write(self, folder, both_transitions=False) -> Written:
        """Case.write, for write and run (the warnings name their caller)."""
        text, expected, notes, dot_cells = self._build(4, both_transitions)
        folder = Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        fileio.write_text(folder / "execdata.txt", text)
        for name in self.folders:
            (folder / name).mkdir(parents=True, exist_ok=True)
        check = check_folder(folder, ["--both-transitions"] if both_transitions else [])
        got = {k: item["value"] for k, item in check["inputs"].items()}
        wrong = [f"{k}: written {expected.get(k, '(nothing)')!r}, read {got.get(k, '(nothing)')!r}"
                 for k in sorted(set(expected) | set(got))
                 if not same_value(expected.get(k), got.get(k))]
        if wrong:
            raise CaseError(f"{folder}/execdata.txt is read with other values than written:\n"
                            + "\n".join(wrong[:20]))
        derived = check["derived"]
        if dot_cells and self.cavity is None and (derived["z1"], derived["z2"]) != dot_cells:
            raise CaseError(f"the program puts the dots in cells {derived['z1']}..{derived['z2']}, "
                            f"the dot layer is cells {dot_cells[0]}..{dot_cells[1]}")
        return Written(folder, check, _counted(notes))

    def run(self, folder, threads=None, legacy_model=False, source=None, output=None,
            both_transitions=False, ensemble=None, overwrite=False, timeout=None,
            trace_every=None):
        """Writes the case into `folder`, runs the program there and returns
        mps1d.load(folder).  `source` ('hard', 'transparent') and `output`
        ('text', 'hdf5') are the program's options of those names.
        `ensemble` (K, FWHM [meV]) broadens the dots into K spectral classes
        per dot cell over a Gaussian of that full width (the program's
        --ensemble=K,FWHM; K from 1 to 256, K = 1 leaves the dots alike); the
        HDF5 snapshots of such a run hold every class (Run.classes).  Result
        folders that are not empty are an error unless `overwrite` (then they
        are emptied first).  `trace_every` N keeps every N-th step in the
        monitor traces (the program's --trace-every=N).  On a terminal a
        progress line with the time left shows while the program runs."""
        ensemble_flag = ensemble_option(ensemble)
        if trace_every is not None and (type(trace_every) is not int or trace_every < 1):
            raise CaseError(f"trace_every {trace_every!r}: a whole number from 1")
        folder = Path(folder)
        self._empty_result_folders(folder, overwrite)
        derived = self._write(folder, both_transitions).check["derived"]
        options = run_options(threads, legacy_model, both_transitions, ensemble_flag,
                               source, output)
        options += [f"--trace-every={trace_every}"] if trace_every is not None else []
        program = _program.find_program()
        try:
            r = progress.run_program([program, *options, str(folder.resolve())], folder,
                                     timeout, (derived["first_step"] - 1, derived["last_step"]))
        except OSError as e:
            raise CaseError(f"cannot start {program}: {e.strerror}") from None
        fileio.write_text(folder / "mps1d.out", r.stdout)
        fileio.write_text(folder / "mps1d.err", r.stderr)
        if r.returncode != 0:
            raise CaseError(f"{program} ends with exit status {r.returncode} in {folder}:\n"
                            + _program.report_text(r.stdout, r.stderr))
        from .run import load
        return load(folder)

    def _empty_result_folders(self, folder: Path, overwrite: bool) -> None:
        """Empties result folders that hold files, when `overwrite`; else
        CaseError naming the first that is not empty."""
        for name in self.folders:
            d = folder / name
            if d.is_dir() and any(d.iterdir()):
                if not overwrite:
                    raise CaseError(f"{d} is not empty: run elsewhere or pass overwrite=True")
                for f in d.iterdir():
                    if f.is_file() or f.is_symlink():
                        f.unlink()

    @classmethod
    def from_execdata(cls, path) -> "Case":
        """The case of an existing file, value for value: writing it gives a
        file the program reads to the same values."""
        from .inputs import read_inputs
        i = read_inputs(path)
        pulses = [pulse_of_line(p, path) for p in [i.pulse, *i.further_pulses]]
        layers = [Layer(None, float(r[2]), int(r[0]), float(r[3]), None, tuple(map(float, r[4:7])),
                        tuple(map(float, r[7:10])), float(r[1])) for r in i.layers]
        b = i.boundaries
        tables = [[[float(x) for x in row] for row in m] for m in (i.long_times, i.dephasing_times,
                                                                 i.dipoles)]
        return cls(dz=i.dz, courant=i.courant, block_steps=i.LL, steps=i.Nt, levels=i.levels,
                   density=i.dipole_density, relaxation=tables[0],
                   relaxation_scale=i.long_time_scale, dephasing=tables[1],
                   dephasing_scale=i.dephasing_scale, dipole=tables[2],
                   left=Boundary(b["left"], b["reflection_left"], "left_boundary"),
                   right=Boundary(b["right"], b["reflection_right"], "right_boundary"),
                   monitors=list(i.monitor_cells), pulse=pulses, layers=layers,
                   cavity=(i.first_cavity, i.last_cavity), folders=i.folders,
                   iteration_limit=i.iteration_limit, tolerance=i.tolerance,
                   run_number=i.run_number, continue_from=i.J_final,
                   labels=[(name, tuple(values)) for name, values in i.labels],
                   transitions=[[int(x) for x in row] for row in i.transitions])


def _count(k, what) -> str:
    return f"{k} {what}" + ("" if k == 1 else "s")


def _counted(notes) -> list:
    """The notes once each, in order, repeated ones with their count."""
    counts = {}
    for n in notes:
        counts[n] = counts.get(n, 0) + 1
    return [n if k == 1 else f"{n} ({k} times)" for n, k in counts.items()]


