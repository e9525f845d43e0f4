"""The file of a case: its values by the program's names (as `Case.values`
and `--check --json` name them) and the text of its execdata.txt, in the
layout of the bundled examples: one-value lines with their comment,
TAB-separated tables, each table closed by its comment line."""
from __future__ import annotations

from .execdata import INT, REAL, format_value

# The pulse line's integer fields; the others are reals.
PULSE_INTEGERS = {"id": INT, "shape": INT, "fwhm_unit": INT, "unused": INT, "polarisation": INT,
                  "origin": INT, "delay_unit": INT}
LAYER_COLUMNS = ("cells", "unused", "index", "index_end", "a13", "a14", "a15", "b13", "b14", "b15")


def table_values(tables, scales) -> dict:
    """The transition, relaxation, dephasing and dipole tables and the two
    scales by name."""
    v = {}
    for prefix, m in zip(("transition", "times", "dephasing", "dipole"), tables):
        for i in range(4):
            for j in range(4):
                v[f"{prefix}.{i + 1}.{j + 1}"] = m[i][j]
    v["times.scale"], v["dephasing.scale"] = scales
    return v


def pulse_values(pulses) -> dict:
    """The pulse count and each pulse line's items by name (pulse.NAME for
    the first, pulse.K.NAME for the others)."""
    v = {"pulses.count": len(pulses)}
    for n, items in enumerate(pulses, 1):
        for name, x in items:
            v[("pulse." if n == 1 else f"pulse.{n}.") + name] = x
    return v


def end_values(bl, br) -> dict:
    """The two ends' codes and reflection coefficients by name."""
    return {"boundary.left.type": bl.code(), "boundary.right.type": br.code(),
            "boundary.left.reflection": float(bl.reflection),
            "boundary.right.reflection": float(br.reflection)}


def cell_values(monitors, grid, rows, cells) -> dict:
    """The monitor cells, the spatial step and cavity layers (`grid`) and the
    layer table by name."""
    v = {"monitors.count": len(monitors)}
    for k, c in enumerate(monitors, 1):
        v[f"monitor.{k}"] = c
    v["structure.dz"], v["structure.first_cavity"], v["structure.last_cavity"] = grid
    for k, (layer, c) in enumerate(zip(rows, cells), 1):
        for name, x in zip(LAYER_COLUMNS, (c, layer.unused, layer.n, layer.n_end, *layer.start,
                                           *layer.equilibrium)):
            v[f"layer.{k}.{name}"] = x if name == "cells" else float(x)
    return v


def _num(x, kind=REAL) -> str:
    return format_value(kind, x)


def _line(value: str, comment: str) -> str:
    """A one-value line with its comment, as the examples align them."""
    return f"{value:<24} # {comment}"


def render_execdata(v, bl, br, pulses, run, rows) -> str:
    """The file of the values `v`, the two Boundary records, the pulse lines'
    (name, value) items, the run control and the Layer rows."""
    out = _level_lines(v) + _table_lines(v) + _pulse_lines(pulses)
    out += _boundary_and_run_lines(v, bl, br, run) + _structure_lines(v, rows)
    return "\n".join(out) + "\n"


def _row(v, prefix, i) -> str:
    return "\t".join(_num(v[f"{prefix}.{i}.{j}"], INT if prefix == "transition" else REAL)
                     for j in range(1, 5))


def _level_lines(v) -> list:
    """The result folders, the level table, the dipole density, the labels."""
    out = [_line(v["folder.results"], "folder for snapshots, block traces, param.txt and n_z.dat"),
           _line(v["folder.discarded"], "folder for the running statistics"),
           _line(v["folder.continue"], "folder a continued run restores its snapshot from"),
           _line("4", "number of levels"),
           "name\tenergy\tunit (0 eV, 1 meV, 2 ueV)"]
    for k in range(1, 5):
        out.append(f"{v[f'level.{k}.name']} {_num(v[f'level.{k}.energy'])} "
                   f"{v[f'level.{k}.unit']}")
    out += ["# end of level table",
            _line(_num(v["dots.density"]), "density of resonant dipoles [m^-3]")]
    k = 1
    while f"label.{k}.name" in v:
        values = [str(v[f"label.{k}.{j}"]) for j in range(1, 5) if f"label.{k}.{j}" in v]
        out.append(f"{v[f'label.{k}.name']} " + "\t".join(values))
        k += 1
    return out


def _table_lines(v) -> list:
    """The transition, relaxation, dephasing and dipole tables (4 x 4)."""
    out = ["# end of label table; transition table follows (1 = transition selected)"]
    out += [_row(v, "transition", i) for i in range(1, 5)]
    out += ["# end of transition table",
            _line(_num(v["times.scale"]), "scale factor of the population and spin-flip times")]
    out += [_row(v, "times", i) for i in range(1, 5)]
    out += ["# end of population and spin-flip times [s] (row i, column j: transfer i -> j)",
            _line(_num(v["dephasing.scale"]), "scale factor of the dephasing times")]
    out += [_row(v, "dephasing", i) for i in range(1, 5)]
    out.append("# end of dephasing times [s]; dipole moments [C m] follow")
    out += [_row(v, "dipole", i) for i in range(1, 5)]
    return out


def _pulse_lines(pulses) -> list:
    """The pulse count and a line per pulse, the first with its comment."""
    out = ["# end of dipole moments", _line(str(len(pulses)), "number of pulses")]
    for k, items in enumerate(pulses):
        out.append(" ".join(_num(x, PULSE_INTEGERS.get(n, REAL)) for n, x in items) +
                   ("   # id shape wavelength[um] fwhm unit(0 fs,1 ps) - amplitude[V/m] "
                    "polarisation noise origin delay unit(0 fs,1 ps,2 ns)" if k == 0 else ""))
    return out


def _boundary_and_run_lines(v, bl, br, run) -> list:
    """The ends, the run control and the monitor cells."""
    out = ["# boundary conditions: 1 absorbing with reflection coefficient, 2 conducting wall",
           "# code and a word per side, then the reflection coefficients",
           f"{bl.code()} {bl.word or 'left_boundary'}",
           f"{br.code()} {br.word or 'right_boundary'}",
           _line(_num(bl.reflection), "reflection coefficient, left"),
           _line(_num(br.reflection), "reflection coefficient, right"),
           "# run control"]
    r = dict(run)
    out += [f"Courant number {_num(r['courant'])} S",
            f"steps between two spatial dumps LL {r['LL']} steps",
            f"run number {r['number']} -",
            f"continue from stored step J_final {r['J_final']} -",
            f"total number of time steps {r['Nt']} -",
            f"iteration limit {r['iteration_limit']} -",
            f"tolerance {_num(r['tolerance'])} -",
            f"{v['monitors.count']} monitor_cells"]
    out += [str(v[f"monitor.{k}"]) for k in range(1, v["monitors.count"] + 1)]
    return out


def _structure_lines(v, rows) -> list:
    """The spatial step, the cavity layers and the layer table."""
    out = ["# spatial step [m], first and last cavity layer; then one row per layer:",
           f"{_num(v['structure.dz'])} {v['structure.first_cavity']} "
           f"{v['structure.last_cavity']}"]
    for k, layer in enumerate(rows, 1):
        values = "\t".join(_num(v[f"layer.{k}.{c}"], INT if c == "cells" else REAL)
                           for c in LAYER_COLUMNS)
        comment = "cells - n n_end a13 a14 a15 b13 b14 b15" if k == 1 else ""
        if layer.name:
            comment = f"{layer.name}: {comment}" if comment else layer.name
        out.append(values + (f"\t# {comment}" if comment else ""))
    return out
