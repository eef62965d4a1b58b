#include "recman/store.h"

#include <sqlite3.h>

#include <cstring>
#include <thread>

#include "recman/key_codec.h"
#include "recman/recman.h"
#include "recman/store_sql.h"

namespace kel {
namespace {

// How long one bundled transaction may stay open, and how many writes it
// may take: the bound on what a killed process loses and on how long other
// processes wait for the write lock or see old data.
constexpr std::chrono::milliseconds kCommitWindow{20};
// On a server every commit waits for the server's log flush (several
// milliseconds on an ordinary disk) while the server does nothing else for
// this station; twice the window halves that share and still makes a
// rewrite visible to the other stations within about 50 ms.
constexpr std::chrono::milliseconds kServerCommitWindow{40};
std::chrono::milliseconds g_commit_window = kCommitWindow;
std::chrono::milliseconds g_server_commit_window = kServerCommitWindow;
constexpr int kMaxWritesPerTransaction = 4096;
// How long a write waits for another process's write lock before giving up.
constexpr std::chrono::seconds kBusyLimit{30};

void (*g_busy_flush)(Store*) = nullptr;

}  // namespace

void Store::SetCommitWindowForTesting(std::chrono::milliseconds window) {
  g_commit_window = window;
  g_server_commit_window = window;
}
void Store::ResetCommitWindowForTesting() {
  g_commit_window = kCommitWindow;
  g_server_commit_window = kServerCommitWindow;
}
std::chrono::milliseconds Store::CommitWindow() { return g_commit_window; }

namespace {
bool g_sync_each_commit = true;
}  // namespace
void Store::SetSyncEachCommit(bool on) { g_sync_each_commit = on; }
bool Store::SyncEachCommit() { return g_sync_each_commit; }
std::chrono::milliseconds Store::ServerCommitWindow() { return g_server_commit_window; }
void Store::SetBusyFlush(void (*flush)(Store* except)) { g_busy_flush = flush; }
void Store::BusyFlush(Store* except) {
  if (g_busy_flush != nullptr) g_busy_flush(except);
}

std::int16_t Store::AssignAutoincrementValues(std::uint8_t* record) {
  for (std::size_t k = 0; k < spec_.keys.size(); ++k) {
    const KeyDef& def = spec_.keys[k];
    if (!def.autoincrement || RecordIntegerKey(def, record) != 0) continue;
    Row last;
    bool desc = def.segments.front().descending;
    std::int16_t st =
        Seek(static_cast<int>(k), desc ? SeekMode::kFirst : SeekMode::kLast, std::string(), &last);
    if (st != kStatusOk && st != kStatusEndOfFile) return st;
    std::int64_t highest = st == kStatusOk ? DecodeIntegerKey(def, last.key) : 0;
    StoreIntegerKey(def, highest < 0 ? 1 : highest + 1, record);
  }
  return kStatusOk;
}

std::int16_t Store::InsertBatch(const std::vector<std::string>& records, std::size_t* failed) {
  std::string record;
  for (std::size_t i = 0; i < records.size(); ++i) {
    record = records[i];
    std::int64_t id = 0;
    if (std::int16_t st = Insert(reinterpret_cast<std::uint8_t*>(record.data()), &id);
        st != kStatusOk) {
      *failed = i;
      return st;
    }
  }
  return kStatusOk;
}

std::int16_t Store::CheckRewriteRange(int offset, std::size_t size) const {
  const int end = offset + static_cast<int>(size);
  if (offset < 0 || end > spec_.record_length) return kStatusInvalidKeyPosition;
  for (const KeyDef& key : spec_.keys) {
    for (const KeySegment& seg : key.segments) {
      const int a = seg.position - 1;
      const int b = a + seg.length;
      if (offset < b && a < end) return kStatusInvalidKeyPosition;  // keys would go stale
    }
  }
  return kStatusOk;
}

int SqliteStore::BusyHandler(void* self, int count) {
  auto* store = static_cast<SqliteStore*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) {
    store->busy_since_ = now;
    // Before waiting on another process, give up what this process holds
    // on other files: it may be waiting for one of them.
    if (g_busy_flush != nullptr) g_busy_flush(store);
  }
  if (now - store->busy_since_ > kBusyLimit) return 0;
  // Short sleeps: the holder commits within its window, and the waiter
  // should notice at once. Not through Env: this is a real-time wait that
  // must not run the program's wait hooks from inside SQLite.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 1;
}

sqlite3_stmt* SqliteStore::Prepare(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  statements_.emplace(sql, stmt);
  return stmt;
}

