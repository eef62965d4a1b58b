// Repairing damaged data files: the keys are built again from the records,
// every record that can be read is kept (those the file can no longer hold
// come back to the caller), and the result passes the check. On both
// engines for damage in our part (stored keys, records changed from
// outside); on SQLite files also for pages damaged on the disk.
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "gtest/gtest.h"
#include "recman/admin.h"
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

constexpr int kLen = 24;

// Key 0: bytes 1-4, unique. Key 1: bytes 5-6, duplicates.
CreateSpec Spec() {
  CreateSpec s;
  s.record_length = kLen;
  s.version = 0x60;
  s.keys = {{Segment{1, 4, kKeyFlagModifiable}},
            {Segment{5, 2, kKeyFlagDuplicates | kKeyFlagModifiable}}};
  return s;
}

std::string R(const std::string& k0, const std::string& k1) {
  return Rec(Rec(k0, 4) + Rec(k1, 2), kLen, '.');
}

class RepairTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == testing::Backend::kServer && testing::TestServer().empty()) {
      GTEST_SKIP() << "no PostgreSQL server for the tests (KEL_TEST_PG)";
    }
    scope_.emplace(GetParam(), dir_.path());
    path_ = dir_.File("r.dat");
    ASSERT_EQ(testing::CreateFile(path_, Spec()), kStatusOk);
    Handle h;
    ASSERT_EQ(h.Open(path_, kOpenNormal), kStatusOk);
    for (const std::string& r : records_) ASSERT_EQ(h.Insert(r), kStatusOk);
    ASSERT_EQ(h.Close(), kStatusOk);
  }
  // Sets one column of one stored record from outside, as an administrator
  // with the engine's own shell (or bytes changed on the disk) would.
  void SetColumn(std::int64_t id, const std::string& column, const std::string& bytes) {
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
      text += hex[c >> 4];
      text += hex[c & 15];
    }
    if (GetParam() == testing::Backend::kSqlite) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
      const std::string sql = "UPDATE kel_records SET " + column + " = x'" + text +
                              "' WHERE id = " + std::to_string(id);
      EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
      sqlite3_close(db);
      return;
    }
    const std::string schema = "\"" + scope_->schema() + "\"";
    std::string error;
    ASSERT_TRUE(testing::RunOnTestServer(
        "DO $$DECLARE t text; BEGIN SELECT 'kel_r' || id INTO t FROM " + schema +
            ".kel_files WHERE name = 'r'; EXECUTE format('UPDATE " + schema + ".%I SET " +
            column + " = decode(%L, ''hex'') WHERE id = " + std::to_string(id) + "', t, '" +
            text + "'); END$$",
        &error))
        << error;
  }
  std::vector<std::string> Records(std::int16_t* status) {
    Handle h;
    EXPECT_EQ(h.Open(path_, kOpenReadOnly), kStatusOk);
    return testing::ReadAll(h, 0, status);
  }
  bool OnSqlite() const { return GetParam() == testing::Backend::kSqlite; }

  TempDir dir_;
  std::optional<testing::BackendScope> scope_;
  std::string path_;
  const std::vector<std::string> records_ = {R("AAAA", "x1"), R("BBBB", "x1"), R("CCCC", "y2"),
                                             R("DDDD", "y2"), R("EEEE", "z3")};
};

