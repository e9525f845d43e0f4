"""Spectra as tables: a wavelength range given as NM:NM, a printed table of
a modest number of rows, and the CSV of every point (one header line that
names the columns with their units, then one line per wavelength)."""
import csv
import io
import math

import numpy as np

from .spectra import COLUMNS

TABLE_ROWS = 30  # rows of a printed table at most: every k-th point


def parse_range(text):
    """(low, high) [nm] of 'LOW:HIGH' (either side may be left empty: no
    limit); ValueError naming the text otherwise."""
    low, sep, high = str(text).partition(":")
    try:
        if not sep:
            raise ValueError
        values = (float(low) if low.strip() else 0.0,
                  float(high) if high.strip() else math.inf)
    except ValueError:
        raise ValueError(f"--range {text}: give LOW:HIGH in nm (940:970, 940:, :970)") from None
    if not all(v >= 0 and not math.isnan(v) for v in values) or not values[0] < values[1]:
        raise ValueError(f"--range {text}: give 0 <= LOW < HIGH in nm")
    return values


def in_range(spectra, wavelength_range, where):
    """The spectra within `wavelength_range` (None: all); ValueError naming
    `where` (the run) when the range holds none of the band's points."""
    if wavelength_range is None:
        return spectra
    low, high = wavelength_range
    cut = spectra.within(low, high)
    if cut.wavelength_nm.size == 0:
        band = spectra.band_nm
        raise ValueError(f"{where}: no spectrum in {low:g}:{high:g} nm; the spectra hold from "
                         f"{band[0]:.2f} to {band[1]:.2f} nm")
    return cut


def _ordinal(k):
    if k == 1:
        return "every point"
    suffix = "th" if 10 <= k % 100 <= 20 else {1: "st", 2: "nd", 3: "rd"}.get(k % 10, "th")
    return f"every {k}{suffix} point"


def table_text(spectra, where, wavelength_range=None, rows=TABLE_ROWS):
    """The printed table: a few comment lines (the band, the resolution,
    which points are shown) and at most `rows` rows, every k-th point of
    the range from its shortest wavelength (no interpolation)."""
    part = in_range(spectra, wavelength_range, where)
    n = part.wavelength_nm.size
    k = max(1, -(-n // max(int(rows), 1)))
    band = spectra.band_nm
    e = spectra.energies
    lines = [f"# {where}",
             f"# R, T where the incident spectrum is >= {spectra.band_fraction:.0%} of its peak: "
             f"{band[0]:.3f} to {band[1]:.3f} nm; resolution {spectra.resolution_nm:.3g} nm",
             f"# whole record: reflected {e['reflected'] / e['injected']:.6f}, "
             f"transmitted {e['transmitted'] / e['injected']:.6f} of the injected energy"
             if e.get("injected") else "# whole record: no injected energy",
             f"# {_ordinal(k)} of {n} from {part.wavelength_nm[0]:.3f} to "
             f"{part.wavelength_nm[-1]:.3f} nm (all of them: --csv FILE)"]
    if spectra.gain:
        lines.append("# the dots gave energy to the field (gain): R + T may exceed 1")
    names = [c.split(" [")[0] for c in COLUMNS]
    names[0] = "wavelength_nm"
    lines.append(f"{names[0]:>13}" + "".join(f"{c:>11}" for c in names[1:]))
    columns = list(part.columns().values())
    for i in range(0, n, k):
        lines.append(f"{columns[0][i]:13.4f}" + "".join(f"{c[i]:11.6f}" for c in columns[1:]))
    return "\n".join(lines) + "\n"


def csv_text(spectra):
    """Every point of `spectra`: a header line of the columns with their
    units (spectra.COLUMNS), then the values in full precision."""
    out = io.StringIO(newline="")
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(COLUMNS)
    for row in zip(*spectra.columns().values()):
        writer.writerow([repr(float(v)) for v in row])
    return out.getvalue()


def read_csv(path):
    """{column: array} of a spectrum CSV (as csv_text writes it)."""
    from .fileio import read_text

    rows = list(csv.reader(io.StringIO(read_text(path))))
    if not rows or tuple(rows[0][:len(COLUMNS)]) != COLUMNS:
        raise ValueError(f"{path}: not a spectrum table (its header is not "
                         f"{','.join(COLUMNS)})")
    try:
        values = np.array([[float(v) for v in row] for row in rows[1:]], dtype=float)
    except ValueError:
        raise ValueError(f"{path}: a value that is not a number") from None
    values = values.reshape(-1, len(rows[0]))
    return {name: values[:, i] for i, name in enumerate(rows[0])}