sqlite3_stmt* SqliteStore::Cached(int slot, int key) {
  sqlite3_stmt*& s = slots_[slot * spec_.keys.size() + key];
  if (s == nullptr) s = Prepare(KeySql(slot, key));
  return s;
}

std::int16_t SqliteStore::Exec(const char* sql) {
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? kStatusOk : Fail(rc);
}

std::int16_t SqliteStore::Fail(int rc) {
  std::int16_t status = StatusFromSqlite(rc);
  if (status == kStatusOk) status = kStatusIoError;
  if (txn_ != Txn::kNone && sqlite3_get_autocommit(db_)) {
    // SQLite gave up the whole transaction, not just the statement.
    if (txn_ == Txn::kWrite && writes_ > 0 && !batch_) broken_ = status;
    txn_ = Txn::kNone;
    counts_serial_ = 0;
  }
  return status;
}

bool SqliteStore::TransactionExpired(std::chrono::steady_clock::time_point now) const {
  return txn_ != Txn::kNone && now - started_ >= g_commit_window;
}

std::int16_t SqliteStore::Begin(bool write) {
  if (broken_ != kStatusOk) return broken_;
  if (txn_ != Txn::kNone) {
    if (std::chrono::steady_clock::now() - started_ >= g_commit_window ||
        writes_ >= kMaxWritesPerTransaction) {
      if (std::int16_t st = Commit(); st != kStatusOk) return st;
    } else if (write && txn_ == Txn::kRead) {
      if (std::int16_t st = Commit(); st != kStatusOk) return st;
    } else {
      return kStatusOk;
    }
  }
  return BeginTransaction(write);
}

std::int16_t SqliteStore::BeginTransaction(bool write) {
  if (write && file_read_only_) return kStatusAccessDenied;
  int rc = sqlite3_exec(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(rc);
  txn_ = write ? Txn::kWrite : Txn::kRead;
  started_ = std::chrono::steady_clock::now();
  writes_ = 0;
  ++serial_;
  return kStatusOk;
}

std::int16_t SqliteStore::Commit() {
  if (txn_ == Txn::kNone) return kStatusOk;
  std::int16_t status = kStatusOk;
  if (txn_ == Txn::kWrite) status = WriteCounts();
  if (status == kStatusOk && txn_ != Txn::kNone) {
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      txn_ = Txn::kNone;
      return kStatusOk;
    }
    status = Fail(rc);
  }
  const bool wrote = writes_ > 0;
  if (txn_ != Txn::kNone) {
    // The commit failed but SQLite kept the transaction: undo it ourselves
    // so that the file holds exactly what the last good commit left.
    if (txn_ == Txn::kWrite && wrote && !batch_) broken_ = status;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    txn_ = Txn::kNone;
  }
  counts_serial_ = 0;
  if (wrote) OverwriteFailedCommit();
  return status;
}

void SqliteStore::OverwriteFailedCommit() {
  // A commit can fail after its last frame, commit mark included, reached
  // the WAL (the sync failed, or a write after it). SQLite then treats the
  // transaction as undone, but the next opener's recovery would find the
  // frames and bring it back: a failure reported that did not leave the file
  // as before. One small commit of our own lands on the same place in the
  // WAL and ends the chain of checksums there, so those frames can never be
  // recovered. Its own failure changes nothing further: it is a no-op.
  sqlite3_exec(db_,
               "BEGIN IMMEDIATE;"
               "INSERT OR REPLACE INTO kel_counts VALUES (-1, 1 + coalesce("
               "(SELECT value FROM kel_counts WHERE slot = -1), 0));"
               "COMMIT",
               nullptr, nullptr, nullptr);
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::int16_t SqliteStore::ReleaseUnusedWriteLock() {
  if (txn_ != Txn::kWrite || writes_ != 0) return kStatusOk;
  return Commit();
}

std::int16_t SqliteStore::LoadCounts() {
  if (counts_serial_ == serial_) return kStatusOk;
  sqlite3_stmt* s = Prepare("SELECT slot, value FROM kel_counts");
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  counts_.records = 0;
  counts_.unique_values.assign(spec_.keys.size(), 0);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    std::int64_t slot = sqlite3_column_int64(s, 0);
    std::int64_t value = sqlite3_column_int64(s, 1);
    if (slot == 0) {
      counts_.records = value;
    } else if (slot > 0 && slot <= static_cast<std::int64_t>(spec_.keys.size())) {
      counts_.unique_values[slot - 1] = value;
    }
  }
  if (rc != SQLITE_DONE) return Fail(rc);
  counts_dirty_.assign(1 + spec_.keys.size(), false);
  counts_serial_ = serial_;
  return kStatusOk;
}

