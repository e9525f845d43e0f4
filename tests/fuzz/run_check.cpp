#include "fuzz/run_check.hpp"

#include <cmath>
#include <filesystem>

#include "support/numbers.hpp"

namespace mps::testing {
namespace {

namespace fs = std::filesystem;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A word that reads as NaN or an infinity, or a number glued to a field
// holding "NaN" or "Inf" (the program's only spellings).
bool non_finite_word(const std::string& word) {
  double value = 0.0;
  if (parse_number(word, value)) return !std::isfinite(value);
  const bool digit = word.find_first_of("0123456789") != std::string::npos;
  return digit && (word.find("NaN") != std::string::npos || word.find("Inf") != std::string::npos);
}

// Paths below `folder` of the regular files other than the input file.
std::vector<std::string> written_files(const std::string& folder) {
  const std::size_t prefix = folder.ends_with('/') ? folder.size() : folder.size() + 1;
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string relative = it->path().string().substr(prefix);
    if (relative == "execdata.txt" || it->is_directory()) continue;
    files.push_back(relative);
  }
  return files;
}

// The report of a rejection: an input check's console report, or a line
// of the program's own on standard error.
bool has_report(const ProgramResult& r) {
  for (const char* text : {"Please correct parameter", "Error in file ",
                           "Error in pulse polarisation definition", "cant find J_final"}) {
    if (r.out.find(text) != std::string::npos) return true;
  }
  return r.err.starts_with("mps1d: ") || r.err.find("\nmps1d: ") != std::string::npos;
}

// AddressSanitizer's report of an allocation beyond its limit, where a
// build without it throws std::bad_alloc (exit 3).
bool sanitizer_out_of_memory(const ProgramResult& r) {
  for (const char* text : {"requested allocation size", "out of memory", "allocator is out of"}) {
    if (r.err.find(std::string("AddressSanitizer: ") + text) != std::string::npos) return true;
  }
  return false;
}

bool sanitizer_report(const ProgramResult& r) {
  return r.exit_status >= 128 || r.err.find("Sanitizer") != std::string::npos ||
         r.err.find("runtime error:") != std::string::npos;
}

std::string last_lines(const std::string& text) {
  const std::size_t cut = text.size() > 600 ? text.size() - 600 : 0;
  return text.substr(cut);
}

void check_finite_results(const std::string& folder, Verdict& v) {
  const std::string root = folder.ends_with('/') ? folder : folder + '/';
  for (const std::string& file : written_files(root)) {
    const std::string where = first_non_finite(read_any(root + file));
    if (!where.empty()) {
      v.faults.push_back({kNonFinite, file + ", " + where});
      return;
    }
  }
}

void check_rejection(const ProgramResult& r, const std::string& folder, Verdict& v) {
  if (!has_report(r) && !sanitizer_out_of_memory(r)) {
    v.faults.push_back({kSilent, "exit " + std::to_string(r.exit_status) + ", stdout ends \"" +
                                     last_lines(r.out) + "\", stderr \"" + last_lines(r.err) +
                                     "\""});
  }
  if (v.outcome == Outcome::exit4) return;  // files of a run stopped by a non-finite value stay
  const std::vector<std::string> files = written_files(folder);
  if (files.empty()) return;
  std::string names;
  for (std::size_t k = 0; k < files.size() && k < 3; ++k) names += " " + files[k];
  v.faults.push_back({kLeftFiles, "exit " + std::to_string(r.exit_status) + ", " +
                                      std::to_string(files.size()) + " files:" + names +
                                      (files.size() > 3 ? " ..." : "") + "; stdout ends \"" +
                                      last_lines(r.out) + "\""});
}

}  // namespace

const char* outcome_name(Outcome outcome) {
  static const char* const names[] = {"exit 0", "exit 1", "exit 2", "exit 3", "exit 4", "other"};
  return names[static_cast<int>(outcome)];
}

std::string first_non_finite(const std::string& text) {
  std::size_t line = 1;
  for (std::size_t k = 0; k < text.size();) {
    if (blank(text[k])) {
      line += text[k++] == '\n' ? 1 : 0;
      continue;
    }
    const std::size_t start = k;
    bool letters = false;  // a word without N, n, I or i is a finite number or no number
    for (; k < text.size() && !blank(text[k]); ++k) {
      const char c = text[k];
      letters = letters || c == 'N' || c == 'n' || c == 'I' || c == 'i';
    }
    if (!letters) continue;
    const std::string word = text.substr(start, k - start);
    if (non_finite_word(word)) return "line " + std::to_string(line) + ": " + word;
  }
  return "";
}

Verdict judge_run(const ProgramResult& r, const std::string& folder) {
  Verdict v;
  if (r.timed_out) {
    v.faults.push_back({kHang, "stdout ends \"" + last_lines(r.out) + "\""});
    return v;
  }
  if (sanitizer_out_of_memory(r)) {
    v.outcome = Outcome::exit3;
  } else if (sanitizer_report(r)) {
    v.faults.push_back({kCrash, "exit " + std::to_string(r.exit_status) + ", stderr \"" +
                                    last_lines(r.err) + "\""});
    return v;
  } else if (r.exit_status < 0 || r.exit_status > 4) {
    v.faults.push_back({kStatus, "exit " + std::to_string(r.exit_status) + ", stderr \"" +
                                     last_lines(r.err) + "\""});
    return v;
  } else {
    v.outcome = static_cast<Outcome>(r.exit_status);
  }
  if (v.outcome == Outcome::exit0) {
    check_finite_results(folder, v);
  } else {
    check_rejection(r, folder, v);
  }
  return v;
}

}  // namespace mps::testing
