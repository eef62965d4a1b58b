#include "datafile/db_file.h"

#include <algorithm>
#include <cstring>

#include "datafile/db_internal.h"
#include "datafile/db_manager.h"
#include "datafile/lock_mode.h"
#include "datafile/notices.h"
#include "platform/system.h"
#include "recman/recman.h"
#include "screen/message_box.h"
#include "screen/windows.h"
#include "util/save_stack.h"

namespace kel {
namespace {

OpenFileEntry* EntryAt(std::int16_t index) {
  if (index < 1 || index > kMaxOpenFiles) return nullptr;
  OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
  return e.FileNumber == 0 ? nullptr : &e;
}

// The entry of an open file number, or nullptr.
OpenFileEntry* OpenEntry(std::int16_t file_number) {
  const std::int16_t index = DbSlot(file_number);
  return index < 1 ? nullptr : &DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
}

std::int8_t WireKeyNumber(std::int16_t key_number) { return static_cast<std::int8_t>(key_number); }

void AbsorbShortBuffer(std::int16_t* status) {
  if (*status == kStatusDataBufferTooShort) *status = kStatusOk;
}

void PutLe32(std::uint8_t* out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
  out[2] = static_cast<std::uint8_t>(v >> 16);
  out[3] = static_cast<std::uint8_t>(v >> 24);
}

std::int32_t GetLe32(const std::uint8_t* in) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
      (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24));
}

// The record length as far as the data buffer holds it (DbOpen refuses
// longer records; this only keeps a damaged entry inside the buffer).
std::size_t RecordBytes(const OpenFileEntry& e) {
  return std::min(static_cast<std::size_t>(std::max(e.RecordLength, 0)), kDataBufferSize);
}

// The record as the caller holds it, into the data buffer: the area, then
// for a short area the rest of the record as last read, then blanks.
void CopyFromRecordArea(const OpenFileEntry& e, std::uint8_t* data) {
  std::memset(data, ' ', kDataBufferSize);
  const std::size_t record = RecordBytes(e);
  const std::size_t from_area = std::min(record, e.RecordCapacity);
  if (from_area > 0) std::memcpy(data, e.RecordAddress, from_area);
  const std::size_t tail = std::min(record - from_area, e.RecordTail.size());
  if (tail > 0) std::memcpy(data + from_area, e.RecordTail.data(), tail);
}

// The padding of the key buffer after the search value: Get Greater (or
// Equal) searches from the lowest value with that prefix, Get Less (or
// Equal) from the highest.
std::uint8_t KeyPadding(std::int16_t operation) {
  if (operation == kOpGetGreater || operation == kOpGetGreaterOrEqual) return 0;
  if (operation == kOpGetLess || operation == kOpGetLessOrEqual) return 255;
  return ' ';
}

// The entry index of `file_number` and the length of its key `key_number`
// (cut to the key buffer), for the calls that take a key: status 3 when the
// file is not open, 1004 when it has no such key (index 0 in both cases).
std::int16_t EntryForKey(std::int16_t file_number, std::int16_t key_number,
                           std::int16_t* status, std::size_t* length) {
  const std::int16_t index = DbSlot(file_number);
  if (index < 1) {
    *status = kStatusFileNotOpen;
    return 0;
  }
  std::int16_t key_length = 0;
  std::int32_t record_length = 0;
  DbKeyInfo(file_number, key_number, &key_length, &record_length);
  if (key_length <= 0) {
    *status = kStatusNoSuchKey;
    return 0;
  }
  *length = std::min(static_cast<std::size_t>(key_length), kMaxKeyLength);
  return index;
}

}  // namespace

TransferBuffers& Transfer() {
  static TransferBuffers buffers;
  return buffers;
}

DataFileState& DataFiles() {
  static DataFileState state;
  return state;
}

void ResetDataFiles() {
  DataFileState& s = DataFiles();
  for (OpenFileEntry& e : s.OpenFileTable) FreeEntry(&e);
  s.LockModeStack.clear();
  ResetRecordManagerChoice();
}

void FreeEntry(OpenFileEntry* entry) {
  entry->FileNumber = 0;
  std::memset(entry->PositionBlock, 0, sizeof entry->PositionBlock);
  entry->RecordAddress = nullptr;
  entry->RecordCapacity = 0;
  entry->RecordLength = 0;
  entry->KeyNumber = 0;
  entry->KeyValue.clear();
  entry->LockMode = 0;
  entry->RangeStart.clear();
  entry->RangeEnd.clear();
  entry->RecordTail.clear();
}

