"""The mps1d program, which owns the input format: it reads and checks an
input file and reports every value by name (`mps1d --check --json`).

    from mps1d.program import check_text
    case = check_text(open("run/execdata.txt", "rb").read())
    case["inputs"]["pulse.amplitude"]   # {"value": 2e8, "unit": "V/m", "line": 38,
                                        #  "column": 20, "text": "2.0e8"}
    case["derived"]["NZ"], case["derived"]["dt"], case["file_names"]["column"]
"""
import json
import math
import numbers
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path


class ProgramError(RuntimeError):
    """No usable program, or one that did not answer."""


class RejectedInput(ValueError):
    """The program rejects the input; the message is its report."""


def quiet_on_closed_pipe(action, args) -> int:
    """action(args), ending quietly with status 141 (as a process killed by
    SIGPIPE) when the reader of standard output has gone (`... | head`)."""
    try:
        result = action(args)
        sys.stdout.flush()
        return result
    except BrokenPipeError:
        # Python flushes standard output once more at exit: point it at
        # /dev/null so that flush has nowhere to fail.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 141


def find_program() -> str:
    """$MPS1D, else build/mps1d of this repository, else mps1d on the PATH."""
    env = os.environ.get("MPS1D", "").strip()
    if env:
        found = shutil.which(env) if "/" not in env else (env if os.access(env, os.X_OK) else None)
        if not found:
            raise ProgramError(f"$MPS1D names {env!r}, which is not an executable program")
        return str(Path(found).resolve())
    built = Path(__file__).resolve().parents[2] / "build" / "mps1d"
    if built.is_file() and os.access(built, os.X_OK):
        return str(built)
    found = shutil.which("mps1d")
    if found:
        return str(Path(found).resolve())
    raise ProgramError(f"no mps1d program: set $MPS1D, build {built} "
                       "(MPS_TARGET=mps1d scripts/setup.sh build) or put mps1d on the PATH")


MAX_CLASSES = 256  # spectral classes per dot cell the program takes


def ensemble_option(classes, fwhm_meV) -> str:
    """--ensemble=K,FWHM: K spectral classes per dot cell (1 to 256) over a
    Gaussian of full width FWHM > 0 [meV]; ValueError, as the program would
    refuse them, for others."""
    if isinstance(classes, bool) or not isinstance(classes, numbers.Integral) \
            or not 1 <= classes <= MAX_CLASSES:
        raise ValueError(f"{classes!r} spectral classes: give a whole number from 1 to "
                         f"{MAX_CLASSES}")
    if isinstance(fwhm_meV, bool) or not isinstance(fwhm_meV, numbers.Real) \
            or not math.isfinite(fwhm_meV) or fwhm_meV <= 0:
        raise ValueError(f"full width {fwhm_meV!r} meV: give a number above 0")
    return f"--ensemble={int(classes)},{float(fwhm_meV)!r}"


def report_text(out: str, err: str) -> str:
    """The program's report without its banner."""
    lines = out.splitlines()
    for k, line in enumerate(lines):
        if "Enjoy" in line:
            lines = lines[k + 1:]
            break
    text = "\n".join(l.strip() for l in lines if l.strip())
    err = err.strip()
    return "\n".join(t for t in (text, err) if t) or "(no output)"


def run_check(program: str, folder, options=(), timeout: float = 60):
    """`program --check --json [options] folder`: the completed process and
    its JSON report (None when it printed none)."""
    try:
        r = subprocess.run([program, "--check", "--json", *options, str(folder)],
                           stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           errors="replace", timeout=timeout)
    except subprocess.TimeoutExpired:
        raise ProgramError(f"{program} --check did not end within {timeout:.0f} s") from None
    except OSError as e:
        raise ProgramError(f"cannot start {program}: {e.strerror}") from None
    try:
        report = json.loads(r.stdout)
    except ValueError:
        report = None
    return r, report


def check_text(data: bytes, program: str | None = None, options=(), timeout: float = 60) -> dict:
    """The program's `--check --json` of an input file's bytes, checked in a
    scratch folder (its result folders are missing there, which the check
    reports and which does not matter here).  RejectedInput with the
    program's report when the input is not valid."""
    program = program or find_program()
    with tempfile.TemporaryDirectory(prefix="mps1d-check-") as tmp:
        (Path(tmp) / "execdata.txt").write_bytes(data)
        r, case = run_check(program, tmp, options, timeout)
    if isinstance(case, dict) and "inputs" in case:
        return case
    if r.returncode == 0:
        raise ProgramError(f"{program} --check --json gave no JSON: is it an older build?")
    raise RejectedInput(f"the program rejects the input (exit status {r.returncode}):\n"
                        + report_text(r.stdout, r.stderr))
