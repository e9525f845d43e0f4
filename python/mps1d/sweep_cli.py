"""The command line of sweeps: `mps1d-tools sweep ...` and
scripts/mps1d-sweep, with the subcommands status, collect and names."""
from __future__ import annotations

import argparse
import json
import sys
import time
from pathlib import Path

from mps1d import fileio
from mps1d import program as program_module
from mps1d.execdata import NAMES, Execdata, ExecdataError, known_names_text
from mps1d.sweep_collect import DEFAULT_Y, collect
from mps1d.sweep_plan import case_parameters, load_case_function, template_file
from mps1d.sweep_run import run_sweep
from mps1d.sweep_states import QUEUED, case_states, count_states, status_text
from mps1d.sweep_values import MAX_POINTS, OPTION_NAMES, SweepError


def configure_parser(p: argparse.ArgumentParser) -> argparse.ArgumentParser:
    """The arguments of `sweep` (and of mps1d-sweep) on the parser `p`."""
    p.formatter_class = argparse.RawDescriptionHelpFormatter
    p.description = ("Run a parameter sweep of mps1d, follow it, collect its results.\n\n"
                     "  sweep TEMPLATE_RUN_FOLDER --set NAME=VALUES [--set ...] --out SWEEP_FOLDER "
                     "[--source hard|transparent] [--output text|hdf5] [--both-transitions] "
                     "[--ensemble K,FWHM]\n"
                     "  sweep status SWEEP_FOLDER\n"
                     "  sweep collect SWEEP_FOLDER [--plot Y|A/B] [--x NAME] [--spectra]\n"
                     "                [--polarisation CELL [--polarisation-window T0:T1]]\n"
                     "  sweep names [TEMPLATE_RUN_FOLDER]\n"
                     "  sweep --case FILE.py:FUNCTION --set PARAMETER=VALUES [--set ...] "
                     "--out SWEEP_FOLDER")
    p.epilog = ("NAME: " + known_names_text() + " (J: 1-based layer row); " +
                ", ".join(OPTION_NAMES) + ": each point's --ensemble=K,FWHM (also with --case).\n"
                "VALUES: a,b,c | START:STOP:COUNT | log:START:STOP:COUNT | @FILE.\n"
                "The program: $MPS1D, else build/mps1d of the repository, else mps1d on the PATH.")
    p.add_argument("target", nargs="?", metavar="TEMPLATE_RUN_FOLDER|status|collect|names")
    p.add_argument("folder", nargs="?", metavar="SWEEP_FOLDER",
                   help="the sweep folder (status, collect) or the template (names)")
    _add_run_options(p.add_argument_group("running a sweep"))
    g = p.add_argument_group("status")
    g.add_argument("--wait", type=float, metavar="SECONDS",
                   help="wait up to SECONDS until no point is queued or running "
                        "(exit status 3 if some still are)")
    g.add_argument("--json", action="store_true", help="the states as JSON")
    g = p.add_argument_group("collect")
    g.add_argument("--plot", action="append", metavar="Y",
                   help=f"summary value to draw (default {DEFAULT_Y}), or the ratio of two, "
                        "A/B (energy.transmitted/energy.injected); repeatable")
    g.add_argument("--x", metavar="NAME", help="swept input on the x axis (default the first)")
    g.add_argument("--no-plot", action="store_true", help="write the tables only")
    g.add_argument("--spectra", action="store_true",
                   help="also each complete point's R, T, 1 - R - T against wavelength: "
                        "spectra.csv (a row per point and wavelength) and spectra.h5 (a group "
                        "per point); the runs need --source transparent")
    g.add_argument("--polarisation", metavar="CELL",
                   help="also each complete point's rotation and ellipticity [rad] of the "
                        "light at monitor cell CELL (or 'end': the end away from the source) "
                        "over its band: the columns polarisation.rotation and "
                        "polarisation.ellipticity")
    g.add_argument("--polarisation-window", metavar="T0:T1", type=_window,
                   help="the part of the record [fs] that holds the pulse to measure "
                        "(T1 may be left out: to the end), e.g. to leave out a pump")
    p.set_defaults(action=sweep_main)
    return p


def _window(text: str) -> tuple:
    """(t0, t1) [fs] of T0:T1 (either may be empty: open)."""
    parts = text.split(":")
    try:
        if len(parts) != 2:
            raise ValueError
        t0, t1 = (float(v) if v.strip() else None for v in parts)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r}: give T0:T1 in fs (T1 may be empty)") \
            from None
    if t0 is not None and t1 is not None and not t1 > t0:
        raise argparse.ArgumentTypeError(f"{text!r}: T1 must be after T0")
    return t0, t1