// Stored keys changed from outside, as bytes flipped in them would: the
// check names them, the repair builds them again from the records, and
// every record comes back in its order, under its own position.
TEST_P(RepairTest, KeysThatNoLongerMatchTheirRecordsAreBuiltAgain) {
  SetColumn(1, "k0", "ZZZZ");
  SetColumn(4, "k1", "q1");
  std::string report;
  EXPECT_FALSE(testing::FileIsSound(path_, &report));
  EXPECT_NE(report.find("record 1: key 0 does not match its bytes"), std::string::npos) << report;
  RepairOutcome out;
  ASSERT_EQ(RepairDataFile(path_, "", &out), kStatusOk);
  EXPECT_EQ(out.kept, 5);
  EXPECT_TRUE(out.unreadable.empty());
  EXPECT_TRUE(out.refused.empty());
  EXPECT_TRUE(testing::FileIsSound(path_, &report)) << report;
  std::int16_t st = 0;
  EXPECT_EQ(Records(&st), records_);
  EXPECT_EQ(st, kStatusEndOfFile);
  Handle h;
  ASSERT_EQ(h.Open(path_), kStatusOk);
  ASSERT_EQ(h.Direct(4, 1), kStatusOk);  // positions stay with their records
  EXPECT_EQ(h.record(), records_[3]);
  std::string stat;
  ASSERT_EQ(h.Stat(&stat, -1), kStatusOk);
  EXPECT_EQ(static_cast<std::uint8_t>(stat[5]), 0x60) << "the file specification is kept";
  if (OnSqlite()) {
    EXPECT_TRUE(std::filesystem::exists(path_ + ".damaged"));
    EXPECT_EQ(out.damaged_copy, path_ + ".damaged");
  }
}

// A record whose bytes were changed into another record's key of a key
// without duplicates cannot stay in the file: it comes back to the caller
// with its bytes and why, and the rest is repaired.
TEST_P(RepairTest, ARecordWhoseBytesNowDuplicateAUniqueKeyIsHandedBack) {
  const std::string changed = R("AAAA", "q9");
  SetColumn(3, "data", changed);
  RepairOutcome out;
  ASSERT_EQ(RepairDataFile(path_, "", &out), kStatusOk);
  EXPECT_EQ(out.kept, 4);
  ASSERT_EQ(out.refused.size(), 1u);
  EXPECT_EQ(out.refused[0], changed);
  ASSERT_EQ(out.refused_why.size(), 1u);
  EXPECT_NE(out.refused_why[0].find("position 3"), std::string::npos) << out.refused_why[0];
  std::string report;
  EXPECT_TRUE(testing::FileIsSound(path_, &report)) << report;
  std::int16_t st = 0;
  EXPECT_EQ(Records(&st), (std::vector<std::string>{records_[0], records_[1], records_[3],
                                                    records_[4]}));
}

TEST_P(RepairTest, AFileThatIsOpenIsNotRepaired) {
  Handle h;
  ASSERT_EQ(h.Open(path_), kStatusOk);
  RepairOutcome out;
  EXPECT_EQ(RepairDataFile(path_, "", &out), kStatusFileInUse);
  ASSERT_EQ(h.Close(), kStatusOk);
  EXPECT_EQ(RepairDataFile(dir_.File("none.dat"), "", &out), kStatusFileNotFound);
}

std::string EngineName(const ::testing::TestParamInfo<testing::Backend>& param) {
  return testing::BackendName(param.param);
}

INSTANTIATE_TEST_SUITE_P(Engines, RepairTest,
                         ::testing::Values(testing::Backend::kSqlite, testing::Backend::kServer),
                         EngineName);

// The records a plain read by position still returns from a damaged SQLite
// file: what a repair must keep.
std::map<std::int64_t, std::string> ReadableRecords(const std::string& path, int count) {
  std::map<std::int64_t, std::string> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT data FROM kel_records WHERE id = ?1", -1, &s, nullptr) ==
        SQLITE_OK) {
      for (int id = 1; id <= count; ++id) {
        sqlite3_reset(s);
        sqlite3_bind_int64(s, 1, id);
        if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_bytes(s, 0) == 200) {
          out[id] = std::string(static_cast<const char*>(sqlite3_column_blob(s, 0)), 200);
        }
      }
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return out;
}

