"""The energy budget and peak populations of a run as a text table."""
from .run import POPULATIONS, peak_populations

ENERGY_ROWS = ("injected", "reflected", "transmitted", "dots", "in_grid")


def _rows(header, rows):
    """A plain table: columns left-aligned to their widest cell."""
    table = [header] + [[str(c) for c in row] for row in rows]
    widths = [max(len(row[k]) for row in table) for k in range(len(header))]
    lines = ["  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip() for row in table]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return lines


def energy_table(summary):
    energy = summary.get("energy") or {}
    injected = energy.get("injected")
    rows = []
    for name in ENERGY_ROWS:
        value = energy.get(name)
        if value is None:
            continue
        share = f"{value / injected:.6f}" if injected else "-"
        rows.append([name, f"{value:.6e}", share])
    lines = _rows(["energy", "J/m^2", "of injected"], rows)
    if "balance" in energy:
        lines.append(f"balance (reflected+transmitted+dots+in_grid)/injected = "
                     f"{energy['balance']:.9f}")
    return lines


def peak_table(peaks, dt):
    """Rows of {rho: (value, step, cell)}."""
    rows = []
    for name in POPULATIONS:
        value, step, cell = peaks.get(name, (None, None, None))
        if value is None:
            continue
        time = f"{step * dt * 1e15:.3f}" if step is not None else "-"
        rows.append([name, f"{value:.9f}", step, time, cell])
    return _rows(["population", "peak", "step", "t (fs)", "cell"], rows)


def _from_summary(summary, dt):
    head = [f"{key}: {summary[key]}" for key in
            ("program", "version", "model", "status", "source", "threads", "wall_time_s")
            if key in summary]
    peaks = {name: (entry.get("value"), entry.get("step"), entry.get("cell"))
             for name, entry in (summary.get("peak_populations") or {}).items()}
    return head + [""] + energy_table(summary) + ["", "peak populations"] + peak_table(peaks, dt)


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
