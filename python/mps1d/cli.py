"""Command line of mps1d-tools: plot, export and summary of a run folder."""
import argparse
import sys
from pathlib import Path

from .program import quiet_on_closed_pipe
from .run import load
from .sweep import add_sweep_parser


def _plot(args):
    from .plots import save_all

    run = load(args.run)
    out = Path(args.out) if args.out else run.folder / "plots"
    for path in save_all(run, out):
        print(path)
    return 0


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
                                description="Plots, HDF5 export, summary and parameter sweeps of mps1d runs. "
                                            "RUN is the folder holding execdata.txt.")
    sub = p.add_subparsers(dest="command", required=True)
    plot = sub.add_parser("plot", help="PNG figures of the run")
    plot.add_argument("run", metavar="RUN")
    plot.add_argument("--out", metavar="DIR", help="folder for the PNGs (default RUN/plots)")
    plot.set_defaults(action=_plot)
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
