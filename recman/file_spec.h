// The file specification of a data file: its record length, keys, key
// segments and alternate collating sequences, read from a Create buffer and
// written back as the Stat layout. Also what tools use to build Create
// buffers (recutil, mkinstall).
//
// Create buffer, little-endian (Stat returns the same layout):
//
//   File specification, 16 bytes
//   | Offset | Size | Create                         | Stat                      |
//   |      0 |    2 | record length                  | same                      |
//   |      2 |    2 | page size, 512..4096 by 512    | same                      |
//   |      4 |    1 | number of keys                 | same                      |
//   |      5 |    1 | file version (0: the default)  | 0; key number -1: the     |
//   |        |      |                                | version (0x60 for 0)      |
//   |      6 |    4 | reserved                       | number of records         |
//   |     10 |    2 | file flags                     | same                      |
//   |     12 |    1 | duplicate pointers (ignored)   | 0                         |
//   |     13 |    1 | reserved                       | 0                         |
//   |     14 |    2 | pages to preallocate (ignored) | 0                         |
//
//   Then one 16-byte specification per key segment, keys in order:
//   | Offset | Size | Content                                              |
//   |      0 |    2 | position in the record, 1-based                      |
//   |      2 |    2 | length                                               |
//   |      4 |    2 | key flags (kKeyFlag...)                              |
//   |      6 |    4 | reserved; Stat: the key's number of unique values    |
//   |     10 |    1 | extended type (with kKeyFlagExtendedType)            |
//   |     11 |    1 | null value byte                                      |
//   |     12 |    2 | reserved                                             |
//   |     14 |    1 | manual key number (kept, but keys are numbered by   |
//   |        |      | their order whatever kFileFlagManualKeyNumbers says) |
//   |     15 |    1 | which of the trailing collating sequences (0-based)  |
//
//   Then, when a segment has kKeyFlagAlternateCollating, the collating
//   sequences, 265 bytes each: 0xAC, an 8-byte name, a 256-byte table (byte
//   b sorts as table[b]).
#ifndef KEL_RECMAN_FILE_SPEC_H_
#define KEL_RECMAN_FILE_SPEC_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kel {

// File flags.
inline constexpr std::uint16_t kFileFlagVariableLength = 0x1;
inline constexpr std::uint16_t kFileFlagBlankTruncation = 0x2;
inline constexpr std::uint16_t kFileFlagPreallocate = 0x4;
inline constexpr std::uint16_t kFileFlagCompression = 0x8;
inline constexpr std::uint16_t kFileFlagKeyOnly = 0x10;
inline constexpr std::uint16_t kFileFlagBalancedIndex = 0x20;
inline constexpr std::uint16_t kFileFlagFreeSpace10 = 0x40;
inline constexpr std::uint16_t kFileFlagFreeSpace20 = 0x80;
inline constexpr std::uint16_t kFileFlagReserveDuplicates = 0x100;
inline constexpr std::uint16_t kFileFlagManualKeyNumbers = 0x400;

// Key flags (per segment).
inline constexpr std::uint16_t kKeyFlagDuplicates = 0x1;
inline constexpr std::uint16_t kKeyFlagModifiable = 0x2;
inline constexpr std::uint16_t kKeyFlagBinary = 0x4;
inline constexpr std::uint16_t kKeyFlagNullAll = 0x8;
inline constexpr std::uint16_t kKeyFlagSegmented = 0x10;
inline constexpr std::uint16_t kKeyFlagAlternateCollating = 0x20;
inline constexpr std::uint16_t kKeyFlagDescending = 0x40;
inline constexpr std::uint16_t kKeyFlagRepeatingDuplicates = 0x80;
inline constexpr std::uint16_t kKeyFlagExtendedType = 0x100;
inline constexpr std::uint16_t kKeyFlagNullAny = 0x200;
inline constexpr std::uint16_t kKeyFlagCaseInsensitive = 0x400;

// Extended key types (byte 10 of a segment).
inline constexpr std::uint8_t kTypeString = 0;
inline constexpr std::uint8_t kTypeInteger = 1;
inline constexpr std::uint8_t kTypeFloat = 2;
inline constexpr std::uint8_t kTypeLString = 10;
inline constexpr std::uint8_t kTypeZString = 11;
inline constexpr std::uint8_t kTypeUnsignedBinary = 14;
inline constexpr std::uint8_t kTypeAutoIncrement = 15;

