"""What the tools do with files a careless or hostile user names: outputs
that would destroy the run, links, FIFOs, full disks and HDF5 files that are
not the program's."""
import errno
import os
import threading

import h5py
import numpy as np
import pytest

import mps1d
from mps1d import sweep
from mps1d.cli import main
from runfiles import label
from test_hdf5_run import hdf5_run  # noqa: F401  (the fixture)

EX12 = f"Results/Ex_z{label(12)}.dat.gz"


def one_line_error(capsys, *words):
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and "Traceback" not in err, err
    for word in words:
        assert word in err, err
    return err


@pytest.mark.parametrize("target", [EX12, "execdata.txt", "Results", "fifo"])
def test_export_over_the_run_or_a_folder_or_fifo_is_refused(complete_run, capsys, target):
    os.mkfifo(complete_run.root / "fifo")
    out = complete_run.root / target
    before = out.read_bytes() if out.is_file() else None
    assert main(["export", str(complete_run.root), str(out)]) == 2
    one_line_error(capsys, str(out))
    if before is not None:
        assert out.read_bytes() == before


def test_export_through_a_link_into_the_results_is_refused(complete_run, tmp_path, capsys):
    before = (complete_run.root / EX12).read_bytes()
    (tmp_path / "out.h5").symlink_to(complete_run.root / EX12)
    assert main(["export", str(complete_run.root), str(tmp_path / "out.h5")]) == 2
    one_line_error(capsys, "inside the run's folder")
    assert (complete_run.root / EX12).read_bytes() == before


def test_a_failed_export_leaves_the_earlier_file_and_no_litter(complete_run, tmp_path, capsys):
    out = tmp_path / "out" / "run.h5"
    out.parent.mkdir()
    out.write_bytes(b"earlier")
    (complete_run.root / f"Results/Ey_z{label(8)}.dat.gz").unlink()
    assert main(["export", str(complete_run.root), str(out)]) == 2
    assert out.read_bytes() == b"earlier" and os.listdir(out.parent) == ["run.h5"]


@pytest.mark.parametrize("command", [["export", "{out}"], ["plot", "--out", "{dir}"]])
def test_full_disk_is_a_message(complete_run, tmp_path, capsys, monkeypatch, command):
    def full(fd):
        raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))

    monkeypatch.setattr(os, "fsync", full)  # where a full disk shows at the latest
    out = tmp_path / "run.h5"
    out.write_bytes(b"earlier")
    args = [a.format(out=out, dir=tmp_path / "plots") for a in command]
    assert main([args[0], str(complete_run.root), *args[1:]]) == 2
    one_line_error(capsys, "No space left on device")
    assert out.read_bytes() == b"earlier"
    assert not [n for n in os.listdir(tmp_path) if n.startswith(".")]


@pytest.mark.parametrize("planted", ["run.h5", ".run.h5.part", "run.h5.part", "run.h5.tmp"])
def test_planted_links_are_replaced_not_followed(complete_run, tmp_path, planted):
    victim = tmp_path / "victim"
    victim.write_bytes(b"precious")
    (tmp_path / planted).symlink_to(victim)
    assert main(["export", str(complete_run.root), str(tmp_path / "run.h5")]) == 0
    assert victim.read_bytes() == b"precious"
    assert h5py.is_hdf5(tmp_path / "run.h5") and not (tmp_path / "run.h5").is_symlink()


def test_plots_outside_the_results_only(complete_run, capsys):
    assert main(["plot", str(complete_run.root), "--out", str(complete_run.results / "p")]) == 2
    one_line_error(capsys, "Results")
    assert not (complete_run.results / "p").exists()


def _big(h5, name):
    del h5[name]
    h5.create_dataset(name, shape=(1, 10 ** 12), dtype="f8", chunks=(1, 1024))


SPOILS = {  # a member of snapshot 8 that is not what the program writes
    "group": lambda h5: (h5.__delitem__("snapshots/Ex"), h5.create_group("snapshots/Ex")),
    "link-loop": lambda h5: (h5.__delitem__("snapshots/Ex"),
                             h5.__setitem__("snapshots/Ex", h5py.SoftLink("/snapshots/Ex"))),
    "external": lambda h5: (h5.__delitem__("snapshots/Ex"),
                            h5.__setitem__("snapshots/Ex", h5py.ExternalLink("x.h5", "/Ex"))),
    "huge": lambda h5: _big(h5, "snapshots/Ex"),
    "text": lambda h5: (h5.__delitem__("snapshots/Ex"),
                        h5.__setitem__("snapshots/Ex", np.array([b"x"] * 12))),
}


@pytest.mark.parametrize("spoil", SPOILS.values(), ids=SPOILS.keys())
def test_foreign_hdf5_members_are_named(hdf5_run, tmp_path, capsys, spoil):  # noqa: F811
    path = hdf5_run.results_dir / f"snapshot_{label(8)}.h5"
    with h5py.File(path, "a") as h5:
        spoil(h5)
    for command in (["export", str(hdf5_run.folder), str(tmp_path / "r.h5")],
                    ["plot", str(hdf5_run.folder), "--out", str(tmp_path / "p")]):
        assert main(command) == 2
        one_line_error(capsys, str(path), "snapshots/Ex")
    with pytest.raises(ValueError, match="snapshots/Ex"):
        mps1d.load(hdf5_run.folder).snapshot(8, "Ex")


def test_a_huge_trace_table_is_refused_unread(hdf5_run, capsys):  # noqa: F811
    path = hdf5_run.results_dir / f"traces_{label(8)}.h5"
    with h5py.File(path, "a") as h5:
        _big(h5, "traces/Ex")
    assert main(["summary", str(hdf5_run.folder)]) == 2
    one_line_error(capsys, str(path), "traces/Ex")


def test_missing_hdf5_snapshot_names_the_file_or_the_dangling_link(hdf5_run, tmp_path,  # noqa: F811
                                                                   capsys):
    path = hdf5_run.results_dir / f"snapshot_{label(8)}.h5"
    path.unlink()
    assert main(["export", str(hdf5_run.folder), str(tmp_path / "r.h5")]) == 2
    err = one_line_error(capsys, str(path))
    assert "Ex_z" not in err
    path.symlink_to(tmp_path / "gone.h5")
    assert main(["export", str(hdf5_run.folder), str(tmp_path / "r.h5")]) == 2
    one_line_error(capsys, str(path), str(tmp_path / "gone.h5"), "does not exist")


def _returns_within(seconds, function, *args):
    """function(*args) in a thread: (finished, exception raised)."""
    outcome = []

    def call():
        try:
            function(*args)
            outcome.append(None)
        except Exception as e:  # noqa: BLE001
            outcome.append(e)

    worker = threading.Thread(target=call, daemon=True)
    worker.start()
    worker.join(seconds)
    return bool(outcome), outcome[0] if outcome else None


def test_fifos_are_refused_not_opened(complete_run, tmp_path, capsys):
    fifo = tmp_path / "values"
    os.mkfifo(fifo)
    done, error = _returns_within(20, sweep.parse_values, "pulse.amplitude", f"@{fifo}", "real")
    assert done and "not a regular file" in str(error)
    os.mkfifo(complete_run.results / "summary.json")
    done, _ = _returns_within(20, main, ["summary", str(complete_run.root)])
    assert done
    one_line_error(capsys, "summary.json", "not a regular file")
