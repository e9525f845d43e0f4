import json
import math

import numpy as np
import pytest

import mps1d
import runfiles
from runfiles import NZ, SNAPSHOTS, label, snapshot_value, trace_value


@pytest.fixture
def run(complete_run):
    return mps1d.load(complete_run.root)


class TestFolders:
    def test_results_folder_leads_to_its_run(self, complete_run):
        assert mps1d.load(complete_run.results).folder == complete_run.root.resolve()

    def test_folder_lines_name_the_folders(self, tmp_path):
        folder = runfiles.RunFolder(tmp_path, results="out/res", statistics="out/stat")
        (tmp_path / "out" / "res").mkdir(parents=True)
        run = mps1d.load(tmp_path)
        assert run.results_dir == folder.results and run.statistics_dir == folder.statistics

    def test_a_folder_without_execdata_is_refused(self, tmp_path):
        with pytest.raises(FileNotFoundError, match="execdata.txt"):
            mps1d.load(tmp_path)


class TestSnapshots:
    @pytest.mark.parametrize("change", ["none", "no-point-txt", "garbage-in-point-txt"])
    def test_steps_from_point_txt_or_stmp_files(self, complete_run, run, change):
        point = complete_run.results / "point.txt"
        if change == "no-point-txt":
            point.unlink()
        elif change == "garbage-in-point-txt":
            with open(point, "a") as stream:
                stream.write("garbage line\n\n")
        np.testing.assert_array_equal(run.snapshots(), SNAPSHOTS)

    def test_values_per_cell(self, run):
        for name in ("Ex", "Hy", "u7"):
            expected = [snapshot_value(name, 8, c) for c in range(1, NZ + 1)]
            np.testing.assert_allclose(run.snapshot(8, name), expected, rtol=1e-11)

    def test_plain_gz_and_special_values(self, complete_run, run):
        complete_run.write(f"Hx_z{label(4)}.dat", [
            "     0.140669114317-127", "                    NaN", "               Infinity",
            "              -Infinity", "    -0.179769313486+309"] + [runfiles.e_field(1.0)] * (NZ - 5),
            gz=False)
        (complete_run.results / f"Hx_z{label(4)}.dat.gz").unlink()
        got = run.snapshot(4, "Hx")
        assert got[0] == 0.140669114317e-127 and math.isnan(got[1])
        assert list(got[2:4]) == [math.inf, -math.inf] and got[4] == -0.179769313486e309

    def test_compressed_copy_wins_over_plain(self, complete_run, run):
        complete_run.column(f"Ey_z{label(4)}.dat", [9.0] * NZ, gz=False)
        assert run.snapshot(4, "Ey")[0] == snapshot_value("Ey", 4, 1)

    def test_missing_snapshot_names_both_files(self, run):
        with pytest.raises(FileNotFoundError, match=r"Ex_z000000000005\.dat"):
            run.snapshot(5, "Ex")

    def test_profile_decay_factors_and_gamma_flags(self, run):
        np.testing.assert_allclose(run.profile.z_um, 0.01 * np.arange(1, NZ + 1))
        assert list(run.profile.n[3:5]) == [1.0, 3.5]
        np.testing.assert_allclose(run.decay_factors(8), runfiles.FACTORS, rtol=1e-12)
        flags = run.gamma()
        assert flags.shape == (NZ, 4) and list(flags[4]) == [1, 0, 1, 0] and flags[0].sum() == 0


def expected_populations(u13, u14, u15):
    s3, s6 = math.sqrt(3), math.sqrt(6)
    return ((3 - 6 * u13 - 2 * s3 * u14 - s6 * u15) / 12,
            (3 + 6 * u13 - 2 * s3 * u14 - s6 * u15) / 12,
            (3 + 4 * s3 * u14 - s6 * u15) / 12, (1 + s6 * u15) / 4)


