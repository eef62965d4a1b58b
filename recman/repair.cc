// Repairing a damaged SQLite data file: every record that can still be read
// goes into a new file built from the file's own specification, its keys
// computed again from its bytes; the new file then takes the old one's
// place, and the old one is kept beside it.
//
// Reading a damaged b-tree: SQLite reads pages as a walk needs them, and a
// damaged page ends the walk with an error (or, rarely, hands back rows out
// of order, which counts as the same). The walk of the records in position
// order goes on past such a page by looking for the first readable record
// at growing distances beyond the last one read, and then walks back from
// there to the damaged page, so the records of the pages on either side are
// all read. The positions that the keys' indexes name and that no walk
// reached are read one by one, those that cannot be read are reported, and
// every position up to the highest one read is then read by position once
// more (a read from the root can reach what a walk along the leaves missed).
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "platform/system.h"
#include "recman/admin.h"
#include "recman/backend_config.h"
#include "recman/file_spec.h"
#include "recman/key_codec.h"
#include "recman/pg_store.h"
#include "recman/recman.h"
#include "recman/record_locks.h"
#include "recman/store.h"
#include "recman/store_sql.h"
#include "util/cp850.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

// A statement finalized when the scope ends.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt_);
      stmt_ = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// What was read of the damaged file.
struct Salvage {
  int record_length = 0;
  std::map<std::int64_t, std::string> records;  // by position
  std::vector<std::string> unreadable;
};

// Reads the rows of `stmt` (id, data) as long as they come in the order of
// `ascending` positions strictly within (low, high). Returns true when the
// walk ended normally, false when a page could not be read (or gave rows out
// of order); `*edge` is the last position read (or the bound it started
// from).
bool Walk(sqlite3_stmt* stmt, bool ascending, std::int64_t low, std::int64_t high,
          Salvage* salvage, std::int64_t* edge) {
  for (;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return false;
    const std::int64_t id = sqlite3_column_int64(stmt, 0);
    if (id <= low || id >= high || (ascending ? id <= *edge : id >= *edge)) return false;
    *edge = id;
    const void* data = sqlite3_column_blob(stmt, 1);
    const int n = sqlite3_column_bytes(stmt, 1);
    if (data == nullptr || n != salvage->record_length) {
      salvage->unreadable.push_back("position " + std::to_string(id) + ": " +
                                    std::to_string(n) + " bytes where a record has " +
                                    std::to_string(salvage->record_length));
      continue;
    }
    salvage->records.emplace(id, std::string(static_cast<const char*>(data),
                                             static_cast<std::size_t>(n)));
  }
}

// Every record that the walk in position order reaches, going on past the
// pages that cannot be read.
void WalkPositions(sqlite3* db, Salvage* salvage) {
  Statement up(db, "SELECT id, data FROM kel_records WHERE id > ?1 ORDER BY id");
  Statement down(db, "SELECT id, data FROM kel_records WHERE id < ?1 AND id > ?2 ORDER BY id DESC");
  Statement probe(db, "SELECT id FROM kel_records WHERE id > ?1 ORDER BY id LIMIT 1");
  if (!up || !down || !probe) {
    salvage->unreadable.push_back("the records: the table cannot be read at all");
    return;
  }
  std::int64_t after = 0;
  while (after < kMaxPosition) {
    sqlite3_reset(up.get());
    sqlite3_bind_int64(up.get(), 1, after);
    std::int64_t last = after;
    if (Walk(up.get(), true, after, kMaxPosition + 1, salvage, &last)) return;
    // A damaged page after `last`: find a readable record beyond it.
    std::int64_t resume = kMaxPosition + 1;  // none: walk back from the end
    for (std::int64_t step = 1; last + step < kMaxPosition; step *= 2) {
      sqlite3_reset(probe.get());
      sqlite3_bind_int64(probe.get(), 1, last + step);
      const int rc = sqlite3_step(probe.get());
      if (rc == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(probe.get(), 0);
        if (id > last + step) {
          resume = id;
          break;
        }
      } else if (rc == SQLITE_DONE) {
        break;
      }
    }
    sqlite3_reset(probe.get());
    // Back from there to the damaged page.
    sqlite3_reset(down.get());
    sqlite3_bind_int64(down.get(), 1, resume);
    sqlite3_bind_int64(down.get(), 2, last);
    std::int64_t first_after = resume;
    (void)Walk(down.get(), false, last, resume, salvage, &first_after);
    if (first_after > kMaxPosition) {
      salvage->unreadable.push_back("after position " + std::to_string(last) +
                                    ": a damaged page; records there, if any, could not be read");
    } else if (first_after - 1 > last) {
      salvage->unreadable.push_back("positions " + std::to_string(last + 1) + " to " +
                                    std::to_string(first_after - 1) +
                                    ": a damaged page; records there, if any, could not be read");
    } else {
      salvage->unreadable.push_back("after position " + std::to_string(last) +
                                    ": a damaged page");
    }
    if (resume > kMaxPosition) return;
    after = resume - 1;
  }
}

