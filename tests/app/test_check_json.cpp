// The JSON the program writes (--check --json, summary.json) parses whatever
// bytes a name or folder holds: text that is not UTF-8 and control
// characters are escaped, UTF-8 text is kept as it is.
#include <gtest/gtest.h>

#include <string>

#include "app/run_folder.hpp"
#include "textio/json.hpp"

namespace mps::testing {
namespace {

TEST(JsonText, QuotedTextIsValidUtf8WithControlsEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain \"q\" \\", R"("plain \"q\" \\")"},
      {"a\x01\n\x7F", R"("a\u0001\u000a\u007f")"},
      {"\xC2\x85", R"("\u0085")"},  // C1 control
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"caf\xE9", R"("caf\ufffd")"},                          // Latin-1
      {"\x80\xBF", R"("\ufffd\ufffd")"},                      // stray continuations
      {"\xC0\xAF", R"("\ufffd\ufffd")"},                      // overlong '/'
      {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},            // a surrogate
      {"\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // beyond U+10FFFF
      {"\xE2\x82", R"("\ufffd\ufffd")"},                      // cut short at the end
      {"\xE2\x82x", R"("\ufffd\ufffdx")"},                    // cut short by ASCII
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(json::quoted(text), json) << text;
}

// A Latin-1 folder and level name reach the --check --json report as U+FFFD.
TEST(JsonText, CheckJsonOfLatin1NamesIsValid) {
  ScratchDir dir;
  const std::string folder = "caf\xE9/";
  dir.make_dir(folder);
  for (const char* d : RunFolder::kFolders) dir.make_dir(folder + d);
  dir.write(folder + "execdata.txt", replace_line(short_quickstart(), 6, "tr\xE9ns_12 1.3 0"));
  const ProgramResult r = run_in(MPS_PROGRAM, dir.path(), {"--check", "--json", folder});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("caf\\ufffd/"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"tr\\ufffdns_12\""), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\xE9'), std::string::npos) << r.out;
}

}  // namespace
}  // namespace mps::testing
