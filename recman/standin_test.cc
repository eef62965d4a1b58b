// The record manager as another program's library: loading a record
// manager's library and choosing it (manager_library.h), and the stand-in
// library (kelbtrv.cc) as a program that links our engine loads it, on every
// system (a killed caller: standin_posix_test.cc).
#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "recman/backend_config.h"
#include "recman/file_spec.h"
#include "recman/manager_library.h"
#include "recman/recman.h"
#include "recman/test_util.h"
#include "tests/support/child_process.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Handle;
using testing::Rec;
using testing::Segment;
using testing::TempDir;

constexpr int kLen = 16;

CreateSpec Spec() {
  CreateSpec s;
  s.record_length = kLen;
  s.keys = {{Segment{1, 4, kKeyFlagModifiable}}};
  return s;
}

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(ManagerLibraryTest, LoadingGivesTheEntryOnceOrSaysWhatIsWrong) {
  struct Case {
    const char* what;
    std::string library;
    std::int16_t status;
    std::vector<std::string> problem_holds;
  };
  const Case cases[] = {
      {"the stand-in", KEL_STANDIN_LIBRARY, kStatusOk, {}},
      {"a missing library",
       "libkel-no-such-manager.so",
       kStatusRecordManagerInactive,
       {"libkel-no-such-manager.so", "cannot be loaded"}},
      {"a library without BTRCALL",
       KEL_PROBE_LIBRARY,
       kStatusRecordManagerInactive,
       {KEL_PROBE_LIBRARY, "no entry point BTRCALL"}},
  };
  for (const Case& c : cases) {
    RecordManagerEntry entry = &BTRCALL;
    std::string problem;
    EXPECT_EQ(LoadRecordManagerLibrary(c.library, &entry, &problem), c.status) << c.what;
    EXPECT_EQ(entry == nullptr, c.status != kStatusOk) << c.what;
    EXPECT_NE(entry, &BTRCALL) << c.what;
    for (const std::string& part : c.problem_holds) {
      EXPECT_TRUE(Holds(problem, part)) << c.what << ": " << problem;
    }
  }
  RecordManagerEntry first = nullptr, again = nullptr;
  std::string problem;
  ASSERT_EQ(LoadRecordManagerLibrary(KEL_STANDIN_LIBRARY, &first, &problem), kStatusOk);
  ASSERT_EQ(LoadRecordManagerLibrary(KEL_STANDIN_LIBRARY, &again, &problem), kStatusOk);
  EXPECT_EQ(first, again);
}

TEST(ManagerLibraryTest, TheConfigurationChoosesOneRecordManagerOrIsRefused) {
  RecordManagerEntry standin = nullptr;
  std::string problem;
  ASSERT_EQ(LoadRecordManagerLibrary(KEL_STANDIN_LIBRARY, &standin, &problem), kStatusOk);
  struct Case {
    const char* what;
    std::string library, server;
    std::int16_t status;
    RecordManagerEntry entry;
    bool own;
    std::vector<std::string> problem_holds;
  };
  const Case cases[] = {
      {"nothing named: our engine", "", "", kStatusOk, &BTRCALL, true, {}},
      {"a server: our engine", "", "host=db1", kStatusOk, &BTRCALL, true, {}},
      {"a library: its entry", KEL_STANDIN_LIBRARY, "", kStatusOk, standin, false, {}},
      {"a library and a server: refused",
       KEL_STANDIN_LIBRARY,
       "host=db1",
       kStatusRecordManagerInactive,
       nullptr,
       false,
       {"Gestor", "Servidor", KEL_STANDIN_LIBRARY}},
      {"a library that is not there",
       "/nonexistent/libkelbtrv.so",
       "",
       kStatusRecordManagerInactive,
       nullptr,
       false,
       {"/nonexistent/libkelbtrv.so"}},
  };
  for (const Case& c : cases) {
    RecordManagerConfig config;
    config.library = c.library;
    config.server = c.server;
    RecordManagerEntry entry = &BTRCALL;
    bool own = !c.own;
    problem.clear();
    EXPECT_EQ(SelectRecordManager(config, &entry, &own, &problem), c.status) << c.what;
    EXPECT_EQ(entry, c.entry) << c.what;
    EXPECT_EQ(own, c.own) << c.what;
    for (const std::string& part : c.problem_holds) {
      EXPECT_TRUE(Holds(problem, part)) << c.what << ": " << problem;
    }
  }
}

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string problem;
    ASSERT_EQ(LoadRecordManagerLibrary(KEL_STANDIN_LIBRARY, &standin_, &problem), kStatusOk)
        << problem;
    path_ = dir_.File("f.dat");
    ASSERT_EQ(testing::CreateFile(path_, Spec()), kStatusOk);
    Handle h;
    ASSERT_EQ(h.Open(path_), kStatusOk);
    for (const char* k : {"K001", "K002", "K003"}) ASSERT_EQ(h.Insert(Rec(k, kLen)), kStatusOk);
    ASSERT_EQ(h.Close(), kStatusOk);
  }

  std::vector<std::string> Records(RecordManagerEntry entry) {
    Handle h(entry);
    EXPECT_EQ(h.Open(path_), kStatusOk);
    std::int16_t end = 0;
    std::vector<std::string> out = testing::ReadAll(h, 0, &end);
    EXPECT_EQ(end, kStatusEndOfFile);
    return out;
  }

  TempDir dir_;
  std::string path_;
  RecordManagerEntry standin_ = nullptr;
};

