// Byte-range locks on an open file, between processes and between opens of
// one process: open-file-description locks, released when the file is closed
// or its process ends. The record manager uses them on a side file to carry
// its file and record locks.
#ifndef KEL_PLATFORM_FILE_LOCK_H_
#define KEL_PLATFORM_FILE_LOCK_H_

#include <cstdint>

#include "platform/system.h"

namespace kel {

enum class LockKind { kShared, kExclusive };

// Locks `length` bytes at `offset` (length 0: to the end of all possible
// offsets). With `wait` false a conflicting lock gives kBusy at once; with
// `wait` true the call blocks until the range is free. A lock on a range this
// open already holds is converted (shared <-> exclusive).
[[nodiscard]] FileResult LockRange(File& file, std::int64_t offset, std::int64_t length,
                                   LockKind kind, bool wait);

// Releases the range (no error when nothing was locked there).
FileResult UnlockRange(File& file, std::int64_t offset, std::int64_t length);

// True when another open description holds a lock conflicting with `kind`
// on the range. Only a snapshot: the answer can change at once.
bool RangeIsLocked(File& file, std::int64_t offset, std::int64_t length, LockKind kind);

}  // namespace kel

#endif  // KEL_PLATFORM_FILE_LOCK_H_
