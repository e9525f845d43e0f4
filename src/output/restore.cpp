#include "output/restore.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "core/errors.hpp"
#include "output/compression.hpp"
#include "textio/fortran_format.hpp"
#include "textio/list_directed.hpp"
#include "textio/text_file.hpp"

namespace mps {

namespace {

// "PATH", line K: WHAT: "TEXT"
std::string line_message(const std::string& path, std::int64_t k, const char* what,
                         const std::string& text) {
  std::string m = "\"";
  m += path;
  m += "\", line ";
  m += std::to_string(k);
  m += ": ";
  m += what;
  m += ": \"";
  m += text;
  m += '"';
  return m;
}

// Formatted fields are read with blanks ignored; an empty field is 0.
std::string without_blanks(std::string_view field) {
  std::string t;
  for (const char c : field) {
    if (c != ' ') t += c;
  }
  return t;
}

bool parse_int_field(std::string_view field, std::int64_t& value) {
  const std::string digits = without_blanks(field);
  if (digits.empty()) {
    value = 0;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(digits.c_str(), &end, 10);
  if (end != digits.c_str() + digits.size() || errno != 0) return false;
  value = v;
  return true;
}

std::string_view field_at(const std::string& line, std::size_t start, std::size_t width) {
  if (start >= line.size()) return {};
  return std::string_view(line).substr(start, width);
}

// The N values of a one-column snapshot file, cells 1..N.
void read_column(const std::string& path, std::int32_t N, double scale, std::vector<double>& out,
                 std::size_t stride = 1, std::size_t offset = 0) {
  const textio::LineCursor lines = textio::LineCursor::from_text(textio::read_text_file(path));
  if (lines.size() < static_cast<std::size_t>(N)) {
    throw IoError(path, "\"" + path + "\" ends after " + std::to_string(lines.size()) + " lines; " +
                            std::to_string(N) + " values are needed");
  }
  for (std::int32_t k = 1; k <= N; ++k) {
    const std::string& line = lines.line(static_cast<std::size_t>(k - 1));
    double v = 0.0;
    if (!parse_real_field(field_at(line, 0, 23), v)) {
      throw IoError(path, line_message(path, k, "not a number", line));
    }
    out[static_cast<std::size_t>(k) * stride + offset] = v * scale;
  }
}

}  // namespace

bool parse_real_field(std::string_view field, double& value) {
  std::string t = without_blanks(field);
  if (t.empty()) {
    value = 0.0;
    return true;
  }
  for (char& c : t) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  // A sign right after a digit starts an exponent without its letter.
  for (std::size_t i = 1; i < t.size(); ++i) {
    if ((t[i] == '+' || t[i] == '-') && std::isdigit(static_cast<unsigned char>(t[i - 1])) != 0) {
      t.insert(i, 1, 'E');
      break;
    }
  }
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size()) return false;
  value = v;
  return true;
}

int find_level_index(const std::string& point_file, std::int64_t J_final, int current) {
  const std::string text =
      textio::file_exists(point_file) ? textio::read_text_file(point_file) : "";
  const textio::LineCursor lines = textio::LineCursor::from_text(text);
  std::int64_t J = J_final;
  std::int64_t level = current;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    // (I12, 2X, I8, 2X, I8): values read before a failure are kept.
    const std::string& line = lines.line(n);
    std::int64_t v = 0;
    if (parse_int_field(field_at(line, 0, 12), v)) {
      J = v;
      if (parse_int_field(field_at(line, 14, 8), v)) level = v;
    }
    if (J == J_final) return static_cast<int>(level);
  }
  throw ParameterError("cant find J_final -> check file point.txt", true, false);
}

void restore_snapshot(const RestoreInput& in, FieldState& f, MediumState& m) {
  const int level = find_level_index(in.results_dir + "point.txt", in.J_final, f.Jtoggle);
  if (level != 0 && level != 1) {
    throw ParameterError("Level index of J_final in point.txt must be 0 or 1: " +
                         std::to_string(level));
  }
  f.Jtoggle = level;
  const CompressionReport unpacked = decompress_gz_files(in.continue_dir);
  if (!unpacked.failures.empty()) throw IoError(in.continue_dir, unpacked.failures.front());

  const std::string now = textio::step_label(in.J_final);
  const std::string before = textio::step_label(in.J_final - 1);
  const auto nw = static_cast<std::size_t>(level);
  const auto od = static_cast<std::size_t>(1 - level);
  const std::string& dir = in.continue_dir;
  const std::int32_t N = f.N;
  read_column(dir + "Ex_z" + now + ".dat", N, in.E0, f.Ex[nw]);
  read_column(dir + "Ex_z" + before + ".dat", N, in.E0, f.Ex[od]);
  read_column(dir + "Ey_z" + now + ".dat", N, in.E0, f.Ey[nw]);
  read_column(dir + "Ey_z" + before + ".dat", N, in.E0, f.Ey[od]);
  read_column(dir + "Hx_z" + now + ".dat", N, 1.0, f.Hx[nw]);
  read_column(dir + "Hx_z" + before + ".dat", N, 1.0, f.Hx[od]);
  read_column(dir + "Hy_z" + now + ".dat", N, 1.0, f.Hy[nw]);
  read_column(dir + "Hy_z" + before + ".dat", N, 1.0, f.Hy[od]);
  for (int n = 1; n <= 15; ++n) {
    const std::string stem = dir + "u" + std::to_string(n) + "_z";
    const auto offset = static_cast<std::size_t>(n - 1);
    read_column(stem + before + ".dat", N, 1.0, m.w[od], kStored, offset);
    read_column(stem + now + ".dat", N, 1.0, m.w[nw], kStored, offset);
  }

  const std::string gamma = dir + "gamma.dat";
  const textio::LineCursor lines = textio::LineCursor::from_text(textio::read_text_file(gamma));
  if (lines.size() < static_cast<std::size_t>(N)) {
    throw IoError(gamma, "\"" + gamma + "\" ends after " + std::to_string(lines.size()) +
                             " lines; " + std::to_string(N) + " cells are needed");
  }
  for (std::int32_t k = 1; k <= N; ++k) {
    const std::string& line = lines.line(static_cast<std::size_t>(k - 1));
    for (std::size_t q = 0; q < 4; ++q) {
      // (4(I1,1X)): one digit every two characters.
      std::int64_t flag = 0;
      if (!parse_int_field(field_at(line, 2 * q, 1), flag)) {
        throw IoError(gamma, line_message(gamma, k, "bad flag", line));
      }
      m.occ[static_cast<std::size_t>(k)][q] = static_cast<std::int32_t>(flag);
    }
  }
}

}  // namespace mps
