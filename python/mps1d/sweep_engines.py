"""The engines that run a sweep's cases: GNU parallel on this machine, or
one Slurm job array.  Both start each case with the same runner script,
which notes where it runs and the program's exit status in the case
folder."""
from __future__ import annotations

import os
import shlex
import shutil
import subprocess
import time
from pathlib import Path

from mps1d import fileio, progress
from mps1d.sweep_files import JOBLOG, RUNNER, SWEEP_FILE, now, write_json
from mps1d.sweep_states import case_states
from mps1d.sweep_values import SweepError

RUNNER_TEXT = """#!/bin/bash
# Runs one case of an mps1d sweep: run_case.sh CASE_FOLDER
# The program ($MPS1D_SWEEP_PROGRAM) runs in CASE_FOLDER with the options
# of the case (the lines of CASE_FOLDER/program_options.txt) and standard
# input at its end, its console output in mps1d.out and mps1d.err.  The runner
# notes where it runs in CASE_FOLDER/started and the program's exit status
# in CASE_FOLDER/exit_status (143 when the runner is stopped by a signal),
# and exits with that status.
set -u
program=${MPS1D_SWEEP_PROGRAM:?MPS1D_SWEEP_PROGRAM names the program}
cd "$1" || exit 2
rm -f exit_status
task=""
if [ -n "${SLURM_ARRAY_JOB_ID:-}" ]; then task="${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}"; fi
printf 'host=%s\\npid=%s\\nslurm_job=%s\\nthreads=%s\\nstarted=%s\\n' \\
  "$(hostname)" "$$" "$task" "${OMP_NUM_THREADS:-}" "$(date -Is)" > started
options=()
if [ -f program_options.txt ]; then mapfile -t options < program_options.txt; fi
"$program" ${options[@]+"${options[@]}"} </dev/null >mps1d.out 2>mps1d.err &
child=$!
trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; echo 143 > exit_status; exit 143' TERM INT
wait "$child"
rc=$?
echo "$rc" > exit_status.part && mv -f exit_status.part exit_status
echo "${PWD##*/}: exit status $rc"
exit "$rc"
"""


def write_runner(sweep_dir: Path) -> Path:
    """The runner of the cases (each case folder holds its program options)."""
    runner = sweep_dir / RUNNER
    fileio.write_text(runner, RUNNER_TEXT)
    runner.chmod(0o755)
    return runner


def _run_with_progress(cmd, env, case_dirs, stream=None) -> None:
    """Runs GNU parallel; on a terminal a line with the cases ended and the
    time left (from the cases' pace so far) is redrawn every second, and each
    case's line when it ends is printed as before."""
    line = progress.Line(stream)
    with subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL) as p:
        while line.shown and p.poll() is None:
            ended = sum((d / "exit_status").exists() for d in case_dirs)
            line.show(progress.progress_line("sweep", ended, len(case_dirs),
                                             time.monotonic() - line.start, "cases"))
            try:
                p.wait(timeout=1.0)
            except subprocess.TimeoutExpired:
                pass
    line.close()


def run_local(sweep_dir: Path, folders: list[str], jobs: int, threads: int,
              program: str) -> int:
    """Runs the cases with GNU parallel; the number of failed cases."""
    parallel = shutil.which("parallel")
    if not parallel:
        raise SweepError("the local engine needs GNU parallel: apt-get install parallel")
    runner = write_runner(sweep_dir)
    listing = sweep_dir / "local-cases.txt"
    fileio.write_text(listing, "".join(str(sweep_dir / f) + "\n" for f in folders))
    env = dict(os.environ, OMP_NUM_THREADS=str(threads), MPS1D_SWEEP_PROGRAM=program)
    # --quote: GNU parallel passes the command's words as they are, never
    # through a shell's reading (a folder name is no command).
    cmd = [parallel, "--will-cite", "--quote", "--jobs", str(jobs),
           # '+' appends to the job log of an earlier run (a new one gets the header)
           "--joblog", ("+" if (sweep_dir / JOBLOG).exists() else "") + str(sweep_dir / JOBLOG),
           "--arg-file", str(listing),
           "/bin/bash", str(runner), "{}"]
    _run_with_progress(cmd, env, [sweep_dir / f for f in folders])
    states = {s.folder: s for s in case_states(sweep_dir)}
    return sum(1 for f in folders if states[f].state != "done")


