// Fault loops in SQLite's manner: fail the Nth write, sync or lock (once, or
// from then on), run a fixed piece of work, and check that no failure went
// unreported: the file opens, passes the checks, and holds exactly the work
// whose commit reported success.
#include <algorithm>
#include <filesystem>
#include <set>

#include "gtest/gtest.h"
#include "recman/fault_vfs.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::FaultKind;
using testing::Handle;
using testing::Rec;
using testing::Segment;
using testing::TempDir;

constexpr int kLen = 32;

std::string R(const std::string& k0, const std::string& k1) {
  return Rec(Rec(k0, 4) + Rec(k1, 4) + "payload", kLen);
}

CreateSpec SampleSpec() {
  CreateSpec s;
  s.record_length = kLen;
  s.keys = {{Segment{1, 4, kKeyFlagModifiable}},
            {Segment{5, 4, kKeyFlagDuplicates | kKeyFlagModifiable}}};
  return s;
}

std::set<std::string> Contents(const std::string& path, std::string* problems) {
  Handle h;
  std::set<std::string> out;
  std::int16_t st = h.Open(path);
  if (st != kStatusOk) {
    *problems += "reopen: " + std::to_string(st) + "\n";
    return out;
  }
  std::int16_t end;
  for (const std::string& r : testing::ReadAll(h, 0, &end)) out.insert(r);
  if (end != kStatusEndOfFile) *problems += "read: " + std::to_string(end) + "\n";
  return out;
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Commits only where the work asks for them (Flush, Close).
    Store::SetCommitWindowForTesting(std::chrono::hours(1));
    base_ = dir_.File("base.dat");
    ASSERT_EQ(testing::CreateFile(base_, SampleSpec()), kStatusOk);
    Handle h;
    ASSERT_EQ(h.Open(base_), kStatusOk);
    for (int i = 0; i < 20; ++i) {
      char k[8];
      std::snprintf(k, sizeof k, "K%03d", i);
      ASSERT_EQ(h.Insert(R(k, "G" + std::to_string(i % 4))), kStatusOk);
      before_.insert(R(k, "G" + std::to_string(i % 4)));
    }
    ASSERT_EQ(h.Close(), kStatusOk);
  }
  void TearDown() override {
    testing::ArmFault(FaultKind::kWrite, 0, false);
    Store::SetVfsForTesting(nullptr);
    Store::ResetCommitWindowForTesting();
  }

  // The work: two commits' worth of changes. Returns the expected contents
  // given the statuses it saw, and a trace of them.
  std::set<std::string> Work(const std::string& path, std::string* trace) {
    std::set<std::string> expected = before_;
    Handle h;
    std::int16_t open = h.Open(path);
    *trace = "open " + std::to_string(open);
    if (open != kStatusOk) return expected;
    std::int16_t get3 = h.Get(kOpGetEqual, "K003");
    // Like a careful program: no Update or Delete after a failed read (the
    // current record would still be the one before).
    std::int16_t update = get3 == kStatusOk ? h.Update(R("K103", "G9")) : -1;
    std::int16_t insert = h.Insert(R("K500", "G1"));
    std::int16_t flush = FlushRecordManager();
    std::int16_t get5 = h.Get(kOpGetEqual, "K005");
    std::int16_t del = get5 == kStatusOk ? h.Delete() : -1;
    std::string stat;
    std::int16_t st = h.Stat(&stat);
    std::int16_t close = h.Close();
    *trace += " get " + std::to_string(get3) + " update " + std::to_string(update) + " insert " +
              std::to_string(insert) + " flush " + std::to_string(flush) + " get " +
              std::to_string(get5) + " delete " + std::to_string(del) + " stat " +
              std::to_string(st) + " close " + std::to_string(close);
    if (flush == kStatusOk) {
      if (update == kStatusOk) {
        expected.erase(R("K003", "G3"));
        expected.insert(R("K103", "G9"));
      }
      if (insert == kStatusOk) expected.insert(R("K500", "G1"));
    }
    if (close == kStatusOk && del == kStatusOk) expected.erase(R("K005", "G1"));
    return expected;
  }

  TempDir dir_;
  std::string base_;
  std::set<std::string> before_;
};

