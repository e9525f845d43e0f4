// Result files in a folder others can write to: a link or a FIFO planted at
// the name of a result file, or at the name a temporary file once had, is
// never written through and never blocks; the file it points to stays as
// it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "core/errors.hpp"
#include "support/scratch_dir.hpp"
#include "textio/gzip.hpp"
#include "textio/text_file.hpp"

namespace mps::testing {
namespace {

constexpr const char* kPrecious = "someone else's data\n";

struct PlantedFolder {
  ScratchDir dir;
  PlantedFolder() { dir.write("victim", kPrecious); }
  void link(const std::string& name) const {
    ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file(name).c_str()), 0);
  }
  void fifo(const std::string& name) const { ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0600), 0); }
  bool victim_intact() const { return dir.read("victim") == kPrecious; }
};

TEST(PlantedNames, LinksAndFifosAtResultNamesAreRefusedNotWrittenThrough) {
  PlantedFolder f;
  f.link("param.txt");
  f.fifo("point.txt");
  for (const auto mode : {textio::OutputFile::Mode::replace, textio::OutputFile::Mode::append}) {
    EXPECT_THROW(textio::OutputFile(f.dir.file("param.txt"), mode), IoError);
    EXPECT_THROW(textio::OutputFile(f.dir.file("point.txt"), mode), IoError);  // no reader
  }
  // A FIFO with a reader opens at once; it is refused all the same.
  const int reader = ::open(f.dir.file("point.txt").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_THROW(textio::append_text_file(f.dir.file("point.txt"), "1\n"), IoError);
  ::close(reader);
  EXPECT_THROW(textio::gunzip_file(f.dir.file("point.txt"), f.dir.file("out")), IoError);
  EXPECT_TRUE(f.victim_intact());
  // A regular file is still replaced and appended to as before.
  textio::write_text_file(f.dir.file("a.txt"), "old and longer\n");
  textio::write_text_file(f.dir.file("a.txt"), "new\n");
  textio::append_text_file(f.dir.file("a.txt"), "more\n");
  EXPECT_EQ(f.dir.read("a.txt"), "new\nmore\n");
}

TEST(PlantedNames, TemporaryFilesAreFreshAndLinksAreReplacedNotFollowed) {
  PlantedFolder f;
  // The names temporary files had before: links there are left alone.
  f.link(".a.dat.gz.part");
  f.link(".summary.json.part");
  textio::write_text_file(f.dir.file("a.dat"), "column\n", textio::Storage::gzip);
  f.link("summary.json");
  textio::replace_file(f.dir.file("summary.json"), "{}\n");
  EXPECT_TRUE(f.victim_intact());
  EXPECT_EQ(f.dir.read_gz("a.dat.gz"), "column\n");
  struct stat st {};
  ASSERT_EQ(::lstat(f.dir.file("summary.json").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));  // the link itself was replaced
  EXPECT_EQ(f.dir.read("summary.json"), "{}\n");
  std::set<std::string> names;
  for (int i = 0; i < 100; ++i) names.insert(textio::temporary_name(f.dir.file("a.dat")));
  EXPECT_EQ(names.size(), 100U);
}

}  // namespace
}  // namespace mps::testing
