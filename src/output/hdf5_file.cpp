#include "output/hdf5_file.hpp"

#include <hdf5_hl.h>

#include <algorithm>
#include <cstdio>

#include "core/errors.hpp"
#include "textio/gzip.hpp"

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

Writer::Writer(std::string path)
    : lock_(lock_library()), path_(std::move(path)), part_(textio::temporary_name(path_)) {
  file_ = H5Fcreate(part_.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  if (file_ < 0) fail(path_, "create the file");
}

Writer::~Writer() {
  if (committed_) return;
  close_all();
  std::remove(part_.c_str());
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

Reader::Reader(std::string path) : lock_(lock_library()), path_(std::move(path)) {
  file_ = H5Fopen(path_.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  if (file_ < 0) fail(path_, "open the file");
}

Reader::~Reader() {
  if (file_ >= 0) H5Fclose(file_);
}

bool Reader::has(const char* name) const { return H5LTpath_valid(file_, name, 1) > 0; }

std::int64_t Reader::int_attribute(const char* name) const {
  std::int64_t value = 0;
  const hid_t attr = H5Aopen(file_, name, H5P_DEFAULT);
  const herr_t status = attr < 0 ? -1 : H5Aread(attr, H5T_NATIVE_INT64, &value);
  if (attr >= 0) H5Aclose(attr);
  if (status < 0) fail(path_, std::string("read the attribute ") + name);
  return value;
}

void Reader::read(const char* name, hid_t type, std::size_t count, void* out) const {
  const hid_t set = H5Dopen2(file_, name, H5P_DEFAULT);
  if (set < 0) fail(path_, std::string("find the data set ") + name);
  const hid_t space = H5Dget_space(set);
  const hssize_t n = space < 0 ? -1 : H5Sget_simple_extent_npoints(space);
  if (space >= 0) H5Sclose(space);
  // The library checks each chunk's Fletcher-32 sum as it reads it.
  const herr_t status = n != static_cast<hssize_t>(count)
                            ? -1
                            : H5Dread(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, out);
  H5Dclose(set);
  if (n != static_cast<hssize_t>(count)) {
    throw IoError(path_, "\"" + path_ + "\": " + name + " holds " + std::to_string(n) +
                             " values, " + std::to_string(count) + " are needed");
  }
  if (status < 0) fail(path_, std::string("read the data set ") + name + " (damaged?)");
}

std::vector<double> Reader::doubles(const char* name, std::size_t count) const {
  std::vector<double> v(count);
  read(name, H5T_NATIVE_DOUBLE, count, v.data());
  return v;
}

std::vector<std::int8_t> Reader::bytes(const char* name, std::size_t count) const {
  std::vector<std::int8_t> v(count);
  read(name, H5T_NATIVE_INT8, count, v.data());
  return v;
}

}  // namespace mps::h5
