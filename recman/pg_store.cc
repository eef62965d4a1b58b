#include "recman/pg_store.h"

#include <algorithm>
#include <cstring>

#include "recman/key_codec.h"
#include "recman/pg_arrays.h"
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

// The bytes [first, last) outside which `a` and `b` (`n` bytes each) are
// equal; first == last when they are equal throughout. Compared eight bytes
// at a time.
std::pair<int, int> DifferingBytes(const std::uint8_t* a, const std::uint8_t* b, int n) {
  int first = 0, last = n;
  auto word = [](const std::uint8_t* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
  };
  while (first + 8 <= last && word(a + first) == word(b + first)) first += 8;
  while (first < last && a[first] == b[first]) ++first;
  while (last - 8 >= first && word(a + last - 8) == word(b + last - 8)) last -= 8;
  while (last > first && a[last - 1] == b[last - 1]) --last;
  return {first, last};
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
    if (token_ticket_ != 0) conn_->DropKept(token_ticket_);
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
  const auto len = static_cast<std::size_t>(spec_.record_length);
  // Rewrites that move keys go in a statement of their own, with the new
  // values of every key with duplicates (no unique key moves among them).
  // A rewrite that changes no byte needs no statement.
  std::vector<std::size_t> plain, keyed;
  for (std::size_t i = 0; i < rewrite_ids_.size(); ++i) {
    if (rewrite_keyed_[i] != 0) {
      keyed.push_back(i);
    } else if (rewrite_span_[i].first < rewrite_span_[i].second) {
      plain.push_back(i);
    }
  }
  auto send = [&](const std::vector<std::size_t>& which, const std::string& sql, bool keys) {
    if (which.empty()) return;
    const std::string ids =
        pg_arrays::Int8Array(which.size(), [&](std::size_t i) { return rewrite_ids_[which[i]]; });
    std::string at, parts;
    at.reserve(20 + 8 * which.size());
    pg_arrays::PutHeader(&at, false, pg_arrays::kInt4Oid, which.size());
    std::vector<std::string> part(which.size());
    std::vector<const std::string*> items(which.size());
    for (std::size_t i = 0; i < which.size(); ++i) {
      const auto [first, last] = rewrite_span_[which[i]];
      pg_arrays::PutBe32(&at, 4);
      pg_arrays::PutBe32(&at, static_cast<std::uint32_t>(first));
      part[i].assign(rewrite_data_, which[i] * len + static_cast<std::size_t>(first),
                     static_cast<std::size_t>(last - first));
      items[i] = &part[i];
    }
    parts = pg_arrays::BytesArray(items);
    std::vector<PgParam> params = {PgParam::Raw(pg_arrays::kInt8ArrayOid, ids),
                                   PgParam::Raw(pg_arrays::kInt4ArrayOid, at),
                                   PgParam::Raw(pg_arrays::kByteaArrayOid, parts)};
    std::vector<std::string> key_arrays;
    if (keys) {
      key_arrays.reserve(sql_.dup_keys.size());
      std::vector<std::string> enc(which.size());
      for (int key : sql_.dup_keys) {
        for (std::size_t i = 0; i < which.size(); ++i) {
          const auto* record =
              reinterpret_cast<const std::uint8_t*>(rewrite_data_.data() + which[i] * len);
          items[i] = EncodeRecordKey(spec_, spec_.keys[key], record, &enc[i]) ? &enc[i] : nullptr;
        }
        key_arrays.push_back(pg_arrays::BytesArray(items));
      }
      for (const std::string& a : key_arrays) {
        params.push_back(PgParam::Raw(pg_arrays::kByteaArrayOid, a));
      }
    }
    conn_->Defer(sql, params);
  };
  send(plain, sql_.update_batch, false);
  send(keyed, sql_.update_keyed, true);
  rewrite_ids_.clear();
  rewrite_data_.clear();
  rewrite_span_.clear();
  rewrite_index_.clear();
  rewrite_keyed_.clear();
  keyed_kept_ = 0;
  std::fill(kept_moved_.begin(), kept_moved_.end(), 0);
}

