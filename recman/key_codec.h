// Keys in sortable form: each key of a record becomes a byte string whose
// plain byte order (memcmp, SQLite's BLOB order) is the key's order, so one
// SQLite index per key orders the records and enforces unique keys.
//
// Per segment, in segment order:
// | kind             | encoding                                                   |
// |------------------|------------------------------------------------------------|
// | string           | the bytes; a-z upper-cased when case-insensitive; then     |
// |                  | mapped through the collating table when it has one         |
// | lstring, zstring | the content bytes (folded/collated as strings) with 0x00   |
// |                  | written as 00 FF, ended by 00 00, so a shorter text sorts  |
// |                  | first and the encoding of one segment is never a prefix of |
// |                  | another's                                                  |
// | signed integer   | big-endian, sign bit inverted                              |
// | unsigned integer | big-endian                                                 |
// | float            | big-endian IEEE bits; negatives inverted, positives with   |
// |                  | the sign bit set; -0 written as +0                         |
// | descending       | every byte of the segment's encoding inverted              |
// Equal keys (after folding) have equal encodings.
#ifndef KEL_RECMAN_KEY_CODEC_H_
#define KEL_RECMAN_KEY_CODEC_H_

#include <cstdint>
#include <string>

#include "recman/file_spec.h"

namespace kel {

// True when the record is left out of the key: with a null-all key every
// segment consists of its null byte; with a null-any key at least one does.
bool IsNullKey(const KeyDef& key, const std::uint8_t* record);

// Encodes the key of a record (segments at their positions). Returns false,
// leaving `*out` empty, when the record is left out of the key.
bool EncodeRecordKey(const FileSpec& file_spec, const KeyDef& key, const std::uint8_t* record,
                     std::string* out);

// Encodes a search value: the key's segments one after the other, as a key
// buffer holds them (key.length bytes).
void EncodeSearchKey(const FileSpec& file_spec, const KeyDef& key, const std::uint8_t* value,
                     std::string* out);

// Copies the key's segments out of the record, one after the other
// (key.length bytes): what the key buffer receives.
void ExtractKey(const KeyDef& key, const std::uint8_t* record, std::uint8_t* out);

// True when the key's segments hold the same bytes in both records.
bool SameKeyBytes(const KeyDef& key, const std::uint8_t* a, const std::uint8_t* b);

// The value of a single-segment integer key (autoincrement) from its
// encoding; 0 for an empty encoding.
std::int64_t DecodeIntegerKey(const KeyDef& key, const std::string& encoded);

// Writes `value` into the key's segment of the record (little-endian).
void StoreIntegerKey(const KeyDef& key, std::int64_t value, std::uint8_t* record);

// The value held in the key's single integer segment of the record.
std::int64_t RecordIntegerKey(const KeyDef& key, const std::uint8_t* record);

}  // namespace kel

#endif  // KEL_RECMAN_KEY_CODEC_H_