std::int16_t SqliteStore::WriteCounts() {
  if (counts_serial_ != serial_) return kStatusOk;
  sqlite3_stmt* s = nullptr;
  for (std::size_t slot = 0; slot < counts_dirty_.size(); ++slot) {
    if (!counts_dirty_[slot]) continue;
    if (s == nullptr) s = Prepare("UPDATE kel_counts SET value = ?2 WHERE slot = ?1");
    if (s == nullptr) return kStatusIoError;
    ResetOnExit reset(s);
    sqlite3_bind_int64(s, 1, static_cast<std::int64_t>(slot));
    sqlite3_bind_int64(s, 2, slot == 0 ? counts_.records : counts_.unique_values[slot - 1]);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) return Fail(rc);
    counts_dirty_[slot] = false;
  }
  return kStatusOk;
}

std::int16_t SqliteStore::Counts(FileCounts* out) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  *out = counts_;
  return kStatusOk;
}

std::int16_t SqliteStore::RowFrom(sqlite3_stmt* stmt, int rc, std::int16_t none, Row* row) {
  if (rc == SQLITE_DONE) return none;
  if (rc != SQLITE_ROW) return Fail(rc);
  row->id = sqlite3_column_int64(stmt, 0);
  const void* data = sqlite3_column_blob(stmt, 1);
  int n = sqlite3_column_bytes(stmt, 1);
  // The schema checks the length; a record of another length means the file
  // was damaged from outside.
  if (n != spec_.record_length || data == nullptr) return kStatusIoError;
  row->data.assign(static_cast<const char*>(data), static_cast<std::size_t>(n));
  if (sqlite3_column_count(stmt) > 2) {
    const void* key = sqlite3_column_blob(stmt, 2);
    row->key.assign(static_cast<const char*>(key),
                    static_cast<std::size_t>(sqlite3_column_bytes(stmt, 2)));
  } else {
    row->key.clear();
  }
  return kStatusOk;
}

std::int16_t SqliteStore::Read(std::int64_t id, Row* row) {
  sqlite3_stmt* s = Prepare("SELECT id, data FROM kel_records WHERE id = ?1");
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  sqlite3_bind_int64(s, 1, id);
  return RowFrom(s, sqlite3_step(s), kStatusInvalidRecordAddress, row);
}

std::int16_t SqliteStore::Seek(int key, SeekMode mode, const std::string& encoded, Row* row) {
  static constexpr int kSlots[] = {kSlotFirst,          kSlotLast, kSlotEqual,      kSlotGreater,
                                   kSlotGreaterOrEqual, kSlotLess, kSlotLessOrEqual};
  sqlite3_stmt* s = Cached(kSlots[static_cast<int>(mode)], key);
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  if (mode != SeekMode::kFirst && mode != SeekMode::kLast) {
    BindBlob(s, 1, encoded.data(), encoded.size());
  }
  return RowFrom(s, sqlite3_step(s),
                 mode == SeekMode::kEqual ? kStatusKeyNotFound : kStatusEndOfFile, row);
}

std::int16_t SqliteStore::Next(int key, const std::string& encoded, std::int64_t id, bool forward,
                         Row* row) {
  // Two steps, never one row-value comparison: first the rest of the run of
  // equal keys, then the next key value. A combined "(k, id) > (?, ?)" is
  // planned as a seek on k followed by a walk over every earlier duplicate.
  const KeyDef& def = spec_.keys[key];
  const bool edge = id <= 0 || id > kMaxPosition;
  if (def.duplicates || edge) {
    sqlite3_stmt* s = Cached(forward ? kSlotSameAfter : kSlotSameBefore, key);
    if (s == nullptr) return kStatusIoError;
    ResetOnExit reset(s);
    BindBlob(s, 1, encoded.data(), encoded.size());
    sqlite3_bind_int64(s, 2, id);
    std::int16_t st = RowFrom(s, sqlite3_step(s), kStatusEndOfFile, row);
    if (st != kStatusEndOfFile) return st;
  }
  return Seek(key, forward ? SeekMode::kGreater : SeekMode::kLess, encoded, row);
}

std::int16_t SqliteStore::Step(StepMode mode, std::int64_t id, Row* row) {
  static const char* const kSql[] = {
      "SELECT id, data FROM kel_records ORDER BY id LIMIT 1",
      "SELECT id, data FROM kel_records ORDER BY id DESC LIMIT 1",
      "SELECT id, data FROM kel_records WHERE id > ?1 ORDER BY id LIMIT 1",
      "SELECT id, data FROM kel_records WHERE id < ?1 ORDER BY id DESC LIMIT 1",
  };
  sqlite3_stmt* s = Prepare(kSql[static_cast<int>(mode)]);
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  if (mode == StepMode::kNext || mode == StepMode::kPrevious) sqlite3_bind_int64(s, 1, id);
  return RowFrom(s, sqlite3_step(s), kStatusEndOfFile, row);
}

