"""Run folders made by hand for the loader tests: an execdata.txt and result
files written in the solver's layouts, with values the tests know."""
import gzip
from pathlib import Path

EXECDATA = """\
{results}                  # results folder
{statistics}               # statistics folder
Continue                 # continuation folder
4                        # number of levels
name\tenergy\tunit
trans_12 1.3 0
split_13 0.0 0
trans_34 1.3 0
split_24 0.0 0
# end of level table
1.0e24                   # density of resonant dipoles [m^-3]
spin_up 1\t2
spin_dn 3\t4
# transitions
0\t1\t0\t0
1\t0\t0\t0
0\t0\t0\t1
0\t0\t1\t0
# end of transition table
1.0                      # scale factor of the long times
0\t0\t5.0e-10\t0
1.0D-9\t0\t0\t2.0e-10
5.0e-10\t0\t0\t0
0\t2.0e-10\t0\t0
# end of long times
2.0                      # scale factor of the dephasing times
0\t1.0e-11\t1.0e-11\t1.0e-11
1.0e-11\t0\t1.0e-11\t1.0e-11
1.0e-11\t1.0e-11\t0\t1.0e-11
1.0e-11\t1.0e-11\t1.0e-11\t0
# dipole moments follow
0\t6.4e-29\t0\t0
6.4e-29\t0\t0\t0
0\t0\t0\t6.4e-29
0\t0\t6.4e-29\t0
# end of dipole moments
1                        # number of pulses
1 {shape} {wavelength} {fwhm} 0 0 {amplitude} {polarisation} 0 {origin} {delay} 0   # pulse line
# boundary conditions
# code and a word per side
1 left_boundary
1 right_boundary
0.0                      # reflection coefficient, left
0.0                      # reflection coefficient, right
# run control
Courant number {courant} S
steps between two spatial dumps LL {LL} steps
run number 0 -
continue from stored step J_final 0 -
total number of time steps {Nt} -
iteration limit 20 -
tolerance 1.0e-12 -
{monitor_count} monitor_cells
{monitor_lines}
# spatial step [m], first and last cavity layer; then one row per layer:
{dz} {first_cavity} {last_cavity}
{layer_lines}
"""

DOT_ROW = "0 -0.5 0.5 -1 -0.5 0.5 -1"
PLAIN_ROW = "0 0 0 0 0 0 0"

DEFAULTS = dict(results="Results", statistics="DiscardedResults", shape=3, wavelength=0.955022,
                fwhm=10, amplitude="2.0e8", polarisation=1, origin=2, delay=20, courant=0.5,
                LL=4, Nt=8, monitors=(6, 2), dz="1.0e-8", first_cavity=2, last_cavity=2,
                layers=((4, 1.0, False), (4, 3.5, True), (4, 1.0, False)))


def execdata_text(**overrides):
    values = dict(DEFAULTS, **overrides)
    monitors = values.pop("monitors")
    layers = values.pop("layers")
    rows = [f"{cells} 0 {n} {DOT_ROW if dots else PLAIN_ROW}" for cells, n, dots in layers]
    return EXECDATA.format(monitor_count=len(monitors),
                           monitor_lines="\n".join(str(c) for c in monitors),
                           layer_lines="\n".join(rows), **values)


def e_field(value, width=23, digits=12):
    """A number in the layout Ew.d (three-digit exponents without the E)."""
    if value != value:
        return "NaN".rjust(width)
    if value in (float("inf"), float("-inf")):
        return ("Infinity" if value > 0 else "-Infinity").rjust(width)
    mantissa, exponent = f"{abs(value):.{digits - 1}e}".split("e")
    e10 = 0 if value == 0 else int(exponent) + 1
    text = f"0.{mantissa.replace('.', '')}"
    text = ("-" if value < 0 else "") + text
    text += f"E{e10:+03d}" if abs(e10) <= 99 else f"{e10:+04d}"
    return text.rjust(width)


def label(step):
    return f"{step:012d}"


