// Inserting many records into a server file at once (recutil load and copy):
// one COPY of all of them in PostgreSQL's binary format, with the questions
// the counts need asked before it, instead of a round trip per record.
#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "recman/key_codec.h"
#include "recman/pg_arrays.h"
#include "recman/pg_conn.h"
#include "recman/pg_store_internal.h"
#include "recman/recman.h"

namespace kel {
namespace {

// The COPY data goes out in pieces of about this size.
constexpr std::size_t kCopyPiece = 256 << 10;

void PutBe16(std::string* out, std::uint16_t v) {
  out->push_back(static_cast<char>(v >> 8));
  out->push_back(static_cast<char>(v));
}

void PutField(std::string* out, const char* data, std::size_t size) {
  pg_arrays::PutBe32(out, static_cast<std::uint32_t>(size));
  out->append(data, size);
}

}  // namespace

std::int16_t PgStore::InsertBatch(const std::vector<std::string>& records, std::size_t* failed) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  const std::size_t n = records.size();
  if (n == 0) return kStatusOk;
  const std::size_t keys = spec_.keys.size();
  bool autoincrement = false;
  for (const KeyDef& key : spec_.keys) autoincrement = autoincrement || key.autoincrement;
  std::int64_t first_id = 0;
  if (std::int16_t st = NextId(&first_id); st != kStatusOk) return st;
  // Autoincrement values depend on the records before; positions that run
  // out at 2^32 - 1 are reused one by one: record by record.
  if (autoincrement || first_id + static_cast<std::int64_t>(n) - 1 > kMaxPosition) {
    return Store::InsertBatch(records, failed);
  }
  ForgetAhead();

  // Every key of every record, NULL where the record is left out of it.
  std::vector<std::string> enc(n * keys);
  std::vector<char> present(n * keys);
  for (std::size_t i = 0; i < n; ++i) {
    const auto* record = reinterpret_cast<const std::uint8_t*>(records[i].data());
    for (std::size_t k = 0; k < keys; ++k) {
      present[i * keys + k] = EncodeRecordKey(spec_, spec_.keys[k], record, &enc[i * keys + k]);
    }
  }
  // For each key with duplicates, how many of its new values no record
  // holds yet: from the known values, or asked before the rows go in.
  std::vector<std::int64_t> new_unique(keys);
  std::vector<std::pair<int, std::uint64_t>> questions;  // key, ticket
  for (std::size_t k = 0; k < keys; ++k) {
    const int key = static_cast<int>(k);
    if (ValuesKnown(key)) {
      for (std::size_t i = 0; i < n; ++i) {
        if (present[i * keys + k] != 0 && NoteValue(key, enc[i * keys + k], +1)) ++new_unique[k];
      }
      continue;
    }
    if (!spec_.keys[k].duplicates) continue;
    // Each value once: the server looks each up in the key's index.
    std::unordered_set<std::string_view> seen;
    std::vector<const std::string*> items;
    for (std::size_t i = 0; i < n; ++i) {
      const std::string& value = enc[i * keys + k];
      if (present[i * keys + k] != 0 && seen.insert(value).second) items.push_back(&value);
    }
    if (items.empty()) continue;
    SendKeyedFor(key);
    questions.push_back(
        {key, conn_->DeferKept(
                  "SELECT count(*) FROM unnest($1::bytea[]) AS v WHERE NOT "
                  "EXISTS (SELECT 1 FROM " +
                      table_ + " WHERE " + KeyName(key) + " = v)",
                  {PgParam::Raw(pg_arrays::kByteaArrayOid, pg_arrays::BytesArray(items))})});
  }

  // The rows. A duplicate in a unique key fails the COPY, and with it the
  // transaction: which record it was is not known here.
  std::string sql = "COPY " + table_ + "(id, data";
  for (std::size_t k = 0; k < keys; ++k) sql += ", " + KeyName(static_cast<int>(k));
  sql += ") FROM STDIN (FORMAT binary)";
  std::size_t next = 0;
  bool header = true, trailer = true;
  auto piece = [&](std::string* out) {
    out->clear();
    if (header) {
      out->append("PGCOPY\n\xff\r\n\0", 11);
      pg_arrays::PutBe32(out, 0);  // flags
      pg_arrays::PutBe32(out, 0);  // header extension
      header = false;
    }
    while (next < n && out->size() < kCopyPiece) {
      PutBe16(out, static_cast<std::uint16_t>(2 + keys));
      pg_arrays::PutBe32(out, 8);
      const auto id = static_cast<std::uint64_t>(first_id + static_cast<std::int64_t>(next));
      for (int b = 7; b >= 0; --b) out->push_back(static_cast<char>(id >> (8 * b)));
      PutField(out, records[next].data(), records[next].size());
      for (std::size_t k = 0; k < keys; ++k) {
        const std::size_t at = next * keys + k;
        if (present[at] != 0) {
          PutField(out, enc[at].data(), enc[at].size());
        } else {
          pg_arrays::PutBe32(out, 0xFFFFFFFFu);  // NULL
        }
      }
      ++next;
    }
    if (next == n && trailer && out->size() < kCopyPiece) {
      PutBe16(out, 0xFFFF);  // -1: the end
      trailer = false;
    }
    return !out->empty();
  };
  std::int16_t status = conn_->CopyIn(sql, piece);
  for (auto& [key, ticket] : questions) {
    PgRows r;
    if (status == kStatusOk && (!conn_->TakeKeptIfIn(ticket, &r) || r.rows() != 1)) {
      status = kStatusIoError;
    }
    if (status == kStatusOk) new_unique[key] += r.Int8(0, 0);
    conn_->DropKept(ticket);
  }
  if (status != kStatusOk) {
    // The caller undoes the transaction, and with it what the known values
    // took in.
    DropValues();
    *failed = n;
    return status;
  }
  counts_.records += static_cast<std::int64_t>(n);
  counts_dirty_[0] = true;
  for (std::size_t k = 0; k < keys; ++k) {
    if (spec_.keys[k].duplicates || ValuesKnown(static_cast<int>(k))) {
      counts_.unique_values[k] += new_unique[k];
    } else {
      for (std::size_t i = 0; i < n; ++i) counts_.unique_values[k] += present[i * keys + k];
    }
    counts_dirty_[k + 1] = true;
  }
  next_id_ = first_id + static_cast<std::int64_t>(n);
  for (std::size_t i = 0; i < n; ++i) Wrote();
  return kStatusOk;
}

}  // namespace kel
