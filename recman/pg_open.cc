// Opening and creating data files on a server, and the SQL of each file.
#include <cstring>

#include "recman/pg_conn.h"
#include "recman/pg_locks_internal.h"
#include "recman/pg_store.h"
#include "recman/pg_store_internal.h"
#include "recman/recman.h"

namespace kel {
namespace {

constexpr int kFormat = 1;

std::string Catalogue(const std::string& schema) {
  return QuoteIdentifier(schema) + ".kel_files";
}

std::string TableName(std::int64_t file_id) { return "kel_r" + std::to_string(file_id); }

std::string Table(const std::string& schema, std::int64_t file_id) {
  return QuoteIdentifier(schema) + "." + QuoteIdentifier(TableName(file_id));
}

// The catalogue row of `name` and its records table's oid (0 when the table
// is missing). 12 when the schema, its catalogue or the row is missing.
std::int16_t LookUp(PgConn* conn, const std::string& schema, const std::string& name,
                    bool for_update, PgRows* rows) {
  PgRows exists;
  if (std::int16_t st = conn->Query("SELECT to_regclass(quote_ident($1) || '.kel_files') IS NULL",
                                    {PgParam::Text(schema)}, &exists);
      st != kStatusOk) {
    return st;
  }
  if (exists.rows() != 1 || exists.Int8(0, 0) != 0) return kStatusFileNotFound;
  std::string sql =
      "SELECT f.id, f.format, f.record_length, f.create_buffer, f.owner, f.owner_mode,"
      " coalesce(to_regclass(quote_ident($2) || '.kel_r' || f.id)::oid::int8, 0) FROM " +
      Catalogue(schema) + " f WHERE f.name = $1";
  if (for_update) sql += " FOR UPDATE";
  if (std::int16_t st = conn->Query(sql, {PgParam::Text(name), PgParam::Text(schema)}, rows);
      st != kStatusOk) {
    return st;
  }
  return rows->rows() == 1 ? kStatusOk : kStatusFileNotFound;
}

// A catalogue name other than `name` that folds to it (FoldServerName): a
// file named when only a-z were folded. The first in byte order when there
// are several; false when there is none (or no catalogue).
bool FindFoldedName(PgConn* conn, const std::string& schema, const std::string& name,
                    std::string* found) {
  PgRows exists;
  if (conn->Query("SELECT to_regclass(quote_ident($1) || '.kel_files') IS NULL",
                  {PgParam::Text(schema)}, &exists) != kStatusOk ||
      exists.rows() != 1 || exists.Int8(0, 0) != 0) {
    return false;
  }
  PgRows names;
  if (conn->Query("SELECT name FROM " + Catalogue(schema) + " ORDER BY name COLLATE \"C\"", {},
                  &names) != kStatusOk) {
    return false;
  }
  for (int i = 0; i < names.rows(); ++i) {
    std::string candidate = names.Bytes(i, 0);
    if (candidate != name && FoldServerName(candidate) == name) {
      *found = std::move(candidate);
      return true;
    }
  }
  return false;
}

void BuildSql(const std::string& schema, std::int64_t file_id, const FileSpec& spec, PgSql* q) {
  const std::string t = Table(schema, file_id);
  const std::string cat = Catalogue(schema);
  q->read = "SELECT id, data FROM " + t + " WHERE id = $1";
  // With the counts, the version of the catalogue row (the transaction that
  // wrote it and where): every commit that changes key values rewrites it.
  const std::string version = " RETURNING xmin::text || ' ' || ctid::text";
  q->counts = "SELECT counts, xmin::text || ' ' || ctid::text FROM " + cat + " WHERE id = $1";
  q->update_counts = "UPDATE " + cat + " SET counts = $2 WHERE id = $1" + version;
  q->set_owner = "UPDATE " + cat + " SET owner = $2, owner_mode = $3 WHERE id = $1";
  q->max_id = "SELECT coalesce(max(id), 0) FROM " + t;
  q->free_id = "SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM " + t +
               " WHERE id = 1) THEN 1::int8 ELSE (SELECT a.id + 1 FROM " + t +
               " a WHERE a.id < 4294967295 AND NOT EXISTS (SELECT 1 FROM " + t +
               " b WHERE b.id = a.id + 1) ORDER BY a.id LIMIT 1) END";
  const std::size_t n = spec.keys.size();
  q->insert = "INSERT INTO " + t + "(id, data";
  for (std::size_t k = 0; k < n; ++k) q->insert += ", " + PgStore::KeyName(static_cast<int>(k));
  q->insert += ") VALUES ($1, $2";
  for (std::size_t k = 0; k < n; ++k) q->insert += ", $" + std::to_string(k + 3);
  q->insert += ") ON CONFLICT DO NOTHING";
  q->update_data = "UPDATE " + t + " SET data = $1 WHERE id = $2";
  // Rewrites kept back: each record's position and the bytes that changed
  // (from offset `at`, counted from 0), laid over the stored record.
  q->update_batch = "UPDATE " + t +
                    " AS r SET data = overlay(r.data placing v.part from v.at + 1)"
                    " FROM unnest($1::int8[], $2::int4[], $3::bytea[]) AS v(id, at, part)"
                    " WHERE r.id = v.id";
  q->dup_keys.clear();
  std::string set, columns, arrays;
  for (std::size_t k = 0; k < spec.keys.size(); ++k) {
    if (!spec.keys[k].duplicates) continue;
    const std::string c = PgStore::KeyName(static_cast<int>(k));
    q->dup_keys.push_back(static_cast<int>(k));
    set += ", " + c + " = v." + c;
    columns += ", " + c;
    arrays += ", $" + std::to_string(q->dup_keys.size() + 3) + "::bytea[]";
  }
  q->update_keyed = q->dup_keys.empty()
                        ? std::string()
                        : "UPDATE " + t +
                              " AS r SET data = overlay(r.data placing v.part from v.at + 1)" +
                              set + " FROM unnest($1::int8[], $2::int4[], $3::bytea[]" + arrays +
                              ") AS v(id, at, part" + columns + ") WHERE r.id = v.id";
  q->delete_record = "DELETE FROM " + t + " WHERE id = $1";
  q->step_first = "SELECT id, data FROM " + t + " ORDER BY id LIMIT 1";
  q->step_last = "SELECT id, data FROM " + t + " ORDER BY id DESC LIMIT 1";
  q->step_next = "SELECT id, data FROM " + t + " WHERE id > $1 ORDER BY id LIMIT $2";
  q->step_previous = "SELECT id, data FROM " + t + " WHERE id < $1 ORDER BY id DESC LIMIT $2";
  q->seek.clear();
  q->next.clear();
  q->exists_other.clear();
  q->values.clear();
  for (std::size_t k = 0; k < n; ++k) {
    const std::string c = PgStore::KeyName(static_cast<int>(k));
    const bool dups = spec.keys[k].duplicates;
    const std::string sel = "SELECT id, data, " + c + " FROM " + t + " WHERE ";
    const std::string up = dups ? " ORDER BY " + c + ", id" : " ORDER BY " + c;
    const std::string down = dups ? " ORDER BY " + c + " DESC, id DESC" : " ORDER BY " + c + " DESC";
    // In SeekMode's order.
    q->seek.push_back(sel + c + " IS NOT NULL" + up + " LIMIT 1");
    q->seek.push_back(sel + c + " IS NOT NULL" + down + " LIMIT 1");
    q->seek.push_back(sel + c + " = $1" + up + " LIMIT 1");
    q->seek.push_back(sel + c + " > $1" + up + " LIMIT 1");
    q->seek.push_back(sel + c + " >= $1" + up + " LIMIT 1");
    q->seek.push_back(sel + c + " < $1" + down + " LIMIT 1");
    q->seek.push_back(sel + c + " <= $1" + down + " LIMIT 1");
    // PgStore::Next's variants.
    q->next.push_back(sel + c + " IS NOT NULL AND (" + c + ", id) > ($1, $2)" + up + " LIMIT $3");
    q->next.push_back(sel + c + " IS NOT NULL AND (" + c + ", id) < ($1, $2)" + down + " LIMIT $3");
    q->next.push_back(sel + c + " >= $1" + up + " LIMIT $2");
    q->next.push_back(sel + c + " > $1" + up + " LIMIT $2");
    q->next.push_back(sel + c + " <= $1" + down + " LIMIT $2");
    q->next.push_back(sel + c + " < $1" + down + " LIMIT $2");
    q->exists_other.push_back("SELECT 1 FROM " + t + " WHERE " + c + " = $1 AND id <> $2 LIMIT 1");
    q->values.push_back("SELECT " + c + ", count(*) FROM " + t + " WHERE " + c +
                        " IS NOT NULL GROUP BY " + c);
  }
}

std::string CreateTableSql(const std::string& schema, std::int64_t file_id, const FileSpec& spec) {
  const std::string t = Table(schema, file_id);
  std::string sql = "CREATE TABLE " + t +
                    "(id bigint PRIMARY KEY CHECK (id BETWEEN 1 AND 4294967295),"
                    " data bytea NOT NULL CHECK (length(data) = " +
                    std::to_string(spec.record_length) + ")";
  for (std::size_t k = 0; k < spec.keys.size(); ++k) {
    sql += ", " + PgStore::KeyName(static_cast<int>(k)) + " bytea";
  }
  // Room on each page for a rewritten record, so that rewrites that change
  // no key stay on their page and leave the indexes alone.
  sql += ") WITH (fillfactor = 80);";
  for (std::size_t k = 0; k < spec.keys.size(); ++k) {
    const std::string c = PgStore::KeyName(static_cast<int>(k));
    const bool dups = spec.keys[k].duplicates;
    sql += std::string("CREATE ") + (dups ? "" : "UNIQUE ") + "INDEX " +
           QuoteIdentifier(TableName(file_id) + "_" + c) + " ON " + t + "(" + c +
           (dups ? ", id" : "") + ") WHERE " + c + " IS NOT NULL;";
  }
  return sql;
}

}  // namespace

std::int16_t OpenPgStore(PgConn* conn, const std::string& schema, const std::string& name,
                         const std::string& native_path, std::unique_ptr<Store>* out) {
  PgRows r;
  if (std::int16_t st = LookUp(conn, schema, name, false, &r); st != kStatusOk) return st;
  std::unique_ptr<PgStore> s(new PgStore());
  s->path_ = native_path;
  s->file_id_ = r.Int8(0, 0);
  const std::int64_t oid = r.Int8(0, 6);
  if (r.Int8(0, 1) != kFormat || oid == 0 ||
      ParseCreateBuffer(r.Data(0, 3), static_cast<std::size_t>(r.Length(0, 3)), &s->spec_) !=
          kStatusOk ||
      r.Int8(0, 2) != s->spec_.record_length) {
    return kStatusNotADataFile;
  }
  s->oid_ = static_cast<std::uint32_t>(oid);
  if (!r.IsNull(0, 4)) {
    s->owner_ = r.Bytes(0, 4);
    s->owner_mode_ = static_cast<int>(r.Int8(0, 5));
  }
  s->table_ = Table(schema, s->file_id_);
  BuildSql(schema, s->file_id_, s->spec_, &s->sql_);
  s->counts_dirty_.assign(1 + s->spec_.keys.size(), false);
  s->kept_moved_.assign(s->spec_.keys.size(), 0);
  s->values_.resize(s->spec_.keys.size());
  s->values_loaded_.assign(s->spec_.keys.size(), 0);
  s->conn_ = conn;
  *out = std::move(s);
  return kStatusOk;
}

std::string ServerIdentity(const RecordManagerConfig& config, const std::string& native_path) {
  return "server\n" + config.server + "\n" + config.schema + "\n" +
         ServerFileName(native_path, config.install_root);
}

std::int16_t OpenServerFile(const RecordManagerConfig& config, const std::string& native_path,
                            std::unique_ptr<Store>* out) {
  PgConn* conn = nullptr;
  if (std::int16_t st = PgConn::Acquire(config.server, &conn); st != kStatusOk) return st;
  const std::string name = ServerFileName(native_path, config.install_root);
  std::int16_t st = name.empty() ? kStatusInvalidFileName
                                 : OpenPgStore(conn, config.schema, name, native_path, out);
  // A file created before names folded accented capitals keeps the name it
  // was given then.
  std::string folded;
  if (st == kStatusFileNotFound && FindFoldedName(conn, config.schema, name, &folded)) {
    st = OpenPgStore(conn, config.schema, folded, native_path, out);
  }
  if (st != kStatusOk) conn->Release();
  return st;
}

namespace {

std::int16_t CreateIn(PgConn* conn, const std::string& schema, std::string name,
                      const FileSpec& spec, bool replace, std::int64_t* guard_key) {
  // Pending work of the process's other files first: a failure here must
  // not take theirs along.
  if (std::int16_t st = conn->CommitTransaction(); st != kStatusOk) return st;
  const std::string cat = Catalogue(schema);
  const std::string setup = "CREATE SCHEMA IF NOT EXISTS " + QuoteIdentifier(schema) +
                            ";CREATE TABLE IF NOT EXISTS " + cat +
                            "(id serial PRIMARY KEY, name text NOT NULL UNIQUE,"
                            " format integer NOT NULL, record_length integer NOT NULL,"
                            " create_buffer bytea NOT NULL, owner bytea, owner_mode integer,"
                            " counts bytea NOT NULL)";
  // Two stations making the same schema at once: one of them fails once.
  if (conn->Exec(setup) != kStatusOk) {
    if (std::int16_t st = conn->Exec(setup); st != kStatusOk) return st;
  }
  FileCounts zero;
  zero.unique_values.assign(spec.keys.size(), 0);
  const std::string counts = PgStore::CountsOf(zero);
  const std::string buffer = BuildCreateBuffer(spec);
  conn->BeginTransaction();
  PgRows r;
  std::int16_t st = LookUp(conn, schema, name, true, &r);
  std::string folded;
  if (st == kStatusFileNotFound && FindFoldedName(conn, schema, name, &folded)) {
    // The same file under the name the engine's first versions gave it.
    st = LookUp(conn, schema, folded, true, &r);
    if (st == kStatusOk) name = folded;
  }
  if (st != kStatusOk && st != kStatusFileNotFound) return st;
  std::int64_t file_id = 0;
  if (st == kStatusOk) {
    if (!replace) {
      conn->RollbackTransaction();
      return kStatusFileAlreadyExists;
    }
    file_id = r.Int8(0, 0);
    const std::int64_t oid = r.Int8(0, 6);
    if (oid != 0) {
      // Nobody may have the old file open while it is replaced.
      if (OpenedInThisProcess(conn, static_cast<std::uint32_t>(oid))) {
        conn->RollbackTransaction();
        return kStatusFileInUse;
      }
      PgRows got;
      const std::int64_t key = 4 * oid;
      if (std::int16_t q = conn->Query("SELECT pg_try_advisory_lock($1)", {PgParam::Int8(key)}, &got);
          q != kStatusOk) {
        return q;
      }
      if (got.rows() != 1 || got.Int8(0, 0) == 0) {
        conn->RollbackTransaction();
        return kStatusFileInUse;
      }
      *guard_key = key;
      if (std::int16_t q = conn->Exec("DROP TABLE " + Table(schema, file_id)); q != kStatusOk) {
        return q;
      }
    }
    if (std::int16_t q = conn->Query("UPDATE " + cat +
                                         " SET format = 1, record_length = $2, create_buffer = $3,"
                                         " owner = NULL, owner_mode = NULL, counts = $4 WHERE id = $1",
                                     {PgParam::Int8(file_id), PgParam::Int4(spec.record_length),
                                      PgParam::Bytes(buffer), PgParam::Bytes(counts)});
        q != kStatusOk) {
      return q;
    }
  } else {
    PgRows made;
    std::int16_t q = conn->Query(
        "INSERT INTO " + cat +
            "(name, format, record_length, create_buffer, counts) VALUES ($1, 1, $2, $3, $4)"
            " RETURNING id::int8",
        {PgParam::Text(name), PgParam::Int4(spec.record_length), PgParam::Bytes(buffer),
         PgParam::Bytes(counts)},
        &made);
    if (q == kStatusDuplicateKey) return kStatusFileAlreadyExists;  // another station was quicker
    if (q != kStatusOk) return q;
    if (made.rows() != 1) return kStatusIoError;
    file_id = made.Int8(0, 0);
  }
  if (std::int16_t q = conn->Exec(CreateTableSql(schema, file_id, spec)); q != kStatusOk) return q;
  return conn->CommitTransaction();
}

}  // namespace

std::int16_t CreateServerFile(const RecordManagerConfig& config, const std::string& native_path,
                              const FileSpec& file_spec, bool replace) {
  const std::string name = ServerFileName(native_path, config.install_root);
  if (name.empty()) return kStatusInvalidFileName;
  PgConn* conn = nullptr;
  if (std::int16_t st = PgConn::Acquire(config.server, &conn); st != kStatusOk) return st;
  std::int64_t guard = 0;
  std::int16_t st = CreateIn(conn, config.schema, name, file_spec, replace, &guard);
  if (conn->InTransaction()) conn->RollbackTransaction();
  if (guard != 0 && conn->lost() == kStatusOk) {
    (void)conn->Query("SELECT pg_advisory_unlock($1)", {PgParam::Int8(guard)});
  }
  conn->Release();
  return st;
}

void ForgetServerConnectionsAfterFork() {
  PgConn::ForgetAfterFork();
  ForgetLocalLocksAfterFork();
}

}  // namespace kel
