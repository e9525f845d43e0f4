#pragma once
// What a run of the program on a mutated input must look like: the exit
// status and output it ended with, and the files it left in its folder.
#include <string>
#include <vector>

#include "support/scratch_dir.hpp"

namespace mps::testing {

// Exit statuses 0..4 of the program; `other` is anything else (a signal, a
// time-out, an unknown status).
enum class Outcome { exit0, exit1, exit2, exit3, exit4, other };
inline constexpr int kOutcomes = 6;
const char* outcome_name(Outcome outcome);

// Kinds of faults a run can show.
inline constexpr const char* kHang = "hang (killed after the time limit)";
inline constexpr const char* kCrash = "sanitizer finding or crash";
inline constexpr const char* kStatus = "exit status not among 0..4";
inline constexpr const char* kNonFinite = "exit 0 with a non-finite number in a result file";
inline constexpr const char* kSilent = "non-zero exit without a report";
inline constexpr const char* kLeftFiles = "files left by a run that ended with exit 1, 2 or 3";

struct Fault {
  std::string kind;    // one of the names above
  std::string detail;  // what was seen
};

struct Verdict {
  Outcome outcome = Outcome::other;
  std::vector<Fault> faults;
};

// Judges the run `r` of the program in `folder` (which held "execdata.txt"
// and the three empty result folders).
Verdict judge_run(const ProgramResult& r, const std::string& folder);

// The first non-finite number of a result text as "line N: WORD", or "".
std::string first_non_finite(const std::string& text);

}  // namespace mps::testing
