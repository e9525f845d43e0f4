"""Reading, plotting and exporting the results of mps1d runs.

A run folder is the folder holding a run's ``execdata.txt``; its first three
lines name the results, statistics and continuation folders relative to it.

    import sys; sys.path.insert(0, "python")     # from the repository root
    import mps1d

    run = mps1d.load("run/quickstart")           # or its Results folder
    run.inputs.dz, run.dt, run.inputs.LL          # the parsed execdata.txt
    run.profile.z_um, run.profile.n               # n_z.dat
    run.snapshots()                               # snapshot steps (point.txt)
    run.snapshot(5000, "Ex")                      # one value per cell, Ex/E0
    run.populations(5000).rho["rho22"]            # every dot cell
    run.classes(5000).rho["rho22"]                # dot cell x class (--ensemble, HDF5)
    trace = run.traces()[(310, "rho22")]          # joined over the blocks:
    trace.step, trace.time_fs, trace.value        #   one sample per step
    run.statistics()[(310, "Ex")].maximum         # per statistics interval
    run.summary                                   # summary.json, or None
    s = run.spectra()                             # transparent source: R, T against λ
    s.wavelength_nm, s.R, s.T, s.absorbed         #   over s.band_nm; errors s.R_error,
                                                  #   s.T_error (ValueError: no spectra)

Snapshot values are as stored: Ex and Ey in units of the field scale
``run.E0`` (the pulse amplitude), H in A/m, u1..u15 the stored medium values
w; ``run.physical_diagonal(J)`` and ``run.populations(J)`` turn u13..u15
into physical values with the decay factors of ``stmp<J>.dat`` (at step 1
from the s13..s15 files).  Traces are keyed by (cell, quantity): cell 1 and
cell NZ−1 (``time1_``, ``time2_``) record Ex and Ey, the user's monitor
cells also rho11..rho44.  Every file is read plain or gzip-compressed; the
numbers in every Fortran layout the solver writes are read by
``mps1d.fortran``.  A run written with ``--output=hdf5`` is read the same
way from its ``snapshot_``, ``traces_`` and ``statistics_<L>.h5`` files
(``h5run``; the layout is docs/hdf5_output.md), with the same units.

The command ``scripts/mps1d-tools`` does the same from a shell:

    scripts/mps1d-tools plot RUN [--out DIR] [--range NM:NM] [--log]  # PNGs (RUN/plots)
    scripts/mps1d-tools spectra RUN [--range NM:NM] [--csv FILE]    # R, T, 1 − R − T
    scripts/mps1d-tools export RUN run.h5      # every array, one HDF5 file
    scripts/mps1d-tools summary RUN            # energy budget, peak populations

A case is written by name and unit with ``mps1d.Case`` (``case``): layers
in nm or µm, times in fs or ns, a pulse by shape, FWHM and area;
``Case.write(folder)`` writes execdata.txt and has the program check it,
``Case.run(folder)`` runs it and returns ``load(folder)``.

Modules: ``case`` (cases by name; with ``case_quantities`` (units, value checks),
``case_records`` (Layer, Pulse, Boundary, bragg), ``case_pulse`` (the pulse line), ``case_file``
(the file's values and text), ``case_warnings`` (doubtful pulses, as the program warns of
them) and ``case_program`` (the program's check and run options)), ``fortran`` (number fields), ``files`` (plain/.gz, step labels),
``inputs`` (execdata.txt), ``run`` (the loader), ``h5run`` (HDF5 results), ``plots``, ``spectra``
(R and T from flux records), ``spectra_table`` (their tables), ``polarisation`` (Stokes parameters, rotation and
ellipticity at a monitor cell: ``run.polarisation()``), ``export`` (HDF5),
``report`` (summary table), ``sweep``
(parameter sweeps; its parts in ``sweep_values``, ``sweep_plan``, ``sweep_checks``,
``sweep_files``, ``sweep_states``, ``sweep_engines``, ``sweep_run``, ``sweep_collect``,
``sweep_cli``), ``cli``.
"""
from .case import Boundary, Case, CaseError, Layer, Pulse
from .inputs import Inputs, read_inputs
from .run import Classes, Populations, Profile, Run, Statistics, Trace, load

__all__ = ["Boundary", "Case", "CaseError", "Classes", "Inputs", "Layer", "Populations",
           "Profile", "Pulse", "Run", "Statistics", "Trace", "load", "read_inputs"]