// The library has an engine of its own: it keeps our files as they are, and
// neither engine takes the other's position blocks for its own.
TEST_F(StandInTest, KeepsOurFilesWithATableOfOpensOfItsOwn) {
  EXPECT_EQ(Records(standin_), Records(&BTRCALL));
  Handle mine, theirs(standin_);
  ASSERT_EQ(mine.Open(path_), kStatusOk);
  ASSERT_EQ(theirs.Open(path_), kStatusOk);
  std::string data, key;
  EXPECT_EQ(Handle(&BTRCALL).Call(kOpGetFirst, &data, &key, 0), kStatusFileNotOpen);
  std::uint32_t length = 1536;
  data.assign(1536, '\0');
  key.assign(256, '\0');
  EXPECT_EQ(BTRCALL(kOpGetFirst, theirs.block(), data.data(), &length, key.data(), 255, 0),
            kStatusFileNotOpen);
  length = 1536;
  EXPECT_EQ(standin_(kOpGetFirst, mine.block(), data.data(), &length, key.data(), 255, 0),
            kStatusFileNotOpen);
  ASSERT_EQ(theirs.Insert(Rec("K004", kLen)), kStatusOk);
  ASSERT_EQ(theirs.Close(), kStatusOk);
  // (Our engine's open still reads in its own transaction until it ends.)
  ASSERT_EQ(mine.Close(), kStatusOk);
  EXPECT_EQ(Records(&BTRCALL).size(), 4u);

  // A file the library creates is one of ours too.
  const std::string made = dir_.File("made.dat");
  EXPECT_EQ(testing::CreateFile(made, Spec(), kCreateNoReplace, standin_), kStatusOk);
  Handle check;
  EXPECT_EQ(check.Open(made), kStatusOk);
}

// Every answer of the library is committed: another connection to the file
// gets its write lock at once (no write transaction left open) and can
// truncate its log (no read transaction left open), and sees every change.
TEST_F(StandInTest, EveryCallIsCommittedBeforeItIsAnswered) {
  Handle theirs(standin_);
  ASSERT_EQ(theirs.Open(path_), kStatusOk);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(db, 0);
  auto count = [&]() {
    sqlite3_stmt* st = nullptr;
    int n = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM kel_records", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      n = sqlite3_column_int(st, 0);
    }
    sqlite3_finalize(st);
    return n;
  };
  auto free_for_writers = [&]() {
    const bool locked = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (locked) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return locked;
  };
  auto no_readers = [&]() {
    int log = -1, done = -1;
    const int rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &log, &done);
    return rc == SQLITE_OK;
  };
  ASSERT_EQ(theirs.Insert(Rec("K010", kLen)), kStatusOk);
  EXPECT_TRUE(free_for_writers()) << "after Insert";
  EXPECT_EQ(count(), 4) << "after Insert";
  ASSERT_EQ(theirs.Get(kOpGetEqual, "K002"), kStatusOk);
  EXPECT_TRUE(free_for_writers()) << "after Get Equal";
  EXPECT_TRUE(no_readers()) << "after Get Equal";
  ASSERT_EQ(theirs.Update(Rec("K002changed", kLen)), kStatusOk);
  EXPECT_TRUE(free_for_writers()) << "after Update";
  ASSERT_EQ(theirs.Get(kOpGetFirst, ""), kStatusOk);
  ASSERT_EQ(theirs.Delete(), kStatusOk);
  EXPECT_TRUE(free_for_writers()) << "after Delete";
  EXPECT_TRUE(no_readers()) << "after Delete";
  EXPECT_EQ(count(), 3) << "after Delete";
  sqlite3_close(db);
  EXPECT_EQ(Records(&BTRCALL)[0], Rec("K002changed", kLen));
}