class RunFolder:
    """Writes a run folder: execdata.txt, Results/ and DiscardedResults/."""

    def __init__(self, root, **execdata):
        self.root = Path(root)
        self.settings = dict(DEFAULTS, **execdata)
        for folder in ("Results", "DiscardedResults", "Continue"):
            (self.root / folder).mkdir(parents=True, exist_ok=True)
        (self.root / "execdata.txt").write_text(execdata_text(**execdata))

    @property
    def results(self):
        return self.root / self.settings["results"]

    @property
    def statistics(self):
        return self.root / self.settings["statistics"]

    def write(self, name, lines, gz=True, folder=None):
        """One file of lines; compressed to NAME.gz unless gz is False."""
        path = (folder or self.results) / name
        text = "".join(line + "\n" for line in lines)
        if gz:
            with gzip.open(str(path) + ".gz", "wt") as stream:
                stream.write(text)
        else:
            path.write_text(text)
        return path

    def column(self, name, values, gz=True, width=23, digits=12):
        return self.write(name, [e_field(v, width, digits) for v in values], gz)

    def n_z(self, n):
        """n_z.dat: z = 0.01 µm per cell, the refractive index of each cell."""
        self.write("n_z.dat", [f"{0.01 * (i + 1):12.5f}  {v:12.5f}" for i, v in enumerate(n)])

    def point(self, steps):
        levels = [(1, 0) if k % 2 == 0 else (0, 1) for k in range(len(steps))]
        lines = [f"{label(J)}  {a:08d}  {b:08d}" for J, (a, b) in zip(steps, levels)]
        self.write("point.txt", lines, gz=False)

    def stmp(self, J, factors):
        line = f"{label(J)} {label(1)} {label(0)} " + "".join(e_field(f) for f in factors)
        self.write(f"stmp{label(J)}.dat", [line])

    def trace_file(self, stem, J, rows):
        """A block trace: rows of (time_fs, value)."""
        self.write(f"{stem}_{label(J)}.dat", [e_field(t) + e_field(v) for t, v in rows])

    def statistics_file(self, stem, J, rows):
        """A statistics file: rows of (max, min, change)."""
        lines = ["".join(e_field(x) + "  " for x in (0.0, *row)) for row in rows]
        self.write(f"{stem}_{label(J)}.dat", lines, folder=self.statistics)


C0 = 299792458.0
TRACE_FS = 999999986991104.0  # the solver's 1e15 in single precision
NZ = 12
SNAPSHOTS = (1, 4, 8, 12)
FACTORS = [0.9 - 0.01 * k for k in range(15)]  # e_1..e_15 of every stmp file


def dt(settings=DEFAULTS):
    return float(settings["courant"]) * float(settings["dz"]) / C0


def trace_value(cell, quantity, step):
    """The value the complete run records for (cell, quantity) at a step."""
    scale = {"Ex": 1e-3, "Ey": -2e-3, "rho11": 0.5, "rho22": 1e-2, "rho33": 0.25, "rho44": 1e-4}
    base = scale[quantity] * (cell + 1)
    return base if quantity in ("rho11", "rho33") else base * step


def snapshot_value(name, J, cell):
    """The value the complete run stores for `name` at step J in a cell."""
    return (sum(map(ord, name)) % 97 + 1) * 1e-3 * J + 1e-4 * cell


def _trace_stems():
    stems = {f"time1_{q}": (1, q) for q in ("Ex", "Ey")}
    stems.update({f"time2_{q}": (NZ - 1, q) for q in ("Ex", "Ey")})
    for cell in (6, 2):
        for q in ("Ex", "Ey", "rho11", "rho22", "rho33", "rho44"):
            stems[f"time_{q}_z{label(cell)}"] = (cell, q)
    return stems


def write_complete_run(root):
    """A consistent small run: 12 cells (dots in 5..8), LL = 4, snapshots at
    steps 1, 4, 8, 12, monitor cells 6 and 2; values from trace_value and
    snapshot_value."""
    run = RunFolder(root)
    step_dt = dt()
    n = [1.0] * 4 + [3.5] * 4 + [1.0] * 4
    run.n_z(n)
    run.point(SNAPSHOTS)
    names = ["Ex", "Ey", "Hx", "Hy"] + [f"u{k}" for k in range(1, 16)]
    for J in SNAPSHOTS:
        run.stmp(J, FACTORS)
        for name in names:
            if J == 1 and name in ("u13", "u14", "u15"):
                run.write(f"{name}_z{label(J)}.dat", [])
            else:
                run.column(f"{name}_z{label(J)}.dat",
                           [snapshot_value(name, J, c) for c in range(1, NZ + 1)])
    for k, value in ((13, -0.5), (14, 0.5 / 3 ** 0.5), (15, -1 / 6 ** 0.5)):
        run.column(f"s{k}_z{label(1)}.dat", [value if 5 <= c <= 8 else 0.0
                                             for c in range(1, NZ + 1)], width=13, digits=5)
    run.write("gamma.dat", ["1 0 1 0 " if 5 <= c <= 8 else "0 0 0 0 " for c in range(1, NZ + 1)])
    for stem, (cell, q) in _trace_stems().items():
        for J in SNAPSHOTS:
            first = 1 if J == 1 else J - 4 + 1
            run.trace_file(stem, J, [(s * step_dt * TRACE_FS, trace_value(cell, q, s))
                                     for s in range(first, J + 1)])
            if J > 1:
                run.statistics_file(stem, J, [(trace_value(cell, q, s), -trace_value(cell, q, s),
                                               1.0) for s in range(first, J + 1)])
    return run
