// Mutation corpus: 528 inputs made from the two examples, each shortened
// to a run of a fraction of a second (quickstart: one block of 10 steps;
// microcavity: three blocks of 5), then mutated once (or a few times for
// the "stacked" kind).  Each runs the program in a fresh folder with the
// three result folders made and standard input at its end, and must end
// in one of the program's ways: exit 0 with finite results, or a non-zero
// exit with its report and, but for exit 4, nothing written; never a
// sanitizer report, a signal or a hang.
//
// The seed is fixed, so the corpus is the same on every run; a failing case
// is saved under <build>/fuzz_failures/ and MPS_FUZZ_CASE=N runs case N
// alone and prints it.  MPS_FUZZ_TIMEOUT=seconds sets the time limit, and
// MPS_FUZZ_SHOW=N the number of failures shown per kind of fault.
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

// `text` with its line holding `marker` replaced by `line`.
std::string with_line(const std::string& text, const std::string& marker, const std::string& line) {
  const std::vector<std::string> lines = split_lines(text);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (lines[k].find(marker) != std::string::npos) {
      return replace_line(text, static_cast<int>(k + 1), line);
    }
  }
  throw std::runtime_error("no line with \"" + marker + "\"");
}

std::string shortened(const std::string& name, int LL, int Nt) {
  const std::string text =
      with_line(example_input(name), "dumps LL",
                "steps between two spatial dumps LL " + std::to_string(LL) + " steps");
  return with_line(text, "total number of time steps",
                   "total number of time steps " + std::to_string(Nt) + " -");
}

struct Base {
  std::string name;
  std::string text;
};

