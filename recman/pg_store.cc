#include "recman/pg_store.h"

#include <algorithm>
#include <cstring>

#include "recman/key_codec.h"
#include "recman/pg_conn.h"
#include "recman/pg_store_internal.h"
#include "recman/recman.h"

namespace kel {
namespace {

constexpr int kFormat = 1;
constexpr int kMaxWritesPerTransaction = 4096;
// Read-ahead along a key or the physical order: the first fetch takes a few
// records (a screen's worth), each further sequential one four times more.
constexpr int kFirstFetch = 8;
constexpr int kMaxFetch = 256;
// Rewrites kept back at most before they go out.
constexpr std::size_t kMaxKeptRewrites = 1024;
// Binary array elements' and arrays' type oids.
constexpr unsigned kInt8Oid = 20, kByteaOid = 17, kInt8ArrayOid = 1016, kByteaArrayOid = 1001;

void PutBe32(std::string* out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out->push_back(static_cast<char>(v >> (8 * i)));
}

// The binary form of a one-dimensional array without NULLs whose elements
// are `n` pieces of `size` bytes each, made by `put(i, out)`.
template <typename Put>
std::string BinaryArray(unsigned element_oid, std::size_t n, std::uint32_t size, Put put) {
  std::string out;
  out.reserve(20 + n * (4 + size));
  PutBe32(&out, 1);  // dimensions
  PutBe32(&out, 0);  // no NULLs
  PutBe32(&out, element_oid);
  PutBe32(&out, static_cast<std::uint32_t>(n));
  PutBe32(&out, 1);  // lower bound
  for (std::size_t i = 0; i < n; ++i) {
    PutBe32(&out, size);
    put(i, &out);
  }
  return out;
}

std::string CountsBytes(const FileCounts& c) {
  std::string out;
  auto put = [&out](std::int64_t v) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * i));
  };
  put(c.records);
  for (std::int64_t u : c.unique_values) put(u);
  return out;
}

std::int64_t GetLe64(const char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return static_cast<std::int64_t>(v);
}

}  // namespace

std::string PgStore::CountsOf(const FileCounts& counts) { return CountsBytes(counts); }

PgStore::~PgStore() {
  DropPrefetch();
  if (conn_ != nullptr) {
    conn_->Leave(this);
    conn_->Release();
  }
}

std::int16_t PgStore::broken() const {
  if (broken_ != kStatusOk) return broken_;
  return conn_->lost();
}

bool PgStore::TransactionExpired(std::chrono::steady_clock::time_point now) const {
  return mode_ != Mode::kNone && now - conn_->started() >= ServerCommitWindow();
}

void PgStore::Joined() {
  conn_->Join(this);
  mode_ = Mode::kRead;
  writes_ = 0;
  ++serial_;
}

std::int16_t PgStore::Begin(bool write) {
  if (std::int16_t st = broken(); st != kStatusOk) return st;
  if (conn_->InTransaction() &&
      (std::chrono::steady_clock::now() - conn_->started() >= ServerCommitWindow() ||
       conn_->writes() >= kMaxWritesPerTransaction)) {
    if (std::int16_t st = conn_->CommitTransaction(); st != kStatusOk) return st;
  }
  if (mode_ == Mode::kNone) {
    conn_->BeginTransaction();
    Joined();
  }
  if (!write || mode_ == Mode::kWrite) return conn_->lost();
  if (file_read_only_) return kStatusAccessDenied;
  PgRows got;
  if (std::int16_t st =
          conn_->Query("SELECT pg_try_advisory_xact_lock($1)", {PgParam::Int8(WriteLockKey())}, &got);
      st != kStatusOk) {
    return st;
  }
  if (got.rows() == 1 && got.Int8(0, 0) != 0) {
    mode_ = Mode::kWrite;
    ++serial_;  // what was read before the write lock may have changed
    return kStatusOk;
  }
  // Another process writes the file. Nobody may wait on this one meanwhile:
  // commit everything of the process, then wait in a fresh transaction.
  Store::BusyFlush(this);
  if (std::int16_t st = conn_->CommitTransaction(); st != kStatusOk) return st;
  if (std::int16_t st = broken(); st != kStatusOk) return st;
  conn_->BeginTransaction();
  Joined();
  if (std::int16_t st =
          conn_->Query("SELECT pg_advisory_xact_lock($1)", {PgParam::Int8(WriteLockKey())});
      st != kStatusOk) {
    return st;  // 85 after the lock timeout
  }
  mode_ = Mode::kWrite;
  ++serial_;
  return kStatusOk;
}

