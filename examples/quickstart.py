"""The quickstart case (examples/quickstart/execdata.txt) built by name:
a 100 nm layer of dots in the middle of a 2.1 um GaAs-like slab (n = 3.5)
in air, hit by a 50 fs Gaussian pulse of 2e8 V/m.

    python3 examples/quickstart.py run/quickstart-py          # write and check
    python3 examples/quickstart.py run/quickstart-py --run    # ... and run
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


def case(amplitude=2e8, fwhm_fs=50.0, steps=30000):
    c = Case(dz="5 nm", courant=0.5, block_steps=5000, steps=steps,
             transition_energy="1.3 eV", density="1e24 m^-3", dephasing="10 ps",
             dipole="6.4e-29 C m", left="absorbing", right="absorbing")
    c.layer("500 nm", n=1.0).layer("1 um", n=3.5)
    c.dots("100 nm", n=3.5, populations=(0.5, 0, 0.5, 0))   # the ground spin states, half each
    c.layer("1 um", n=3.5).layer("500 nm", n=1.0)
    # The delay as the bundled file has it: 3 whole FWHMs, so the Gaussian
    # peaks 3 widths tau = FWHM/(2 sqrt(ln 2)) after step 0, at 90 fs.
    c.pulse = Pulse("gaussian", fwhm=(fwhm_fs, "fs"), delay="160 fs", keep_delay=True,
                    amplitude=amplitude, polarisation="x", wavelength="0.955022 um", origin=10)
    c.monitors = ["750 nm", "dots"]      # cell 150 in the slab, the dot layer's middle cell
    return c


if __name__ == "__main__":
    folder = sys.argv[1] if len(sys.argv) > 1 else "run/quickstart-py"
    c = case()
    for note in c.notes():
        print(note)
    run = c.run(folder) if "--run" in sys.argv[2:] else None
    if run is None:
        print(c.write(folder).folder / "execdata.txt")
    else:
        print(run)
