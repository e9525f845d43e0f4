"""The program's side of a written case: its `--check --json` report of
the folder, the comparison of the values it reads with those written, and
the options of a run."""
from __future__ import annotations

from . import program as _program
from .case_quantities import CaseError


def ensemble_option(ensemble) -> str | None:
    """The program's --ensemble=K,FWHM of Case.run's `ensemble` (K, FWHM), or
    None."""
    if ensemble is None:
        return None
    if not isinstance(ensemble, (tuple, list)) or len(ensemble) != 2:
        raise CaseError(f"ensemble {ensemble!r}: give (K, FWHM), K spectral classes "
                        "and their full width in meV")
    try:
        return _program.ensemble_option(*ensemble)
    except ValueError as e:
        raise CaseError(f"ensemble {tuple(ensemble)!r}: {e}") from None


def run_options(threads, legacy_model, both_transitions, ensemble_option, source,
                 output) -> list:
    """The program's options of Case.run, each checked."""
    options = []
    if threads is not None:
        options.append(f"--threads={int(threads)}")
    if legacy_model:
        options.append("--legacy-model")
    if both_transitions:
        options.append("--both-transitions")
    if ensemble_option:
        options.append(ensemble_option)
    if source is not None:
        if source not in ("hard", "transparent"):
            raise CaseError(f"source {source!r}: 'hard' or 'transparent'")
        options.append(f"--source={source}")
    if output is not None:
        if output not in ("text", "hdf5"):
            raise CaseError(f"output {output!r}: 'text' or 'hdf5'")
        options.append(f"--output={output}")
    return options


def same_value(a, b) -> bool:
    if isinstance(a, float) or isinstance(b, float):
        return a is not None and b is not None and float(a) == float(b)
    return a == b


def check_folder(folder, options=()) -> dict:
    """The program's `--check --json` report of the case in `folder` (with
    the program's `options`)."""
    program = _program.find_program()
    try:
        r, report = _program.run_check(program, folder, options, timeout=120)
    except _program.ProgramError as e:
        raise CaseError(str(e)) from None
    if r.returncode == 0 and isinstance(report, dict) and "inputs" in report:
        return report
    if isinstance(report, dict) and "inputs" in report:
        problem = report.get("folders", {}).get("problem") or r.stderr.strip()
        raise CaseError(f"the program reads {folder}/execdata.txt but cannot run it: {problem}")
    raise CaseError(f"the program rejects {folder}/execdata.txt (exit status {r.returncode}):\n"
                    + _program.report_text(r.stdout, r.stderr))
