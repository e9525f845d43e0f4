#pragma once
// Mutations of an input file for the corpus test, each reproducible from
// its generator's seed.
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

// A Mersenne Twister (output fixed by the standard) with a plain modulo:
// the library's distributions differ between implementations.
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

// Names of the codes that `change_code` cannot find in `text`.
std::vector<std::string> missing_code_targets(const std::string& text);

// `text` with bytes outside printable ASCII escaped (\n, \t, \r, \xHH).
std::string escaped(const std::string& text);

// At most `max_lines` lines of `mutated` that differ from `base`, escaped.
std::string changed_lines(const std::string& base, const std::string& mutated,
                          std::size_t max_lines);

}  // namespace mps::testing
