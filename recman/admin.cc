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
  // A transaction of its own: what came before is committed first, and the
  // batch is not cut by the commit window (only Begin commits).
  if (std::int16_t st = s.Commit(); st != kStatusOk) return st;
  if (std::int16_t st = s.Begin(true); st != kStatusOk) return st;
  s.SetBatch(true);
  c->phys = Place::kUnpositioned;
  c->logical = Place::kUnpositioned;
  c->has_current = false;
  std::string record;
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::int16_t st = kStatusDataBufferTooShort;
    if (records[i].size() == s.file_spec().record_length) {
      record = records[i];
      std::int64_t id = 0;
      st = s.Insert(reinterpret_cast<std::uint8_t*>(record.data()), &id);
    }
    if (st != kStatusOk) {
      s.Rollback();
      s.SetBatch(false);
      *failed = i;
      return st;
    }
  }
  std::int16_t st = s.Commit();
  s.SetBatch(false);
  if (st != kStatusOk) *failed = records.size();
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
