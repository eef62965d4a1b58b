#include "screen/browse_cache.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "screen/browse_list.h"

namespace kel {
namespace {

void PutU32(std::string* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint32_t GetU32(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = v << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return v;
}

// Positions travel in 32 bits; a cache never grows near that, but one that
// did must not wrap around to entries at its start.
constexpr std::uint64_t kMaxCacheBytes = 0xFFFFFFF0u;

}  // namespace

std::string EncodeBrowseEntry(const BrowseEntry& entry) {
  const std::size_t length =
      entry.text.size() < kMaxBrowseLine ? entry.text.size() : kMaxBrowseLine;
  std::string out;
  out.reserve(kBrowseEntryHeader + length);
  PutU32(&out, entry.previous);
  PutU32(&out, static_cast<std::uint32_t>(entry.record));
  out.push_back(static_cast<char>(length & 0xFF));
  out.push_back(static_cast<char>(length >> 8));
  out.append(entry.text, 0, length);
  return out;
}

std::int16_t DecodeBrowseEntry(std::string_view bytes, BrowseEntry* entry, std::size_t* size) {
  if (bytes.size() < kBrowseEntryHeader) return kBrowseEntryShortHeader;
  const std::size_t length = static_cast<std::uint8_t>(bytes[8]) |
                             static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[9])) << 8;
  if (bytes.size() - kBrowseEntryHeader < length) return kBrowseEntryShortText;
  entry->previous = GetU32(bytes, 0);
  entry->record = static_cast<std::int32_t>(GetU32(bytes, 4));
  entry->text.assign(bytes.substr(kBrowseEntryHeader, length));
  if (size != nullptr) *size = kBrowseEntryHeader + length;
  return kBrowseEntryOk;
}

void BrowseCache::Open(std::string_view system_path) {
  CloseAndDelete();
  path_ = system_path;
  open_ = true;
  in_memory_ =
      OpenFile(path_, FileAccess::kWriteTruncate, FileShare::kShared, &file_) != FileResult::kOk;
  memory_.clear();
  lost_from_ = lost_to_ = 0;
  end_ = 0;
  last_ = 0;
}

std::uint32_t BrowseCache::Append(std::int32_t record, std::string_view text) {
  const std::string bytes = EncodeBrowseEntry({last_, record, std::string(text)});
  if (end_ + bytes.size() > kMaxCacheBytes) return 0;
  if (!in_memory_ && !file_.WriteAt(static_cast<std::int64_t>(end_), bytes.data(), bytes.size())) {
    // Keep what the file already holds, and go on in memory from here.
    std::string held;
    if (!ReadBytes(0, static_cast<std::size_t>(end_), &held)) return 0;
    file_.Close();
    in_memory_ = true;
    // Another program may have cut the file short: the bytes it no longer
    // holds are gone. Positions stay as they were (the copy is filled out
    // to the bytes written), and the entries that lay there are unreadable.
    lost_from_ = held.size();
    lost_to_ = end_;
    held.resize(static_cast<std::size_t>(end_), '\0');
    memory_ = std::move(held);
  }
  if (in_memory_) memory_ += bytes;
  last_ = static_cast<std::uint32_t>(end_ + 1);
  end_ += bytes.size();
  return last_;
}

bool BrowseCache::ReadBytes(std::uint64_t offset, std::size_t n, std::string* bytes) const {
  if (offset > end_) return false;
  const auto available = static_cast<std::size_t>(end_ - offset);
  if (n > available) n = available;
  if (in_memory_) {
    if (offset < lost_to_ && offset + n > lost_from_) return false;
    if (offset > memory_.size()) return false;
    bytes->assign(memory_, static_cast<std::size_t>(offset), n);
    return true;
  }
  bytes->assign(n, '\0');
  const std::int64_t got = file_.ReadAt(static_cast<std::int64_t>(offset), bytes->data(), n);
  if (got < 0) return false;
  bytes->resize(static_cast<std::size_t>(got));
  return true;
}

bool BrowseCache::Read(std::uint32_t position, BrowseEntry* entry) const {
  if (!open_ || position == 0) return false;
  const std::uint64_t offset = position - 1;
  std::string bytes;
  if (!ReadBytes(offset, kBrowseEntryHeader, &bytes)) return false;
  if (bytes.size() < kBrowseEntryHeader) return false;
  const std::size_t length = static_cast<std::uint8_t>(bytes[8]) |
                             static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[9])) << 8;
  if (!ReadBytes(offset, kBrowseEntryHeader + length, &bytes)) return false;
  return DecodeBrowseEntry(bytes, entry) == kBrowseEntryOk;
}

void BrowseCache::CloseAndDelete() {
  if (!open_) return;
  file_.Close();
  (void)DeleteFile(path_);
  open_ = false;
  in_memory_ = false;
  memory_.clear();
  lost_from_ = lost_to_ = 0;
  end_ = 0;
  last_ = 0;
}

}  // namespace kel
