#include "output/hdf5_file.hpp"

#include <fcntl.h>
#include <hdf5_hl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/errors.hpp"
#include "textio/gzip.hpp"
#include "textio/text_file.hpp"

namespace mps::h5 {

namespace {

std::recursive_mutex& library_lock() {
  static std::recursive_mutex m;
  return m;
}

// The library's own error printing is off: a failure becomes an IoError
// naming the file and what was being done.
std::unique_lock<std::recursive_mutex> lock_library() {
  std::unique_lock<std::recursive_mutex> lock(library_lock());
  static const bool quiet = [] {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    return true;
  }();
  (void)quiet;
  return lock;
}

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw IoError(path, "HDF5: cannot " + what + " in \"" + path + "\"");
}

// Elements per chunk, at most: 512 KB of doubles.
constexpr hsize_t kChunkElements = hsize_t{1} << 16;

// Creation properties of a data set: chunks of whole rows (as many as fit
// kChunkElements), shuffle, deflate at level 1 and Fletcher-32.  An empty
// data set is stored contiguous, without filters.
hid_t creation_properties(int rank, const hsize_t* dims) {
  const hid_t plist = H5Pcreate(H5P_DATASET_CREATE);
  if (plist < 0) return plist;
  const hsize_t elements = rank == 1 ? dims[0] : dims[0] * dims[1];
  if (elements == 0) return plist;
  std::array<hsize_t, 2> chunk{};
  if (rank == 1) {
    chunk[0] = std::min(dims[0], kChunkElements);
  } else {
    chunk[1] = std::min(dims[1], kChunkElements);
    chunk[0] = std::clamp<hsize_t>(kChunkElements / chunk[1], 1, dims[0]);
  }
  if (H5Pset_chunk(plist, rank, chunk.data()) < 0 || H5Pset_fletcher32(plist) < 0 ||
      H5Pset_shuffle(plist) < 0 || H5Pset_deflate(plist, 1) < 0) {
    H5Pclose(plist);
    return -1;
  }
  return plist;
}

// A variable-length UTF-8 string type (read back as text by every reader).
hid_t string_type() {
  const hid_t t = H5Tcopy(H5T_C_S1);
  H5Tset_size(t, H5T_VARIABLE);
  H5Tset_cset(t, H5T_CSET_UTF8);
  return t;
}

herr_t put_attribute(hid_t where, const char* name, hid_t type, const void* value) {
  const hid_t space = H5Screate(H5S_SCALAR);
  const hid_t attr = H5Acreate2(where, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
  herr_t status = attr < 0 ? -1 : H5Awrite(attr, type, value);
  if (attr >= 0) H5Aclose(attr);
  H5Sclose(space);
  return status;
}

}  // namespace

Writer::Writer(std::string path, TemporaryNames names)
    : lock_(lock_library()), path_(std::move(path)) {
  if (names == nullptr) names = textio::temporary_name;
  // Created exclusively (O_CREAT | O_EXCL): a link planted at the name is
  // not followed, and its target not truncated.  Something at the name
  // (a fresh random one) is passed over for another.
  constexpr int kTries = 16;
  for (int attempt = 0; attempt < kTries && file_ < 0; ++attempt) {
    part_ = names(path_);
    file_ = H5Fcreate(part_.c_str(), H5F_ACC_EXCL, H5P_DEFAULT, H5P_DEFAULT);
    struct stat st {};
    if (file_ < 0 && ::lstat(part_.c_str(), &st) != 0) break;
  }
  if (file_ < 0) {
    part_.clear();  // nothing of ours to remove
    fail(path_, "create the file");
  }
}

Writer::~Writer() {
  if (committed_) return;
  close_all();
  if (!part_.empty()) std::remove(part_.c_str());
}

herr_t Writer::close_all() noexcept {
  for (const hid_t d : datasets_) H5Dclose(d);
  for (const hid_t g : groups_) H5Gclose(g);
  datasets_.clear();
  groups_.clear();
  const herr_t closed = file_ >= 0 ? H5Fclose(file_) : 0;
  file_ = -1;
  return closed;
}

hid_t Writer::keep(hid_t id, const char* what) {
  if (id < 0) fail(path_, what);
  return id;
}

hid_t Writer::group(const char* name) {
  const hid_t g =
      keep(H5Gcreate2(file_, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), "create a group");
  groups_.push_back(g);
  return g;
}

void Writer::attribute(hid_t where, const char* name, double value) {
  if (put_attribute(where, name, H5T_NATIVE_DOUBLE, &value) < 0) fail(path_, "write an attribute");
}

void Writer::attribute(hid_t where, const char* name, std::int64_t value) {
  if (put_attribute(where, name, H5T_NATIVE_INT64, &value) < 0) fail(path_, "write an attribute");
}

void Writer::attribute(hid_t where, const char* name, std::string_view value) {
  const std::string text(value);
  const char* pointer = text.c_str();
  const hid_t type = string_type();
  const herr_t status = put_attribute(where, name, type, &pointer);
  H5Tclose(type);
  if (status < 0) fail(path_, "write an attribute");
}

hid_t Writer::write_typed(hid_t group, const Dataset& d, hid_t type, const void* values) {
  const int rank = d.shape[1] == 0 ? 1 : 2;
  const std::array<hsize_t, 2> dims{d.shape[0], d.shape[1]};
  const hid_t space = H5Screate_simple(rank, dims.data(), nullptr);
  const hid_t plist = creation_properties(rank, dims.data());
  hid_t set = -1;
  if (space >= 0 && plist >= 0) {
    set = H5Dcreate2(group, d.name, type, space, H5P_DEFAULT, plist, H5P_DEFAULT);
  }
  const bool empty = dims[0] == 0 || (rank == 2 && dims[1] == 0);
  const herr_t status =
      set < 0 ? -1 : (empty ? 0 : H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values));
  if (plist >= 0) H5Pclose(plist);
  if (space >= 0) H5Sclose(space);
  if (set >= 0) datasets_.push_back(set);
  if (status < 0) fail(path_, std::string("write the data set ") + d.name);
  attribute(set, "units", d.units);
  attribute(set, "long_name", d.long_name);
  if (d.coordinates != nullptr) attribute(set, "coordinates", d.coordinates);
  for (unsigned axis = 0; axis < static_cast<unsigned>(rank); ++axis) {
    if (d.dims[axis] == nullptr) continue;
    const hid_t scale = H5Dopen2(group, d.dims[axis], H5P_DEFAULT);
    const herr_t attached = scale < 0 ? -1 : H5DSattach_scale(set, scale, axis);
    if (scale >= 0) H5Dclose(scale);
    if (attached < 0) fail(path_, std::string("attach the scale ") + d.dims[axis]);
  }
  return set;
}

