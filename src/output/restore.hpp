#pragma once
// Restoring a run from a stored snapshot, so that it continues as if it had
// never stopped.
//
// "point.txt" of the results folder gives the level index the snapshot of
// step J_final was written with; the snapshot files themselves (compressed
// or plain) are read from the continuation folder: both time levels of Ex,
// Ey, Hx, Hy and of the stored medium values w1..w15, and the population
// flags of "gamma.dat".
#include <cstdint>
#include <string>

#include "field/field_state.hpp"
#include "medium/medium_state.hpp"

namespace mps {

struct RestoreInput {
  std::int64_t J_final = 0;
  double E0 = 1.0;           // field scale the files are written with
  std::string results_dir;   // holds point.txt
  std::string continue_dir;  // holds the snapshot of J_final
};

// Level index stored with step J_final in point.txt; `current` when the
// first line's step cannot be read.  Throws ParameterError when no line
// names J_final.
int find_level_index(const std::string& point_file, std::int64_t J_final, int current);

// restore_snapshot: decompresses the continuation folder, then restores step
// J_final into level Jtoggle (taken from point.txt) and step J_final - 1
// into the other level.  Sets f.Jtoggle.  A missing or short file raises
// IoError naming it.
void restore_snapshot(const RestoreInput& in, FieldState& f, MediumState& m);

// Value of an E23.12 field as written by the snapshot files (also the forms
// without the letter E, "0.1+100", and NaN/Infinity).  False when the text
// is not a number.
bool parse_real_field(std::string_view field, double& value);

}  // namespace mps
