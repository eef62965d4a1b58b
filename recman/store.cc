#include "recman/store.h"

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/system.h"
#include "recman/key_codec.h"
#include "recman/recman.h"
#include "util/cp850.h"

namespace kel {
namespace {

// How long one bundled transaction may stay open, and how many writes it
// may take: the bound on what a killed process loses and on how long other
// processes wait for the write lock or see old data.
constexpr std::chrono::milliseconds kCommitWindow{20};
std::chrono::milliseconds g_commit_window = kCommitWindow;
constexpr int kMaxWritesPerTransaction = 4096;
// How long a write waits for another process's write lock before giving up.
constexpr std::chrono::seconds kBusyLimit{30};

constexpr int kFormat = 1;
constexpr int kApplicationId = 0x4B454C52;  // "KELR"

const char* g_vfs = nullptr;
void (*g_busy_flush)(Store*) = nullptr;

// Statement slots per key.
enum KeySlot {
  kSlotFirst,
  kSlotLast,
  kSlotEqual,
  kSlotGreater,
  kSlotGreaterOrEqual,
  kSlotLess,
  kSlotLessOrEqual,
  kSlotSameAfter,
  kSlotSameBefore,
  kSlotExistsOther,
  kKeySlotCount,
};

// (Appending, not "k" + ...: GCC 12 warns wrongly about the latter.)
std::string Col(int key) {
  std::string col = "k";
  col += std::to_string(key);
  return col;
}

std::string KeySql(int slot, int key) {
  const std::string k = Col(key);
  const std::string from = " FROM kel_records INDEXED BY kel_key" + std::to_string(key) + " WHERE ";
  const std::string select = "SELECT id, data, " + k + from;
  const std::string up = " ORDER BY " + k + ", id LIMIT 1";
  const std::string down = " ORDER BY " + k + " DESC, id DESC LIMIT 1";
  switch (slot) {
    case kSlotFirst:
      return select + k + " IS NOT NULL" + up;
    case kSlotLast:
      return select + k + " IS NOT NULL" + down;
    case kSlotEqual:
      return select + k + " = ?1" + up;
    case kSlotGreater:
      return select + k + " > ?1" + up;
    case kSlotGreaterOrEqual:
      return select + k + " >= ?1" + up;
    case kSlotLess:
      return select + k + " < ?1" + down;
    case kSlotLessOrEqual:
      return select + k + " <= ?1" + down;
    case kSlotSameAfter:
      return select + k + " = ?1 AND id > ?2" + up;
    case kSlotSameBefore:
      return select + k + " = ?1 AND id < ?2" + down;
    case kSlotExistsOther:
      return "SELECT 1" + from + k + " = ?1 AND id <> ?2 LIMIT 1";
  }
  return "";
}

// Resets a statement when the scope ends, whatever path leaves it.
class ResetOnExit {
 public:
  explicit ResetOnExit(sqlite3_stmt* s) : s_(s) {}
  ~ResetOnExit() {
    if (s_ != nullptr) sqlite3_reset(s_);
  }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  sqlite3_stmt* s_;
};

void BindBlob(sqlite3_stmt* s, int i, const void* p, std::size_t n) {
  // A zero-length BLOB must not bind as NULL.
  static const char kEmpty = 0;
  sqlite3_bind_blob(s, i, n ? p : &kEmpty, static_cast<int>(n), SQLITE_STATIC);
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

}  // namespace

std::int16_t StatusFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kStatusOk;
    case SQLITE_CONSTRAINT:
      return (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY)
                 ? kStatusDuplicateKey
                 : kStatusIoError;
    case SQLITE_FULL:
      return kStatusDiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kStatusFileInUse;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return kStatusAccessDenied;
    case SQLITE_NOTADB:
      return kStatusNotADataFile;
    default:
      return kStatusIoError;  // I/O errors, corruption, out of memory
  }
}

void Store::SetVfsForTesting(const char* vfs_name) { g_vfs = vfs_name; }
void Store::SetCommitWindowForTesting(std::chrono::milliseconds window) {
  g_commit_window = window;
}
void Store::SetBusyFlush(void (*flush)(Store* except)) { g_busy_flush = flush; }

Store::~Store() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  // An open transaction here was not committed on purpose (a failure):
  // closing the connection rolls it back.
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