std::int16_t PgStore::Commit() {
  if (mode_ == Mode::kNone) return broken();
  std::int16_t st = conn_->CommitTransaction();
  return st != kStatusOk ? st : broken();
}

std::int16_t PgStore::ReleaseUnusedWriteLock() {
  if (mode_ != Mode::kWrite || writes_ != 0) return kStatusOk;
  return Commit();
}

void PgStore::Rollback() {
  if (mode_ == Mode::kNone) return;
  conn_->RollbackTransaction();
}

void PgStore::SendPending() {
  if (rewrite_ids_.empty()) return;
  // Rows read ahead before these rewrites reach the server could no longer
  // be given their bytes.
  DropPrefetch();
  const std::size_t n = rewrite_ids_.size();
  const auto len = static_cast<std::uint32_t>(spec_.record_length);
  const std::string ids =
      BinaryArray(kInt8Oid, n, 8, [this](std::size_t i, std::string* out) {
        const auto v = static_cast<std::uint64_t>(rewrite_ids_[i]);
        for (int b = 7; b >= 0; --b) out->push_back(static_cast<char>(v >> (8 * b)));
      });
  const std::string records =
      BinaryArray(kByteaOid, n, len, [this, len](std::size_t i, std::string* out) {
        out->append(rewrite_data_, i * len, len);
      });
  rewrite_ids_.clear();
  rewrite_data_.clear();
  rewrite_index_.clear();
  conn_->Defer(sql_.update_batch,
               {PgParam::Raw(kInt8ArrayOid, ids), PgParam::Raw(kByteaArrayOid, records)});
}

void PgStore::BeforeCommit() {
  // A failure here ends the transaction: the commit reports it.
  if (ResolveCounts() != kStatusOk) return;
  if (mode_ != Mode::kWrite || counts_serial_ != serial_) return;
  if (std::find(counts_dirty_.begin(), counts_dirty_.end(), true) == counts_dirty_.end()) return;
  const std::string bytes = CountsBytes(counts_);
  conn_->Defer(sql_.update_counts, {PgParam::Int8(file_id_), PgParam::Bytes(bytes)});
}

void PgStore::TransactionEnded(std::int16_t status) {
  if (status == kRolledBack) {
    ++write_generation_;  // what was read from the undone writes is stale
  } else if (status != kStatusOk && writes_ > 0 && !batch_) {
    broken_ = status;
  }
  DropPrefetch();
  for (const PendingCounts& p : pending_counts_) conn_->DropKept(p.ticket);
  pending_counts_.clear();
  mode_ = Mode::kNone;
  writes_ = 0;
  rewrite_ids_.clear();
  rewrite_data_.clear();
  rewrite_index_.clear();
  counts_serial_ = 0;
  next_id_serial_ = 0;
  // The rows read ahead stay, marked stale by the next serial: they only
  // tell the next fetch that a reader is going along.
  std::fill(counts_dirty_.begin(), counts_dirty_.end(), false);
}

void PgStore::Wrote() {
  ++writes_;
  ++write_generation_;
  conn_->CountWrite();
}

// --- Reading -----------------------------------------------------------------

std::int16_t PgStore::LoadCounts() {
  if (counts_serial_ == serial_) return kStatusOk;
  PgRows r;
  if (std::int16_t st = conn_->Query(sql_.counts, {PgParam::Int8(file_id_)}, &r); st != kStatusOk) {
    return st;
  }
  if (r.rows() != 1) return kStatusIoError;
  const std::size_t n = spec_.keys.size();
  if (static_cast<std::size_t>(r.Length(0, 0)) != 8 * (1 + n)) return kStatusIoError;
  const char* p = r.Data(0, 0);
  counts_.records = GetLe64(p);
  counts_.unique_values.assign(n, 0);
  for (std::size_t k = 0; k < n; ++k) counts_.unique_values[k] = GetLe64(p + 8 * (k + 1));
  counts_dirty_.assign(1 + n, false);
  counts_serial_ = serial_;
  return kStatusOk;
}