void PgStore::KeepRewrite(std::int64_t id, const std::string& old_record,
                          const std::uint8_t* record, const std::vector<int>& moved) {
  const std::size_t len = static_cast<std::size_t>(spec_.record_length);
  const char keyed = moved.empty() ? 0 : 1;
  // The bytes that differ from the record as stored (or as an earlier
  // rewrite kept back left it, itself laid over the stored one).
  const auto* old = reinterpret_cast<const std::uint8_t*>(old_record.data());
  const auto [first, last] = DifferingBytes(old, record, static_cast<int>(len));
  auto kept = rewrite_index_.find(id);
  if (kept != rewrite_index_.end()) {
    const std::size_t i = kept->second;
    rewrite_data_.replace(i * len, len, reinterpret_cast<const char*>(record), len);
    auto& span = rewrite_span_[i];
    if (first < last) {
      span = span.first < span.second
                 ? std::make_pair(std::min(span.first, first), std::max(span.second, last))
                 : std::make_pair(first, last);
    }
    if (keyed != 0 && rewrite_keyed_[i] == 0) {
      rewrite_keyed_[i] = 1;
      ++keyed_kept_;
    }
  } else {
    rewrite_index_.emplace(id, rewrite_ids_.size());
    rewrite_ids_.push_back(id);
    rewrite_data_.append(reinterpret_cast<const char*>(record), len);
    rewrite_span_.emplace_back(first, last);
    rewrite_keyed_.push_back(keyed);
    keyed_kept_ += keyed;
  }
  for (int key : moved) kept_moved_[key] = 1;
  // Rows read ahead get the new bytes; along a key that moved they may
  // stand in the wrong place.
  if (std::find(moved.begin(), moved.end(), ahead_.path) != moved.end()) {
    ForgetAhead();
  } else {
    UpdateAhead(id, record);
  }
  if (rewrite_ids_.size() >= kMaxKeptRewrites) SendPending();
}

void PgStore::UpdateAhead(std::int64_t id, const std::uint8_t* record) {
  if (ahead_.path == -2) return;
  const auto* bytes = reinterpret_cast<const char*>(record);
  // Mostly the row handed out last: a reader going along rewrites it.
  if (ahead_.pos > 0 && ahead_.pos <= ahead_.rows.size() && ahead_.rows[ahead_.pos - 1].id == id) {
    ahead_.rows[ahead_.pos - 1].data.assign(bytes, spec_.record_length);
    return;
  }
  for (Row& r : ahead_.rows) {
    if (r.id == id) r.data.assign(bytes, spec_.record_length);
  }
}

void PgStore::SendKeyedFor(int key) {
  if (keyed_kept_ == 0) return;
  if (key < 0 || kept_moved_[key] != 0) SendPending();
}

