// mps1d: Maxwell-pseudospin solver in 1D+time.  The run is described by
// "execdata.txt" in the case's folder (the working folder unless named);
// the command line chooses the model and the source, or asks for a check
// of the case or the version.
#include <omp.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <csignal>
#include <iostream>
#include <string>
#include <string_view>

#include "app/program.hpp"
#include "core/spectral_classes.hpp"

#ifndef MPS_VERSION
#define MPS_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: mps1d [--legacy-model] [--both-transitions] [--ensemble=K,FWHM]\n"
    "             [--magnetic-field=BX,BY,BZ [--g-factors=GE_INPLANE,GE_Z,GH_INPLANE,GH_Z]]\n"
    "             [--source=hard|transparent] [--output=text|hdf5] [--trace-every=N]\n"
    "             [--threads=N] [--check [--json]] [DIR]\n"
    "  Runs the case described by execdata.txt in DIR (the working folder when\n"
    "  none is given).\n"
    "  --check         read and check the case, print what the run would compute and\n"
    "                  write (cells, dots, steps, memory, files), and write nothing\n"
    "  --json          with --check: print every input of the file by name (value,\n"
    "                  unit, line and column), the derived quantities and the\n"
    "                  result-file names as JSON\n"
    "  --legacy-model  solve the equations of earlier versions (polarisation current of\n"
    "                  the opposite sign, graded layers at their left-end phase velocity,\n"
    "                  populations relaxing at half the configured rates)\n"
    "  --both-transitions\n"
    "                  let sigma- light drive 3<->4 (with the dipole moment p(3,4)) as\n"
    "                  sigma+ light drives 1<->2; without it only 1<->2 is driven\n"
    "  --ensemble=K,FWHM\n"
    "                  broaden the dots inhomogeneously: K spectral classes per dot\n"
    "                  cell (2 to 256), their transition energies evenly spaced over\n"
    "                  +-2 FWHM of a Gaussian of full width FWHM [meV] and weighted by\n"
    "                  it; each class is a pseudospin of its own under the cell's\n"
    "                  field, and the files hold the weighted mean (HDF5 snapshots\n"
    "                  every class as well); K = 1 leaves the dots alike\n"
    "  --magnetic-field=BX,BY,BZ\n"
    "                  a static magnetic field [T] (z the growth axis): Zeeman terms\n"
    "                  on the electron's spin (levels 1, 3) and the trion's hole\n"
    "                  spin (levels 2, 4), H = (muB/2) [g_inplane (Bx sx + By sy) +\n"
    "                  g_z Bz sz] on each pair (not with --legacy-model or --ensemble)\n"
    "  --g-factors=GE_INPLANE,GE_Z,GH_INPLANE,GH_Z\n"
    "                  the electron's and the hole's g-factors in the plane and along\n"
    "                  z for --magnetic-field (default -0.5,-0.6,0.2,1.0)\n"
    "  --source=hard   impose the pulse on the injection cell (the default)\n"
    "  --source=transparent\n"
    "                  launch the pulse one way through a total-field/scattered-field\n"
    "                  plane; light coming back passes it (for reflectance spectra)\n"
    "  --output=text   write the snapshots, traces and statistics as text columns,\n"
    "                  compressed (the default)\n"
    "  --output=hdf5   write them as HDF5 files instead: one per snapshot step\n"
    "                  (snapshot_<J>.h5), one per block of traces (traces_<J>.h5) and\n"
    "                  of statistics (statistics_<J>.h5), fields in V/m, every value\n"
    "                  in double precision\n"
    "  --trace-every=N keep every N-th step in the monitor traces (the steps that are\n"
    "                  multiples of N; default 1: every step); the flux records and\n"
    "                  statistics keep every step.  Refused when N dt exceeds a\n"
    "                  quarter of the shortest carrier period (the traces would alias)\n"
    "  --threads=N     use at most N threads (as OMP_NUM_THREADS=N does; the default\n"
    "                  is one per processor); the steps run on one thread or on all N,\n"
    "                  whichever is faster at the time, and the results do not depend\n"
    "                  on it\n"
    "  --version       print the version and exit\n";