std::int16_t SqliteStore::KeyValueExists(int key, const std::string& encoded, std::int64_t except_id,
                                   bool* exists) {
  sqlite3_stmt* s = Cached(kSlotExistsOther, key);
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  BindBlob(s, 1, encoded.data(), encoded.size());
  sqlite3_bind_int64(s, 2, except_id);
  int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
  *exists = rc == SQLITE_ROW;
  return kStatusOk;
}

std::int16_t SqliteStore::NextId(std::int64_t* id) {
  if (next_id_serial_ != serial_) {
    sqlite3_stmt* s = Prepare("SELECT max(id) FROM kel_records");
    if (s == nullptr) return kStatusIoError;
    ResetOnExit reset(s);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW) return Fail(rc);
    next_id_ = sqlite3_column_int64(s, 0) + 1;
    next_id_serial_ = serial_;
  }
  if (next_id_ <= kMaxPosition) {
    *id = next_id_;
    return kStatusOk;
  }
  // Positions run out at 2^32 - 1: reuse the lowest free one.
  sqlite3_stmt* s = Prepare(
      "SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM kel_records WHERE id = 1) THEN 1 ELSE"
      " (SELECT a.id + 1 FROM kel_records a WHERE a.id < 4294967295 AND NOT EXISTS"
      " (SELECT 1 FROM kel_records b WHERE b.id = a.id + 1) ORDER BY a.id LIMIT 1) END");
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  int rc = sqlite3_step(s);
  if (rc != SQLITE_ROW) return Fail(rc);
  if (sqlite3_column_type(s, 0) == SQLITE_NULL) return kStatusDiskFull;
  *id = sqlite3_column_int64(s, 0);
  return kStatusOk;
}

std::int16_t SqliteStore::Insert(std::uint8_t* record, std::int64_t* id) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  const std::size_t n = spec_.keys.size();
  if (std::int16_t st = AssignAutoincrementValues(record); st != kStatusOk) return st;
  std::vector<std::string> enc(n);
  std::vector<char> is_null(n), existed(n);
  for (std::size_t k = 0; k < n; ++k) {
    is_null[k] = !EncodeRecordKey(spec_, spec_.keys[k], record, &enc[k]);
    if (!is_null[k] && spec_.keys[k].duplicates) {
      bool exists = false;
      if (std::int16_t st = KeyValueExists(static_cast<int>(k), enc[k], 0, &exists);
          st != kStatusOk) {
        return st;
      }
      existed[k] = exists;
    }
  }
  std::int64_t new_id = 0;
  if (std::int16_t st = NextId(&new_id); st != kStatusOk) return st;
  std::string sql = "INSERT INTO kel_records(id, data";
  for (std::size_t k = 0; k < n; ++k) sql += ", " + KeyColumn(static_cast<int>(k));
  sql += ") VALUES (?1, ?2";
  for (std::size_t k = 0; k < n; ++k) sql += ", ?" + std::to_string(k + 3);
  sql += ")";
  sqlite3_stmt* s = Prepare(sql);
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  sqlite3_bind_int64(s, 1, new_id);
  BindBlob(s, 2, record, spec_.record_length);
  for (std::size_t k = 0; k < n; ++k) {
    if (is_null[k]) {
      sqlite3_bind_null(s, static_cast<int>(k + 3));
    } else {
      BindBlob(s, static_cast<int>(k + 3), enc[k].data(), enc[k].size());
    }
  }
  int rc = sqlite3_step(s);
  if (rc != SQLITE_DONE) return Fail(rc);
  ++counts_.records;
  counts_dirty_[0] = true;
  for (std::size_t k = 0; k < n; ++k) {
    if (!is_null[k] && !existed[k]) {
      ++counts_.unique_values[k];
      counts_dirty_[k + 1] = true;
    }
  }
  next_id_ = new_id + 1;
  ++writes_;
  ++write_generation_;
  *id = new_id;
  return kStatusOk;
}