class TestPopulations:
    def test_step_one_from_the_physical_files(self, run):
        pops = run.populations(1)
        np.testing.assert_array_equal(pops.cells, [5, 6, 7, 8])
        np.testing.assert_allclose(pops.z_um, [0.05, 0.06, 0.07, 0.08])
        for name, value in zip(mps1d.run.POPULATIONS, (0.5, 0.0, 0.5, 0.0)):
            np.testing.assert_allclose(pops.rho[name], value, atol=1e-5)

    def test_stored_values_with_decay_and_equilibrium(self, complete_run, run):
        # u13 = -0.5 + 0.5*0.4, u14 = 0.5/sqrt3 + 0.25*0.2, u15 = -1/sqrt6 + 0.75*0.1
        complete_run.stmp(8, [0.9] * 12 + [0.5, 0.25, 0.75])
        for k, w in ((13, 0.4), (14, 0.2), (15, 0.1)):
            complete_run.column(f"u{k}_z{label(8)}.dat", [w] * NZ)
        u = (-0.3, 0.5 / math.sqrt(3) + 0.05, -1 / math.sqrt(6) + 0.075)
        pops = run.populations(8)
        for name, value in zip(mps1d.run.POPULATIONS, expected_populations(*u)):
            np.testing.assert_allclose(pops.rho[name], value, rtol=1e-11)


class TestTraces:
    def test_blocks_joined_once_per_step_on_the_written_time_axis(self, run):
        traces, dt = run.traces(), runfiles.dt()
        assert {(1, "Ex"), (1, "Ey"), (NZ - 1, "Ex"), (6, "rho44"), (2, "rho11")} <= set(traces)
        assert (1, "rho11") not in traces and run.monitor_cells() == [1, 2, 6, NZ - 1]
        for (cell, quantity), trace in traces.items():
            np.testing.assert_array_equal(trace.step, np.arange(1, 13))
            np.testing.assert_allclose(trace.value, trace_value(cell, quantity, trace.step),
                                       rtol=1e-11)
            np.testing.assert_allclose(trace.time_fs, trace.step * dt * runfiles.TRACE_FS,
                                       rtol=1e-11)

    def test_missing_block_leaves_a_gap_not_a_shift(self, complete_run, run):
        (complete_run.results / f"time1_Ex_{label(8)}.dat.gz").unlink()
        trace = run.traces()[(1, "Ex")]
        np.testing.assert_array_equal(trace.step, [1, 2, 3, 4, 9, 10, 11, 12])
        np.testing.assert_allclose(trace.value, [trace_value(1, "Ex", s) for s in trace.step])


class TestStatistics:
    def test_interval_steps_and_time_axis(self, run):
        stats = run.statistics()[(6, "Ex")]
        np.testing.assert_array_equal(stats.step, np.arange(1, 13))
        np.testing.assert_allclose(stats.time_fs, stats.step * runfiles.dt() * 1e15)
        np.testing.assert_allclose(stats.maximum, [trace_value(6, "Ex", s) for s in stats.step])
        np.testing.assert_allclose(stats.minimum, -stats.maximum)
        assert np.all(stats.change == 1.0)

    def test_long_blocks_have_a_line_every_LL_over_2000_steps(self, tmp_path):
        folder = runfiles.RunFolder(tmp_path, LL=6000)
        for J in (6000, 12000):
            folder.statistics_file("time1_Ex", J, [(k, -k, 0.0) for k in (1.0, 2.0, 3.0)])
        stats = mps1d.load(tmp_path).statistics()[(1, "Ex")]
        np.testing.assert_array_equal(stats.step, [3, 6, 9, 6003, 6006, 6009])
        assert list(stats.maximum) == [1.0, 2.0, 3.0] * 2


class TestSummary:
    def test_absent_or_present_with_flux_file(self, complete_run, run):
        assert run.summary is None and run.flux() is None
        summary = {"program": "mps1d", "status": "complete", "flux": {"file": "flux.dat"}}
        (complete_run.results / "summary.json").write_text(json.dumps(summary))
        complete_run.write("flux.dat", ["# t_fs S_left S_right", "0.1 -1.5 2.5",
                                        "0.2 0.140669114317-127 NaN"], gz=False)
        run = mps1d.load(complete_run.root)
        assert run.summary["status"] == "complete"
        flux = run.flux()
        np.testing.assert_array_equal(flux.time_fs, [0.1, 0.2])
        assert flux.left[1] == 0.140669114317e-127 and math.isnan(flux.right[1])

    @pytest.mark.parametrize("listed", ["flux_000000000004.dat.gz", "flux_000000000004.dat"])
    def test_compressed_flux_blocks_by_either_name(self, complete_run, run, listed):
        # Older runs list the blocks without the '.gz' they carry on disk.
        summary = {"flux": {"files": [listed, listed.replace("04.", "08.")]}}
        (complete_run.results / "summary.json").write_text(json.dumps(summary))
        for J in (4, 8):
            complete_run.write(f"flux_{J:012d}.dat", [f"{J}.0 -1.0 2.0"])
        np.testing.assert_array_equal(run.flux().time_fs, [4.0, 8.0])
