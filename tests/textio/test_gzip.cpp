// Files read into memory, decompressed when they are gzip streams: the
// content must come out whole, a damaged or cut-short stream must never pass
// for a shorter file, the size cap must hold however well the data
// compresses, and nothing may be written beside the file.  Files written
// compressed: whole under their name, or not there at all; unpacked: the
// same.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "core/errors.hpp"
#include "support/scratch_dir.hpp"
#include "textio/gzip.hpp"
#include "textio/text_file.hpp"

namespace mps::testing {
namespace {

// One gzip member holding `text`.
std::string gzip_member(const std::string& text) {
  z_stream z{};
  EXPECT_EQ(::deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(::deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  ::deflateEnd(&z);
  return out;
}

// A column of numbered lines, larger than the reader's buffers.
std::string numbered_lines(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "     0." + std::to_string(100000 + i) + "E+01\n";
  return text;
}

// The message of a read expected to fail, after checking it names `path`.
template <typename Read>
std::string failure(Read read, const std::string& path) {
  try {
    read();
  } catch (const IoError& e) {
    EXPECT_EQ(e.path(), path);
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    return e.what();
  }
  ADD_FAILURE() << "reading " << path << " did not fail";
  return "";
}

constexpr std::size_t kLarge = std::size_t{1} << 24;

TEST(CompressedOutput, WrittenInPiecesReadsBackWholeUnderItsName) {
  ScratchDir dir;
  const std::string text = numbered_lines(50000);
  {
    textio::OutputFile file(dir.file("a.dat"), textio::OutputFile::Mode::replace,
                            textio::Storage::gzip);
    EXPECT_EQ(file.path(), dir.file("a.dat.gz"));
    for (std::size_t at = 0; at < text.size(); at += 65536) file.write(text.substr(at, 65536));
    // Until it is closed, only the hidden temporary file exists.
    const std::set<std::string> during = files_in(dir.path());
    ASSERT_EQ(during.size(), 1U);
    EXPECT_TRUE(during.begin()->starts_with(".a.dat.gz.") && during.begin()->ends_with(".part"))
        << *during.begin();
    file.close();
    // The checksum a manifest records is zlib's CRC-32 of the content.
    EXPECT_EQ(file.crc32(), ::crc32_z(0, reinterpret_cast<const Bytef*>(text.data()), text.size()));
  }
  ASSERT_GT(text.size(), 2 * textio::OutputFile::kMemberBytes);  // several gzip members
  EXPECT_EQ(files_in(dir.path()), (std::set<std::string>{"a.dat.gz"}));
  EXPECT_EQ(dir.read_gz("a.dat.gz"), text);
  EXPECT_EQ(textio::read_gzip(dir.file("a.dat.gz"), text.size()), text);
  // A second file of the name replaces the first; an empty one is an empty stream.
  EXPECT_EQ(textio::write_text_file(dir.file("a.dat"), "", textio::Storage::gzip),
            dir.file("a.dat.gz"));
  EXPECT_EQ(dir.read_gz("a.dat.gz"), "");
  EXPECT_EQ(textio::write_text_file(dir.file("b.dat"), "x\n"), dir.file("b.dat"));
  EXPECT_EQ(dir.read("b.dat"), "x\n");
}

TEST(CompressedOutput, AFileNotClosedOrNotPlaceableLeavesNothing) {
  ScratchDir dir;
  dir.write("a.dat.gz", "the earlier file");
  {  // an exception on its way: the file is dropped, the earlier one stays
    textio::OutputFile file(dir.file("a.dat"), textio::OutputFile::Mode::replace,
                            textio::Storage::gzip);
    file.write("half of it");
  }
  EXPECT_EQ(files_in(dir.path()), (std::set<std::string>{"a.dat.gz"}));
  EXPECT_EQ(dir.read("a.dat.gz"), "the earlier file");
  // The name is taken by a folder: the error names the file, nothing is left.
  dir.make_dir("b.dat.gz");
  try {
    textio::write_text_file(dir.file("b.dat"), "text", textio::Storage::gzip);
    FAIL() << "no error";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.file("b.dat.gz")), std::string::npos) << e.what();
  }
  EXPECT_EQ(files_in(dir.path()), (std::set<std::string>{"a.dat.gz", "b.dat.gz"}));
  // A compressed file cannot be appended to.
  EXPECT_THROW(textio::OutputFile(dir.file("c.dat"), textio::OutputFile::Mode::append,
                                  textio::Storage::gzip),
               IoError);
}

// A gzip file unpacked in place (as the system's gzip packs it): its content
// replaces a plain file of that name and the stream goes.  A stream cut
// short or no gzip at all is an error naming it; both files stay as they
// were and no temporary is left.
TEST(GzipFiles, UnpackedInPlaceOrLeftAsTheyWere) {
  ScratchDir dir;
  const std::string text = numbered_lines(3000);
  dir.write("a.dat", text);
  ASSERT_EQ(std::system(("gzip -f '" + dir.file("a.dat") + "'").c_str()), 0);
  dir.write("a.dat", "stale\n");
  textio::gunzip_file(dir.file("a.dat.gz"), dir.file("a.dat"));
  EXPECT_EQ(dir.read("a.dat"), text);

  const std::string whole = gzip_member(text);
  dir.write("c.dat.gz", whole.substr(0, whole.size() / 2));
  dir.write("d.dat.gz", text);
  for (const std::string name : {"c.dat", "d.dat"}) {
    const std::string gz = dir.file(name + ".gz");
    const std::string packed = dir.read(name + ".gz");
    dir.write(name, "kept\n");
    try {
      textio::gunzip_file(gz, dir.file(name));
      ADD_FAILURE() << gz << " was unpacked";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find(gz), std::string::npos) << e.what();
    }
    EXPECT_EQ(dir.read(name), "kept\n");
    EXPECT_EQ(dir.read(name + ".gz"), packed);
  }
  EXPECT_EQ(files_in(dir.path()),
            (std::set<std::string>{"a.dat", "c.dat", "c.dat.gz", "d.dat", "d.dat.gz"}));
}

TEST(GzipReading, PlainAndCompressedFilesGiveTheSameText) {
  ScratchDir dir;
  const std::string text = numbered_lines(20000);
  dir.write("plain.dat", text);
  dir.write("packed.dat.gz", gzip_member(text));
  // Members one after the other, as `cat a.gz b.gz` makes them.
  dir.write("two.gz", gzip_member("first\n") + gzip_member("") + gzip_member("second\n"));
  dir.write("empty.dat", "");
  dir.write("empty-member.gz", gzip_member(""));
  dir.write("one.dat", "\x1f");
  const auto before = files_in(dir.path());

  EXPECT_EQ(textio::read_maybe_gzip(dir.file("plain.dat"), kLarge), text);
  EXPECT_EQ(textio::read_maybe_gzip(dir.file("packed.dat.gz"), kLarge), text);
  EXPECT_EQ(textio::read_gzip(dir.file("packed.dat.gz"), kLarge), text);
  EXPECT_EQ(textio::read_gzip(dir.file("two.gz"), kLarge), "first\nsecond\n");
  EXPECT_EQ(textio::read_maybe_gzip(dir.file("empty.dat"), kLarge), "");
  EXPECT_EQ(textio::read_gzip(dir.file("empty-member.gz"), kLarge), "");
  // A one-byte file is too short to be taken for a gzip header.
  EXPECT_EQ(textio::read_maybe_gzip(dir.file("one.dat"), kLarge), "\x1f");
  EXPECT_EQ(files_in(dir.path()), before);
}

TEST(GzipReading, StreamsThatAreNotSoundGzipAreErrorsNamingTheFile) {
  ScratchDir dir;
  const std::string packed = gzip_member(numbered_lines(2000));
  std::string flipped = packed;
  flipped[packed.size() / 2] = static_cast<char>(flipped[packed.size() / 2] ^ 0x55);
  const std::map<std::string, std::string> bad = {
      {"empty.gz", ""},
      {"plain.gz", "     0.100000000000E+01\n"},
      {"header-only.gz", packed.substr(0, 10)},
      {"cut-short.gz", packed.substr(0, packed.size() / 2)},
      {"no-trailer.gz", packed.substr(0, packed.size() - 8)},  // length and CRC lost
      {"bad-crc.gz", packed.substr(0, packed.size() - 8) + std::string(8, '\0')},
      {"trailing-garbage.gz", packed + "garbage"},
      {"flipped.gz", flipped},
  };
  for (const auto& [name, bytes] : bad) dir.write(name, bytes);
  const auto before = files_in(dir.path());

  for (const auto& [name, bytes] : bad) {
    const std::string path = dir.file(name);
    const std::string message = failure([&] { textio::read_gzip(path, kLarge); }, path);
    if (name == "empty.gz" || name == "plain.gz") {  // read as plain text when it may be
      EXPECT_NE(message.find("not a gzip stream"), std::string::npos) << message;
    } else {
      failure([&] { textio::read_maybe_gzip(path, kLarge); }, path);
    }
  }
  const std::string missing = dir.file("missing.gz");
  failure([&] { textio::read_maybe_gzip(missing, kLarge); }, missing);
  EXPECT_EQ(files_in(dir.path()), before);
}

TEST(GzipReading, ContentBeyondTheCapIsRefusedHoweverWellItCompresses) {
  ScratchDir dir;
  const std::string text = numbered_lines(100);
  dir.write("plain.dat", text);
  dir.write("packed.gz", gzip_member(text));
  // 16 MB of zeros in about 16 KB: read whole it would cost the memory.
  dir.write("bomb.gz", gzip_member(std::string(std::size_t{16} << 20, '\0')));

  // Up to the cap exactly, the content is read.
  EXPECT_EQ(textio::read_maybe_gzip(dir.file("plain.dat"), text.size()), text);
  EXPECT_EQ(textio::read_gzip(dir.file("packed.gz"), text.size()), text);
  for (const std::string name : {"plain.dat", "packed.gz"}) {
    const std::string path = dir.file(name);
    const std::string message =
        failure([&] { textio::read_maybe_gzip(path, text.size() - 1); }, path);
    EXPECT_NE(message.find("too large"), std::string::npos) << message;
  }
  const std::string bomb = dir.file("bomb.gz");
  EXPECT_NE(failure([&] { textio::read_gzip(bomb, 1 << 20); }, bomb).find("too large"),
            std::string::npos);
  EXPECT_EQ(files_in(dir.path()), (std::set<std::string>{"bomb.gz", "packed.gz", "plain.dat"}));
}

}  // namespace
}  // namespace mps::testing
