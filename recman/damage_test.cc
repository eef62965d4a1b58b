// Files damaged from outside: a read along a key or in physical order that
// would send a scan back, or in place, or hand over a record filed under a
// key its bytes do not hold, answers 2 and moves nothing, on both engines,
// so that no loop over a damaged file runs for ever.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "recman/cursor.h"
#include "recman/engine_internal.h"
#include "recman/file_spec.h"
#include "recman/key_codec.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Handle;
using testing::Rec;
using testing::Segment;
using testing::TempDir;

constexpr int kLen = 24;

// Key 0: bytes 1-4, unique, modifiable. Key 1: bytes 5-6, duplicates.
CreateSpec Spec() {
  CreateSpec s;
  s.record_length = kLen;
  s.keys = {{Segment{1, 4, kKeyFlagModifiable}},
            {Segment{5, 2, kKeyFlagDuplicates | kKeyFlagModifiable}}};
  return s;
}

std::string R(const std::string& k0, const std::string& k1 = "xx") {
  return Rec(Rec(k0, 4) + Rec(k1, 2), kLen, '.');
}

// Passes everything to the real store, except that the records a Get Next /
// Get Previous (Next) or a Step Next / Previous returns go through `bend`
// first: what an index or a table damaged on the disk could hand back.
class BentStore final : public Store {
 public:
  explicit BentStore(std::unique_ptr<Store> inner) : inner_(std::move(inner)) {
    path_ = inner_->native_path();
    spec_ = inner_->file_spec();
    Sync();
  }
  std::function<void(Row*)> bend;

  std::int16_t Begin(bool write) override { return Synced(inner_->Begin(write)); }
  std::int16_t Commit() override { return Synced(inner_->Commit()); }
  std::int16_t ReleaseUnusedWriteLock() override {
    return Synced(inner_->ReleaseUnusedWriteLock());
  }
  void Rollback() override {
    inner_->Rollback();
    Sync();
  }
  bool HasTransaction() const override { return inner_->HasTransaction(); }
  bool TransactionExpired(std::chrono::steady_clock::time_point now) const override {
    return inner_->TransactionExpired(now);
  }
  bool InWriteTransaction() const override { return inner_->InWriteTransaction(); }
  std::int16_t broken() const override { return inner_->broken(); }
  std::int16_t Counts(FileCounts* out) override { return Synced(inner_->Counts(out)); }
  std::int16_t Read(std::int64_t id, Row* row) override { return Synced(inner_->Read(id, row)); }
  std::int16_t Seek(int key, SeekMode mode, const std::string& encoded, Row* row) override {
    return Synced(inner_->Seek(key, mode, encoded, row));
  }
  std::int16_t Next(int key, const std::string& encoded, std::int64_t id, bool forward,
                    Row* row) override {
    return Bent(inner_->Next(key, encoded, id, forward, row), row);
  }
  std::int16_t Step(StepMode mode, std::int64_t id, Row* row) override {
    const std::int16_t st = inner_->Step(mode, id, row);
    if (mode == StepMode::kNext || mode == StepMode::kPrevious) return Bent(st, row);
    return Synced(st);
  }
  std::int16_t Insert(std::uint8_t* record, std::int64_t* id) override {
    return Synced(inner_->Insert(record, id));
  }
  std::int16_t Update(std::int64_t id, const std::string& old_record,
                      const std::uint8_t* record) override {
    return Synced(inner_->Update(id, old_record, record));
  }
  std::int16_t Delete(std::int64_t id, const std::string& old_record) override {
    return Synced(inner_->Delete(id, old_record));
  }
  std::int16_t SetOwner(const std::string& name, int mode) override {
    return Synced(inner_->SetOwner(name, mode));
  }
  std::int16_t Check(std::string* report) override { return Synced(inner_->Check(report)); }
  std::int16_t RewriteEveryRecord(int offset, const std::string& bytes) override {
    return Synced(inner_->RewriteEveryRecord(offset, bytes));
  }

 private:
  void Sync() {
    serial_ = inner_->serial();
    write_generation_ = inner_->write_generation();
  }
  std::int16_t Synced(std::int16_t st) {
    Sync();
    return st;
  }
  std::int16_t Bent(std::int16_t st, Row* row) {
    Sync();
    if (st == kStatusOk && bend) bend(row);
    return st;
  }
  std::unique_ptr<Store> inner_;
};

class DamageTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == testing::Backend::kServer && testing::TestServer().empty()) {
      GTEST_SKIP() << "no PostgreSQL server for the tests (KEL_TEST_PG)";
    }
    scope_.emplace(GetParam(), dir_.path());
    path_ = dir_.File("d.dat");
    ASSERT_EQ(testing::CreateFile(path_, Spec()), kStatusOk);
    ASSERT_EQ(h_.Open(path_), kStatusOk);
    for (const char* k : {"AAAA", "BBBB", "CCCC", "DDDD", "EEEE"}) {
      ASSERT_EQ(h_.Insert(R(k)), kStatusOk);
    }
  }
  // Puts a BentStore in front of the file's store; `bend` sees every record
  // that Next and the physical Steps return.
  BentStore* Bend(std::function<void(Row*)> bend) {
    Cursor* c = CursorOf(h_.block());
    auto bent = std::make_unique<BentStore>(std::move(c->file->store));
    bent->bend = std::move(bend);
    BentStore* raw = bent.get();
    c->file->store = std::move(bent);
    return raw;
  }
  // The stored form of key 0 of a record (what the index holds).
  std::string Key0(const std::string& record) {
    Cursor* c = CursorOf(h_.block());
    const FileSpec& spec = c->file->store->file_spec();
    std::string encoded;
    EXPECT_TRUE(EncodeRecordKey(spec, spec.keys[0],
                                reinterpret_cast<const std::uint8_t*>(record.data()), &encoded));
    return encoded;
  }
  std::string K0() const { return h_.record().substr(0, 4); }

  TempDir dir_;
  std::optional<testing::BackendScope> scope_;
  std::string path_;
  Handle h_;
};

// A read that an index sends back to a record already passed, or leaves
// where it was, is refused; so is a record filed under a key its bytes do
// not hold. The position stays: the caller can look elsewhere.
TEST_P(DamageTest, AKeyReadThatWouldNotMoveForwardAnswers2AndMovesNothing) {
  struct Case {
    const char* what;
    std::int16_t op;       // Get Next or Get Previous, from CCCC
    const char* replaced;  // the record the damaged index hands back instead
    std::int64_t id;       // and its position
    bool keep_key;         // the index's key stays the true one (else the record's own)
  };
  const Case cases[] = {
      {"next goes back", kOpGetNext, "AAAA", 1, false},
      {"next stays in place", kOpGetNext, "CCCC", 3, false},
      {"previous goes forward", kOpGetPrevious, "EEEE", 5, false},
      {"previous stays in place", kOpGetPrevious, "CCCC", 3, false},
      {"next: bytes of another record under the right key", kOpGetNext, "AAAA", 4, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(h_.Get(kOpGetEqual, "CCCC"), kStatusOk);
    const std::string replaced = R(c.replaced);
    BentStore* bent = Bend([&](Row* row) {
      if (!c.keep_key) row->key = Key0(replaced);
      row->data = replaced;
      row->id = c.id;
    });
    EXPECT_EQ(h_.Get(c.op, ""), kStatusIoError);
    bent->bend = nullptr;
    // Nothing moved: the scan goes on from CCCC.
    ASSERT_EQ(h_.Get(c.op, ""), kStatusOk);
    EXPECT_EQ(K0(), c.op == kOpGetNext ? "DDDD" : "BBBB");
  }
}

TEST_P(DamageTest, AStepThatWouldNotMoveForwardAnswers2AndMovesNothing) {
  ASSERT_EQ(h_.Step(kOpStepFirst), kStatusOk);
  ASSERT_EQ(h_.Step(kOpStepNext), kStatusOk);
  ASSERT_EQ(h_.Step(kOpStepNext), kStatusOk);  // CCCC, position 3
  for (std::int16_t op : {kOpStepNext, kOpStepPrevious}) {
    for (std::int64_t id : {1, 3, 5}) {
      const bool beyond = op == kOpStepNext ? id > 3 : id < 3;
      if (beyond) continue;
      SCOPED_TRACE(std::to_string(op) + " to position " + std::to_string(id));
      BentStore* bent = Bend([id](Row* row) { row->id = id; });
      EXPECT_EQ(h_.Step(op), kStatusIoError);
      bent->bend = nullptr;
      std::uint32_t pos = 0;
      ASSERT_EQ(h_.Position(&pos), kStatusOk);
      EXPECT_EQ(pos, 3u);
    }
  }
  ASSERT_EQ(h_.Step(kOpStepNext), kStatusOk);
  EXPECT_EQ(K0(), "DDDD");
}

// The position after an Update that moved the key is the record's new
// place: a Get Next from there is not a move back, though the record just
// passed sorts before the one the scan started from.
TEST_P(DamageTest, AfterAnUpdateThatMovedTheKeyTheScanGoesOnFromTheNewPlace) {
  ASSERT_EQ(h_.Get(kOpGetEqual, "DDDD"), kStatusOk);
  ASSERT_EQ(h_.Update(R("BBBC")), kStatusOk);
  ASSERT_EQ(h_.Get(kOpGetNext, ""), kStatusOk);
  EXPECT_EQ(K0(), "CCCC");
  ASSERT_EQ(h_.Get(kOpGetEqual, "AAAA"), kStatusOk);
  ASSERT_EQ(h_.Update(R("ZZZZ")), kStatusOk);
  EXPECT_EQ(h_.Get(kOpGetNext, ""), kStatusEndOfFile);
  std::int16_t st = 0;
  EXPECT_EQ(testing::ReadAllBackwards(h_, 0, &st).size(), 5u);
  EXPECT_EQ(st, kStatusEndOfFile);
}

// The converters' loop at the entry point: Get Greater or Equal from the
// start, then per record Get Position, an Update that changes a byte outside
// the keys, Get Direct of the position, Get Next. Ends at the first status
// other than 0, or after `limit` records.
struct LoopEnd {
  int records = 0;
  std::int16_t status = 0;
  bool ended() const { return status != kStatusOk; }
};
LoopEnd ConversionLoop(Handle& h, int limit) {
  LoopEnd end;
  end.status = h.Get(kOpGetGreaterOrEqual, "", 0);
  while (end.status == kStatusOk && end.records < limit) {
    ++end.records;
    std::uint32_t pos = 0;
    (void)h.Position(&pos);
    std::string changed = h.record();
    changed.back() = static_cast<char>(changed.back() + 1);
    (void)h.Update(changed, 0);
    (void)h.Direct(pos, 0);
    end.status = h.Get(kOpGetNext, "", 0);
  }
  return end;
}

// A record whose stored key was changed from outside to one that sorts after
// every other, its bytes left as they were: a rewrite puts the scan back
// where the bytes say, and before the check the loop came back to the
// records it had passed for ever. Now the scan stops at that record with 2.
TEST_P(DamageTest, ARecordFiledUnderAKeyItsBytesDoNotHoldEndsTheScanWith2) {
  ASSERT_EQ(h_.Close(), kStatusOk);
  if (GetParam() == testing::Backend::kSqlite) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE kel_records SET k0 = x'5A5A5A5A' WHERE id = 1", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  } else {
    const std::string schema = "\"" + scope_->schema() + "\"";
    std::string error;
    ASSERT_TRUE(testing::RunOnTestServer(
        "DO $$DECLARE t text; BEGIN SELECT 'kel_r' || id INTO t FROM " + schema +
            ".kel_files WHERE name = 'd'; EXECUTE format('UPDATE " + schema +
            ".%I SET k0 = ''\\x5a5a5a5a''::bytea WHERE id = 1', t); END$$",
        &error))
        << error;
  }
  ASSERT_EQ(h_.Open(path_), kStatusOk);
  const LoopEnd end = ConversionLoop(h_, 100);
  EXPECT_EQ(end.status, kStatusIoError);
  EXPECT_EQ(end.records, 4);  // BBBB to EEEE, then AAAA filed under ZZZZ
  std::string report;
  EXPECT_NE(testing::FileIsSound(path_, &report), true);
}