TEST_F(FaultTest, EveryFailureIsReportedAndLeavesOnlyCommittedWork) {
  struct Config {
    FaultKind kind;
    bool persist;
    const char* name;
  } configs[] = {
      {FaultKind::kWrite, false, "write once"},
      {FaultKind::kWrite, true, "write from then on"},
      {FaultKind::kDiskFull, true, "disk full"},
      {FaultKind::kSync, false, "sync once"},
      {FaultKind::kSync, true, "sync from then on"},
      {FaultKind::kLock, false, "lock once"},
      {FaultKind::kLock, true, "lock from then on"},
  };
  const std::string path = dir_.File("work.dat");
  for (const Config& c : configs) {
    int fired_runs = 0;
    for (int n = 1; n < 3000; ++n) {
      // (Removed first: mingw's library does not overwrite on Windows.)
      std::filesystem::remove(path);
      std::filesystem::copy_file(base_, path);
      Store::SetVfsForTesting(testing::FaultVfsName());
      testing::ArmFault(c.kind, n, c.persist);
      std::string trace;
      std::set<std::string> expected = Work(path, &trace);
      const bool fired = testing::FaultFired();
      testing::ArmFault(c.kind, 0, false);
      Store::SetVfsForTesting(nullptr);
      std::string problems;
      std::set<std::string> got = Contents(path, &problems);
      EXPECT_EQ(got, expected) << c.name << " n=" << n << ": " << trace;
      EXPECT_TRUE(testing::FileIsSound(path, &problems))
          << c.name << " n=" << n << ": " << problems;
      EXPECT_EQ(problems, "") << c.name << " n=" << n;
      if (!fired) break;  // the work ran out of calls to fail
      ++fired_runs;
      if (HasFailure()) return;
    }
    EXPECT_GT(fired_runs, 0) << c.name;
  }
}

TEST_F(FaultTest, ADiskFullIsReportedAsStatus18) {
  const std::string path = dir_.File("full.dat");
  std::filesystem::copy_file(base_, path);
  Store::SetVfsForTesting(testing::FaultVfsName());
  Handle h;
  ASSERT_EQ(h.Open(path), kStatusOk);
  testing::ArmFault(FaultKind::kDiskFull, 1, true);
  std::int16_t st = kStatusOk;
  for (int i = 0; i < 50 && st == kStatusOk; ++i) {
    st = h.Insert(R("N" + std::to_string(i), "G1"));
  }
  if (st == kStatusOk) st = FlushRecordManager();
  EXPECT_EQ(st, kStatusDiskFull);
  // The file refuses work until it is closed; Close reports it too.
  EXPECT_EQ(h.Get(kOpGetFirst, ""), kStatusDiskFull);
  EXPECT_EQ(h.Close(), kStatusDiskFull);
  testing::ArmFault(FaultKind::kWrite, 0, false);
  Store::SetVfsForTesting(nullptr);
  std::string problems;
  EXPECT_EQ(Contents(path, &problems), before_);
  EXPECT_TRUE(testing::FileIsSound(path, &problems)) << problems;
}

// The commit's frames, commit mark included, reach the WAL and only the sync
// fails: the failure is reported, and the next opener must not recover them.
TEST_F(FaultTest, ACommitWhoseSyncFailedDoesNotComeBackAtTheNextOpen) {
  const std::string path = dir_.File("sync.dat");
  std::filesystem::copy_file(base_, path);
  Store::SetVfsForTesting(testing::FaultVfsName());
  Handle h;
  ASSERT_EQ(h.Open(path), kStatusOk);
  ASSERT_EQ(h.Get(kOpGetEqual, "K007"), kStatusOk);
  ASSERT_EQ(h.Delete(), kStatusOk);
  testing::ArmFault(FaultKind::kSync, 1, true);
  EXPECT_EQ(h.Close(), kStatusIoError);
  testing::ArmFault(FaultKind::kSync, 0, false);
  Store::SetVfsForTesting(nullptr);
  std::string problems;
  EXPECT_EQ(Contents(path, &problems), before_);
  EXPECT_TRUE(testing::FileIsSound(path, &problems)) << problems;
}

