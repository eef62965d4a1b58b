#include "startup/ini_file.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "platform/file_lock.h"
#include "platform/system.h"
#include "startup/ini_text.h"
#include "tests/support/test_dir.h"

namespace kel {
namespace {

namespace fs = std::filesystem;
const std::string kCat = "[Usuari]\r\nIdioma=CAT\r\n";

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string templ = MakeTestDirectory("kel-ini");
    ASSERT_FALSE(templ.empty());
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name = "Nuri.ini") const { return dir_ + "\\" + name; }
  std::string Contents() const {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(Path(), &bytes)) << "file missing";
    return bytes;
  }
  void Put(const std::string& bytes, const std::string& name = "Nuri.ini") const {
    File f;
    ASSERT_EQ(OpenFile(Path(name), FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  }
  int Temporaries() const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) n += entry.path().extension() == ".tmp";
    return n;
  }
  IniWriteResult Set(const std::string& value, const std::string& key = "Idioma") {
    return IniWrite(Path(), "Usuari", key, value);
  }
  static int Wait(pid_t child) {
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_;
};

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

  // A write failing half way (the file-size limit, as a full disk would).
  const std::string before = kCat + std::string(20000, 'x') + "\r\n";
  Put(before);
  pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(static_cast<int>(Set("SPA")));
  }
  EXPECT_EQ(Wait(child), static_cast<int>(IniWriteResult::kWriteFailed));
  EXPECT_EQ(Contents(), before);

  // A file that cannot be replaced (immutable, even for root), where allowed.
  const std::string native = dir_ + "/Nuri.ini";
  if (std::system(("chattr +i '" + native + "' 2>/dev/null").c_str()) == 0) {
    FakeEnv env;
    IniWriteResult r;
    {
      ScopedEnv scoped(&env);
      r = Set("SPA");
    }
    EXPECT_EQ(std::system(("chattr -i '" + native + "'").c_str()), 0);
    EXPECT_EQ(r, IniWriteResult::kReplaceFailed);
    EXPECT_EQ(env.sleeps(), 9);
    EXPECT_EQ(Contents(), before);
  }
  EXPECT_EQ(Temporaries(), 0);
}

// Writers of a 64 KiB file are killed at random moments; after each kill the
// file is whole: the old contents or a complete new one.
TEST_F(IniFileTest, KilledWritersLeaveOldOrNewFileNeverNoneOrMixed) {
  std::string base;
  for (int i = 0; i < 1500; ++i) base += "Clau" + std::to_string(i) + "=valor de prova\r\n";
  base = "[A]\r\n" + base + "[Usuari]\r\nIdioma=v0\r\n; nota\r\n[B]\r\n" + base;
  Put(base);
  std::mt19937 rng(4242);
  for (int round = 0; round < 40; ++round) {
    pid_t child = ::fork();
    if (child == 0) {
      for (long i = 1;; ++i) (void)Set("v" + std::to_string(round * 1000000L + i));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
    ::kill(child, SIGKILL);
    Wait(child);
    const std::string bytes = Contents();
    const std::string value = FindIniValue(bytes, "Usuari", "Idioma");
    ASSERT_EQ(value.substr(0, 1), "v") << "round " << round;
    ASSERT_EQ(bytes, MergeIniText(base, "Usuari", "Idioma", value)) << "round " << round;
  }
  // A kill between creating the temporary file and the rename leaves it
  // behind; the lock died with its holder, so the next writer goes through.
  ASSERT_EQ(Set("final"), IniWriteResult::kOk);
  EXPECT_EQ(Contents(), MergeIniText(base, "Usuari", "Idioma", "final"));
}

// Two processes add different keys to one file at the same moment (and
// both rewrite one shared key): every key of both is there at the end.
TEST_F(IniFileTest, ConcurrentWritersKeepEachOthersKeys) {
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  pid_t children[2];
  for (char c : {'A', 'B'}) {
    if ((children[c - 'A'] = ::fork()) == 0) {
      ::close(start[1]);
      char byte;
      (void)::read(start[0], &byte, 1);  // returns when the parent closes the pipe
      bool ok = true;
      for (int k = 0; k < 40; ++k) {
        const std::string key = c + std::to_string(k);
        ok &= Set("valor" + key, key) == IniWriteResult::kOk;
        ok &= IniWrite(Path(), "Comuna", "Qui", key) == IniWriteResult::kOk;
      }
      ::_exit(ok ? 0 : 1);
    }
  }
  ::close(start[0]);
  ::close(start[1]);
  EXPECT_EQ(Wait(children[0]), 0);
  EXPECT_EQ(Wait(children[1]), 0);
  for (char c : {'A', 'B'}) {
    for (int k = 0; k < 40; ++k) {
      const std::string key = c + std::to_string(k);
      EXPECT_EQ(IniRead(Path(), "Usuari", key), "valor" + key);
    }
  }
  const std::string last = IniRead(Path(), "Comuna", "Qui");
  EXPECT_TRUE(last == "A39" || last == "B39") << last;
  EXPECT_EQ(Temporaries(), 0);
}

}  // namespace
}  // namespace kel
