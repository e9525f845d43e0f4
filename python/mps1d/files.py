"""Result files on disk: plain or gzip-compressed, named by 12-digit step labels."""
import gzip
import io
import os
import re
import zlib
from pathlib import Path

from .fileio import open_binary

LABEL_DIGITS = 12

# The names of the result files, the table the program lists under
# "file_names" of `mps1d --check --json`: {Q} a quantity ('Ex', 'u7',
# 'rho22'), {J} a step label, {Z} the label of a cell.
NAMES = {
    "index_profile": "n_z.dat",
    "parameters": "param.txt",
    "points": "point.txt",
    "summary": "summary.json",
    "flags": "gamma.dat",
    "field_maximum": "Ex_max.dat",
    "column": "{Q}_z{J}.dat",
    "stamp": "stmp{J}.dat",
    "manifest": "manifest_{J}.txt",
    "flux": "flux_{J}.dat",
    "trace_first": "time1_{Q}_{J}.dat",
    "trace_last": "time2_{Q}_{J}.dat",
    "trace_cell": "time_{Q}_z{Z}_{J}.dat",
}


def name(what, Q="", J=None, Z=None):
    """The file name of kind `what` (a key of NAMES): name('column', 'Ex', 5000)."""
    text = NAMES[what].replace("{Q}", Q)
    if J is not None:
        text = text.replace("{J}", label(J))
    if Z is not None:
        text = text.replace("{Z}", label(Z))
    return text


def stem_pattern(what, quantities):
    """A regular expression of the names of kind `what` up to their step
    label, for Listing.labelled: the quantity (one of `quantities`) and the
    cell label are its groups."""
    head = NAMES[what].split("{J}")[0]
    return re.escape(head).replace(re.escape("{Q}"), f"({'|'.join(quantities)})").replace(
        re.escape("{Z}"), rf"(\d{{{LABEL_DIGITS}}})")


def label(step):
    """The 12-digit zero-padded label of a step: 5000 -> '000000005000'."""
    return f"{int(step):0{LABEL_DIGITS}d}"


def find(folder, name):
    """Path of `name` (e.g. 'Ex_z000000005000.dat') in `folder`, or None.

    `name` may carry the '.gz' or not: either copy is found.  The compressed
    copy wins where both exist, as it does for the solver's own restore.
    """
    folder = Path(folder)
    plain = name[:-3] if name.endswith(".gz") else name
    candidates = (folder / (plain + ".gz"), folder / plain)
    for candidate in candidates:
        if candidate.is_file():
            return candidate
    # A name that is there but no regular file (a dangling link, a FIFO):
    # reading it says what it is.
    for candidate in candidates:
        if os.path.lexists(candidate):
            return candidate
    return None


def read_text(path):
    """The text of a plain or gzip-compressed file; ValueError naming the file
    when its compressed stream is empty, damaged or cut short."""
    path = Path(path)
    with open_binary(path) as raw:
        if path.suffix != ".gz":
            return io.TextIOWrapper(raw, encoding="ascii", errors="replace").read()
        # gzip reads an empty file as empty text; the solver's .gz is never
        # empty (an empty column is still a stream).
        if os.fstat(raw.fileno()).st_size == 0:
            raise ValueError(f"{path}: empty file, not a gzip stream")
        try:
            with io.TextIOWrapper(gzip.GzipFile(fileobj=raw), encoding="ascii",
                                  errors="replace") as stream:
                return stream.read()
        except (EOFError, gzip.BadGzipFile, zlib.error) as error:
            raise ValueError(f"{path}: damaged or cut-short compressed file ({error})") from None


def read_named(folder, name):
    """The text of `name` in `folder` (plain or .gz); FileNotFoundError names both."""
    path = find(folder, name)
    if path is None:
        raise FileNotFoundError(f"neither {name} nor {name}.gz in {folder}")
    return read_text(path)


class Listing:
    """The file names of one folder, read once: a run's folders can hold
    many thousands of files, and every lookup by pattern uses this list."""

    def __init__(self, folder):
        self.folder = Path(folder)
        try:
            self.names = sorted(p.name for p in self.folder.iterdir() if p.is_file())
        except FileNotFoundError:
            self.names = []

    def labelled(self, prefix_pattern):
        """{label groups: path} of the '.dat' / '.dat.gz' files whose stem is
        `prefix_pattern` followed by a 12-digit label.

        `prefix_pattern` is a regular expression; its groups and the label
        (as an int) make the key tuple.  A '.gz' copy wins over a plain one.
        """
        regex = re.compile(rf"^{prefix_pattern}(\d{{{LABEL_DIGITS}}})\.dat(\.gz)?$")
        found = {}
        for name in self.names:
            match = regex.match(name)
            if match is None:
                continue
            *groups, step, gz = match.groups()
            key = (*groups, int(step))
            if gz or key not in found:
                found[key] = self.folder / name
        return found
