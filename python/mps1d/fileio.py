"""Files the tools read and write, handled so that a wrong name cannot hang
them or destroy anything.

Reading: a file named by a user (or found in a run folder) is opened
non-blocking and must be a regular file, so a FIFO or a device is refused
instead of waiting forever in open(); a dangling link is reported as the
link and its missing target.

Writing: every output (an export, a figure, a table) is written under an
unpredictable temporary name in its own folder, created exclusively (so a
link planted there is never followed), and renamed into place only when it
is complete.  An output that fails leaves an earlier file of that name as
it was, and a link at the output's name is replaced, not written through.
"""
import os
import stat
import tempfile
from contextlib import contextmanager
from pathlib import Path


# Folders of devices and kernel files: an output there would replace a
# device or a link such as /dev/stdout.
SYSTEM_FOLDERS = ("/dev", "/proc", "/sys")


class FileError(ValueError):
    """A file that cannot be read or written; the message names it."""


def _opened(path):
    """A file descriptor of the regular file `path`, opened without blocking."""
    path = str(path)
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except FileNotFoundError:
        if os.path.islink(path):
            raise FileError(f"{path}: a link to {os.readlink(path)}, which does not "
                            "exist") from None
        raise FileError(f"{path}: no such file") from None
    except OSError as e:
        raise FileError(f"{path}: cannot read it: {e.strerror}") from None
    try:
        mode = os.fstat(fd).st_mode
    except OSError as e:
        os.close(fd)
        raise FileError(f"{path}: cannot read it: {e.strerror}") from None
    if not stat.S_ISREG(mode):
        os.close(fd)
        what = "a folder" if stat.S_ISDIR(mode) else "not a regular file"
        raise FileError(f"{path} is {what}")
    os.set_blocking(fd, True)
    return fd


def open_binary(path):
    """The regular file `path` as a binary stream (FileError otherwise)."""
    return os.fdopen(_opened(path), "rb")


def read_bytes(path, limit=None):
    """The bytes of the regular file `path`; with `limit`, FileError when it
    holds more than that many."""
    with open_binary(path) as stream:
        try:
            data = stream.read() if limit is None else stream.read(limit + 1)
        except OSError as e:
            raise FileError(f"{path}: cannot read it: {e.strerror}") from None
    if limit is not None and len(data) > limit:
        raise FileError(f"{path}: larger than {limit} bytes")
    return data


def read_text(path, encoding="utf-8", errors="replace", limit=None):
    return read_bytes(path, limit).decode(encoding, errors)


def _inside(path, folder):
    return path == folder or folder in path.parents


def check_output(path, folders=(), files=()):
    """FileError when `path` cannot be an output: an existing folder, or a
    place inside one of `folders` or one of `files` (a run's result folders
    and its input), compared by real path, the output's link followed too."""
    path = Path(path)
    if path.is_dir():
        raise FileError(f"{path}: a folder; give the name of the file to write")
    if path.exists() and not path.is_file():  # a device or a FIFO
        raise FileError(f"{path}: not a regular file; give the name of a file to write")
    parent = Path(os.path.realpath(path.parent))
    if any(_inside(parent, Path(system)) for system in SYSTEM_FOLDERS):
        raise FileError(f"{path}: in {parent}, a folder of devices; write it elsewhere")
    where = {Path(os.path.realpath(path.parent)) / path.name, Path(os.path.realpath(path))}
    _outside(path, where, folders)
    for name in files:
        if Path(os.path.realpath(name)) in where:
            raise FileError(f"{path}: the run's own {name}; write it elsewhere")


def _reason(error):
    """Why a write failed, in one line."""
    return error.strerror or " ".join(str(error).split())


def check_output_folder(folder, folders=()):
    """FileError when the folder `folder` lies inside one of `folders`."""
    _outside(Path(folder), {Path(os.path.realpath(folder))}, folders)


def _outside(path, where, folders):
    for folder in folders:
        real = Path(os.path.realpath(folder))
        if any(_inside(w, real) for w in where):
            raise FileError(f"{path}: inside the run's folder {folder}; write it elsewhere")


def _umask():
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


@contextmanager
def replacing(path, folders=(), files=()):
    """A new binary stream to write `path` through: a temporary file in its
    folder, renamed to `path` when the block ends without an error and
    removed when it fails.  An OSError (a full disk, a folder that cannot
    be written) becomes a FileError naming `path`."""
    path = Path(path)
    check_output(path, folders, files)
    try:
        fd, tmp = tempfile.mkstemp(prefix=f".{path.name}.", suffix=".part",
                                   dir=path.parent if str(path.parent) else ".")
    except OSError as e:
        raise FileError(f"{path}: cannot write it: {e.strerror}") from None
    done = False
    try:
        os.fchmod(fd, 0o666 & ~_umask())
        with os.fdopen(fd, "w+b") as stream:
            yield stream
            stream.flush()
            os.fsync(stream.fileno())
        os.replace(tmp, path)
        done = True
    except OSError as e:
        raise FileError(f"{path}: cannot write it: {_reason(e)}") from None
    finally:
        if not done:
            try:
                os.unlink(tmp)
            except OSError:
                pass


def write_hdf5(path, fill, folders=(), files=()):
    """An HDF5 file `path` made by fill(h5): built in memory, then written as
    write_bytes writes.  HDF5 never writes to the disk itself, so a full
    disk is a plain write error (HDF5 left with a failed flush crashes the
    interpreter as it exits)."""
    import h5py

    check_output(path, folders, files)
    with h5py.File(f"{path}.in-memory", "w", driver="core", backing_store=False) as h5:
        fill(h5)
        h5.flush()
        image = h5.id.get_file_image()
    write_bytes(path, image, folders, files)


def write_bytes(path, data, folders=(), files=()):
    """`data` as the file `path`, written whole or not at all."""
    with replacing(path, folders, files) as stream:
        stream.write(data)


def write_text(path, text, folders=(), files=()):
    write_bytes(path, text.encode("utf-8"), folders, files)
