// The browse list's cache file "Browse.tmp": the whole input is the file.
// Its entries are decoded one after the other, each must encode to its own
// bytes, and the chain of previous-entry positions is followed back from
// the last entry as scrolling back follows it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "screen/browse_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<BrowseEntry> entries;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    BrowseEntry entry;
    std::size_t length = 0;
    if (DecodeBrowseEntry(bytes.substr(pos), &entry, &length) != kBrowseEntryOk) break;
    Require(length >= kBrowseEntryHeader && length <= bytes.size() - pos,
            "a browse entry longer than its bytes");
    Require(EncodeBrowseEntry(entry) == bytes.substr(pos, length),
            "a browse entry does not encode to its bytes");
    entries.push_back(entry);
    pos += length;
  }
  if (entries.empty()) return 0;
  // Back along the chain, never more steps than there are entries.
  std::uint32_t previous = entries.back().previous;
  for (std::size_t steps = 0; previous != 0 && steps < entries.size(); ++steps) {
    if (previous > bytes.size()) break;
    BrowseEntry entry;
    if (DecodeBrowseEntry(bytes.substr(previous - 1), &entry) != kBrowseEntryOk) break;
    previous = entry.previous;
  }
  return 0;
}
