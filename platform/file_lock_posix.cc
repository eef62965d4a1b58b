#include <errno.h>
#include <fcntl.h>

#include <cstring>

#include "platform/file_lock.h"

namespace kel {
namespace {

struct flock MakeLock(short type, std::int64_t offset, std::int64_t length) {
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = length;
  return lock;
}

}  // namespace

FileResult LockRange(File& file, std::int64_t offset, std::int64_t length, LockKind kind,
                     bool wait) {
  if (!file.IsOpen()) return FileResult::kIoError;
  struct flock lock = MakeLock(kind == LockKind::kExclusive ? F_WRLCK : F_RDLCK, offset, length);
  for (;;) {
    if (::fcntl(static_cast<int>(file.NativeHandle()), wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) ==
        0) {
      return FileResult::kOk;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return FileResult::kBusy;
    return errno == EDEADLK ? FileResult::kBusy : FileResult::kIoError;
  }
}

FileResult UnlockRange(File& file, std::int64_t offset, std::int64_t length) {
  if (!file.IsOpen()) return FileResult::kIoError;
  struct flock lock = MakeLock(F_UNLCK, offset, length);
  return ::fcntl(static_cast<int>(file.NativeHandle()), F_OFD_SETLK, &lock) == 0
             ? FileResult::kOk
             : FileResult::kIoError;
}

bool RangeIsLocked(File& file, std::int64_t offset, std::int64_t length, LockKind kind) {
  if (!file.IsOpen()) return false;
  struct flock lock = MakeLock(kind == LockKind::kExclusive ? F_WRLCK : F_RDLCK, offset, length);
  if (::fcntl(static_cast<int>(file.NativeHandle()), F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace kel
