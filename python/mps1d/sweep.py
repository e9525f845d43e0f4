"""Parameter sweeps of mps1d: one run per point of a grid of input values,
run locally with GNU parallel or on a cluster as one Slurm job array, then
collected into one table.

Usage (`mps1d-tools sweep ...`; until it is wired in, `scripts/mps1d-sweep ...`
takes the same arguments):

    mps1d-tools sweep TEMPLATE_RUN_FOLDER --set NAME=VALUES [--set ...] --out SWEEP_FOLDER
                      [--engine local|slurm] [--jobs N] [--threads-per-run T] [--zip]
                      [--partition P] [--time T] [--account A] [--source hard|transparent]
                      [--output text|hdf5] [--both-transitions] [--ensemble K,FWHM]
    mps1d-tools sweep status SWEEP_FOLDER [--wait SECONDS] [--json]
    mps1d-tools sweep collect SWEEP_FOLDER [--plot Y] [--x NAME] [--no-plot]
    mps1d-tools sweep names [TEMPLATE_RUN_FOLDER]
    mps1d-tools sweep --case FILE.py:FUNCTION --set PARAMETER=VALUES [--set ...]
                      --out SWEEP_FOLDER [options as above]

--source hard|transparent, --output text|hdf5, --both-transitions and
--ensemble K,FWHM (K spectral classes of the dots over a Gaussian of full
width FWHM meV) are given to every run of the sweep (and to the checks
before it) as the program's options of those names; they belong to the
sweep like its values, so a rerun in the same folder repeats them.

Two names are not in the file but make each point's --ensemble=K,FWHM:
ensemble.classes (K, 1 to 256) and ensemble.fwhm_meV (FWHM [meV]), with a
template folder as with --case (where they are options of the run, not
parameters of the function).  One of them swept alone takes the other from
the sweep's --ensemble K,FWHM (without it the sweep is refused); a swept
name takes the place of its part of the sweep's --ensemble, so with both
swept that one is left unused.  The input checks and the trial step below
take each point's options.

    mps1d-tools sweep runs/echo --set ensemble.fwhm_meV=1,2,4 --ensemble 16,1 --out sweeps/width

TEMPLATE_RUN_FOLDER holds the "execdata.txt" of a run that works (or name
the file itself).  NAME is one of the named inputs of that file (in the
units the file uses; `sweep names` lists them with the template's values):

    pulse.amplitude [V/m], pulse.fwhm and pulse.delay (in the unit codes of
    the pulse line), pulse.wavelength [um], pulse.polarisation, pulse.shape,
    pulse.origin, pulse.noise, dots.density [m^-3], times.scale (scale of the
    population and spin-flip times), dephasing.scale, boundary.left.reflection,
    boundary.right.reflection, run.courant, run.LL, run.Nt,
    run.iteration_limit, run.tolerance, structure.dz [m], layer.J.cells,
    layer.J.index, layer.J.index_end (J: 1-based row of the layer table).

VALUES is a list `1e8,2e8,4e8`, a linear range `1e8:5e8:9` (9 points from
1e8 to 5e8), a logarithmic range `log:1e8:1e10:5`, or `@FILE` (values
separated by blanks, commas or lines; `#` starts a comment).  Several --set
make the Cartesian product of their values (the first --set varies slowest);
with --zip they are paired instead (equal lengths).

What a sweep writes into SWEEP_FOLDER:

    sweep.json            the template, the named inputs and their values,
                          one entry per point with its folder, the engine
                          and every run or submission
    template.execdata.txt a copy of the template
    case-0000/ ...        one folder per point: its execdata.txt (the
                          template with only the named values changed, at
                          their place in their line, everything else byte
                          for byte), case.json, the three result folders the
                          file names, program_options.txt (the program's
                          options of the run, one a line), mps1d.out /
                          mps1d.err (console), `started` and `exit_status`
                          (written by the runner)
    run_case.sh           the runner of one case (both engines use it)
    joblog.txt            GNU parallel's job log (local engine; local-cases.txt
                          lists the cases of the latest local run)
    slurm-job-N.sh, slurm-cases-N.txt, slurm/   submission N (Slurm engine)
    sweep.csv, sweep.h5, sweep-Y-vs-X.png       written by `collect`

Before anything runs, the sweep is checked: unknown names (the known ones
are listed), values that do not parse or do not fit the name (integers),
a template the walk over the file cannot follow, and the program's own
input check of the template and of every point's file (the program reads
and checks the whole input before it looks at its folders; each point is
checked in a scratch folder whose result folders are missing, so an
accepted input ends with the missing-folder report and nothing runs), and
one step of the template run (run.Nt 0, run.LL 1) that must exit 0 (one
for each distinct set of the points' program options).

A point is complete when the summary.json of its results folder says
`"status": "complete"`; a rerun of the same sweep runs only the others
(a failed point again, from empty result folders) and leaves points that
are still queued or running alone.

Engines:
  local (default)  GNU parallel (Debian package `parallel`) runs the cases,
                   N at a time (--jobs, default: cores / T), each with
                   OMP_NUM_THREADS=T (--threads-per-run, default 1), with a
                   progress bar on a terminal (elsewhere a line per finished
                   case) and the job log SWEEP_FOLDER/joblog.txt.  A
                   failed case is recorded (its exit status in the job log
                   and in `sweep status`), the other cases go on; the command
                   then exits 1.
  slurm            writes SWEEP_FOLDER/slurm-job-N.sh and submits it as one
                   job array, one task per point to run:
                   sbatch --array=0-K%N --cpus-per-task=T [--partition P]
                   [--time T] [--account A].  The sweep folder must be on a
                   file system the compute nodes share.

On a cluster (the sweep folder on a shared file system):

    mps1d-tools sweep runs/cavity --set pulse.amplitude=log:1e8:1e10:9 --set pulse.fwhm=50,100 \\
        --out sweeps/amplitude --engine slurm --jobs 16 --threads-per-run 2 --partition normal --time 02:00:00
    mps1d-tools sweep status sweeps/amplitude     # done / running / failed / pending per point

and when it is done, `mps1d-tools sweep collect sweeps/amplitude --plot
energy.transmitted --x pulse.amplitude` writes sweep.csv, sweep.h5 and the
figure.  `collect` makes one row per point: the point's index and folder,
a column per swept name, its state and exit status, and a column per
scalar value of its summary.json (nested objects flattened with dots:
`energy.transmitted`, `peak_populations.rho22.value`, ...; "inputs" left
out).  --plot A/B draws the ratio of two summary values
(energy.transmitted/energy.injected).  Without --plot it draws
peak_populations.rho22.value (or the first summary value) against the
first swept name, one line per value of the other swept names.

Sweeping a Python case: --case FILE.py:FUNCTION (or MODULE:FUNCTION, a
module on the Python path) names a function that returns an mps1d.Case;
each --set names one of its keyword parameters, in the units the function
takes, and each point's execdata.txt is the Case the function returns for
that point (written as Case.write writes it).  The function called with its
defaults is the template (checked and tried for one step).  A parameter
whose default is an integer takes integers.  `sweep names --case
FILE.py:FUNCTION` lists the parameters.  Everything else (engines, status, collect) is as
above.  From Python, give the function itself:

    from mps1d.sweep import run_sweep
    def case(area=3.14, fwhm_fs=100.0): ...        # returns a Case
    run_sweep(None, ["area=1:10:10"], "sweeps/area", case=case, jobs=2)

The program run is $MPS1D when set, else build/mps1d of this repository,
else `mps1d` on the PATH.

The sweep is made of these modules: ``sweep_values`` (the --set values and
the points), ``sweep_plan`` (the template or case function and each
point's file), ``sweep_checks`` (the program's checks before anything
runs), ``sweep_files`` (the sweep folder's files), ``sweep_states``
(done, running, failed, pending), ``sweep_engines`` (GNU parallel and
Slurm), ``sweep_run`` (run_sweep), ``sweep_collect`` (tables and figures)
and ``sweep_cli`` (the command line).  Their names are importable from
here as well.
"""
from __future__ import annotations

