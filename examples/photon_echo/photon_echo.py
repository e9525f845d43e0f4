"""Photon echo of an inhomogeneously broadened dot layer.

A thin dot layer (four cells of 5 nm, levels 1 and 3 half filled, T2 =
1 ps) whose transition energies spread as a Gaussian of 6 meV FWHM (the
program's --ensemble=32,6: 32 spectral classes per cell).  A circular pi/2
pulse tips every class alike; each then precesses at its own frequency and
the layer's free radiation dies within 0.3 ps (the Gaussian's Fourier
transform).  A pi pulse tau later turns each class's phase d tau into
-d tau, and at 2 tau after the first pulse the classes are in phase again:
the layer radiates the echo.  Its amplitude has lost exp(-2 tau/T2), its
energy exp(-4 tau/T2).

    python3 examples/photon_echo/photon_echo.py [FOLDER]

runs tau = 0.6, 0.9 and 1.2 ps, prints when each echo peaks and its
energy against exp(-4 tau/T2), and plots the field behind the layer into
FOLDER/photon_echo.png.
"""
import math
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "python"))
try:
    from mps1d.case import Case, Pulse  # noqa: E402
except ImportError as e:  # an interpreter without Debian's numpy
    if (e.name or "").split(".")[0] not in ("numpy", "matplotlib", "h5py"):
        raise
    print(f"{Path(__file__).name}: {sys.executable} has no {e.name}: run it with Debian's "
          "/usr/bin/python3 (packages python3-numpy, python3-matplotlib, python3-h5py)",
          file=sys.stderr)
    sys.exit(2)

T2_PS = 1.0
ENSEMBLE = (32, 6.0)        # classes, FWHM [meV]
FIRST_PS = 0.1              # the pi/2 pulse's peak
DELAYS_PS = (0.6, 0.9, 1.2)


def case(delay_ps=0.9):
    """A pi/2 pulse, `delay_ps` later a pi pulse, and the echo after as long again."""
    c = Case(dz="5 nm", courant=0.5, block_steps=400000,
             time=f"{FIRST_PS + 2 * delay_ps + 0.5} ps",
             transition_energy="1.3 eV", density="1e22 m^-3", dephasing=f"{T2_PS} ps",
             relaxation={(1, 3): "1 us", (3, 1): "1 us", (2, 1): "1 us", (2, 4): "1 us", (4, 2): "1 us"}, dipole="6.4e-29 C m")
    c.layer("200 nm", n=1.0)
    c.dots("20 nm", n=1.0, populations=(0.5, 0, 0.5, 0), name="dots")
    c.layer("200 nm", n=1.0, name="behind")
    first = Pulse("gaussian", fwhm="10 fs", delay=f"{FIRST_PS} ps", area=math.pi / 2,
                  polarisation="sigma+", origin=5)
    second = Pulse("gaussian", fwhm="10 fs", delay=f"{FIRST_PS + delay_ps} ps", area=math.pi,
                   polarisation="sigma+", origin=5)
    c.pulse = [first, second]
    c.monitors = ["behind"]
    return c


def envelope(run):
    """Time [ps] and |Ex + i Ey| [V/m] behind the layer."""
    import numpy as np
    cell = run.monitor_cells()[1]
    ex, ey = run.traces()[(cell, "Ex")], run.traces()[(cell, "Ey")]
    return ex.step * run.dt * 1e12, np.abs(ex.value + 1j * ey.value) * run.E0


def echo(t, e, first, second):
    """Peak time and energy (|E|^2 summed) of the echo: the field within
    0.4 ps of 2 tau after the first pulse (its width is about 1/sigma =
    0.26 ps, and the T2 decay puts its peak 1/(sigma^2 T2) = 66 fs early)."""
    window = abs(t - (2 * second - first)) < 0.4
    energy = float((e[window] ** 2).sum())
    return float(t[window][e[window].argmax()]), energy


def main():
    import numpy as np
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "run/photon_echo")
    curves, echoes = [], []
    for delay in DELAYS_PS:
        run = case(delay).run(out / f"tau_{delay}", output="hdf5", ensemble=ENSEMBLE,
                              overwrite=True)
        t, e = envelope(run)
        # The two pulses' peaks where the monitor sees them.
        first = float(t[t < FIRST_PS + delay / 2][e[t < FIRST_PS + delay / 2].argmax()])
        late = (t > first + delay / 2) & (t < first + 1.5 * delay)
        second = float(t[late][e[late].argmax()])
        peak, energy = echo(t, e, first, second)
        curves.append((delay, t - first, e))
        echoes.append((second - first, peak - first, energy))
    tau0, _, energy0 = echoes[0]
    # sigma [1/ps] of the Gaussian of transition frequencies.
    sigma = ENSEMBLE[1] * 1e-3 * 1.6e-19 / 1.054571596e-34 / (2 * math.sqrt(2 * math.log(2))) * 1e-12
    for tau, at, energy in echoes:
        theory = math.exp(-4.0 * (tau - tau0) / T2_PS)
        print(f"tau {tau:.4f} ps: echo peaks at {at:.4f} ps (2 tau - 1/(sigma^2 T2) = "
              f"{2 * tau - 1 / (sigma * sigma * T2_PS):.4f}), energy / first "
              f"{energy / energy0:.4f}, exp(-4 (tau - tau_1)/T2) {theory:.4f}")
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(6, 3.4))
    for delay, t, e in curves:
        ax.semilogy(t, np.maximum(e, 1e-3), lw=0.8, label=f"tau = {delay} ps")
    ax.set_ylim(1e1, None)
    for tau, at, _ in echoes:
        ax.axvline(2 * tau, color="grey", lw=0.5, ls=":")
    ax.set_xlabel("time after the pi/2 pulse [ps]")
    ax.set_ylabel("|E| behind the layer [V/m]")
    ax.set_title(f"photon echo: {ENSEMBLE[0]} classes over {ENSEMBLE[1]:g} meV, T2 = {T2_PS:g} ps")
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(out / "photon_echo.png", dpi=100)
    print(out / "photon_echo.png")


if __name__ == "__main__":
    main()
