// Configuration-file rewrites against what only POSIX lets a test do: a
// file-size limit in the middle of a write, an immutable file, writers
// killed at random moments, forked writers. Left out of the Windows build
// (ini_file_processes_test.cc runs two writing processes on every system).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "startup/ini_file_test_support.h"
#include "startup/ini_text.h"

namespace kel {
namespace {

int Wait(pid_t child) {
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(IniFileTest, AWriteFailingHalfWayOrAnImmutableFileLeavesTheOldFile) {
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