// The file version that Stat with key number -1 reports in byte 5 for a
// file created with version 0 (the default).
inline constexpr std::uint8_t kFileVersion = 0x60;
// The most keys, and the most segments, a file may have.
inline constexpr int kMaxKeys = 119;
inline constexpr std::size_t kFileSpecSize = 16;
inline constexpr std::size_t kSegmentSpecSize = 16;
inline constexpr std::size_t kCollatingSequenceSize = 265;
inline constexpr std::uint8_t kCollatingSignature = 0xAC;

// How the engine compares a segment (decided from the flags and type).
enum class SegmentKind : std::uint8_t {
  kString,           // bytes (folded or collated when flagged)
  kLString,          // length byte, then that many bytes
  kZString,          // bytes up to the first zero
  kSignedInteger,    // integer, autoincrement
  kUnsignedInteger,  // unsigned binary, the binary flag
  kFloat,
};

struct KeySegment {
  std::uint16_t position = 1;  // 1-based
  std::uint16_t length = 1;
  std::uint16_t flags = 0;
  std::uint8_t extended_type = 0;
  std::uint8_t null_byte = 0;
  std::uint8_t manual_number = 0;
  std::uint8_t acs_number = 0;
  // Derived by ParseCreateBuffer.
  SegmentKind kind = SegmentKind::kString;
  bool descending = false;
  bool fold_case = false;
  int acs = -1;  // index into FileSpec::acs, -1 for none
};

struct KeyDef {
  int number = 0;  // the key number callers use: the key's order, 0..n-1
  std::vector<KeySegment> segments;
  int length = 0;  // sum of the segment lengths
  bool duplicates = false;
  bool modifiable = false;
  bool null_all = false;  // left out when every segment is its null byte
  bool null_any = false;  // left out when any segment is its null byte
  bool autoincrement = false;
};

struct FileSpec {
  std::uint16_t record_length = 0;
  std::uint16_t page_size = 4096;
  std::uint16_t file_flags = 0;
  // Byte 5 of the Create buffer: the file version the creator asked for
  // (0x60 and up from the interface's later versions), kept and reported;
  // 0 for the default.
  std::uint8_t version = 0;
  std::vector<KeyDef> keys;
  std::vector<std::string> acs;  // 265 bytes each

  // Index into `keys` of the key number callers use; -1 when there is none.
  int KeyIndex(int key_number) const;
  int SegmentCount() const;
};

// Counts that Stat reports.
struct FileCounts {
  std::int64_t records = 0;
  std::vector<std::int64_t> unique_values;  // one per key
};

// Reads and validates a Create buffer of `length` bytes (bytes after the
// contents are ignored). Returns 0 and fills `*file_spec`, or the status that
// Create reports: 22 the buffer ends inside its contents, 24 page size,
// 26 number of keys or segments, 27 key position, 28 record length or an
// unsupported file flag, 29 key length, 45 inconsistent key flags (the
// duplicates and modifiable bits differ between segments of a key, an
// autoincrement key allows duplicates), 48 a collating sequence without its signature, 49 unknown or misused
// extended type.
[[nodiscard]] std::int16_t ParseCreateBuffer(const void* data, std::size_t length, FileSpec* file_spec);

// The Create buffer of a specification (reserved bytes zero, the version
// in byte 5).
std::string BuildCreateBuffer(const FileSpec& file_spec);

// The file version Stat reports: the one the file was created with, or
// kFileVersion for the default.
std::uint8_t ReportedVersion(const FileSpec& file_spec);

// The Stat layout: the Create buffer with the counts filled in and byte 5
// zero; with `keys_and_version`, byte 5 holds ReportedVersion. The unique
// values of a key go into each of its segments.
std::string BuildStatBuffer(const FileSpec& file_spec, const FileCounts& counts, bool keys_and_version);

// A readable name of a segment's type ("String", "Integer", "Unsigned
// binary"...), as the administrator's tool shows it.
const char* SegmentTypeName(const KeySegment& segment);

}  // namespace kel

#endif  // KEL_RECMAN_FILE_SPEC_H_