def slurm_script(sweep_dir: Path, n: int, count: int, jobs: int, threads: int, program: str,
                 options: list[str]) -> str:
    """The job script of Slurm submission n: task i runs the case on line
    i+1 of slurm-cases-N.txt with the runner."""
    cases = sweep_dir / f"slurm-cases-{n}.txt"
    directives = ["--job-name=mps1d-sweep", f"--array=0-{count - 1}%{jobs}",
                  f"--cpus-per-task={threads}", "--ntasks=1",
                  f"--output={sweep_dir / 'slurm' / '%A_%a.out'}", f"--chdir={sweep_dir}"] + options
    return "\n".join([
        "#!/bin/bash",
        *(f"#SBATCH {d}" for d in directives),
        f"# mps1d sweep, submission {n}: task i runs the case folder on line i+1 of",
        f"# {cases}.",
        "set -u",
        f"case_dir=$(sed -n \"$((SLURM_ARRAY_TASK_ID + 1))p\" {shlex.quote(str(cases))})",
        'if [ -z "$case_dir" ]; then echo "no case for task $SLURM_ARRAY_TASK_ID" >&2; exit 2; fi',
        f"export OMP_NUM_THREADS=${{SLURM_CPUS_PER_TASK:-{threads}}}",
        f"export MPS1D_SWEEP_PROGRAM={shlex.quote(program)}",
        f"exec /bin/bash {shlex.quote(str(sweep_dir / RUNNER))} \"$case_dir\"",
        ""])


def submit_slurm(sweep_dir: Path, data: dict, folders: list[str], jobs: int, threads: int,
                 program: str, options: list[str]) -> str:
    """Submits the cases `folders` as one job array, notes the submission in
    sweep.json and returns the job id."""
    sbatch = shutil.which("sbatch")
    if not sbatch:
        raise SweepError("the slurm engine needs sbatch on the PATH (Slurm's client commands)")
    write_runner(sweep_dir)
    (sweep_dir / "slurm").mkdir(exist_ok=True)
    n = 1 + sum(1 for r in data.get("runs", []) if r.get("engine") == "slurm")
    fileio.write_text(sweep_dir / f"slurm-cases-{n}.txt",
                      "".join(str(sweep_dir / f) + "\n" for f in folders))
    script = sweep_dir / f"slurm-job-{n}.sh"
    fileio.write_text(script, slurm_script(sweep_dir, n, len(folders), jobs, threads, program,
                                           options))
    script.chmod(0o755)
    cmd = [sbatch, "--parsable", f"--array=0-{len(folders) - 1}%{jobs}",
           f"--cpus-per-task={threads}", *options, str(script)]
    r = subprocess.run(cmd, capture_output=True, text=True, cwd=sweep_dir)
    if r.returncode != 0:
        raise SweepError(f"sbatch refused the job array (exit status {r.returncode}): "
                         f"{(r.stderr or r.stdout).strip()}\n  command: {shlex.join(cmd)}")
    job_id = r.stdout.strip().split(";")[0]
    if not job_id.isdigit():
        raise SweepError(f"sbatch answered {r.stdout.strip()!r}, not a job id")
    data["runs"].append({"engine": "slurm", "submission": n, "job_id": job_id, "time": now(),
                         "command": shlex.join(cmd), "script": script.name, "cases": folders,
                         "threads_per_run": threads, "jobs": jobs})
    write_json(sweep_dir / SWEEP_FILE, data)
    return job_id
