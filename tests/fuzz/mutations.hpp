#pragma once
// Mutations of an input file for the corpus test: byte and line edits,
// extreme numbers, cut files, special characters and changed codes.  Each
// mutant is made by its own generator from a fixed seed and its case
// number, so one case can be made again alone.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace mps::testing {

enum class MutationKind {
  replace_byte,
  insert_byte,
  delete_bytes,
  swap_lines,
  duplicate_line,
  delete_line,
  extreme_number,
  cut_short,
  special_chars,
  change_code,
  stacked,  // two to four of the kinds above, one after the other
};

inline constexpr int kMutationKinds = 11;

const char* kind_name(MutationKind kind);

// Draws from a Mersenne Twister, whose output the C++ standard fixes, with
// a plain modulo (the distributions of the library differ between
// implementations).
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : engine_(seed) {}
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(engine_() % n); }
  bool coin() { return below(2) == 0; }
  template <typename T>
  const T& pick(const std::vector<T>& options) {
    return options[below(options.size())];
  }

 private:
  std::mt19937_64 engine_;
};

struct Mutant {
  std::string text;
  std::string description;  // what was changed, for the failure report
};

// Applies one mutation of `kind` to `text`.
Mutant mutate(const std::string& text, MutationKind kind, Rng& rng);

// Names of the codes that `change_code` cannot find in `text` (the
// examples must hold every one of them).
std::vector<std::string> missing_code_targets(const std::string& text);

// A text with every byte outside printable ASCII written as an escape
// (\n, \t, \r, \0, \xHH), for reports.
std::string escaped(const std::string& text);

// The lines of `mutated` that differ from `base` (common head and tail
// removed), escaped, at most `max_lines` of them.
std::string changed_lines(const std::string& base, const std::string& mutated,
                          std::size_t max_lines);

}  // namespace mps::testing
