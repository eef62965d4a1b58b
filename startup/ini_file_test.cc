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
#include <vector>

#include "gtest/gtest.h"
#include "platform/file_lock.h"
#include "platform/system.h"
#include "startup/ini_text.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/kel-ini-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A system path ("\" separators) of a file in the test directory.
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

  std::string Contents(const std::string& name) const {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(Path(name), &bytes)) << name;
    return bytes;
  }

  void Put(const std::string& name, const std::string& bytes) const {
    File f;
    ASSERT_EQ(OpenFile(Path(name), FileAccess::kWriteTruncate, FileShare::kShared, &f),
              FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, bytes.data(), bytes.size()));
  }

  // Names in the directory ending in ".tmp".
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      std::string name = entry.path().filename().string();
      if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp") names.push_back(name);
    }
    return names;
  }

  std::string dir_;
};

TEST_F(IniFileTest, WriteCreatesTheFileAndReadsBack) {
  ASSERT_EQ(IniWrite(Path("Nuri.ini"), "Usuari", "Idioma", "SPA"), IniWriteResult::kOk);
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=SPA\r\n");
  EXPECT_EQ(IniRead(Path("Nuri.ini"), "usuari", "IDIOMA"), "SPA");
  ASSERT_EQ(IniWrite(Path("Nuri.ini"), "Usuari", "DatOrdre", "AMD"), IniWriteResult::kOk);
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=SPA\r\nDatOrdre=AMD\r\n");
  EXPECT_TRUE(Temporaries().empty());
  EXPECT_TRUE(fs::exists(dir_ + "/" + std::string(kIniLockFileName)));
}

TEST_F(IniFileTest, ReadOfMissingFileOrDirectoryGivesEmpty) {
  EXPECT_EQ(IniRead(Path("Cap.ini"), "Usuari", "Idioma"), "");
  EXPECT_EQ(IniRead(Path("Cap\\Cap.ini"), "Usuari", "Idioma"), "");
  EXPECT_EQ(IniRead(dir_, "Usuari", "Idioma"), "");  // a directory
}

TEST_F(IniFileTest, LetterCaseOfThePathFindsTheExistingFile) {
  Put("Nuri.ini", "[Usuari]\r\nIdioma=CAT\r\n");
  ASSERT_EQ(IniWrite(Path("NURI.INI"), "Usuari", "Idioma", "OCI"), IniWriteResult::kOk);
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=OCI\r\n");
  EXPECT_FALSE(fs::exists(dir_ + "/NURI.INI"));
}

TEST_F(IniFileTest, RelativePathUsesTheCurrentDirectory) {
  std::string old = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(dir_));
  IniWriteResult r = IniWrite("Sessio.ini", "Menu", "Titol", "KEL");
  std::string value = IniRead("Sessio.ini", "Menu", "Titol");
  ASSERT_TRUE(ChangeDirectory(old));
  EXPECT_EQ(r, IniWriteResult::kOk);
  EXPECT_EQ(value, "KEL");
  EXPECT_EQ(Contents("Sessio.ini"), "[Menu]\r\nTitol=KEL\r\n");
}