def _add_run_options(g) -> None:
    """The options of running a sweep: its values, folder, engine and the
    program's options of every run."""
    g.add_argument("--set", action="append", default=[], metavar="NAME=VALUES", dest="sets",
                   help="a named input and its values; repeat for more inputs")
    g.add_argument("--out", metavar="SWEEP_FOLDER", help="the folder of the sweep")
    g.add_argument("--case", metavar="FILE.py:FUNCTION",
                   help="sweep the mps1d.Case a Python function returns, over its keyword "
                        "parameters (instead of a template folder)")
    g.add_argument("--engine", choices=("local", "slurm"), default="local")
    g.add_argument("--jobs", type=int, metavar="N",
                   help="runs at a time (local: default cores / T; slurm: the array's %%N)")
    g.add_argument("--threads-per-run", type=int, default=1, metavar="T",
                   help="OpenMP threads (and Slurm CPUs) per run (default 1)")
    g.add_argument("--zip", action="store_true", help="pair the values instead of the product")
    g.add_argument("--max-points", type=int, default=MAX_POINTS, metavar="N",
                   help=f"refuse a sweep of more than N points (default {MAX_POINTS})")
    g.add_argument("--partition", help="Slurm partition")
    g.add_argument("--time", help="Slurm time limit per task")
    g.add_argument("--account", help="Slurm account")
    g.add_argument("--source", choices=("hard", "transparent"),
                   help="the program's --source for every run (default: the program's, hard)")
    g.add_argument("--output", choices=("text", "hdf5"),
                   help="the program's --output for every run (default: text)")
    g.add_argument("--both-transitions", action="store_true",
                   help="the program's --both-transitions for every run")
    g.add_argument("--ensemble", type=_ensemble, metavar="K,FWHM",
                   help="the program's --ensemble=K,FWHM for every run: K spectral classes "
                        "(1 to 256) over a Gaussian of FWHM meV; a swept ensemble.classes or "
                        "ensemble.fwhm_meV takes the place of its part")


def _ensemble(text: str) -> str:
    """The program's option of the sweep's `--ensemble K,FWHM`."""
    k, _, fwhm = text.partition(",")
    try:
        classes, width = int(k), float(fwhm)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r}: give K,FWHM (K spectral classes, "
                                         "their full width in meV)") from None
    try:
        return program_module.ensemble_option(classes, width)
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e)) from None


def add_sweep_parser(subparsers) -> argparse.ArgumentParser:
    """Adds the `sweep` subcommand to an argparse subparsers object; its
    action (args.action) is sweep_main."""
    return configure_parser(subparsers.add_parser(
        "sweep", help="parameter sweeps: run (local or Slurm), status, collect"))


def _reject(args, allowed: set[str], what: str) -> None:
    """SweepError naming the options given that `what` does not take."""
    given = {"sets": bool(args.sets), "out": args.out is not None, "zip": args.zip,
             "jobs": args.jobs is not None, "engine": args.engine != "local",
             "threads_per_run": args.threads_per_run != 1, "partition": args.partition is not None,
             "time": args.time is not None, "account": args.account is not None,
             "wait": args.wait is not None, "json": args.json, "plot": bool(args.plot),
             "x": args.x is not None, "no_plot": args.no_plot, "spectra": args.spectra,
             "polarisation": args.polarisation is not None,
             "polarisation_window": args.polarisation_window is not None,
             "max_points": args.max_points != MAX_POINTS, "case": args.case is not None,
             "source": args.source is not None, "output": args.output is not None,
             "both_transitions": args.both_transitions, "ensemble": args.ensemble is not None}
    wrong = [k for k, v in given.items() if v and k not in allowed]
    if wrong:
        opts = ", ".join("--" + ("set" if k == "sets" else k.replace("_", "-")) for k in wrong)
        raise SweepError(f"{what} takes no {opts}")


