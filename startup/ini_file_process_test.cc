// Configuration-file rewrites across processes: killed writers and
// concurrent writers.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "platform/system.h"
#include "startup/ini_file.h"
#include "startup/ini_text.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class IniProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/kel-iniproc-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
    path_ = dir_ + "\\Nuri.ini";
  }
  void TearDown() override { fs::remove_all(dir_); }

  int CountTemporaries() const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      n += entry.path().extension() == ".tmp" ? 1 : 0;
    }
    return n;
  }

  std::string dir_;
  std::string path_;
};

// A file of about 64 KiB with the key in its middle, in the bytes the
// writer produces (CR LF), so any complete rewrite of it is predictable.
std::string BaseFile() {
  std::string bytes;
  for (int i = 0; i < 1500; ++i) bytes += "Clau" + std::to_string(i) + "=valor de prova\r\n";
  bytes = "[Altres]\r\n" + bytes + "[Usuari]\r\nIdioma=v0\r\n; nota\r\n[Final]\r\n" + bytes;
  return bytes;
}

// Writers are killed at random moments, many times over; after each kill
// the file is whole: the old contents or a complete new one.
TEST_F(IniProcessTest, KilledWritersLeaveOldOrNewFileNeverNoneOrMixed) {
  const std::string base = BaseFile();
  {
    File f;
    ASSERT_EQ(OpenFile(path_, FileAccess::kWriteTruncate, FileShare::kShared, &f), FileResult::kOk);
    ASSERT_TRUE(f.WriteAt(0, base.data(), base.size()));
  }
  std::mt19937 rng(4242);
  for (int round = 0; round < 40; ++round) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (long i = 1;; ++i) {
        (void)IniWrite(path_, "Usuari", "Idioma", "v" + std::to_string(round * 1000000L + i));
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30000));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(path_, &bytes)) << "round " << round << ": file missing";
    std::string value = FindIniValue(bytes, "Usuari", "Idioma");
    ASSERT_TRUE(value.size() >= 2 && value[0] == 'v') << "round " << round << ": " << value;
    ASSERT_EQ(bytes, MergeIniText(base, "Usuari", "Idioma", value)) << "round " << round;
  }
  // A stray temporary file is what a kill between its creation and the
  // rename leaves; a later writer draws around it and the lock is free.
  int strays = CountTemporaries();
  RecordProperty("stray_temporaries", strays);
  ASSERT_EQ(IniWrite(path_, "Usuari", "Idioma", "final"), IniWriteResult::kOk);
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path_, &bytes));
  EXPECT_EQ(bytes, MergeIniText(base, "Usuari", "Idioma", "final"));
  EXPECT_EQ(CountTemporaries(), strays);
}

// Two processes add different keys to one file at the same moment: every
// key of both is there at the end.
TEST_F(IniProcessTest, ConcurrentWritersKeepEachOthersKeys) {
  constexpr int kKeys = 40;
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      ::close(start[1]);
      char byte;
      (void)::read(start[0], &byte, 1);  // returns when the parent closes the pipe
      int failures = 0;
      for (int k = 0; k < kKeys; ++k) {
        std::string key = std::string(1, static_cast<char>('A' + c)) + std::to_string(k);
        failures += IniWrite(path_, "Usuari", key, "valor" + key) == IniWriteResult::kOk ? 0 : 1;
        // Also rewrite a key both share, so both really touch the same lines.
        failures += IniWrite(path_, "Comuna", "Qui", key) == IniWriteResult::kOk ? 0 : 1;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  ::close(start[0]);
  ::close(start[1]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  for (int c = 0; c < 2; ++c) {
    for (int k = 0; k < kKeys; ++k) {
      std::string key = std::string(1, static_cast<char>('A' + c)) + std::to_string(k);
      EXPECT_EQ(IniRead(path_, "Usuari", key), "valor" + key) << key;
    }
  }
  std::string last = IniRead(path_, "Comuna", "Qui");
  EXPECT_TRUE(last == "A" + std::to_string(kKeys - 1) || last == "B" + std::to_string(kKeys - 1))
      << last;
  EXPECT_EQ(CountTemporaries(), 0);
}

}  // namespace
}  // namespace kel
