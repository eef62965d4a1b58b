// Opening and creating a data file's database.
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/native_path.h"
#include "platform/system.h"
#include "recman/recman.h"
#include "recman/store.h"
#include "recman/store_sql.h"
#include "util/cp850.h"

namespace kel {
namespace {

const char* g_vfs = nullptr;

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(FsPath(path), ec);
}

}  // namespace

void Store::SetVfsForTesting(const char* vfs_name) { g_vfs = vfs_name; }

SqliteStore::~SqliteStore() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  // An open transaction here was not committed on purpose (a failure):
  // closing the connection rolls it back.
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

std::int16_t Store::Open(const std::string& native_path, std::unique_ptr<Store>* out) {
  std::unique_ptr<SqliteStore> s(new SqliteStore());
  s->path_ = native_path;
  int rc = sqlite3_open_v2(native_path.c_str(), &s->db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, g_vfs);
  if (rc != SQLITE_OK) {
    return (rc & 0xFF) == SQLITE_CANTOPEN ? kStatusAccessDenied : StatusFromSqlite(rc);
  }
  sqlite3_extended_result_codes(s->db_, 1);
  sqlite3_busy_handler(s->db_, &SqliteStore::BusyHandler, s.get());
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
  for (std::size_t k = 0; k < s->spec_.keys.size(); ++k)
    probe += ", " + KeyColumn(static_cast<int>(k));
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
  // commit window rather than per operation (see SetSyncEachCommit).
  // cell_size_check: every page read checks its cells' sizes, so a page
  // damaged on the disk gives an error at once instead of records read out
  // of bytes that are not theirs (no cost measurable against the rest of a
  // read here).
  if (std::int16_t st = s->Exec(SyncEachCommit() ? "PRAGMA synchronous = FULL; PRAGMA cache_size = -8192; "
                                                   "PRAGMA cell_size_check = ON"
                                                 : "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -8192; "
                                                   "PRAGMA cell_size_check = ON");
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

std::int16_t Store::Create(const std::string& native_path, const FileSpec& file_spec) {
  const std::string tmp = native_path + ".kel-new";
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) RemoveQuietly(tmp + suffix);
  // The file is made empty first, as every file of the program is made: with
  // the permissions the umask allows (0666 less the umask), so that the
  // stations of an office, users of one group, can all write it. SQLite
  // would make it 0644 whatever the umask, and gives its write-ahead log
  // and shared-memory files the database's own permissions. An empty file
  // is an empty database to SQLite.
  {
    File made;
    const FileResult r =
        OpenFile(Utf8ToCp850(tmp), FileAccess::kReadWriteCreate, FileShare::kShared, &made);
    if (r != FileResult::kOk) {
      return r == FileResult::kDenied     ? kStatusAccessDenied
             : r == FileResult::kNotFound ? kStatusFileNotFound
                                          : kStatusIoError;
    }
  }
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
      std::to_string(file_spec.record_length) + ")";
  for (std::size_t k = 0; k < file_spec.keys.size(); ++k)
    sql += ", " + KeyColumn(static_cast<int>(k)) + " BLOB";
  sql += ");";
  for (std::size_t k = 0; k < file_spec.keys.size(); ++k) {
    const std::string n = std::to_string(k);
    sql += std::string("CREATE ") + (file_spec.keys[k].duplicates ? "" : "UNIQUE ") + "INDEX kel_key" +
           n + " ON kel_records(k" + n + ") WHERE k" + n + " IS NOT NULL;";
  }
  for (std::size_t slot = 0; slot <= file_spec.keys.size(); ++slot) {
    sql += "INSERT INTO kel_counts VALUES (" + std::to_string(slot) + ", 0);";
  }
  sql += "INSERT INTO kel_file VALUES (1, " + std::to_string(kFormat) + ", " +
         std::to_string(file_spec.record_length) + ", ?, NULL, NULL);";
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
      const std::string buffer = BuildCreateBuffer(file_spec);
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
  if (status == kStatusOk && std::filesystem::exists(FsPath(tmp + "-wal"), ec)) status = kStatusIoError;
  if (status != kStatusOk) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) RemoveQuietly(tmp + suffix);
    return status;
  }
  // A WAL left by a killed writer of the old file must not be applied to
  // the new one.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) RemoveQuietly(native_path + suffix);
  std::filesystem::rename(FsPath(tmp), FsPath(native_path), ec);
  if (ec) {
    RemoveQuietly(tmp);
    return ec == std::errc::permission_denied ? kStatusAccessDenied : kStatusIoError;
  }
  std::string dir = NativeString(FsPath(native_path).parent_path());
  (void)SyncDirectory(Utf8ToCp850(dir.empty() ? "." : dir));
  return kStatusOk;
}

}  // namespace kel