void PgStore::BeforeCommit() {
  // A failure here ends the transaction: the commit reports it.
  if (ResolveCounts() != kStatusOk) return;
  if (mode_ != Mode::kWrite || counts_serial_ != serial_) return;
  if (std::find(counts_dirty_.begin(), counts_dirty_.end(), true) == counts_dirty_.end()) return;
  const std::string bytes = CountsBytes(counts_);
  token_ticket_ =
      conn_->DeferKept(sql_.update_counts, {PgParam::Int8(file_id_), PgParam::Bytes(bytes)});
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
  ValuesAfterTransaction(status);
  mode_ = Mode::kNone;
  writes_ = 0;
  rewrite_ids_.clear();
  rewrite_data_.clear();
  rewrite_span_.clear();
  rewrite_index_.clear();
  rewrite_keyed_.clear();
  keyed_kept_ = 0;
  std::fill(kept_moved_.begin(), kept_moved_.end(), 0);
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
  if (r.rows() != 1 || r.columns() != 2) return kStatusIoError;
  const std::size_t n = spec_.keys.size();
  if (static_cast<std::size_t>(r.Length(0, 0)) != 8 * (1 + n)) return kStatusIoError;
  // Another version of the row than the known values describe: another
  // station changed keys since (or the values were never loaded).
  counts_token_ = r.Bytes(0, 1);
  if (counts_token_ != values_token_) DropValues();
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
  // Rewrites kept back move no key along which this reads (Seek sends
  // those first): the rows found are the same with them or without, and
  // RowsFrom gives them their kept-back bytes.
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
  SendKeyedFor(key);
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
  if (path >= 0) SendKeyedFor(path);
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
    if (is_null[k] || !spec_.keys[k].duplicates) continue;
    const int key = static_cast<int>(k);
    if (ValuesKnown(key)) {
      auto it = values_[k].find(enc[k]);
      existed[k] = it != values_[k].end() && it->second > 0;
      continue;
    }
    bool exists = false;
    if (std::int16_t st = KeyValueExists(key, enc[k], 0, &exists); st != kStatusOk) return st;
    existed[k] = exists;
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
    if (!is_null[k] && ValuesKnown(static_cast<int>(k))) NoteValue(static_cast<int>(k), enc[k], +1);
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
  std::vector<int> moved;
  bool unique_changes = false;
  for (std::size_t k = 0; k < spec_.keys.size(); ++k) {
    const KeyDef& def = spec_.keys[k];
    if (SameKeyBytes(def, old, record)) continue;
    Change c{static_cast<int>(k), {}, {}, false, false, false, false};
    c.old_null = !EncodeRecordKey(spec_, def, old, &c.old_enc);
    c.new_null = !EncodeRecordKey(spec_, def, record, &c.new_enc);
    if (c.old_null == c.new_null && c.old_enc == c.new_enc) continue;  // equal once folded
    if (!def.modifiable) return kStatusKeyNotModifiable;
    unique_changes = unique_changes || !def.duplicates;
    moved.push_back(c.key);
    changes.push_back(std::move(c));
  }
  // One more or one fewer record on each value of a changed key whose
  // values are known: the counts follow at once.
  auto note_known = [this](Change& c) {
    std::int64_t& u = counts_.unique_values[c.key];
    if (!c.old_null && NoteValue(c.key, c.old_enc, -1)) --u;
    if (!c.new_null && NoteValue(c.key, c.new_enc, +1)) ++u;
    counts_dirty_[c.key + 1] = true;
  };
  // With the values of every key it moves known, the counts follow at once
  // and a unique key's new value is checked here (5 when another record
  // holds it). Moving only keys with duplicates, or none, it cannot then be
  // refused in a way the caller must hear at once: it is kept back and sent
  // with the other rewrites as one statement (a failure fails the
  // transaction and is reported by the next answer or the commit).
  bool known = true;
  for (int key : moved) known = known && ValuesKnown(key);
  if (!known) {
    if (std::int16_t st = MaybeLoadValues(moved); st != kStatusOk) return st;
    known = true;
    for (int key : moved) known = known && ValuesKnown(key);
  }
  for (const Change& c : changes) {
    if (spec_.keys[c.key].duplicates || c.new_null || !ValuesKnown(c.key)) continue;
    auto held = values_[c.key].find(c.new_enc);
    if (held != values_[c.key].end() && held->second > 0) return kStatusDuplicateKey;
  }
  if (known) {
    for (Change& c : changes) note_known(c);
    if (!unique_changes) {
      KeepRewrite(id, old_record, record, moved);
      Wrote();
      return kStatusOk;
    }
  }
  // The keys whose values are not known: one question for every changed
  // key, is the new value taken by another record, is the old one still
  // held by another (for the counts). Asked under the file's write lock,
  // so that the answer holds until the commit; a unique index failing the
  // rewrite would end the transaction. The rewrites kept back that move
  // keys are in the answer.
  std::string sql = "SELECT ";
  std::vector<PgParam> params = {PgParam::Int8(id)};
  auto ask = [&](int key, const std::string& enc) {
    if (params.size() > 1) sql += ", ";
    params.push_back(PgParam::Bytes(enc));
    sql += "EXISTS (SELECT 1 FROM " + table_ + " WHERE " + KeyName(key) + " = $" +
           std::to_string(params.size()) + " AND id <> $1)";
  };
  for (const Change& c : changes) {
    if (ValuesKnown(c.key)) continue;
    if (!c.new_null) ask(c.key, c.new_enc);
    if (spec_.keys[c.key].duplicates && !c.old_null) ask(c.key, c.old_enc);
  }
  bool counted_later = false;
  if (params.size() > 1 && !unique_changes) {
    // Only the counts need the answers: they are taken when the counts are
    // (Stat, the commit). The question goes before the rewrite and sees
    // what it would see now.
    SendKeyedFor(-1);
    PendingCounts pending;
    for (const Change& c : changes) {
      if (ValuesKnown(c.key)) continue;
      if (!c.new_null) pending.columns.push_back({c.key, +1});
      if (!c.old_null) pending.columns.push_back({c.key, -1});
      counts_dirty_[c.key + 1] = true;
    }
    pending.ticket = conn_->DeferKept(sql, params);
    pending_counts_.push_back(std::move(pending));
    counted_later = true;
  } else if (params.size() > 1) {
    PgRows r;
    if (std::int16_t st = conn_->Query(sql, params, &r, /*send_pending=*/KeepsKeyedRewrites());
        st != kStatusOk) {
      return st;
    }
    if (r.rows() != 1 || r.columns() != static_cast<int>(params.size() - 1)) {
      return kStatusIoError;
    }
    int col = 0;
    for (Change& c : changes) {
      if (ValuesKnown(c.key)) continue;
      if (!c.new_null) {
        c.new_shared = r.Int8(0, col++) != 0;
        if (c.new_shared && !spec_.keys[c.key].duplicates) return kStatusDuplicateKey;
      }
      if (spec_.keys[c.key].duplicates && !c.old_null) c.old_shared = r.Int8(0, col++) != 0;
    }
  }
  std::vector<PgParam> update = {PgParam::Bytes(record, spec_.record_length), PgParam::Int8(id)};
  std::string statement = "UPDATE " + table_ + " SET data = $1";
  for (std::size_t i = 0; i < changes.size(); ++i) {
    statement += ", " + KeyName(changes[i].key) + " = $" + std::to_string(i + 3);
    update.push_back(changes[i].new_null ? PgParam::Null() : PgParam::Bytes(changes[i].new_enc));
  }
  statement += " WHERE id = $2";
  // An older rewrite of the record kept back must reach the server first.
  if (rewrite_index_.count(id) > 0) SendPending();
  // The record exists and no unique key refuses the new values (both hold
  // under the write lock): like the rewrites kept back, the statement is
  // sent without waiting, and a failure nobody expects fails the
  // transaction and is reported by the next answer or the commit.
  conn_->Defer(statement, update);
  // Rows read ahead before the statement left have the old bytes; along a
  // changed key they may also stand in the wrong place.
  DropPrefetch();
  if (std::find(moved.begin(), moved.end(), ahead_.path) != moved.end()) {
    ForgetAhead();
  } else {
    UpdateAhead(id, record);
  }
  for (Change& c : changes) {
    if (ValuesKnown(c.key)) {
      if (!known) note_known(c);
      continue;
    }
    if (counted_later) continue;
    std::int64_t& u = counts_.unique_values[c.key];
    if (!c.old_null && !c.old_shared) --u;
    if (!c.new_null && !c.new_shared) ++u;
    counts_dirty_[c.key + 1] = true;
  }
  Wrote();
  return kStatusOk;
}

std::int16_t PgStore::Delete(std::int64_t id, const std::string& old_record) {
  if (std::int16_t st = LoadCounts(); st != kStatusOk) return st;
  const auto* old = reinterpret_cast<const std::uint8_t*>(old_record.data());
  const std::size_t n = spec_.keys.size();
  std::vector<std::string> enc(n);
  std::vector<char> is_null(n), uncount(n);
  for (std::size_t k = 0; k < n; ++k) {
    is_null[k] = !EncodeRecordKey(spec_, spec_.keys[k], old, &enc[k]);
    if (is_null[k]) continue;
    const int key = static_cast<int>(k);
    bool shared = false;
    if (ValuesKnown(key)) {
      auto it = values_[k].find(enc[k]);
      shared = it != values_[k].end() && it->second > 1;
    } else if (spec_.keys[k].duplicates) {
      if (std::int16_t st = KeyValueExists(key, enc[k], id, &shared); st != kStatusOk) return st;
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
    if (!is_null[k] && ValuesKnown(static_cast<int>(k))) NoteValue(static_cast<int>(k), enc[k], -1);
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
