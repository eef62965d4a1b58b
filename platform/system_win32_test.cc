// The Windows side of the file seam: paths kept as written (drive letters,
// "\", names through the OEM code page), the system's own share modes met
// by any program, rename over a file, deletes refused while a file is
// open, byte-range locks of one handle, the environment.
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/file_lock.h"
#include "platform/file_system_kind.h"
#include "platform/system.h"
#include "platform/win32_internal.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

class Win32FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTestDirectory("kel-win32");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  bool Write(const std::string& path, const std::string& bytes) {
    File f;
    return OpenFile(path, FileAccess::kWriteTruncate, FileShare::kShared, &f) == FileResult::kOk &&
           f.WriteAt(0, bytes.data(), bytes.size());
  }
  std::string dir_;
};

TEST_F(Win32FileTest, PathsStayAsWrittenAndNamesGoThroughTheCodePage) {
  EXPECT_EQ(MapPath("C:\\DADES\\HConcept.dat"), "C:\\DADES\\HConcept.dat");
  EXPECT_EQ(MapPath("Z:\\tmp\\x/y.dat"), "Z:\\tmp\\x/y.dat");
  EXPECT_EQ(MapPath(""), "");
  // A code page 850 name (e grave, 0x8A) is the Unicode name on disk.
  ASSERT_TRUE(Write(dir_ + "\\Fitx\x8A.txt", "x"));
  EXPECT_TRUE(
      std::filesystem::exists(std::filesystem::path(WideFromUtf8(dir_ + "\\Fitx\xC3\xA8.txt"))));
  EXPECT_EQ(MapPath(dir_ + "\\Fitx\x8A.txt"), dir_ + "\\Fitx\xC3\xA8.txt");
  std::string system;
  ASSERT_TRUE(SystemPathOf(dir_ + "\\Fitx\xC3\xA8.txt", &system));
  EXPECT_EQ(system, dir_ + "\\Fitx\x8A.txt");
  EXPECT_FALSE(SystemPathOf("C:\\\xE2\x82\xAC.dat", &system));  // the euro sign
  // The file system ignores letter case: no search is needed.
  EXPECT_TRUE(FileExists(dir_ + "\\FITX\x8A.TXT"));
  EXPECT_TRUE(DirectoryExists(dir_ + "\\"));
  EXPECT_FALSE(FileExists(dir_));
}

TEST_F(Win32FileTest, NotSharedMeetsEveryOtherOpenerAsASharingViolation) {
  const std::string path = dir_ + "\\LOCKS.TMP";
  File first;
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kNotShared, &first),
            FileResult::kOk);
  File second;
  EXPECT_EQ(OpenFile(path, FileAccess::kRead, FileShare::kShared, &second), FileResult::kBusy);
  EXPECT_EQ(OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kNotShared, &second),
            FileResult::kBusy);
  // Any program, not only this one: a plain CreateFile with full sharing.
  HANDLE other =
      ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (other != INVALID_HANDLE_VALUE) ::CloseHandle(other);
  first.Close();
  EXPECT_EQ(OpenFile(path, FileAccess::kRead, FileShare::kShared, &second), FileResult::kOk);
  // A shared open keeps out a not-shared one, and another program's
  // exclusive open (share mode 0) keeps out ours.
  EXPECT_EQ(OpenFile(path, FileAccess::kRead, FileShare::kNotShared, &first), FileResult::kBusy);
  second.Close();
  other = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenFile(path, FileAccess::kRead, FileShare::kShared, &second), FileResult::kBusy);
  ::CloseHandle(other);
}

TEST_F(Win32FileTest, RenameReplacesAndADeleteWaitsForTheReaders) {
  const std::string ini = dir_ + "\\Nuri.ini";
  const std::string tmp = dir_ + "\\12345678.tmp";
  ASSERT_TRUE(Write(ini, "[Usuari]\r\nIdioma=CAT\r\n"));
  ASSERT_TRUE(Write(tmp, "[Usuari]\r\nIdioma=SPA\r\n"));
  {
    // A reader of the configuration file: the rewrite's delete must fail
    // (and be retried) rather than pull the file from under it.
    File reader;
    ASSERT_EQ(OpenFile(ini, FileAccess::kRead, FileShare::kShared, &reader), FileResult::kOk);
    EXPECT_FALSE(DeleteFile(ini));
  }
  ASSERT_TRUE(RenameFile(tmp, ini));  // over the existing file
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(ini, &bytes));
  EXPECT_EQ(bytes, "[Usuari]\r\nIdioma=SPA\r\n");
  EXPECT_FALSE(FileExists(tmp));
  EXPECT_TRUE(SyncDirectory(dir_));
  EXPECT_TRUE(DeleteFile(ini));
  EXPECT_FALSE(DeleteFile(ini));
}

