#include "recman/file_spec.h"

#include <algorithm>
#include <cstring>

#include "recman/recman.h"

namespace kel {
namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

void PutU16(std::string* out, std::size_t at, std::uint16_t v) {
  (*out)[at] = static_cast<char>(v & 0xFF);
  (*out)[at + 1] = static_cast<char>(v >> 8);
}

void PutU32(std::string* out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool OneOf(int value, std::initializer_list<int> allowed) {
  return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

// Decides how a segment compares and checks that its length suits its type.
std::int16_t ClassifySegment(KeySegment* seg) {
  seg->descending = (seg->flags & kKeyFlagDescending) != 0;
  bool text = false;
  if (seg->flags & kKeyFlagExtendedType) {
    switch (seg->extended_type) {
      case kTypeString:
        seg->kind = SegmentKind::kString;
        text = true;
        break;
      case kTypeInteger:
        if (!OneOf(seg->length, {1, 2, 4, 8})) return kStatusInvalidKeyLength;
        seg->kind = SegmentKind::kSignedInteger;
        break;
      case kTypeFloat:
        if (!OneOf(seg->length, {4, 8})) return kStatusInvalidKeyLength;
        seg->kind = SegmentKind::kFloat;
        break;
      case kTypeLString:
        if (seg->length < 2) return kStatusInvalidKeyLength;
        seg->kind = SegmentKind::kLString;
        text = true;
        break;
      case kTypeZString:
        if (seg->length < 2) return kStatusInvalidKeyLength;
        seg->kind = SegmentKind::kZString;
        text = true;
        break;
      case kTypeUnsignedBinary:
        if (!OneOf(seg->length, {1, 2, 4, 8})) return kStatusInvalidKeyLength;
        seg->kind = SegmentKind::kUnsignedInteger;
        break;
      case kTypeAutoIncrement:
        if (!OneOf(seg->length, {2, 4})) return kStatusInvalidKeyLength;
        seg->kind = SegmentKind::kSignedInteger;
        break;
      default:
        // Dates, times, decimals, money and the rest are not offered.
        return kStatusKeyTypeError;
    }
  } else if (seg->flags & kKeyFlagBinary) {
    // The classic binary key: an unsigned little-endian number of any length.
    seg->kind = SegmentKind::kUnsignedInteger;
  } else {
    seg->kind = SegmentKind::kString;
    text = true;
  }
  // Folding and collating only mean something for texts; on numbers the
  // flags are accepted and have no effect.
  seg->fold_case = text && (seg->flags & kKeyFlagCaseInsensitive) != 0;
  seg->acs = text && (seg->flags & kKeyFlagAlternateCollating) ? seg->acs_number : -1;
  return kStatusOk;
}

}  // namespace

int FileSpec::KeyIndex(int key_number) const {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].number == key_number) return static_cast<int>(i);
  }
  return -1;
}

int FileSpec::SegmentCount() const {
  int n = 0;
  for (const KeyDef& k : keys) n += static_cast<int>(k.segments.size());
  return n;
}