// An option that sets a choice of the run (the model, the source, the
// output, the check); false for any other argument.
bool run_option(std::string_view arg, mps::RunOptions& options) {
  if (arg == "--both-transitions") {
    options.both_transitions = true;
  } else if (arg == "--legacy-model") {
    options.model = mps::Model::legacy;
  } else if (arg == "--source=hard" || arg == "--source=transparent") {
    options.source = arg == "--source=hard" ? mps::SourceKind::hard : mps::SourceKind::transparent;
  } else if (arg == "--output=text" || arg == "--output=hdf5") {
    options.output = arg == "--output=text" ? mps::OutputFormat::text : mps::OutputFormat::hdf5;
  } else if (arg == "--check") {
    options.check = true;
  } else if (arg == "--json") {
    options.json = true;
  } else {
    return false;
  }
  return true;
}

// Why the classes cannot be made from a FWHM [meV], or null.  Its energy
// must be a normal number (the run flushes a subnormal one to zero on its
// way to the angular spread, and the Gaussian's sigma with it), and the
// classes' span of 4 FWHM as an angular frequency must be finite.
const char* width_problem(double fwhm_meV) {
  if (!std::isnormal(fwhm_meV * 1e-3 * mps::constants::electron_volt)) return "underflows";
  if (!std::isfinite(4.0 * mps::fwhm_angular(fwhm_meV))) return "overflows";
  return nullptr;
}

// --ensemble=K,FWHM into `options`; false (with the report printed) when
// the value is not K from 1 to 256 and a positive FWHM in meV whose
// angular frequency spread a double holds.
bool ensemble_option(std::string_view value, mps::RunOptions& options) {
  const std::size_t comma = value.find(',');
  int classes = 0;
  double fwhm = 0.0;
  const std::string_view k = value.substr(0, comma);
  const auto [k_end, k_error] = std::from_chars(k.data(), k.data() + k.size(), classes);
  bool good = comma != std::string_view::npos && k_error == std::errc() &&
              k_end == k.data() + k.size() && classes >= 1 && classes <= mps::kMaxClasses;
  if (good) {
    const std::string_view f = value.substr(comma + 1);
    const auto [f_end, f_error] = std::from_chars(f.data(), f.data() + f.size(), fwhm);
    good =
        f_error == std::errc() && f_end == f.data() + f.size() && std::isfinite(fwhm) && fwhm > 0.0;
  }
  const char* problem = good ? width_problem(fwhm) : nullptr;
  if (!good || problem != nullptr) {
    std::cerr << "mps1d: --ensemble needs K,FWHM: K classes from 1 to " << mps::kMaxClasses
              << " and a full width FWHM > 0 in meV";
    if (problem != nullptr) {
      std::cerr << " (FWHM = " << value.substr(comma + 1) << " meV " << problem
                << " as an angular frequency spread)";
    }
    std::cerr << ": \"--ensemble=" << value << "\"\n";
    return false;
  }
  options.ensemble = {classes, fwhm};
  return true;
}

// `count` finite numbers separated by commas into `out`; false otherwise.
template <std::size_t N>
bool finite_numbers(std::string_view text, std::array<double, N>& out) {
  for (std::size_t i = 0; i < N; ++i) {
    const std::size_t comma = i + 1 < N ? text.find(',') : text.size();
    if (comma == std::string_view::npos) return false;
    const std::string_view part = text.substr(0, comma);
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), out[i]);
    if (error != std::errc() || end != part.data() + part.size() || !std::isfinite(out[i])) {
      return false;
    }
    text = text.substr(std::min(comma + 1, text.size()));
  }
  return true;
}