// The other process of the test below: opens the file through the
// stand-in, inserts, says so, and waits with the file open until told to
// end; then ends without closing anything.
TEST(StandInChild, InsertsAndWaits) {
  if (!IsChildTest()) GTEST_SKIP() << "runs as the child of another test";
  const std::string signals = TestArgument("kel-signals");
  RecordManagerEntry standin = nullptr;
  std::string problem;
  if (LoadRecordManagerLibrary(KEL_STANDIN_LIBRARY, &standin, &problem) != kStatusOk) std::exit(10);
  Handle theirs(standin);
  if (theirs.Open(TestArgument("kel-file")) != kStatusOk) std::exit(11);
  for (int i = 0; i < 20; ++i) {
    if (theirs.Insert(Rec("N" + std::to_string(100 + i), kLen)) != kStatusOk) std::exit(12);
  }
  if (!Signal(signals + "/inserted")) std::exit(13);
  if (!AwaitFile(signals + "/checked")) std::exit(14);
  std::_Exit(0);
}

// Another process that works through the library holds nothing of the file
// between its calls: while it waits with the file open, every answered
// Insert is in the file for this process, which can write to it at once.
TEST_F(StandInTest, AnotherProcessSeesEveryAnsweredCallWhileTheCallerWaits) {
  int code = -1;
  std::thread child([&] {
    code = RunChildTest("StandInChild.InsertsAndWaits",
                        {"--kel-file=" + path_, "--kel-signals=" + dir_.path()});
  });
  const bool inserted = AwaitFile(dir_.path() + "/inserted");
  std::vector<std::string> seen;
  std::int16_t insert = -1;
  if (inserted) {
    seen = Records(&BTRCALL);
    Handle mine;
    EXPECT_EQ(mine.Open(path_), kStatusOk);
    insert = mine.Insert(Rec("K050", kLen));
    EXPECT_EQ(mine.Close(), kStatusOk);
  }
  EXPECT_TRUE(Signal(dir_.path() + "/checked"));
  child.join();
  ASSERT_TRUE(inserted) << "the other process ended with " << code;
  EXPECT_EQ(code, 0);
  EXPECT_EQ(seen.size(), 3u + 20u);
  EXPECT_EQ(insert, kStatusOk) << "no write lock left behind by the other process";
  EXPECT_EQ(Records(&BTRCALL).size(), 3u + 20u + 1u);
  std::string report;
  EXPECT_TRUE(testing::FileIsSound(path_, &report)) << report;
}

#if defined(KEL_STANDIN_GNU_DECORATED)
// A Windows library may export its entry point under the decorated name
// only, as either linker writes it (entry_point.h): it is found, and it
// answers as under the plain name.
TEST(ManagerLibraryTest, ADecoratedEntryPointIsFoundUnderEitherLinkersSpelling) {
  for (const char* library : {KEL_STANDIN_GNU_DECORATED, KEL_STANDIN_MS_DECORATED}) {
    RecordManagerEntry entry = nullptr;
    std::string problem;
    ASSERT_EQ(LoadRecordManagerLibrary(library, &entry, &problem), kStatusOk)
        << library << ": " << problem;
    TempDir dir;
    const std::string path = dir.File("d.dat");
    ASSERT_EQ(testing::CreateFile(path, Spec(), kCreateNoReplace, entry), kStatusOk) << library;
    Handle theirs(entry);
    ASSERT_EQ(theirs.Open(path), kStatusOk) << library;
    EXPECT_EQ(theirs.Insert(Rec("K001", kLen)), kStatusOk) << library;
    std::string stat;
    EXPECT_EQ(theirs.Stat(&stat), kStatusOk) << library;
    EXPECT_EQ(theirs.Close(), kStatusOk) << library;
    Handle mine;
    ASSERT_EQ(mine.Open(path), kStatusOk) << library;
    EXPECT_EQ(mine.Get(kOpGetFirst, ""), kStatusOk) << library;
    EXPECT_EQ(mine.record(), Rec("K001", kLen)) << library;
  }
}
#endif

}  // namespace
}  // namespace kel
