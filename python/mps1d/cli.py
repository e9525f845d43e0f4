"""Command line of mps1d-tools: plot, spectra, export and summary of a run folder."""
import argparse
import sys
from pathlib import Path

from .program import quiet_on_closed_pipe
from .run import load
from .spectra_table import TABLE_ROWS
from .sweep import add_sweep_parser


def _plot(args):
    from .plots import save_all
    from .spectra_table import in_range, parse_range

    wavelength_range = parse_range(args.range) if args.range is not None else None
    run = load(args.run)
    if wavelength_range is not None or args.log:
        # The options are the spectrum's: a run without one is refused
        # before any figure is written.
        in_range(run.spectra(), wavelength_range, run.folder)
    out = Path(args.out) if args.out else run.folder / "plots"
    for path in save_all(run, out, wavelength_range=wavelength_range, log=args.log):
        print(path)
    return 0


def _spectra(args):
    from . import fileio
    from .spectra_table import csv_text, in_range, parse_range, table_text

    wavelength_range = parse_range(args.range) if args.range is not None else None
    run = load(args.run)
    spectra = run.spectra()
    if args.csv is None:
        sys.stdout.write(table_text(spectra, run.folder, wavelength_range, args.rows))
        return 0
    part = in_range(spectra, wavelength_range, run.folder)
    fileio.write_text(args.csv, csv_text(part), *run.own_paths())
    print(f"{args.csv}: {part.wavelength_nm.size} wavelengths from {part.wavelength_nm[0]:.3f} "
          f"to {part.wavelength_nm[-1]:.3f} nm")
    return 0


def _rows(text):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"{text!r}: give a whole number of rows, 1 or more")
    return value


def _export(args):
    from .export import export

    export(load(args.run), args.file)
    print(args.file)
    return 0


def _summary(args):
    from .report import summary_text

    sys.stdout.write(summary_text(load(args.run)))
    return 0


def parser():
    p = argparse.ArgumentParser(prog="mps1d-tools",
                                description="Plots, spectra, HDF5 export, summary and parameter sweeps of mps1d runs. "
                                            "RUN is the folder holding execdata.txt.")
    sub = p.add_subparsers(dest="command", required=True)
    plot = sub.add_parser("plot", help="PNG figures of the run")
    plot.add_argument("run", metavar="RUN")
    plot.add_argument("--out", metavar="DIR", help="folder for the PNGs (default RUN/plots)")
    plot.add_argument("--range", metavar="NM:NM",
                      help="wavelengths of the spectrum plot, e.g. 940:970 (an end may be left "
                           "open: 940:)")
    plot.add_argument("--log", action="store_true",
                      help="R, T and 1 - R - T of the spectrum plot on a log scale")
    plot.set_defaults(action=_plot)
    spectra = sub.add_parser(
        "spectra", help="R, T and 1 - R - T against wavelength (a run with the transparent source)",
        description="R, T, absorbed = 1 - R - T and their error bounds against wavelength, "
                    "over the band where the incident spectrum is at least 3 %% of its peak. "
                    "Printed: every k-th point, at most --rows rows; --csv: every point.")
    spectra.add_argument("run", metavar="RUN")
    spectra.add_argument("--range", metavar="NM:NM", help="wavelengths to show, e.g. 940:970")
    spectra.add_argument("--csv", metavar="FILE",
                         help="write every point of the range to FILE (header: columns and units)")
    spectra.add_argument("--rows", type=_rows, default=TABLE_ROWS, metavar="N",
                         help=f"rows of the printed table at most (default {TABLE_ROWS})")
    spectra.set_defaults(action=_spectra)
    export = sub.add_parser("export", help="every array in one HDF5 file")
    export.add_argument("run", metavar="RUN")
    export.add_argument("file", metavar="FILE.h5")
    export.set_defaults(action=_export)
    summary = sub.add_parser("summary", help="energy budget and peak populations")
    summary.add_argument("run", metavar="RUN")
    summary.set_defaults(action=_summary)
    add_sweep_parser(sub)
    return p


def main(argv=None):
    args = parser().parse_args(argv)
    try:
        return quiet_on_closed_pipe(args.action, args)
    except (FileNotFoundError, ValueError) as error:
        print(f"mps1d-tools: {error}", file=sys.stderr)
        return 2
    except OSError as error:  # one the tools did not name themselves
        print(f"mps1d-tools: {error.filename or ''}: {error.strerror or error}", file=sys.stderr)
        return 2
