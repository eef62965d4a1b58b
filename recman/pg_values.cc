// Known key values of a server file: for a key, every value and how many
// records hold it, so that a rewrite moving that key keeps the key's count
// of unique values, and learns whether a unique key's new value is taken,
// without asking the server about the old and the new value (a round trip
// per record, which Stat or the rewrite itself would wait for).
//
// The values are loaded under the file's write lock, once a stream of such
// rewrites shows that they pay (a load reads the whole key; a question costs
// a round trip), and are kept across transactions while nobody else changes
// the file's keys. Every commit that changes keys (Insert, Delete, a rewrite
// moving a key, whoever makes it) rewrites the file's catalogue row with the
// counts, so the row's version, read with the counts at the start of every
// transaction, tells whether the values still hold: the version this
// process's own last commit wrote, or the one the values were loaded under.
#include <algorithm>

#include "recman/pg_conn.h"
#include "recman/pg_store_internal.h"
#include "recman/recman.h"

namespace kel {
namespace {

// At most this many values are kept per file (memory: about the encoded
// key plus 60 bytes each); keys with more are asked about record by record.
constexpr std::int64_t kMaxKnownValues = 250000;
// Rewrites moving a key asked about before its values are loaded: a few,
// plus one per thousand records (the load reads every record's key once).
constexpr int kQuestionsBeforeLoad = 16;
constexpr std::int64_t kRecordsPerQuestion = 1000;

}  // namespace

bool PgStore::ValuesKnown(int key) const {
  return values_loaded_[key] != 0 && mode_ == Mode::kWrite && counts_serial_ == serial_;
}

std::int16_t PgStore::MaybeLoadValues(const std::vector<int>& keys) {
  if (mode_ != Mode::kWrite || counts_serial_ != serial_) return kStatusOk;
  ++value_questions_;
  if (value_questions_ < kQuestionsBeforeLoad + counts_.records / kRecordsPerQuestion) {
    return kStatusOk;
  }
  value_questions_ = 0;
  std::int64_t known = 0;
  for (std::size_t k = 0; k < values_.size(); ++k) {
    if (values_loaded_[k] != 0 || std::find(keys.begin(), keys.end(), k) != keys.end()) {
      known += counts_.unique_values[k];
    }
  }
  if (known > kMaxKnownValues) return kStatusOk;
  for (int key : keys) {
    if (values_loaded_[key] != 0) continue;
    // Rewrites kept back go first: the answer includes them.
    PgRows r;
    if (std::int16_t st = conn_->Query(sql_.values[key], {}, &r); st != kStatusOk) return st;
    auto& values = values_[key];
    values.clear();
    values.reserve(static_cast<std::size_t>(r.rows()));
    for (int i = 0; i < r.rows(); ++i) values.emplace(r.Bytes(i, 0), r.Int8(i, 1));
    values_loaded_[key] = 1;
  }
  values_token_ = counts_token_;
  return kStatusOk;
}

bool PgStore::NoteValue(int key, const std::string& encoded, int delta) {
  auto& values = values_[key];
  auto it = values.try_emplace(encoded, 0).first;
  const bool before = it->second > 0;
  it->second += delta;
  const bool after = it->second > 0;
  if (!after) values.erase(it);
  return before != after;
}

void PgStore::DropValues() {
  for (std::size_t k = 0; k < values_.size(); ++k) {
    if (values_loaded_[k] == 0) continue;
    values_[k] = {};
    values_loaded_[k] = 0;
  }
  values_token_.clear();
  value_questions_ = 0;
}

void PgStore::ValuesAfterTransaction(std::int16_t status) {
  const std::uint64_t ticket = token_ticket_;
  token_ticket_ = 0;
  if (status != kStatusOk) {
    if (ticket != 0) conn_->DropKept(ticket);
    DropValues();
    return;
  }
  if (ticket == 0) return;  // the commit left the row (and every key) as it was
  PgRows r;
  if (conn_->TakeKeptIfIn(ticket, &r) && r.rows() == 1) {
    values_token_ = r.Bytes(0, 0);
  } else {
    conn_->DropKept(ticket);
    DropValues();
  }
}

}  // namespace kel
