"""Collecting a sweep: one row per point (its swept values, state, exit
status and the scalar values of its summary.json) written as sweep.csv and
sweep.h5 (with --polarisation, each point's rotation and ellipticity of
the light at a monitor cell as two more columns), and figures of a summary
value against a swept name; with
spectra, each complete point's R, T and 1 − R − T against wavelength in
spectra.csv (one row per point and wavelength) and spectra.h5 (a group per
point)."""
from __future__ import annotations

import csv
import io
import json
import math
import re
import sys
from pathlib import Path

from mps1d import fileio
from mps1d.execdata import NAMES
from mps1d.sweep_files import load_sweep, read_summary
from mps1d.sweep_states import case_states
from mps1d.sweep_values import OPTION_NAMES, SweepError

DEFAULT_Y = "peak_populations.rho22.value"   # the summary value drawn without --plot


def flatten(obj, prefix="") -> dict:
    """The scalar values of a summary by dotted name (nested objects
    flattened; "status" and "inputs" left out)."""
    out = {}
    for k, v in obj.items():
        key = f"{prefix}{k}"
        if not prefix and k in ("status", "inputs"):
            continue
        if isinstance(v, dict):
            out.update(flatten(v, key + "."))
        elif isinstance(v, (int, float, str, bool)) or v is None:
            out[key] = v
    return out


def collect_rows(sweep_dir: Path) -> tuple[list[str], list[dict], dict]:
    """(columns, one row per point, sweep.json) of a sweep folder."""
    data = load_sweep(sweep_dir)
    names = data.get("names", [])
    states = {s.folder: s for s in case_states(sweep_dir, data)}
    rows, summary_columns = [], []
    for entry in data["points"]:
        s = states[entry["folder"]]
        row = {"point": entry["point"], "folder": entry["folder"], **entry["values"],
               "state": s.state, "exit_status": s.exit_status}
        summary = read_summary(sweep_dir / entry["folder"]) if s.state == "done" else None
        for k, v in flatten(summary or {}).items():
            if k in row:
                k = "summary." + k
            if k not in summary_columns:
                summary_columns.append(k)
            row[k] = v
        rows.append(row)
    columns = ["point", "folder", *names, "state", "exit_status", *summary_columns]
    return columns, rows, data


def _csv_text(v) -> str:
    if v is None:
        return ""
    if isinstance(v, float):
        return repr(v)
    return str(v)


def write_csv(path: Path, columns: list[str], rows: list[dict]) -> None:
    """sweep.csv: a header line, then a line per point (floats in full)."""
    text = io.StringIO(newline="")
    w = csv.writer(text)
    w.writerow(columns)
    for row in rows:
        w.writerow([_csv_text(row.get(c)) for c in columns])
    fileio.write_text(path, text.getvalue())


def write_h5(path: Path, columns: list[str], rows: list[dict], data: dict) -> None:
    """sweep.h5: a data set per column, the sweep.json (without its points)
    and the column order as attributes."""
    fileio.write_hdf5(path, lambda f: _fill_h5(f, columns, rows, data))


def _fill_h5(f, columns: list[str], rows: list[dict], data: dict) -> None:
    import h5py
    import numpy as np
    f.attrs["columns"] = json.dumps(columns)
    f.attrs["sweep"] = json.dumps({k: v for k, v in data.items() if k != "points"})
    for c in columns:
        values = [row.get(c) for row in rows]
        present = [v for v in values if v is not None]
        if present and all(isinstance(v, bool) for v in present):
            arr = np.array([-1 if v is None else int(v) for v in values], dtype=np.int8)
        elif present and all(isinstance(v, int) and not isinstance(v, bool) for v in present) \
                and len(present) == len(values):
            arr = np.array(values, dtype=np.int64)
        elif present and all(isinstance(v, (int, float)) and not isinstance(v, bool)
                             for v in present):
            arr = np.array([math.nan if v is None else float(v) for v in values])
        else:
            arr = np.array(["" if v is None else str(v) for v in values],
                           dtype=h5py.string_dtype())
        f.create_dataset(c, data=arr)


def _numeric(rows, column) -> bool:
    vals = [r.get(column) for r in rows if r.get(column) is not None]
    return bool(vals) and all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in vals)


def quantity(row: dict, y: str):
    """The value of a summary column in a row, or of a ratio A/B of two
    (None where either is missing or B is 0)."""
    if y in row or "/" not in y:
        return row.get(y)
    a, b = (row.get(part) for part in y.split("/", 1))
    if a is None or b is None or b == 0:
        return None
    return a / b


def quantity_label(y: str) -> str:
    """axis_label of a summary value, or of a ratio with the units divided."""
    if "/" not in y:
        return axis_label(y)
    a, b = (axis_label(part).rsplit(" [", 1) for part in y.split("/", 1))
    unit = "1]" if a[1] == b[1] else f"{a[1][:-1]} / {b[1]}"
    return f"{a[0]} / {b[0]} [{unit}"


