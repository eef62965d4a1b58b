#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/system.h"

namespace kel {
namespace {

TEST(SplitCommandLineTest, BlanksSeparateAndQuotesGroup) {
  using V = std::vector<std::string>;
  const struct {
    const char* line;
    V words;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"C:\\CMD.EXE /C VOPRUN AJUDA\\X.HTM", {"C:\\CMD.EXE", "/C", "VOPRUN", "AJUDA\\X.HTM"}},
      {"  a \t b  ", {"a", "b"}},
      {"\"C:\\Program Files\\cmd.exe\" /C x", {"C:\\Program Files\\cmd.exe", "/C", "x"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\" x", {"", "x"}},
      // Shell characters are plain text: nothing interprets them.
      {"a;rm -rf $HOME|b", {"a;rm", "-rf", "$HOME|b"}},
      {"\"unterminated quote", {"unterminated quote"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

TEST(RunCommandLineTest, WaitsForTheProgramAndGivesItsExitCode) {
  char templ[] = "/tmp/kel-process-XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  const std::string dir = templ;
  // The program ends after writing a file: the call returns only then.
  EXPECT_EQ(RunCommandLine("sh -c \"sleep 0.1; echo done > " + dir + "/out; exit 7\""), 7);
  std::string out;
  ASSERT_TRUE(ReadWholeFile(dir + "/out", &out));
  EXPECT_EQ(out, "done\n");
  // Its output goes nowhere near the screen.
  EXPECT_EQ(RunCommandLine("/bin/echo visible?"), 0);
  // A ";" is not a command separator: echo gets it as part of a word.
  EXPECT_EQ(RunCommandLine("/bin/echo a;touch " + dir + "/injected"), 0);
  EXPECT_FALSE(FileExists(dir + "/injected"));
  // Not started at all.
  EXPECT_EQ(RunCommandLine(""), -1);
  EXPECT_EQ(RunCommandLine(" /C VOPRUN AJUDA\\X.HTM"), -1);
  EXPECT_EQ(RunCommandLine("no-such-program-of-kel"), -1);
  EXPECT_EQ(RunCommandLine(dir + "/missing"), -1);
  // Ended by a signal.
  EXPECT_EQ(RunCommandLine("sh -c \"kill -9 $$\""), -1);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace kel
