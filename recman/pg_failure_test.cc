// The server engine when the server goes away: a lost session (a server
// restart, an administrator ending it, a broken network) gives a status and
// never a success, loses exactly the work not yet committed, and leaves the
// file whole for the next open.
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "gtest/gtest.h"
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Handle;
using testing::Rec;
using testing::Segment;
using testing::TempDir;

class ServerFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::TestServer().empty()) GTEST_SKIP() << "no PostgreSQL server for the tests";
    scope_.emplace(testing::Backend::kServer, dir_.path());
    // A session this test can find and end without touching other tests'.
    app_ = "kelfail" + std::to_string(::getpid());
    RecordManagerConfig config = RecordManagerConfiguration();
    config.server += (config.server.find('?') == std::string::npos ? "?" : "&");
    config.server += "application_name=" + app_;
    ConfigureRecordManager(config);
    path_ = dir_.File("f.dat");
    CreateSpec s;
    s.record_length = 16;
    s.keys = {{Segment{1, 4, kKeyFlagModifiable}}};
    ASSERT_EQ(testing::CreateFile(path_, s), kStatusOk);
    ASSERT_EQ(h_.Open(path_), kStatusOk);
    for (const char* k : {"A", "B", "C"}) ASSERT_EQ(h_.Insert(R(k, '0')), kStatusOk);
    ASSERT_EQ(FlushRecordManager(), kStatusOk);
  }
  // A record of key `k` (4 bytes), its other bytes `fill`.
  static std::string R(const std::string& k, char fill) { return Rec(k, 4) + std::string(12, fill); }
  void EndSession() {
    std::string error;
    ASSERT_TRUE(testing::RunOnTestServer(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" +
            app_ + "'",
        &error))
        << error;
  }
  // An administrator's constraint: the server refuses records whose fifth
  // byte is '9' (in the file created `nth`, counting from 1).
  void RefuseNinesInTheFifthByte(int nth = 1) {
    std::string error;
    ASSERT_TRUE(testing::RunOnTestServer(
        "ALTER TABLE \"" + scope_->schema() + "\".kel_r" + std::to_string(nth) +
            " ADD CONSTRAINT no_nines"
            " CHECK (substring(data from 5 for 1) <> '\\x39'::bytea) NOT VALID",
        &error))
        << error;
  }
  // A second file: key 0 bytes 1-4 unique, key 1 bytes 5-6 with duplicates,
  // 40 records whose key 1 is "00".
  void OpenFileWithDuplicates(Handle* h, std::string* path) {
    *path = dir_.File("d.dat");
    CreateSpec s;
    s.record_length = 16;
    s.keys = {{Segment{1, 4, kKeyFlagModifiable}},
              {Segment{5, 2, kKeyFlagDuplicates | kKeyFlagModifiable}}};
    ASSERT_EQ(testing::CreateFile(*path, s), kStatusOk);
    ASSERT_EQ(h->Open(*path), kStatusOk);
    for (int i = 0; i < 40; ++i) {
      ASSERT_EQ(h->Insert(R(std::to_string(100 + i), '0')), kStatusOk);
    }
    ASSERT_EQ(FlushRecordManager(), kStatusOk);
  }
  // What a fresh session finds under key `k`.
  std::string Stored(const std::string& k) {
    Handle h;
    if (h.Open(path_) != kStatusOk) return "(no open)";
    if (h.Get(kOpGetEqual, Rec(k, 4)) != kStatusOk) return "(none)";
    return h.record();
  }

  TempDir dir_;
  std::optional<testing::BackendScope> scope_;
  std::string app_, path_;
  Handle h_;
};

TEST_F(ServerFailureTest, ALostSessionFailsEveryLaterCallAndLosesOnlyUncommittedWork) {
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("A", 4)), kStatusOk);
  ASSERT_EQ(h_.Update(R("A", '1')), kStatusOk);  // committed
  ASSERT_EQ(FlushRecordManager(), kStatusOk);
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("B", 4)), kStatusOk);
  ASSERT_EQ(h_.Update(R("B", '2')), kStatusOk);  // acknowledged, not committed
  EndSession();
  // Whatever comes next learns it, and keeps learning it until Close.
  EXPECT_EQ(h_.Get(kOpGetEqual, Rec("C", 4)), kStatusIoError);
  EXPECT_EQ(h_.Insert(R("D", '0')), kStatusIoError);
  EXPECT_EQ(h_.Get(kOpGetFirst, ""), kStatusIoError);
  EXPECT_EQ(FlushRecordManager(), kStatusIoError);
  EXPECT_EQ(h_.Close(), kStatusIoError);

  EXPECT_EQ(Stored("A"), R("A", '1'));
  EXPECT_EQ(Stored("B"), R("B", '0'));
  EXPECT_EQ(Stored("D"), "(none)");
  std::string report;
  EXPECT_TRUE(testing::FileIsSound(path_, &report)) << report;
}

