// Scaling a data file's real rows to any number of records for benchmarks:
// the real records first, then copies of randomly chosen real records under
// new key-0 values, deterministic for a seed.
#ifndef KEL_TOOLS_MKINSTALL_SCALE_H_
#define KEL_TOOLS_MKINSTALL_SCALE_H_

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "tools/mkinstall/layout.h"

namespace kel {

// The bytes of key `k` of `record`: its segments, concatenated.
std::string KeyBytes(const FileLayout& layout, int k, const std::string& record);

// How many different values key 0 can take when the scaler varies it:
// text segments use the 36 characters 0-9 A-Z, digit and date segments the
// values 0..99 per byte, integer segments their non-negative values, flags
// two values, reserved bytes any byte. Saturates at 2^62.
std::uint64_t KeySpace(const FileLayout& layout);

// Checks `base` (the file's real records) before anything is written: no two
// records share a unique key 0, and `count` records fit a unique key 0's
// space. false with a message in `*error` otherwise.
[[nodiscard]] bool CheckScale(const FileLayout& layout, const std::vector<std::string>& base,
                              std::int64_t count, std::string* error);

// Produces `count` records one at a time. With `count` at most the number of
// real records, the first `count` of them; beyond, copies of real records
// picked by the seed, each under a key-0 value generated from a counter
// (starting at a point the seed picks), skipping values already taken when
// key 0 is unique. Requires a successful CheckScale with the same arguments;
// `layout` and `base` must outlive the scaler.
class RecordScaler {
 public:
  RecordScaler(const FileLayout& layout, const std::vector<std::string>& base, std::int64_t count,
               std::uint64_t seed);

  // The next record into `*record`; false when all `count` were produced.
  bool Next(std::string* record);

 private:
  std::uint64_t Random();
  void WriteKey(std::uint64_t value, std::string* record) const;

  const FileLayout& layout_;
  const std::vector<std::string>& base_;
  std::int64_t count_;
  std::int64_t produced_ = 0;
  std::uint64_t rng_state_;
  std::uint64_t space_;
  std::uint64_t counter_;
  std::unordered_set<std::string> taken_;  // key-0 values in use (unique key 0 only)
};

}  // namespace kel

#endif  // KEL_TOOLS_MKINSTALL_SCALE_H_