def plot_choice(columns, rows, data, y: str | None, x: str | None) -> tuple[str, str]:
    """The summary value (y) and the swept input (x) of a figure, checked."""
    names = data.get("names", [])
    if not names:
        raise SweepError("the sweep has no swept input to plot against")
    x = x or names[0]
    if x not in names:
        raise SweepError(f"--x {x}: not a swept input of this sweep ({', '.join(names)})")
    summary_columns = columns[columns.index("exit_status") + 1:]
    numeric = [c for c in summary_columns if _numeric(rows, c)]
    if y is None:
        if not numeric:
            raise SweepError("no complete point with a numeric summary value to plot")
        y = DEFAULT_Y if DEFAULT_Y in numeric else numeric[0]
    # A/B: the ratio of two summary values (a column's own name comes first).
    parts = [y] if y in columns or "/" not in y else y.split("/", 1)
    for part in parts:
        if part not in numeric:
            what = "" if part == y else f" ({part})"
            raise SweepError(f"--plot {y}{what}: not a numeric summary value of this sweep; "
                             f"known: {', '.join(numeric) or '(none: no complete point)'}")
    return y, x


def plot_column(sweep_dir: Path, columns, rows, data, y: str | None, x: str | None) -> Path:
    """The figure sweep-Y-vs-X.png: y against the swept x, a line per value
    of the other swept names."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    y, x = plot_choice(columns, rows, data, y, x)
    names = data.get("names", [])
    others = [n for n in names if n != x]
    groups: dict[tuple, list] = {}
    for r in rows:
        if quantity(r, y) is None:
            continue
        groups.setdefault(tuple(r[n] for n in others), []).append((r[x], quantity(r, y)))
    fig, ax = plt.subplots(figsize=(6.4, 4.4))
    for key, pts in groups.items():
        pts.sort()
        label = ", ".join(f"{n}={v:g}" for n, v in zip(others, key)) or None
        ax.plot([p[0] for p in pts], [p[1] for p in pts], "o-", label=label)
    scale = {a["name"]: a.get("scale") for a in data.get("axes", [])}
    if scale.get(x) == "log":
        ax.set_xscale("log")
    ax.set_xlabel(axis_label(x))
    ax.set_ylabel(quantity_label(y))
    ax.ticklabel_format(axis="y", useOffset=False)
    ax.set_title(f"{sweep_dir.name}: {y} against {x}", fontsize=10)
    ax.grid(True, alpha=0.3)
    if len(groups) > 1:
        ax.legend(fontsize=8)
    fig.tight_layout()
    name = f"{y.replace('/', '-over-')}-vs-{x}"
    out = sweep_dir / ("sweep-" + re.sub(r"[^A-Za-z0-9_.-]", "_", name) + ".png")
    try:
        with fileio.replacing(out) as stream:
            fig.savefig(stream, dpi=110, format="png")
    finally:
        plt.close(fig)
    return out


SPECTRA_CSV, SPECTRA_H5 = "spectra.csv", "spectra.h5"
SPECTRA_ARRAYS = ("wavelength_nm", "R", "T", "absorbed", "R_error", "T_error")


def point_spectra(sweep_dir: Path, rows: list[dict], stream) -> dict:
    """{point: Spectra} of the complete points that have spectra; a line on
    `stream` for each complete point without (its reason)."""
    from mps1d.run import load

    found = {}
    for r in rows:
        if r["state"] != "done":
            continue
        try:
            found[r["point"]] = load(sweep_dir / r["folder"]).spectra()
        except (OSError, ValueError) as e:
            print(f"collect: point {r['point']}: {e}", file=stream)
    return found


def write_spectra_csv(path: Path, names: list[str], rows: list[dict], spectra: dict) -> None:
    """spectra.csv: a header line (point, the swept names, the spectrum's
    columns with their units), then a line per point and wavelength."""
    from mps1d.spectra import COLUMNS

    text = io.StringIO(newline="")
    w = csv.writer(text)
    w.writerow(["point", *names, *COLUMNS])
    for r in rows:
        if r["point"] not in spectra:
            continue
        head = [r["point"], *(_csv_text(r.get(n)) for n in names)]
        for values in zip(*spectra[r["point"]].columns().values()):
            w.writerow(head + [repr(float(v)) for v in values])
    fileio.write_text(path, text.getvalue())


def write_spectra_h5(path: Path, names: list[str], rows: list[dict], spectra: dict) -> None:
    """spectra.h5: a group point_<N> per point with spectra, holding the
    arrays SPECTRA_ARRAYS and, as attributes, its folder, swept values
    (JSON), band_nm and resolution_nm."""
    def fill(f):
        f.attrs["names"] = json.dumps(names)
        for r in rows:
            s = spectra.get(r["point"])
            if s is None:
                continue
            g = f.create_group(f"point_{r['point']:04d}")
            for name in SPECTRA_ARRAYS:
                g.create_dataset(name, data=getattr(s, name))
            g["wavelength_nm"].attrs["unit"] = "nm"
            g.attrs.update({"point": r["point"], "folder": r["folder"],
                            "values": json.dumps({n: r.get(n) for n in names}),
                            "band_nm": s.band_nm, "resolution_nm": s.resolution_nm})
    fileio.write_hdf5(path, fill)


POLARISATION_COLUMNS = ("polarisation.rotation", "polarisation.ellipticity")


def add_polarisation(sweep_dir: Path, columns: list[str], rows: list[dict], cell,
                     window, stream) -> int:
    """Adds each complete point's rotation and ellipticity [rad] of the
    light at `cell` ("end" or None: the transmitted end) over its band, in
    the time `window` (t0, t1) fs, as the POLARISATION_COLUMNS; a line on
    `stream` for each complete point without; returns the points with."""
    from mps1d.run import load

    cell = None if cell in (None, "end") else int(cell)
    columns.extend(c for c in POLARISATION_COLUMNS if c not in columns)
    found = 0
    for r in rows:
        if r["state"] != "done":
            continue
        try:
            p = load(sweep_dir / r["folder"]).polarisation(cell=cell, window=window)
        except (OSError, ValueError) as e:
            print(f"collect: point {r['point']}: {e}", file=stream)
            continue
        r[POLARISATION_COLUMNS[0]], r[POLARISATION_COLUMNS[1]] = p.rotation, p.ellipticity
        found += 1
    return found


def collect(sweep_dir: str | Path, plots=None, x=None, draw=True, stream=None,
            spectra=False, polarisation=None, polarisation_window=None) -> dict:
    """sweep.csv, sweep.h5 and the figures of a sweep folder; with
    `spectra`, spectra.csv and spectra.h5 of its points with spectra
    (SweepError when complete points have none: a sweep without the
    transparent source); with `polarisation` (a monitor cell, or "end"),
    the columns polarisation.rotation and polarisation.ellipticity of the
    light there, in `polarisation_window` (t0, t1) fs."""
    stream = stream or sys.stdout
    sweep_dir = Path(sweep_dir).resolve()
    columns, rows, data = collect_rows(sweep_dir)
    done = sum(1 for r in rows if r["state"] == "done")
    if polarisation is not None and not add_polarisation(
            sweep_dir, columns, rows, polarisation, polarisation_window, stream) and done:
        raise SweepError(f"--polarisation {polarisation}: none of the {done} complete points "
                         "has it (the reasons above)")
    if draw and done:
        for y in plots or [None]:
            plot_choice(columns, rows, data, y, x)
    found = point_spectra(sweep_dir, rows, stream) if spectra else {}
    if spectra and done and not found:
        raise SweepError(f"--spectra: none of the {done} complete points has spectra (the "
                         "reasons above); they need the sweep's --source transparent")
    write_csv(sweep_dir / "sweep.csv", columns, rows)
    write_h5(sweep_dir / "sweep.h5", columns, rows, data)
    written = {"csv": sweep_dir / "sweep.csv", "h5": sweep_dir / "sweep.h5", "png": []}
    print(f"collect: {len(rows)} points ({done} complete) into {written['csv']} and "
          f"{written['h5']}", file=stream)
    if found:
        names = data.get("names", [])
        written["spectra_csv"] = sweep_dir / SPECTRA_CSV
        written["spectra_h5"] = sweep_dir / SPECTRA_H5
        write_spectra_csv(written["spectra_csv"], names, rows, found)
        write_spectra_h5(written["spectra_h5"], names, rows, found)
        print(f"collect: spectra of {len(found)} points into {written['spectra_csv']} and "
              f"{written['spectra_h5']}", file=stream)
    elif spectra:
        print("collect: no complete point yet; no spectra", file=stream)
    if draw and done:
        for y in plots or [None]:
            png = plot_column(sweep_dir, columns, rows, data, y, x)
            written["png"].append(png)
            print(f"collect: figure {png}", file=stream)
    elif draw:
        print("collect: no complete point yet; no figure", file=stream)
    return written


def axis_label(name: str) -> str:
    """A swept input or a summary value with its unit."""
    known = NAMES.get(name) or OPTION_NAMES.get(name)
    if known is not None and "[" in known[1]:
        return f"{name} [{known[1].split('[')[-1]}"
    if name.startswith("energy.") and name not in ("energy.balance", "energy.step"):
        return f"{name} [J/m^2]"
    if name in POLARISATION_COLUMNS:
        return f"{name} [rad]"
    if name.endswith("wall_time_s"):
        return f"{name} [s]"
    return f"{name} [1]"