std::int16_t SqliteStore::Update(std::int64_t id, const std::string& old_record,
                           const std::uint8_t* record) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  const auto* old = reinterpret_cast<const std::uint8_t*>(old_record.data());
  struct Change {
    int key;
    std::string old_enc, new_enc;
    bool old_null, new_null, old_shared, new_shared;
  };
  std::vector<Change> changes;
  for (std::size_t k = 0; k < spec_.keys.size(); ++k) {
    const KeyDef& def = spec_.keys[k];
    if (SameKeyBytes(def, old, record)) continue;
    Change c{static_cast<int>(k), {}, {}, false, false, false, false};
    c.old_null = !EncodeRecordKey(spec_, def, old, &c.old_enc);
    c.new_null = !EncodeRecordKey(spec_, def, record, &c.new_enc);
    if (c.old_null == c.new_null && c.old_enc == c.new_enc) continue;  // equal once folded
    if (!def.modifiable) return kStatusKeyNotModifiable;
    if (def.duplicates) {
      bool e = false;
      if (!c.old_null) {
        if (std::int16_t st = KeyValueExists(c.key, c.old_enc, id, &e); st != kStatusOk) return st;
        c.old_shared = e;
      }
      if (!c.new_null) {
        if (std::int16_t st = KeyValueExists(c.key, c.new_enc, id, &e); st != kStatusOk) return st;
        c.new_shared = e;
      }
    }
    changes.push_back(std::move(c));
  }
  // Only the key columns whose value changes: setting an unchanged column
  // would still rewrite its index entry.
  std::string sql = "UPDATE kel_records SET data = ?1";
  for (std::size_t i = 0; i < changes.size(); ++i) {
    sql += ", " + KeyColumn(changes[i].key) + " = ?" + std::to_string(i + 3);
  }
  sql += " WHERE id = ?2";
  sqlite3_stmt* s = Prepare(sql);
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  BindBlob(s, 1, record, spec_.record_length);
  sqlite3_bind_int64(s, 2, id);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (changes[i].new_null) {
      sqlite3_bind_null(s, static_cast<int>(i + 3));
    } else {
      BindBlob(s, static_cast<int>(i + 3), changes[i].new_enc.data(), changes[i].new_enc.size());
    }
  }
  int rc = sqlite3_step(s);
  if (rc != SQLITE_DONE) return Fail(rc);
  if (sqlite3_changes(db_) != 1) return kStatusInvalidRecordAddress;
  for (const Change& c : changes) {
    std::int64_t& u = counts_.unique_values[c.key];
    if (!c.old_null && !c.old_shared) --u;
    if (!c.new_null && !c.new_shared) ++u;
    counts_dirty_[c.key + 1] = true;
  }
  ++writes_;
  ++write_generation_;
  return kStatusOk;
}

std::int16_t SqliteStore::Delete(std::int64_t id, const std::string& old_record) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  const auto* old = reinterpret_cast<const std::uint8_t*>(old_record.data());
  const std::size_t n = spec_.keys.size();
  std::vector<char> uncount(n);
  for (std::size_t k = 0; k < n; ++k) {
    std::string enc;
    if (!EncodeRecordKey(spec_, spec_.keys[k], old, &enc)) continue;
    bool shared = false;
    if (spec_.keys[k].duplicates) {
      if (std::int16_t st = KeyValueExists(static_cast<int>(k), enc, id, &shared);
          st != kStatusOk) {
        return st;
      }
    }
    uncount[k] = !shared;
  }
  sqlite3_stmt* s = Prepare("DELETE FROM kel_records WHERE id = ?1");
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  sqlite3_bind_int64(s, 1, id);
  int rc = sqlite3_step(s);
  if (rc != SQLITE_DONE) return Fail(rc);
  if (sqlite3_changes(db_) != 1) return kStatusInvalidRecordAddress;
  --counts_.records;
  counts_dirty_[0] = true;
  for (std::size_t k = 0; k < n; ++k) {
    if (uncount[k]) {
      --counts_.unique_values[k];
      counts_dirty_[k + 1] = true;
    }
  }
  ++writes_;
  ++write_generation_;
  return kStatusOk;
}

std::int16_t SqliteStore::SetOwner(const std::string& name, int mode) {
  sqlite3_stmt* s = Prepare("UPDATE kel_file SET owner = ?1, owner_mode = ?2 WHERE id = 1");
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  if (name.empty()) {
    sqlite3_bind_null(s, 1);
    sqlite3_bind_null(s, 2);
  } else {
    BindBlob(s, 1, name.data(), name.size());
    sqlite3_bind_int(s, 2, mode);
  }
  int rc = sqlite3_step(s);
  if (rc != SQLITE_DONE) return Fail(rc);
  owner_ = name;
  owner_mode_ = name.empty() ? 0 : mode;
  ++writes_;
  ++write_generation_;
  return kStatusOk;
}

}  // namespace kel