hid_t Writer::write(hid_t group, const Dataset& d, const double* values) {
  return write_typed(group, d, H5T_NATIVE_DOUBLE, values);
}
hid_t Writer::write(hid_t group, const Dataset& d, const std::int64_t* values) {
  return write_typed(group, d, H5T_NATIVE_INT64, values);
}
hid_t Writer::write(hid_t group, const Dataset& d, const std::int8_t* values) {
  return write_typed(group, d, H5T_NATIVE_INT8, values);
}

void Writer::scale(hid_t group, const Dataset& d, std::span<const double> values) {
  Dataset one = d;
  one.shape = {values.size(), 0};
  one.dims = {nullptr, nullptr};
  const hid_t set = write(group, one, values.data());
  if (H5DSset_scale(set, d.name) < 0) fail(path_, std::string("make a scale of ") + d.name);
}

void Writer::commit() {
  if (close_all() < 0) fail(path_, "close the file");
  if (std::rename(part_.c_str(), path_.c_str()) != 0) fail(path_, "rename the finished file");
  committed_ = true;
}

namespace {

// Refuses anything but a regular file before the library opens it: a FIFO
// would block the open for ever, a device be read without end.  Opened
// without waiting, as the text files are.
void check_regular_file(const std::string& path) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
      ::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
    throw IoError(path, "\"" + path + "\" is a link to a missing file (an HDF5 snapshot)");
  }
  std::fclose(textio::open_regular_file(path));
}

std::string shape_text(int rank, const hsize_t* dims) {
  std::string text = "[";
  for (int a = 0; a < rank; ++a) {
    if (a > 0) text += " x ";
    text += std::to_string(dims[a]);
  }
  return text + "]";
}

// Closes an identifier of the library when it goes out of scope.
struct Handle {
  hid_t id;
  herr_t (*close)(hid_t);
  Handle(hid_t i, herr_t (*c)(hid_t)) : id(i), close(c) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (id >= 0) close(id);
  }
};

}  // namespace

