#include "recman/admin.h"

#include "recman/engine_internal.h"
#include "recman/recman.h"

namespace kel {

std::int16_t CheckDataFile(void* position_block, std::string* report) {
  Cursor* c = CursorOf(position_block);
  if (c == nullptr) return kStatusFileNotOpen;
  return c->file->store->Check(report);
}

std::int16_t InsertAll(void* position_block, const std::vector<std::string>& records,
                       std::size_t* failed) {
  Cursor* c = CursorOf(position_block);
  if (c == nullptr) return kStatusFileNotOpen;
  if (c->read_only) return kStatusAccessDenied;
  Store& s = *c->file->store;
  if (std::int16_t st = s.broken(); st != kStatusOk) return st;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].size() != s.file_spec().record_length) {
      *failed = i;
      return kStatusDataBufferTooShort;
    }
  }
  c->phys = Place::kUnpositioned;
  c->logical = Place::kUnpositioned;
  c->has_current = false;
  // A transaction of its own: what came before is committed first, and the
  // batch is not cut by the commit window (only Begin commits).
  auto batch = [&s](const std::vector<std::string>& some, std::size_t* at, bool one_by_one) {
    if (std::int16_t st = s.Commit(); st != kStatusOk) return st;
    if (std::int16_t st = s.Begin(true); st != kStatusOk) return st;
    s.SetBatch(true);
    std::int16_t st = one_by_one ? s.Store::InsertBatch(some, at) : s.InsertBatch(some, at);
    if (st != kStatusOk) s.Rollback();
    return st;
  };
  *failed = records.size();
  std::int16_t st = batch(records, failed, false);
  if (st == kStatusDuplicateKey && *failed == records.size()) {
    // The engine refused the batch as a whole: inserting one record at a
    // time, undone again, names the record.
    std::size_t at = records.size();
    if (batch(records, &at, true) != kStatusOk) *failed = at;
    if (s.HasTransaction()) s.Rollback();
  }
  if (st == kStatusOk) {
    st = s.Commit();
    if (st != kStatusOk) *failed = records.size();
  }
  s.SetBatch(false);
  return st;
}

std::int16_t RewriteEveryRecord(void* position_block, int offset, const std::string& bytes) {
  Cursor* c = CursorOf(position_block);
  if (c == nullptr) return kStatusFileNotOpen;
  if (c->read_only) return kStatusAccessDenied;
  return c->file->store->RewriteEveryRecord(offset, bytes);
}

std::string DataFilePath(void* position_block) {
  Cursor* c = CursorOf(position_block);
  return c == nullptr ? std::string() : c->file->store->native_path();
}

}  // namespace kel