// The positions that the index of each key names and that the walk did not
// read: read one by one, reported when they cannot be.
void ReadIndexedPositions(sqlite3* db, const FileSpec& spec, Salvage* salvage) {
  Statement one(db, "SELECT id, data FROM kel_records WHERE id = ?1");
  for (std::size_t k = 0; k < spec.keys.size(); ++k) {
    const std::string col = KeyColumn(static_cast<int>(k));
    Statement ids(db, "SELECT id FROM kel_records INDEXED BY kel_key" + std::to_string(k) +
                          " WHERE " + col + " IS NOT NULL");
    if (!ids || !one) continue;
    int rc;
    while ((rc = sqlite3_step(ids.get())) == SQLITE_ROW) {
      const std::int64_t id = sqlite3_column_int64(ids.get(), 0);
      if (id <= 0 || id > kMaxPosition || salvage->records.count(id) > 0) continue;
      sqlite3_reset(one.get());
      sqlite3_bind_int64(one.get(), 1, id);
      // A position with no record is an index entry damaged into a number
      // that names nothing: no record is missing there.
      std::int64_t edge = id - 1;
      if (!Walk(one.get(), true, id - 1, id + 1, salvage, &edge)) {
        const std::string line = "position " + std::to_string(id) + " (named by key " +
                                 std::to_string(k) + "): the record cannot be read";
        if (std::find(salvage->unreadable.begin(), salvage->unreadable.end(), line) ==
            salvage->unreadable.end()) {
          salvage->unreadable.push_back(line);
        }
      }
    }
    // An index that cannot be read to its end names fewer positions; the
    // walk of the records does not need it.
  }
}

// Every position up to the highest one read so far (bounded: a damaged
// page can name a position far beyond the others), read one by one. A read
// by position goes down the tree from its root and can reach a record that
// the walks missed; when it finds another record than the walk found at the
// same position (a damaged page where two records claim one position), the
// one read by position keeps it and the other goes to `doubles`.
void ReadEveryPosition(sqlite3* db, Salvage* salvage, std::vector<std::string>* doubles) {
  if (salvage->records.empty()) return;
  const std::int64_t bound = static_cast<std::int64_t>(salvage->records.size()) * 4 + 1024;
  const std::int64_t highest = std::min(salvage->records.rbegin()->first, bound);
  Statement one(db, "SELECT data FROM kel_records WHERE id = ?1");
  if (!one) return;
  for (std::int64_t id = 1; id <= highest; ++id) {
    sqlite3_reset(one.get());
    sqlite3_bind_int64(one.get(), 1, id);
    if (sqlite3_step(one.get()) != SQLITE_ROW) continue;
    const void* data = sqlite3_column_blob(one.get(), 0);
    const int n = sqlite3_column_bytes(one.get(), 0);
    if (data == nullptr || n != salvage->record_length) continue;
    std::string bytes(static_cast<const char*>(data), static_cast<std::size_t>(n));
    auto it = salvage->records.find(id);
    if (it == salvage->records.end()) {
      salvage->records.emplace(id, std::move(bytes));
    } else if (it->second != bytes) {
      doubles->push_back(std::move(it->second));
      it->second = std::move(bytes);
    }
  }
}

