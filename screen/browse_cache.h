// The browse list's cache file (browse_list.h describes its entries): the
// lines read so far, appended in reading order and read back by position.
// When the file cannot be written (no temporary directory, disk full) the
// same bytes are kept in memory, so the list still works. Entries whose bytes
// the file no longer held when the copy was taken (another program cut it
// short) read as absent; no read ever fails in any other way.
#ifndef KEL_SCREEN_BROWSE_CACHE_H_
#define KEL_SCREEN_BROWSE_CACHE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "screen/browse_list.h"

namespace kel {

class BrowseCache {
 public:
  BrowseCache() = default;
  ~BrowseCache() { CloseAndDelete(); }
  BrowseCache(const BrowseCache&) = delete;
  BrowseCache& operator=(const BrowseCache&) = delete;

  // Creates or empties the file at `system_path`.
  void Open(std::string_view system_path);
  // Appends an entry whose previous entry is the one appended last; returns
  // its position (1-based byte position; never 0).
  std::uint32_t Append(std::int32_t record, std::string_view text);
  // Reads the entry at `position`. false when there is none there.
  bool Read(std::uint32_t position, BrowseEntry* entry) const;
  // Closes and deletes the file (nothing when not open).
  void CloseAndDelete();

  bool in_memory() const { return in_memory_; }

 private:
  bool ReadBytes(std::uint64_t offset, std::size_t n, std::string* bytes) const;

  std::string path_;
  File file_;
  bool open_ = false;
  bool in_memory_ = false;
  std::string memory_;
  // Bytes [lost_from_, lost_to_) of memory_ were missing from the file when
  // it was copied; empty when lost_from_ == lost_to_.
  std::uint64_t lost_from_ = 0;
  std::uint64_t lost_to_ = 0;
  std::uint64_t end_ = 0;   // bytes written so far
  std::uint32_t last_ = 0;  // position of the last entry; 0: none
};

}  // namespace kel

#endif  // KEL_SCREEN_BROWSE_CACHE_H_