std::string EngineName(const ::testing::TestParamInfo<testing::Backend>& param) {
  return testing::BackendName(param.param);
}

INSTANTIATE_TEST_SUITE_P(Engines, DamageTest,
                         ::testing::Values(testing::Backend::kSqlite, testing::Backend::kServer),
                         EngineName);

// --- Bytes changed on the disk -------------------------------------------------

// Bytes flipped in the pages of either index or of the records, several
// seeds: every loop of the kind the converters and the tools run (along key
// 0 rewriting each record, along either key reading, in physical order)
// ends; none passes more records than the file holds.
TEST(DamagedFileTest, BytesFlippedInIndexOrRecordPagesNeverMakeALoopRunForEver) {
  constexpr int kRecords = 400;
  TempDir dir;
  const std::string sound = dir.File("sound.dat");
  ASSERT_TRUE(testing::WriteSampleFile(sound, kRecords));
  int opened = 0, refused_somewhere = 0;
  for (const char* btree : {"kel_key0", "kel_key1", "kel_records"}) {
    const std::vector<int> pages = testing::BTreePages(sound, btree);
    ASSERT_FALSE(pages.empty()) << btree;
    for (unsigned seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE(std::string(btree) + " seed " + std::to_string(seed));
      const std::string path = dir.File(std::string(btree) + std::to_string(seed) + ".dat");
      std::filesystem::copy_file(sound, path);
      testing::FlipBytes(path, pages, 60, seed);
      Handle h;
      if (h.Open(path) != kStatusOk) continue;  // unreadable: nothing can loop
      ++opened;
      const LoopEnd end = ConversionLoop(h, 3 * kRecords);
      EXPECT_TRUE(end.ended()) << "the rewriting loop passed " << end.records << " records";
      EXPECT_LE(end.records, kRecords);
      for (int key : {0, 1}) {
        int n = 0;
        std::int16_t st = h.Get(kOpGetFirst, "", key);
        while (st == kStatusOk && n <= kRecords) {
          ++n;
          st = h.Get(kOpGetNext, "", key);
        }
        EXPECT_NE(st, kStatusOk) << "key " << key;
        n = 0;
        st = h.Get(kOpGetLast, "", key);
        while (st == kStatusOk && n <= kRecords) {
          ++n;
          st = h.Get(kOpGetPrevious, "", key);
        }
        EXPECT_NE(st, kStatusOk) << "key " << key << " backwards";
      }
      int n = 0;
      std::int16_t st = h.Step(kOpStepFirst);
      while (st == kStatusOk && n <= kRecords) {
        ++n;
        st = h.Step(kOpStepNext);
      }
      EXPECT_NE(st, kStatusOk) << "physical order";
      if (end.status != kStatusEndOfFile) ++refused_somewhere;
    }
  }
  // The damage was real: most files opened, and some scans met it.
  EXPECT_GT(opened, 0);
  EXPECT_GT(refused_somewhere, 0);
}

}  // namespace
}  // namespace kel
