#include "platform/system.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/file_lock.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

class TempDirTest : public ::testing::Test {
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

TEST_F(TempDirTest, SharedOpensCoexistButBlockNotShared) {
  std::string path = dir_ + "\\Nuri.ini";
  File a, b, c;
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kShared, &a), FileResult::kOk);
  EXPECT_EQ(OpenFile(path, FileAccess::kRead, FileShare::kShared, &b), FileResult::kOk);
  EXPECT_EQ(OpenFile(path, FileAccess::kRead, FileShare::kNotShared, &c), FileResult::kBusy);
  EXPECT_EQ(OpenFile(dir_ + "\\missing", FileAccess::kRead, FileShare::kShared, &c),
            FileResult::kNotFound);
  EXPECT_EQ(OpenFile(dir_ + "\\nodir\\x", FileAccess::kReadWriteCreate, FileShare::kShared, &c),
            FileResult::kNotFound);
}

TEST_F(TempDirTest, ReadWriteAppendAndRename) {
  std::string path = dir_ + "\\db.log";
  File f;
  ASSERT_EQ(OpenFile(path, FileAccess::kAppend, FileShare::kShared, &f), FileResult::kOk);
  ASSERT_TRUE(f.Append("one\r\n"));
  ASSERT_TRUE(f.WriteAt(0, "two\r\n", 5));  // append mode ignores the offset
  f.Close();
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ(bytes, "one\r\ntwo\r\n");
  ASSERT_TRUE(RenameFile(path, dir_ + "\\old.log"));
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(DeleteFile(dir_ + "\\OLD.LOG"));
  EXPECT_FALSE(DeleteFile(dir_ + "\\old.log"));
}

// Each way into OpenFile: the name as written, the name in another letter
// case (found, never created beside it), a missing file, a folder.
TEST_F(TempDirTest, OpensFindTheFileWhateverTheCaseAndNeverOpenAFolder) {
  File f;
  ASSERT_EQ(OpenFile(dir_ + "\\db.log", FileAccess::kAppend, FileShare::kShared, &f),
            FileResult::kOk);
  ASSERT_TRUE(f.Append("1\r\n"));
  f.Close();
  for (const char* name : {"\\db.log", "\\DB.LOG", "\\Db.Log"}) {
    ASSERT_EQ(OpenFile(dir_ + name, FileAccess::kAppend, FileShare::kShared, &f), FileResult::kOk)
        << name;
    ASSERT_TRUE(f.Append("2\r\n"));
    f.Close();
  }
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(dir_ + "\\db.log", &bytes));
  EXPECT_EQ(bytes, "1\r\n2\r\n2\r\n2\r\n");
  int logs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    logs += entry.is_regular_file();
  EXPECT_EQ(logs, 1);
  // A file truncated through another case is the same file.
  ASSERT_EQ(OpenFile(dir_ + "\\DB.log", FileAccess::kWriteTruncate, FileShare::kShared, &f),
            FileResult::kOk);
  f.Close();
  ASSERT_TRUE(ReadWholeFile(dir_ + "\\db.log", &bytes));
  EXPECT_EQ(bytes, "");

  ASSERT_TRUE(MakeDirectory(dir_ + "/Carpeta"));
  EXPECT_EQ(OpenFile(dir_ + "\\carpeta", FileAccess::kRead, FileShare::kShared, &f),
            FileResult::kDenied);
  EXPECT_EQ(OpenFile(dir_ + "\\Carpeta", FileAccess::kRead, FileShare::kShared, &f),
            FileResult::kDenied);
  EXPECT_NE(OpenFile(dir_ + "\\Carpeta", FileAccess::kAppend, FileShare::kShared, &f),
            FileResult::kOk);
  EXPECT_NE(OpenFile(dir_ + "\\Carpeta", FileAccess::kRead, FileShare::kNotShared, &f),
            FileResult::kOk);
}

TEST_F(TempDirTest, RangeLocksExcludeOtherOpensUntilReleased) {
  std::string path = dir_ + "\\X.lck";
  File a, b;
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kShared, &a), FileResult::kOk);
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWrite, FileShare::kShared, &b), FileResult::kOk);
  ASSERT_EQ(LockRange(a, 1000, 1, LockKind::kExclusive, false), FileResult::kOk);
  EXPECT_EQ(LockRange(b, 1000, 1, LockKind::kShared, false), FileResult::kBusy);
  EXPECT_EQ(LockRange(b, 1001, 1, LockKind::kExclusive, false), FileResult::kOk);
  EXPECT_TRUE(RangeIsLocked(b, 1000, 1, LockKind::kShared));
  ASSERT_EQ(UnlockRange(a, 1000, 1), FileResult::kOk);
  EXPECT_EQ(LockRange(b, 1000, 1, LockKind::kShared, true), FileResult::kOk);
  a.Close();  // closing releases everything the open held
}

TEST(FakeEnv, ClockSleepAndRandomAreDeterministic) {
  FakeEnv env;
  env.SetNow(LocalTime{1970, 1, 1, 0, 59, 59, 600});
  env.SleepMillis(500);
  LocalTime t = env.Now();
  EXPECT_EQ(t.hour, 1);
  EXPECT_EQ(t.minute, 0);
  EXPECT_EQ(t.second, 0);
  EXPECT_EQ(t.millisecond, 100);
  env.Advance(24 * 3600 * 1000LL);
  EXPECT_EQ(env.Now().day, 2);
  EXPECT_EQ(env.slept_ms(), 500);
  env.QueueRandom(0.25);
  EXPECT_EQ(env.Random(), 0.25);
  for (int i = 0; i < 1000; ++i) {
    double r = env.Random();
    ASSERT_GE(r, 0.0);
    ASSERT_LT(r, 1.0);
  }
  ScopedEnv scoped(&env);
  env.SetVariable("KELROOT", "C:\\KEL\\");
  EXPECT_EQ(CurrentEnv().GetVariable("KELROOT"), "C:\\KEL\\");
  EXPECT_EQ(CurrentEnv().GetVariable("KELTMP"), "");
}

TEST(CivilDays, RoundTripsAcrossCenturies) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);
  for (std::int64_t d = -200000; d < 200000; d += 37) {
    int y, m, day;
    CivilFromDays(d, &y, &m, &day);
    ASSERT_EQ(DaysFromCivil(y, m, day), d);
  }
}

}  // namespace
}  // namespace kel
