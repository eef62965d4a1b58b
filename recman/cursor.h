// The engine's state behind one position block (a cursor) and the record
// operations on it: the Gets, the Steps, Get Position, Get Direct, Insert,
// Update, Delete, Stat and Unlock. Internal to the record manager.
#ifndef KEL_RECMAN_CURSOR_H_
#define KEL_RECMAN_CURSOR_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recman/record_locks.h"
#include "recman/store.h"

namespace kel {

// One data file as this process has it open: a single SQLite connection
// shared by every position block on the file, so that they see each other's
// work at once and never wait on each other.
struct SharedFile {
  std::string identity;  // canonical native path
  std::unique_ptr<Store> store;
  int opens = 0;
  // Whether writes must look for other opens' record locks, decided once
  // per write transaction (see Cursor's NeedLockChecks).
  std::uint64_t lock_check_serial = 0;
  bool lock_check = false;
};

// Where a cursor stands.
enum class Place {
  kUnpositioned,  // nothing read since Open: Next starts at the first record
  kNone,          // logical position destroyed (by a Step): Next gives 8
  kAt,            // at (key, id); the record may be gone (a gap)
  kBeforeFirst,
  kAfterLast,
};

struct Cursor {
  SharedFile* file = nullptr;
  std::unique_ptr<OpenLocks> locks;
  bool read_only = false;

  // Physical currency: the record at phys_id is current when has_current.
  Place phys = Place::kUnpositioned;
  std::int64_t phys_id = 0;
  bool has_current = false;
  // The current record's bytes as this open last read or wrote them, and
  // the store's transaction serial and write generation at that moment.
  std::string image;
  std::uint64_t image_serial = 0;
  std::uint64_t image_generation = 0;

  // Logical currency: a place on key `path` (an index into file_spec().keys).
  Place logical = Place::kUnpositioned;
  int path = -1;
  std::string path_key;  // encoded
  std::int64_t path_id = 0;

  // Record locks held by this open.
  std::int64_t single_lock = 0;
  std::vector<std::int64_t> multiple_locks;
};

// The buffers of one call.
struct CallArgs {
  int op = 0;    // without the lock bias
  int bias = 0;  // 0, 100, 200, 300 or 400
  std::uint8_t* data = nullptr;
  std::uint32_t* data_length = nullptr;
  std::uint8_t* key = nullptr;
  int key_number = 0;
};

// Runs a record operation (Gets, Steps, 22, 23, 2, 3, 4, 15, 27) on an open
// cursor. `flush_all` commits every store of the process (before a wait).
[[nodiscard]] std::int16_t RunRecordOperation(Cursor* cursor, CallArgs& args,
                                              std::int16_t (*flush_all)());

}  // namespace kel

#endif  // KEL_RECMAN_CURSOR_H_
