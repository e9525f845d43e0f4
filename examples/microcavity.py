"""The microcavity case (examples/microcavity/execdata.txt) built by name:
a one-wavelength cavity with a 20 nm dot layer at its centre between Bragg
mirrors of quarter-wave layers (15 pairs above, 20 below, on a substrate),
driven through the top mirror by a 100 fs circularly polarised Gaussian.

    python3 examples/microcavity.py run/microcavity-py        # write and check
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
try:
    from mps1d.case import Case, Pulse  # noqa: E402
except ImportError as e:  # an interpreter without Debian's numpy
    if (e.name or "").split(".")[0] not in ("numpy", "matplotlib", "h5py"):
        raise
    print(f"{Path(__file__).name}: {sys.executable} has no {e.name}: run it with Debian's "
          "/usr/bin/python3 (packages python3-numpy, python3-matplotlib, python3-h5py)",
          file=sys.stderr)
    sys.exit(2)

WAVELENGTH = 0.955022e-6       # the 1.3 eV resonance [m]
N_HIGH, N_LOW = 3.511, 2.984   # GaAs, AlAs


def case(amplitude=1e8, top_pairs=15, bottom_pairs=20, steps=200000):
    c = Case(dz="2 nm", courant=0.5, block_steps=20000, steps=steps,
             transition_energy="1.3 eV", density=1e24, dephasing="10 ps", dipole=6.4e-29)
    quarter = {n: WAVELENGTH / (4 * n) for n in (N_HIGH, N_LOW)}   # 68 nm and 80 nm
    c.layer("200 nm", n=1.0)
    for _ in range(top_pairs):
        c.layer(quarter[N_HIGH], n=N_HIGH).layer(quarter[N_LOW], n=N_LOW)
    spacer = (WAVELENGTH / N_HIGH - 20e-9) / 2                      # one wavelength in all
    c.layer(spacer, n=N_HIGH, name="spacer")
    c.dots("20 nm", n=N_HIGH, populations=(0.5, 0, 0.5, 0))
    c.layer(spacer, n=N_HIGH, name="spacer")
    for _ in range(bottom_pairs):
        c.layer(quarter[N_LOW], n=N_LOW).layer(quarter[N_HIGH], n=N_HIGH)
    c.layer("400 nm", n=N_HIGH, name="substrate")
    # The delay as the bundled file has it: 3 whole FWHMs, so the Gaussian
    # peaks 3 widths tau = FWHM/(2 sqrt(ln 2)) after step 0, at 180 fs.
    c.pulse = Pulse("gaussian", fwhm="100 fs", delay="320 fs", keep_delay=True,
                    amplitude=amplitude, polarisation="sigma+", wavelength="0.955022 um",
                    origin=10)
    c.monitors = [1000, "dots", 2000]
    return c


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else "run/microcavity-py"
    c = case()
    for note in c.notes():
        print(note)
    print(c.write(folder).folder / "execdata.txt")