std::int16_t PgStore::ResolveCounts() {
  while (!pending_counts_.empty()) {
    PendingCounts p = std::move(pending_counts_.front());
    pending_counts_.erase(pending_counts_.begin());
    PgRows r;
    // A failure ends the transaction (and drops the other questions).
    if (std::int16_t st = conn_->TakeKept(p.ticket, &r); st != kStatusOk) return st;
    if (r.rows() != 1 || r.columns() != static_cast<int>(p.columns.size())) return kStatusIoError;
    for (std::size_t i = 0; i < p.columns.size(); ++i) {
      if (r.Int8(0, static_cast<int>(i)) == 0) {
        counts_.unique_values[p.columns[i].first] += p.columns[i].second;
      }
    }
  }
  return kStatusOk;
}

std::int16_t PgStore::Counts(FileCounts* out) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  if (std::int16_t st = ResolveCounts(); st != kStatusOk) return st;
  *out = counts_;
  return kStatusOk;
}

std::int16_t PgStore::RowsFrom(const PgRows& r, std::vector<Row>* rows) {
  rows->clear();
  rows->reserve(r.rows());
  for (int i = 0; i < r.rows(); ++i) {
    Row row;
    row.id = r.Int8(i, 0);
    if (r.Length(i, 1) != spec_.record_length) return kStatusIoError;  // damaged from outside
    // A rewrite kept back is this process's newer version of the record.
    auto kept = rewrite_index_.find(row.id);
    if (kept == rewrite_index_.end()) {
      row.data = r.Bytes(i, 1);
    } else {
      row.data = rewrite_data_.substr(kept->second * spec_.record_length, spec_.record_length);
    }
    if (r.columns() > 2) row.key = r.Bytes(i, 2);
    rows->push_back(std::move(row));
  }
  return kStatusOk;
}

std::int16_t PgStore::One(const std::string& sql, const std::vector<PgParam>& params,
                          std::int16_t none, Row* row) {
  // Rewrites kept back change no key: the rows found are the same with them
  // or without, and RowsFrom gives them their kept-back bytes.
  PgRows r;
  if (std::int16_t st = conn_->Query(sql, params, &r, /*send_pending=*/false); st != kStatusOk) {
    return st;
  }
  if (r.rows() == 0) return none;
  std::vector<Row> rows;
  if (std::int16_t st = RowsFrom(r, &rows); st != kStatusOk) return st;
  *row = std::move(rows.front());
  return kStatusOk;
}

std::int16_t PgStore::Read(std::int64_t id, Row* row) {
  return One(sql_.read, {PgParam::Int8(id)}, kStatusInvalidRecordAddress, row);
}

std::int16_t PgStore::Seek(int key, SeekMode mode, const std::string& encoded, Row* row) {
  const std::string& sql = sql_.seek[key * kSeekModes + static_cast<int>(mode)];
  const std::int16_t none = mode == SeekMode::kEqual ? kStatusKeyNotFound : kStatusEndOfFile;
  if (mode == SeekMode::kFirst || mode == SeekMode::kLast) return One(sql, {}, none, row);
  return One(sql, {PgParam::Bytes(encoded)}, none, row);
}

// Serves the next record of a run read ahead when the caller continues
// exactly where the last one handed out stood. 0 served, 9 the run reached
// the end, -1 not there.
std::int16_t PgStore::FromAhead(int path, bool forward, const std::string& encoded,
                                std::int64_t id, Row* row) {
  Ahead& a = ahead_;
  bool continues = a.path == path && a.forward == forward && a.pos > 0 && a.pos <= a.rows.size();
  if (continues) {
    const Row& last = a.rows[a.pos - 1];
    continues = last.id == id && (path < 0 || last.key == encoded);
  }
  if (!continues) {
    a.sequential = false;
    return -1;
  }
  a.sequential = true;  // a reader going along: the next fetch takes more
  if (a.serial != serial_) return -1;  // read before the transaction began
  if (a.pos < a.rows.size()) {
    *row = a.rows[a.pos++];
    return kStatusOk;
  }
  if (a.complete) return kStatusEndOfFile;
  return -1;
}

