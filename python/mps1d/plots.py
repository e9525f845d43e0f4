"""Figures of a run.  Every function returns a matplotlib Figure (Agg
backend, no pyplot state); `save_all` writes them as PNG files."""
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import numpy as np  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

from .fileio import FileError, check_output_folder, replacing  # noqa: E402
from .inputs import C0  # noqa: E402
from .run import POPULATIONS  # noqa: E402
from .spectra import compute_spectra, physical_range  # noqa: E402
from .spectra_table import in_range  # noqa: E402

RHO_LABELS = {"rho11": "ρ11 (ground, spin ↑)", "rho22": "ρ22 (trion)",
              "rho33": "ρ33 (ground, spin ↓)", "rho44": "ρ44 (trion)"}
TIME_LABEL = "time t (fs)"
Z_LABEL = "position z (µm)"
POPULATION_LABEL = "population ρ (1)"
# A z–t map needs this many trace cells (one column each, every step) or,
# failing that, this many snapshots (one row each); with fewer it would
# smear a handful of samples over the whole plane.
MIN_MAP_CELLS = 16
MIN_MAP_SNAPSHOTS = 16
MAP_ROWS = 1500      # time rows of a map from traces: |E|² averaged over bins of steps
ZOOM_PERIODS = 6     # carrier periods shown around the peak of a field trace


def _field_label(run, what):
    return f"{what} (units of E0 = {run.E0:.3g} V/m)"


def plot_snapshot(run, J):
    """n(z) with |E|(z) at step J, and (with dots) the populations of the dot cells."""
    pops = run.populations(J)
    dots = pops.cells.size > 0
    fig = Figure(figsize=(9, 6.5 if dots else 3.8), layout="constrained")
    axes = fig.subplots(2 if dots else 1, 1, squeeze=False)[:, 0]
    top = axes[0]
    profile = run.profile
    top.plot(profile.z_um, profile.n, color="0.5", drawstyle="steps-mid")
    top.set_xlabel(Z_LABEL)
    top.set_ylabel("refractive index n (1)")
    field = top.twinx()
    magnitude = np.hypot(run.snapshot(J, "Ex"), run.snapshot(J, "Ey"))
    field.plot(profile.z_um, magnitude, color="tab:red", lw=0.8)
    field.set_ylabel(_field_label(run, "|E|"), color="tab:red")
    top.set_title(f"step {J}, t = {J * run.dt * 1e15:.2f} fs")
    if dots:
        top.axvspan(pops.z_um[0], pops.z_um[-1], color="tab:green", alpha=0.15, label="dots")
        bottom = axes[1]
        for name in POPULATIONS:
            bottom.plot(pops.z_um, pops.rho[name], marker=".", label=RHO_LABELS[name])
        bottom.set_xlabel(Z_LABEL)
        bottom.set_ylabel(POPULATION_LABEL)
        bottom.legend(fontsize="small", ncols=2)
    return fig


