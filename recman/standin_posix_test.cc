// The stand-in library (kelbtrv.cc) in a caller that is killed (SIGKILL,
// no exit handler runs anywhere, the library's included): what it answered
// is in the file.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "recman/file_spec.h"
#include "recman/manager_library.h"
#include "recman/recman.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Handle;
using testing::Rec;
using testing::Segment;
using testing::TempDir;

constexpr int kLen = 16;

TEST(StandInPosixTest, AKilledCallerLosesNothingThatWasAnswered) {
  RecordManagerEntry standin = nullptr;
  std::string problem;
  ASSERT_EQ(LoadRecordManagerLibrary(KEL_STANDIN_LIBRARY, &standin, &problem), kStatusOk)
      << problem;
  TempDir dir;
  const std::string path = dir.File("f.dat");
  CreateSpec spec;
  spec.record_length = kLen;
  spec.keys = {{Segment{1, 4, kKeyFlagModifiable}}};
  ASSERT_EQ(testing::CreateFile(path, spec), kStatusOk);
  constexpr int kInserts = 40;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Handle theirs(standin);
    if (theirs.Open(path) != kStatusOk) ::_exit(2);
    for (int i = 0; i < kInserts; ++i) {
      if (theirs.Insert(Rec("N" + std::to_string(100 + i), kLen)) != kStatusOk) ::_exit(3);
    }
    ::kill(::getpid(), SIGKILL);
    ::_exit(4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "child ended with " << WEXITSTATUS(status);
  Handle mine;
  ASSERT_EQ(mine.Open(path), kStatusOk);
  std::int16_t end = 0;
  EXPECT_EQ(testing::ReadAll(mine, 0, &end).size(), static_cast<std::size_t>(kInserts));
  EXPECT_EQ(end, kStatusEndOfFile);
  ASSERT_EQ(mine.Close(), kStatusOk);
  std::string report;
  EXPECT_TRUE(testing::FileIsSound(path, &report)) << report;
}

}  // namespace
}  // namespace kel
