// Cross-process locks of one open (position block) of a data file, carried by
// open-file-description byte-range locks on a side file next to the data
// file: "<data file>-locks", empty, created on first use. Each open has its
// own open description of the side file, so locks of two opens conflict even
// within one process, and all of an open's locks go when the open is closed
// or its process dies.
//
// Side file byte ranges:
// | Offset      | Lock held                                                  |
// |-------------|------------------------------------------------------------|
// | 0           | shared by every open; exclusive by an exclusive open and   |
// |             | by Create while it replaces the file                       |
// | 1           | shared by every open that has taken a record lock          |
// | 16 + p      | exclusive by the open holding a lock on the record at p    |
#ifndef KEL_RECMAN_RECORD_LOCKS_H_
#define KEL_RECMAN_RECORD_LOCKS_H_

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace kel {

// The locks one open of a data file holds against every other open, of this
// process or another: the open lock and the record locks. All of them go
// with Close, with the open, or with the process.
class OpenLocks {
 public:
  OpenLocks() = default;
  virtual ~OpenLocks() = default;
  OpenLocks(const OpenLocks&) = delete;
  OpenLocks& operator=(const OpenLocks&) = delete;

  virtual void Close() = 0;
  // Takes the open lock: shared, or exclusive. 85 when another open
  // conflicts. Never waits.
  [[nodiscard]] virtual std::int16_t LockOpen(bool exclusive) = 0;
  // Locks the record at `position` for this open. Without `wait`, 84 when
  // another open holds it; with `wait`, blocks until it is free.
  [[nodiscard]] virtual std::int16_t LockRecord(std::int64_t position, bool wait) = 0;
  virtual void UnlockRecord(std::int64_t position) = 0;
  // True when another open holds a lock on the record at `position`.
  virtual bool LockedByOther(std::int64_t position) = 0;
  // True when some other open has ever taken a record lock and is still open.
  virtual bool OtherLockersPresent() = 0;
};

// The SQLite files' locks, on the side file.
class RecordLocks final : public OpenLocks {
 public:
  RecordLocks() = default;
  ~RecordLocks() override { Close(); }

  // Opens the side file of the data file at `data_native_path`, creating it
  // when missing. Returns 0, 11 (a path that cannot be named), 12 (missing
  // directory) or 46 (no permission).
  [[nodiscard]] std::int16_t Open(const std::string& data_native_path);
  void Close() override;
  bool IsOpen() const { return file_.IsOpen(); }

  // Takes the open lock (byte 0): shared, or exclusive. 85 when another open
  // conflicts. Never waits.
  [[nodiscard]] std::int16_t LockOpen(bool exclusive) override;

  // Locks the record at `position` for this open. Without `wait`, 84 when
  // another open holds it; with `wait`, blocks until it is free, except
  // that a record another open of this same process holds gives 84 at once
  // (nothing in the process could let it go while it waits). Also marks
  // this open as one that takes record locks (byte 1).
  [[nodiscard]] std::int16_t LockRecord(std::int64_t position, bool wait) override;
  void UnlockRecord(std::int64_t position) override;

  // True when another open holds a lock on the record at `position`.
  bool LockedByOther(std::int64_t position) override;
  // True when some other open has ever taken a record lock and is still open.
  bool OtherLockersPresent() override;

 private:
  File file_;
  bool marked_locker_ = false;
  // The side file's canonical path: what tells the opens of this process
  // on one file apart in the process's table of record locks.
  std::string identity_;
};

// The native path of the side file of a data file.
std::string SideFilePath(const std::string& data_native_path);

// After fork(): the child forgets which records its parent's opens hold
// (their locks are the parent's; the child's own wait for them must wait).
void ForgetLocalRecordLocksAfterFork();

}  // namespace kel

#endif  // KEL_RECMAN_RECORD_LOCKS_H_