void PgStore::Continuation(int path, bool forward, const std::string& encoded, std::int64_t id,
                           const std::string** sql, std::vector<PgParam>* params) const {
  params->clear();
  if (path < 0) {
    *sql = forward ? &sql_.step_next : &sql_.step_previous;
    params->push_back(PgParam::Int8(id));
    return;
  }
  const int base = path * kNextVariants;
  if (spec_.keys[path].duplicates) {
    *sql = &sql_.next[base + (forward ? 0 : 1)];
    params->push_back(PgParam::Bytes(encoded));
    params->push_back(PgParam::Int8(id));
    return;
  }
  // One record per key value: the place's own value counts only from an
  // edge of its (single-record) run.
  int variant;
  if (forward) {
    variant = id <= 0 ? 2 : 3;  // >= or >
  } else {
    variant = id > kMaxPosition ? 4 : 5;  // <= or <
  }
  *sql = &sql_.next[base + variant];
  params->push_back(PgParam::Bytes(encoded));
}

void PgStore::DropPrefetch() {
  if (prefetch_.ticket != 0 && conn_ != nullptr) conn_->DropKept(prefetch_.ticket);
  prefetch_ = Prefetch();
}

std::int16_t PgStore::Fetch(int path, bool forward, const std::string& encoded, std::int64_t id,
                            Row* row) {
  const int limit = ahead_.sequential && ahead_.path == path && ahead_.forward == forward
                        ? std::clamp(ahead_.limit * 4, kFirstFetch, kMaxFetch)
                        : kFirstFetch;
  PgRows r;
  const Prefetch& p = prefetch_;
  if (p.ticket != 0 && p.path == path && p.forward == forward && p.serial == serial_ &&
      p.id == id && (path < 0 || p.key == encoded) && p.limit == limit) {
    // Asked for while the previous rows were handed out: probably in.
    const std::uint64_t ticket = p.ticket;
    prefetch_ = Prefetch();
    if (std::int16_t st = conn_->TakeKept(ticket, &r); st != kStatusOk) return st;
  } else {
    DropPrefetch();
    const std::string* sql = nullptr;
    std::vector<PgParam> params;
    Continuation(path, forward, encoded, id, &sql, &params);
    params.push_back(PgParam::Int8(limit));
    if (std::int16_t st = conn_->Query(*sql, params, &r, /*send_pending=*/false);
        st != kStatusOk) {
      return st;
    }
  }
  Ahead a;
  a.path = path;
  a.forward = forward;
  a.serial = serial_;
  a.limit = limit;
  if (std::int16_t st = RowsFrom(r, &a.rows); st != kStatusOk) return st;
  // The server rewrites the records kept back (their bytes are in the rows
  // now) while this process works through the rows just read.
  if (!rewrite_ids_.empty()) SendPending();
  a.complete = static_cast<int>(a.rows.size()) < limit;
  if (!a.complete && limit == kMaxFetch) {
    // A long read along the path: the server reads the next rows meanwhile.
    // Rewrites kept back later are still applied by RowsFrom; anything
    // else that sends writes drops these rows (SendPending, ForgetAhead).
    const Row& last = a.rows.back();
    const std::string* sql = nullptr;
    std::vector<PgParam> params;
    Continuation(path, forward, last.key, last.id, &sql, &params);
    params.push_back(PgParam::Int8(limit));
    prefetch_.ticket = conn_->DeferKept(*sql, params);
    prefetch_.path = path;
    prefetch_.forward = forward;
    prefetch_.serial = serial_;
    prefetch_.id = last.id;
    prefetch_.key = last.key;
    prefetch_.limit = kMaxFetch;
  }
  conn_->Push();
  if (a.rows.empty()) {
    ahead_ = Ahead();
    return kStatusEndOfFile;
  }
  a.pos = 1;
  *row = a.rows.front();
  ahead_ = std::move(a);
  return kStatusOk;
}

std::int16_t PgStore::Next(int key, const std::string& encoded, std::int64_t id, bool forward,
                           Row* row) {
  if (std::int16_t st = FromAhead(key, forward, encoded, id, row); st >= 0) return st;
  return Fetch(key, forward, encoded, id, row);
}

std::int16_t PgStore::Step(StepMode mode, std::int64_t id, Row* row) {
  switch (mode) {
    case StepMode::kFirst:
      return One(sql_.step_first, {}, kStatusEndOfFile, row);
    case StepMode::kLast:
      return One(sql_.step_last, {}, kStatusEndOfFile, row);
    case StepMode::kNext:
    case StepMode::kPrevious: {
      const bool forward = mode == StepMode::kNext;
      if (std::int16_t st = FromAhead(-1, forward, std::string(), id, row); st >= 0) return st;
      return Fetch(-1, forward, std::string(), id, row);
    }
  }
  return kStatusInvalidOperation;
}