TEST_F(ServerFailureTest, ACommitOnALostSessionIsAFailure) {
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("C", 4)), kStatusOk);
  ASSERT_EQ(h_.Update(R("C", '3')), kStatusOk);
  EndSession();
  EXPECT_EQ(FlushRecordManager(), kStatusIoError);
  EXPECT_EQ(h_.Close(), kStatusIoError);
  EXPECT_EQ(Stored("C"), R("C", '0'));
}

TEST_F(ServerFailureTest, ARefusedRewriteKeptBackIsReportedAndUndoesItsWindow) {
  // The rewrite the server refuses is only sent with the next statement.
  ASSERT_NO_FATAL_FAILURE(RefuseNinesInTheFifthByte());
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("A", 4)), kStatusOk);
  ASSERT_EQ(h_.Update(R("A", '1')), kStatusOk);
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("B", 4)), kStatusOk);
  ASSERT_EQ(h_.Update(R("B", '9')), kStatusOk);  // acknowledged, not yet sent
  // Reads may still answer (the rewrite changes no key); the commit may not.
  EXPECT_EQ(FlushRecordManager(), kStatusIoError);
  EXPECT_EQ(h_.Get(kOpGetEqual, Rec("C", 4)), kStatusIoError);
  EXPECT_EQ(h_.Get(kOpGetFirst, ""), kStatusIoError);
  EXPECT_EQ(h_.Close(), kStatusIoError);
  // The whole window went: A's rewrite too.
  EXPECT_EQ(Stored("A"), R("A", '0'));
  EXPECT_EQ(Stored("B"), R("B", '0'));
}

TEST_F(ServerFailureTest, KeyChangingRewritesAnswerDuplicatesAtOnceAndKeepTheNewestBytes) {
  // A is rewritten without moving its key (kept back), then moved to E: the
  // moved record must have the second bytes, not the first.
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("A", 4)), kStatusOk);
  ASSERT_EQ(h_.Update(R("A", '1')), kStatusOk);
  ASSERT_EQ(h_.Update(R("E", '2')), kStatusOk);
  // B to E: taken, refused by this very call, B unchanged.
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("B", 4)), kStatusOk);
  EXPECT_EQ(h_.Update(R("E", '3')), kStatusDuplicateKey);
  // The same window reads the moved record where it went.
  EXPECT_EQ(h_.Get(kOpGetEqual, Rec("A", 4)), kStatusKeyNotFound);
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("E", 4)), kStatusOk);
  EXPECT_EQ(h_.record(), R("E", '2'));
  ASSERT_EQ(h_.Get(kOpGetLast, ""), kStatusOk);
  EXPECT_EQ(h_.record(), R("E", '2'));
  EXPECT_EQ(FlushRecordManager(), kStatusOk);
  EXPECT_EQ(h_.Close(), kStatusOk);
  EXPECT_EQ(Stored("E"), R("E", '2'));
  EXPECT_EQ(Stored("B"), R("B", '0'));
  EXPECT_EQ(Stored("A"), "(none)");
  std::string report;
  EXPECT_TRUE(testing::FileIsSound(path_, &report)) << report;
}

TEST_F(ServerFailureTest, ARefusedKeyChangingRewriteIsReportedAndUndoesItsWindow) {
  ASSERT_NO_FATAL_FAILURE(RefuseNinesInTheFifthByte());
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("A", 4)), kStatusOk);
  ASSERT_EQ(h_.Update(R("F", '1')), kStatusOk);
  ASSERT_EQ(h_.Get(kOpGetEqual, Rec("B", 4)), kStatusOk);
  (void)h_.Update(R("G", '9'));  // refused by the server, now or later
  // Never a success from here on: the next answer, the commit or the Close.
  std::int16_t next = h_.Get(kOpGetEqual, Rec("C", 4));
  std::int16_t flushed = FlushRecordManager();
  EXPECT_TRUE(next != kStatusOk || flushed != kStatusOk);
  EXPECT_EQ(h_.Close(), kStatusIoError);
  EXPECT_EQ(Stored("A"), R("A", '0'));
  EXPECT_EQ(Stored("B"), R("B", '0'));
  EXPECT_EQ(Stored("F"), "(none)");
  EXPECT_EQ(Stored("G"), "(none)");
}

