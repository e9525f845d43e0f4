#pragma once
// Restoring a run from a stored snapshot, so that it continues as if it had
// never stopped.
//
// "point.txt" of the results folder gives the level index the snapshot of
// step J_final was written with; the snapshot files themselves (compressed
// or plain) are read into memory from the continuation folder, which is
// left exactly as it was: both time levels of Ex, Ey, Hx, Hy and of the
// stored medium values w1..w15, and the population flags of "gamma.dat".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "field/field_state.hpp"
#include "medium/medium_state.hpp"
#include "output/manifest.hpp"

namespace mps {

struct RestoreInput {
  std::int64_t J_final = 0;
  double E0 = 1.0;           // field scale the files are written with
  std::string results_dir;   // holds point.txt
  std::string continue_dir;  // holds the snapshot of J_final
  RunRecord run;             // of this run: what the snapshot's run must share
};

// Level index stored with step J_final in point.txt: that of the first
// line written as point.txt is, (I12, 2X, I8, 2X, I8), whose step is
// J_final; other lines are passed over.  Throws ParameterError when no such
// line names J_final (a missing file names none).
int find_level_index(const std::string& point_file, std::int64_t J_final);

// restore_snapshot: restores step J_final into level Jtoggle (taken from
// point.txt) and step J_final - 1 into the other level.  Sets f.Jtoggle.
// Every file must hold what the snapshot's manifest records, and the
// manifest must name the step and level point.txt gives, and the run it
// records (when it records one) must be `in.run` (else IoError); a
// snapshot without a manifest is restored as it is, with a warning, in a
// folder that holds no other manifest.  Returns the warnings.  Only regular
// files are read, each up to a bound.
// Each file is read from "NAME.gz" when that exists, else from "NAME";
// nothing is written.  A level index other than 0 or 1 raises
// ParameterError.  A missing, damaged or oversized file, one with other
// than N lines, a value that is not one finite E23.12 number filling its
// line, or a "gamma.dat" line other than four 0/1 flags in the layout
// "1 0 1 1 " raises IoError naming the file (and the line and its text).
std::vector<std::string> restore_snapshot(const RestoreInput& in, FieldState& f, MediumState& m);

// Value of an E23.12 field as the snapshot files hold it: leading blanks,
// an optional sign, a mantissa with its decimal point and an exponent,
// with its letter ("E+01", also D) or, beyond two digits, without one
// ("0.1+100").  False for anything else: a blank field, embedded blanks,
// NaN, Infinity, or a value beyond the range of a double.
bool parse_real_field(std::string_view field, double& value);

}  // namespace mps