const std::vector<Base>& bases() {
  static const std::vector<Base> b = {{"quickstart", shortened("quickstart", 10, 0)},
                                      {"microcavity", shortened("microcavity", 5, 10)}};
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

// Time limit of one run: a normal case takes well under a second (a few
// under the sanitizers); the limit leaves a margin of more than ten for a
// loaded machine, and a run that needs it is a hang.
RunLimits run_limits() {
  RunLimits limits;
  limits.timeout_seconds = kSanitized ? 30.0 : 10.0;
  if (const char* t = std::getenv("MPS_FUZZ_TIMEOUT")) limits.timeout_seconds = std::atof(t);
  // A mutated cell count may ask for tens of GiB: 4 GiB of address space
  // turns that into std::bad_alloc.  AddressSanitizer reserves terabytes of
  // address space, so there its own allocation limit is used instead.
  if (!kSanitized) limits.address_space = 4ull << 30;
  return limits;
}

void limit_sanitizer_allocations() {
  static bool done = false;
  if (!kSanitized || done) return;
  done = true;
  const char* old = std::getenv("ASAN_OPTIONS");
  const std::string options = std::string(old != nullptr ? old : "") +
                              ":max_allocation_size_mb=4096:hard_rss_limit_mb=6144";
  ::setenv("ASAN_OPTIONS", options.c_str(), 1);
}

// Scratch folders in memory when there is such a file system: a finished
// run writes some hundred files, which costs ten times as long on disk.
std::string scratch_parent() {
  return ::access("/dev/shm", W_OK | X_OK) == 0 && fs::is_directory("/dev/shm") ? "/dev/shm" : "";
}

struct RunOfCase {
  ProgramResult result;
  Verdict verdict;
};

RunOfCase run_case(const Case& c, const RunLimits& limits) {
  ScratchDir dir(scratch_parent());
  for (const char* d : {"Results", "DiscardedResults", "Continue"}) dir.make_dir(d);
  dir.write("execdata.txt", c.mutant.text);
  RunOfCase run;
  run.result = run_in(MPS_PROGRAM, dir.path(), {}, limits);
  run.verdict = judge_run(run.result, dir.path());
  return run;
}

std::string save_input(const Case& c) {
  fs::create_directories(kSaved);
  std::string path = kSaved + "case_" + std::to_string(c.index) + ".txt";
  std::ofstream(path, std::ios::binary) << c.mutant.text;
  return path;
}

std::string describe(const Case& c, const Fault& f, const std::string& saved) {
  return "  case " + std::to_string(c.index) + " (" + c.base->name + ", " + kind_name(c.kind) +
         "): " + c.mutant.description.substr(0, 300) + "\n    " + f.detail.substr(0, 600) +
         "\n    changed lines:\n" + changed_lines(c.base->text, c.mutant.text, 4) +
         "    input: " + saved + "\n";
}

// Failures shown per kind of fault: 5, or MPS_FUZZ_SHOW.
std::size_t examples_shown() {
  const char* n = std::getenv("MPS_FUZZ_SHOW");
  return n != nullptr ? static_cast<std::size_t>(std::atol(n)) : 5;
}

struct Tally {
  std::array<std::array<int, kOutcomes + 1>, kMutationKinds> by_kind{};  // last column: faults
  std::map<std::string, std::vector<std::string>> shown;                 // per fault kind
  std::map<std::string, int> faults;
  std::array<std::string, kOutcomes> rare;  // case numbers of the rarer outcomes
  int failed_cases = 0;
};

void record(Tally& t, const Case& c, const Verdict& v) {
  auto& row = t.by_kind[static_cast<std::size_t>(c.kind)];
  ++row[static_cast<std::size_t>(v.outcome)];
  if (v.outcome != Outcome::exit0 && v.outcome != Outcome::exit1) {
    std::string& list = t.rare[static_cast<std::size_t>(v.outcome)];
    list += ' ';
    list += std::to_string(c.index);
  }
  if (v.faults.empty()) return;
  ++row[kOutcomes];
  ++t.failed_cases;
  const std::string saved = save_input(c);
  for (const Fault& f : v.faults) {
    ++t.faults[f.kind];
    auto& list = t.shown[f.kind];
    if (list.size() < examples_shown()) list.push_back(describe(c, f, saved));
  }
}

void print_table(const Tally& t) {
  std::cout << std::left << std::setw(16) << "mutation";
  for (int o = 0; o < kOutcomes; ++o) std::cout << std::setw(8) << outcome_name(Outcome(o));
  std::cout << "faulty\n";
  std::array<int, kOutcomes + 1> total{};
  for (int k = 0; k < kMutationKinds; ++k) {
    std::cout << std::setw(16) << kind_name(MutationKind(k));
    for (int o = 0; o <= kOutcomes; ++o) {
      const int n = t.by_kind[static_cast<std::size_t>(k)][static_cast<std::size_t>(o)];
      total[static_cast<std::size_t>(o)] += n;
      std::cout << std::setw(8) << n;
    }
    std::cout << '\n';
  }
  std::cout << std::setw(16) << "all";
  for (const int n : total) std::cout << std::setw(8) << n;
  std::cout << "\n(\"other\": a signal, a time-out or another exit status)\n";
  for (int o = 2; o < kOutcomes; ++o) {
    const std::string& cases = t.rare[static_cast<std::size_t>(o)];
    if (!cases.empty()) std::cout << outcome_name(Outcome(o)) << ", cases" << cases << '\n';
  }
}

// MPS_FUZZ_CASE=N: case N alone, with its whole input and output.
bool run_single_case(const RunLimits& limits) {
  const char* chosen = std::getenv("MPS_FUZZ_CASE");
  if (chosen == nullptr) return false;
  const Case c = make_case(std::atoi(chosen));
  const RunOfCase run = run_case(c, limits);
  std::cout << "case " << c.index << " (" << c.base->name << ", " << kind_name(c.kind)
            << "): " << c.mutant.description << "\ninput:\n"
            << escaped(c.mutant.text) << "\nexit " << run.result.exit_status << "\nstdout:\n"
            << run.result.out << "\nstderr:\n"
            << run.result.err << '\n';
  for (const Fault& f : run.verdict.faults) ADD_FAILURE() << f.kind << ": " << f.detail;
  return true;
}

// The corpus starts from runs that finish: a base that fails already would
// make every mutant of it fail for the same reason.
TEST(InputCorpus, ShortenedExamplesRunCleanly) {
  limit_sanitizer_allocations();
  for (std::size_t b = 0; b < bases().size(); ++b) {
    const Case c{-1, &bases()[b], MutationKind::replace_byte, {bases()[b].text, "unchanged"}};
    const RunOfCase run = run_case(c, run_limits());
    EXPECT_EQ(run.result.exit_status, 0) << c.base->name << '\n'
                                         << run.result.out << run.result.err;
    EXPECT_EQ(run.verdict.outcome, Outcome::exit0) << c.base->name;
    for (const Fault& f : run.verdict.faults) ADD_FAILURE() << c.base->name << ": " << f.detail;
  }
}

TEST(InputCorpus, MutatedExamplesEndInAReportedWay) {
  limit_sanitizer_allocations();
  const RunLimits limits = run_limits();
  if (run_single_case(limits)) return;
  fs::remove_all(kSaved);
  Tally tally;
  for (int index = 0; index < kCases; ++index) {
    const Case c = make_case(index);
    record(tally, c, run_case(c, limits).verdict);
  }
  print_table(tally);
  if (tally.failed_cases == 0) return;
  std::string summary = std::to_string(tally.failed_cases) + " of " + std::to_string(kCases) +
                        " cases failed; inputs saved under " + kSaved + "\n";
  for (const auto& [kind, count] : tally.faults) {
    summary += std::to_string(count) + " x " + kind + ", the first ones:\n";
    for (const std::string& text : tally.shown.at(kind)) summary += text;
  }
  ADD_FAILURE() << summary;
}

// Inputs that once misled a run, made from the shortened quickstart: each
// must end in its own way, with its report or warning.
struct KnownCase {
  const char* what;
  std::vector<std::pair<int, std::string>> edits;
  Outcome outcome;
  const char* said;  // on standard output or standard error
};

TEST(InputCorpus, InputsThatOnceMisledARunEndInTheirOwnWay) {
  limit_sanitizer_allocations();
  const std::string alone = "5.0e-9 1 3";  // a cavity of the first layer only
  const std::vector<KnownCase> cases = {
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
  for (const KnownCase& k : cases) {
    std::string text = bases()[0].text;
    for (const auto& [line, replacement] : k.edits) text = replace_line(text, line, replacement);
    const Case c{-1, &bases()[0], MutationKind::replace_byte, {text, k.what}};
    const RunOfCase run = run_case(c, run_limits());
    EXPECT_EQ(run.verdict.outcome, k.outcome) << k.what << '\n' << run.result.out << run.result.err;
    EXPECT_NE((run.result.out + run.result.err).find(k.said), std::string::npos)
        << k.what << '\n'
        << run.result.out << run.result.err;
    for (const Fault& f : run.verdict.faults) ADD_FAILURE() << k.what << ": " << f.detail;
  }
}

}  // namespace
}  // namespace mps::testing
