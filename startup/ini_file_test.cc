#include "startup/ini_file.h"

#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/file_lock.h"
#include "platform/system.h"
#include "startup/ini_file_test_support.h"

namespace kel {
namespace {

TEST_F(IniFileTest, WriteCreatesReplacesAndReadsBack) {
  ASSERT_EQ(Set("SPA"), IniWriteResult::kOk);
  EXPECT_EQ(Contents(), "[Usuari]\r\nIdioma=SPA\r\n");
  // Another letter case of the name replaces the same file.
  ASSERT_EQ(IniWrite(Path("NURI.INI"), "usuari", "DatOrdre", "AMD"), IniWriteResult::kOk);
  EXPECT_EQ(Contents(), "[Usuari]\r\nIdioma=SPA\r\nDatOrdre=AMD\r\n");
  EXPECT_EQ(IniRead(Path("nuri.ini"), "USUARI", "idioma"), "SPA");
  EXPECT_EQ(IniRead(Path("Cap.ini"), "Usuari", "Idioma"), "");
  EXPECT_EQ(IniRead(dir_, "Usuari", "Idioma"), "");  // a directory
  EXPECT_EQ(IniWrite(Path(), " ", "Idioma", "SPA"), IniWriteResult::kBadArgument);
  EXPECT_EQ(Temporaries(), 0);
  EXPECT_EQ(IniDirectoryOf("C:\\KEL\\Nuri.ini"), "C:\\KEL\\");
  EXPECT_EQ(IniDirectoryOf("C:Nuri.ini"), "C:");
}

// The classic writer kept file positions in 16 bits.
TEST_F(IniFileTest, FilesBeyond32KiBAreRewrittenWhole) {
  std::string before;
  for (int n = 0; before.size() < 1024 * 1024; ++n) {
    before +=
        (n % 50 == 0 ? "[S" + std::to_string(n) + "]" : "K" + std::to_string(n) + "=v") + "\r\n";
  }
  Put(before + kCat + "; fi\r\n");
  ASSERT_EQ(Set("SPA"), IniWriteResult::kOk);
  ASSERT_EQ(IniWrite(Path(), "Nova", "K", "V"), IniWriteResult::kOk);
  EXPECT_EQ(Contents(), before + "[Usuari]\r\nIdioma=SPA\r\n[Nova]\r\nK=V\r\n; fi\r\n");
}

// Drawing again from a reseeded clock that has not moved would loop forever.
TEST_F(IniFileTest, TemporaryNameCollisionDrawsAnotherName) {
  FakeEnv env;
  ScopedEnv scoped(&env);
  Put("not ours", "11111111.tmp");
  for (int i = 0; i < 8; ++i) env.QueueRandom(0.15);  // the digits of the taken name
  ASSERT_EQ(Set("SPA"), IniWriteResult::kOk);
  EXPECT_EQ(Temporaries(), 1);
}

// Held by another opener, the file (or the directory's rewrite lock) makes
// the writer pause and retry on the clock; it gives up after a bound with
// the file as it was.
TEST_F(IniFileTest, WaitsAreBoundedAndPacedByTheClock) {
  Put(kCat);
  for (bool lock_directory : {false, true}) {
    FakeEnv env;
    ScopedEnv scoped(&env);
    File holder;
    if (lock_directory) {
      ASSERT_EQ(OpenFile(Path(std::string(kIniLockFileName)), FileAccess::kReadWriteCreate,
                         FileShare::kShared, &holder),
                FileResult::kOk);
      ASSERT_EQ(LockRange(holder, 0, 1, LockKind::kExclusive, false), FileResult::kOk);
    } else {
      ASSERT_EQ(OpenFile(Path(), FileAccess::kRead, FileShare::kNotShared, &holder),
                FileResult::kOk);
    }
    EXPECT_EQ(Set("SPA"), lock_directory ? IniWriteResult::kBusy : IniWriteResult::kReadFailed);
    EXPECT_EQ(env.slept_ms(), lock_directory ? 1499 * 20 : 9 * 100);
    holder.Close();
    EXPECT_EQ(Contents(), kCat);
  }
}

TEST_F(IniFileTest, FailuresLeaveTheOldFileAndNoTemporary) {
  fs::create_directory(dir_ + "/Dir.ini");  // exists but is no file: never taken for empty
  EXPECT_EQ(IniWrite(Path("Dir.ini"), "U", "K", "V"), IniWriteResult::kReadFailed);
  EXPECT_EQ(IniWrite(Path("Cap\\Nuri.ini"), "U", "K", "V"), IniWriteResult::kWriteFailed);

  EXPECT_EQ(Temporaries(), 0);
}

}  // namespace
}  // namespace kel
