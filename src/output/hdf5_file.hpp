#pragma once
// HDF5 files of the results, through the library's C interface: a writer
// that makes one file under a hidden temporary name and renames it into
// place once it is complete, and a reader for a continued run.
//
// One thread at a time uses the library here (the dimension-scale calls
// are not thread-safe even where the library is): a Writer or Reader holds
// a process-wide lock (one thread may hold several files) from construction
// to destruction, so output threads
// write their HDF5 files one after the other.  Data sets are chunked,
// shuffled, deflated (level 1) and carry a Fletcher-32 checksum.
#include <hdf5.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mps::h5 {

// One data set: its name in the group, its shape (one or two axes), the
// dimension scales of the group attached to its axes (nullptr: none), and
// the attributes every data set has.
struct Dataset {
  const char* name = "";
  std::array<std::size_t, 2> shape{0, 0};  // shape[1] == 0: one axis
  const char* units = "1";
  const char* long_name = "";
  std::array<const char*, 2> dims{nullptr, nullptr};
  const char* coordinates = nullptr;  // auxiliary coordinates, blank-separated
};

// A fresh temporary name beside a target (textio::temporary_name).
using TemporaryNames = std::string (*)(const std::string& target);

class Writer {
 public:
  // Creates the temporary file of `path` under a name from `names`,
  // exclusively (never through a link planted there: another name is taken
  // then); nothing is at `path` until commit().
  explicit Writer(std::string path, TemporaryNames names = nullptr);
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  // Removes the temporary file when commit() was not reached.
  ~Writer();

  hid_t root() const { return file_; }
  hid_t group(const char* name);  // created; open until commit()

  void attribute(hid_t where, const char* name, double value);
  void attribute(hid_t where, const char* name, std::int64_t value);
  void attribute(hid_t where, const char* name, std::string_view value);

  // A data set of doubles, 64-bit or 8-bit integers, row-major; returns it
  // (open until commit()) for more attributes.
  hid_t write(hid_t group, const Dataset& d, const double* values);
  hid_t write(hid_t group, const Dataset& d, const std::int64_t* values);
  hid_t write(hid_t group, const Dataset& d, const std::int8_t* values);
  // A one-axis data set made a dimension scale of the group (named as it is).
  void scale(hid_t group, const Dataset& d, std::span<const double> values);

  // Closes the file and renames it into place.
  void commit();
  const std::string& path() const { return path_; }

 private:
  hid_t write_typed(hid_t group, const Dataset& d, hid_t type, const void* values);
  hid_t keep(hid_t id, const char* what);
  herr_t close_all() noexcept;  // the file's close status

  std::unique_lock<std::recursive_mutex> lock_;
  std::string path_, part_;
  hid_t file_ = -1;
  std::vector<hid_t> groups_, datasets_;
  bool committed_ = false;
};

// The shape a data set must have: shape[1] == 0 for one axis.
using Shape = std::array<std::size_t, 2>;

// A file the program wrote, read back.  Only what the program writes is
// taken: a regular file (checked before the library opens it, so a FIFO
// cannot block it), objects reached through hard links only (no soft or
// external link, so no loop and no other file), scalar attributes and data
// sets of the class and shape the caller knows from the run.  Anything
// else is an IoError naming the file and the object.
class Reader {
 public:
  explicit Reader(std::string path);
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader();

  bool has(const char* name) const;            // a data set or group of that path
  bool has_attribute(const char* name) const;  // of the root
  // Scalar attributes of the root: an integer, a real, a short text.
  std::int64_t int_attribute(const char* name) const;
  double real_attribute(const char* name) const;
  std::string text_attribute(const char* name) const;
  // The data set `name` ("/group/set") of that shape: real numbers,
  // integers or 8-bit integers.
  std::vector<double> doubles(const char* name, Shape shape) const;
  std::vector<double> doubles(const char* name, std::size_t count) const {
    return doubles(name, Shape{count, 0});
  }
  std::vector<std::int64_t> integers(const char* name, Shape shape) const;
  std::vector<std::int8_t> bytes(const char* name, Shape shape) const;
  const std::string& path() const { return path_; }

 private:
  hid_t open_attribute(const char* name, H5T_class_t kind, const char* what) const;
  void read(const char* name, hid_t type, Shape shape, void* out) const;
  [[noreturn]] void refuse(const std::string& object, const std::string& what) const;
  std::unique_lock<std::recursive_mutex> lock_;
  std::string path_;
  hid_t file_ = -1;
};

}  // namespace mps::h5
