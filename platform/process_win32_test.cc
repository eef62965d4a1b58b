// Starting programs on Windows: the command line goes to CreateProcess as
// it is (the help launcher's "COMSPEC /C VOPRUN AJUDA\topic.HTM"), the call
// waits for the program and gives its exit code.
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

std::string Comspec() {
  const std::string comspec = SystemEnv().GetVariable("COMSPEC");
  return comspec.empty() ? std::string("cmd.exe") : comspec;
}

TEST(RunCommandLineWin32Test, WaitsForTheProgramAndGivesItsExitCode) {
  const std::string dir = MakeTestDirectory("kel-process");
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(RunCommandLine(Comspec() + " /C exit 7"), 7);
  // The program has ended when the call returns: its file is complete.
  EXPECT_EQ(RunCommandLine(Comspec() + " /C echo done>" + dir + "\\out"), 0);
  std::string out;
  ASSERT_TRUE(ReadWholeFile(dir + "\\out", &out));
  EXPECT_EQ(out, "done\r\n");
  // Not started at all: no program word (COMSPEC unset), no such program.
  EXPECT_EQ(RunCommandLine(""), -1);
  EXPECT_EQ(RunCommandLine(" /C VOPRUN AJUDA\\X.HTM"), -1);
  EXPECT_EQ(RunCommandLine("no-such-program-of-kel"), -1);
  EXPECT_EQ(RunCommandLine(dir + "\\missing.exe"), -1);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

TEST(RunCommandLineWin32Test, TheHelpLauncherRunsInTheCurrentFolder) {
  const std::string dir = MakeTestDirectory("kel-help");
  ASSERT_FALSE(dir.empty());
  // A stand-in for the installation's launcher: notes its argument.
  File f;
  ASSERT_EQ(OpenFile(dir + "\\VOPRUN.CMD", FileAccess::kWriteTruncate, FileShare::kShared, &f),
            FileResult::kOk);
  const std::string script = "@echo %1>VOPRUN.OUT\r\n";
  ASSERT_TRUE(f.WriteAt(0, script.data(), script.size()));
  f.Close();
  const std::string before = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(dir));
  EXPECT_EQ(RunCommandLine(Comspec() + " /C VOPRUN AJUDA\\TAVIRENO.HTM"), 0);
  std::string out;
  EXPECT_TRUE(ReadWholeFile(dir + "\\VOPRUN.OUT", &out));
  EXPECT_EQ(out, "AJUDA\\TAVIRENO.HTM\r\n");
  std::string system_before;
  ASSERT_TRUE(SystemPathOf(before, &system_before));
  ASSERT_TRUE(ChangeDirectory(system_before));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace kel