// --- Writing -----------------------------------------------------------------

std::int16_t PgStore::KeyValueExists(int key, const std::string& encoded, std::int64_t except_id,
                                     bool* exists) {
  PgRows r;
  if (std::int16_t st = conn_->Query(sql_.exists_other[key],
                                     {PgParam::Bytes(encoded), PgParam::Int8(except_id)}, &r);
      st != kStatusOk) {
    return st;
  }
  *exists = r.rows() > 0;
  return kStatusOk;
}

std::int16_t PgStore::NextId(std::int64_t* id) {
  if (next_id_serial_ != serial_) {
    PgRows r;
    if (std::int16_t st = conn_->Query(sql_.max_id, {}, &r); st != kStatusOk) return st;
    if (r.rows() != 1) return kStatusIoError;
    next_id_ = r.Int8(0, 0) + 1;
    next_id_serial_ = serial_;
  }
  if (next_id_ <= kMaxPosition) {
    *id = next_id_;
    return kStatusOk;
  }
  // Positions run out at 2^32 - 1: reuse the lowest free one.
  PgRows r;
  if (std::int16_t st = conn_->Query(sql_.free_id, {}, &r); st != kStatusOk) return st;
  if (r.rows() != 1 || r.IsNull(0, 0)) return kStatusDiskFull;
  *id = r.Int8(0, 0);
  return kStatusOk;
}

void PgStore::ForgetAhead() {
  ahead_ = Ahead();
  DropPrefetch();
}

std::int16_t PgStore::Insert(std::uint8_t* record, std::int64_t* id) {
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
  std::vector<PgParam> params;
  params.push_back(PgParam::Int8(new_id));
  params.push_back(PgParam::Bytes(record, spec_.record_length));
  for (std::size_t k = 0; k < n; ++k) {
    params.push_back(is_null[k] ? PgParam::Null() : PgParam::Bytes(enc[k]));
  }
  // A duplicate in a unique key inserts nothing rather than failing: a
  // failed statement would end the whole transaction.
  PgRows r;
  if (std::int16_t st = conn_->Query(sql_.insert, params, &r); st != kStatusOk) return st;
  if (r.Affected() != 1) return kStatusDuplicateKey;
  ForgetAhead();
  ++counts_.records;
  counts_dirty_[0] = true;
  for (std::size_t k = 0; k < n; ++k) {
    if (!is_null[k] && !existed[k]) {
      ++counts_.unique_values[k];
      counts_dirty_[k + 1] = true;
    }
  }
  next_id_ = new_id + 1;
  Wrote();
  *id = new_id;
  return kStatusOk;
}