Reader::Reader(std::string path) : lock_(lock_library()), path_(std::move(path)) {
  check_regular_file(path_);
  file_ = H5Fopen(path_.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  if (file_ < 0) fail(path_, "open the file");
}

Reader::~Reader() {
  if (file_ >= 0) H5Fclose(file_);
}

void Reader::refuse(const std::string& object, const std::string& what) const {
  throw IoError(path_,
                "\"" + path_ + "\": " + object + " " + what + " (not a file this program wrote)");
}

bool Reader::has(const char* name) const {
  // Link by link from the root: each must be a hard link (the program
  // makes no other), so no link loop is followed and no other file opened.
  const std::string path(name);
  for (std::size_t end = path.find('/', 1); true; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (H5Lexists(file_, part.c_str(), H5P_DEFAULT) <= 0) return false;
    H5L_info_t info{};
    if (H5Lget_info(file_, part.c_str(), &info, H5P_DEFAULT) < 0 || info.type != H5L_TYPE_HARD) {
      refuse(part, "is a soft or external link");
    }
    if (end == std::string::npos) return true;
  }
}

bool Reader::has_attribute(const char* name) const { return H5Aexists(file_, name) > 0; }

hid_t Reader::open_attribute(const char* name, H5T_class_t kind, const char* what) const {
  const std::string object = std::string("the attribute ") + name;
  if (H5Aexists(file_, name) <= 0) fail(path_, "find " + object);
  const hid_t attr = H5Aopen(file_, name, H5P_DEFAULT);
  if (attr < 0) fail(path_, "read " + object);
  const Handle type(H5Aget_type(attr), H5Tclose), space(H5Aget_space(attr), H5Sclose);
  const bool scalar = space.id >= 0 && H5Sget_simple_extent_type(space.id) == H5S_SCALAR;
  const bool right = type.id >= 0 && H5Tget_class(type.id) == kind;
  if (!scalar || !right) {
    H5Aclose(attr);
    refuse(object, std::string("is not ") + what);
  }
  return attr;
}

std::int64_t Reader::int_attribute(const char* name) const {
  std::int64_t value = 0;
  const Handle attr(open_attribute(name, H5T_INTEGER, "one integer"), H5Aclose);
  if (H5Aread(attr.id, H5T_NATIVE_INT64, &value) < 0) {
    fail(path_, std::string("read the attribute ") + name);
  }
  return value;
}

double Reader::real_attribute(const char* name) const {
  double value = 0.0;
  const Handle attr(open_attribute(name, H5T_FLOAT, "one real number"), H5Aclose);
  if (H5Aread(attr.id, H5T_NATIVE_DOUBLE, &value) < 0) {
    fail(path_, std::string("read the attribute ") + name);
  }
  return value;
}

std::string Reader::text_attribute(const char* name) const {
  // The program's texts are words: a longer one is not its own.
  constexpr std::size_t kMaxText = 256;
  const Handle attr(open_attribute(name, H5T_STRING, "one text"), H5Aclose);
  const Handle stored(H5Aget_type(attr.id), H5Tclose);
  const std::string object = std::string("the attribute ") + name;
  std::string text;
  if (H5Tis_variable_str(stored.id) > 0) {
    const Handle type(string_type(), H5Tclose);
    char* value = nullptr;
    if (H5Aread(attr.id, type.id, &value) < 0) fail(path_, "read " + object);
    if (value != nullptr) text = std::string(value, strnlen(value, kMaxText + 1));
    H5free_memory(value);
  } else {
    const std::size_t size = H5Tget_size(stored.id);
    if (size == 0 || size > kMaxText) refuse(object, "is not a short text");
    const Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
    std::vector<char> value(size + 1, '\0');
    if (H5Tset_size(type.id, size) < 0 || H5Aread(attr.id, type.id, value.data()) < 0) {
      fail(path_, "read " + object);
    }
    text = value.data();
  }
  if (text.size() > kMaxText) refuse(object, "is not a short text");
  return text;
}

void Reader::read(const char* name, hid_t type, Shape shape, void* out) const {
  const std::string object = std::string("the data set ") + name;
  if (!has(name)) fail(path_, "find " + object);
  const Handle set(H5Oopen(file_, name, H5P_DEFAULT), H5Oclose);
  if (set.id < 0) fail(path_, "open " + object);
  if (H5Iget_type(set.id) != H5I_DATASET) refuse(name, "is not a data set");
  const Handle stored(H5Dget_type(set.id), H5Tclose), space(H5Dget_space(set.id), H5Sclose);
  const H5T_class_t kind = H5Tget_class(stored.id);
  if (kind != H5Tget_class(type)) {
    refuse(object, kind == H5T_FLOAT     ? "holds real numbers, integers are needed"
                   : kind == H5T_INTEGER ? "holds integers, real numbers are needed"
                                         : "holds neither integers nor real numbers");
  }
  const int rank = shape[1] == 0 ? 1 : 2;
  const std::array<hsize_t, 2> want{shape[0], shape[1]};
  std::array<hsize_t, H5S_MAX_RANK> dims{};
  const int stored_rank = H5Sget_simple_extent_dims(space.id, dims.data(), nullptr);
  if (stored_rank != rank || dims[0] != want[0] || (rank == 2 && dims[1] != want[1])) {
    refuse(object, "has the shape " + shape_text(std::max(stored_rank, 0), dims.data()) + ", " +
                       shape_text(rank, want.data()) + " is needed");
  }
  if (shape[0] == 0 || (rank == 2 && shape[1] == 0)) return;
  // The library checks each chunk's Fletcher-32 sum as it reads it.
  if (H5Dread(set.id, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, out) < 0) {
    fail(path_, "read " + object + " (damaged?)");
  }
}

namespace {
std::size_t elements(Shape shape) { return shape[0] * std::max<std::size_t>(shape[1], 1); }
}  // namespace

std::vector<double> Reader::doubles(const char* name, Shape shape) const {
  std::vector<double> v(elements(shape));
  read(name, H5T_NATIVE_DOUBLE, shape, v.data());
  return v;
}

std::vector<std::int64_t> Reader::integers(const char* name, Shape shape) const {
  std::vector<std::int64_t> v(elements(shape));
  read(name, H5T_NATIVE_INT64, shape, v.data());
  return v;
}

std::vector<std::int8_t> Reader::bytes(const char* name, Shape shape) const {
  std::vector<std::int8_t> v(elements(shape));
  read(name, H5T_NATIVE_INT8, shape, v.data());
  return v;
}

}  // namespace mps::h5