TEST_F(FaultTest, ACreateThatFailsLeavesNoHalfMadeFile) {
  for (FaultKind kind : {FaultKind::kWrite, FaultKind::kSync, FaultKind::kLock}) {
    for (int n = 1; n < 500; ++n) {
      const std::string path = dir_.File("c" + std::to_string(static_cast<int>(kind)) + "_" +
                                         std::to_string(n) + ".dat");
      Store::SetVfsForTesting(testing::FaultVfsName());
      testing::ArmFault(kind, n, true);
      std::int16_t st = testing::CreateFile(path, SampleSpec());
      const bool fired = testing::FaultFired();
      testing::ArmFault(kind, 0, false);
      Store::SetVfsForTesting(nullptr);
      if (st == kStatusOk) {
        std::string problems;
        EXPECT_TRUE(testing::FileIsSound(path, &problems)) << n << ": " << problems;
      } else {
        EXPECT_FALSE(std::filesystem::exists(path)) << n;
      }
      EXPECT_FALSE(std::filesystem::exists(path + ".kel-new")) << n;
      if (!fired) break;
    }
  }
}

// The commit-each-call mode of the stand-in library: every answer is its
// own commit, so a failure belongs to the very call that reports it, and the
// file holds exactly the calls answered 0.
TEST_F(FaultTest, InTheCommitEachCallModeEveryAnswerIsTheFilesTruth) {
  SetCommitEachCall(true);
  const std::string path = dir_.File("each.dat");
  const FaultKind kinds[] = {FaultKind::kWrite, FaultKind::kDiskFull, FaultKind::kSync};
  for (FaultKind kind : kinds) {
    for (bool persist : {false, true}) {
      int fired_runs = 0;
      for (int n = 1; n < 3000; ++n) {
        // Removed first: mingw's copy_file cannot overwrite.
        std::filesystem::remove(path);
        std::filesystem::copy_file(base_, path);
        Store::SetVfsForTesting(testing::FaultVfsName());
        testing::ArmFault(kind, n, persist);
        std::set<std::string> expected = before_;
        std::string trace;
        {
          Handle h;
          const std::int16_t open = h.Open(path);
          trace = "open " + std::to_string(open);
          if (open == kStatusOk) {
            const std::int16_t get3 = h.Get(kOpGetEqual, "K003");
            const std::int16_t update = get3 == kStatusOk ? h.Update(R("K103", "G9")) : -1;
            const std::int16_t insert = h.Insert(R("K500", "G1"));
            const std::int16_t get5 = h.Get(kOpGetEqual, "K005");
            const std::int16_t del = get5 == kStatusOk ? h.Delete() : -1;
            (void)h.Close();
            trace += " update " + std::to_string(update) + " insert " + std::to_string(insert) +
                     " delete " + std::to_string(del);
            if (update == kStatusOk) {
              expected.erase(R("K003", "G3"));
              expected.insert(R("K103", "G9"));
            }
            if (insert == kStatusOk) expected.insert(R("K500", "G1"));
            if (del == kStatusOk) expected.erase(R("K005", "G1"));
          }
        }
        const bool fired = testing::FaultFired();
        testing::ArmFault(kind, 0, false);
        Store::SetVfsForTesting(nullptr);
        std::string problems;
        EXPECT_EQ(Contents(path, &problems), expected) << "n=" << n << ": " << trace;
        EXPECT_TRUE(testing::FileIsSound(path, &problems)) << "n=" << n << ": " << problems;
        if (!fired) break;
        ++fired_runs;
        if (HasFailure()) break;
      }
      EXPECT_GT(fired_runs, 0);
    }
  }
  SetCommitEachCall(false);
}

}  // namespace
}  // namespace kel
