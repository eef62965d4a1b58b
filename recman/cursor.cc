#include "recman/cursor.h"

#include <algorithm>
#include <cstring>

#include "recman/key_codec.h"
#include "recman/recman.h"

namespace kel {
namespace {

// A place beyond every position: (key, kBeyond) sorts after every record
// with that key, (key, 0) before every one.
constexpr std::int64_t kBeyond = kMaxPosition + 1;
// TakeLock's answer when it waited: the caller must look for its record
// again, since it may have changed meanwhile.
constexpr std::int16_t kLookAgain = -1;

Store& StoreOf(Cursor* c) { return *c->file->store; }
const FileSpec& SpecOf(Cursor* c) { return c->file->store->file_spec(); }

bool ImageValid(Cursor* c) {
  Store& s = StoreOf(c);
  return c->has_current && c->image_serial == s.serial() &&
         c->image_generation == s.write_generation();
}

void SetImage(Cursor* c, std::string data) {
  c->image = std::move(data);
  c->image_serial = StoreOf(c).serial();
  c->image_generation = StoreOf(c).write_generation();
}

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool HasRecordBuffer(const CallArgs& a, int record_length) {
  return a.data != nullptr && a.data_length != nullptr &&
         *a.data_length >= static_cast<std::uint32_t>(record_length);
}

// Hands a record and its key to the caller. A data buffer too short for
// the record gets nothing (22); the position was taken all the same.
std::int16_t Deliver(Cursor* c, const CallArgs& a, const std::string& data, int key_index) {
  const FileSpec& file_spec = SpecOf(c);
  const auto* rec = reinterpret_cast<const std::uint8_t*>(data.data());
  if (key_index >= 0 && a.key != nullptr) ExtractKey(file_spec.keys[key_index], rec, a.key);
  if (!HasRecordBuffer(a, file_spec.record_length)) {
    if (a.data_length != nullptr) *a.data_length = 0;
    return kStatusDataBufferTooShort;
  }
  std::memcpy(a.data, rec, file_spec.record_length);
  *a.data_length = file_spec.record_length;
  return kStatusOk;
}

bool InMultiple(Cursor* c, std::int64_t id) {
  return std::find(c->multiple_locks.begin(), c->multiple_locks.end(), id) !=
         c->multiple_locks.end();
}

void ReleaseSingle(Cursor* c) {
  if (c->single_lock != 0 && !InMultiple(c, c->single_lock)) c->locks->UnlockRecord(c->single_lock);
  c->single_lock = 0;
}

// Drops every lock this open holds on `id` (its record is gone).
void ReleaseAllOn(Cursor* c, std::int64_t id) {
  bool held = c->single_lock == id || InMultiple(c, id);
  if (c->single_lock == id) c->single_lock = 0;
  c->multiple_locks.erase(std::remove(c->multiple_locks.begin(), c->multiple_locks.end(), id),
                          c->multiple_locks.end());
  if (held) c->locks->UnlockRecord(id);
}

void NoteLockHeld(Cursor* c, std::int64_t id, bool single) {
  // Writes of this process in the current transaction must now look for
  // record locks.
  c->file->lock_check = true;
  c->file->lock_check_serial = StoreOf(c).serial();
  if (single) {
    if (c->single_lock != id) ReleaseSingle(c);
    c->single_lock = id;
  } else if (!InMultiple(c, id)) {
    c->multiple_locks.push_back(id);
  }
}

// Takes the lock that a lock bias asks for on the record at `id`. 0 when
// held, 84 when a no-wait lock is refused, kLookAgain after a wait.
std::int16_t TakeLock(Cursor* c, std::int64_t id, int bias, std::int16_t (*flush_all)()) {
  const bool single = bias == kLockSingleWait || bias == kLockSingleNoWait;
  const bool wait = bias == kLockSingleWait || bias == kLockMultipleWait;
  if (c->single_lock == id || InMultiple(c, id)) {
    NoteLockHeld(c, id, single);
    return kStatusOk;
  }
  std::int16_t st = c->locks->LockRecord(id, /*wait=*/false);
  if (st == kStatusOk) {
    NoteLockHeld(c, id, single);
    return kStatusOk;
  }
  if (st != kStatusRecordLocked || !wait) return st;
  // Nobody may wait on this process while it waits: commit everything first.
  // A single-record wait gives up the previous single lock now (the next
  // single-lock read releases it anyway), so two waiters never hold each
  // other's records.
  if (std::int16_t f = flush_all(); f != kStatusOk) return f;
  if (single) ReleaseSingle(c);
  st = c->locks->LockRecord(id, /*wait=*/true);
  if (st != kStatusOk) return st;
  NoteLockHeld(c, id, single);
  return kLookAgain;
}

// Whether this write transaction must look for other opens' record locks.
// Another process takes record locks only inside its own write transaction,
// which cannot overlap ours, so asking once per transaction is enough; locks
// taken by this process's other opens later in the transaction set the flag
// (NoteLockHeld).
bool NeedLockChecks(Cursor* c) {
  SharedFile* f = c->file;
  if (f->lock_check_serial != StoreOf(c).serial()) {
    f->lock_check = c->locks->OtherLockersPresent();
    f->lock_check_serial = StoreOf(c).serial();
  }
  return f->lock_check;
}

// The stored bytes of the current record, for Update and Delete: 80 when
// another open changed or removed the record since this one read it.
std::int16_t CurrentStored(Cursor* c, std::string* stored) {
  if (ImageValid(c)) {
    *stored = c->image;
    return kStatusOk;
  }
  Row row;
  std::int16_t st = StoreOf(c).Read(c->phys_id, &row);
  if (st == kStatusInvalidRecordAddress) return kStatusConflict;
  if (st != kStatusOk) return st;
  if (row.data != c->image) return kStatusConflict;
  *stored = std::move(row.data);
  return kStatusOk;
}

// Logical position after a record found on key `key_index`.
void TakeRecord(Cursor* c, int key_index, Row& row) {
  c->phys = Place::kAt;
  c->phys_id = row.id;
  c->has_current = true;
  c->logical = Place::kAt;
  c->path = key_index;
  c->path_key = row.key;
  c->path_id = row.id;
  SetImage(c, std::move(row.data));
}

// Logical position on a record known by its bytes (Insert, Update, Get
// Direct): on its key of `key_index`, or none when it is left out of it.
void SeatOnKey(Cursor* c, int key_index, std::int64_t id) {
  const FileSpec& file_spec = SpecOf(c);
  c->path_id = id;
  if (key_index >= 0 &&
      EncodeRecordKey(file_spec, file_spec.keys[key_index],
                      reinterpret_cast<const std::uint8_t*>(c->image.data()), &c->path_key)) {
    c->logical = Place::kAt;
    c->path = key_index;
  } else {
    c->logical = Place::kNone;
  }
}

void LoseCurrent(Cursor* c) { c->has_current = false; }

// After a locking read: the write lock it took to read fresh data goes at
// once unless the transaction holds writes. Returns `status`, or the
// failure of that commit.
std::int16_t Unlocked(Cursor* c, std::int16_t status) {
  std::int16_t st = StoreOf(c).ReleaseUnusedWriteLock();
  return st != kStatusOk ? st : status;
}

// --- Damage from outside -------------------------------------------------
//
// On a sound file a record found along a key sits where its own bytes put
// it, and Get Next / Get Previous and the Steps always land strictly beyond
// the place they start from. A file damaged from outside (bytes of an index
// or of a record changed on the disk) can break either: an index that sends
// a read back to a record already passed, or a record whose bytes no longer
// hold the key it is filed under, whose rewrite then puts the logical
// position back where the scan has been. A loop that rewrites and moves on
// would come back to the same records for ever. Such a read answers 2 (I/O
// error) and moves nothing, so every loop over a damaged file ends: the
// places a scan stands on only ever grow, and there are finitely many.

// Whether the key stored for `row` on key `k` is the key of its bytes.
bool KeyMatchesBytes(Cursor* c, int k, const Row& row) {
  const FileSpec& file_spec = SpecOf(c);
  std::string encoded;
  return EncodeRecordKey(file_spec, file_spec.keys[k],
                         reinterpret_cast<const std::uint8_t*>(row.data.data()), &encoded) &&
         encoded == row.key;
}

// Whether (row.key, row.id) lies strictly beyond the place (key, id) in the
// direction of the move. Keys compare as unsigned bytes, as the index does.
bool BeyondPlace(const Row& row, const std::string& key, std::int64_t id, bool forward) {
  const int order = row.key.compare(key);
  if (order != 0) return forward ? order > 0 : order < 0;
  return forward ? row.id > id : row.id < id;
}

// The check of a record read along key `k` by `op` from the logical place
// the cursor held before the read: 0, or 2 for damage.
std::int16_t CheckKeyRead(Cursor* c, int op, int k, const Row& row) {
  if (!KeyMatchesBytes(c, k, row)) return kStatusIoError;
  if ((op == kOpGetNext || op == kOpGetPrevious) && c->logical == Place::kAt &&
      !BeyondPlace(row, c->path_key, c->path_id, op == kOpGetNext)) {
    return kStatusIoError;
  }
  return kStatusOk;
}

// The same for the Steps, in physical order.
std::int16_t CheckStep(Cursor* c, int op, const Row& row) {
  if (c->phys != Place::kAt) return kStatusOk;
  if (op == kOpStepNext && row.id <= c->phys_id) return kStatusIoError;
  if (op == kOpStepPrevious && row.id >= c->phys_id) return kStatusIoError;
  return kStatusOk;
}

// --- Gets along a key ---------------------------------------------------

struct Miss {
  Place place = Place::kAt;
  std::string key;
  std::int64_t id = 0;
};

std::int16_t Locate(Cursor* c, int op, int k, const std::string& search, Row* row, Miss* miss) {
  Store& s = StoreOf(c);
  std::int16_t st;
  switch (op) {
    case kOpGetEqual:
      st = s.Seek(k, SeekMode::kEqual, search, row);
      *miss = {Place::kAt, search, 0};
      return st;
    case kOpGetGreater:
      *miss = {Place::kAt, search, kBeyond};
      return s.Seek(k, SeekMode::kGreater, search, row);
    case kOpGetGreaterOrEqual:
      *miss = {Place::kAt, search, 0};
      return s.Seek(k, SeekMode::kGreaterOrEqual, search, row);
    case kOpGetLess:
      *miss = {Place::kAt, search, 0};
      return s.Seek(k, SeekMode::kLess, search, row);
    case kOpGetLessOrEqual:
      *miss = {Place::kAt, search, kBeyond};
      return s.Seek(k, SeekMode::kLessOrEqual, search, row);
    case kOpGetFirst:
      *miss = {Place::kBeforeFirst, {}, 0};
      return s.Seek(k, SeekMode::kFirst, search, row);
    case kOpGetLast:
      *miss = {Place::kAfterLast, {}, 0};
      return s.Seek(k, SeekMode::kLast, search, row);
    case kOpGetNext:
      *miss = {Place::kAfterLast, {}, 0};
      switch (c->logical) {
        case Place::kAfterLast:
          return kStatusEndOfFile;
        case Place::kAt:
          return s.Next(k, c->path_key, c->path_id, true, row);
        default:
          return s.Seek(k, SeekMode::kFirst, search, row);
      }
    case kOpGetPrevious:
      *miss = {Place::kBeforeFirst, {}, 0};
      switch (c->logical) {
        case Place::kBeforeFirst:
          return kStatusEndOfFile;
        case Place::kAt:
          return s.Next(k, c->path_key, c->path_id, false, row);
        default:
          return s.Seek(k, SeekMode::kLast, search, row);
      }
  }
  return kStatusInvalidOperation;
}

std::int16_t GetByKey(Cursor* c, CallArgs& a, std::int16_t (*flush_all)()) {
  const FileSpec& file_spec = SpecOf(c);
  int k;
  if (a.op == kOpGetNext || a.op == kOpGetPrevious) {
    if (c->logical == Place::kNone) return kStatusInvalidPositioning;
    if (c->logical == Place::kUnpositioned) {
      k = file_spec.KeyIndex(a.key_number);
      if (k < 0) return kStatusInvalidKeyNumber;
    } else {
      if (a.key_number != file_spec.keys[c->path].number) return kStatusDifferentKeyNumber;
      k = c->path;
    }
  } else {
    k = file_spec.KeyIndex(a.key_number);
    if (k < 0) return kStatusInvalidKeyNumber;
  }
  std::string search;
  if (a.op == kOpGetEqual || (a.op >= kOpGetGreater && a.op <= kOpGetLessOrEqual)) {
    if (a.key == nullptr) return kStatusKeyNotFound;
    EncodeSearchKey(file_spec, file_spec.keys[k], a.key, &search);
  }
  // A locking read runs under the write lock, so that no other process has
  // an uncommitted change of the record pending while it is read.
  const bool lock = a.bias != 0;
  Row row;
  Miss miss;
  std::int16_t st;
  for (;;) {
    st = StoreOf(c).Begin(lock && !StoreOf(c).file_read_only());
    if (st != kStatusOk) return st;
    st = Locate(c, a.op, k, search, &row, &miss);
    if (st == kStatusOk) st = CheckKeyRead(c, a.op, k, row);
    if (st != kStatusOk || !lock) break;
    std::int16_t l = TakeLock(c, row.id, a.bias, flush_all);
    if (l == kLookAgain) continue;
    if (l != kStatusOk) return Unlocked(c, l);  // no position change on 84
    break;
  }
  if (lock) st = Unlocked(c, st);
  if (st == kStatusKeyNotFound || st == kStatusEndOfFile) {
    c->logical = miss.place;
    c->path = k;
    c->path_key = std::move(miss.key);
    c->path_id = miss.id;
    LoseCurrent(c);
    return st;
  }
  if (st != kStatusOk) return st;
  TakeRecord(c, k, row);
  return Deliver(c, a, c->image, k);
}

// --- Physical order ---------------------------------------------------------

std::int16_t StepRecord(Cursor* c, CallArgs& a, std::int16_t (*flush_all)()) {
  const bool lock = a.bias != 0;
  Row row;
  std::int16_t st;
  Place miss;
  for (;;) {
    st = StoreOf(c).Begin(lock && !StoreOf(c).file_read_only());
    if (st != kStatusOk) return st;
    Store& s = StoreOf(c);
    switch (a.op) {
      case kOpStepFirst:
        miss = Place::kBeforeFirst;
        st = s.Step(StepMode::kFirst, 0, &row);
        break;
      case kOpStepLast:
        miss = Place::kAfterLast;
        st = s.Step(StepMode::kLast, 0, &row);
        break;
      case kOpStepNext:
        miss = Place::kAfterLast;
        st = c->phys == Place::kAfterLast ? kStatusEndOfFile
             : c->phys == Place::kAt      ? s.Step(StepMode::kNext, c->phys_id, &row)
                                          : s.Step(StepMode::kFirst, 0, &row);
        break;
      default:  // Step Previous
        miss = Place::kBeforeFirst;
        st = c->phys == Place::kBeforeFirst ? kStatusEndOfFile
             : c->phys == Place::kAt        ? s.Step(StepMode::kPrevious, c->phys_id, &row)
                                            : s.Step(StepMode::kLast, 0, &row);
        break;
    }
    if (st == kStatusOk) st = CheckStep(c, a.op, row);
    if (st != kStatusOk || !lock) break;
    std::int16_t l = TakeLock(c, row.id, a.bias, flush_all);
    if (l == kLookAgain) continue;
    if (l != kStatusOk) return Unlocked(c, l);
    break;
  }
  if (lock) st = Unlocked(c, st);
  if (st == kStatusEndOfFile) {
    c->phys = miss;
    c->logical = Place::kNone;
    LoseCurrent(c);
    return st;
  }
  if (st != kStatusOk) return st;
  c->phys = Place::kAt;
  c->phys_id = row.id;
  c->has_current = true;
  c->logical = Place::kNone;
  SetImage(c, std::move(row.data));
  return Deliver(c, a, c->image, -1);
}

// --- Positions ---------------------------------------------------------------

std::int16_t GetPosition(Cursor* c, CallArgs& a) {
  if (!c->has_current) return kStatusInvalidPositioning;
  if (a.data == nullptr || a.data_length == nullptr || *a.data_length < 4) {
    return kStatusDataBufferTooShort;
  }
  for (int i = 0; i < 4; ++i) a.data[i] = static_cast<std::uint8_t>(c->phys_id >> (8 * i));
  *a.data_length = 4;
  return kStatusOk;
}

std::int16_t GetDirect(Cursor* c, CallArgs& a, std::int16_t (*flush_all)()) {
  const FileSpec& file_spec = SpecOf(c);
  if (a.data == nullptr || a.data_length == nullptr || *a.data_length < 4) {
    return kStatusDataBufferTooShort;
  }
  const std::int64_t id = ReadU32(a.data);
  if (id == 0) return kStatusInvalidRecordAddress;
  // A negative key number reads the record without a key path.
  int k = -1;
  if (a.key_number >= 0) {
    k = file_spec.KeyIndex(a.key_number);
    if (k < 0) return kStatusInvalidKeyNumber;
  }
  const bool lock = a.bias != 0;
  Row row;
  for (;;) {
    std::int16_t st = StoreOf(c).Begin(lock && !StoreOf(c).file_read_only());
    if (st != kStatusOk) return st;
    // The record this open holds, read in this very transaction, needs no
    // second read (the classic loop re-reads each record it just updated).
    if (!lock && c->phys_id == id && ImageValid(c)) {
      row.id = id;
      row.data = c->image;
    } else {
      st = StoreOf(c).Read(id, &row);
      if (st != kStatusOk) return lock ? Unlocked(c, st) : st;
    }
    if (!lock) break;
    std::int16_t l = TakeLock(c, id, a.bias, flush_all);
    if (l == kLookAgain) continue;
    if (l != kStatusOk) return Unlocked(c, l);
    if (std::int16_t u = Unlocked(c, kStatusOk); u != kStatusOk) return u;
    break;
  }
  c->phys = Place::kAt;
  c->phys_id = id;
  c->has_current = true;
  SetImage(c, std::move(row.data));
  SeatOnKey(c, k, id);
  return Deliver(c, a, c->image, c->logical == Place::kAt ? k : -1);
}

// --- Writes ----------------------------------------------------------------

std::int16_t Insert(Cursor* c, CallArgs& a) {
  const FileSpec& file_spec = SpecOf(c);
  if (c->read_only) return kStatusAccessDenied;
  if (!HasRecordBuffer(a, file_spec.record_length)) return kStatusDataBufferTooShort;
  int k = -1;
  if (a.key_number >= 0) {
    k = file_spec.KeyIndex(a.key_number);
    if (k < 0) return kStatusInvalidKeyNumber;
  }
  if (std::int16_t st = StoreOf(c).Begin(true); st != kStatusOk) return st;
  std::string record(reinterpret_cast<const char*>(a.data), file_spec.record_length);
  std::int64_t id = 0;
  std::int16_t st = StoreOf(c).Insert(reinterpret_cast<std::uint8_t*>(record.data()), &id);
  if (st != kStatusOk) return st;
  // Autoincrement values assigned by the insert go back to the caller.
  std::memcpy(a.data, record.data(), file_spec.record_length);
  c->phys = Place::kAt;
  c->phys_id = id;
  c->has_current = true;
  SetImage(c, std::move(record));
  SeatOnKey(c, k, id);
  if (k >= 0 && a.key != nullptr) {
    ExtractKey(file_spec.keys[k], reinterpret_cast<const std::uint8_t*>(c->image.data()), a.key);
  }
  return kStatusOk;
}

std::int16_t Update(Cursor* c, CallArgs& a) {
  const FileSpec& file_spec = SpecOf(c);
  if (c->read_only) return kStatusAccessDenied;
  if (!HasRecordBuffer(a, file_spec.record_length)) return kStatusDataBufferTooShort;
  if (!c->has_current) return kStatusInvalidPositioning;
  const bool has_path = c->logical == Place::kAt || c->logical == Place::kBeforeFirst ||
                        c->logical == Place::kAfterLast;
  int k = -1;
  if (has_path) {
    if (a.key_number != file_spec.keys[c->path].number) return kStatusDifferentKeyNumber;
    k = c->path;
  } else if (a.key_number >= 0) {
    // Without a key path the key number says where the position goes: one
    // that names no key is refused before anything is written, as Insert
    // and Get Direct refuse it.
    k = file_spec.KeyIndex(a.key_number);
    if (k < 0) return kStatusInvalidKeyNumber;
  }
  Store& s = StoreOf(c);
  if (std::int16_t st = s.Begin(true); st != kStatusOk) return st;
  const std::int64_t id = c->phys_id;
  if (NeedLockChecks(c) && c->locks->LockedByOther(id)) return kStatusRecordLocked;
  std::string stored;
  if (std::int16_t st = CurrentStored(c, &stored); st != kStatusOk) return st;
  std::int16_t st = s.Update(id, stored, a.data);
  if (st != kStatusOk) return st;
  SetImage(c, std::string(reinterpret_cast<const char*>(a.data), file_spec.record_length));
  if (c->single_lock == id) ReleaseSingle(c);
  SeatOnKey(c, k, id);
  if (c->logical == Place::kAt && a.key != nullptr) {
    ExtractKey(file_spec.keys[k], a.data, a.key);
  }
  return kStatusOk;
}

std::int16_t Delete(Cursor* c) {
  if (c->read_only) return kStatusAccessDenied;
  if (!c->has_current) return kStatusInvalidPositioning;
  Store& s = StoreOf(c);
  if (std::int16_t st = s.Begin(true); st != kStatusOk) return st;
  const std::int64_t id = c->phys_id;
  if (NeedLockChecks(c) && c->locks->LockedByOther(id)) return kStatusRecordLocked;
  std::string stored;
  if (std::int16_t st = CurrentStored(c, &stored); st != kStatusOk) return st;
  if (std::int16_t st = s.Delete(id, stored); st != kStatusOk) return st;
  ReleaseAllOn(c, id);
  // Get Next / Previous and the Steps continue from the place the record
  // had: the logical place (key, id) and phys_id stay as gaps.
  LoseCurrent(c);
  return kStatusOk;
}

// --- Stat and Unlock ------------------------------------------------------------

std::int16_t Stat(Cursor* c, CallArgs& a) {
  Store& s = StoreOf(c);
  if (std::int16_t st = s.Begin(false); st != kStatusOk) return st;
  FileCounts counts;
  if (std::int16_t st = s.Counts(&counts); st != kStatusOk) return st;
  const std::string out = BuildStatBuffer(s.file_spec(), counts, a.key_number == -1);
  if (a.data == nullptr || a.data_length == nullptr || *a.data_length < out.size()) {
    return kStatusDataBufferTooShort;
  }
  std::memcpy(a.data, out.data(), out.size());
  *a.data_length = static_cast<std::uint32_t>(out.size());
  return kStatusOk;
}

std::int16_t Unlock(Cursor* c, CallArgs& a) {
  if (a.key_number >= 0) {
    ReleaseSingle(c);
    return kStatusOk;
  }
  if (a.key_number == kUnlockAllMultiple) {
    for (std::int64_t id : c->multiple_locks) {
      if (id != c->single_lock) c->locks->UnlockRecord(id);
    }
    c->multiple_locks.clear();
    return kStatusOk;
  }
  if (a.key_number == kUnlockOneMultiple) {
    if (a.data == nullptr || a.data_length == nullptr || *a.data_length < 4) {
      return kStatusDataBufferTooShort;
    }
    const std::int64_t id = ReadU32(a.data);
    if (InMultiple(c, id)) {
      c->multiple_locks.erase(std::remove(c->multiple_locks.begin(), c->multiple_locks.end(), id),
                              c->multiple_locks.end());
      if (id != c->single_lock) c->locks->UnlockRecord(id);
    }
    return kStatusOk;
  }
  return kStatusInvalidOperation;
}

}  // namespace

std::int16_t RunRecordOperation(Cursor* c, CallArgs& a, std::int16_t (*flush_all)()) {
  switch (a.op) {
    case kOpGetEqual:
    case kOpGetNext:
    case kOpGetPrevious:
    case kOpGetGreater:
    case kOpGetGreaterOrEqual:
    case kOpGetLess:
    case kOpGetLessOrEqual:
    case kOpGetFirst:
    case kOpGetLast:
      return GetByKey(c, a, flush_all);
    case kOpStepNext:
    case kOpStepFirst:
    case kOpStepLast:
    case kOpStepPrevious:
      return StepRecord(c, a, flush_all);
    case kOpGetPosition:
      return GetPosition(c, a);
    case kOpGetDirect:
      return GetDirect(c, a, flush_all);
    case kOpInsert:
      return Insert(c, a);
    case kOpUpdate:
      return Update(c, a);
    case kOpDelete:
      return Delete(c);
    case kOpStat:
      return Stat(c, a);
    case kOpUnlock:
      return Unlock(c, a);
  }
  return kStatusInvalidOperation;
}

}  // namespace kel
