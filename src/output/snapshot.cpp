#include "output/snapshot.hpp"

#include <array>
#include <cmath>
#include <span>
#include <vector>

#include "output/result_files.hpp"
#include "textio/fortran_format.hpp"
#include "textio/text_file.hpp"

namespace mps {

using textio::OutputFile;

namespace {

// The manifest entry of a closed file: its name without folder and ".gz".
void record(ManifestSink& manifest, const OutputFile& file) {
  manifest.add({result_files::uncompressed(result_files::file_name(file.path())), file.bytes(),
                file.crc32()});
}

// A column file filled cell by cell: values are formatted into a buffer that
// goes to the file in large pieces.
class ColumnFile {
 public:
  ColumnFile(const std::string& path, textio::Storage storage, ManifestSink* manifest = nullptr)
      : file_(path, OutputFile::Mode::replace, storage), manifest_(manifest) {
    buffer_.reserve(kChunk + 64);
  }
  const std::string& path() const { return file_.path(); }
  void E23(double v) { textio::append_E23_12(buffer_, v), line_end(); }
  void E13(double v) { textio::append_E13_5(buffer_, v), line_end(); }
  void close() {
    file_.write(buffer_);
    buffer_.clear();
    file_.close();
    if (manifest_ != nullptr) record(*manifest_, file_);
  }

