// One data file shared by two processes, as two stations of an office
// share it: record locks that the other process meets, and rewrites of
// both at the same moment with nothing lost. The other process is this
// test program run again (tests/support/child_process.h), so the tests run
// the same way on POSIX and on Windows (SQLite's Windows file locks, the
// side file's LockFileEx locks).
#include <cstdlib>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "recman/test_util.h"
#include "tests/support/child_process.h"

namespace kel::testing {
namespace {

std::string Key(int n) {
  std::string k = std::to_string(n);
  return std::string(4 - k.size(), '0') + k;
}

// A record keeping key `k`, its other twelve bytes `fill`.
std::string R(const std::string& k, const std::string& fill) {
  return k + Rec(fill, 12, '.');
}

constexpr int kRecords = 120;

// The other station. --kel-act=lock: locks record B, says so, and keeps the
// lock until told to let go. --kel-act=rewrite: rewrites every odd record.
TEST(DataFileChild, Acts) {
  if (!IsChildTest()) GTEST_SKIP() << "runs as the child of another test";
  const std::string path = TestArgument("kel-file");
  const std::string signals = TestArgument("kel-signals");
  const std::string act = TestArgument("kel-act");
  Handle h;
  if (h.Open(path) != kStatusOk) std::exit(10);
  if (act == "lock") {
    if (h.Get(kOpGetEqual + kLockSingleNoWait, "B   ") != kStatusOk) std::exit(11);
    if (!Signal(signals + "/locked")) std::exit(12);
    if (!AwaitFile(signals + "/release")) std::exit(13);
    std::exit(h.Close() == kStatusOk ? 0 : 14);
  }
  if (act == "rewrite") {
    if (!AwaitFile(signals + "/start")) std::exit(20);
    for (int n = 1; n < kRecords; n += 2) {
      if (h.Get(kOpGetEqual, Key(n)) != kStatusOk) std::exit(21);
      if (h.Update(R(Key(n), "child")) != kStatusOk) std::exit(22);
    }
    if (FlushRecordManager() != kStatusOk) std::exit(23);
    std::exit(h.Close() == kStatusOk ? 0 : 24);
  }
  std::exit(30);
}

class TwoProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("m.dat");
    CreateSpec s;
    s.record_length = 16;
    s.keys = {{Segment{1, 4, kKeyFlagModifiable}}};
    ASSERT_EQ(CreateFile(path_, s), kStatusOk);
    ASSERT_EQ(h_.Open(path_), kStatusOk);
    for (const char* k : {"A", "B", "C"}) ASSERT_EQ(h_.Insert(Rec(k, 16)), kStatusOk);
    ASSERT_EQ(FlushRecordManager(), kStatusOk);
  }
  // Runs the child with `act` on a thread; the code lands in `*code`.
  std::thread Child(const std::string& act, int* code) {
    return std::thread([this, act, code] {
      *code = RunChildTest("DataFileChild.Acts",
                           {"--kel-file=" + path_, "--kel-signals=" + dir_.path(), "--kel-act=" + act});
    });
  }

  TempDir dir_;
  std::string path_;
  Handle h_;
};

TEST_F(TwoProcessesTest, ARecordLockedByAnotherProcessGives84AndStillReads) {
  int code = -1;
  std::thread child = Child("lock", &code);
  ASSERT_TRUE(AwaitFile(dir_.File("locked")));
  EXPECT_EQ(h_.Get(kOpGetEqual + kLockSingleNoWait, "B   "), kStatusRecordLocked);
  EXPECT_EQ(h_.Get(kOpGetEqual + kLockMultipleNoWait, "B   "), kStatusRecordLocked);
  EXPECT_EQ(h_.Get(kOpGetEqual, "B   "), kStatusOk);  // plain reads are never refused
  EXPECT_EQ(h_.Update(R("B   ", "xxxxxxxxxxxx")), kStatusRecordLocked);
  EXPECT_EQ(h_.Get(kOpGetEqual + kLockSingleNoWait, "C   "), kStatusOk);  // another record
  ASSERT_TRUE(Signal(dir_.File("release")));
  child.join();
  EXPECT_EQ(code, 0);
  // The lock went with the other process's close.
  EXPECT_EQ(h_.Get(kOpGetEqual + kLockSingleNoWait, "B   "), kStatusOk);
  EXPECT_EQ(h_.Update(R("B   ", "xxxxxxxxxxxx")), kStatusOk);
  ASSERT_EQ(FlushRecordManager(), kStatusOk);
  ASSERT_EQ(h_.Get(kOpGetEqual, "B   "), kStatusOk);
  EXPECT_EQ(h_.record(), R("B   ", "xxxxxxxxxxxx"));
}

TEST_F(TwoProcessesTest, TwoProcessesRewritingOneFileAtOnceLoseNothing) {
  for (int n = 0; n < kRecords; ++n) ASSERT_EQ(h_.Insert(R(Key(n), "new")), kStatusOk);
  ASSERT_EQ(FlushRecordManager(), kStatusOk);
  int code = -1;
  std::thread child = Child("rewrite", &code);
  ASSERT_TRUE(Signal(dir_.File("start")));
  for (int n = 0; n < kRecords; n += 2) {
    ASSERT_EQ(h_.Get(kOpGetEqual, Key(n)), kStatusOk);
    ASSERT_EQ(h_.Update(R(Key(n), "parent")), kStatusOk) << n;
  }
  ASSERT_EQ(FlushRecordManager(), kStatusOk);
  child.join();
  EXPECT_EQ(code, 0);
  for (int n = 0; n < kRecords; ++n) {
    ASSERT_EQ(h_.Get(kOpGetEqual, Key(n)), kStatusOk);
    EXPECT_EQ(h_.record(), R(Key(n), n % 2 == 0 ? "parent" : "child")) << n;
  }
  ASSERT_EQ(h_.Close(), kStatusOk);
  std::string report;
  EXPECT_TRUE(FileIsSound(path_, &report)) << report;
}

}  // namespace
}  // namespace kel::testing
