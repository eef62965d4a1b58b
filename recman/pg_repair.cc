// Repairing a data file on a server. PostgreSQL keeps its own pages whole
// (a page it cannot read is its error, and this repair stops with 2); what
// can go wrong in our part is keys that no longer match the records' bytes
// (the table changed from outside), indexes, and the counts. All of them are
// made again from the records, in one transaction.
#include <algorithm>
#include <cstring>
#include <set>

#include "recman/admin.h"
#include "recman/engine_internal.h"
#include "recman/key_codec.h"
#include "recman/pg_conn.h"
#include "recman/pg_store.h"
#include "recman/pg_store_internal.h"
#include "recman/recman.h"
#include "util/cp850.h"

namespace kel {

std::int16_t PgStore::Rebuild(RepairOutcome* out) {
  if (std::int16_t st = Commit(); st != kStatusOk) return st;
  if (std::int16_t st = Begin(true); st != kStatusOk) return st;
  ForgetAhead();
  const std::size_t n = spec_.keys.size();
  std::string select = "SELECT id, data";
  for (std::size_t k = 0; k < n; ++k) select += ", " + KeyName(static_cast<int>(k));
  select += " FROM " + table_ + " WHERE id > $1 ORDER BY id LIMIT 5000";
  struct Change {
    std::int64_t id;
    std::vector<int> keys;
    std::vector<std::string> values;  // encoded; empty with `null`
    std::vector<char> nulls;
  };
  std::vector<Change> changes;
  std::vector<std::int64_t> taken_out;
  // The first record (by position) holding each value of each unique key.
  std::vector<std::set<std::string>> held(n);
  std::int64_t after = 0;
  std::string enc;
  for (;;) {
    PgRows r;
    if (std::int16_t st = conn_->Query(select, {PgParam::Int8(after)}, &r); st != kStatusOk) {
      return st;
    }
    if (r.rows() == 0) break;
    for (int i = 0; i < r.rows(); ++i) {
      const std::int64_t id = r.Int8(i, 0);
      after = id;
      if (r.Length(i, 1) != spec_.record_length) {
        out->unreadable.push_back("position " + std::to_string(id) + ": " +
                                  std::to_string(r.Length(i, 1)) + " bytes where a record has " +
                                  std::to_string(spec_.record_length));
        continue;
      }
      const auto* data = reinterpret_cast<const std::uint8_t*>(r.Data(i, 1));
      Change c{id, {}, {}, {}};
      // Refused when a unique key's value is held already (by a record at
      // a lower position); only a record that stays holds its values.
      bool refused = false;
      for (std::size_t k = 0; k < n && !refused; ++k) {
        refused = !spec_.keys[k].duplicates &&
                  EncodeRecordKey(spec_, spec_.keys[k], data, &enc) && held[k].count(enc) > 0;
      }
      for (std::size_t k = 0; k < n && !refused; ++k) {
        const bool has = EncodeRecordKey(spec_, spec_.keys[k], data, &enc);
        if (has && !spec_.keys[k].duplicates) held[k].insert(enc);
        const int col = static_cast<int>(k + 2);
        const bool stored_null = r.IsNull(i, col);
        if (stored_null != has && (!has || r.Bytes(i, col) == enc)) continue;
        c.keys.push_back(static_cast<int>(k));
        c.values.push_back(has ? enc : std::string());
        c.nulls.push_back(has ? 0 : 1);
      }
      if (refused) {
        out->refused.push_back(r.Bytes(i, 1));
        out->refused_why.push_back("position " + std::to_string(id) +
                                   ": its key value is already another record's, in a key "
                                   "without duplicates");
        taken_out.push_back(id);
        continue;
      }
      ++out->kept;
      if (!c.keys.empty()) changes.push_back(std::move(c));
    }
  }
  const std::string table = table_;
  for (std::int64_t id : taken_out) {
    if (std::int16_t st = conn_->Query(sql_.delete_record, {PgParam::Int8(id)}); st != kStatusOk) {
      return st;
    }
  }
  // First every changed key to NULL, then the new values: two records that
  // swap values would otherwise meet in a unique index on the way.
  for (const Change& c : changes) {
    std::string sql = "UPDATE " + table + " SET ";
    for (std::size_t j = 0; j < c.keys.size(); ++j) {
      if (j > 0) sql += ", ";
      sql += KeyName(c.keys[j]) + " = NULL";
    }
    sql += " WHERE id = $1";
    if (std::int16_t st = conn_->Query(sql, {PgParam::Int8(c.id)}); st != kStatusOk) return st;
  }
  for (const Change& c : changes) {
    std::string sql = "UPDATE " + table + " SET ";
    std::vector<PgParam> params = {PgParam::Int8(c.id)};
    for (std::size_t j = 0; j < c.keys.size(); ++j) {
      if (c.nulls[j]) continue;
      if (params.size() > 1) sql += ", ";
      params.push_back(PgParam::Bytes(c.values[j]));
      sql += KeyName(c.keys[j]) + " = $" + std::to_string(params.size());
    }
    if (params.size() == 1) continue;
    sql += " WHERE id = $1";
    if (std::int16_t st = conn_->Query(sql, params); st != kStatusOk) return st;
  }
  if (std::int16_t st = conn_->Query("REINDEX TABLE " + table, {}); st != kStatusOk) return st;
  // The counts, from what is stored now.
  std::string count = "SELECT count(*)";
  for (std::size_t k = 0; k < n; ++k) {
    count += ", count(DISTINCT " + KeyName(static_cast<int>(k)) + ")";
  }
  count += " FROM " + table;
  PgRows r;
  if (std::int16_t st = conn_->Query(count, {}, &r); st != kStatusOk) return st;
  if (r.rows() != 1) return kStatusIoError;
  counts_.records = r.Int8(0, 0);
  counts_.unique_values.assign(n, 0);
  for (std::size_t k = 0; k < n; ++k) counts_.unique_values[k] = r.Int8(0, static_cast<int>(k + 1));
  counts_serial_ = serial_;
  counts_dirty_.assign(1 + n, true);
  Wrote();
  return Commit();
}

std::int16_t RepairServerFile(const std::string& native_path, const std::string& owner,
                              RepairOutcome* out) {
  std::uint8_t block[kPositionBlockSize] = {};
  const std::string system_path = Utf8ToCp850(native_path);
  std::string key = system_path + '\0';
  std::string data = owner + '\0';
  std::uint32_t length = static_cast<std::uint32_t>(data.size());
  std::int16_t st =
      BTRCALL(kOpOpen, block, data.data(), &length, key.data(),
              static_cast<std::uint8_t>(std::min<std::size_t>(system_path.size(), 255)),
              kOpenExclusive);
  if (st != kStatusOk) return st;
  Cursor* c = CursorOf(block);
  st = static_cast<PgStore*>(c->file->store.get())->Rebuild(out);
  length = 0;
  const std::int16_t closed = BTRCALL(kOpClose, block, nullptr, &length, nullptr, 0, 0);
  return st != kStatusOk ? st : closed;
}

}  // namespace kel