def running_max(x, width):
    """The largest of `width` samples of x centred on each sample (zero
    beyond the ends), in O(n): maxima run forward and backward within blocks
    of `width` samples, and a window spans at most two blocks."""
    w = max(int(width), 1)
    if x.size == 0 or w == 1:
        return x.copy()
    half = w // 2
    blocks = -(-(x.size + w) // w)
    padded = np.zeros(blocks * w)
    padded[half:half + x.size] = x
    rows = padded.reshape(blocks, w)
    from_left = np.maximum.accumulate(rows, axis=1).ravel()
    from_right = np.maximum.accumulate(rows[:, ::-1], axis=1)[:, ::-1].ravel()
    k = np.arange(x.size)  # the window of sample k is padded[k : k + w]
    return np.maximum(from_right[k], from_left[k + w - 1])


def envelope(values, period):
    """The envelope of a sampled carrier of `period` samples: |value| at its
    crests, joined by straight lines.  |E| peaks twice a period, so the
    crests are the samples that are the largest within half a period around
    them.  Before the first crest and after the last the envelope holds
    their values: a record cut off while the field still oscillates keeps
    its envelope to the end, whatever the carrier's phase there.  The
    envelope is capped by the largest |value| within a period around each
    sample, a cap the line between two neighbouring crests stays below;
    where |value| does not oscillate (|E| of circular polarisation) the
    crests are far apart and the cap, |value| at most half a period ahead,
    is the envelope."""
    x = np.abs(np.asarray(values, dtype=float))
    if x.size < 3:
        return x
    width = max(int(period) // 2, 1)
    crests = np.flatnonzero(x == running_max(x, width))
    # Within a quarter period of an end the window is cut short, and a
    # sample on the rise would pass for a crest.
    crests = crests[(crests >= width // 2) & (crests < x.size - width // 2)]
    bound = running_max(x, period)
    if crests.size == 0:
        return np.maximum(x, bound)
    joined = np.interp(np.arange(x.size), crests, x[crests])
    return np.maximum(x, np.minimum(joined, bound))


def carrier_period_fs(run):
    """One period of the pulse's carrier [fs]."""
    return run.inputs.pulse.wavelength_m / C0 * 1e15


def _is_dot_cell(run, cell):
    return bool(np.isin(cell, run.dot_cells()))


def plot_traces(run, cell):
    """A monitor cell against time: the envelope of Ex and Ey over the whole
    record, the carrier itself over ZOOM_PERIODS periods around the field's
    peak, and, in a dot cell, the populations."""
    traces = {q: t for (c, q), t in run.traces().items() if c == cell}
    dots = _is_dot_cell(run, cell) and any(q in traces for q in POPULATIONS)
    fig = Figure(figsize=(9, 8.5 if dots else 6), layout="constrained")
    ratios = [3, 2, 3] if dots else [3, 2]
    axes = fig.subplots(len(ratios), 1, gridspec_kw={"height_ratios": ratios})
    env_ax, zoom_ax = axes[0], axes[1]
    fields = [q for q in ("Ex", "Ey") if q in traces and traces[q].value.size]
    largest = max((np.abs(traces[q].value).max() for q in fields), default=0.0)
    # A component that carries no field (x or y polarisation) is left out.
    fields = [q for q in fields if np.abs(traces[q].value).max() > 1e-9 * largest] or fields[:1]
    period = carrier_period_fs(run)
    period_steps = int(round(period / (run.dt * 1e15)))
    total = None
    for q in fields:
        trace = traces[q]
        env_ax.plot(trace.time_fs, envelope(trace.value, period_steps), lw=1.0,
                    label=f"|{q}| (envelope)")
        if total is None:
            time, total = trace.time_fs, trace.value ** 2
        elif trace.value.size == total.size:
            total = total + trace.value ** 2
    where = {1: " (left end)", run.NZ - 1: " (right end)"}.get(cell, "")
    z = run.profile.z_um[cell - 1]
    env_ax.set_title(f"monitor cell {cell}{where}, z = {z:.3f} µm: field envelope "
                     "(|E| at the carrier's crests)", fontsize="medium")
    env_ax.set_ylabel(_field_label(run, "|E|"))
    env_ax.set_xlabel(TIME_LABEL)
    if total is not None:
        total = envelope(np.sqrt(total), period_steps)
        if len(fields) > 1:
            env_ax.plot(time, total, color="k", lw=0.8, ls="--", label="|E| (envelope)")
        peak = time[int(np.argmax(total))]
        low, high = peak - ZOOM_PERIODS / 2 * period, peak + ZOOM_PERIODS / 2 * period
        env_ax.axvspan(low, high, color="0.85", zorder=0, label="shown below")
        inside = (time >= low) & (time <= high)
        for q in fields:
            zoom_ax.plot(traces[q].time_fs[inside], traces[q].value[inside], lw=1.0, label=q)
        zoom_ax.plot(time[inside], total[inside], color="k", lw=0.8, ls="--", label="±|E|")
        zoom_ax.plot(time[inside], -total[inside], color="k", lw=0.8, ls="--")
        zoom_ax.set_title(f"the carrier around the peak of |E| (t = {peak:.1f} fs): "
                          f"{ZOOM_PERIODS} periods of {period:.3g} fs", fontsize="medium")
        env_ax.legend(fontsize="small")
        zoom_ax.legend(fontsize="small", ncols=3)
    zoom_ax.set_ylabel(_field_label(run, "E"))
    zoom_ax.set_xlabel(TIME_LABEL)
    if dots:
        pops = axes[2]
        pops.sharex(env_ax)
        for q in POPULATIONS:
            if q in traces:
                pops.plot(traces[q].time_fs, traces[q].value, label=RHO_LABELS[q])
        pops.set_ylabel(POPULATION_LABEL)
        pops.set_xlabel(TIME_LABEL)
        pops.legend(fontsize="small", ncols=2)
    return fig


def _steps_text(run, steps):
    """'every N steps (Δt fs)' of a series of snapshot steps (the usual interval)."""
    if len(steps) < 2:
        return "a single step"
    every = int(np.median(np.diff(steps)))
    return f"every {every} steps ({every * run.dt * 1e15:.3g} fs)"


def _trace_cells(run):
    return sorted(c for c, q in run.traces() if q == "Ex")


def zt_map_source(run):
    """What a z–t map of the run is drawn from: 'traces' (per-step records at
    MIN_MAP_CELLS cells or more), 'snapshots' (MIN_MAP_SNAPSHOTS or more),
    'too few' (snapshots, too few for a map), or None (nothing to draw)."""
    if len(_trace_cells(run)) >= MIN_MAP_CELLS:
        return "traces"
    count = len(run.snapshots())
    if count >= MIN_MAP_SNAPSHOTS:
        return "snapshots"
    return "too few" if count else None


def _bin_edges(x):
    """Cell edges around the points x (half-way between them, and half a gap
    beyond the ends)."""
    if len(x) < 2:
        return np.array([x[0] - 0.5, x[0] + 0.5])
    mid = (x[1:] + x[:-1]) / 2
    return np.concatenate([[2 * x[0] - mid[0]], mid, [2 * x[-1] - mid[-1]]])


def _map_from_traces(run, ax):
    traces = run.traces()
    cells = _trace_cells(run)
    steps = traces[(cells[0], "Ex")].step
    for c in cells[1:]:
        steps = np.intersect1d(steps, traces[(c, "Ex")].step)
    columns = []
    for c in cells:
        intensity = np.zeros(steps.size)
        for q in ("Ex", "Ey"):
            if (c, q) in traces:
                t = traces[(c, q)]
                intensity += t.value[np.isin(t.step, steps)] ** 2
        columns.append(intensity)
    values = np.array(columns).T  # steps x cells
    # A row averages |E|² over half a carrier period at least (the period of
    # |E|² itself): a row then holds the intensity, not a phase of the carrier.
    half_period = int(round(carrier_period_fs(run) / 2 / (run.dt * 1e15)))
    size = max(1, -(-steps.size // MAP_ROWS), half_period)
    starts = np.arange(0, steps.size, size)
    counts = np.diff(np.append(starts, steps.size))
    binned = np.add.reduceat(values, starts, axis=0) / counts[:, None]
    t_edges = np.append(steps[starts] - 0.5, steps[-1] + 0.5) * run.dt * 1e15
    z = run.profile.z_um[np.array(cells) - 1]
    mesh = ax.pcolormesh(_bin_edges(z), t_edges, binned, cmap="magma")
    ax.plot(z, np.ones(len(z)), "v", color="tab:cyan", ms=4, clip_on=False,
            transform=ax.get_xaxis_transform())
    ax.set_ylabel("time t (fs)")
    ax.set_title(f"|E|² from the per-step traces at {len(cells)} monitor cells (▼), averaged "
                 f"over {size} steps ({size * run.dt * 1e15:.3g} fs) per row;\n"
                 "a column spans the gap to the next cell, where nothing was recorded",
                 fontsize="medium")
    return mesh


def plot_zt_map(run):
    """|E|² = |Ex|² + |Ey|² over z and t: from the per-step traces when they
    cover MIN_MAP_CELLS cells, else from the snapshots when there are
    MIN_MAP_SNAPSHOTS of them; with fewer, the snapshots' |E|² profiles with
    a title that says the map would show what the data do not hold."""
    source = zt_map_source(run)
    fig = Figure(figsize=(9, 5), layout="constrained")
    ax = fig.subplots()
    ax.set_xlabel(Z_LABEL)
    steps = run.snapshots()
    if source == "traces":
        mesh = _map_from_traces(run, ax)
    elif source == "snapshots":
        values = np.array([run.snapshot(J, "Ex") ** 2 + run.snapshot(J, "Ey") ** 2
                           for J in steps])
        mesh = ax.pcolormesh(run.profile.z_um, steps * run.dt * 1e15, values,
                             shading="nearest", cmap="magma")
        ax.set_ylabel("snapshot time t (fs)")
        ax.set_title(f"|E|² from {len(steps)} snapshots {_steps_text(run, steps)}: "
                     "each row is the instantaneous |E|²\nof one step, held until the next",
                     fontsize="medium")
    else:
        colours = matplotlib.colormaps["viridis"](np.linspace(0, 1, max(len(steps), 2)))
        for J, colour in zip(steps, colours):
            ax.plot(run.profile.z_um, run.snapshot(J, "Ex") ** 2 + run.snapshot(J, "Ey") ** 2,
                    color=colour, lw=0.9, label=f"t = {J * run.dt * 1e15:.1f} fs")
        ax.set_ylabel("|E|² (units of E0²)")
        ax.legend(fontsize="x-small", ncols=2)
        ax.set_title(f"|E|² at each snapshot: only {len(steps)} snapshots "
                     f"({_steps_text(run, steps)}) and traces at {len(_trace_cells(run))} cells,\n"
                     f"too few for a z–t map (it needs {MIN_MAP_SNAPSHOTS} snapshots "
                     f"or {MIN_MAP_CELLS} trace cells)", fontsize="medium")
        return fig
    fig.colorbar(mesh, ax=ax, label="|E|² (units of E0²)")
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


def plot_spectra(run, wavelength_range=None, log=False):
    """R(λ) and T(λ) (and 1 − R − T) of a run with flux records; None without.
    The shaded bands are the error the end of the record leaves; values out
    of [0, 1] within it are drawn at the limit (spectra.physical_range).
    `wavelength_range` (low, high) [nm] draws that part of the band only (a
    ValueError when it holds none of it); `log` puts R, T and 1 − R − T on a
    log scale (where they are positive)."""
    spectra = compute_spectra(run)
    if spectra is None:
        return None
    spectra = in_range(spectra, wavelength_range, run.folder)
    drawn = physical_range(spectra)
    fig = Figure(figsize=(8, 4.8), layout="constrained")
    ax = fig.subplots()
    lam = spectra.wavelength_nm
    low, high = (-np.inf, np.inf) if spectra.gain else (0.0, 1.0)
    if log:
        ax.set_yscale("log", nonpositive="mask")
    for values, error, label in ((drawn.reflectance, spectra.R_error, "R (reflected)"),
                                 (drawn.transmittance, spectra.T_error, "T (transmitted)")):
        line, = ax.plot(lam, values, label=label)
        below = np.clip(values - error, low, high)
        if log:  # a band down to 0 would reach the bottom of the log axis
            below = np.where(below > 0, below, values / 10)
        ax.fill_between(lam, below, np.clip(values + error, low, high),
                        color=line.get_color(), alpha=0.2, lw=0)
    ax.plot(lam, drawn.absorbed, ls="--", label="1 − R − T (taken up or kept)")
    ax.set_xlabel("wavelength λ (nm)")
    ax.set_ylabel("fraction of the incident energy (1)")
    band = spectra.band_fraction
    shown = ("" if wavelength_range is None else
             f"{lam[0]:.4g}–{lam[-1]:.4g} nm of the band ")
    ax.set_title(f"{shown}where the incident spectrum is ≥ {band:.0%} of its peak; "
                 f"resolution Δλ = λ²/(c·T) = {spectra.resolution_nm:.3g} nm\n"
                 f"{_spectra_note(spectra, drawn)}"
                 + ("; log scale: values ≤ 0 not drawn" if log else ""), fontsize="small")
    ax.legend(fontsize="small")
    return fig


def figures(run, wavelength_range=None, log=False):
    """(file name, Figure) of every plot the run supports, made one at a time
    (`wavelength_range` and `log` are plot_spectra's)."""
    for J in run.snapshots():
        yield f"snapshot_{J:012d}.png", plot_snapshot(run, J)
    for cell in run.monitor_cells():
        yield f"trace_cell{cell:06d}.png", plot_traces(run, cell)
    source = zt_map_source(run)
    if source is not None:
        name = "zt_profiles_E2.png" if source == "too few" else "zt_map_E2.png"
        yield name, plot_zt_map(run)
    spectra = plot_spectra(run, wavelength_range, log)
    if spectra is not None:
        yield "spectra_RT.png", spectra


def save_all(run, out_dir, dpi=110, wavelength_range=None, log=False):
    """Writes every figure as a PNG in `out_dir` (each whole or not at all;
    never inside the run's own folders); returns the paths.  The spectrum's
    wavelength range and log scale are plot_spectra's."""
    out = Path(out_dir)
    folders, files = run.own_paths()
    check_output_folder(out, folders)
    try:
        out.mkdir(parents=True, exist_ok=True)
    except OSError as e:
        raise FileError(f"{out}: cannot make the folder: {e.strerror}") from None
    paths = []
    for name, fig in figures(run, wavelength_range, log):
        with replacing(out / name, folders, files) as stream:
            fig.savefig(stream, dpi=dpi, format="png")
        paths.append(out / name)
    return paths