 private:
  static constexpr std::size_t kChunk = 1 << 16;
  void line_end() {
    buffer_ += '\n';
    if (buffer_.size() >= kChunk) {
      file_.write(buffer_);
      buffer_.clear();
    }
  }
  OutputFile file_;
  ManifestSink* manifest_;
  std::string buffer_;
};

// Whether "Ex_max.dat" is written: when the block's field maximum (the
// step's own when the block has no rows) is above the reference, which is
// the step's maximum at the block's first step and 0 after it.
bool field_maximum_written(const SnapshotInput& in, std::span<const double> max_buffer,
                           double step_maximum) {
  const std::int64_t d = in.J - in.Jb;
  const double reference = d == 1 ? step_maximum : 0.0;
  double block_maximum = step_maximum;
  if (d >= 1) {
    block_maximum = -1.0000000200408773e20;
    for (std::int64_t i = 1; i <= d; ++i) {
      const double a = max_buffer[static_cast<std::size_t>(i)];
      if (a > block_maximum) block_maximum = std::fabs(a);
    }
  }
  return block_maximum > reference;
}

void write_field_maximum(const SnapshotInput& in) {
  ColumnFile file(in.folder + result_files::kFieldMaximum, in.storage);
  const std::vector<double>& ex = in.field->Ex[static_cast<std::size_t>(in.field->new_level())];
  for (std::int32_t k = 1; k <= in.field->N; ++k) file.E23(ex[static_cast<std::size_t>(k)] / in.E0);
  file.close();
}

}  // namespace

std::string point_line(std::int64_t J, int Jtoggle) {
  std::string line = textio::step_label(J);
  line += "  ";
  textio::append_I(line, Jtoggle, 8, 8);
  line += "  ";
  textio::append_I(line, 1 - Jtoggle, 8, 8);
  line += '\n';
  return line;
}

namespace {

// "u7": the name of medium component k in the file names.
std::string component_name(int k) {
  std::string name("u");
  name += std::to_string(k);
  return name;
}

// The column files of a snapshot, in the order of the cell pass: for the
// new level (l = 0) then the old one (l = 1), Ex, Ey, Hx, Hy, u1..u15 (19
// each); then, at step 1, s13..s15 (with the new level).
std::vector<std::string> column_names(const SnapshotInput& in, std::size_t l) {
  std::vector<std::string> names;
  const std::int64_t J = l == 0 ? in.J : in.J - 1;
  for (const char* name : {"Ex", "Ey", "Hx", "Hy"})
    names.push_back(in.folder + result_files::column(name, J));
  for (int k = 1; k <= 15; ++k)
    names.push_back(in.folder + result_files::column(component_name(k), J));
  if (in.J == 1 && l == 0) {
    for (const char* name : {"s13", "s14", "s15"})
      names.push_back(in.folder + result_files::column(name, J));
  }
  return names;
}

// One pass over the cells fills the column files of one level.
void write_level_columns(const SnapshotInput& in, std::size_t l) {
  const FieldState& f = *in.field;
  const MediumState& m = *in.medium;
  const bool first_step = in.J == 1;
  const auto level = static_cast<std::size_t>(l == 0 ? f.new_level() : f.old_level());
  std::vector<ColumnFile> col;
  col.reserve(22);
  for (const std::string& name : column_names(in, l)) {
    col.emplace_back(name, in.storage, in.manifest.get());
  }
  for (std::int32_t k = 1; k <= f.N; ++k) {
    const auto c = static_cast<std::size_t>(k);
    col[0].E23(f.Ex[level][c] / in.E0);
    col[1].E23(f.Ey[level][c] / in.E0);
    col[2].E23(f.Hx[level][c]);
    col[3].E23(f.Hy[level][c]);
    const std::array<double, kStored> w = m.w_at(static_cast<int>(level), k);
    for (std::size_t n = 0; n < 15; ++n) {
      // At step 1 the physical u13..u15 go to the s files instead.
      if (first_step && l == 0 && n >= 12) continue;
      col[4 + n].E23(w[n]);
    }
    if (first_step && l == 0) {
      const Diagonal u = m.physical(f.new_level(), k);
      col[19].E13(u.u13);
      col[20].E13(u.u14);
      col[21].E13(u.u15);
    }
  }
  for (ColumnFile& file : col) file.close();
}

// "gamma.dat": the four flags of every cell, written in pieces (a long
// grid's text is megabytes).
void write_flags(const SnapshotInput& in) {
  constexpr std::size_t kPiece = 1 << 16;
  const MediumState& m = *in.medium;
  textio::OutputFile file(in.folder + result_files::kFlags, textio::OutputFile::Mode::replace,
                          in.storage);
  std::string gamma;
  gamma.reserve(kPiece + 64);
  for (std::int32_t k = 1; k <= in.field->N; ++k) {
    for (const std::int32_t flag : m.flags(k)) {
      textio::append_I(gamma, flag, 1);
      gamma += ' ';
    }
    gamma += '\n';
    if (gamma.size() >= kPiece) {
      file.write(gamma);
      gamma.clear();
    }
  }
  file.write(gamma);
  file.close();
  record(*in.manifest, file);
}

// "stmp<J>.dat": J, the level indices and the 15 decay factors.
void write_stamp(const SnapshotInput& in) {
  const FieldState& f = *in.field;
  std::string stamp;
  for (const std::int64_t v :
       {in.J, static_cast<std::int64_t>(f.Jtoggle), static_cast<std::int64_t>(1 - f.Jtoggle)}) {
    stamp += textio::step_label(v);
    stamp += ' ';
  }
  for (std::size_t k = 1; k <= 15; ++k) textio::append_E23_12(stamp, in.decay->now[k]);
  stamp += '\n';
  textio::write_text_file(in.folder + result_files::stamp(in.J), stamp, in.storage);
}

}  // namespace

FileTasks snapshot_tasks(const SnapshotInput& in, std::span<const double> max_buffer,
                         double step_maximum) {
  FileTasks t;
  auto add = [&](const std::string& path, std::function<void()> task) {
    t.paths.push_back(textio::stored_path(path, in.storage));
    t.tasks.push_back(std::move(task));
  };
  if (field_maximum_written(in, max_buffer, step_maximum)) {
    add(in.folder + result_files::kFieldMaximum, [in] { write_field_maximum(in); });
  }
  for (std::size_t l = 0; l < 2; ++l) {
    t.tasks.emplace_back([in, l] { write_level_columns(in, l); });
    for (const std::string& name : column_names(in, l)) {
      t.paths.push_back(textio::stored_path(name, in.storage));
    }
  }
  add(in.folder + result_files::kFlags, [in] { write_flags(in); });
  add(in.folder + result_files::stamp(in.J), [in] { write_stamp(in); });
  return t;
}

void write_manifest(const std::string& folder, std::int64_t J, int Jtoggle,
                    std::vector<ManifestEntry> files, std::vector<RunValue> run) {
  textio::write_text_file(folder + result_files::manifest(J),
                          manifest_text({J, Jtoggle, std::move(files), std::move(run)}));
}

void record_snapshot(const std::string& folder, std::int64_t J, int Jtoggle) {
  textio::append_text_file_durably(folder + result_files::kPoints, point_line(J, Jtoggle));
}

}  // namespace mps