// --magnetic-field=BX,BY,BZ [T] or --g-factors=GE_INPLANE,GE_Z,GH_INPLANE,GH_Z
// into `options`; false (with the report printed) when the values are not
// finite numbers.
bool magnetic_option(std::string_view arg, mps::RunOptions& options) {
  mps::MagneticField& m = options.magnetic;
  if (arg.starts_with("--magnetic-field=")) {
    std::array<double, 3> B{};
    if (finite_numbers(arg.substr(17), B)) {
      m.on = true;
      m.B = B;
      return true;
    }
    std::cerr << "mps1d: --magnetic-field needs BX,BY,BZ: three finite numbers [T]: \"" << arg
              << "\"\n";
    return false;
  }
  std::array<double, 4> g{};
  if (finite_numbers(arg.substr(12), g)) {
    m.ge_inplane = g[0], m.ge_z = g[1], m.gh_inplane = g[2], m.gh_z = g[3];
    return true;
  }
  std::cerr << "mps1d: --g-factors needs GE_INPLANE,GE_Z,GH_INPLANE,GH_Z: four finite numbers: \""
            << arg << "\"\n";
  return false;
}

// A whole number from 1 to `most` after the option's first `name_length`
// characters into `value`; false (with the report printed) otherwise.
bool count_option(std::string_view arg, std::size_t name_length, std::int64_t most,
                  std::int64_t& value) {
  const std::string_view n = arg.substr(name_length);
  std::int64_t count = 0;
  const auto [end, error] = std::from_chars(n.data(), n.data() + n.size(), count);
  if (error != std::errc() || end != n.data() + n.size() || count < 1 || count > most) {
    std::cerr << "mps1d: " << arg.substr(0, name_length - 1) << " needs a whole number from 1 to "
              << most << ": \"" << arg << "\"\n";
    return false;
  }
  value = count;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away (`mps1d | head`) ends the console output, not
  // the run: writes to the closed pipe fail quietly (the stream stops
  // writing) instead of killing the run and leaving its folder locks.
  std::signal(SIGPIPE, SIG_IGN);
  mps::RunOptions options;
  options.version = MPS_VERSION;
  std::string folder;  // the case's folder; empty: the working folder
  for (int a = 1; a < argc; ++a) {
    const std::string_view arg = argv[a];
    if (arg == "--version") {
      std::cout << "mps1d " << MPS_VERSION << '\n';
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (run_option(arg, options)) continue;
    if (arg.starts_with("--ensemble=")) {
      if (!ensemble_option(arg.substr(11), options)) return mps::kExitUsage;
      continue;
    }
    if (arg.starts_with("--magnetic-field=") || arg.starts_with("--g-factors=")) {
      if (!magnetic_option(arg, options)) return mps::kExitUsage;
      continue;
    }
    if (arg.starts_with("--trace-every=")) {
      if (!count_option(arg, 14, 1000000000, options.trace_every)) return mps::kExitUsage;
      continue;
    }
    if (arg.starts_with("--threads=")) {
      const std::string_view n = arg.substr(10);
      int threads = 0;
      const auto [end, error] = std::from_chars(n.data(), n.data() + n.size(), threads);
      if (error != std::errc() || end != n.data() + n.size() || threads < 1 || threads > 1024) {
        std::cerr << "mps1d: --threads needs a whole number from 1 to 1024: \"" << arg << "\"\n";
        return mps::kExitUsage;
      }
      omp_set_num_threads(threads);
      continue;
    }
    if (!arg.empty() && arg[0] != '-' && folder.empty()) {
      folder = arg;
      continue;
    }
    std::cerr << "mps1d: unknown argument \"" << arg << "\"\n" << kUsage;
    return mps::kExitUsage;
  }
  if (options.magnetic.on &&
      (options.model == mps::Model::legacy || options.ensemble.broadened())) {
    std::cerr << "mps1d: --magnetic-field goes with neither --legacy-model nor --ensemble\n";
    return mps::kExitUsage;
  }
  if (options.json && !options.check) {
    std::cerr << "mps1d: --json goes with --check\n" << kUsage;
    return mps::kExitUsage;
  }
  mps::Console console{std::cin, std::cout, std::cerr};
  return mps::run_program(console, options, folder);
}
