// Reading a file without its keys: the record count of Stat and the records
// in physical order. What a check needs that must not trust an index (one
// damaged on the disk can hold fewer entries than the file has records).
#include <algorithm>
#include <cstring>

#include "datafile/db_file.h"
#include "datafile/db_internal.h"
#include "recman/recman.h"

namespace kel {
namespace {

// Stat data: the number of records is the 32-bit value at offset 6.
constexpr std::size_t kRecordsOffset = 6;

}  // namespace

std::int64_t DbRecordCount(std::int16_t file_number, std::int16_t* status) {
  const std::int16_t index = DbSlot(file_number);
  if (index < 1) {
    *status = kStatusFileNotOpen;
    return 0;
  }
  OpenFileEntry& e = DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
  TransferBuffers& t = Transfer();
  std::memset(t.data, 0, kDataBufferSize);
  std::memset(t.key, ' ', kMaxKeyLength);
  std::uint32_t data_length = kDataBufferSize;
  *status = RecordManager()(kOpStat, e.PositionBlock, t.data, &data_length, t.key,
                            static_cast<std::uint8_t>(kMaxKeyLength), 0);
  if (*status != kStatusOk) return 0;
  const std::size_t valid = std::min<std::size_t>(data_length, kDataBufferSize);
  const std::uint32_t low = ReadU16(t.data, valid, kRecordsOffset);
  const std::uint32_t high = ReadU16(t.data, valid, kRecordsOffset + 2);
  return static_cast<std::int64_t>(low | (high << 16));
}

void DbStepPhysical(std::int16_t file_number, bool first, std::int16_t* status) {
  const std::int16_t index = DbSlot(file_number);
  if (index < 1) {
    *status = kStatusFileNotOpen;
    return;
  }
  std::int16_t op = first ? kOpStepFirst : kOpStepNext;
  *status = kStatusOk;
  DbCall(index, &op, status);
  if (*status == kStatusDataBufferTooShort) *status = kStatusOk;
}

}  // namespace kel