TEST_F(ServerFailureTest, ARefusedRewriteMovingAKeyWithDuplicatesIsReportedAndUndoesItsWindow) {
  Handle h;
  std::string path;
  ASSERT_NO_FATAL_FAILURE(OpenFileWithDuplicates(&h, &path));
  ASSERT_NO_FATAL_FAILURE(RefuseNinesInTheFifthByte(2));
  // Enough rewrites moving key 1 that the station knows its values and
  // keeps such rewrites back; the last one is refused by the server.
  std::string stat_before;
  ASSERT_EQ(h.Stat(&stat_before), kStatusOk);
  ASSERT_EQ(h.Get(kOpGetFirst, ""), kStatusOk);
  for (int i = 0; i < 39; ++i) {
    ASSERT_EQ(h.Update(h.record().substr(0, 4) + std::to_string(10 + i % 5) + "xxxxxxxxxx"),
              kStatusOk);
    ASSERT_EQ(h.Get(kOpGetNext, ""), kStatusOk);
  }
  ASSERT_EQ(h.Update(h.record().substr(0, 4) + "95xxxxxxxxxx"), kStatusOk);  // kept back
  std::string stat;
  EXPECT_EQ(h.Stat(&stat), kStatusOk);
  // Never a success from the commit on, and nothing of the window stays.
  EXPECT_EQ(FlushRecordManager(), kStatusIoError);
  EXPECT_EQ(h.Get(kOpGetFirst, ""), kStatusIoError);
  EXPECT_EQ(h.Close(), kStatusIoError);
  Handle fresh;
  ASSERT_EQ(fresh.Open(path), kStatusOk);
  std::string stat_after;
  ASSERT_EQ(fresh.Stat(&stat_after), kStatusOk);
  EXPECT_EQ(stat_after, stat_before);
  std::int16_t st;
  for (const std::string& r : testing::ReadAll(fresh, 1, &st)) {
    EXPECT_EQ(r.substr(4), std::string(12, '0'));
  }
  ASSERT_EQ(fresh.Close(), kStatusOk);
  std::string report;
  EXPECT_TRUE(testing::FileIsSound(path, &report)) << report;
}

TEST_F(ServerFailureTest, ABatchOfInsertsTheServerRefusesKeepsNothingAndTheFileGoesOn) {
  Handle h;
  std::string path;
  ASSERT_NO_FATAL_FAILURE(OpenFileWithDuplicates(&h, &path));
  ASSERT_NO_FATAL_FAILURE(RefuseNinesInTheFifthByte(2));
  std::string stat_before;
  ASSERT_EQ(h.Stat(&stat_before), kStatusOk);
  std::vector<std::string> batch;
  for (int i = 0; i < 300; ++i) batch.push_back(R(std::to_string(500 + i), i == 200 ? '9' : '1'));
  std::size_t failed = 0;
  EXPECT_EQ(InsertAll(h.block(), batch, &failed), kStatusIoError);
  std::string stat;
  ASSERT_EQ(h.Stat(&stat), kStatusOk);
  EXPECT_EQ(stat, stat_before);
  EXPECT_EQ(h.Get(kOpGetEqual, Rec("500", 4)), kStatusKeyNotFound);
  // A batch was never acknowledged: the file goes on.
  batch[200] = R("700", '1');
  ASSERT_EQ(InsertAll(h.block(), batch, &failed), kStatusOk);
  ASSERT_EQ(h.Close(), kStatusOk);
  std::string report;
  EXPECT_TRUE(testing::FileIsSound(path, &report)) << report;
}

TEST_F(ServerFailureTest, LocksAndExclusiveOpensEndWithTheSession) {
  ASSERT_EQ(h_.Close(), kStatusOk);
  Handle ex;
  ASSERT_EQ(ex.Open(path_, kOpenExclusive), kStatusOk);
  EndSession();
  // Another station (a session of its own) may open the file now.
  pid_t pid = ::fork();
  if (pid == 0) {
    ResetRecordManagerConfig();
    RecordManagerConfig config;
    config.server = testing::TestServer();
    config.schema = scope_->schema();
    config.install_root = dir_.path() + "/";
    ConfigureRecordManager(config);
    Handle other;
    ::_exit(other.Open(path_, kOpenExclusive) == kStatusOk ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ex.Close(), kStatusIoError);  // its session is gone
}

TEST(ServerUnreachableTest, OpenAndCreateGiveAStatus) {
  TempDir dir;
  RecordManagerConfig config;
  config.server = "host=" + dir.path() + " port=1 connect_timeout=2";
  config.install_root = dir.path() + "/";
  ConfigureRecordManager(config);
  CreateSpec s;
  s.record_length = 8;
  s.keys = {{Segment{1, 4, 0}}};
  EXPECT_EQ(testing::CreateFile(dir.File("u.dat"), s), kStatusIoError);
  Handle h;
  EXPECT_EQ(h.Open(dir.File("u.dat")), kStatusIoError);
  ResetRecordManagerConfig();
}

}  // namespace
}  // namespace kel
