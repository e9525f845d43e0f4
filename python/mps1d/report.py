"""The energy budget and the extreme populations of a run as text tables."""
from .run import POPULATIONS, peak_populations

# `absorbed` is the work of the field on the dots: their stored energy
# (`dots`) plus what dephasing and relaxation handed on (`dissipated`).
ENERGY_ROWS = ("injected", "reflected", "transmitted", "in_grid", "dots", "dissipated",
               "absorbed")


def _rows(header, rows):
    """A plain table: columns left-aligned to their widest cell."""
    table = [header] + [[str(c) for c in row] for row in rows]
    widths = [max(len(row[k]) for row in table) for k in range(len(header))]
    lines = ["  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip() for row in table]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return lines


# summary.json writes a value that is not finite (NaN, infinity) as null.
NOT_FINITE = "not finite"


def energy_table(summary):
    energy = summary.get("energy") or {}
    injected = energy.get("injected")
    rows = []
    for name in ENERGY_ROWS:
        if name not in energy:
            continue
        value = energy[name]
        if value is None:
            rows.append([name, NOT_FINITE, "-"])
            continue
        share = f"{value / injected:.6f}" if injected else "-"
        rows.append([name, f"{value:.6e}", share])
    lines = _rows(["energy", "J/m^2", "of injected"], rows)
    if "balance" in energy:
        # Older summaries count no dissipated energy in the balance.
        terms = ("reflected+transmitted+in_grid+dots+dissipated" if "dissipated" in energy
                 else "reflected+transmitted+dots+in_grid")
        balance = energy["balance"]
        lines.append(f"balance ({terms})/injected = "
                     + (NOT_FINITE if balance is None else f"{balance:.9f}"))
    return lines


def population_table(columns, dt):
    """One row per population: for each (heading, {rho: (value, step, cell)})
    of `columns` the value with its step, time and cell."""
    rows = []
    for name in POPULATIONS:
        row = [name]
        for _, extremes in columns:
            value, step, cell = extremes.get(name, (None, None, None))
            time = f"{step * dt * 1e15:.3f}" if step is not None else "-"
            row += ["-" if value is None else f"{value:.9f}", step, time, cell]
        if any(extremes.get(name, (None,))[0] is not None for _, extremes in columns):
            rows.append(["-" if c is None else c for c in row])
    header = ["population"]
    for heading, _ in columns:
        header += [heading, "step", "t (fs)", "cell"]
    return _rows(header, rows)


def peak_table(peaks, dt):
    """Rows of {rho: (value, step, cell)}."""
    return population_table([("peak", peaks)], dt)


def _extremes(summary, key):
    return {name: (entry.get("value"), entry.get("step"), entry.get("cell"))
            for name, entry in (summary.get(key) or {}).items()}


def _unfinished(summary):
    """The lines that say first of all that a run did not complete: where and
    why a stopped run stopped, or the step a summary of a run that has not
    ended was written at.  None for a complete run."""
    status = summary.get("status")
    if status == "stopped":
        stop = summary.get("stop")
        if not stop:  # summary.json of an mps1d before the stop record
            return ["RUN STOPPED before its end (this summary.json does not say where or why)"]
        return [f"RUN STOPPED after step {stop.get('step')}: {stop.get('reason')}",
                "The values below are those the run reached before it stopped."]
    if status == "running":
        step = (summary.get("inputs") or {}).get("steps_run")
        return [f"RUN NOT FINISHED: this summary.json was written at the snapshot of step {step}; "
                "the run is still going, or it ended without finishing (killed)."]
    return None


def _from_summary(summary, dt):
    head = [f"{key}: {summary[key]}" for key in
            ("program", "version", "model", "status", "source", "threads", "wall_time_s")
            if key in summary]
    ensemble = (summary.get("inputs") or {}).get("ensemble")
    if ensemble:
        head.append(f"ensemble: {ensemble.get('classes')} spectral classes per dot cell, "
                    f"Gaussian of {ensemble.get('fwhm_meV')} meV FWHM"
                    + (f" ({ensemble['detunings']})" if ensemble.get("detunings") else ""))
    peaks = _extremes(summary, "peak_populations")
    lowest = _extremes(summary, "lowest_populations")
    if lowest:
        table = ["", "populations over the dot cells"]
        table += population_table([("min", lowest), ("max", peaks)], dt)
    else:
        table = ["", "peak populations"] + peak_table(peaks, dt)
    warning = _unfinished(summary)
    head = (warning + [""] if warning else []) + head
    return head + [""] + energy_table(summary) + table


def summary_text(run):
    """The table of summary.json; without it, what the files themselves give."""
    if run.summary is not None:
        return "\n".join(_from_summary(run.summary, run.dt)) + "\n"
    peaks = peak_populations(run)
    lines = [f"no summary.json in {run.results_dir}: no energy budget for this run.", "",
             "peak populations of the monitor cells (every step):"]
    lines += peak_table(peaks["traces"], run.dt)
    lines += ["", "peak populations of the dot cells at the snapshots:"]
    lines += peak_table(peaks["snapshots"], run.dt)
    return "\n".join(lines) + "\n"
