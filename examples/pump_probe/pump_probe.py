"""Spin pump-probe: a sigma+ pump of area pi lifts the spin-up electrons
(level 1) into the trion (level 2); a weak sigma- probe, delayed, reads the
3<->4 pair.  The two pairs share no light, only relaxation: trions flip
their spin (2 <-> 4, 2 ps here) and fill level 4, so the probe, absorbed
in proportion to rho33 - rho44, is absorbed less and less as the delay
grows past the trion spin-flip time: its differential transmission
dT/T = (T_pumped - T_unpumped)/T_unpumped rises from 0 towards its value
at rho44 = 1/4.  Runs with `mps1d --both-transitions` (without it sigma-
light passes the dots).  T is the probe's transmitted energy: the sigma-
part of the field at the right end (the positive frequencies of Ex + i Ey;
the pump is sigma+, the negative ones).

    python3 examples/pump_probe/pump_probe.py [FOLDER]

runs the probe alone and a sweep of the probe delay, prints dT/T against
the delay and plots it into FOLDER/probe_transmission.png.  The sweep by
itself:

    scripts/mps1d-tools sweep --case examples/pump_probe/pump_probe.py:case \\
        --set delay_ps=0.2,0.5,1,2,4 --both-transitions --out sweeps/pump_probe
"""
import json
import math
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))
from mps1d.case import Case, Pulse  # noqa: E402

PUMP_DELAY_PS = 0.3   # the pump's peak (three of its FWHMs after step 0)
LONGEST_DELAY_PS = 4.0  # every run lasts as long, so the pump's part is the same in each
RELAXATION = {(1, 3): "1 ns", (3, 1): "1 ns", (2, 1): "50 ps", (2, 4): "2 ps", (4, 2): "2 ps"}


def case(delay_ps=1.0, pump=True):
    """The pump, and `delay_ps` after it the probe (no pump with pump=False)."""
    if not 0 < delay_ps <= LONGEST_DELAY_PS:
        raise ValueError(f"delay_ps {delay_ps}: from above 0 up to {LONGEST_DELAY_PS}")
    c = Case(dz="10 nm", courant=0.5, block_steps=20000,
             time=f"{PUMP_DELAY_PS + LONGEST_DELAY_PS + 0.6} ps",
             transition_energy="1.3 eV", density="1e24 m^-3", dephasing="1 ps",
             relaxation=RELAXATION, dipole="6.4e-29 C m")
    c.layer("200 nm", n=1.0).layer("300 nm", n=3.5)
    c.dots("50 nm", n=3.5, populations=(0.5, 0, 0.5, 0))   # both ground spin states half filled
    c.layer("300 nm", n=3.5).layer("200 nm", n=1.0)
    strong = Pulse("gaussian", fwhm="100 fs", delay=f"{PUMP_DELAY_PS} ps",
                   area=math.pi if pump else 0.0, polarisation="sigma+", origin=5)
    probe = Pulse("gaussian", fwhm="100 fs", delay=f"{PUMP_DELAY_PS + delay_ps} ps",
                  area=0.2, polarisation="sigma-", origin=5)
    c.pulse = [strong, probe]
    return c


def probe_transmitted(run):
    """The sigma- energy through the right end (up to a constant factor)."""
    import numpy as np
    cell = max(c for c, q in run.traces() if q == "Ex")
    e = (run.traces()[(cell, "Ex")].value + 1j * run.traces()[(cell, "Ey")].value) * run.E0
    spectrum = np.fft.fft(e)
    return float(np.sum(np.abs(spectrum[1:len(e) // 2]) ** 2))


def main():
    import csv
    from mps1d import load
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "run/pump_probe")
    delays = (0.2, 0.5, 1, 2, 4)
    alone = probe_transmitted(case(1.0, pump=False).run(out / "probe", both_transitions=True,
                                                         overwrite=True))
    tools = str(ROOT / "scripts" / "mps1d-tools")
    subprocess.run([tools, "sweep", "--case", f"{Path(__file__).resolve()}:case", "--set",
                    "delay_ps=" + ",".join(map(str, delays)), "--both-transitions",
                    "--out", str(out / "sweep")], check=True)
    points = []
    for folder in sorted((out / "sweep").glob("case-*")):
        point = json.loads((folder / "case.json").read_text())
        delay = float(point["values"]["delay_ps"])
        points.append((delay, probe_transmitted(load(folder)) / alone - 1.0))
    points.sort()
    for delay, dt in points:
        print(f"delay {delay:4.1f} ps: dT/T = {dt:+.3e}")
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(5, 3.2))
    ax.plot([d for d, _ in points], [t * 1e5 for _, t in points], "o-")
    ax.set_xlabel("probe delay after the pump [ps]")
    ax.set_ylabel("probe dT/T [1e-5]")
    ax.set_title("sigma+ pump, sigma- probe (trion spin flip 2 ps)")
    fig.tight_layout()
    fig.savefig(out / "probe_transmission.png", dpi=100)
    print(out / "probe_transmission.png")


if __name__ == "__main__":
    main()