std::int16_t ParseCreateBuffer(const void* data, std::size_t length, FileSpec* file_spec) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (p == nullptr || length < kFileSpecSize) return kStatusDataBufferTooShort;
  FileSpec s;
  s.record_length = U16(p);
  s.page_size = U16(p + 2);
  // A file has at most 119 keys: byte 4 counts them, and byte 5 is the
  // file version, which later versions of the interface write into Create
  // buffers and dictionaries (0x60 and up).
  const int key_count = p[4];
  s.version = p[5];
  s.file_flags = U16(p + 10);
  if (s.page_size < 512 || s.page_size > 4096 || s.page_size % 512 != 0) {
    return kStatusPageSize;
  }
  if (key_count > kMaxKeys) return kStatusNumberOfKeys;
  if (s.record_length == 0 || s.record_length > kMaxRecordLength) {
    return kStatusInvalidRecordLength;
  }
  // Records here are fixed-length and stored whole: variable-length,
  // compressed and key-only files are refused rather than half-supported.
  if (s.file_flags & (kFileFlagVariableLength | kFileFlagCompression | kFileFlagKeyOnly)) {
    return kStatusInvalidRecordLength;
  }

  std::size_t offset = kFileSpecSize;
  int segments = 0;
  int acs_needed = 0;
  for (int k = 0; k < key_count; ++k) {
    KeyDef key;
    bool more = true;
    while (more) {
      if (offset + kSegmentSpecSize > length) return kStatusDataBufferTooShort;
      if (++segments > kMaxKeys) return kStatusNumberOfKeys;
      const std::uint8_t* q = p + offset;
      offset += kSegmentSpecSize;
      KeySegment seg;
      seg.position = U16(q);
      seg.length = U16(q + 2);
      seg.flags = U16(q + 4);
      seg.extended_type = q[10];
      seg.null_byte = q[11];
      seg.manual_number = q[14];
      seg.acs_number = q[15];
      more = (seg.flags & kKeyFlagSegmented) != 0;
      if (seg.length == 0 || seg.length > kMaxKeyLength) return kStatusInvalidKeyLength;
      if (seg.position == 0 || seg.position + seg.length - 1 > s.record_length) {
        return kStatusInvalidKeyPosition;
      }
      if (std::int16_t st = ClassifySegment(&seg); st != kStatusOk) return st;
      if (seg.acs >= 0) acs_needed = std::max(acs_needed, seg.acs + 1);
      key.length += seg.length;
      key.segments.push_back(seg);
    }
    if (key.length > static_cast<int>(kMaxKeyLength)) return kStatusInvalidKeyLength;
    const std::uint16_t first = key.segments.front().flags;
    const std::uint16_t kDup = kKeyFlagDuplicates | kKeyFlagRepeatingDuplicates;
    for (const KeySegment& seg : key.segments) {
      if (((seg.flags & kDup) != 0) != ((first & kDup) != 0) ||
          (seg.flags & kKeyFlagModifiable) != (first & kKeyFlagModifiable)) {
        return kStatusInconsistentKeyFlags;
      }
      key.null_all = key.null_all || (seg.flags & kKeyFlagNullAll) != 0;
      key.null_any = key.null_any || (seg.flags & kKeyFlagNullAny) != 0;
      if ((seg.flags & kKeyFlagExtendedType) && seg.extended_type == kTypeAutoIncrement) {
        key.autoincrement = true;
      }
    }
    key.duplicates = (first & kDup) != 0;
    key.modifiable = (first & kKeyFlagModifiable) != 0;
    if (key.autoincrement) {
      // "0 takes the highest + 1" needs the value to be the whole key and
      // unique.
      if (key.segments.size() != 1) return kStatusKeyTypeError;
      if (key.duplicates) return kStatusInconsistentKeyFlags;
    }
    // Keys are numbered by their order, also when the file flag says the
    // numbers were given by hand: callers (the data-file layer among them)
    // count keys by their order in the Stat data, and a byte from the
    // buffer must never become a key number the wire (signed 8 bits) or
    // the key lookup cannot carry. The manual numbers stay in the segments
    // and come back in Stat unchanged.
    key.number = k;
    s.keys.push_back(std::move(key));
  }
  for (int i = 0; i < acs_needed; ++i) {
    if (offset + kCollatingSequenceSize > length) return kStatusDataBufferTooShort;
    if (p[offset] != kCollatingSignature) return kStatusInvalidCollatingSequence;
    s.acs.emplace_back(reinterpret_cast<const char*>(p + offset), kCollatingSequenceSize);
    offset += kCollatingSequenceSize;
  }
  *file_spec = std::move(s);
  return kStatusOk;
}

std::string BuildCreateBuffer(const FileSpec& file_spec) {
  FileCounts none;
  none.unique_values.assign(file_spec.keys.size(), 0);
  std::string out = BuildStatBuffer(file_spec, none, false);
  out[5] = static_cast<char>(file_spec.version);
  return out;
}

std::uint8_t ReportedVersion(const FileSpec& file_spec) {
  return file_spec.version != 0 ? file_spec.version : kFileVersion;
}

std::string BuildStatBuffer(const FileSpec& file_spec, const FileCounts& counts, bool keys_and_version) {
  std::string out(kFileSpecSize + kSegmentSpecSize * file_spec.SegmentCount() +
                      kCollatingSequenceSize * file_spec.acs.size(),
                  '\0');
  PutU16(&out, 0, file_spec.record_length);
  PutU16(&out, 2, file_spec.page_size);
  out[4] = static_cast<char>(file_spec.keys.size());
  if (keys_and_version) out[5] = static_cast<char>(ReportedVersion(file_spec));
  PutU32(&out, 6, static_cast<std::uint32_t>(std::max<std::int64_t>(counts.records, 0)));
  PutU16(&out, 10, file_spec.file_flags);
  std::size_t at = kFileSpecSize;
  for (std::size_t k = 0; k < file_spec.keys.size(); ++k) {
    std::int64_t unique = k < counts.unique_values.size() ? counts.unique_values[k] : 0;
    for (const KeySegment& seg : file_spec.keys[k].segments) {
      PutU16(&out, at, seg.position);
      PutU16(&out, at + 2, seg.length);
      PutU16(&out, at + 4, seg.flags);
      PutU32(&out, at + 6, static_cast<std::uint32_t>(std::max<std::int64_t>(unique, 0)));
      out[at + 10] = static_cast<char>(seg.extended_type);
      out[at + 11] = static_cast<char>(seg.null_byte);
      out[at + 14] = static_cast<char>(seg.manual_number);
      out[at + 15] = static_cast<char>(seg.acs_number);
      at += kSegmentSpecSize;
    }
  }
  for (const std::string& table : file_spec.acs) {
    std::memcpy(&out[at], table.data(), kCollatingSequenceSize);
    at += kCollatingSequenceSize;
  }
  return out;
}

const char* SegmentTypeName(const KeySegment& seg) {
  if (seg.flags & kKeyFlagExtendedType) {
    switch (seg.extended_type) {
      case kTypeString:
        return "String";
      case kTypeInteger:
        return "Integer";
      case kTypeFloat:
        return "Float";
      case kTypeLString:
        return "Lstring";
      case kTypeZString:
        return "Zstring";
      case kTypeUnsignedBinary:
        return "Unsigned binary";
      case kTypeAutoIncrement:
        return "Autoincrement";
      default:
        return "Unknown";
    }
  }
  return (seg.flags & kKeyFlagBinary) ? "Binary" : "String";
}

}  // namespace kel