void CopyToRecordArea(OpenFileEntry* entry, const std::uint8_t* data, std::size_t length) {
  length = std::min(length, static_cast<std::size_t>(std::max(entry->RecordLength, 0)));
  const std::size_t to_area = std::min(length, entry->RecordCapacity);
  if (to_area > 0) std::memcpy(entry->RecordAddress, data, to_area);
  if (length > to_area) {
    const std::size_t n = std::min(length - to_area, entry->RecordTail.size());
    std::memcpy(entry->RecordTail.data(), data + to_area, n);
  }
}

void TakeZeroEndedKey(OpenFileEntry* entry, const std::uint8_t* key) {
  const std::size_t limit = std::min(entry->KeyValue.size(), kMaxKeyLength);
  std::size_t n = 0;
  while (n < limit && key[n] != 0) ++n;
  entry->KeyValue.assign(reinterpret_cast<const char*>(key), n);
}

std::int16_t DbSlot(std::int16_t file_number) {
  const DataFileState& s = DataFiles();
  std::int16_t free_index = 0;
  for (std::int16_t i = 1; i <= kMaxOpenFiles; ++i) {
    const std::int16_t number = s.OpenFileTable[static_cast<std::size_t>(i)].FileNumber;
    if (number == file_number) return i;
    if (number == 0) free_index = i;
  }
  return static_cast<std::int16_t>(-free_index);
}

void DbCall(std::int16_t entry, std::int16_t* operation, std::int16_t* status) {
  OpenFileEntry* e = EntryAt(entry);
  if (e == nullptr) {
    *status = kStatusFileNotOpen;
    return;
  }
  if (e->LockMode != 0 && IsLockableOperation(*operation)) *operation += kLockBias;
  const std::int16_t op = *operation;
  TransferBuffers& t = Transfer();
  const std::size_t key_length = std::min(e->KeyValue.size(), kMaxKeyLength);
  int tries = 0;
  for (;;) {
    CopyFromRecordArea(*e, t.data);
    auto data_length = static_cast<std::uint32_t>(RecordBytes(*e));
    std::memcpy(t.key, e->KeyValue.data(), key_length);
    // The padding looks at the code as sent: with a lock bias the search
    // value is followed by blanks (the record manager reads only the key's
    // own length, so this never changes what is found).
    std::memset(t.key + key_length, KeyPadding(op), kKeyBufferSize - key_length);
    *status = RecordManager()(op, e->PositionBlock, t.data, &data_length, t.key,
                              static_cast<std::uint8_t>(key_length), WireKeyNumber(e->KeyNumber));
    CopyToRecordArea(e, t.data, data_length);
    e->KeyValue.assign(reinterpret_cast<const char*>(t.key), key_length);
    const bool locked = *status == kStatusRecordLocked || *status == kStatusFileInUse;
    if (!locked || e->LockMode != 1) break;
    CurrentEnv().SleepMillis(LockedRecordPauseMillis());
    if (tries < 2) ++tries;
    if (tries == 1) {
      std::string notice = LockedRecordNotice();
      MessageBox(24, &notice);
    }
  }
  if (tries != 0) WinPop();
}

void DbFind(std::int16_t file_number, std::int16_t key_number, std::string_view key,
            std::int16_t direction, std::int16_t* status) {
  std::size_t length = 0;
  const std::int16_t index = EntryForKey(file_number, key_number, status, &length);
  if (index < 1) return;
  OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
  e.KeyNumber = key_number;
  e.KeyValue.assign(key.substr(0, length));
  e.KeyValue.resize(length, '\0');
  std::int16_t op = direction < 0   ? kOpGetLessOrEqual
                    : direction > 0 ? kOpGetGreaterOrEqual
                                    : kOpGetEqual;
  *status = kStatusOk;
  DbCall(index, &op, status);
  AbsorbShortBuffer(status);
}

void DbStep(std::int16_t file_number, std::int16_t count, std::int16_t* status) {
  const std::int16_t index = DbSlot(file_number);
  if (index < 1) {
    *status = kStatusFileNotOpen;
    return;
  }
  OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
  std::int16_t op = count >= 0 ? kOpGetNext : kOpGetPrevious;
  *status = kStatusOk;
  int n = count >= 0 ? count : -static_cast<int>(count);
  TransferBuffers& t = Transfer();
  // The records passed over are read into the scratch buffers only: the
  // caller's area and the lock mode play no part in them.
  while (n > 1 && *status == kStatusOk) {
    std::uint32_t data_length = kDataBufferSize;
    std::memset(t.key, 0, kKeyBufferSize);
    *status = RecordManager()(op, e.PositionBlock, t.data, &data_length, t.key, 0,
                              WireKeyNumber(e.KeyNumber));
    TakeZeroEndedKey(&e, t.key);
    AbsorbShortBuffer(status);
    --n;
  }
  if (n == 1 && *status == kStatusOk) {
    DbCall(index, &op, status);
    AbsorbShortBuffer(status);
  }
}