def _status(args) -> int:
    """`sweep status`: the states, after waiting with --wait; 3 when points
    are still queued or running after the wait."""
    sweep_dir = Path(args.folder).resolve()
    deadline = time.monotonic() + (args.wait or 0)
    while True:
        states = case_states(sweep_dir)
        c = count_states(states)
        if args.wait is None or (c["running"] == 0 and not any(
                s.state == "pending" and s.detail.startswith(QUEUED) for s in states)):
            break
        if time.monotonic() >= deadline:
            break
        time.sleep(min(2.0, max(0.1, deadline - time.monotonic())))
    if args.json:
        print(json.dumps({"folder": str(sweep_dir), "counts": c,
                          "cases": [vars(s) for s in states]}, indent=1))
    else:
        sys.stdout.write(status_text(sweep_dir, states))
    if args.wait is not None and (c["running"] or any(
            s.state == "pending" and s.detail.startswith(QUEUED) for s in states)):
        return 3
    return 0


def _names(args) -> int:
    """`sweep names`: the names a sweep can set (of a template with its
    values, of a case function with its defaults)."""
    if args.case:
        import inspect
        function, label = load_case_function(args.case)
        kinds = case_parameters(function)
        for p in inspect.signature(function).parameters.values():
            if p.name in kinds:
                default = "" if p.default is p.empty else repr(p.default)
                print(f"{p.name:<28} {kinds[p.name]:<5} {default}")
    elif args.folder:
        ed = Execdata.read(template_file(args.folder))
        for n in ed.names():
            try:
                print(f"{n:<28} {ed.token(n)}")
            except ExecdataError as e:
                print(f"{n:<28} ({e})")
    else:
        for n, (kind, text) in NAMES.items():
            print(f"{n:<28} {kind:<5} {text}")
    # Not in the file: each run's --ensemble=K,FWHM.
    for n, (kind, text) in OPTION_NAMES.items():
        print(f"{n:<28} {kind:<5} {text}")
    return 0


def sweep_main(args) -> int:
    """The action of `sweep`: status, collect, names or running a sweep;
    exit status 2 with the message when the sweep cannot be done as asked."""
    try:
        if args.target == "status" and args.folder:
            _reject(args, {"wait", "json"}, "sweep status")
            return _status(args)
        if args.target == "collect" and args.folder:
            _reject(args, {"plot", "x", "no_plot", "spectra", "polarisation",
                           "polarisation_window"}, "sweep collect")
            if args.polarisation_window is not None and args.polarisation is None:
                raise SweepError("--polarisation-window goes with --polarisation CELL")
            if args.polarisation not in (None, "end") and not args.polarisation.isdigit():
                raise SweepError(f"--polarisation {args.polarisation}: give a monitor cell "
                                 "number or 'end'")
            collect(args.folder, args.plot, args.x, draw=not args.no_plot, spectra=args.spectra,
                    polarisation=args.polarisation,
                    polarisation_window=args.polarisation_window)
            return 0
        if args.target == "names" and not args.sets:
            _reject(args, {"case"}, "sweep names")
            return _names(args)
        if args.folder:
            raise SweepError(f"unexpected argument {args.folder!r} (a sweep takes one template "
                             "folder; status and collect take a sweep folder)")
        _reject(args, {"sets", "out", "zip", "jobs", "engine", "threads_per_run", "partition",
                       "time", "account", "max_points", "case", "source", "output",
                       "both_transitions", "ensemble"},
                "running a sweep")
        if (args.target is None) == (args.case is None):
            raise SweepError("give a template run folder or --case FILE.py:FUNCTION (one of them)")
        if not args.out:
            raise SweepError("give the sweep folder with --out SWEEP_FOLDER")
        options = [f"--{k}={v}" for k, v in (("partition", args.partition), ("time", args.time),
                                               ("account", args.account)) if v]
        if options and args.engine != "slurm":
            raise SweepError("--partition, --time and --account are for --engine slurm")
        return run_sweep(args.target, args.sets, args.out, args.engine, args.jobs,
                         args.threads_per_run, args.zip, options, max_points=args.max_points,
                         case=args.case,
                         program_options=[f"--{k}={v}" for k, v in (("source", args.source),
                                                                    ("output", args.output)) if v]
                         + (["--both-transitions"] if args.both_transitions else [])
                         + ([args.ensemble] if args.ensemble else []))
    except (SweepError, ExecdataError, fileio.FileError) as e:
        print(f"mps1d sweep: error: {e}", file=sys.stderr)
        return 2


def main(argv=None) -> int:
    """mps1d-sweep ARGS."""
    parser = configure_parser(argparse.ArgumentParser(prog="mps1d-sweep"))
    args = parser.parse_args(argv)
    return program_module.quiet_on_closed_pipe(args.action, args)