// Reads the file's description: its specification and owner. 30 when it
// cannot be read.
std::int16_t ReadDescription(sqlite3* db, FileSpec* spec, std::string* owner, int* owner_mode,
                             bool* has_owner) {
  Statement s(db, "SELECT create_buffer, owner, owner_mode FROM kel_file WHERE id = 1");
  if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return kStatusNotADataFile;
  const void* buf = sqlite3_column_blob(s.get(), 0);
  const int len = sqlite3_column_bytes(s.get(), 0);
  if (buf == nullptr || ParseCreateBuffer(buf, static_cast<std::size_t>(len), spec) != kStatusOk) {
    return kStatusNotADataFile;
  }
  *has_owner = sqlite3_column_type(s.get(), 1) != SQLITE_NULL;
  if (*has_owner) {
    owner->assign(static_cast<const char*>(sqlite3_column_blob(s.get(), 1)),
                  static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 1)));
    *owner_mode = sqlite3_column_int(s.get(), 2);
  }
  return kStatusOk;
}

// Fills the new file at `path` (made by Store::Create) with the salvaged
// records, keeping their positions; records whose key a unique key already
// holds go to `out->refused`.
std::int16_t Fill(const std::string& path, const FileSpec& spec, const Salvage& salvage,
                  const std::string& owner, int owner_mode, bool has_owner, RepairOutcome* out) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return kStatusIoError;
  }
  sqlite3_extended_result_codes(db, 1);
  const std::size_t n = spec.keys.size();
  std::string sql = "INSERT INTO kel_records(id, data";
  for (std::size_t k = 0; k < n; ++k) sql += ", " + KeyColumn(static_cast<int>(k));
  sql += ") VALUES (?1, ?2";
  for (std::size_t k = 0; k < n; ++k) sql += ", ?" + std::to_string(k + 3);
  sql += ")";
  std::int16_t status = kStatusOk;
  int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  {
    Statement insert(db, sql);
    if (rc != SQLITE_OK || !insert) status = kStatusIoError;
    std::vector<std::string> enc(n);
    for (const auto& [id, data] : salvage.records) {
      if (status != kStatusOk) break;
      sqlite3_stmt* s = insert.get();
      sqlite3_reset(s);
      sqlite3_bind_int64(s, 1, id);
      BindBlob(s, 2, data.data(), data.size());
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
      for (std::size_t k = 0; k < n; ++k) {
        if (EncodeRecordKey(spec, spec.keys[k], bytes, &enc[k])) {
          BindBlob(s, static_cast<int>(k + 3), enc[k].data(), enc[k].size());
        } else {
          sqlite3_bind_null(s, static_cast<int>(k + 3));
        }
      }
      rc = sqlite3_step(s);
      if (rc == SQLITE_DONE) {
        ++out->kept;
      } else if (rc == SQLITE_CONSTRAINT_UNIQUE) {
        out->refused.push_back(data);
        out->refused_why.push_back("position " + std::to_string(id) +
                                   ": its key value is already another record's, in a key "
                                   "without duplicates");
      } else {
        status = StatusFromSqlite(rc);
        if (status == kStatusOk) status = kStatusIoError;
      }
    }
  }
  // The counts, from what was stored.
  if (status == kStatusOk) {
    std::string counts = "UPDATE kel_counts SET value = (SELECT count(*) FROM kel_records) "
                         "WHERE slot = 0;";
    for (std::size_t k = 0; k < n; ++k) {
      counts += "UPDATE kel_counts SET value = (SELECT count(DISTINCT " +
                KeyColumn(static_cast<int>(k)) + ") FROM kel_records) WHERE slot = " +
                std::to_string(k + 1) + ";";
    }
    if (sqlite3_exec(db, counts.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      status = kStatusIoError;
    }
  }
  if (status == kStatusOk && has_owner) {
    Statement s(db, "UPDATE kel_file SET owner = ?1, owner_mode = ?2 WHERE id = 1");
    if (s) {
      BindBlob(s.get(), 1, owner.data(), owner.size());
      sqlite3_bind_int(s.get(), 2, owner_mode);
    }
    if (!s || sqlite3_step(s.get()) != SQLITE_DONE) status = kStatusIoError;
  }
  if (status == kStatusOk) {
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) status = StatusFromSqlite(rc) == kStatusOk ? kStatusIoError
                                                                    : StatusFromSqlite(rc);
  }
  if (status != kStatusOk) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  // Closing the only connection copies the WAL into the file.
  if (sqlite3_close(db) != SQLITE_OK && status == kStatusOk) status = kStatusIoError;
  return status;
}