TEST_F(IniFileTest, DirectoryOfAPath) {
  struct Case {
    const char* path;
    const char* dir;
  } cases[] = {{"C:\\KEL\\Nuri.ini", "C:\\KEL\\"}, {"C:Nuri.ini", "C:"}, {"Nuri.ini", ""},
               {"/tmp/x/Nuri.ini", "/tmp/x/"},     {"a\\b/c", "a\\b/"},  {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(IniDirectoryOf(c.path), c.dir) << c.path;
}

TEST_F(IniFileTest, BlankSectionIsRefused) {
  Put("Nuri.ini", "[]\r\nIdioma=CAT\r\n");
  EXPECT_EQ(IniWrite(Path("Nuri.ini"), "", "Idioma", "SPA"), IniWriteResult::kBadArgument);
  EXPECT_EQ(IniWrite(Path("Nuri.ini"), "  ", "Idioma", "SPA"), IniWriteResult::kBadArgument);
  EXPECT_EQ(Contents("Nuri.ini"), "[]\r\nIdioma=CAT\r\n");
}

// The writer once kept file positions in 16 bits; files of any size must
// come through whole.
TEST_F(IniFileTest, FilesBeyond32KiBAreRewrittenWhole) {
  for (int size_kib : {31, 32, 33, 64, 1024}) {
    std::string before;
    int n = 0;
    while (before.size() < static_cast<std::size_t>(size_kib) * 1024) {
      before += (n % 50 == 0 ? "[Seccio" + std::to_string(n) + "]"
                             : "Clau" + std::to_string(n) + "=valor " + std::to_string(n)) +
                "\r\n";
      ++n;
    }
    before += "[Usuari]\r\nIdioma=CAT\r\n; final\r\n";
    Put("Gran.ini", before);
    ASSERT_EQ(IniWrite(Path("Gran.ini"), "Usuari", "Idioma", "GLG"), IniWriteResult::kOk);
    std::string expected = before;
    expected.replace(expected.rfind("Idioma=CAT"), 10, "Idioma=GLG");
    EXPECT_EQ(Contents("Gran.ini"), expected) << size_kib << " KiB";
    EXPECT_EQ(IniRead(Path("Gran.ini"), "Seccio0", "Clau1"), "valor 1");
    ASSERT_EQ(IniWrite(Path("Gran.ini"), "Nova", "K", "V"), IniWriteResult::kOk);
    EXPECT_EQ(Contents("Gran.ini"),
              expected.substr(0, expected.size() - 9) + "[Nova]\r\nK=V\r\n; final\r\n");
  }
}

TEST_F(IniFileTest, RandomFilesOnDisk) {
  std::mt19937 rng(99);
  const char* sections[] = {"Usuari", "Sistema", "Pantalla"};
  const char* keys[] = {"Idioma", "Data", "Col1"};
  for (int round = 0; round < 60; ++round) {
    std::string before;
    int lines = static_cast<int>(rng() % 30);
    for (int i = 0; i < lines; ++i) {
      switch (rng() % 4) {
        case 0:
          before += std::string("[") + sections[rng() % 3] + "]\r\n";
          break;
        case 1:
          before += std::string(keys[rng() % 3]) + "=" + std::to_string(rng() % 1000) + "\r\n";
          break;
        case 2:
          before += "\r\n";
          break;
        default:
          before += "; nota\r\n";
      }
    }
    Put("R.ini", before);
    std::string section = sections[rng() % 3];
    std::string key = keys[rng() % 3];
    std::string value = "v" + std::to_string(round);
    ASSERT_EQ(IniWrite(Path("R.ini"), section, key, value), IniWriteResult::kOk);
    EXPECT_EQ(Contents("R.ini"), MergeIniText(before, section, key, value)) << before;
    EXPECT_EQ(IniRead(Path("R.ini"), section, key), value) << before;
  }
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(IniFileTest, TemporaryNameCollisionDrawsAnotherName) {
  FakeEnv env;
  ScopedEnv scoped(&env);
  Put("11111111.tmp", "not ours");
  for (int i = 0; i < 8; ++i) env.QueueRandom(0.15);  // digits 1,1,1,...: the taken name
  ASSERT_EQ(IniWrite(Path("Nuri.ini"), "Usuari", "Idioma", "CAT"), IniWriteResult::kOk);
  EXPECT_EQ(Contents("11111111.tmp"), "not ours");
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=CAT\r\n");
  EXPECT_EQ(Temporaries(), std::vector<std::string>{"11111111.tmp"});
  EXPECT_EQ(env.sleeps(), 0);
}

// A file that another opener holds exclusively cannot be read: the rewrite
// waits with pauses, gives up after a bounded number of attempts and leaves
// the file as it was.
struct ReleaseAfter {
  FakeEnv* env;
  File* holder;
  int sleeps;
};

TEST_F(IniFileTest, BusyFileIsRetriedWithPausesThenGivenUp) {
  Put("Nuri.ini", "[Usuari]\r\nIdioma=CAT\r\n");
  FakeEnv env;
  ScopedEnv scoped(&env);
  File holder;
  ASSERT_EQ(OpenFile(Path("Nuri.ini"), FileAccess::kRead, FileShare::kNotShared, &holder),
            FileResult::kOk);
  EXPECT_EQ(IniWrite(Path("Nuri.ini"), "Usuari", "Idioma", "SPA"), IniWriteResult::kReadFailed);
  EXPECT_EQ(env.sleeps(), 9);
  EXPECT_EQ(env.slept_ms(), 900);
  holder.Close();
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=CAT\r\n");
  EXPECT_TRUE(Temporaries().empty());

  // Released while the writer waits: the write goes through.
  ASSERT_EQ(OpenFile(Path("Nuri.ini"), FileAccess::kRead, FileShare::kNotShared, &holder),
            FileResult::kOk);
  ReleaseAfter release{&env, &holder, env.sleeps() + 3};
  env.OnSleep(
      [](void* context) {
        auto* r = static_cast<ReleaseAfter*>(context);
        if (r->env->sleeps() >= r->sleeps) r->holder->Close();
      },
      &release);
  EXPECT_EQ(IniWrite(Path("Nuri.ini"), "Usuari", "Idioma", "SPA"), IniWriteResult::kOk);
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=SPA\r\n");
  env.OnSleep(nullptr, nullptr);
}

TEST_F(IniFileTest, DirectoryLockHeldElsewhereMakesTheWriterWaitThenGiveUp) {
  Put("Nuri.ini", "[Usuari]\r\nIdioma=CAT\r\n");
  FakeEnv env;
  ScopedEnv scoped(&env);
  File other;  // another open description: conflicts like another process
  ASSERT_EQ(OpenFile(Path(std::string(kIniLockFileName)), FileAccess::kReadWriteCreate,
                     FileShare::kShared, &other),
            FileResult::kOk);
  ASSERT_EQ(LockRange(other, 0, 1, LockKind::kExclusive, false), FileResult::kOk);
  EXPECT_EQ(IniWrite(Path("Nuri.ini"), "Usuari", "Idioma", "SPA"), IniWriteResult::kBusy);
  EXPECT_EQ(env.slept_ms(), 1499 * 20);
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=CAT\r\n");

  ReleaseAfter release{&env, &other, env.sleeps() + 5};
  env.OnSleep(
      [](void* context) {
        auto* r = static_cast<ReleaseAfter*>(context);
        if (r->env->sleeps() >= r->sleeps) r->holder->Close();
      },
      &release);
  EXPECT_EQ(IniWrite(Path("Nuri.ini"), "Usuari", "Idioma", "SPA"), IniWriteResult::kOk);
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=SPA\r\n");
  env.OnSleep(nullptr, nullptr);
}

TEST_F(IniFileTest, UnreadableFileIsNeverTakenForEmpty) {
  fs::create_directory(dir_ + "/Dir.ini");  // exists, cannot be read as a file
  EXPECT_EQ(IniWrite(Path("Dir.ini"), "Usuari", "Idioma", "SPA"), IniWriteResult::kReadFailed);
  EXPECT_TRUE(fs::is_directory(dir_ + "/Dir.ini"));
  EXPECT_TRUE(Temporaries().empty());
  // A directory that does not exist: no temporary file can be made.
  EXPECT_EQ(IniWrite(Path("Cap\\Nuri.ini"), "Usuari", "Idioma", "SPA"),
            IniWriteResult::kWriteFailed);
}

// A write that fails half way (here: the file-size limit, as a full disk
// would) leaves the old file whole and no temporary file behind.
TEST_F(IniFileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
  std::string before = "[Usuari]\r\nIdioma=CAT\r\n" + std::string(20000, 'x') + "\r\n";
  Put("Nuri.ini", before);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    IniWriteResult r = IniWrite(Path("Nuri.ini"), "Usuari", "Idioma", "SPA");
    ::_exit(static_cast<int>(r));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(IniWriteResult::kWriteFailed));
  EXPECT_EQ(Contents("Nuri.ini"), before);
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(IniFileTest, RenameFailureIsRetriedThenGivenUp) {
  Put("Nuri.ini", "[Usuari]\r\nIdioma=CAT\r\n");
  // An immutable file cannot be replaced, even by root. Not every file
  // system or container allows setting the flag.
  std::string native = dir_ + "/Nuri.ini";
  if (std::system(("chattr +i '" + native + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "chattr +i not available here";
  }
  FakeEnv env;
  IniWriteResult r;
  {
    ScopedEnv scoped(&env);
    r = IniWrite(Path("Nuri.ini"), "Usuari", "Idioma", "SPA");
  }
  std::system(("chattr -i '" + native + "'").c_str());
  EXPECT_EQ(r, IniWriteResult::kReplaceFailed);
  EXPECT_EQ(env.sleeps(), 9);
  EXPECT_EQ(Contents("Nuri.ini"), "[Usuari]\r\nIdioma=CAT\r\n");
  EXPECT_TRUE(Temporaries().empty());
}

}  // namespace
}  // namespace kel
