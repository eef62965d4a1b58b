// Key lengths and collating forms, read from the record manager's Stat data
// on every call (no caching: another program may recreate a file between two
// calls, and the cost is part of the measured loop).
//
// Stat data (little-endian), as far as this file reads it:
//
//   offset  size  content
//   0       2     record length
//   2       2     page size
//   4       2     number of keys (segments not counted)
//   16      16*n  one specification per key segment, keys in order:
//                   +2 segment length (2), +4 key flags (2); flag 0x10: the
//                   key's next segment follows
//   then          the alternate collating sequence: signature (1), name (8),
//                 table (256), where any segment uses one
//
// Nothing is read past the data the record manager returned: a field beyond
// it reads as zero, a key specification beyond it as absent.
#include <algorithm>
#include <cstring>

#include "datafile/db_file.h"
#include "datafile/db_internal.h"
#include "recman/recman.h"

namespace kel {
namespace {

constexpr std::size_t kFileSpecSize = 16;
constexpr std::size_t kSegmentSize = 16;
constexpr std::uint16_t kFlagBinary = 0x4;
constexpr std::uint16_t kFlagSegmented = 0x10;
constexpr std::uint16_t kFlagCollating = 0x20;
constexpr std::size_t kCollatingTableOffset = 9;  // after signature and name
constexpr std::size_t kCollatingTableSize = 256;

// Stat data of an open entry, in the shared data buffer.
struct StatData {
  const std::uint8_t* bytes = nullptr;
  std::size_t valid = 0;  // bytes the record manager returned

  std::uint16_t U16(std::size_t offset) const { return ReadU16(bytes, valid, offset); }
  std::int16_t NumberOfKeys() const { return static_cast<std::int16_t>(U16(4)); }
};

std::int16_t StatOnce(OpenFileEntry* e, TransferBuffers* t, StatData* out) {
  std::memset(t->key, ' ', kMaxKeyLength);
  std::uint32_t data_length = kDataBufferSize;
  const std::int16_t st = RecordManager()(kOpStat, e->PositionBlock, t->data, &data_length, t->key,
                                          static_cast<std::uint8_t>(kMaxKeyLength), 0);
  out->bytes = t->data;
  out->valid = std::min<std::size_t>(data_length, kDataBufferSize);
  return st;
}

// Two Stat calls: the second into a buffer whose first page-size bytes were
// zeroed, so that whatever the record manager leaves unwritten reads as zero.
// The clearing never goes past the buffer, whatever the page size. false when
// either Stat fails (nothing is known of the file then).
bool ReadStat(OpenFileEntry* e, StatData* out) {
  TransferBuffers& t = Transfer();
  std::memset(t.data, ' ', kDataBufferSize);
  if (StatOnce(e, &t, out) != kStatusOk) return false;
  const std::size_t page = out->U16(2);
  std::memset(t.data, 0, std::min(page, kDataBufferSize));
  return StatOnce(e, &t, out) == kStatusOk;
}

// The segments of one key: where its first specification starts and how
// many there are.
struct KeySpan {
  std::size_t first = 0;
  std::size_t segments = 0;
};

// Walks the key specifications from the first. Fills `*span` for key
// `wanted` (when it is reached) and returns the offset after the last
// specification of the keys walked; `complete` tells whether all `keys` keys
// lay within the returned data.
std::size_t WalkKeys(const StatData& stat, int keys, int wanted, KeySpan* span, bool* complete) {
  std::size_t offset = kFileSpecSize;
  *complete = true;
  for (int key = 0; key < keys; ++key) {
    KeySpan here{offset, 0};
    std::uint16_t flags = 0;
    do {
      if (offset + kSegmentSize > stat.valid) {
        *complete = false;
        return offset;
      }
      flags = stat.U16(offset + 4);
      offset += kSegmentSize;
      ++here.segments;
    } while ((flags & kFlagSegmented) != 0);
    if (key == wanted) *span = here;
  }
  return offset;
}

OpenFileEntry* OpenEntry(std::int16_t file_number) {
  const std::int16_t index = DbSlot(file_number);
  return index < 1 ? nullptr : &DataFiles().OpenFileTable[static_cast<std::size_t>(index)];
}

}  // namespace

void DbKeyInfo(std::int16_t file_number, std::int16_t key_number, std::int16_t* key_length,
               std::int32_t* record_length) {
  *key_length = 0;
  *record_length = 0;
  OpenFileEntry* e = OpenEntry(file_number);
  if (e == nullptr) return;
  StatData stat;
  if (!ReadStat(e, &stat)) return;
  *record_length = stat.U16(0);
  const int keys = stat.NumberOfKeys();
  if (key_number < 0 || key_number >= keys) return;
  KeySpan span;
  bool complete = false;
  WalkKeys(stat, key_number + 1, key_number, &span, &complete);
  if (!complete) return;
  int sum = 0;
  for (std::size_t i = 0; i < span.segments; ++i) {
    sum += stat.U16(span.first + i * kSegmentSize + 2);
  }
  *key_length = static_cast<std::int16_t>(std::min(sum, 0x7FFF));
}

std::string DbKeyText(std::int16_t file_number) {
  OpenFileEntry* e = OpenEntry(file_number);
  if (e == nullptr) return std::string();
  return DbSortKey(e->KeyValue, file_number);
}

std::string DbSortKey(std::string_view text, std::int16_t file_number) {
  std::string s(text);
  OpenFileEntry* e = OpenEntry(file_number);
  if (e == nullptr) return s;
  StatData stat;
  if (!ReadStat(e, &stat)) return s;
  const int keys = stat.NumberOfKeys();
  KeySpan span;
  bool complete = false;
  const std::size_t sequence = WalkKeys(stat, keys, e->KeyNumber, &span, &complete);
  // The table is used only when the whole of it came back.
  const bool have_table =
      complete && sequence + kCollatingTableOffset + kCollatingTableSize <= stat.valid;
  const std::uint8_t* table = stat.bytes + sequence + kCollatingTableOffset;
  std::size_t q = 0;
  for (std::size_t i = 0; i < span.segments; ++i) {
    const std::size_t file_spec = span.first + i * kSegmentSize;
    const std::size_t length = stat.U16(file_spec + 2);
    const std::uint16_t flags = stat.U16(file_spec + 4);
    if ((flags & kFlagBinary) != 0) {
      // Little-endian integers: most significant byte first orders them.
      if (s.size() < q + length) s.resize(q + length, '\0');
      std::reverse(s.begin() + static_cast<std::ptrdiff_t>(q),
                   s.begin() + static_cast<std::ptrdiff_t>(q + length));
    } else if ((flags & kFlagCollating) != 0 && have_table) {
      const std::size_t end = std::min(q + length, s.size());
      for (std::size_t j = q; j < end; ++j) {
        s[j] = static_cast<char>(table[static_cast<std::uint8_t>(s[j])]);
      }
    }
    q += length;
  }
  return s;
}

}  // namespace kel
