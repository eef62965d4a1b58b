// The POSIX side of the file seam: the mapping of Windows paths (letter
// case, "\", drive letters) onto one tree, and the emulated share modes
// across a fork. Left out of the Windows build (system_win32_test.cc there).
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

class PosixFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-platform");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(PosixFileTest, BackslashesAndLetterCaseResolve) {
  ASSERT_TRUE(MakeDirectory(dir_ + "/Taules"));
  File f;
  ASSERT_EQ(
      OpenFile(dir_ + "\\Taules\\UPaisos.dat", FileAccess::kWriteTruncate, FileShare::kShared, &f),
      FileResult::kOk);
  f.Close();
  // Windows spelling in other letter case finds the existing file.
  EXPECT_EQ(MapPath(dir_ + "\\TAULES\\upaisos.DAT"), dir_ + "/Taules/UPaisos.dat");
  EXPECT_TRUE(FileExists(dir_ + "\\taules\\UPAISOS.dat"));
  // A missing last component keeps the case it was asked with.
  EXPECT_EQ(MapPath(dir_ + "\\TAULES\\NouFitxer.dat"), dir_ + "/Taules/NouFitxer.dat");
  // Code page 850 names become UTF-8 on disk and fold without regard to case.
  ASSERT_EQ(OpenFile(dir_ + "\\Fitx\x8A.txt", FileAccess::kWriteTruncate, FileShare::kShared, &f),
            FileResult::kOk);
  f.Close();
  EXPECT_EQ(MapPath(dir_ + "\\FITX\xD4.TXT"), dir_ + "/Fitxè.txt");
  EXPECT_EQ(MapPath("C:\\DATA\\X.dat"), "/DATA/X.dat");
  EXPECT_EQ(MapPath(""), "");
}

TEST_F(PosixFileTest, NotSharedOpenExcludesOthersInAndAcrossProcesses) {
  std::string path = dir_ + "\\LOCKS.TMP";
  File first;
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kNotShared, &first),
            FileResult::kOk);
  File second;
  EXPECT_EQ(OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kNotShared, &second),
            FileResult::kBusy);
  EXPECT_EQ(OpenFile(path, FileAccess::kRead, FileShare::kShared, &second), FileResult::kBusy);
  pid_t child = ::fork();
  if (child == 0) {
    File f;
    FileResult r = OpenFile(path, FileAccess::kReadWrite, FileShare::kNotShared, &f);
    ::_exit(r == FileResult::kBusy ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  first.Close();
  EXPECT_EQ(OpenFile(path, FileAccess::kReadWrite, FileShare::kNotShared, &second),
            FileResult::kOk);
}

}  // namespace
}  // namespace kel
