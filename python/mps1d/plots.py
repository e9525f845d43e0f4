"""Figures of a run.  Every function returns a matplotlib Figure (Agg
backend, no pyplot state); `save_all` writes them as PNG files."""
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import numpy as np  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from .run import POPULATIONS  # noqa: E402
from .spectra import NORMALISATION, compute_spectra, physical_range  # noqa: E402

RHO_LABELS = {"rho11": "ρ11 (ground, spin ↑)", "rho22": "ρ22 (trion)",
              "rho33": "ρ33 (ground, spin ↓)", "rho44": "ρ44 (trion)"}
TIME_LABEL = "time t (fs)"
Z_LABEL = "position z (µm)"
POPULATION_LABEL = "population ρ (1)"


def _field_label(run, what):
    return f"{what} (units of E0 = {run.E0:.3g} V/m)"


def plot_snapshot(run, J):
    """n(z) with |E|(z) at step J, and the populations of the dot cells."""
    fig = Figure(figsize=(9, 6.5), layout="constrained")
    top, bottom = fig.subplots(2, 1)
    profile = run.profile
    top.plot(profile.z_um, profile.n, color="0.5", drawstyle="steps-mid")
    top.set_xlabel(Z_LABEL)
    top.set_ylabel("refractive index n (1)")
    field = top.twinx()
    magnitude = np.hypot(run.snapshot(J, "Ex"), run.snapshot(J, "Ey"))
    field.plot(profile.z_um, magnitude, color="tab:red", lw=0.8)
    field.set_ylabel(_field_label(run, "|E|"), color="tab:red")
    top.set_title(f"step {J}, t = {J * run.dt * 1e15:.2f} fs")
    pops = run.populations(J)
    if pops.cells.size:
        top.axvspan(pops.z_um[0], pops.z_um[-1], color="tab:green", alpha=0.15, label="dots")
    for name in POPULATIONS:
        bottom.plot(pops.z_um, pops.rho[name], marker=".", label=RHO_LABELS[name])
    bottom.set_xlabel(Z_LABEL)
    bottom.set_ylabel(POPULATION_LABEL)
    bottom.legend(fontsize="small", ncols=2)
    return fig


def plot_traces(run, cell):
    """Ex, Ey and (where recorded) the populations of a monitor cell against time."""
    traces = {q: t for (c, q), t in run.traces().items() if c == cell}
    has_rho = any(q in traces for q in POPULATIONS)
    fig = Figure(figsize=(9, 6.5 if has_rho else 3.8), layout="constrained")
    axes = fig.subplots(2 if has_rho else 1, 1, sharex=True, squeeze=False)[:, 0]
    for q in ("Ex", "Ey"):
        if q in traces:
            axes[0].plot(traces[q].time_fs, traces[q].value, lw=0.7, label=q)
    axes[0].set_ylabel(_field_label(run, "E"))
    where = {1: " (left end)", run.NZ - 1: " (right end)"}.get(cell, "")
    axes[0].set_title(f"monitor cell {cell}{where}")
    axes[0].legend(fontsize="small")
    if has_rho:
        for q in POPULATIONS:
            if q in traces:
                axes[1].plot(traces[q].time_fs, traces[q].value, label=RHO_LABELS[q])
        axes[1].set_ylabel(POPULATION_LABEL)
        axes[1].legend(fontsize="small", ncols=2)
    for ax in axes:
        ax.set_xlabel(TIME_LABEL)
    return fig


def plot_zt_map(run):
    """|Ex|² over z and the snapshot times."""
    steps = run.snapshots()
    values = np.array([run.snapshot(J, "Ex") ** 2 for J in steps])
    fig = Figure(figsize=(9, 5), layout="constrained")
    ax = fig.subplots()
    mesh = ax.pcolormesh(run.profile.z_um, steps * run.dt * 1e15, values, shading="nearest",
                         cmap="magma")
    ax.set_xlabel(Z_LABEL)
    ax.set_ylabel("snapshot time t (fs)")
    fig.colorbar(mesh, ax=ax, label="|Ex|² (units of E0²)")
    ax.set_title("|Ex|² at the snapshots")
    return fig


def _spectra_note(spectra, drawn):
    if spectra.gain:
        return "the dots gave energy to the field (gain): nothing clipped"
    note = "shaded: error of the cut-off record"
    if drawn.clipped:
        note += "; past 0 or 1 within it: drawn at the limit"
    if drawn.beyond:
        note += "; past 0 or 1 beyond it: drawn as computed"
    return note


def plot_spectra(run):
    """R(λ) and T(λ) (and 1 − R − T) of a run with flux records; None without.
    The shaded bands are the error the end of the record leaves; values out
    of [0, 1] within it are drawn at the limit (spectra.physical_range)."""
    spectra = compute_spectra(run)
    if spectra is None:
        return None
    drawn = physical_range(spectra)
    fig = Figure(figsize=(8, 4.8), layout="constrained")
    ax = fig.subplots()
    lam = spectra.wavelength_nm
    low, high = (-np.inf, np.inf) if spectra.gain else (0.0, 1.0)
    for values, error, label in ((drawn.reflectance, spectra.error_R, "R (reflected)"),
                                 (drawn.transmittance, spectra.error_T, "T (transmitted)")):
        line, = ax.plot(lam, values, label=label)
        error = error + NORMALISATION
        ax.fill_between(lam, np.clip(values - error, low, high),
                        np.clip(values + error, low, high), color=line.get_color(),
                        alpha=0.2, lw=0)
    ax.plot(lam, drawn.absorbed, ls="--", label="1 − R − T (taken up or kept)")
    ax.set_xlabel("wavelength λ (nm)")
    ax.set_ylabel("fraction of the incident energy (1)")
    ax.set_title(f"where the incident spectrum is ≥ {spectra.band_fraction:.0%} of its peak; "
                 f"resolution Δλ = λ²/(c·T) = {spectra.resolution_nm:.3g} nm\n"
                 f"{_spectra_note(spectra, drawn)}", fontsize="small")
    ax.legend(fontsize="small")
    return fig


def figures(run):
    """(file name, Figure) of every plot the run supports, made one at a time."""
    for J in run.snapshots():
        yield f"snapshot_{J:012d}.png", plot_snapshot(run, J)
    for cell in run.monitor_cells():
        yield f"trace_cell{cell:06d}.png", plot_traces(run, cell)
    if len(run.snapshots()):
        yield "zt_map_Ex2.png", plot_zt_map(run)
    spectra = plot_spectra(run)
    if spectra is not None:
        yield "spectra_RT.png", spectra


def save_all(run, out_dir, dpi=110):
    """Writes every figure as a PNG in `out_dir`; returns the paths."""
    out = Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    paths = []
    for name, fig in figures(run):
        fig.savefig(out / name, dpi=dpi)
        paths.append(out / name)
    return paths