int Store::BusyHandler(void* self, int count) {
  auto* store = static_cast<Store*>(self);
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

std::int16_t Store::Open(const std::string& native_path, std::unique_ptr<Store>* out) {
  std::unique_ptr<Store> s(new Store());
  s->path_ = native_path;
  int rc = sqlite3_open_v2(native_path.c_str(), &s->db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, g_vfs);
  if (rc != SQLITE_OK) {
    return (rc & 0xFF) == SQLITE_CANTOPEN ? kStatusAccessDenied : StatusFromSqlite(rc);
  }
  sqlite3_extended_result_codes(s->db_, 1);
  sqlite3_busy_handler(s->db_, &Store::BusyHandler, s.get());
  s->file_read_only_ = sqlite3_db_readonly(s->db_, "main") == 1;

  // Ours when the description row is there and reads back as a valid file
  // specification; anything else (another SQLite database, a text file, an
  // empty file) is not a data file.
  sqlite3_stmt* stmt = nullptr;
  rc = sqlite3_prepare_v2(s->db_,
                          "SELECT format, record_length, create_buffer, owner, owner_mode "
                          "FROM kel_file WHERE id = 1",
                          -1, &stmt, nullptr);
  if (rc != SQLITE_OK) {
    int code = rc & 0xFF;
    return (code == SQLITE_ERROR || code == SQLITE_NOTADB) ? kStatusNotADataFile
                                                           : StatusFromSqlite(rc);
  }
  rc = sqlite3_step(stmt);
  std::int16_t status = kStatusOk;
  if (rc == SQLITE_ROW) {
    const void* buf = sqlite3_column_blob(stmt, 2);
    int len = sqlite3_column_bytes(stmt, 2);
    if (sqlite3_column_int(stmt, 0) != kFormat ||
        ParseCreateBuffer(buf, static_cast<std::size_t>(len), &s->spec_) != kStatusOk ||
        sqlite3_column_int(stmt, 1) != s->spec_.record_length) {
      status = kStatusNotADataFile;
    }
    if (sqlite3_column_type(stmt, 3) != SQLITE_NULL) {
      s->owner_.assign(static_cast<const char*>(sqlite3_column_blob(stmt, 3)),
                       sqlite3_column_bytes(stmt, 3));
      s->owner_mode_ = sqlite3_column_int(stmt, 4);
    }
  } else {
    status = rc == SQLITE_DONE ? kStatusNotADataFile : StatusFromSqlite(rc);
  }
  sqlite3_finalize(stmt);
  if (status != kStatusOk) return status;

  // Every key column and index must be there too.
  std::string probe = "SELECT id, data";
  for (std::size_t k = 0; k < s->spec_.keys.size(); ++k) probe += ", " + Col(static_cast<int>(k));
  probe += " FROM kel_records LIMIT 0";
  rc = sqlite3_prepare_v2(s->db_, probe.c_str(), -1, &stmt, nullptr);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_OK) return kStatusNotADataFile;
  s->slots_.assign(kKeySlotCount * s->spec_.keys.size(), nullptr);
  for (std::size_t k = 0; k < s->spec_.keys.size(); ++k) {
    if (s->Prepare(KeySql(kSlotFirst, static_cast<int>(k))) == nullptr) {
      return kStatusNotADataFile;
    }
  }
  // FULL: each commit of the WAL reaches the disk, which costs one sync per
  // commit window rather than per operation.
  if (std::int16_t st = s->Exec("PRAGMA synchronous = FULL; PRAGMA cache_size = -8192");
      st != kStatusOk) {
    return st;
  }
  if (!s->file_read_only_) {
    // Files are created in WAL mode; put it back if someone changed it.
    (void)s->Exec("PRAGMA journal_mode = WAL");
  }
  s->counts_dirty_.assign(1 + s->spec_.keys.size(), false);
  *out = std::move(s);
  return kStatusOk;
}

