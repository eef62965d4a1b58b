// Dictionaries ("ddf\NAME.xdf") and the Create buffers they hold. The first
// input byte says whether the rest is a dictionary or a bare Create buffer.
// An accepted file layout must survive being written back: its Create
// buffer parses to the same buffer again, and its Stat layout can be built;
// the record manager must create a file from it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "recman/file_spec.h"
#include "recman/recman.h"
#include "tools/recutil/sequential.h"

namespace kel {
namespace {

// Create's status; what follows it only has to run without harm.
std::int16_t CreateAndUse(const std::string& buffer, const FileSpec& spec, std::string_view bytes) {
  static const std::string path = ScratchDir() + "fuzz.dat";
  std::string key(256, '\0');
  std::memcpy(key.data(), path.c_str(), path.size() + 1);
  std::uint8_t block[kPositionBlockSize];
  std::memset(block, ' ', sizeof block);
  std::string data = buffer;
  data.resize(std::max<std::size_t>(data.size(), 1536), ' ');
  auto length = static_cast<std::uint32_t>(data.size());
  const std::int16_t created = BTRCALL(kOpCreate, block, data.data(), &length, key.data(),
                                       static_cast<std::uint8_t>(path.size()), kCreateReplace);
  if (created != 0) return created;

  std::memset(block, 0, sizeof block);
  std::string owner(1, '\0');
  length = 1;
  if (BTRCALL(kOpOpen, block, owner.data(), &length, key.data(),
              static_cast<std::uint8_t>(path.size()), kOpenNormal) != 0) {
    return 0;
  }
  std::string record(spec.record_length, '\0');
  for (int copy = 0; copy < 2; ++copy) {
    for (std::size_t i = 0; i < record.size() && !bytes.empty(); ++i) {
      record[i] = bytes[(i + static_cast<std::size_t>(copy)) % bytes.size()];
    }
    data = record;
    length = static_cast<std::uint32_t>(data.size());
    (void)BTRCALL(kOpInsert, block, data.data(), &length, key.data(), 255, 0);
  }
  std::string read(8192, '\0');
  for (const KeyDef& k : spec.keys) {
    if (k.number > 127) continue;
    for (std::int16_t op : {kOpGetFirst, kOpGetNext, kOpGetLast, kOpGetPrevious}) {
      length = static_cast<std::uint32_t>(read.size());
      (void)BTRCALL(op, block, read.data(), &length, key.data(), 255,
                    static_cast<std::int8_t>(k.number));
    }
  }
  length = static_cast<std::uint32_t>(read.size());
  (void)BTRCALL(kOpStat, block, read.data(), &length, key.data(), 255, -1);
  length = 0;
  (void)BTRCALL(kOpClose, block, nullptr, &length, nullptr, 0, 0);
  return 0;
}

}  // namespace
}  // namespace kel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  FuzzInput in(data, size);
  const bool dictionary = (in.Byte() & 1) != 0;
  std::string buffer(in.Rest());
  if (dictionary) {
    std::string error;
    if (!ReadDictionary(in.Rest(), &buffer, &error)) {
      Require(!error.empty(), "a refused dictionary without a reason");
      return 0;
    }
  }
  FileSpec spec;
  if (ParseCreateBuffer(buffer.data(), buffer.size(), &spec) != 0) return 0;

  for (const KeyDef& key : spec.keys) {
    Require(spec.KeyIndex(key.number) >= 0, "a key of the file is not found by its number");
    // Callers name a key with a signed byte.
    Require(key.number >= 0 && key.number <= 127, "a key number above 127");
    for (const KeySegment& segment : key.segments) (void)SegmentTypeName(segment);
  }
  const std::string rebuilt = BuildCreateBuffer(spec);
  FileSpec again;
  Require(ParseCreateBuffer(rebuilt.data(), rebuilt.size(), &again) == 0,
          "a written-back Create buffer is refused");
  Require(BuildCreateBuffer(again) == rebuilt, "a written-back Create buffer changes");
  FileCounts counts;
  counts.records = 1;
  counts.unique_values.assign(spec.keys.size(), 1);
  (void)BuildStatBuffer(spec, counts, true);
  (void)BuildStatBuffer(spec, counts, false);

  // One input in four: the record manager creates the file from the buffer
  // and keeps two records in it (from the input's bytes), read back along
  // every key.
  if (size % 4 == 0) {
    Require(CreateAndUse(buffer, spec, in.Rest()) == 0, "an accepted Create buffer fails");
  }
  return 0;
}