std::int16_t PgStore::Update(std::int64_t id, const std::string& old_record,
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
    changes.push_back(std::move(c));
  }
  bool counted_later = false;
  if (!changes.empty()) {
    // One question for every changed key: is the new value taken by another
    // record, is the old one still held by another (for the counts). Asked
    // under the file's write lock, so that the answer holds until the
    // commit; a unique index failing the rewrite would end the transaction.
    std::string sql = "SELECT ";
    std::vector<PgParam> params = {PgParam::Int8(id)};
    auto ask = [&](int key, const std::string& enc) {
      if (params.size() > 1) sql += ", ";
      params.push_back(PgParam::Bytes(enc));
      sql += "EXISTS (SELECT 1 FROM " + table_ + " WHERE " + KeyName(key) + " = $" +
             std::to_string(params.size()) + " AND id <> $1)";
    };
    for (const Change& c : changes) {
      if (!c.new_null) ask(c.key, c.new_enc);
      if (spec_.keys[c.key].duplicates && !c.old_null) ask(c.key, c.old_enc);
    }
    bool unique_changes = false;
    for (const Change& c : changes) {
      unique_changes = unique_changes || !spec_.keys[c.key].duplicates;
    }
    if (params.size() > 1 && !unique_changes) {
      // Only the counts need the answers: they are taken when the counts are
      // (Stat, the commit). The question goes before the rewrite and sees
      // what it would see now.
      PendingCounts pending;
      for (const Change& c : changes) {
        if (!c.new_null) pending.columns.push_back({c.key, +1});
        if (!c.old_null) pending.columns.push_back({c.key, -1});
        counts_dirty_[c.key + 1] = true;
      }
      pending.ticket = conn_->DeferKept(sql, params);
      pending_counts_.push_back(std::move(pending));
      counted_later = true;
    } else if (params.size() > 1) {
      // Kept-back rewrites change no key: the answers do not depend on them.
      PgRows r;
      if (std::int16_t st = conn_->Query(sql, params, &r, /*send_pending=*/false);
          st != kStatusOk) {
        return st;
      }
      if (r.rows() != 1 || r.columns() != static_cast<int>(params.size() - 1)) {
        return kStatusIoError;
      }
      int col = 0;
      for (Change& c : changes) {
        if (!c.new_null) {
          c.new_shared = r.Int8(0, col++) != 0;
          if (c.new_shared && !spec_.keys[c.key].duplicates) return kStatusDuplicateKey;
        }
        if (spec_.keys[c.key].duplicates && !c.old_null) c.old_shared = r.Int8(0, col++) != 0;
      }
    }
  }
  std::vector<PgParam> params;
  params.push_back(PgParam::Bytes(record, spec_.record_length));
  params.push_back(PgParam::Int8(id));
  if (changes.empty()) {
    // The common rewrite: no key moves, nothing the server can refuse that
    // the caller must hear at once (a failure fails the transaction and is
    // reported by the next answer or the commit).
    const std::size_t len = static_cast<std::size_t>(spec_.record_length);
    auto kept = rewrite_index_.find(id);
    if (kept != rewrite_index_.end()) {
      rewrite_data_.replace(kept->second * len, len, reinterpret_cast<const char*>(record), len);
    } else {
      rewrite_index_.emplace(id, rewrite_ids_.size());
      rewrite_ids_.push_back(id);
      rewrite_data_.append(reinterpret_cast<const char*>(record), len);
    }
    if (rewrite_ids_.size() >= kMaxKeptRewrites) SendPending();
    if (ahead_.path != -2) {
      for (Row& r : ahead_.rows) {
        if (r.id == id) r.data.assign(reinterpret_cast<const char*>(record), spec_.record_length);
      }
    }
  } else {
    std::string sql = "UPDATE " + table_ + " SET data = $1";
    for (std::size_t i = 0; i < changes.size(); ++i) {
      sql += ", " + KeyName(changes[i].key) + " = $" + std::to_string(i + 3);
      params.push_back(changes[i].new_null ? PgParam::Null() : PgParam::Bytes(changes[i].new_enc));
    }
    sql += " WHERE id = $2";
    // An older rewrite of the record kept back must reach the server first.
    if (rewrite_index_.count(id) > 0) SendPending();
    // The record exists and no unique key refuses the new values (both hold
    // under the write lock): like the rewrites kept back, the statement is
    // sent without waiting, and a failure nobody expects fails the
    // transaction and is reported by the next answer or the commit.
    conn_->Defer(sql, params);
    // Rows read ahead before the statement left have the old bytes; along a
    // changed key they may also stand in the wrong place.
    DropPrefetch();
    bool path_moved = false;
    for (const Change& c : changes) path_moved = path_moved || c.key == ahead_.path;
    if (path_moved) {
      ForgetAhead();
    } else if (ahead_.path != -2) {
      for (Row& r : ahead_.rows) {
        if (r.id == id) r.data.assign(reinterpret_cast<const char*>(record), spec_.record_length);
      }
    }
    for (const Change& c : changes) {
      if (counted_later) break;
      std::int64_t& u = counts_.unique_values[c.key];
      if (!c.old_null && !c.old_shared) --u;
      if (!c.new_null && !c.new_shared) ++u;
      counts_dirty_[c.key + 1] = true;
    }
  }
  Wrote();
  return kStatusOk;
}

std::int16_t PgStore::Delete(std::int64_t id, const std::string& old_record) {
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
  PgRows r;
  if (std::int16_t st = conn_->Query(sql_.delete_record, {PgParam::Int8(id)}, &r);
      st != kStatusOk) {
    return st;
  }
  if (r.Affected() != 1) return kStatusInvalidRecordAddress;
  ForgetAhead();
  --counts_.records;
  counts_dirty_[0] = true;
  for (std::size_t k = 0; k < n; ++k) {
    if (uncount[k]) {
      --counts_.unique_values[k];
      counts_dirty_[k + 1] = true;
    }
  }
  Wrote();
  return kStatusOk;
}