// Bytes flipped in the pages of either index or of the records, several
// seeds: the repaired file passes the check and holds every record that a
// read by position could still get from the damaged one (at its position,
// byte for byte), or hands it back when the file can no longer hold it;
// with only index pages damaged, every record comes back unchanged.
TEST(RepairDamagedPagesTest, EveryReadableRecordIsKeptAndTheResultPassesTheCheck) {
  constexpr int kRecords = 400;
  TempDir dir;
  const std::string sound = dir.File("sound.dat");
  ASSERT_TRUE(testing::WriteSampleFile(sound, kRecords));
  const std::map<std::int64_t, std::string> original = ReadableRecords(sound, kRecords);
  ASSERT_EQ(original.size(), static_cast<std::size_t>(kRecords));
  int repaired = 0;
  for (const char* btree : {"kel_key0", "kel_key1", "kel_records"}) {
    const std::vector<int> pages = testing::BTreePages(sound, btree);
    ASSERT_FALSE(pages.empty()) << btree;
    for (unsigned seed = 1; seed <= 5; ++seed) {
      SCOPED_TRACE(std::string(btree) + " seed " + std::to_string(seed));
      const std::string path = dir.File(std::string(btree) + std::to_string(seed) + ".dat");
      std::filesystem::copy_file(sound, path);
      testing::FlipBytes(path, pages, 60, seed);
      const std::map<std::int64_t, std::string> readable = ReadableRecords(path, kRecords);
      RepairOutcome out;
      const std::int16_t st = RepairDataFile(path, "", &out);
      if (st == kStatusNotADataFile) continue;  // its description is gone: nothing to rebuild from
      ASSERT_EQ(st, kStatusOk);
      ++repaired;
      std::string report;
      EXPECT_TRUE(testing::FileIsSound(path, &report)) << report;
      EXPECT_EQ(out.kept + static_cast<std::int64_t>(out.refused.size()) >=
                    static_cast<std::int64_t>(readable.size()),
                true);
      Handle h;
      ASSERT_EQ(h.Open(path, kOpenReadOnly), kStatusOk);
      std::size_t found = 0;
      for (const auto& [id, data] : readable) {
        if (h.Direct(static_cast<std::uint32_t>(id), -1) == kStatusOk) {
          EXPECT_EQ(h.record(), data) << "position " << id;
          ++found;
        } else {
          EXPECT_NE(std::find(out.refused.begin(), out.refused.end(), data), out.refused.end())
              << "position " << id << " neither kept nor handed back";
        }
      }
      if (std::string(btree) != "kel_records") {
        EXPECT_EQ(found, original.size()) << "an index's damage loses no record";
        EXPECT_TRUE(out.unreadable.empty());
      }
    }
  }
  EXPECT_GT(repaired, 10);
}

// SQLite's integrity check stops with an error before its first line on
// some damaged pages; the check must call that damage, never
// read the stop as the end of a clean report.
TEST(CheckDamagedPagesTest, AnIntegrityCheckStoppedByTheDamageIsAProblem) {
  constexpr int kRecords = 400;
  TempDir dir;
  const std::string sound = dir.File("sound.dat");
  ASSERT_TRUE(testing::WriteSampleFile(sound, kRecords));
  auto integrity_check_stops = [](const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr);
    int lines = 0;
    if (rc == SQLITE_OK) {
      while ((rc = sqlite3_step(s)) == SQLITE_ROW) ++lines;
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rc != SQLITE_DONE && lines == 0;
  };
  int stopped = 0;
  for (const char* btree : {"kel_key0", "kel_key1", "kel_records"}) {
    const std::vector<int> pages = testing::BTreePages(sound, btree);
    for (unsigned seed = 1; seed <= 300 && stopped < 6; ++seed) {
      const std::string path = dir.File(std::string(btree) + std::to_string(seed) + ".dat");
      std::filesystem::copy_file(sound, path);
      testing::FlipBytes(path, pages, 1 + seed % 4, seed);
      if (!integrity_check_stops(path)) continue;
      ++stopped;
      std::string report;
      EXPECT_FALSE(testing::FileIsSound(path, &report))
          << btree << " seed " << seed << ": the check accepted it";
    }
  }
  EXPECT_GT(stopped, 0) << "no damage stopped SQLite's check: the test proves nothing";
}

}  // namespace
}  // namespace kel
