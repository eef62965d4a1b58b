// Record layouts of the sample installation's data files, read from the
// readable description in data/sample/layouts.txt, and the record manager's
// Create buffer built from them (the dictionary "ddf\<Name>.xdf" holds a
// 2-byte count and that buffer).
#ifndef KEL_TOOLS_MKINSTALL_LAYOUT_H_
#define KEL_TOOLS_MKINSTALL_LAYOUT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

enum class FieldType {
  kText,    // code page 850, blank-padded
  kDigits,  // decimal digits packed two per byte (128 + value)
  kDate,    // packed date, 4 bytes; empty = 4 zero bytes
  kInt,     // signed little-endian integer of 1, 2, 4 or 8 bytes
  kAmount,  // an kInt holding hundredths
  kFlag,    // 16-bit -1 / 0
  kFill,    // reserved, zero bytes
};

struct LayoutField {
  std::string name;
  int offset = 0;
  int width = 0;
  FieldType type = FieldType::kText;
  std::string default_value;  // UTF-8, as written after "default="
  std::string copy_of;        // name of the field whose bytes this one copies
};

struct LayoutSegment {
  int field = 0;   // index into FileLayout::fields
  int length = 0;  // bytes of the field's start that the segment covers
};

struct LayoutKey {
  bool unique = true;
  bool modifiable = false;
  bool no_case = false;
  bool descending = false;
  std::vector<LayoutSegment> segments;
};

struct FileLayout {
  std::string logical_path;  // as the program opens it: "TAULES\UPaisos", "menu"
  std::string name;          // the base name: "UPaisos", "menu"
  int record_length = 0;
  int page_size = 0;
  std::vector<LayoutField> fields;
  std::vector<LayoutKey> keys;

  // Index of the named field, -1 when the file has none.
  int FieldIndex(std::string_view field_name) const;
  // Total length of key `k`'s segments.
  int KeyLength(int k) const;
};

// Reads the whole layout description. On failure returns false and puts
// "line N: what is wrong" into `*error`; `*files` is then unspecified.
// Checks made here, so that no later step meets a malformed layout: fields
// cover every byte of the record exactly once, widths suit their types,
// defaults encode, copies name a field of the same width, every file has a
// key 0, segments lie inside their fields, record lengths are 1..1536 and
// page sizes a multiple of 512 from 512 to 4096.
[[nodiscard]] bool ParseLayouts(std::string_view text, std::vector<FileLayout>* files,
                                std::string* error);

// The record manager's Create buffer for `layout`: the 16-byte file
// specification followed by one 16-byte specification per key segment.
std::string CreateBuffer(const FileLayout& layout);

// The dictionary file's bytes: the buffer's length as a signed 16-bit
// little-endian count, then the buffer.
std::string DictionaryBytes(const FileLayout& layout);

// Key flag bits of the record manager's key specification.
inline constexpr std::uint16_t kKeyDuplicates = 0x1;
inline constexpr std::uint16_t kKeyModifiable = 0x2;
inline constexpr std::uint16_t kKeySegmented = 0x10;
inline constexpr std::uint16_t kKeyDescending = 0x40;
inline constexpr std::uint16_t kKeyExtendedType = 0x100;
inline constexpr std::uint16_t kKeyNoCase = 0x400;
inline constexpr std::uint8_t kExtendedInteger = 1;

}  // namespace kel

#endif  // KEL_TOOLS_MKINSTALL_LAYOUT_H_
