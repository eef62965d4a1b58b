// A process killed with SIGKILL at a random moment of a stream of updates,
// inserts and deletes, many times over: the file must always open, pass the
// checks, hold only whole records, and keep everything committed before the
// kill. KEL_CRASH_ROUNDS sets the number of rounds (default 20).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "gtest/gtest.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Handle;
using testing::Le;
using testing::Segment;
using testing::TempDir;

constexpr int kLen = 1400;
constexpr int kRecords = 150;
constexpr std::int64_t kInsertedBase = 100000;

// | 0 | 8 id (key 0) | 8 | 10 text of g (key 1) | 18 | 8 g | 26 | g's low byte... |
std::string MakeRecord(std::int64_t id, std::int64_t g) {
  std::string r = Le(id, 8) + testing::Rec("T" + std::to_string(g % 37), 10) + Le(g, 8);
  r.resize(kLen, static_cast<char>(g & 0xFF));
  return r;
}

std::int64_t ReadLe(const std::string& r, std::size_t at) {
  std::int64_t v;
  std::memcpy(&v, r.data() + at, 8);
  return v;
}

bool IsWhole(const std::string& r) {
  if (r.size() != kLen) return false;
  const std::int64_t g = ReadLe(r, 18);
  return r == MakeRecord(ReadLe(r, 0), g);
}

int Rounds() {
  const char* v = std::getenv("KEL_CRASH_ROUNDS");
  return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : 20;
}

// The child: updates forever; after each explicit commit it reports how
// far it got on `report`.
[[noreturn]] void UpdateForever(const std::string& path, int report) {
  Handle h;
  if (h.Open(path) != kStatusOk) ::_exit(2);
  for (std::int64_t g = 1;; ++g) {
    const std::int64_t i = g % kRecords;
    if (h.Get(kOpGetEqual, Le(i, 8)) != kStatusOk) ::_exit(3);
    if (h.Update(MakeRecord(i, g)) != kStatusOk) ::_exit(4);
    if (g % 10 == 0 && h.Insert(MakeRecord(kInsertedBase + g, g)) != kStatusOk) ::_exit(5);
    if (g % 10 == 5 && h.Get(kOpGetEqual, Le(kInsertedBase + g - 55, 8)) == kStatusOk &&
        h.Delete() != kStatusOk) {
      ::_exit(6);
    }
    if (g % 32 == 0) {
      if (FlushRecordManager() != kStatusOk) ::_exit(7);
      (void)!::write(report, &g, sizeof g);
    }
    if (g % 500 == 0 && (h.Close() != kStatusOk || h.Open(path) != kStatusOk)) ::_exit(8);
  }
}

class CrashTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == testing::Backend::kServer && testing::TestServer().empty()) {
      GTEST_SKIP() << "no PostgreSQL server for the tests (KEL_TEST_PG)";
    }
  }
};

TEST_P(CrashTest, KilledWritersLeaveWholeFilesWithEveryCommittedUpdate) {
  TempDir dir;
  testing::BackendScope scope(GetParam(), dir.path());
  const std::string path = dir.File("crash.dat");
  CreateSpec file_spec;
  file_spec.record_length = kLen;
  file_spec.page_size = 4096;
  file_spec.keys = {{Segment{1, 8, 0, kTypeInteger}},
               {Segment{9, 10, kKeyFlagDuplicates | kKeyFlagModifiable}}};
  ASSERT_EQ(testing::CreateFile(path, file_spec), kStatusOk);
  {
    Handle h;
    ASSERT_EQ(h.Open(path), kStatusOk);
    for (int i = 0; i < kRecords; ++i) ASSERT_EQ(h.Insert(MakeRecord(i, 0)), kStatusOk);
  }  // closed: the child must not inherit open files
  std::mt19937 rng(4242);
  const int rounds = Rounds();
  for (int round = 0; round < rounds; ++round) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      UpdateForever(path, fds[1]);
    }
    ::close(fds[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + rng() % 120));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status))
        << "round " << round << ": the writer stopped with " << WEXITSTATUS(status);
    std::int64_t committed = 0, g;
    while (::read(fds[0], &g, sizeof g) == sizeof g) committed = g;
    ::close(fds[0]);

    std::string report;
    ASSERT_TRUE(testing::FileIsSound(path, &report)) << "round " << round << ": " << report;
    Handle h;
    ASSERT_EQ(h.Open(path), kStatusOk) << "round " << round;
    std::int16_t st;
    std::vector<std::string> rows = testing::ReadAll(h, 0, &st);
    ASSERT_EQ(st, kStatusEndOfFile);
    std::vector<std::int64_t> seen(kRecords, -1);
    for (const std::string& r : rows) {
      ASSERT_TRUE(IsWhole(r)) << "round " << round << " record " << ReadLe(r, 0);
      const std::int64_t id = ReadLe(r, 0);
      if (id < kRecords) seen[id] = ReadLe(r, 18);
    }
    for (int i = 0; i < kRecords; ++i) {
      ASSERT_GE(seen[i], 0) << "round " << round << ": record " << i << " is missing";
      // The last update of record i at or before the committed mark.
      std::int64_t needed = committed - ((committed - i) % kRecords + kRecords) % kRecords;
      if (needed < 1) needed = 0;
      EXPECT_GE(seen[i], needed) << "round " << round << " record " << i << " committed "
                                 << committed;
    }
    // Each round starts the generations afresh, so the next round's
    // updates must win over this one's: give the records back their base.
    ASSERT_EQ(h.Close(), kStatusOk);
    ASSERT_EQ(testing::CreateFile(path, file_spec, kCreateReplace), kStatusOk);
    ASSERT_EQ(h.Open(path), kStatusOk);
    for (int i = 0; i < kRecords; ++i) ASSERT_EQ(h.Insert(MakeRecord(i, 0)), kStatusOk);
    ASSERT_EQ(h.Close(), kStatusOk);
  }
}

TEST(CreateCrashTest, AKilledCreateLeavesTheOldFileOrTheNewOne) {
  TempDir dir;
  const std::string path = dir.File("create.dat");
  CreateSpec a, b;
  a.record_length = 16;
  a.keys = {{Segment{1, 4, 0}}};
  b.record_length = 32;
  b.keys = {{Segment{1, 8, kKeyFlagDuplicates}}};
  ASSERT_EQ(testing::CreateFile(path, a), kStatusOk);
  std::mt19937 rng(77);
  for (int round = 0; round < Rounds(); ++round) {
    pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 0;; ++i) {
        if (testing::CreateFile(path, i % 2 ? a : b, kCreateReplace) != kStatusOk) ::_exit(2);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2 + rng() % 40));
    ::kill(pid, SIGKILL);
    int status;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round;
    Handle h;
    ASSERT_EQ(h.Open(path), kStatusOk) << "round " << round;
    std::string stat;
    ASSERT_EQ(h.Stat(&stat), kStatusOk);
    EXPECT_TRUE(stat[0] == 16 || stat[0] == 32) << "round " << round;
    std::string report;
    EXPECT_TRUE(testing::FileIsSound(path, &report)) << report;
  }
}


std::string BackendParamName(const ::testing::TestParamInfo<testing::Backend>& info) {
  return testing::BackendName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Backends, CrashTest,
                         ::testing::Values(testing::Backend::kSqlite, testing::Backend::kServer),
                         BackendParamName);

}  // namespace
}  // namespace kel
