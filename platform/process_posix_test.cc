// Starting programs on POSIX (posix_spawn, no shell). Left out of the
// Windows build (process_win32_test.cc there).
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

TEST(RunCommandLineTest, WaitsForTheProgramAndGivesItsExitCode) {
  const std::string templ = MakeTestDirectory("kel-process");
  ASSERT_FALSE(templ.empty());
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