// A name beside `path` that does not exist yet: path + suffix, then with
// ".2", ".3"...
std::string FreeName(const std::string& path, const std::string& suffix) {
  std::error_code ec;
  std::string name = path + suffix;
  for (int i = 2; fs::exists(name, ec) || fs::exists(name + "-wal", ec); ++i) {
    name = path + suffix + "." + std::to_string(i);
  }
  return name;
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

std::int16_t RepairSqliteFile(const std::string& given_path, RepairOutcome* out) {
  // The path as the other operations find it: "\\" and any letter case.
  std::string native_path = MapPath(Utf8ToCp850(given_path));
  if (native_path.empty()) native_path = given_path;
  std::error_code ec;
  if (!fs::exists(native_path, ec)) return kStatusFileNotFound;
  // Nobody may have the file open while it is replaced.
  RecordLocks guard;
  if (std::int16_t st = guard.Open(native_path); st != kStatusOk) return st;
  if (std::int16_t st = guard.LockOpen(true); st != kStatusOk) return st;

  sqlite3* db = nullptr;
  // Read-write, so that a write-ahead log left by a crash is taken in.
  int rc = sqlite3_open_v2(native_path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    return (rc & 0xFF) == SQLITE_CANTOPEN ? kStatusAccessDenied : kStatusNotADataFile;
  }
  sqlite3_extended_result_codes(db, 1);
  FileSpec spec;
  std::string owner;
  int owner_mode = 0;
  bool has_owner = false;
  std::int16_t status = ReadDescription(db, &spec, &owner, &owner_mode, &has_owner);
  Salvage salvage;
  salvage.record_length = spec.record_length;
  std::vector<std::string> doubles;
  if (status == kStatusOk) {
    WalkPositions(db, &salvage);
    ReadIndexedPositions(db, spec, &salvage);
    ReadEveryPosition(db, &salvage, &doubles);
  }
  sqlite3_close(db);
  if (status != kStatusOk) return status;
  out->unreadable = std::move(salvage.unreadable);

  // The new file, built beside the old one.
  const std::string fresh = native_path + ".kel-repair";
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) RemoveQuietly(fresh + suffix);
  status = Store::Create(fresh, spec);
  if (status == kStatusOk) {
    status = Fill(fresh, spec, salvage, owner, owner_mode, has_owner, out);
  }
  for (std::string& record : doubles) {
    out->refused.push_back(std::move(record));
    out->refused_why.push_back(
        "a record that claimed the position of another (a damaged page); the file keeps the "
        "one read by its position");
  }
  if (status != kStatusOk) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) RemoveQuietly(fresh + suffix);
    return status;
  }
  // The damaged file stays, under another name, with its write-ahead log.
  out->damaged_copy = FreeName(native_path, ".damaged");
  fs::copy_file(native_path, out->damaged_copy, ec);
  if (!ec && fs::exists(native_path + "-wal")) {
    fs::copy_file(native_path + "-wal", out->damaged_copy + "-wal", ec);
  }
  if (ec) {
    RemoveQuietly(out->damaged_copy);
    RemoveQuietly(fresh);
    out->damaged_copy.clear();
    return ec == std::errc::no_space_on_device ? kStatusDiskFull : kStatusIoError;
  }
  // A log of the old file must not be applied to the new one.
  for (const char* suffix : {"-wal", "-shm", "-journal"}) RemoveQuietly(native_path + suffix);
  fs::rename(fresh, native_path, ec);
  if (ec) {
    RemoveQuietly(fresh);
    return kStatusIoError;
  }
  const std::string dir = fs::path(native_path).parent_path().string();
  (void)SyncDirectory(Utf8ToCp850(dir.empty() ? "." : dir));
  return kStatusOk;
}

}  // namespace

std::int16_t RepairDataFile(const std::string& native_path, const std::string& owner,
                            RepairOutcome* out) {
  *out = RepairOutcome();
  if (!RecordManagerConfiguration().server.empty()) {
    return RepairServerFile(native_path, owner, out);
  }
  return RepairSqliteFile(native_path, out);
}

}  // namespace kel
