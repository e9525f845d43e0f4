"""Progress with the time left, for a run (Case.run) and for a sweep (sweep
run): one line rewritten on standard error when it is a terminal, nothing
otherwise (a log or a pipe gets no control characters)."""
import re
import subprocess
import sys
import threading
import time

# The program's line at the start of each block: "Loop from -> <Jb> Step-> <LL>".
BLOCK_LINE = re.compile(r"Loop from ->\s*(\d+)\s+Step->")


def clock(seconds):
    """H:MM:SS of a time in seconds, rounded up; "--:--" when unknown."""
    if seconds is None or seconds != seconds or seconds == float("inf"):
        return "--:--"
    s = int(-(-seconds // 1))
    return f"{s // 3600}:{s // 60 % 60:02d}:{s % 60:02d}"


def progress_line(what, done, total, elapsed, unit="steps"):
    """'what:  25.0 % of 200000 steps, 0:00:30 left' for `done` of `total`
    after `elapsed` seconds; the time left from the rate so far."""
    share = done / total if total > 0 else 1.0
    left = elapsed * (total - done) / done if done > 0 else None
    return f"{what}: {100.0 * share:5.1f} % of {total} {unit}, {clock(left)} left"


class Line:
    """A progress line rewritten in place on `stream`, shown only when it is
    a terminal."""

    def __init__(self, stream=None):
        self.stream = stream or sys.stderr
        self.shown = self.stream.isatty()
        self.start = time.monotonic()

    def show(self, text):
        if self.shown:
            self.stream.write("\r" + text + "\033[K")
            self.stream.flush()

    def close(self):
        if self.shown:
            self.stream.write("\r\033[K")
            self.stream.flush()


def run_steps(Nt, LL, J_final=0):
    """(first, last): the steps a run goes from and to, whole blocks of LL."""
    blocks = max((Nt + LL - J_final) // LL, 0)
    return J_final, J_final + blocks * LL


def run_program(cmd, cwd, timeout, steps, stream=None):
    """subprocess.run(cmd) with its console text captured, as Case.run needs
    it; on a terminal with a progress line over the `steps` (first, last)
    the run computes, from its block lines.  TimeoutExpired as subprocess.run."""
    line = Line(stream)
    if not line.shown:
        return subprocess.run(cmd, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, errors="replace", timeout=timeout)
    first, last = steps
    with subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, errors="replace") as p:
        err = []
        reader = threading.Thread(target=lambda: err.append(p.stderr.read()), daemon=True)
        reader.start()
        killed = []
        timer = threading.Timer(timeout, lambda: (killed.append(True), p.kill())) \
            if timeout else None
        if timer:
            timer.start()
        out = []
        try:
            for text in p.stdout:
                out.append(text)
                m = BLOCK_LINE.search(text)
                if m:
                    line.show(progress_line("mps1d", int(m.group(1)) - first, last - first,
                                            time.monotonic() - line.start))
            p.wait()
        finally:
            if timer:
                timer.cancel()
            line.close()
        reader.join()
        if killed:
            raise subprocess.TimeoutExpired(cmd, timeout, "".join(out), "".join(err))
    return subprocess.CompletedProcess(cmd, p.returncode, "".join(out), "".join(err))
