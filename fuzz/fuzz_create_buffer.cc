// Dictionaries ("ddf\NAME.xdf") and the Create buffers they hold. The first
// input byte says whether the rest is a dictionary or a bare Create buffer.
// An accepted specification must survive being written back: its Create
// buffer parses to the same buffer again, and its Stat layout can be built.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "recman/file_spec.h"
#include "tools/recutil/sequential.h"

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
    if (StrictChecks()) Require(key.number >= 0 && key.number <= 127, "a key number above 127");
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
  return 0;
}