import sys

from mps1d.sweep_checks import check_input, check_points, find_program, trial_step
from mps1d.sweep_cli import add_sweep_parser, configure_parser, main, sweep_main
from mps1d.sweep_collect import (DEFAULT_Y, axis_label, collect, collect_rows, flatten,
                                 plot_choice, plot_column, quantity, quantity_label, write_csv,
                                 write_h5)
from mps1d.sweep_engines import RUNNER_TEXT, run_local, slurm_script, submit_slurm, write_runner
from mps1d.sweep_files import (CASE_FILE, CONSOLE_ERR, CONSOLE_OUT, EXIT_FILE, JOBLOG,
                               OPTIONS_FILE, RUNNER, STARTED_FILE, SUMMARY_FILE, SWEEP_FILE,
                               TEMPLATE_COPY, is_complete, load_sweep, read_summary, reset_case,
                               result_folders, write_cases)
from mps1d.sweep_plan import (Plan, case_parameters, load_case_function, plan_case_sweep,
                              plan_sweep, plan_template_sweep, template_file)
from mps1d.sweep_run import plain_text, run_sweep
from mps1d.sweep_states import (QUEUED, STATES, CaseState, case_states, count_states,
                                slurm_queue, status_text)
from mps1d.sweep_values import (ENSEMBLE, MAX_POINTS, MAX_VALUE_FILE, OPTION_NAMES, Axis,
                                SweepError, build_points, file_values, parse_option_values,
                                parse_set, parse_values, run_options)

__all__ = [
    "Axis", "CASE_FILE", "CONSOLE_ERR", "CONSOLE_OUT", "CaseState", "DEFAULT_Y", "ENSEMBLE",
    "EXIT_FILE", "JOBLOG", "MAX_POINTS", "MAX_VALUE_FILE", "OPTIONS_FILE", "OPTION_NAMES",
    "Plan", "QUEUED", "RUNNER", "RUNNER_TEXT", "STARTED_FILE", "STATES", "SUMMARY_FILE",
    "SWEEP_FILE", "SweepError", "TEMPLATE_COPY", "add_sweep_parser", "axis_label",
    "build_points", "case_parameters", "case_states", "check_input", "check_points", "collect",
    "collect_rows", "configure_parser", "count_states", "file_values", "find_program",
    "flatten", "is_complete", "load_case_function", "load_sweep", "main", "parse_option_values",
    "parse_set", "parse_values", "plain_text", "plan_case_sweep", "plan_sweep",
    "plan_template_sweep", "plot_choice", "plot_column", "quantity", "quantity_label",
    "read_summary", "reset_case", "result_folders", "run_local", "run_options", "run_sweep",
    "slurm_queue", "slurm_script", "status_text", "submit_slurm", "sweep_main", "template_file",
    "trial_step", "write_cases", "write_csv", "write_h5", "write_runner",
]

if __name__ == "__main__":
    sys.exit(main())
