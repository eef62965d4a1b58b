// The store's administrative work: the consistency check, the bulk rewrite
// of one field of every record, and undoing a batch.
#include <sqlite3.h>

#include <string>

#include "recman/key_codec.h"
#include "recman/recman.h"
#include "recman/store.h"

namespace kel {
namespace {

// Runs a query returning one integer; false when it fails.
bool QueryInt(sqlite3* db, const std::string& sql, std::int64_t* out) {
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW;
  if (ok) *out = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  return ok;
}

}  // namespace

void SqliteStore::Rollback() {
  if (txn_ == Txn::kNone) return;
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  txn_ = Txn::kNone;
  counts_serial_ = 0;
  next_id_serial_ = 0;
  ++write_generation_;  // what was read from the undone writes is stale
}

std::int16_t SqliteStore::Check(std::string* report) {
  if (std::int16_t st = Commit(); st != kStatusOk) return st;
  if (std::int16_t st = BeginTransaction(false); st != kStatusOk) return st;
  std::size_t problems = 0;
  auto note = [&](const std::string& line) {
    ++problems;
    *report += line + "\n";
  };

  // A damaged page can stop a statement with an error after any number of
  // rows (or before the first): that stop is itself damage, never the end
  // of a clean report.
  auto stopped = [&](int rc, const std::string& what) {
    if (rc != SQLITE_DONE) note(what + " stopped: " + sqlite3_errstr(rc));
  };
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK) {
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(s, 0);
      std::string line = text == nullptr ? "" : reinterpret_cast<const char*>(text);
      if (line != "ok") note("sqlite: " + line);
    }
    stopped(rc, "sqlite: the integrity check");
  } else {
    note("sqlite: the integrity check could not run");
  }
  sqlite3_finalize(s);

  // Every record: its length, and each stored key equal to the key computed
  // from its bytes (NULL exactly when the record is left out of the key).
  std::string sql = "SELECT id, data";
  const std::size_t n = spec_.keys.size();
  for (std::size_t k = 0; k < n; ++k) {
    sql += ", k";
    sql += std::to_string(k);
  }
  sql += " FROM kel_records ORDER BY id";
  std::int64_t records = 0;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
    std::string enc;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      ++records;
      const std::int64_t id = sqlite3_column_int64(s, 0);
      const int len = sqlite3_column_bytes(s, 1);
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 1));
      if (len != spec_.record_length || data == nullptr) {
        note("record " + std::to_string(id) + ": length " + std::to_string(len));
        continue;
      }
      for (std::size_t k = 0; k < n; ++k) {
        const int col = static_cast<int>(k + 2);
        const bool stored_null = sqlite3_column_type(s, col) == SQLITE_NULL;
        const bool has = EncodeRecordKey(spec_, spec_.keys[k], data, &enc);
        const std::string stored(static_cast<const char*>(sqlite3_column_blob(s, col)),
                                 static_cast<std::size_t>(sqlite3_column_bytes(s, col)));
        if (stored_null == has || (has && stored != enc)) {
          note("record " + std::to_string(id) + ": key " + std::to_string(k) +
               " does not match its bytes");
        }
      }
    }
    stopped(rc, "records: reading after " + std::to_string(records) + " records");
  } else {
    note("records: not readable");
  }
  sqlite3_finalize(s);

  FileCounts counts;
  if (LoadCounts() == kStatusOk) {
    if (counts_.records != records) {
      note("count of records " + std::to_string(counts_.records) + ", found " +
           std::to_string(records));
    }
    for (std::size_t k = 0; k < n; ++k) {
      std::int64_t distinct = -1;
      std::string c = "k";
      c += std::to_string(k);
      if (!QueryInt(db_, "SELECT count(DISTINCT " + c + ") FROM kel_records", &distinct) ||
          distinct != counts_.unique_values[k]) {
        note("key " + std::to_string(k) + ": count of unique values " +
             std::to_string(counts_.unique_values[k]) + ", found " + std::to_string(distinct));
      }
    }
  } else {
    note("counts: not readable");
  }
  Rollback();
  return problems == 0 ? kStatusOk : kStatusIoError;
}

std::int16_t SqliteStore::RewriteEveryRecord(int offset, const std::string& bytes) {
  const int end = offset + static_cast<int>(bytes.size());
  if (std::int16_t st = CheckRewriteRange(offset, bytes.size()); st != kStatusOk) return st;
  if (std::int16_t st = Commit(); st != kStatusOk) return st;
  if (std::int16_t st = BeginTransaction(true); st != kStatusOk) return st;
  // substr() of a BLOB counts bytes; || yields text, which CAST turns back
  // into the same bytes.
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_,
                              "UPDATE kel_records SET data = CAST(substr(data, 1, ?1) || ?2 || "
                              "substr(data, ?3) AS BLOB)",
                              -1, &s, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_int(s, 1, offset);
    sqlite3_bind_blob(s, 2, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
    sqlite3_bind_int(s, 3, end + 1);
    rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_OK) {
    std::int16_t st = Fail(rc);
    Rollback();
    return st;
  }
  ++writes_;
  ++write_generation_;
  return Commit();
}

}  // namespace kel
