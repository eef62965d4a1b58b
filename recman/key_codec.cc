#include "recman/key_codec.h"

#include <cstring>

namespace kel {
namespace {

std::uint8_t TextByte(const FileSpec& file_spec, const KeySegment& seg, std::uint8_t b) {
  if (seg.fold_case && b >= 'a' && b <= 'z') b = static_cast<std::uint8_t>(b - 32);
  if (seg.acs >= 0) b = static_cast<std::uint8_t>(file_spec.acs[seg.acs][9 + b]);
  return b;
}

// Variable-length content: escaped zero bytes and a 00 00 end keep the
// encoding prefix-free, so segments that follow compare correctly.
void AppendVariableText(const FileSpec& file_spec, const KeySegment& seg, const std::uint8_t* src,
                        std::size_t n, std::string* out) {
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t b = TextByte(file_spec, seg, src[i]);
    out->push_back(static_cast<char>(b));
    if (b == 0) out->push_back(static_cast<char>(0xFF));
  }
  out->push_back('\0');
  out->push_back('\0');
}

void AppendBigEndian(const std::uint8_t* src, std::size_t n, std::string* out) {
  for (std::size_t i = n; i > 0; --i) out->push_back(static_cast<char>(src[i - 1]));
}

void AppendSegment(const FileSpec& file_spec, const KeySegment& seg, const std::uint8_t* src,
                   std::string* out) {
  const std::size_t start = out->size();
  const std::size_t len = seg.length;
  switch (seg.kind) {
    case SegmentKind::kString:
      for (std::size_t i = 0; i < len; ++i) {
        out->push_back(static_cast<char>(TextByte(file_spec, seg, src[i])));
      }
      break;
    case SegmentKind::kLString: {
      std::size_t n = src[0];
      if (n > len - 1) n = len - 1;
      AppendVariableText(file_spec, seg, src + 1, n, out);
      break;
    }
    case SegmentKind::kZString: {
      std::size_t n = 0;
      while (n < len && src[n] != 0) ++n;
      AppendVariableText(file_spec, seg, src, n, out);
      break;
    }
    case SegmentKind::kSignedInteger:
      AppendBigEndian(src, len, out);
      (*out)[start] = static_cast<char>((*out)[start] ^ 0x80);
      break;
    case SegmentKind::kUnsignedInteger:
      AppendBigEndian(src, len, out);
      break;
    case SegmentKind::kFloat: {
      std::uint8_t bits[8];
      std::memcpy(bits, src, len);
      bool zero = true;
      for (std::size_t i = 0; i + 1 < len; ++i) zero = zero && bits[i] == 0;
      zero = zero && (bits[len - 1] & 0x7F) == 0;
      if (zero) bits[len - 1] = 0;  // -0 equals +0
      bool negative = (bits[len - 1] & 0x80) != 0;
      AppendBigEndian(bits, len, out);
      if (negative) {
        for (std::size_t i = start; i < out->size(); ++i) (*out)[i] = static_cast<char>(~(*out)[i]);
      } else {
        (*out)[start] = static_cast<char>((*out)[start] ^ 0x80);
      }
      break;
    }
  }
  if (seg.descending) {
    for (std::size_t i = start; i < out->size(); ++i) (*out)[i] = static_cast<char>(~(*out)[i]);
  }
}

bool SegmentIsNull(const KeySegment& seg, const std::uint8_t* record) {
  const std::uint8_t* p = record + seg.position - 1;
  for (std::size_t i = 0; i < seg.length; ++i) {
    if (p[i] != seg.null_byte) return false;
  }
  return true;
}

}  // namespace

bool IsNullKey(const KeyDef& key, const std::uint8_t* record) {
  if (key.null_any) {
    for (const KeySegment& seg : key.segments) {
      if (SegmentIsNull(seg, record)) return true;
    }
  }
  if (key.null_all) {
    for (const KeySegment& seg : key.segments) {
      if (!SegmentIsNull(seg, record)) return false;
    }
    return true;
  }
  return false;
}

bool EncodeRecordKey(const FileSpec& file_spec, const KeyDef& key, const std::uint8_t* record,
                     std::string* out) {
  out->clear();
  if (IsNullKey(key, record)) return false;
  for (const KeySegment& seg : key.segments) {
    AppendSegment(file_spec, seg, record + seg.position - 1, out);
  }
  return true;
}

void EncodeSearchKey(const FileSpec& file_spec, const KeyDef& key, const std::uint8_t* value,
                     std::string* out) {
  out->clear();
  for (const KeySegment& seg : key.segments) {
    AppendSegment(file_spec, seg, value, out);
    value += seg.length;
  }
}

void ExtractKey(const KeyDef& key, const std::uint8_t* record, std::uint8_t* out) {
  for (const KeySegment& seg : key.segments) {
    std::memcpy(out, record + seg.position - 1, seg.length);
    out += seg.length;
  }
}

bool SameKeyBytes(const KeyDef& key, const std::uint8_t* a, const std::uint8_t* b) {
  for (const KeySegment& seg : key.segments) {
    if (std::memcmp(a + seg.position - 1, b + seg.position - 1, seg.length) != 0) return false;
  }
  return true;
}

std::int64_t DecodeIntegerKey(const KeyDef& key, const std::string& encoded) {
  const KeySegment& seg = key.segments.front();
  if (encoded.size() != seg.length) return 0;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < seg.length; ++i) {
    std::uint8_t b = static_cast<std::uint8_t>(encoded[i]);
    if (seg.descending) b = static_cast<std::uint8_t>(~b);
    if (i == 0 && seg.kind == SegmentKind::kSignedInteger) b ^= 0x80;
    v = (v << 8) | b;
  }
  if (seg.kind == SegmentKind::kSignedInteger && seg.length < 8) {
    const std::uint64_t sign = 1ull << (8 * seg.length - 1);
    if (v & sign) v |= ~((sign << 1) - 1);  // sign-extend
  }
  return static_cast<std::int64_t>(v);
}

void StoreIntegerKey(const KeyDef& key, std::int64_t value, std::uint8_t* record) {
  const KeySegment& seg = key.segments.front();
  std::uint64_t v = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < seg.length; ++i) {
    record[seg.position - 1 + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

std::int64_t RecordIntegerKey(const KeyDef& key, const std::uint8_t* record) {
  const KeySegment& seg = key.segments.front();
  std::string enc;
  std::uint8_t le[8];
  std::memcpy(le, record + seg.position - 1, seg.length);
  // Reuse the decoder: build the ascending encoding by hand.
  for (std::size_t i = seg.length; i > 0; --i) enc.push_back(static_cast<char>(le[i - 1]));
  if (seg.kind == SegmentKind::kSignedInteger) enc[0] = static_cast<char>(enc[0] ^ 0x80);
  if (seg.descending) {
    for (char& c : enc) c = static_cast<char>(~c);
  }
  return DecodeIntegerKey(key, enc);
}

}  // namespace kel