TEST_F(Win32FileTest, ReadWriteAppendTruncateAndAFolder) {
  const std::string path = dir_ + "\\db.log";
  File f;
  ASSERT_EQ(OpenFile(path, FileAccess::kAppend, FileShare::kShared, &f), FileResult::kOk);
  ASSERT_TRUE(f.Append("1\r\n"));
  ASSERT_TRUE(f.WriteAt(0, "2\r\n", 3));  // append mode: at the end all the same
  f.Close();
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWrite, FileShare::kShared, &f), FileResult::kOk);
  EXPECT_EQ(f.Size(), 6);
  ASSERT_TRUE(f.WriteAt(1, "x", 1));
  char buf[16] = {};
  EXPECT_EQ(f.ReadAt(0, buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "1x\n2\r\n");
  EXPECT_EQ(f.ReadAt(100, buf, sizeof buf), 0);
  ASSERT_TRUE(f.Truncate(2));
  EXPECT_EQ(f.Size(), 2);
  EXPECT_TRUE(f.Sync());
  f.Close();
  EXPECT_EQ(OpenFile(dir_ + "\\missing.dat", FileAccess::kRead, FileShare::kShared, &f),
            FileResult::kNotFound);
  EXPECT_EQ(OpenFile(dir_ + "\\NO\\x.dat", FileAccess::kReadWriteCreate, FileShare::kShared, &f),
            FileResult::kNotFound);
  ASSERT_TRUE(MakeDirectory(dir_ + "\\Carpeta\\"));
  EXPECT_TRUE(MakeDirectory(dir_ + "\\Carpeta"));  // exists: fine
  EXPECT_EQ(OpenFile(dir_ + "\\Carpeta", FileAccess::kRead, FileShare::kShared, &f),
            FileResult::kDenied);
}

TEST_F(Win32FileTest, RangeLocksOfOneHandleAreTakenOnceAndChangeKind) {
  const std::string path = dir_ + "\\X.dat-locks";
  File a, b;
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWriteCreate, FileShare::kShared, &a), FileResult::kOk);
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWrite, FileShare::kShared, &b), FileResult::kOk);
  // A record locked twice by its owner stays locked once (Windows itself
  // would refuse the second exclusive lock).
  ASSERT_EQ(LockRange(a, 16, 1, LockKind::kExclusive, false), FileResult::kOk);
  EXPECT_EQ(LockRange(a, 16, 1, LockKind::kExclusive, false), FileResult::kOk);
  EXPECT_EQ(LockRange(b, 16, 1, LockKind::kShared, false), FileResult::kBusy);
  EXPECT_TRUE(RangeIsLocked(b, 16, 1, LockKind::kExclusive));
  EXPECT_FALSE(RangeIsLocked(a, 16, 1, LockKind::kExclusive));  // its own
  ASSERT_EQ(UnlockRange(a, 16, 1), FileResult::kOk);
  EXPECT_FALSE(RangeIsLocked(b, 16, 1, LockKind::kExclusive));
  EXPECT_EQ(UnlockRange(a, 16, 1), FileResult::kOk);  // nothing held: no error
  // Shared by both; one asks whether another holds it.
  ASSERT_EQ(LockRange(a, 1, 1, LockKind::kShared, false), FileResult::kOk);
  EXPECT_FALSE(RangeIsLocked(a, 1, 1, LockKind::kExclusive));
  ASSERT_EQ(LockRange(b, 1, 1, LockKind::kShared, false), FileResult::kOk);
  EXPECT_TRUE(RangeIsLocked(a, 1, 1, LockKind::kExclusive));
  EXPECT_TRUE(RangeIsLocked(b, 1, 1, LockKind::kExclusive));
  // The asking left both locks in place.
  EXPECT_EQ(LockRange(a, 1, 1, LockKind::kExclusive, false), FileResult::kBusy);
  b.Close();  // closing releases everything the handle held
  EXPECT_EQ(LockRange(a, 1, 1, LockKind::kExclusive, false), FileResult::kOk);  // converted
  File c;
  ASSERT_EQ(OpenFile(path, FileAccess::kReadWrite, FileShare::kShared, &c), FileResult::kOk);
  EXPECT_EQ(LockRange(c, 1, 1, LockKind::kShared, false), FileResult::kBusy);
  EXPECT_EQ(LockRange(a, 1, 1, LockKind::kShared, false), FileResult::kOk);  // and back
  EXPECT_EQ(LockRange(c, 1, 1, LockKind::kShared, false), FileResult::kOk);
  EXPECT_EQ(LockRange(c, 0, 0, LockKind::kExclusive, false), FileResult::kBusy);  // to the end
}

TEST(Win32EnvTest, TheSystemsEnvironment) {
  Env& env = SystemEnv();
  const std::string name = env.ComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  EXPECT_NE(env.ProcessId(), 0u);
  ASSERT_NE(::SetEnvironmentVariableW(L"KEL_TEST_VALUE", L"\u00C7a\\b"), FALSE);
  EXPECT_EQ(env.GetVariable("KEL_TEST_VALUE"),
            "\x80"
            "a\\b");  // C cedilla, code page 850
  ::SetEnvironmentVariableW(L"KEL_TEST_VALUE", nullptr);
  EXPECT_EQ(env.GetVariable("KEL_TEST_VALUE"), "");
  const LocalTime t = env.Now();
  EXPECT_GE(t.year, 2024);
  const std::int64_t before = env.MonotonicMillis();
  env.SleepMillis(1);
  EXPECT_GE(env.MonotonicMillis(), before);
  const double r = env.Random();
  EXPECT_TRUE(r >= 0 && r < 1);
}

TEST(Win32FileSystemKindTest, LocalDisksAndSharesByTheirPath) {
  FileSystemKind kind;
  ASSERT_TRUE(SystemFileSystemProbe(".", &kind));
  EXPECT_FALSE(kind.network);
  ASSERT_TRUE(SystemFileSystemProbe("\\\\SERVIDOR\\KEL\\menu.dat", &kind));
  EXPECT_TRUE(kind.network);
  EXPECT_EQ(kind.name, "smb share");
}

}  // namespace
}  // namespace kel