std::int16_t PgStore::SetOwner(const std::string& name, int mode) {
  std::vector<PgParam> params = {PgParam::Int8(file_id_),
                                 name.empty() ? PgParam::Null() : PgParam::Bytes(name),
                                 name.empty() ? PgParam::Null() : PgParam::Int4(mode)};
  if (std::int16_t st = conn_->Query(sql_.set_owner, params); st != kStatusOk) return st;
  owner_ = name;
  owner_mode_ = name.empty() ? 0 : mode;
  Wrote();
  return kStatusOk;
}

// --- Administration ------------------------------------------------------------

std::int16_t PgStore::Check(std::string* report) {
  if (std::int16_t st = Commit(); st != kStatusOk) return st;
  if (std::int16_t st = Begin(false); st != kStatusOk) return st;
  std::size_t problems = 0;
  auto note = [&](const std::string& line) {
    ++problems;
    *report += line + "\n";
  };
  const std::size_t n = spec_.keys.size();
  std::string sql = "SELECT id, data";
  for (std::size_t k = 0; k < n; ++k) sql += ", " + KeyName(static_cast<int>(k));
  sql += " FROM " + table_ + " WHERE id > $1 ORDER BY id LIMIT 5000";
  std::int64_t records = 0;
  std::int64_t after = 0;
  std::string enc;
  for (;;) {
    PgRows r;
    if (std::int16_t st = conn_->Query(sql, {PgParam::Int8(after)}, &r); st != kStatusOk) {
      note("records: not readable");
      break;
    }
    if (r.rows() == 0) break;
    for (int i = 0; i < r.rows(); ++i) {
      ++records;
      const std::int64_t id = r.Int8(i, 0);
      after = id;
      if (r.Length(i, 1) != spec_.record_length) {
        note("record " + std::to_string(id) + ": length " + std::to_string(r.Length(i, 1)));
        continue;
      }
      const auto* data = reinterpret_cast<const std::uint8_t*>(r.Data(i, 1));
      for (std::size_t k = 0; k < n; ++k) {
        const int col = static_cast<int>(k + 2);
        const bool stored_null = r.IsNull(i, col);
        const bool has = EncodeRecordKey(spec_, spec_.keys[k], data, &enc);
        if (stored_null == has || (has && r.Bytes(i, col) != enc)) {
          note("record " + std::to_string(id) + ": key " + std::to_string(k) +
               " does not match its bytes");
        }
      }
    }
  }
  if (LoadCounts() == kStatusOk) {
    if (counts_.records != records) {
      note("count of records " + std::to_string(counts_.records) + ", found " +
           std::to_string(records));
    }
    for (std::size_t k = 0; k < n; ++k) {
      PgRows r;
      std::int64_t distinct = -1;
      if (conn_->Query("SELECT count(DISTINCT " + KeyName(static_cast<int>(k)) + ") FROM " + table_,
                       {}, &r) == kStatusOk &&
          r.rows() == 1) {
        distinct = r.Int8(0, 0);
      }
      if (distinct != counts_.unique_values[k]) {
        note("key " + std::to_string(k) + ": count of unique values " +
             std::to_string(counts_.unique_values[k]) + ", found " + std::to_string(distinct));
      }
    }
  } else {
    note("counts: not readable");
  }
  if (std::int16_t st = Commit(); st != kStatusOk && problems == 0) return st;
  return problems == 0 ? kStatusOk : kStatusIoError;
}

std::int16_t PgStore::RewriteEveryRecord(int offset, const std::string& bytes) {
  if (std::int16_t st = CheckRewriteRange(offset, bytes.size()); st != kStatusOk) return st;
  if (std::int16_t st = Commit(); st != kStatusOk) return st;
  if (std::int16_t st = Begin(true); st != kStatusOk) return st;
  // overlay() counts from 1.
  std::int16_t st = conn_->Query(
      "UPDATE " + table_ + " SET data = overlay(data placing $1 from $2 for $3)",
      {PgParam::Bytes(bytes), PgParam::Int4(offset + 1),
       PgParam::Int4(static_cast<std::int32_t>(bytes.size()))});
  if (st != kStatusOk) return st;
  ForgetAhead();
  Wrote();
  return Commit();
}

}  // namespace kel
