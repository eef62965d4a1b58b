#include "tools/mkinstall/scale.h"

#include <unordered_map>

namespace kel {
namespace {

constexpr std::uint64_t kSaturated = 1ull << 62;
constexpr char kKeyAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::uint64_t kAlphabetSize = sizeof(kKeyAlphabet) - 1;

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
  if (a == 0 || b == 0) return 0;
  if (a > kSaturated / b) return kSaturated;
  return a * b;
}

std::uint64_t Power(std::uint64_t base, int exponent) {
  std::uint64_t result = 1;
  for (int i = 0; i < exponent; ++i) result = SaturatingMultiply(result, base);
  return result;
}

// Values one segment can take under the scaler's variation.
std::uint64_t SegmentSpace(const LayoutField& field, int length) {
  switch (field.type) {
    case FieldType::kText:
      return Power(kAlphabetSize, length);
    case FieldType::kDigits:
    case FieldType::kDate:
      return Power(100, length);
    case FieldType::kInt:
    case FieldType::kAmount:
      return Power(2, 8 * length - 1);
    case FieldType::kFlag:
      return 2;
    case FieldType::kFill:
      return Power(256, length);
  }
  return 1;
}

// Writes digit `value` (below the segment's space) into the segment's bytes.
void WriteSegment(const LayoutField& field, int length, std::uint64_t value, char* out) {
  switch (field.type) {
    case FieldType::kText:
      for (int i = length - 1; i >= 0; --i) {
        out[i] = kKeyAlphabet[value % kAlphabetSize];
        value /= kAlphabetSize;
      }
      return;
    case FieldType::kDigits:
    case FieldType::kDate:
      for (int i = length - 1; i >= 0; --i) {
        out[i] = static_cast<char>(128 + value % 100);
        value /= 100;
      }
      return;
    case FieldType::kFlag: {
      char fill = value ? '\xFF' : '\0';
      for (int i = 0; i < length; ++i) out[i] = fill;
      return;
    }
    case FieldType::kInt:
    case FieldType::kAmount:
    case FieldType::kFill:
      for (int i = 0; i < length; ++i) {
        out[i] = static_cast<char>(value & 0xFF);
        value >>= 8;
      }
      return;
  }
}

std::uint64_t SplitMix(std::uint64_t* state) {
  std::uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

std::string KeyBytes(const FileLayout& layout, int k, const std::string& record) {
  std::string key;
  for (const LayoutSegment& segment : layout.keys[k].segments) {
    key.append(record, layout.fields[segment.field].offset, segment.length);
  }
  return key;
}

std::uint64_t KeySpace(const FileLayout& layout) {
  std::uint64_t space = 1;
  for (const LayoutSegment& segment : layout.keys[0].segments) {
    space = SaturatingMultiply(space, SegmentSpace(layout.fields[segment.field], segment.length));
  }
  return space;
}

bool CheckScale(const FileLayout& layout, const std::vector<std::string>& base, std::int64_t count,
                std::string* error) {
  if (base.empty()) {
    *error = layout.name + " has no records to scale";
    return false;
  }
  if (!layout.keys[0].unique) return true;
  std::unordered_map<std::string, std::size_t> seen;
  for (std::size_t i = 0; i < base.size(); ++i) {
    auto [it, inserted] = seen.emplace(KeyBytes(layout, 0, base[i]), i);
    if (!inserted) {
      *error = layout.name + ": records " + std::to_string(it->second + 1) + " and " +
               std::to_string(i + 1) + " have the same key 0";
      return false;
    }
  }
  std::uint64_t space = KeySpace(layout);
  if (count > 0 && static_cast<std::uint64_t>(count) > space) {
    *error =
        layout.name + " holds at most " + std::to_string(space) + " records (its key 0 is unique)";
    return false;
  }
  return true;
}

RecordScaler::RecordScaler(const FileLayout& layout, const std::vector<std::string>& base,
                           std::int64_t count, std::uint64_t seed)
    : layout_(layout), base_(base), count_(count), space_(KeySpace(layout)) {
  // Each file gets its own stream, so files do not mirror each other.
  rng_state_ = seed;
  for (char c : layout.name) rng_state_ = rng_state_ * 131 + static_cast<unsigned char>(c);
  counter_ = Random() % space_;
  if (layout_.keys[0].unique && count_ > static_cast<std::int64_t>(base_.size())) {
    for (const std::string& record : base_) taken_.insert(KeyBytes(layout_, 0, record));
  }
}

std::uint64_t RecordScaler::Random() { return SplitMix(&rng_state_); }

void RecordScaler::WriteKey(std::uint64_t value, std::string* record) const {
  const std::vector<LayoutSegment>& segments = layout_.keys[0].segments;
  for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
    const LayoutField& field = layout_.fields[it->field];
    std::uint64_t space = SegmentSpace(field, it->length);
    WriteSegment(field, it->length, value % space, record->data() + field.offset);
    value /= space;
  }
}

bool RecordScaler::Next(std::string* record) {
  if (produced_ >= count_) return false;
  if (produced_ < static_cast<std::int64_t>(base_.size())) {
    *record = base_[produced_++];
    return true;
  }
  *record = base_[Random() % base_.size()];
  const bool unique = layout_.keys[0].unique;
  while (true) {
    WriteKey(counter_, record);
    counter_ = (counter_ + 1) % space_;
    if (!unique || taken_.insert(KeyBytes(layout_, 0, *record)).second) break;
  }
  ++produced_;
  return true;
}

}  // namespace kel
