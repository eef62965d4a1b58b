// The statements the store runs use their key's index the intended way:
// stepping through a run of equal keys seeks on (key, rowid), never walks
// the run from its start.
#include "recman/store_sql.h"

#include <string>

#include "gtest/gtest.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/test_util.h"

namespace kel {
namespace {

std::string Plan(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  std::string plan;
  if (sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &s, nullptr) != SQLITE_OK) {
    return "cannot prepare: " + std::string(sqlite3_errmsg(db));
  }
  while (sqlite3_step(s) == SQLITE_ROW) {
    plan += reinterpret_cast<const char*>(sqlite3_column_text(s, 3));
    plan += ";";
  }
  sqlite3_finalize(s);
  return plan;
}

TEST(StoreSqlTest, KeyStatementsSearchTheirIndex) {
  testing::TempDir dir;
  testing::CreateSpec file_spec;
  file_spec.record_length = 16;
  file_spec.keys = {{testing::Segment{1, 4, 0}}, {testing::Segment{5, 4, kKeyFlagDuplicates}}};
  const std::string path = dir.File("p.dat");
  ASSERT_EQ(testing::CreateFile(path, file_spec), kStatusOk);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  struct Case {
    int slot;
    const char* expected;
  } cases[] = {
      {kSlotFirst, "USING INDEX kel_key1"},
      {kSlotLast, "USING INDEX kel_key1"},
      {kSlotEqual, "USING INDEX kel_key1 (k1=?)"},
      {kSlotGreater, "USING INDEX kel_key1 (k1>?)"},
      {kSlotGreaterOrEqual, "USING INDEX kel_key1 (k1>?)"},
      {kSlotLess, "USING INDEX kel_key1 (k1<?)"},
      {kSlotLessOrEqual, "USING INDEX kel_key1 (k1<?)"},
      {kSlotSameAfter, "USING INDEX kel_key1 (k1=? AND rowid>?)"},
      {kSlotSameBefore, "USING INDEX kel_key1 (k1=? AND rowid<?)"},
      {kSlotExistsOther, "USING COVERING INDEX kel_key1 (k1=?)"},
  };
  for (const Case& c : cases) {
    std::string plan = Plan(db, KeySql(c.slot, 1));
    EXPECT_NE(plan.find(c.expected), std::string::npos) << "slot " << c.slot << ": " << plan;
    EXPECT_EQ(plan.find("SCAN"), std::string::npos) << "slot " << c.slot << ": " << plan;
    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << "slot " << c.slot << ": " << plan;
  }
  sqlite3_close(db);
}

}  // namespace
}  // namespace kel
