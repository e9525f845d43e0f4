// Mutation corpus: 528 inputs made from the two examples shortened to a
// fraction of a second, each mutated once (a few times for "stacked"), and
// run in a fresh folder.  Each must end in one of the program's ways: exit
// 0 with finite results, or a non-zero exit with its report and, but for
// exit 4, nothing written; never a sanitizer report, a signal or a hang.
// The seed is fixed; a failing input is saved under <build>/fuzz_failures/,
// MPS_FUZZ_CASE=N replays case N alone and MPS_FUZZ_TIMEOUT sets the limit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>

#include "fuzz/mutations.hpp"
#include "fuzz/run_check.hpp"
#include "support/scratch_dir.hpp"

#ifdef __SANITIZE_ADDRESS__
#define MPS_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MPS_FUZZ_ASAN 1
#endif
#endif

namespace mps::testing {
namespace {

namespace fs = std::filesystem;

#ifdef MPS_FUZZ_ASAN
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr std::uint64_t kSeed = 20240611;
constexpr int kBases = 2;
constexpr int kPerKindAndBase = 24;
constexpr int kCases = kBases * kMutationKinds * kPerKindAndBase;
const std::string kSaved = std::string(MPS_BUILD_DIR) + "/fuzz_failures/";

struct Base {
  std::string name;
  std::string text;
};

// Quickstart: one block of 10 steps; microcavity: three blocks of 5.
const std::vector<Base>& bases() {
  static const std::vector<Base> b = {
      {"quickstart", short_quickstart()},
      {"microcavity", replace_line(replace_line(example_input("microcavity"), 47,
                                                "steps between two spatial dumps LL 5 steps"),
                                   50, "total number of time steps 10 -")}};
  return b;
}

struct Case {
  int index = 0;
  const Base* base = nullptr;
  MutationKind kind = MutationKind::replace_byte;
  Mutant mutant;
};

// Case `index`: its base, kind and generator follow from the index alone.
Case make_case(int index) {
  Case c;
  c.index = index;
  c.base = &bases()[static_cast<std::size_t>(index % kBases)];
  c.kind = static_cast<MutationKind>((index / kBases) % kMutationKinds);
  Rng rng(kSeed + 1000003ull * static_cast<std::uint64_t>(index));
  c.mutant = mutate(c.base->text, c.kind, rng);
  return c;
}

// A run takes well under a second (a few under the sanitizers): a run that
// needs ten times that is a hang.  A mutated cell count may ask for tens of
// GiB: 4 GiB of address space turns that into std::bad_alloc; ASan, which
// reserves terabytes, gets its own allocation limit instead.
RunLimits run_limits() {
  static bool done = false;
  if (kSanitized && !done) {
    done = true;
    const char* old = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(old != nullptr ? old : "") +
                                ":max_allocation_size_mb=4096:hard_rss_limit_mb=6144";
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
  }
  RunLimits limits;
  limits.timeout_seconds = kSanitized ? 30.0 : 10.0;
  if (const char* t = std::getenv("MPS_FUZZ_TIMEOUT")) limits.timeout_seconds = std::atof(t);
  if (!kSanitized) limits.address_space = 4ull << 30;
  return limits;
}

struct RunOfCase {
  ProgramResult result;
  Verdict verdict;
};

// In a scratch folder in memory where there is one: a finished run writes
// some hundred files, ten times slower on disk.
RunOfCase run_case(const Case& c) {
  const bool shm = ::access("/dev/shm", W_OK | X_OK) == 0 && fs::is_directory("/dev/shm");
  ScratchDir dir(shm ? "/dev/shm" : "");
  for (const char* d : {"Results", "DiscardedResults", "Continue"}) dir.make_dir(d);
  dir.write("execdata.txt", c.mutant.text);
  RunOfCase run;
  run.result = run_in(MPS_PROGRAM, dir.path(), {}, run_limits());
  run.verdict = judge_run(run.result, dir.path());
  return run;
}

std::string describe(const Case& c, const Fault& f) {
  fs::create_directories(kSaved);
  const std::string saved = kSaved + "case_" + std::to_string(c.index) + ".txt";
  std::ofstream(saved, std::ios::binary) << c.mutant.text;
  return "  case " + std::to_string(c.index) + " (" + c.base->name + ", " + kind_name(c.kind) +
         "): " + c.mutant.description.substr(0, 300) + "\n    " + f.detail.substr(0, 600) +
         "\n    changed lines:\n" + changed_lines(c.base->text, c.mutant.text, 4) +
         "    input: " + saved + "\n";
}

// Outcomes per kind of mutation (last column: faulty cases), for the log.
void print_table(const std::array<std::array<int, kOutcomes + 1>, kMutationKinds>& counts) {
  std::cout << std::left << std::setw(16) << "mutation";
  for (int o = 0; o < kOutcomes; ++o) std::cout << std::setw(8) << outcome_name(Outcome(o));
  std::cout << "faulty\n";
  for (int k = 0; k < kMutationKinds; ++k) {
    std::cout << std::setw(16) << kind_name(MutationKind(k));
    for (const int n : counts[static_cast<std::size_t>(k)]) std::cout << std::setw(8) << n;
    std::cout << '\n';
  }
  std::cout << "(\"other\": a signal, a time-out or another exit status)\n";
}

// The corpus starts from runs that finish: a failing base would make every
// mutant of it fail for the same reason.
TEST(InputCorpus, ShortenedExamplesRunCleanly) {
  for (const Base& b : bases()) {
    const RunOfCase run = run_case({-1, &b, MutationKind::replace_byte, {b.text, "unchanged"}});
    EXPECT_EQ(run.result.exit_status, 0) << b.name << '\n' << run.result.out << run.result.err;
    EXPECT_EQ(run.verdict.outcome, Outcome::exit0) << b.name;
    for (const Fault& f : run.verdict.faults) ADD_FAILURE() << b.name << ": " << f.detail;
  }
}

TEST(InputCorpus, MutatedExamplesEndInAReportedWay) {
  if (const char* chosen = std::getenv("MPS_FUZZ_CASE")) {
    const Case c = make_case(std::atoi(chosen));
    const RunOfCase run = run_case(c);
    std::cout << "case " << c.index << " (" << c.base->name << ", " << kind_name(c.kind)
              << "): " << c.mutant.description << "\ninput:\n"
              << escaped(c.mutant.text) << "\nexit " << run.result.exit_status << "\nstdout:\n"
              << run.result.out << "\nstderr:\n"
              << run.result.err << '\n';
    for (const Fault& f : run.verdict.faults) ADD_FAILURE() << f.kind << ": " << f.detail;
    return;
  }
  fs::remove_all(kSaved);
  std::array<std::array<int, kOutcomes + 1>, kMutationKinds> counts{};
  std::map<std::string, std::vector<std::string>> faults;  // per kind of fault
  int failed = 0;
  for (int index = 0; index < kCases; ++index) {
    const Case c = make_case(index);
    const Verdict v = run_case(c).verdict;
    auto& row = counts[static_cast<std::size_t>(c.kind)];
    ++row[static_cast<std::size_t>(v.outcome)];
    if (v.faults.empty()) continue;
    ++row[kOutcomes];
    ++failed;
    for (const Fault& f : v.faults) faults[f.kind].push_back(describe(c, f));
  }
  print_table(counts);
  if (failed == 0) return;
  std::string summary = std::to_string(failed) + " of " + std::to_string(kCases) +
                        " cases failed; inputs saved under " + kSaved + "\n";
  for (const auto& [kind, shown] : faults) {
    summary += std::to_string(shown.size()) + " x " + kind + ", the first ones:\n";
    for (std::size_t k = 0; k < shown.size() && k < 5; ++k) summary += shown[k];
  }
  ADD_FAILURE() << summary;
}

// Inputs that once misled a run, made from the shortened quickstart: each
// must end in its own way, with its report or warning.
TEST(InputCorpus, InputsThatOnceMisledARunEndInTheirOwnWay) {
  const std::string alone = "5.0e-9 1 3";  // a cavity of the first layer only
  const struct {
    const char* what;
    std::vector<std::pair<int, std::string>> edits;
    Outcome outcome;
    const char* said;  // on standard output or standard error
  } cases[] = {
      {"unused row with NaN",
       {{57, alone}, {59, "NaN 0 3.5 0 0 0 0 0 0 0"}},
       Outcome::exit1,
       "NaN"},
      {"unused row of -5 cells",
       {{57, alone}, {60, "-5 0 3.5 0 0 0 0 0 0 0"}},
       Outcome::exit1,
       "cell count"},
      {"unused row of control bytes",
       {{57, alone}, {59, "\x01\x02\x7f"}},
       Outcome::exit1,
       "line 59"},
      {"unused rows",
       {{54, "50"}, {55, "60"}, {57, alone}},
       Outcome::exit0,
       "lie outside the grid"},
      {"dots outside the cavity", {{57, "5.0e-9 4 5"}}, Outcome::exit0, "take no part"},
      {"infinite spatial step", {{57, "inf 2 4"}}, Outcome::exit1, "finite"},
      {"spatial step beyond a double", {{57, "1e309 2 4"}}, Outcome::exit1, "finite"},
      {"index of 1e6", {{59, "200 0 1e6 0 0 0 0 0 0 0"}}, Outcome::exit1, "index"},
      {"a blank for a TAB",
       {{22, "1.0e-9 0\t0\t2.0e-10"}},
       Outcome::exit0,
       "blank-separated values are read"},
      {"Nt between block ends",
       {{50, "total number of time steps 15 -"}},
       Outcome::exit0,
       "goes on to step 20"},
  };
  for (const auto& k : cases) {
    std::string text = bases()[0].text;
    for (const auto& [line, replacement] : k.edits) text = replace_line(text, line, replacement);
    const RunOfCase run = run_case({-1, &bases()[0], MutationKind::replace_byte, {text, k.what}});
    const std::string said = run.result.out + run.result.err;
    EXPECT_EQ(run.verdict.outcome, k.outcome) << k.what << '\n' << said;
    EXPECT_NE(said.find(k.said), std::string::npos) << k.what << '\n' << said;
    for (const Fault& f : run.verdict.faults) ADD_FAILURE() << k.what << ": " << f.detail;
  }
}

}  // namespace
}  // namespace mps::testing