void DbUpdate(std::int16_t file_number, std::int16_t* status) {
  const std::int16_t index = DbSlot(file_number);
  if (index < 1) {
    *status = kStatusFileNotOpen;
    return;
  }
  std::int32_t position = DbPosition(file_number, 0);
  std::uint8_t saved[4];
  PutLe32(saved, position);
  SavePush(std::string_view(reinterpret_cast<const char*>(saved), sizeof saved));
  std::int16_t op = kOpUpdate;
  *status = kStatusOk;
  DbCall(index, &op, status);
  AppendOperationLog(file_number, kOpUpdate, *status);
  const std::string popped = SavePop();
  if (popped.size() == sizeof saved) {
    position = GetLe32(reinterpret_cast<const std::uint8_t*>(popped.data()));
  }
  AbsorbShortBuffer(status);
  OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
  if (*status != kStatusOk) std::fill(e.KeyValue.begin(), e.KeyValue.end(), '\0');
  // Reading the record again by its position puts the key path on the
  // record's new key value, whatever the Update did to it, and gives the
  // area the record as stored when the Update failed.
  (void)DbPosition(file_number, position);
}

std::int32_t DbPosition(std::int16_t file_number, std::int32_t position) {
  OpenFileEntry* e = OpenEntry(file_number);
  if (e == nullptr) return 0;
  TransferBuffers& t = Transfer();
  std::memset(t.data, 0, 4);
  PutLe32(t.data, position);
  std::uint32_t data_length = kDataBufferSize;
  std::memset(t.key, 0, kKeyBufferSize);
  if (position == 0) {
    const std::int16_t st =
        RecordManager()(kOpGetPosition, e->PositionBlock, t.data, &data_length, t.key, 0, 0);
    return st == kStatusOk ? GetLe32(t.data) : 0;
  }
  std::int16_t st = RecordManager()(kOpGetDirect, e->PositionBlock, t.data, &data_length, t.key, 0,
                                    WireKeyNumber(e->KeyNumber));
  TakeZeroEndedKey(e, t.key);
  AbsorbShortBuffer(&st);
  if (st == kStatusOk)
    CopyToRecordArea(e, t.data, std::min<std::size_t>(data_length, kDataBufferSize));
  return st;
}

void DbSetRange(std::int16_t file_number, std::int16_t key_number, std::string_view from,
                std::string_view to, std::int16_t* status) {
  std::size_t length = 0;
  const std::int16_t index = EntryForKey(file_number, key_number, status, &length);
  if (index < 1) return;
  OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
  e.KeyNumber = static_cast<std::int16_t>(-key_number - 1);
  e.RangeStart.assign(from.substr(0, length));
  e.RangeStart.resize(length, '\0');
  e.RangeEnd.assign(to.substr(0, length));
  e.RangeEnd.resize(length, '\xFF');
}

std::int16_t DbRangeNext(std::int16_t file_number) {
  const std::int16_t index = DbSlot(file_number);
  if (index < 1) return kStatusFileNotOpen;
  OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
  // std::string compares as unsigned bytes, the shorter first at an equal
  // prefix: the order the bounds are meant in.
  const bool ascending = e.RangeStart <= e.RangeEnd;
  std::int16_t op;
  if (e.KeyNumber < 0) {
    e.KeyNumber = static_cast<std::int16_t>(-e.KeyNumber - 1);
    e.KeyValue = e.RangeStart;
    op = ascending ? kOpGetGreaterOrEqual : kOpGetLessOrEqual;
  } else {
    op = ascending ? kOpGetNext : kOpGetPrevious;
  }
  std::int16_t status = kStatusOk;
  DbCall(index, &op, &status);
  AbsorbShortBuffer(&status);
  if (ascending ? e.KeyValue > e.RangeEnd : e.KeyValue < e.RangeEnd) status = kStatusEndOfFile;
  if (status != kStatusOk) {
    e.KeyNumber = 0;
    e.RangeStart.clear();
    e.RangeEnd.clear();
  }
  return status;
}

}  // namespace kel
