#include "recman/record_locks.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "platform/file_lock.h"
#include "recman/recman.h"

namespace kel {
namespace {

constexpr std::int64_t kOpenByte = 0;
constexpr std::int64_t kLockerByte = 1;
constexpr std::int64_t kRecordBase = 16;

// The record locks that the opens of this process hold, by side file and
// position. The locks themselves are the side file's; this only tells a
// wait whether the holder is of this process.
std::map<std::string, std::map<std::int64_t, const RecordLocks*>>& HeldHere() {
  static auto* held = new std::map<std::string, std::map<std::int64_t, const RecordLocks*>>();
  return *held;
}

}  // namespace

void ForgetLocalRecordLocksAfterFork() { HeldHere().clear(); }

std::string SideFilePath(const std::string& data_native_path) {
  return data_native_path + "-locks";
}

std::int16_t RecordLocks::Open(const std::string& data_native_path) {
  Close();
  // The platform opens files by their system names: give it the system's
  // spelling of the native path. A name that the code page cannot spell
  // would reach another file, so it is refused.
  const std::string native = SideFilePath(data_native_path);
  std::string system;
  if (!SystemPathOf(native, &system)) return kStatusInvalidFileName;
  switch (OpenFile(system, FileAccess::kReadWriteCreate, FileShare::kShared, &file_)) {
    case FileResult::kOk: {
      std::error_code ec;
      identity_ = std::filesystem::canonical(native, ec).string();
      if (ec) identity_ = native;
      return kStatusOk;
    }
    case FileResult::kNotFound:
      return kStatusFileNotFound;
    case FileResult::kDenied:
      return kStatusAccessDenied;
    default:
      return kStatusIoError;
  }
}

void RecordLocks::Close() {
  file_.Close();  // drops every lock of this open description
  marked_locker_ = false;
  auto file = HeldHere().find(identity_);
  if (file != HeldHere().end()) {
    std::erase_if(file->second, [this](const auto& entry) { return entry.second == this; });
    if (file->second.empty()) HeldHere().erase(file);
  }
}

std::int16_t RecordLocks::LockOpen(bool exclusive) {
  FileResult r =
      LockRange(file_, kOpenByte, 1, exclusive ? LockKind::kExclusive : LockKind::kShared,
                /*wait=*/false);
  if (r == FileResult::kOk) return kStatusOk;
  return r == FileResult::kBusy ? kStatusFileInUse : kStatusIoError;
}

std::int16_t RecordLocks::LockRecord(std::int64_t position, bool wait) {
  auto& held = HeldHere()[identity_];
  const auto holder = held.find(position);
  if (holder != held.end() && holder->second != this) return kStatusRecordLocked;
  if (!marked_locker_) {
    if (LockRange(file_, kLockerByte, 1, LockKind::kShared, false) != FileResult::kOk) {
      return kStatusIoError;
    }
    marked_locker_ = true;
  }
  FileResult r = LockRange(file_, kRecordBase + position, 1, LockKind::kExclusive, wait);
  if (r == FileResult::kOk) {
    HeldHere()[identity_][position] = this;
    return kStatusOk;
  }
  return r == FileResult::kBusy ? kStatusRecordLocked : kStatusIoError;
}

void RecordLocks::UnlockRecord(std::int64_t position) {
  (void)UnlockRange(file_, kRecordBase + position, 1);
  auto file = HeldHere().find(identity_);
  if (file != HeldHere().end()) {
    auto it = file->second.find(position);
    if (it != file->second.end() && it->second == this) file->second.erase(it);
    if (file->second.empty()) HeldHere().erase(file);
  }
}

bool RecordLocks::LockedByOther(std::int64_t position) {
  return RangeIsLocked(file_, kRecordBase + position, 1, LockKind::kExclusive);
}

bool RecordLocks::OtherLockersPresent() {
  return RangeIsLocked(file_, kLockerByte, 1, LockKind::kExclusive);
}

}  // namespace kel