std::int16_t Store::Create(const std::string& native_path, const FileSpec& spec) {
  const std::string tmp = native_path + ".kel-new";
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) RemoveQuietly(tmp + suffix);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(tmp.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, g_vfs);
  std::string sql =
      "PRAGMA page_size = 4096;"
      "PRAGMA application_id = " +
      std::to_string(kApplicationId) + ";PRAGMA user_version = " + std::to_string(kFormat) +
      ";BEGIN;"
      "CREATE TABLE kel_file(id INTEGER PRIMARY KEY CHECK (id = 1), format INTEGER NOT NULL,"
      " record_length INTEGER NOT NULL, create_buffer BLOB NOT NULL, owner BLOB,"
      " owner_mode INTEGER);"
      "CREATE TABLE kel_counts(slot INTEGER PRIMARY KEY, value INTEGER NOT NULL);"
      "CREATE TABLE kel_records(id INTEGER PRIMARY KEY CHECK (id BETWEEN 1 AND 4294967295),"
      " data BLOB NOT NULL CHECK (length(data) = " +
      std::to_string(spec.record_length) + ")";
  for (std::size_t k = 0; k < spec.keys.size(); ++k)
    sql += ", " + Col(static_cast<int>(k)) + " BLOB";
  sql += ");";
  for (std::size_t k = 0; k < spec.keys.size(); ++k) {
    const std::string n = std::to_string(k);
    sql += std::string("CREATE ") + (spec.keys[k].duplicates ? "" : "UNIQUE ") + "INDEX kel_key" +
           n + " ON kel_records(k" + n + ") WHERE k" + n + " IS NOT NULL;";
  }
  for (std::size_t slot = 0; slot <= spec.keys.size(); ++slot) {
    sql += "INSERT INTO kel_counts VALUES (" + std::to_string(slot) + ", 0);";
  }
  sql += "INSERT INTO kel_file VALUES (1, " + std::to_string(kFormat) + ", " +
         std::to_string(spec.record_length) + ", ?, NULL, NULL);";
  std::int16_t status = kStatusOk;
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db, 1);
    // Everything but the description row in one go; that row binds the
    // Create buffer, so it is the last statement, run on its own.
    std::size_t cut = sql.rfind("INSERT INTO kel_file");
    rc = sqlite3_exec(db, sql.substr(0, cut).c_str(), nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    if (rc == SQLITE_OK) rc = sqlite3_prepare_v2(db, sql.c_str() + cut, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
      const std::string buffer = BuildCreateBuffer(spec);
      BindBlob(stmt, 1, buffer.data(), buffer.size());
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_stmt* mode = nullptr;
      rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode = WAL", -1, &mode, nullptr);
      if (rc == SQLITE_OK) {
        rc = sqlite3_step(mode);
        bool wal =
            rc == SQLITE_ROW &&
            std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal") == 0;
        rc = wal ? SQLITE_OK : (rc == SQLITE_ROW ? SQLITE_ERROR : rc);
      }
      sqlite3_finalize(mode);
    }
  }
  if (rc != SQLITE_OK) {
    status = (rc & 0xFF) == SQLITE_CANTOPEN ? kStatusAccessDenied : StatusFromSqlite(rc);
  }
  // Closing the last connection checkpoints the WAL into the file, syncs it
  // and removes the WAL.
  if (sqlite3_close(db) != SQLITE_OK && status == kStatusOk) status = kStatusIoError;
  std::error_code ec;
  if (status == kStatusOk && std::filesystem::exists(tmp + "-wal", ec)) status = kStatusIoError;
  if (status != kStatusOk) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) RemoveQuietly(tmp + suffix);
    return status;
  }
  // A WAL left by a killed writer of the old file must not be applied to
  // the new one.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) RemoveQuietly(native_path + suffix);
  std::filesystem::rename(tmp, native_path, ec);
  if (ec) {
    RemoveQuietly(tmp);
    return ec == std::errc::permission_denied ? kStatusAccessDenied : kStatusIoError;
  }
  std::string dir = std::filesystem::path(native_path).parent_path().string();
  (void)SyncDirectory(Utf8ToCp850(dir.empty() ? "." : dir));
  return kStatusOk;
}

sqlite3_stmt* Store::Prepare(const std::string& sql) {
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

sqlite3_stmt* Store::Cached(int slot, int key) {
  sqlite3_stmt*& s = slots_[slot * spec_.keys.size() + key];
  if (s == nullptr) s = Prepare(KeySql(slot, key));
  return s;
}

std::int16_t Store::Exec(const char* sql) {
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? kStatusOk : Fail(rc);
}

std::int16_t Store::Fail(int rc) {
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

std::int16_t Store::Begin(bool write) {
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

std::int16_t Store::BeginTransaction(bool write) {
  if (write && file_read_only_) return kStatusAccessDenied;
  int rc = sqlite3_exec(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(rc);
  txn_ = write ? Txn::kWrite : Txn::kRead;
  started_ = std::chrono::steady_clock::now();
  writes_ = 0;
  ++serial_;
  return kStatusOk;
}

std::int16_t Store::Commit() {
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

void Store::OverwriteFailedCommit() {
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

std::int16_t Store::ReleaseUnusedWriteLock() {
  if (txn_ != Txn::kWrite || writes_ != 0) return kStatusOk;
  return Commit();
}

std::int16_t Store::LoadCounts() {
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

std::int16_t Store::WriteCounts() {
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

std::int16_t Store::Counts(FileCounts* out) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  *out = counts_;
  return kStatusOk;
}

std::int16_t Store::RowFrom(sqlite3_stmt* stmt, int rc, std::int16_t none, Row* row) {
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

std::int16_t Store::Read(std::int64_t id, Row* row) {
  sqlite3_stmt* s = Prepare("SELECT id, data FROM kel_records WHERE id = ?1");
  if (s == nullptr) return kStatusIoError;
  ResetOnExit reset(s);
  sqlite3_bind_int64(s, 1, id);
  return RowFrom(s, sqlite3_step(s), kStatusInvalidRecordAddress, row);
}

std::int16_t Store::Seek(int key, SeekMode mode, const std::string& encoded, Row* row) {
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

std::int16_t Store::Next(int key, const std::string& encoded, std::int64_t id, bool forward,
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

std::int16_t Store::Step(StepMode mode, std::int64_t id, Row* row) {
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

std::int16_t Store::KeyValueExists(int key, const std::string& encoded, std::int64_t except_id,
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

std::int16_t Store::NextId(std::int64_t* id) {
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

std::int16_t Store::Insert(std::uint8_t* record, std::int64_t* id) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  const std::size_t n = spec_.keys.size();
  for (std::size_t k = 0; k < n; ++k) {
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
  for (std::size_t k = 0; k < n; ++k) sql += ", " + Col(static_cast<int>(k));
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

std::int16_t Store::Update(std::int64_t id, const std::string& old_record,
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
    sql += ", " + Col(changes[i].key) + " = ?" + std::to_string(i + 3);
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

std::int16_t Store::Delete(std::int64_t id, const std::string& old_record) {
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

std::int16_t Store::SetOwner(const std::string& name, int mode) {
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
