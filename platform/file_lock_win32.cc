// Byte-range locks on Windows: LockFileEx and UnlockFileEx. They belong to
// the handle that took them and go when it is closed or its process ends,
// like the open-file-description locks of POSIX. Two things POSIX gives
// and Windows does not are kept here per handle: a lock on a range the
// handle already holds is not taken twice (Windows would refuse a second
// exclusive lock even to its owner, and would stack shared ones), and
// changing a held lock's kind is an unlock followed by the new lock.
#include <map>
#include <vector>

#include "platform/file_lock.h"
#include "platform/win32_internal.h"

namespace kel {
namespace {

struct HeldLock {
  std::int64_t offset;
  std::int64_t length;
  LockKind kind;
};

// The locks each open handle holds. The program is single-threaded; the
// console control handler never touches files.
std::map<std::intptr_t, std::vector<HeldLock>>& HeldLocks() {
  static auto* held = new std::map<std::intptr_t, std::vector<HeldLock>>();
  return *held;
}

HeldLock* FindHeld(std::intptr_t handle, std::int64_t offset, std::int64_t length) {
  auto it = HeldLocks().find(handle);
  if (it == HeldLocks().end()) return nullptr;
  for (HeldLock& h : it->second) {
    if (h.offset == offset && h.length == length) return &h;
  }
  return nullptr;
}

void Forget(std::intptr_t handle, std::int64_t offset, std::int64_t length) {
  auto it = HeldLocks().find(handle);
  if (it == HeldLocks().end()) return;
  std::vector<HeldLock>& v = it->second;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i].offset == offset && v[i].length == length) {
      v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  if (v.empty()) HeldLocks().erase(it);
}

OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED o = {};
  o.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return o;
}

// Length 0 means every offset from `offset` on.
void SplitLength(std::int64_t length, DWORD* low, DWORD* high) {
  const std::uint64_t n = length == 0 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(length);
  *low = static_cast<DWORD>(n & 0xFFFFFFFFu);
  *high = static_cast<DWORD>(n >> 32);
}

FileResult SystemLock(std::intptr_t handle, std::int64_t offset, std::int64_t length, LockKind kind,
                      bool wait) {
  DWORD flags = kind == LockKind::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!wait) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  DWORD low = 0, high = 0;
  SplitLength(length, &low, &high);
  OVERLAPPED at = At(offset);
  if (::LockFileEx(reinterpret_cast<HANDLE>(handle), flags, 0, low, high, &at) != FALSE) {
    return FileResult::kOk;
  }
  const DWORD error = ::GetLastError();
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ||
                 error == ERROR_SHARING_VIOLATION
             ? FileResult::kBusy
             : FileResult::kIoError;
}

bool SystemUnlock(std::intptr_t handle, std::int64_t offset, std::int64_t length) {
  DWORD low = 0, high = 0;
  SplitLength(length, &low, &high);
  OVERLAPPED at = At(offset);
  return ::UnlockFileEx(reinterpret_cast<HANDLE>(handle), 0, low, high, &at) != FALSE;
}

}  // namespace

void ForgetFileLocks(std::intptr_t handle) { HeldLocks().erase(handle); }

FileResult LockRange(File& file, std::int64_t offset, std::int64_t length, LockKind kind,
                     bool wait) {
  if (!file.IsOpen()) return FileResult::kIoError;
  const std::intptr_t h = file.NativeHandle();
  if (HeldLock* held = FindHeld(h, offset, length)) {
    if (held->kind == kind) return FileResult::kOk;
    // A change of kind: the old lock goes first (Windows cannot convert
    // one); when the new one cannot be had, the old one is taken back.
    const LockKind old_kind = held->kind;
    (void)SystemUnlock(h, offset, length);
    Forget(h, offset, length);
    FileResult r = SystemLock(h, offset, length, kind, wait);
    if (r == FileResult::kOk) {
      HeldLocks()[h].push_back(HeldLock{offset, length, kind});
      return r;
    }
    if (SystemLock(h, offset, length, old_kind, false) == FileResult::kOk) {
      HeldLocks()[h].push_back(HeldLock{offset, length, old_kind});
    }
    return r;
  }
  FileResult r = SystemLock(h, offset, length, kind, wait);
  if (r == FileResult::kOk) HeldLocks()[h].push_back(HeldLock{offset, length, kind});
  return r;
}

FileResult UnlockRange(File& file, std::int64_t offset, std::int64_t length) {
  if (!file.IsOpen()) return FileResult::kIoError;
  const std::intptr_t h = file.NativeHandle();
  if (FindHeld(h, offset, length) == nullptr) return FileResult::kOk;
  Forget(h, offset, length);
  return SystemUnlock(h, offset, length) ? FileResult::kOk : FileResult::kIoError;
}

bool RangeIsLocked(File& file, std::int64_t offset, std::int64_t length, LockKind kind) {
  if (!file.IsOpen()) return false;
  const std::intptr_t h = file.NativeHandle();
  // Windows cannot be asked who holds a lock: the answer comes from trying
  // to take a lock that would conflict, and giving it back at once.
  HeldLock* held = FindHeld(h, offset, length);
  if (held != nullptr && held->kind == LockKind::kExclusive) return false;  // nobody else can
  if (held != nullptr && kind == LockKind::kShared) return false;  // shared: no exclusive other
  if (held != nullptr) {
    // This handle holds it shared and asks about others' shared locks: its
    // own lock steps aside for the test and is taken back.
    (void)SystemUnlock(h, offset, length);
    const bool free = SystemLock(h, offset, length, LockKind::kExclusive, false) == FileResult::kOk;
    if (free) (void)SystemUnlock(h, offset, length);
    if (SystemLock(h, offset, length, LockKind::kShared, false) != FileResult::kOk) {
      Forget(h, offset, length);  // taken by another meanwhile: no longer held
    }
    return !free;
  }
  if (SystemLock(h, offset, length, kind, false) != FileResult::kOk) return true;
  (void)SystemUnlock(h, offset, length);
  return false;
}

}  // namespace kel
